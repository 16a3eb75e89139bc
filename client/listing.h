#pragma once

#include "readablefile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
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
// The same for the value alone, of a field whose name has passed.
bool isWellFormedValue(const QString &name, const QString &value, QString *error);

// False, with the reason in *error, when the action word is empty or holds a character XML forbids.
bool isWellFormedAction(const QString &action, QString *error);

// Far more listings than a batch holds, and small enough that parsing them stays within a few hundred MiB.
constexpr ReadLimit ListingsFileLimit{32 * 1024 * 1024, "listings file"};

// The bytes of a listings file ("-": standard input), up to ListingsFileLimit; nothing, with the file
// and why in *error, for a file that is missing, no regular file, or larger.
std::optional<QByteArray> readListingsFile(const QString &path, QString *error);

// Reads a listings file: a JSON array of {"action": text, "fields": [...]}, each field either a
// [name, value] pair or {"name": .., "value": ..}; every field passes isWellFormedField and
// the action word holds no character XML forbids. On failure returns an empty
// list and sets error.
QList<Listing> parseListings(const QByteArray &json, QString *error);

} // namespace Orvex
