#include "libpq.h"

#include <QLibrary>

namespace Orvex {

namespace {

// Loads at construction; the library stays loaded until the process ends, so the functions stay valid.
struct LoadedLibPq {
    LoadedLibPq();

    QLibrary library{QStringLiteral("pq"), 5};
    LibPq functions;
    QString why; // empty when every function was found
};

LoadedLibPq::LoadedLibPq() {
    library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library.load()) {
        why = QStringLiteral("libpq5 cannot be loaded (%1); install the package libpq5")
                  .arg(library.errorString());
        return;
    }
#define ORVEX_LIBPQ_RESOLVE(name)                                                                            \
    functions.name = reinterpret_cast<decltype(&::name)>(library.resolve(#name));                            \
    if (!functions.name) {                                                                                   \
        why = QStringLiteral("libpq has no " #name "; a newer libpq5 is needed");                            \
        return;                                                                                              \
    }
    ORVEX_LIBPQ_FUNCTIONS(ORVEX_LIBPQ_RESOLVE)
#undef ORVEX_LIBPQ_RESOLVE
}

const LoadedLibPq &libPq() {
    static const LoadedLibPq loaded;
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
