#pragma once

#include "listing.h"
#include "listingrules.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

class QIODevice;

namespace Orvex {

// A listing read from a CSV file, with the physical line its record starts on (1-based), so that rows
// can be numbered by line.
struct CsvListing {
    qsizetype line = 0;
    Listing listing;
};

// Reads listings from CSV (RFC 4180) fed in chunks of any size: UTF-8 with or without a BOM, CR LF or LF,
// a header row naming the fields in order. A column whose header is "Action" in any case gives each
// row's action; without one, or where its cell is empty, a row takes the default action. Blank lines are
// skipped. Every field and action passes the checks a JSON listings file's do. The first error stops the
// reader and names the line and column (in characters) where it lies and what was expected there.
class CsvListingReader {
public:
    // The largest record, in bytes of the file: a listing beyond the server's 64 MiB of document text
    // could not be posted anyway, and the cap bounds what a single record costs in memory.
    static constexpr qsizetype MaxRecordBytes = ListingRules::MaxListingLength;

    explicit CsvListingReader(const QString &defaultAction = QStringLiteral("Add"));

    // False once the input has proved malformed (see error()); the chunk's complete records are then
    // available from takeListings() up to the bad one.
    bool feed(QByteArrayView chunk);
    // Ends the input: the last record needs no line break. False when the input is malformed or holds
    // no listing.
    bool finish();

    // The listings completed since the last call, in file order.
    QList<CsvListing> takeListings();

    const QString &error() const { return m_error; }

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted, AfterCr };
    struct Cell {
        qsizetype offset;
        qsizetype size;
        qsizetype line;
        qsizetype column;
    };

    bool skipByteOrderMark(QByteArrayView *chunk);
    bool step(char byte);
    bool stepAtFieldStart(char byte);
    bool stepInUnquoted(char byte);
    bool stepAfterQuoteInQuoted(char byte);
    bool endCellAt(char byte);
    bool checkUtf8(unsigned char byte);
    void startCell();
    bool endCell();
    bool endRecord();
    bool readHeader();
    bool readRow();
    bool fail(qsizetype line, qsizetype column, const QString &what);

    QString m_defaultAction;
    QString m_error;
    QList<CsvListing> m_listings;
    qsizetype m_listingCount = 0;

    // The header: field names by column (shared by every listing), and the action column or -1.
    QList<QString> m_names;
    qsizetype m_actionColumn = -1;
    bool m_haveHeader = false;
    QString m_lastAction; // shared by the rows that repeat it, checked once

    // The record being read: its cells' bytes, unquoted, end to end.
    QByteArray m_record;
    QList<Cell> m_cells;
    qsizetype m_recordLine = 0;
    qsizetype m_recordBytes = 0;
    qsizetype m_quoteLine = 0;
    qsizetype m_quoteColumn = 0;

    State m_state = State::FieldStart;
    QByteArray m_bomPrefix; // the first bytes, held until it is clear whether they are a BOM
    bool m_pastBom = false;
    qsizetype m_line = 1;
    qsizetype m_nextColumn = 1;
    qsizetype m_column = 1;      // of the character the current byte belongs to
    qsizetype m_breakColumn = 1; // where the last record ended: its line break, or the file's end
    int m_utf8Pending = 0;
    unsigned char m_utf8Low = 0x80;
    unsigned char m_utf8High = 0xBF;
    bool m_failed = false;
};

// Listings read from CSV, held compactly: their values as UTF-8 end to end and the field names once, so
// a large file costs little more than its own size; each listing is made whole when asked for.
class CsvListings {
public:
    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    CsvListing at(qsizetype index) const;
    // Every listing of one reader shares its field names, in order.
    void append(const CsvListing &read);

private:
    struct Entry {
        qsizetype line;
        qsizetype valuesStart;
        qsizetype action;
    };

    QList<QString> m_names;
    QList<QString> m_actions;
    QHash<QString, qsizetype> m_actionIndex;
    QByteArray m_values;
    QList<quint32> m_valueEnds; // per field, from its listing's start; a record is far below 4 GiB
    QList<Entry> m_entries;
};

// Reads every listing of a CSV file from a blocking device (a file, or standard input through QFile) in
// chunks, to its end. On failure returns an empty list and sets
// *error ("line L, column C: ...").
CsvListings readCsvListings(QIODevice *device, const QString &defaultAction, QString *error);

} // namespace Orvex
