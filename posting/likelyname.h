#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Orvex {

// The name of names a mistyped one most likely meant, for "did you mean" in messages about keys and boards;
// nothing when none is that close. Letter case and separators (_ - . space) do not count; a swapped pair
// of neighbours, a letter left out, added or wrong are a slip each, and a longer name may take more of
// them, so that a short unrelated name is never taken for another.
std::optional<QString> likelyName(QStringView typed, const QStringList &names);

} // namespace Orvex
