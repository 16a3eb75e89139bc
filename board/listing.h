#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace Orvex {

// One posted listing as the board's parser reads it.
struct Listing {
    QString action;
    QList<std::pair<QString, QString>> fields; // in document order, repeats kept
    QString error;                             // why the document could not be read; empty if it could

    bool isValid() const { return error.isEmpty(); }
    // The first value of the field, if the listing has it.
    std::optional<QString> field(const QString &name) const;

    // Reads the raw bytes, so the document's own declaration decides how they decode.
    static Listing parse(const QByteArray &document);
};

} // namespace Orvex
