#include "csvlistings.h"

#include <QHash>
#include <QIODevice>
#include <QStringDecoder>

#include <utility>

namespace Orvex {

namespace {

const QByteArray Utf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");
const QByteArray Utf16LeBom = QByteArrayLiteral("\xFF\xFE");
const QByteArray Utf16BeBom = QByteArrayLiteral("\xFE\xFF");
const QByteArray SeparatorHint = QByteArrayLiteral("sep=");
// "sep=X" and a CR LF, with room for a space a hand left behind.
constexpr qsizetype LongestSeparatorLine = 8;
const QLatin1StringView ActionColumnName("Action");
// What a file that is not UTF-8 needs, in every refusal of its bytes: spreadsheets write their locale's
// code page unless told otherwise.
const QLatin1StringView
    NotUtf8Remedy("expected the file saved as UTF-8, or --encoding naming the one it is in "
                  "(a spreadsheet's export is often --encoding windows-1252)");
// Enough to read a file in a few system calls per megabyte, small beside any record cap.
constexpr qint64 ReadChunkBytes = 64 * 1024;
// As many bytes as the reader is fed before its listings are handed on: a few dozen listings.
constexpr qint64 HandOnBytes = 4 * 1024;
// A record buffer grown past this by one long record is given back rather than kept for the next.
constexpr qsizetype KeptRecordCapacity = 1024 * 1024;

bool isContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

QString hexByte(unsigned char byte) {
    return QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

bool isByteOrderMarkPrefix(const QByteArray &bytes) {
    return Utf8Bom.startsWith(bytes) || Utf16LeBom.startsWith(bytes) || Utf16BeBom.startsWith(bytes);
}

// Where text holds a surrogate without its pair, or -1.
qsizetype firstLoneSurrogate(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return i;
    }
    return -1;
}

} // namespace

char csvDelimiter(QStringView text) {
    if (text == u"tab" || text == u"\\t")
        return '\t';
    if (text.size() == 1 && QStringView(u",;|\t").contains(text.front()))
        return char(text.front().unicode());
    return 0;
}

QString csvEncodingProblem(const QString &name) {
    if (QStringDecoder(name.toLatin1().constData()).isValid())
        return QString();
    return QStringLiteral("no encoding is known as \"%1\"; give --encoding a name such as windows-1252, "
                          "iso-8859-15 or utf-16")
        .arg(name);
}

CsvListingReader::CsvListingReader(const CsvFormat &format)
    : m_defaultAction(format.defaultAction)
    , m_encoding(format.encoding)
    , m_delimiterGiven(format.delimiter != 0) {
    setDelimiter(format.delimiter != 0 ? format.delimiter : ',');
}

CsvListingReader::~CsvListingReader() = default;

bool CsvListingReader::feed(QByteArrayView chunk) {
    if (m_failed)
        return false;
    if (!takeByteOrderMark(&chunk))
        return !m_failed; // still too few bytes to tell
    return m_decoder ? decode(chunk) : feedUtf8(chunk);
}

// True once the stream is past its start, with *chunk reduced to what follows a BOM and the encoding
// chosen: a BOM's, else the format's.
bool CsvListingReader::takeByteOrderMark(QByteArrayView *chunk) {
    if (m_pastBom)
        return true;
    while (!m_pastBom && !chunk->isEmpty()) {
        m_bomPrefix.append(chunk->front());
        *chunk = chunk->sliced(1);
        m_pastBom = !isByteOrderMarkPrefix(m_bomPrefix) || m_bomPrefix == Utf8Bom ||
                    m_bomPrefix == Utf16LeBom || m_bomPrefix == Utf16BeBom;
    }
    if (!m_pastBom)
        return false;
    QByteArray held = std::exchange(m_bomPrefix, QByteArray());
    QString encoding = m_encoding;
    for (const auto &[mark, name] : {std::pair{&Utf8Bom, u"UTF-8"}, std::pair{&Utf16LeBom, u"UTF-16LE"},
                                     std::pair{&Utf16BeBom, u"UTF-16BE"}}) {
        if (held == *mark) {
            encoding = QString::fromUtf16(name);
            held.clear();
        }
    }
    chooseDecoder(encoding);
    if (m_failed || held.isEmpty())
        return !m_failed;
    return m_decoder ? decode(held) : feedUtf8(held);
}

void CsvListingReader::chooseDecoder(const QString &encoding) {
    if (encoding.isEmpty())
        return;
    auto decoder = std::make_unique<QStringDecoder>(encoding.toLatin1().constData());
    if (!decoder->isValid()) {
        fail(1, 1, csvEncodingProblem(encoding));
        return;
    }
    // UTF-8 is read as it is, checked byte by byte.
    if (QLatin1StringView(decoder->name()) != QLatin1StringView("UTF-8"))
        m_decoder = std::move(decoder);
}

// Converts a chunk to UTF-8 and reads that; what the converter cannot read is refused where it lies.
bool CsvListingReader::decode(QByteArrayView chunk) {
    QString text = std::exchange(m_heldSurrogate, QString()) + m_decoder->decode(chunk);
    qsizetype bad = -1;
    if (m_decoder->hasError()) {
        // The converter leaves a substitute in the place of what it could not read: Qt's U+FFFD, ICU's
        // U+001A.
        bad = text.indexOf(QChar::ReplacementCharacter);
        const qsizetype substitute = text.indexOf(QChar(0x1A));
        if (bad < 0 || (substitute >= 0 && substitute < bad))
            bad = substitute;
        if (bad < 0)
            bad = text.size();
    } else {
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            m_heldSurrogate = text.back();
            text.chop(1);
        }
        bad = firstLoneSurrogate(text);
    }
    if (bad < 0)
        return feedUtf8(text.toUtf8());
    if (!feedUtf8(QStringView(text).first(bad).toUtf8()))
        return false;
    return fail(m_line, m_nextColumn,
                QStringLiteral("bytes that do not read as %1; expected the whole file in that encoding")
                    .arg(QLatin1StringView(m_decoder->name())));
}

