#pragma once

#include <QLatin1StringView>

// The posting journal of the versions before the database: a JSON Lines file a day beside the activity
// log, "OrvexKelPostJobs 2010-01-19.jsonl". Written once for every layer that finds or reads them.
namespace Orvex::JournalDayName {

inline constexpr QLatin1StringView Suffix{".jsonl"};
// A folder's days, as a file name filter.
inline constexpr QLatin1StringView Pattern{"OrvexKelPostJobs *.jsonl"};

} // namespace Orvex::JournalDayName
