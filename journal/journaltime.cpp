#include "journaltime.h"

namespace Orvex {

namespace {

constexpr qint64 MsPerDay = 86'400'000;

struct CivilDay {
    qint64 year;
    int month;
    int day;
};

// The proleptic Gregorian date days after 1970-01-01 (Howard Hinnant's days_from_civil, inverted).
CivilDay civilDayOf(qint64 days) {
    days += 719'468;
    const qint64 era = (days >= 0 ? days : days - 146'096) / 146'097;
    const qint64 dayOfEra = days - era * 146'097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const int month = int(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Writes value as width digits, zero-padded, at out; returns where they end. A history formats a time
// for each of its rows, so no QString is grown a character at a time.
char16_t *writeDigits(char16_t *out, qint64 value, int width) {
    char16_t digits[20];
    int count = 0;
    do {
        digits[count++] = char16_t(u'0' + int(value % 10));
        value /= 10;
    } while (value > 0 && count < 20);
    for (int pad = count; pad < width; ++pad)
        *out++ = u'0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

// Appends value as width digits, zero-padded.
void appendDigits(QString &text, qint64 value, int width) {
    char16_t digits[24];
    text.append(QStringView(digits, writeDigits(digits, value, width)));
}

qint64 floorDiv(qint64 value, qint64 by) {
    return value / by - (value % by < 0 ? 1 : 0);
}

} // namespace

JournalTime::JournalTime(qint64 msecsSinceEpoch, int offsetSeconds)
    : m_localMs(msecsSinceEpoch + qint64(offsetSeconds) * 1000)
    , m_offsetSeconds(offsetSeconds) {}

JournalTime JournalTime::of(const QDateTime &time) {
    return JournalTime(time.toMSecsSinceEpoch(), time.offsetFromUtc());
}

QString JournalTime::dateText() const {
    const CivilDay civil = civilDayOf(floorDiv(m_localMs, MsPerDay));
    char16_t text[32];
    char16_t *end = writeDigits(text, civil.year, 4);
    *end++ = u'-';
    end = writeDigits(end, civil.month, 2);
    *end++ = u'-';
    end = writeDigits(end, civil.day, 2);
    return QStringView(text, end).toString();
}

QString JournalTime::clockText() const {
    const qint64 msOfDay = m_localMs - floorDiv(m_localMs, MsPerDay) * MsPerDay;
    const qint64 seconds = msOfDay / 1000;
    char16_t text[16];
    char16_t *end = writeDigits(text, seconds / 3600, 2);
    *end++ = u':';
    end = writeDigits(end, seconds / 60 % 60, 2);
    *end++ = u':';
    end = writeDigits(end, seconds % 60, 2);
    return QStringView(text, end).toString();
}

QString JournalTime::isoText() const {
    QString text = dateText() + u'T' + clockText() + u'.';
    appendDigits(text, m_localMs - floorDiv(m_localMs, 1000) * 1000, 3);
    // Always as +hh:mm, UTC included, as the journal lines of earlier versions wrote it.
    const int offset = std::abs(m_offsetSeconds);
    text += m_offsetSeconds < 0 ? u'-' : u'+';
    appendDigits(text, offset / 3600, 2);
    text += u':';
    appendDigits(text, offset / 60 % 60, 2);
    return text;
}

} // namespace Orvex