bool CsvListingReader::feedUtf8(QByteArrayView chunk) {
    while (!m_pastSeparatorLine && !chunk.isEmpty()) {
        if (!takeSeparatorLine(chunk.front()))
            return false;
        chunk = chunk.sliced(1);
    }
    const char *at = chunk.data();
    const char *const end = at + chunk.size();
    while (at < end) {
        // Inside a cell, a run of ASCII that means nothing to CSV is taken whole: most of a file is.
        if (m_utf8Pending == 0 && (m_state == State::Unquoted || m_state == State::Quoted)) {
            const char *run = at;
            while (run < end && m_plainByte[static_cast<unsigned char>(*run)])
                ++run;
            const qsizetype size = run - at;
            if (size > 0 && m_recordBytes + size <= MaxRecordBytes) {
                m_record.append(at, size);
                m_recordBytes += size;
                m_nextColumn += size;
                m_column = m_nextColumn - 1;
                at = run;
                continue;
            }
        }
        if (!step(*at++))
            return false;
    }
    return true;
}

void CsvListingReader::setDelimiter(char delimiter) {
    m_delimiter = delimiter;
    for (int byte = 0; byte < 0x80; ++byte)
        m_plainByte[byte] = (byte >= 0x20 || byte == '\t') && byte != '"' && byte != delimiter;
}

// Holds the first line while it may be a "sep=X" hint (never a header: "=" is in no XML name), and reads
// it as CSV once it is not one.
bool CsvListingReader::takeSeparatorLine(char byte) {
    m_separatorLine.append(byte);
    if (m_separatorLine.size() > SeparatorHint.size())
        return byte == '\n' ? endSeparatorLine() : true;
    if (qstrnicmp(m_separatorLine.constData(), SeparatorHint.constData(), m_separatorLine.size()) == 0)
        return true;
    m_pastSeparatorLine = true;
    for (const char held : std::exchange(m_separatorLine, QByteArray())) {
        if (!step(held))
            return false;
    }
    return true;
}

bool CsvListingReader::endSeparatorLine() {
    m_pastSeparatorLine = true;
    QByteArray named = std::exchange(m_separatorLine, QByteArray()).sliced(SeparatorHint.size());
    if (named.endsWith('\n'))
        named.chop(1);
    if (named.endsWith('\r'))
        named.chop(1);
    const char delimiter = named.size() == 1 ? csvDelimiter(QString::fromLatin1(named)) : 0;
    if (delimiter == 0)
        return fail(1, SeparatorHint.size() + 1,
                    QStringLiteral("a \"sep=\" line that names no delimiter this reader takes; expected "
                                   "sep= and one of , ; | or a tab"));
    // The user's word, when given, wins over the file's hint.
    if (!m_delimiterGiven)
        setDelimiter(delimiter);
    m_line = 2;
    m_nextColumn = m_column = m_breakColumn = 1;
    return true;
}

