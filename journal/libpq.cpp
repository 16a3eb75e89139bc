#include "libpq.h"

#include <QLibrary>

namespace Orvex {

namespace {

struct LoadedLibPq {
    LibPq functions;
    QString why; // empty when every function was found
};

LoadedLibPq loadLibPq() {
    LoadedLibPq result;
    // Never unloaded: the functions are used until the process ends.
    auto *library = new QLibrary(QStringLiteral("pq"), 5);
    library->setLoadHints(QLibrary::PreventUnloadHint);
    if (!library->load()) {
        result.why = QStringLiteral("libpq5 cannot be loaded (%1); install the package libpq5")
                         .arg(library->errorString());
        return result;
    }
#define ORVEX_LIBPQ_RESOLVE(name)                                                                            \
    result.functions.name = reinterpret_cast<decltype(&::name)>(library->resolve(#name));                    \
    if (!result.functions.name) {                                                                            \
        result.why = QStringLiteral("libpq has no " #name "; a newer libpq5 is needed");                     \
        return result;                                                                                       \
    }
    ORVEX_LIBPQ_FUNCTIONS(ORVEX_LIBPQ_RESOLVE)
#undef ORVEX_LIBPQ_RESOLVE
    return result;
}

const LoadedLibPq &libPq() {
    static const LoadedLibPq loaded = loadLibPq();
    return loaded;
}

} // namespace

const LibPq *LibPq::load(QString *why) {
    const LoadedLibPq &loaded = libPq();
    if (loaded.why.isEmpty())
        return &loaded.functions;
    if (why)
        *why = loaded.why;
    return nullptr;
}

const LibPq &LibPq::loaded() {
    Q_ASSERT(libPq().why.isEmpty());
    return libPq().functions;
}

} // namespace Orvex
