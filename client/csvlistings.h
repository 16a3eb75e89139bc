#pragma once

#include "listing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringDecoder>

#include <array>
#include <functional>
#include <memory>

class QIODevice;

namespace Orvex {

// A listing read from a CSV file, with the physical line its record starts on (1-based), so that rows
// can be numbered by line.
struct CsvListing {
    qsizetype line = 0;
    Listing listing;
};

// How a CSV file is to be read: what the user said of it; the rest is found in the file.
struct CsvFormat {
    QString defaultAction = QStringLiteral("Add");
    // A name Qt's converters know (ICU's, such as windows-1252); empty: UTF-8. A byte order mark (UTF-8,
    // UTF-16 LE or BE) decides whatever this says.
    QString encoding;
    // 0: what a first line "sep=X" says, else a comma.
    char delimiter = 0;
};

// The delimiter a --delimiter value or a "sep=" line names: "," ";" "|" or a tab ("tab" and "\t" too);
// 0 for anything else.
char csvDelimiter(QStringView text);

// Why an encoding name cannot read a file (Qt's converters do not know it), or empty.
QString csvEncodingProblem(const QString &name);

// Reads listings from CSV (RFC 4180) fed in chunks of any size: CR LF or LF, a header row naming the
// fields in order, in the format's encoding and delimiter. A first line "sep=X", as spreadsheets write it,
// sets the delimiter and is no header. A column whose header is "Action" in any case gives each row's
// action; without one, or where its cell is empty, a row takes the default action. Blank lines are
// skipped. Every field and action passes the checks a JSON listings file's do. The first error stops the
// reader and names the line and column (in characters) where it lies and what was expected there.
class CsvListingReader {
public:
    // The largest record, in bytes of the file: a listing beyond the server's 64 MiB of document text
    // could not be posted anyway, and the cap bounds what a single record costs in memory.
    static constexpr qsizetype MaxRecordBytes = 64 * 1024 * 1024;

    explicit CsvListingReader(const CsvFormat &format = CsvFormat());
    ~CsvListingReader();

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

    bool takeByteOrderMark(QByteArrayView *chunk);
    void chooseDecoder(const QString &encoding);
    bool decode(QByteArrayView chunk);
    bool feedUtf8(QByteArrayView chunk);
    void setDelimiter(char delimiter);
    bool takeSeparatorLine(char byte);
    bool endSeparatorLine();
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
    QString delimiterName() const;
    bool fail(qsizetype line, qsizetype column, const QString &what);

    QString m_defaultAction;
    QString m_encoding;
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
    bool m_recordNeedsCheck = false;
    qsizetype m_quoteLine = 0;
    qsizetype m_quoteColumn = 0;

    State m_state = State::FieldStart;
    char m_delimiter = ',';
    // The bytes that are text and nothing else, in any cell: printable ASCII and tab, but the quote and
    // the delimiter.
    std::array<bool, 256> m_plainByte{};
    bool m_delimiterGiven = false;
    QByteArray m_bomPrefix; // the first bytes, held until it is clear whether they are a BOM
    bool m_pastBom = false;
    // Text in another encoding is read as UTF-8 converted from it; nothing while the bytes are UTF-8.
    std::unique_ptr<QStringDecoder> m_decoder;
    QString m_heldSurrogate; // a chunk's last high surrogate, until its pair comes
    // The first line's bytes, held while they may be a "sep=X" hint.
    QByteArray m_separatorLine;
    bool m_pastSeparatorLine = false;
    qsizetype m_line = 1;
    qsizetype m_nextColumn = 1;
    qsizetype m_column = 1;      // of the character the current byte belongs to
    qsizetype m_breakColumn = 1; // where the last record ended: its line break, or the file's end
    int m_utf8Pending = 0;
    unsigned char m_utf8Low = 0x80;
    unsigned char m_utf8High = 0xBF;
    bool m_failed = false;
};

// Reads every listing of a CSV file from a blocking device (a file, or standard input through QFile) in
// chunks, to its end, handing each to take as it is read. On failure returns false and sets *error
// ("line L, column C: ..."); the listings handed over before the error were well formed. copy, when given,
// gets every byte read, for a stream that cannot be read twice.
bool readCsvListings(QIODevice *device, const CsvFormat &format,
                     const std::function<void(CsvListing &&)> &take, QString *error,
                     QIODevice *copy = nullptr);

} // namespace Orvex