bool CsvListingReader::step(char byte) {
    const auto bits = static_cast<unsigned char>(byte);
    if (m_utf8Pending > 0 && !isContinuationByte(bits)) {
        // Reported at the character cut short rather than at the byte that ends it.
        return fail(
            m_line, m_column,
            QStringLiteral("a character cut short by byte 0x%1; %2").arg(hexByte(bits), NotUtf8Remedy));
    }
    if (m_utf8Pending == 0)
        m_column = m_nextColumn++;
    // Plain ASCII text needs no check for what XML forbids; anything else in the record does.
    m_recordNeedsCheck =
        m_recordNeedsCheck || bits >= 0x80 || (bits < 0x20 && bits != '\t' && bits != '\r' && bits != '\n');
    if (!checkUtf8(bits))
        return false;
    if (++m_recordBytes > MaxRecordBytes) {
        return fail(m_recordLine, 1,
                    QStringLiteral("the record that starts here is longer than %1 MiB; expected a line break "
                                   "(is a quote left open?)")
                        .arg(MaxRecordBytes / (1024 * 1024)));
    }

    if (byte == '\r' || (byte == '\n' && m_state != State::AfterCr))
        m_breakColumn = m_column;

    bool ok = true;
    switch (m_state) {
    case State::FieldStart:
        ok = stepAtFieldStart(byte);
        break;
    case State::Unquoted:
        ok = stepInUnquoted(byte);
        break;
    case State::Quoted:
        if (byte == '"')
            m_state = State::QuoteInQuoted;
        else
            m_record.append(byte);
        break;
    case State::QuoteInQuoted:
        ok = stepAfterQuoteInQuoted(byte);
        break;
    case State::AfterCr:
        if (byte != '\n')
            return fail(m_line, m_column, QStringLiteral("a CR alone; expected a CR LF or LF line break"));
        m_state = State::FieldStart;
        ok = endRecord();
        break;
    }
    if (byte == '\n') {
        ++m_line;
        m_nextColumn = 1;
    }
    return ok;
}

bool CsvListingReader::stepAtFieldStart(char byte) {
    if (m_cells.isEmpty() && (byte == '\n' || byte == '\r')) {
        // A blank line, skipped as spreadsheets leave them at the end.
        if (byte != '\r')
            return endRecord();
        m_state = State::AfterCr;
        return true;
    }
    startCell();
    if (m_failed)
        return false;
    if (byte == '"') {
        m_quoteLine = m_line;
        m_quoteColumn = m_column;
        m_state = State::Quoted;
        return true;
    }
    if (byte == m_delimiter || byte == '\n' || byte == '\r')
        return endCellAt(byte);
    m_record.append(byte);
    m_state = State::Unquoted;
    return true;
}

bool CsvListingReader::stepInUnquoted(char byte) {
    if (byte == '"') {
        return fail(m_line, m_column,
                    QStringLiteral("a quote inside a cell that does not start with one; expected the whole "
                                   "cell in quotes, with each quote in it doubled"));
    }
    if (byte == m_delimiter || byte == '\n' || byte == '\r')
        return endCellAt(byte);
    m_record.append(byte);
    return true;
}

bool CsvListingReader::stepAfterQuoteInQuoted(char byte) {
    if (byte == '"') {
        m_record.append(byte);
        m_state = State::Quoted;
        return true;
    }
    if (byte == m_delimiter || byte == '\n' || byte == '\r')
        return endCellAt(byte);
    return fail(m_line, m_column,
                QStringLiteral("text after a closing quote; expected %1 or a line break (a quote inside a "
                               "quoted cell is written twice)")
                    .arg(delimiterName()));
}

