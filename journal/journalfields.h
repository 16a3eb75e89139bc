#pragma once

// The posting journal: beside each day's activity log, one JSON object a line (JSON Lines, UTF-8), one
// line when a posting's exchange starts and one when it ends. Unlike the log it cannot be forged by a
// board's reply, so history and the tool's resume read it. Fields are only ever added, never renamed
// or removed: the writer and every reader take the names from here.
namespace Orvex::JournalField {

inline constexpr char Event[] = "event";       // EventStart or EventEnd
inline constexpr char Time[] = "time";         // ISO 8601 with offset, to the millisecond
inline constexpr char ProcessId[] = "pid";     // the server process
inline constexpr char ObjectPath[] = "object"; // the PostJob object's bus path
inline constexpr char CallSerial[] = "call";   // counted from 1 in each server process
inline constexpr char ActionWord[] = "action";
inline constexpr char JobCode[] = "jobCode";
// End lines only.
inline constexpr char ResultCode[] = "result"; // "S" + job id, or "F"
inline constexpr char JobId[] = "jobId";
inline constexpr char HttpStatus[] = "httpStatus";             // 0 when there was no HTTP reply
inline constexpr char ErrorNumber[] = "errorNumber";           // 0 when there was no error
inline constexpr char ErrorDescription[] = "errorDescription"; // without any URL's user-info
inline constexpr char ReplyBytes[] = "replyBytes";
inline constexpr char DurationMs[] = "durationMs";
// Whether the board may have the listing: a name of deliveryClassName().
inline constexpr char DeliveryClass[] = "deliveryClass";
// The board's name: ListingRules::DefaultBoardName for [General]'s board.
inline constexpr char Board[] = "board";
// The machine that posted it (HostName=, else its own name): rows and --json only.
inline constexpr char Host[] = "host";

inline constexpr char EventStart[] = "start";
inline constexpr char EventEnd[] = "end";

} // namespace Orvex::JournalField
