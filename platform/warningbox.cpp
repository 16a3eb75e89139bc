#include "warningbox.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdio>

namespace Orvex {

namespace {

std::atomic<WarningBox *> installedBox = nullptr;

// A box can only be shown by the thread that owns the windows: a posting on another thread waits there
// until the box has been closed, as a posting on the main thread would.
class MainThreadWarningBox final : public WarningBox {
public:
    void show(const QString &title, const QString &text) override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [&] {
                if (WarningBox *box = installedBox.load())
                    box->show(title, text);
            },
            Qt::BlockingQueuedConnection);
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
