#include "warningbox.h"

#include <cstdio>

namespace Orvex {

namespace {
WarningBox *installedBox = nullptr;
}

void HeadlessWarningBox::show(const QString &title, const QString &text) {
    const QByteArray message = (title + QStringLiteral(": ") + text + u'\n').toLocal8Bit();
    std::fwrite(message.constData(), 1, size_t(message.size()), stderr);
    std::fflush(stderr);
}

WarningBox &processWarningBox() {
    static HeadlessWarningBox headless;
    return installedBox ? *installedBox : headless;
}

void setProcessWarningBox(WarningBox *box) {
    installedBox = box;
}

} // namespace Orvex
