#pragma once

#include "boardsettings.h"
#include "componentfolders.h"
#include "hostcontext.h"
#include "inflightstatus.h"
#include "journalwriter.h"
#include "listingfields.h"
#include "modulehttprequest.h"
#include "postingengine.h"
#include "statusview.h"
#include "variant.h"

#include <QString>

#include <optional>

namespace Orvex {

// The server's posting engine in the tool's own process, for a run where no session bus answers (cron,
// ssh, a service account): the registered server's settings, journal, activity log and rules, without a
// bus or a server process. The engine's own work runs on this thread's event loop.
class LocalEngine {
public:
    // Whether this run posts in its own process; main decides once, before any command runs.
    static bool isChosen();
    static void choose();

    // Reads the settings and opens the journal, as the server does for a new object. Throws
    // AutomationError when no registered server names the folder of its files.
    LocalEngine();
    // Waits for the exchanges in flight; the journal is written to the end.
    ~LocalEngine();
    LocalEngine(const LocalEngine &) = delete;
    LocalEngine &operator=(const LocalEngine &) = delete;

    // Posts the listing to the board of the settings by name, as the server's PostToBoard (or, with a
    // claim, PostOnceToBoard) does; done follows on this thread. Throws AutomationError for a board the
    // settings do not know or cannot use.
    void post(const QString &board, const QString &action, const ListingFields &fields,
              const JournalClaim &claim, PostingEngine::Done done);
    // How many postings the board of the settings by name runs at once; throws as post() does.
    int maxInFlight(const QString &board) const { return m_boards.board(board).settings.maxInFlight; }
    // Why the journal cannot be written, or empty while it can.
    QString journalProblem() const { return m_journal.problem(); }
    // One record into the activity log, as the server's WriteLog writes it.
    void writeLog(const QString &subName, const QString &message, const Variant &anyOther);

private:
    StatusText m_statusText;
    InFlightStatus m_inFlight{m_statusText};
    JournalWriter m_journal;
    HostContext m_host;
    // Read once, as the server reads them for each object.
    ComponentSettings m_settings;
    BoardSettings m_boards;
    QString m_logFile;
    // Goes before the members above, once its exchanges have returned.
    PostingEngine m_engine;
    // Loads libcurl while the first posting's start row is written. Made once the engine's threads are:
    // a thread made while the loader works waits for it.
    std::optional<HttpModulePreload> m_httpModule;
};

} // namespace Orvex
