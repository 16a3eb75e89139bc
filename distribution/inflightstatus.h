#pragma once

#include "statusview.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

#include <utility>

namespace Orvex {

// What the status window shows while postings run side by side: how many are in flight and to which
// boards, and the last job code finished. Once none is in flight only the last one finished is left, so
// the window never shows a posting as under way that is over. A serial posting (one of the call queue's)
// counts among them; while nothing else runs it shows its own two lines, "Posting J1" and "Posted J1".
class InFlightStatus {
public:
    explicit InFlightStatus(StatusView &window);

    void started(const QString &board);
    void finished(const QString &board, const QString &jobCode);
    // A serial posting (each object's run one at a time, several objects' side by side).
    void serialStarted(const QString &board, const QString &jobCode);
    void serialEnded(const QString &board, const QString &jobCode, bool replied);

    // "Posting 3: default 2, paris 1" then "Posted J17 (paris)"; each line only when it has something.
    QString text() const;

private:
    friend class InFlightView;

    void add(const QString &board);
    void remove(const QString &board, const QString &jobCode);
    void show();

    StatusView &m_window;
    // Boards in the order their first posting started, each with its postings in flight.
    QList<std::pair<QString, int>> m_inFlight;
    QString m_lastFinished;
    // The serial posting's own lines, shown while it is the latest news and nothing else runs.
    QString m_serialLines;
    int m_serialInFlight = 0;
    bool m_serialIsLatest = false;
};

// The status view of the serial postings (Action and the Listing calls), so that neither they nor the
// postings side by side overwrite the others' lines. Their exchanges run on the engine's threads: what they
// tell it reaches the status on the thread that made the view, in the order they told it.
class InFlightView final : public StatusView {
public:
    InFlightView(InFlightStatus &status, QString board);

    QString statusText() const override;
    // A text set directly stands until the next posting starts or ends.
    void setStatusText(const QString &text) override;
    void exchangeStarted(const QString &jobCode) override;
    void exchangeEnded(const QString &jobCode, bool replied) override;

private:
    // Runs change on the view's own thread: now, or once the thread that made it gets to it.
    void onOwnThread(std::function<void()> change);

    InFlightStatus &m_status;
    QString m_board;
    // Dropped with the view, and with it whatever it has not yet run.
    QObject m_receiver;
};

} // namespace Orvex
