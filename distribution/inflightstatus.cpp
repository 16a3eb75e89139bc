#include "inflightstatus.h"

#include "statusview.h"

#include <QStringList>

#include <algorithm>

namespace Orvex {

InFlightStatus::InFlightStatus(StatusView &window)
    : m_window(window) {}

void InFlightStatus::started(const QString &board) {
    auto entry = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                              [&](const auto &boardCount) { return boardCount.first == board; });
    if (entry == m_inFlight.end())
        m_inFlight.append({board, 1});
    else
        ++entry->second;
    show();
}

void InFlightStatus::finished(const QString &board, const QString &jobCode) {
    for (qsizetype i = 0; i < m_inFlight.size(); ++i) {
        if (m_inFlight[i].first == board && --m_inFlight[i].second == 0)
            m_inFlight.removeAt(i);
    }
    m_lastFinished = QStringLiteral("Posted %1 (%2)").arg(jobCode, board);
    show();
}

QString InFlightStatus::text() const {
    int total = 0;
    QStringList boards;
    for (const auto &[board, count] : m_inFlight) {
        total += count;
        boards.append(board + u' ' + QString::number(count));
    }
    QStringList lines;
    if (total > 0)
        lines.append(QStringLiteral("Posting %1: %2").arg(total).arg(boards.join(QStringLiteral(", "))));
    if (!m_lastFinished.isEmpty())
        lines.append(m_lastFinished);
    return lines.join(QStringLiteral("\r\n"));
}

void InFlightStatus::show() {
    m_window.setStatusText(text());
}

} // namespace Orvex
