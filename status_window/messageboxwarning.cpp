#include "messageboxwarning.h"

#include <QMessageBox>

namespace Orvex {

void MessageBoxWarning::show(const QString &title, const QString &text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void MessageBoxWarning::showWithoutWaiting(const QString &title, const QString &text,
                                           std::function<void()> closed) {
    // No event loop of its own: the box lives in the application's, and goes once closed.
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (closed)
        QObject::connect(box, &QObject::destroyed, [closed = std::move(closed)] { closed(); });
    box->setWindowModality(Qt::ApplicationModal);
    box->open();
}

} // namespace Orvex