// A delimiter, LF or CR that ends the cell; LF ends the record too, and CR waits for its LF.
bool CsvListingReader::endCellAt(char byte) {
    bool ok = endCell();
    m_state = byte == '\r' ? State::AfterCr : State::FieldStart;
    if (ok && byte == '\n')
        ok = endRecord();
    return ok;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool CsvListingReader::checkUtf8(unsigned char byte) {
    if (m_utf8Pending > 0) {
        if (byte >= m_utf8Low && byte <= m_utf8High) {
            --m_utf8Pending;
            m_utf8Low = 0x80;
            m_utf8High = 0xBF;
            return true;
        }
    } else if (byte < 0x80) {
        if (byte != 0 || m_decoder)
            return true;
        // Plain text holds no NUL; UTF-16 holds one beside every ASCII character.
        return fail(m_line, m_column,
                    QStringLiteral("a NUL byte; expected text (a file saved as UTF-16 without a byte order "
                                   "mark needs --encoding utf-16le or utf-16be)"));
    } else if (byte >= 0xC2 && byte <= 0xF4) {
        m_utf8Pending = byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
        m_utf8Low = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : 0x80;
        m_utf8High = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : 0xBF;
        return true;
    }
    return fail(m_line, m_column,
                QStringLiteral("byte 0x%1 is not UTF-8; %2").arg(hexByte(byte), NotUtf8Remedy));
}

void CsvListingReader::startCell() {
    if (m_cells.isEmpty())
        m_recordLine = m_line;
    if (m_haveHeader && m_cells.size() == m_names.size()) {
        fail(m_line, m_column,
             QStringLiteral("a cell beyond the %1 columns the header names; expected a line break")
                 .arg(m_names.size()));
        return;
    }
    m_cells.append(Cell{m_record.size(), 0, m_line, m_column});
}

bool CsvListingReader::endCell() {
    m_cells.last().size = m_record.size() - m_cells.last().offset;
    return true;
}

bool CsvListingReader::endRecord() {
    bool ok = true;
    if (!m_cells.isEmpty())
        ok = m_haveHeader ? readRow() : readHeader();
    m_cells.resize(0);
    if (m_record.capacity() > KeptRecordCapacity)
        m_record = QByteArray();
    else
        m_record.resize(0);
    m_recordBytes = 0;
    m_recordNeedsCheck = false;
    m_state = State::FieldStart;
    return ok;
}

bool CsvListingReader::readHeader() {
    QHash<QString, qsizetype> columns;
    for (qsizetype i = 0; i < m_cells.size(); ++i) {
        const Cell &cell = m_cells.at(i);
        const QString name = QString::fromUtf8(m_record.constData() + cell.offset, cell.size);
        if (name.isEmpty()) {
            return fail(cell.line, cell.column,
                        QStringLiteral("header cell %1 is empty; expected the name of a field").arg(i + 1));
        }
        // Matched in any case: a spreadsheet's "action" column is meant as the action, not as a field.
        if (name.compare(ActionColumnName, Qt::CaseInsensitive) == 0) {
            if (m_actionColumn >= 0) {
                return fail(cell.line, cell.column,
                            QStringLiteral("a second Action column (the first is column %1); expected one")
                                .arg(m_actionColumn + 1));
            }
            m_actionColumn = i;
        } else if (QString problem; !isWellFormedField({name, QString()}, &problem)) {
            return fail(cell.line, cell.column, QStringLiteral("header cell %1: %2").arg(i + 1).arg(problem));
        } else if (const qsizetype first = columns.value(name, -1); first >= 0) {
            return fail(cell.line, cell.column,
                        QStringLiteral("\"%1\" names a second column (the first is column %2); expected each "
                                       "field named once")
                            .arg(name)
                            .arg(first + 1));
        }
        columns.insert(name, i);
        m_names.append(name);
    }
    m_haveHeader = true;
    return true;
}

bool CsvListingReader::readRow() {
    if (m_cells.size() < m_names.size()) {
        // Reported where the record ends, which is where the missing cells were expected.
        return fail(m_line, m_breakColumn,
                    QStringLiteral("a row of %1 cells, but the header names %2 columns; expected %3 and "
                                   "another cell")
                        .arg(m_cells.size())
                        .arg(m_names.size())
                        .arg(delimiterName()));
    }
    CsvListing read;
    read.line = m_recordLine;
    read.listing.fields.reserve(m_names.size() - (m_actionColumn >= 0 ? 1 : 0));
    QString action;
    for (qsizetype i = 0; i < m_cells.size(); ++i) {
        const Cell &cell = m_cells.at(i);
        QString value =
            cell.size == 0 ? QString() : QString::fromUtf8(m_record.constData() + cell.offset, cell.size);
        if (i == m_actionColumn) {
            action = std::move(value);
            continue;
        }
        // The names passed with the header.
        if (QString problem; m_recordNeedsCheck && !isWellFormedValue(m_names.at(i), value, &problem))
            return fail(cell.line, cell.column, problem);
        read.listing.fields.append({m_names.at(i), std::move(value)});
    }

    if (action.isEmpty())
        action = m_defaultAction;
    if (action != m_lastAction || m_lastAction.isNull()) {
        if (QString problem; !isWellFormedAction(action, &problem)) {
            const bool fromCell = m_actionColumn >= 0 && m_cells.at(m_actionColumn).size > 0;
            const Cell &at = fromCell ? m_cells.at(m_actionColumn) : m_cells.first();
            return fail(
                at.line, at.column,
                QStringLiteral("the action%1 %2")
                    .arg(fromCell ? QString() : QStringLiteral(" given for rows without one"), problem));
        }
        m_lastAction = action;
    }
    // Rows that repeat an action share one copy of it.
    read.listing.action = m_lastAction;
    m_listings.append(std::move(read));
    ++m_listingCount;
    return true;
}

bool CsvListingReader::finish() {
    if (m_failed)
        return false;
    if (!m_pastBom) {
        // Too short for a BOM: read as the format says.
        m_pastBom = true;
        const QByteArray held = std::exchange(m_bomPrefix, QByteArray());
        chooseDecoder(m_encoding);
        if (m_failed || !(m_decoder ? decode(held) : feedUtf8(held)))
            return false;
    }
    if (!m_pastSeparatorLine) {
        // A file of one line: a hint without a line break, or a few bytes of CSV.
        if (m_separatorLine.size() > SeparatorHint.size()) {
            if (!endSeparatorLine())
                return false;
        } else {
            m_pastSeparatorLine = true;
            if (!feedUtf8(std::exchange(m_separatorLine, QByteArray())))
                return false;
        }
    }
    if (!m_heldSurrogate.isEmpty())
        return fail(m_line, m_nextColumn,
                    QStringLiteral("the file ends inside a character; expected it whole"));
    if (m_utf8Pending > 0)
        return fail(m_line, m_column,
                    QStringLiteral("the file ends inside a character; %1").arg(NotUtf8Remedy));
    if (m_state != State::AfterCr)
        m_breakColumn = m_column = m_nextColumn; // where the file ends, for a row found short there
    switch (m_state) {
    case State::Quoted:
        return fail(m_quoteLine, m_quoteColumn,
                    QStringLiteral("the quote that opens this cell is never closed; expected a closing quote "
                                   "before the end of the file"));
    case State::Unquoted:
    case State::QuoteInQuoted:
        if (!endCell() || !endRecord())
            return false;
        break;
    case State::FieldStart:
        // "a,b," ends with an empty cell; an empty last line ends nothing.
        if (!m_cells.isEmpty()) {
            startCell();
            if (m_failed || !endCell() || !endRecord())
                return false;
        }
        break;
    case State::AfterCr:
        if (!endRecord())
            return false;
        break;
    }
    if (!m_haveHeader)
        return fail(1, 1, QStringLiteral("the file is empty; expected a header row naming the fields"));
    if (m_listingCount == 0)
        return fail(m_line, 1, QStringLiteral("the file holds a header but no listings; expected a row"));
    return true;
}

QList<CsvListing> CsvListingReader::takeListings() {
    return std::exchange(m_listings, QList<CsvListing>());
}

QString CsvListingReader::delimiterName() const {
    switch (m_delimiter) {
    case ';':
        return QStringLiteral("a semicolon");
    case '\t':
        return QStringLiteral("a tab");
    case '|':
        return QStringLiteral("a bar");
    default:
        return QStringLiteral("a comma");
    }
}

bool CsvListingReader::fail(qsizetype line, qsizetype column, const QString &what) {
    if (!m_failed)
        m_error = QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(what);
    m_failed = true;
    return false;
}

bool readCsvListings(QIODevice *device, const CsvFormat &format,
                     const std::function<void(CsvListing &&)> &take, QString *error, QIODevice *copy) {
    CsvListingReader reader(format);
    const auto hand = [&take](QList<CsvListing> &&read) {
        for (CsvListing &one : read)
            take(std::move(one));
    };
    QByteArray chunk(ReadChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device->read(chunk.data(), chunk.size());
        if (read < 0) {
            *error = device->errorString();
            return false;
        }
        if (read == 0)
            break;
        if (copy && copy->write(chunk.constData(), read) != read) {
            *error = QStringLiteral("cannot keep a copy to read again: %1").arg(copy->errorString());
            return false;
        }
        // Handed on a few at a time, so that the listings of a chunk are never all held at once.
        for (qint64 at = 0; at < read; at += HandOnBytes) {
            const bool ok =
                reader.feed(QByteArrayView(chunk.constData() + at, std::min(HandOnBytes, read - at)));
            hand(reader.takeListings());
            if (!ok) {
                *error = reader.error();
                return false;
            }
        }
    }
    const bool ok = reader.finish();
    hand(reader.takeListings());
    if (!ok)
        *error = reader.error();
    return ok;
}

} // namespace Orvex
