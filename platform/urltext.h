#pragma once

#include <QString>
#include <QStringView>

namespace Orvex {

// text with the user-info ("user:password@") taken out of every URL in it, so that no message, record or
// debug line shows a password. Works on a bare URL, a URL that does not parse, and a message quoting one.
QString withoutUserInfo(QStringView text);

} // namespace Orvex
