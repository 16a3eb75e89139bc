#pragma once

#include <QString>

// How Action reads the board's reply.
namespace Orvex {

// The board confirmed the posting: the reply begins with "success=1", any letter case.
bool isSuccessReply(const QString &reply);
// The value of the reply's first "jobid=" token, any letter case; a quoted "&" does not split.
QString jobIdOf(const QString &reply);

} // namespace Orvex
