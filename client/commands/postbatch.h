#pragma once

#include "automationerror.h"
#include "csvlistingfile.h"
#include "listing.h"
#include "postrerun.h"
#include "postrows.h"
#include "remotepostjob.h"

#include <QHash>
#include <QList>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace Orvex {

class Console;
class PostCalls;
class RerunCheck;
struct CallResult;

// A board the listings go to, and how long the server tries each again (for the message when it looks down).
struct BoardTarget {
    QString name;
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

// What the table must know of every listing before its first row.
struct ListingsSummary {
    qsizetype count = 0;
    qsizetype jobCodeWidth = 0;
    qsizetype withoutJobCode = 0;

    void add(const Listing &listing);
};

// The listings of one run and the number each row carries: its line in a CSV file, else its place. A CSV
// file is read again for each board as it takes its listings, so that none is held longer than its
// posting.
class BatchListings {
public:
    explicit BatchListings(QList<Listing> listings);
    BatchListings(std::unique_ptr<CsvListingFile> file, const ListingsSummary &summary);

    qsizetype size() const { return m_summary.count; }
    const ListingsSummary &summary() const { return m_summary; }

    // Reads the listings from the first, in order.
    class Cursor {
    public:
        // The next listing and its number; nothing at the end, or with *error when the file no longer
        // reads as it did.
        std::optional<std::pair<qsizetype, Listing>> next(QString *error);

    private:
        friend class BatchListings;
        const QList<Listing> *m_listings = nullptr;
        qsizetype m_index = 0;
        std::unique_ptr<CsvListingCursor> m_csv;
    };
    Cursor cursor() const;

private:
    QList<Listing> m_listings;
    std::unique_ptr<CsvListingFile> m_csv;
    ListingsSummary m_summary;
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
    // One listing to one board, from when its board reads it until its row is printed.
    struct Task {
        PostRow row;
        Listing listing;
        int sends = 0;
        bool out = false;
        QByteArray unknownLine; // its row as a second interrupt prints it, made once it is sent
    };
    // A board's listings, read as it takes them: those to send again go first.
    struct Feed {
        BatchListings::Cursor cursor;
        qsizetype read = 0;
        std::deque<qsizetype> again;
        std::optional<qsizetype> next; // read and to be sent, not yet sent
    };

    // A task is one listing to one board: listing * boards + board.
    qsizetype listingOf(qsizetype task) const { return task / m_options.boards.size(); }
    const BoardTarget &boardOf(qsizetype task) const {
        return m_options.boards.at(task % m_options.boards.size());
    }

    std::optional<int> plan();
    std::optional<qsizetype> nextTask(qsizetype board);
    qsizetype takeTask(qsizetype board);
    std::optional<qsizetype> readTask(qsizetype board);
    bool planTask(Task &task);
    void stopReading(const QString &message);
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
    void printRow(const PostRow &row);
    void printTask(qsizetype task);
    void printRest();
    qsizetype unsent(const Feed &feed) const;
    void markRest(const QString &note);
    void release();
    int exitStatus() const;

    const BatchListings &m_listings;
    PostOptions m_options;
    Console &m_console;
    PostRowPrinter m_printer;
    std::unique_ptr<PostCalls> m_calls;
    RerunCheck m_rerun;
    // The tasks read and not yet printed: out, or waiting to be sent (again).
    QHash<qsizetype, Task> m_tasks;
    std::vector<Feed> m_feeds;
    QList<int> m_inFlight;
    QString m_restNote; // why the listings not sent were not, once sending stopped
    qsizetype m_skipped = 0;
    int m_failures = 0;
    // Per board: failures in a row that look like it is down, and whether that stopped its listings.
    QList<int> m_failuresInARow;
    QList<bool> m_boardDown;
    bool m_anyUnknown = false;
    bool m_stopped = false; // nothing more goes to any board
    bool m_journalFailed = false;
    bool m_lookUps = true; // false once the journal could not be read
    // The check the server makes with each start row, so that two batches or hosts posting the same
    // file post each listing once; none with --force.
    std::optional<OncePerListing> m_once;
    bool m_planFailed = false;
    bool m_anyHeldBack = false;
};

} // namespace Orvex
