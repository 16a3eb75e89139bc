#include "csvlistings.h"

#include <QHash>
#include <QIODevice>

#include <utility>

namespace Orvex {

namespace {

const QByteArray ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
const QLatin1StringView ActionColumnName("Action");
// Enough to read a file in a few system calls per megabyte, small beside any record cap.
constexpr qint64 ReadChunkBytes = 64 * 1024;
// A record buffer grown past this by one long record is given back rather than kept for the next.
constexpr qsizetype KeptRecordCapacity = 1024 * 1024;

bool isContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

QString hexByte(unsigned char byte) {
    return QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

} // namespace

CsvListingReader::CsvListingReader(const QString &defaultAction)
    : m_defaultAction(defaultAction) {}

bool CsvListingReader::feed(QByteArrayView chunk) {
    if (m_failed)
        return false;
    if (!skipByteOrderMark(&chunk))
        return true; // still too few bytes to tell
    for (const char byte : chunk) {
        if (!step(byte))
            return false;
    }
    return true;
}

// True once the stream is past its start, with *chunk reduced to what follows a BOM.
bool CsvListingReader::skipByteOrderMark(QByteArrayView *chunk) {
    if (m_pastBom)
        return true;
    const qsizetype wanted = ByteOrderMark.size() - m_bomPrefix.size();
    m_bomPrefix.append(chunk->first(std::min(wanted, chunk->size())));
    *chunk = chunk->sliced(std::min(wanted, chunk->size()));
    if (ByteOrderMark.startsWith(m_bomPrefix) && m_bomPrefix.size() < ByteOrderMark.size())
        return false;
    m_pastBom = true;
    const QByteArray held = m_bomPrefix == ByteOrderMark ? QByteArray() : m_bomPrefix;
    m_bomPrefix.clear();
    for (const char byte : held) {
        if (!step(byte))
            return false;
    }
    return !m_failed;
}

bool CsvListingReader::step(char byte) {
    const auto bits = static_cast<unsigned char>(byte);
    if (m_utf8Pending > 0 && !isContinuationByte(bits)) {
        // Reported at the character cut short rather than at the byte that ends it.
        return fail(m_line, m_column,
                    QStringLiteral("a character cut short by byte 0x%1; expected the file saved as UTF-8")
                        .arg(hexByte(bits)));
    }
    if (m_utf8Pending == 0)
        m_column = m_nextColumn++;
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
    if (byte == ',' || byte == '\n' || byte == '\r')
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
    if (byte == ',' || byte == '\n' || byte == '\r')
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
    if (byte == ',' || byte == '\n' || byte == '\r')
        return endCellAt(byte);
    return fail(m_line, m_column,
                QStringLiteral("text after a closing quote; expected a comma or a line break (a quote "
                               "inside a quoted cell is written twice)"));
}

// A comma, LF or CR that ends the cell; LF ends the record too, and CR waits for its LF.
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
        return true;
    } else if (byte >= 0xC2 && byte <= 0xF4) {
        m_utf8Pending = byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
        m_utf8Low = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : 0x80;
        m_utf8High = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : 0xBF;
        return true;
    }
    return fail(
        m_line, m_column,
        QStringLiteral("byte 0x%1 is not UTF-8; expected the file saved as UTF-8").arg(hexByte(byte)));
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
                    QStringLiteral("a row of %1 cells, but the header names %2 columns; expected a comma and "
                                   "another cell")
                        .arg(m_cells.size())
                        .arg(m_names.size()));
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
        std::pair<QString, QString> field{m_names.at(i), std::move(value)};
        if (QString problem; !isWellFormedField(field, &problem))
            return fail(cell.line, cell.column, problem);
        read.listing.fields.append(std::move(field));
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
        m_pastBom = true;
        const QByteArray held = std::exchange(m_bomPrefix, QByteArray());
        if (!feed(held))
            return false;
    }
    if (m_utf8Pending > 0)
        return fail(m_line, m_column, QStringLiteral("the file ends inside a character; expected UTF-8"));
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

bool CsvListingReader::fail(qsizetype line, qsizetype column, const QString &what) {
    if (!m_failed)
        m_error = QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(what);
    m_failed = true;
    return false;
}

void CsvListings::append(const CsvListing &read) {
    if (m_entries.isEmpty()) {
        for (const auto &field : read.listing.fields)
            m_names.append(field.first);
    }
    Q_ASSERT(read.listing.fields.size() == m_names.size());
    auto action = m_actionIndex.constFind(read.listing.action);
    if (action == m_actionIndex.cend()) {
        action = m_actionIndex.insert(read.listing.action, m_actions.size());
        m_actions.append(read.listing.action);
    }
    const qsizetype start = m_values.size();
    for (const auto &field : read.listing.fields) {
        m_values += field.second.toUtf8();
        m_valueEnds.append(quint32(m_values.size() - start));
    }
    m_entries.append(Entry{read.line, start, *action});
}

CsvListing CsvListings::at(qsizetype index) const {
    const Entry &entry = m_entries.at(index);
    CsvListing read;
    read.line = entry.line;
    read.listing.action = m_actions.at(entry.action);
    read.listing.fields.reserve(m_names.size());
    quint32 from = 0;
    for (qsizetype field = 0; field < m_names.size(); ++field) {
        const quint32 to = m_valueEnds.at(index * m_names.size() + field);
        read.listing.fields.append(
            {m_names.at(field),
             to == from ? QString()
                        : QString::fromUtf8(m_values.constData() + entry.valuesStart + from, to - from)});
        from = to;
    }
    return read;
}

CsvListings readCsvListings(QIODevice *device, const QString &defaultAction, QString *error) {
    CsvListingReader reader(defaultAction);
    CsvListings listings;
    const auto keep = [&listings](const QList<CsvListing> &read) {
        for (const CsvListing &one : read)
            listings.append(one);
    };
    QByteArray chunk(ReadChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device->read(chunk.data(), chunk.size());
        if (read < 0) {
            *error = device->errorString();
            return {};
        }
        if (read == 0)
            break;
        if (!reader.feed(QByteArrayView(chunk.constData(), read))) {
            *error = reader.error();
            return {};
        }
        keep(reader.takeListings());
    }
    if (!reader.finish()) {
        *error = reader.error();
        return {};
    }
    keep(reader.takeListings());
    return listings;
}

} // namespace Orvex
