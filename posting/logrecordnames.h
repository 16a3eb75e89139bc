#pragma once

// The names of the records the component writes into the activity log. Read back by the tool's
// history, so both sides take them from here.
namespace Orvex::LogRecordName {

inline constexpr char16_t ServerResponse[] = u"Server Response";
inline constexpr char16_t Error[] = u"Error";

} // namespace Orvex::LogRecordName
