#pragma once

#include <QList>
#include <QString>

#include <utility>

namespace Orvex {

class StatusView;

// What the status window shows while postings run side by side: how many are in flight and to which
// boards, and the last job code finished. Once none is in flight only the last one finished is left, so
// the window never shows a posting as under way that is over.
class InFlightStatus {
public:
    explicit InFlightStatus(StatusView &window);

    void started(const QString &board);
    void finished(const QString &board, const QString &jobCode);

    // "Posting 3: default 2, paris 1" then "Posted J17 (paris)"; each line only when it has something.
    QString text() const;

private:
    void show();

    StatusView &m_window;
    // Boards in the order their first posting started, each with its postings in flight.
    QList<std::pair<QString, int>> m_inFlight;
    QString m_lastFinished;
};

} // namespace Orvex
