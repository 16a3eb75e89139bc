#include "warningbox.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <future>
#include <memory>

namespace Orvex {

namespace {

std::atomic<WarningBox *> installedBox = nullptr;

// A box can only be shown by the thread that owns the windows, which never waits for one to close: a
// posting on another thread hands its box over and waits, as a caller of a modal box does, until the user
// has closed it; the windows' thread serves everything else meanwhile.
class MainThreadWarningBox final : public WarningBox {
public:
    void show(const QString &title, const QString &text) override {
        auto closed = std::make_shared<std::promise<void>>();
        std::future<void> waited = closed->get_future();
        // Whichever way the hand-over ends (shown and closed, or dropped unrun as the application goes),
        // the waiting posting is let go once.
        auto release = std::shared_ptr<void>(nullptr, [closed](void *) { closed->set_value(); });
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [title, text, release]() mutable {
                if (WarningBox *box = installedBox.load())
                    box->showWithoutWaiting(title, text, [release] { Q_UNUSED(release) });
            },
            Qt::QueuedConnection);
        release.reset();
        waited.wait();
    }
};

bool onMainThread() {
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

} // namespace

void HeadlessWarningBox::show(const QString &title, const QString &text) {
    const QByteArray message = (title + QStringLiteral(": ") + text + u'\n').toLocal8Bit();
    std::fwrite(message.constData(), 1, size_t(message.size()), stderr);
    std::fflush(stderr);
}

WarningBox &processWarningBox() {
    static HeadlessWarningBox headless;
    static MainThreadWarningBox marshalled;
    WarningBox *box = installedBox.load();
    if (!box)
        return headless;
    return onMainThread() ? *box : marshalled;
}

void setProcessWarningBox(WarningBox *box) {
    installedBox = box;
}

} // namespace Orvex
