#pragma once

#include <QString>

namespace FuncLib::Detail {

// Trimming removes spaces (code 32) only; tabs, NULs and line breaks stay.
QString trimSpaces(const QString &text);

} // namespace FuncLib::Detail
