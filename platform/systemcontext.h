#pragma once

namespace Orvex {

class RegistryStore;
class SystemInfo;

// The registry and the system that the location routines consult. The process default reads the
// registry files, uname() and the environment of the running system; a test installs its own with
// ScopedSystemContext so that the routines keep their plain signatures.
class SystemContext {
public:
    SystemContext(RegistryStore &registry, const SystemInfo &system)
        : m_registry(&registry)
        , m_system(&system) {}

    RegistryStore &registry() const { return *m_registry; }
    const SystemInfo &system() const { return *m_system; }

    // The innermost installed context, else the process default.
    static const SystemContext &current();

private:
    RegistryStore *m_registry;
    const SystemInfo *m_system;
};

// Makes a context current for its lifetime; scopes nest. The registry and system must outlive it.
class ScopedSystemContext {
public:
    ScopedSystemContext(RegistryStore &registry, const SystemInfo &system);
    ~ScopedSystemContext();
    ScopedSystemContext(const ScopedSystemContext &) = delete;
    ScopedSystemContext &operator=(const ScopedSystemContext &) = delete;

private:
    SystemContext m_context;
    const SystemContext *m_previous;
};

} // namespace Orvex
