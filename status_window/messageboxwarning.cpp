#include "messageboxwarning.h"

#include <QMessageBox>

namespace Orvex {

void MessageBoxWarning::show(const QString &title, const QString &text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace Orvex
