#pragma once

#include <QString>

namespace Orvex {

// The parts of the server that pull in large libraries (the window system; libcurl with its TLS and
// authentication libraries) live in modules loaded only once they are needed: a server that the bus
// starts for a single call answers it without mapping and relocating libraries it may never use.

// The entry point entryName of the module moduleName, found where the loader would look for a library of
// the program: through its run path, rewritten on install. The module stays loaded for the life of the
// process. nullptr, with the reason in *error, when the module or its
// entry cannot be found.
void *resolveModuleEntry(const char *moduleName, const char *entryName, QString *error);

template<typename Function>
Function *moduleEntry(const char *moduleName, const char *entryName, QString *error) {
    return reinterpret_cast<Function *>(resolveModuleEntry(moduleName, entryName, error));
}

} // namespace Orvex
