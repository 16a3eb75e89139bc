#pragma once

#include <QDateTime>
#include <QString>

// Naming of the debug copies of posted documents.
namespace Orvex {

// Seconds since midnight as a single-precision number, to seven significant digits, with a period.
QString fineTimeText(const QTime &time);

// programFolder + "\OrvexKelPostJob yyyy-mm-dd hh-mm-ss_<fine time>.xml", all from the one moment given.
QString debugCopyPath(const QString &programFolder, const QDateTime &now);

} // namespace Orvex
