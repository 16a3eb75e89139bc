#include "modulelibrary.h"

#include <dlfcn.h>

namespace Orvex {

void *resolveModuleEntry(const char *moduleName, const char *entryName, QString *error) {
    // dlopen() searches the run path of its caller, this program, which names the folder of its modules;
    // a loader that called it from elsewhere (QLibrary from QtCore) would not find them. Never closed:
    // objects the module made may outlive any owner of the handle.
    const QByteArray fileName = QByteArrayLiteral(ORVEX_MODULE_PREFIX) + moduleName + ".so";
    void *module = dlopen(fileName.constData(), RTLD_LAZY | RTLD_LOCAL);
    void *entry = module ? dlsym(module, entryName) : nullptr;
    if (!entry)
        *error = QString::fromLocal8Bit(dlerror());
    return entry;
}

} // namespace Orvex
