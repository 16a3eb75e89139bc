#pragma once

#include "automationerror.h"
#include "csvlistings.h"
#include "listing.h"
#include "postrows.h"

#include <QList>
#include <QSet>

#include <chrono>
#include <deque>
#include <memory>

namespace Orvex {

class Console;
class PostCalls;
class RerunCheck;
struct CallResult;

// A board the listings go to, how many of them it takes at once, and how long the server tries each again.
struct BoardTarget {
    QString name;
    int maxInFlight = 1;
    std::chrono::seconds retryFor{0};
};

struct PostOptions {
    bool batch = false; // listings from a file
    bool json = false;
    bool force = false;
    bool resendUnknown = false;
    int sinceDays = 7;
    int maxFailures = 10; // failures in a row of one board that seems down; 0: no limit
    QList<BoardTarget> boards;
};

// The listings of one run and the number each row carries: its line in a CSV file, else its place.
class BatchListings {
public:
    explicit BatchListings(QList<Listing> listings)
        : m_listings(std::move(listings)) {}
    explicit BatchListings(CsvListings listings)
        : m_csv(std::move(listings))
        , m_isCsv(true) {}

    qsizetype size() const { return m_isCsv ? m_csv.size() : m_listings.size(); }
    Listing at(qsizetype index) const { return m_isCsv ? m_csv.at(index).listing : m_listings.at(index); }
    qsizetype number(qsizetype index) const { return m_isCsv ? m_csv.at(index).line : index + 1; }

private:
    QList<Listing> m_listings;
    CsvListings m_csv;
    bool m_isCsv = false;
};

// Posts every listing to every board, a row for each pair: plans from the journal what to post, keeps as
// many calls out as the boards take, and prints each row as it is known.
class PostBatch {
public:
    PostBatch(const BatchListings &listings, const PostOptions &options, Console &console);
    ~PostBatch();

    int run();

    // For the tool's signal handler; async-signal-safe.
    static void onInterruptSignal(int signal);

private:
    // A task is one listing to one board: listing * boards + board.
    qsizetype taskCount() const { return m_rows.size(); }
    qsizetype listingOf(qsizetype task) const { return task / m_options.boards.size(); }
    const BoardTarget &boardOf(qsizetype task) const {
        return m_options.boards.at(task % m_options.boards.size());
    }

    void makeRows();
    std::optional<int> plan();
    bool planTask(qsizetype task, const Listing &listing, RerunCheck &rerun);
    std::optional<int> checkJournal();
    void postAll();
    bool sendWhatFits();
    bool stopSending();
    void take(const CallResult &result);
    void takeError(PostRow &row, const AutomationError &error);
    void stopForJournal(PostRow &row);
    void countFailure(qsizetype board, const PostRow &row);
    void stopBoard(qsizetype board);
    void noteInFlight();
    void printRow(qsizetype task);
    void printUpTo(qsizetype task);
    void printRest();
    void markRest(const QString &note);
    void release();
    int exitStatus() const;

    const BatchListings &m_listings;
    PostOptions m_options;
    Console &m_console;
    // Where each task stands: a row is printed once, when its outcome is known.
    enum class TaskState : quint8 { LeftOut, Queued, Out, Printed };

    QList<PostRow> m_rows;
    QList<TaskState> m_states;
    QList<quint8> m_sends;
    PostRowPrinter m_printer;
    std::unique_ptr<PostCalls> m_calls;
    // Per board, the tasks still to send, in listing order; and how many of its calls are out.
    QList<std::deque<qsizetype>> m_queues;
    QList<int> m_inFlight;
    QSet<qsizetype> m_out;
    qsizetype m_printed = 0;
    int m_failures = 0;
    // Per board: failures in a row that look like it is down, and whether that stopped its listings.
    QList<int> m_failuresInARow;
    QList<bool> m_boardDown;
    bool m_anyUnknown = false;
    bool m_stopped = false; // nothing more goes to any board
    bool m_journalFailed = false;
};

} // namespace Orvex
