#pragma once

#include "listing.h"
#include "postrows.h"

#include <QList>

#include <memory>

namespace Orvex {

class Console;
class RemotePostJob;

struct PostOptions {
    bool batch = false; // listings from a file
    bool json = false;
    bool force = false;
    bool resendUnknown = false;
    int sinceDays = 7;
    int maxFailures = 0; // 0: no limit
};

// Posts listings through one object, a row for each: plans from the journal what to post, posts it, and
// prints the rows in listing order as they are known.
class PostBatch {
public:
    PostBatch(const QList<Listing> &listings, const PostOptions &options, Console &console);
    ~PostBatch();

    int run();

    // For the tool's signal handler; async-signal-safe.
    static void onInterruptSignal(int signal);

private:
    QList<qsizetype> plan();
    // The outcome of one listing into its row; false when the batch must stop.
    bool post(qsizetype index);
    void postAll(const QList<qsizetype> &toPost);
    void printUpTo(qsizetype end);
    void release();
    int exitStatus() const;

    const QList<Listing> &m_listings;
    PostOptions m_options;
    Console &m_console;
    QList<PostRow> m_rows;
    PostRowPrinter m_printer;
    std::unique_ptr<RemotePostJob> m_job;
    qsizetype m_printed = 0;
    int m_failures = 0;
    bool m_anyUnknown = false;
};

} // namespace Orvex
