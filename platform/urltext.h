#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace Orvex {

// text with the user-info ("user:password@") taken out of every URL in it, so that no message, record or
// debug line shows a password. Works on a bare URL, a URL that does not parse, and a message quoting one.
QString withoutUserInfo(QStringView text);

// Why a posting cannot go to url: the request object takes only an http or https URL naming a host. The
// description quotes the URL without its user-info.
struct UrlRefusal {
    qint32 number = 0; // from the error table
    QString description;
};
std::optional<UrlRefusal> importUrlRefusal(const QString &url);

} // namespace Orvex
