#pragma once

#include <QStringView>

// Scanning helpers shared by the readers of text settings files (INI and .reg).
namespace Orvex::TextScan {

inline bool isBlankChar(QChar c) {
    return c == u' ' || c == u'\t';
}

// The text without the spaces and tabs around it.
inline QStringView trimBlanks(QStringView text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlankChar(text.at(first)))
        ++first;
    while (last > first && isBlankChar(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

} // namespace Orvex::TextScan
