#include "inflightstatus.h"

#include <QStringList>
#include <QThread>

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
    ++m_serialInFlight;
    m_serialIsLatest = true;
    m_serialLines = QStringLiteral("Posting ") + jobCode;
    show();
}

void InFlightStatus::serialEnded(const QString &board, const QString &jobCode, bool replied) {
    remove(board, jobCode);
    --m_serialInFlight;
    // Its own lines only where they are its own and no other serial posting runs on.
    m_serialIsLatest = m_serialInFlight == 0 && m_serialLines == QStringLiteral("Posting ") + jobCode;
    if (replied && m_serialIsLatest)
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
    // A serial posting alone shows its own lines; beside any other, the counts.
    if (m_serialIsLatest && total == m_serialInFlight && total <= 1)
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
    onOwnThread([this, text] { m_status.m_window.setStatusText(text); });
}

void InFlightView::exchangeStarted(const QString &jobCode) {
    onOwnThread([this, jobCode] { m_status.serialStarted(m_board, jobCode); });
}

void InFlightView::exchangeEnded(const QString &jobCode, bool replied) {
    onOwnThread([this, jobCode, replied] { m_status.serialEnded(m_board, jobCode, replied); });
}

void InFlightView::onOwnThread(std::function<void()> change) {
    if (QThread::currentThread() == m_receiver.thread())
        change();
    else
        QMetaObject::invokeMethod(&m_receiver, std::move(change), Qt::QueuedConnection);
}

} // namespace Orvex
