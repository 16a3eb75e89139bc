#include "errortable.h"

#include <array>

namespace Orvex {

namespace {

#define ORVEX_ERROR_ENTRY(symbol, number, description) ErrorEntry{qint32(number), #symbol, description},
constexpr std::array Entries{ORVEX_ERROR_TABLE(ORVEX_ERROR_ENTRY)};
#undef ORVEX_ERROR_ENTRY

consteval bool numbersAreUnique() {
    for (std::size_t i = 0; i < Entries.size(); ++i) {
        for (std::size_t j = i + 1; j < Entries.size(); ++j) {
            if (Entries[i].number == Entries[j].number)
                return false;
        }
    }
    return true;
}
static_assert(numbersAreUnique(), "each error number has one row");

} // namespace

std::optional<ErrorEntry> errorEntry(qint32 number) {
    for (const ErrorEntry &entry : Entries) {
        if (entry.number == number)
            return entry;
    }
    return std::nullopt;
}

QString errorName(qint32 number) {
    const QString prefix = QLatin1StringView(ErrorNamePrefix);
    const std::optional<ErrorEntry> entry = errorEntry(number);
    if (!entry)
        return prefix;
    return prefix + u'.' + QLatin1StringView(entry->symbol.data(), qsizetype(entry->symbol.size()));
}

} // namespace Orvex
