#include "listing.h"

#include <QXmlStreamReader>

namespace Orvex {

std::optional<QString> Listing::field(const QString &name) const {
    for (const auto &[fieldName, value] : fields) {
        if (fieldName == name)
            return value;
    }
    return std::nullopt;
}

Listing Listing::parse(const QByteArray &document) {
    Listing listing;
    QXmlStreamReader xml(document);
    if (!xml.readNextStartElement()) {
        listing.error =
            xml.hasError() ? xml.errorString() : QStringLiteral("The document has no root element");
        return listing;
    }
    if (xml.name() != QLatin1StringView("JobPosting")) {
        listing.error = QStringLiteral("The root element is %1, not JobPosting").arg(xml.name());
        return listing;
    }
    bool actionSeen = false;
    while (xml.readNextStartElement()) {
        const QString name = xml.name().toString();
        const QString value = xml.readElementText();
        if (!actionSeen && name == QLatin1StringView("Action")) {
            listing.action = value;
            actionSeen = true;
        } else {
            listing.fields.append({name, value});
        }
    }
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        listing.error = QStringLiteral("%1 at line %2, column %3")
                            .arg(xml.errorString(), QString::number(xml.lineNumber()),
                                 QString::number(xml.columnNumber()));
    } else if (!actionSeen) {
        listing.error = QStringLiteral("The document has no Action element");
    }
    return listing;
}

} // namespace Orvex
