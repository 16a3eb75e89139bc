#include "localengine.h"

#include "automationerror.h"
#include "boardsettings.h"
#include "clock.h"
#include "errortable.h"
#include "identity.h"
#include "modulehttprequest.h"
#include "postjob.h"
#include "processfiles.h"
#include "registeredserver.h"

#include <atomic>

namespace Orvex {

namespace {

std::atomic<bool> chosen = false;

// The folder of the server whose settings and files the run shares; the bus would start that server.
QString serverFolder() {
    QStringList searched;
    const QString folder = registeredServerFolder(&searched);
    if (folder.isEmpty())
        throw AutomationError(ErrorNumber::ClassNotRegistered, QString::fromUtf16(ComponentSource),
                              QStringLiteral("no registered server names the folder of its settings and "
                                             "files (looked for %1); run OrvexKelPostJob --register")
                                  .arg(searched.join(QStringLiteral(", "))));
    return folder;
}

} // namespace

bool LocalEngine::isChosen() {
    return chosen;
}

void LocalEngine::choose() {
    chosen = true;
}

LocalEngine::LocalEngine()
    : m_host{ComponentFolders(serverFolder()),
             systemClock(),
             m_statusText,
             moduleHttpRequestFactory(),
             std::make_shared<std::atomic<bool>>(false),
             nullptr,
             &m_journal}
    , m_settings(ComponentSettings::read(m_host.folders.iniFile()))
    , m_boards(BoardSettings::read(m_host.folders.iniFile(), m_settings))
    , m_logFile(activityLogFile(m_host.folders, m_host.clock))
    , m_engine(m_host, m_inFlight) {
    openJournal(m_journal, m_settings, m_host.folders.filesFolder());
}

LocalEngine::~LocalEngine() = default;

void LocalEngine::post(const QString &board, const QString &action, const ListingFields &fields,
                       const JournalClaim &claim, PostingEngine::Done done) {
    const BoardSettings::Board &target = m_boards.board(board);
    m_engine.post({target.name, target.settings, m_logFile,
                   QLatin1StringView(Identity::ObjectPathPrefix) + u'1', action,
                   [&fields](const PostingEngine::FieldSink &add) {
                       for (const auto &[name, value] : fields)
                           add(name, value);
                   },
                   claim},
                  std::move(done));
    if (!m_httpModule)
        m_httpModule.emplace();
}

void LocalEngine::writeLog(const QString &subName, const QString &message, const Variant &anyOther) {
    PostJob job(m_host, m_logFile, m_settings);
    job.WriteLog(subName, message, anyOther);
}

} // namespace Orvex
