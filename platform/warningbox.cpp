#include "warningbox.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdio>

namespace Orvex {

namespace {

std::atomic<WarningBox *> installedBox = nullptr;

// A box can only be shown by the thread that owns the windows, which never waits for one to close: a
// posting on another thread hands its box over and goes on, and the box stays until the user closes it.
class MainThreadWarningBox final : public WarningBox {
public:
    void show(const QString &title, const QString &text) override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [title, text] {
                if (WarningBox *box = installedBox.load())
                    box->showWithoutWaiting(title, text);
            },
            Qt::QueuedConnection);
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
