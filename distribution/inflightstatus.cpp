#include "inflightstatus.h"

#include <QStringList>

#include <algorithm>

namespace Orvex {

InFlightStatus::InFlightStatus(StatusView &window)
    : m_window(window) {}

void InFlightStatus::started(const QString &board) {
    add(board);
    m_serialIsLatest = false;
    show();
}

void InFlightStatus::finished(const QString &board, const QString &jobCode) {
    remove(board, jobCode);
    m_serialIsLatest = false;
    show();
}

void InFlightStatus::serialStarted(const QString &board, const QString &jobCode) {
    add(board);
    m_serialInFlight = true;
    m_serialIsLatest = true;
    m_serialLines = QStringLiteral("Posting ") + jobCode;
    show();
}

void InFlightStatus::serialEnded(const QString &board, const QString &jobCode, bool replied) {
    remove(board, jobCode);
    m_serialInFlight = false;
    m_serialIsLatest = true;
    if (replied)
        m_serialLines += QStringLiteral("\r\nPosted ") + jobCode;
    show();
}

void InFlightStatus::add(const QString &board) {
    auto entry = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                              [&](const auto &boardCount) { return boardCount.first == board; });
    if (entry == m_inFlight.end())
        m_inFlight.append({board, 1});
    else
        ++entry->second;
}

void InFlightStatus::remove(const QString &board, const QString &jobCode) {
    for (qsizetype i = 0; i < m_inFlight.size(); ++i) {
        if (m_inFlight[i].first == board && --m_inFlight[i].second == 0)
            m_inFlight.removeAt(i);
    }
    m_lastFinished = QStringLiteral("Posted %1 (%2)").arg(jobCode, board);
}

QString InFlightStatus::text() const {
    int total = 0;
    QStringList boards;
    for (const auto &[board, count] : m_inFlight) {
        total += count;
        boards.append(board + u' ' + QString::number(count));
    }
    if (m_serialIsLatest && total == int(m_serialInFlight))
        return m_serialLines;
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

InFlightView::InFlightView(InFlightStatus &status, QString board)
    : m_status(status)
    , m_board(std::move(board)) {}

QString InFlightView::statusText() const {
    return m_status.m_window.statusText();
}

void InFlightView::setStatusText(const QString &text) {
    m_status.m_window.setStatusText(text);
}

void InFlightView::exchangeStarted(const QString &jobCode) {
    m_status.serialStarted(m_board, jobCode);
}

void InFlightView::exchangeEnded(const QString &jobCode, bool replied) {
    m_status.serialEnded(m_board, jobCode, replied);
}

} // namespace Orvex
