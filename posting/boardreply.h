#pragma once

#include <QString>

namespace Orvex {

class WarningBox;

// How a posting's outcome is read from the board's reply: by the component when it posts, and by
// whoever reads the reply back from the activity log.

// "success=1", in any letter case, as the first nine characters.
bool isSuccessReply(const QString &reply);

// The rest of the first "jobid=" token (any letter case); a double-quoted "&" does not split. A reply
// that cannot be split is reported in box and has no job id.
QString jobIdOf(const QString &reply, WarningBox &box);

// "S" with the job id, taken only after the exact action word "Add", or "F".
QString resultCode(const QString &actionType, const QString &reply, WarningBox &box);

} // namespace Orvex
