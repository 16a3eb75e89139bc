#pragma once

#include <QString>

namespace FuncLib {

// Platform family prefix ("NT ", "95 " or "Win"), then major.minor: "NT 6.1". Win0.0 when the version
// cannot be read.
QString GetWinVersion();
// The suite's shared folder with a trailing separator: "Orvex" below the common data root when it
// exists, else the folder of the registered OrvexOne.exe, else the empty text.
QString GetSuiteFolder();

} // namespace FuncLib
