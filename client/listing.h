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

// False, with the reason in *error, when the field would not make a well-formed document (the board
// would refuse it): a name that is not an XML name, or a name or value holding a character XML forbids.
// U+0000, which the bus cannot carry either, is one of those.
bool isWellFormedField(const std::pair<QString, QString> &field, QString *error);

// False, with the reason in *error, when the action word is empty or holds a character XML forbids.
bool isWellFormedAction(const QString &action, QString *error);

// Reads a listings file: a JSON array of {"action": text, "fields": [...]}, each field either a
// [name, value] pair or {"name": .., "value": ..}; every field passes isWellFormedField and
// the action word holds no character XML forbids. On failure returns an empty
// list and sets error.
QList<Listing> parseListings(const QByteArray &json, QString *error);

} // namespace Orvex
