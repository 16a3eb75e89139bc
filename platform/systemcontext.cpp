#include "systemcontext.h"

#include "registrystore.h"
#include "systeminfo.h"

namespace Orvex {

namespace {

// One thread serves every call, so a plain pointer is enough.
const SystemContext *installedContext = nullptr;

} // namespace

const SystemContext &SystemContext::current() {
    if (installedContext)
        return *installedContext;
    static RegistryStore hostRegistry = RegistryStore::host();
    static const HostSystemInfo hostSystem;
    static const SystemContext hostContext(hostRegistry, hostSystem);
    return hostContext;
}

ScopedSystemContext::ScopedSystemContext(RegistryStore &registry, const SystemInfo &system)
    : m_context(registry, system)
    , m_previous(installedContext) {
    installedContext = &m_context;
}

ScopedSystemContext::~ScopedSystemContext() {
    installedContext = m_previous;
}

} // namespace Orvex
