#pragma once

#include <QString>

// Registry access and the well-known folders of the user and of all users.
namespace RegFuncs {

// Text up to, not including, its first NUL.
QString TrimAtNull(const QString &Text);

} // namespace RegFuncs
