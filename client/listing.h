#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace Orvex {

// One job listing as the command-line tool posts it: the action word and the fields in posting order.
struct Listing {
    QString action;
    QList<std::pair<QString, QString>> fields;

    // The value of the last "JobCode" field (exact case, as the component matches it), or empty.
    QString jobCode() const;
};

// Parses "Name=Value"; the value may itself contain "=". Returns false when there is no "=" or no name.
bool parseFieldArgument(const QString &argument, std::pair<QString, QString> *field);

// Reads a listings file: a JSON array of {"action": text, "fields": [...]}, each field either a
// [name, value] pair or {"name": .., "value": ..}; no text may hold U+0000. On failure returns an empty
// list and sets error.
QList<Listing> parseListings(const QByteArray &json, QString *error);

} // namespace Orvex
