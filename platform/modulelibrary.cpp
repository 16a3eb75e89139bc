#include "modulelibrary.h"

#include <QStringList>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace Orvex {

namespace {

struct FreeDeleter {
    void operator()(void *memory) const { std::free(memory); }
};

// The folders the loader searches for a library of this program, in its order: LD_LIBRARY_PATH, the
// program's run path (which names the folder of its modules), the system's. Asked of the loader rather
// than left to dlopen() with a bare name, because that search follows the run path of dlopen()'s caller,
// which an interposer (a sanitizer's runtime, a preloaded library) replaces.
QList<QByteArray> librarySearchPath() {
    void *program = dlopen(nullptr, RTLD_LAZY);
    Dl_serinfo size;
    if (!program || dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0)
        return {};
    const std::unique_ptr<Dl_serinfo, FreeDeleter> info(
        static_cast<Dl_serinfo *>(std::malloc(size.dls_size)));
    if (!info || dlinfo(program, RTLD_DI_SERINFOSIZE, info.get()) != 0 ||
        dlinfo(program, RTLD_DI_SERINFO, info.get()) != 0)
        return {};
    QList<QByteArray> folders;
    for (unsigned int i = 0; i < info->dls_cnt; ++i) {
        // An empty entry stands for the working folder, which is no place to load code from.
        if (info->dls_serpath[i].dls_name[0] != '\0')
            folders.append(QByteArray(info->dls_serpath[i].dls_name));
    }
    return folders;
}

} // namespace

void *resolveModuleEntry(const char *moduleName, const char *entryName, QString *error) {
    const QByteArray fileName = QByteArrayLiteral(ORVEX_MODULE_PREFIX) + moduleName + ".so";
    for (const QByteArray &folder : librarySearchPath()) {
        const QByteArray path = folder + '/' + fileName;
        if (access(path.constData(), F_OK) != 0)
            continue;
        // Never closed: objects the module made may outlive any owner of the handle.
        void *module = dlopen(path.constData(), RTLD_LAZY | RTLD_LOCAL);
        void *entry = module ? dlsym(module, entryName) : nullptr;
        if (!entry)
            *error = QString::fromLocal8Bit(dlerror());
        return entry;
    }
    *error =
        QStringLiteral("%1 is in none of the program's library folders").arg(QString::fromLatin1(fileName));
    return nullptr;
}

} // namespace Orvex
