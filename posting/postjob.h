#pragma once

#include "componentsettings.h"
#include "hostcontext.h"
#include "journalwriter.h"
#include "listingrules.h"
#include "postingoutcome.h"
#include "postjobinterface.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace Orvex {
class AutomationError;
}

// The component's one public class: collects the fields of a listing and posts it to the board.
class PostJob final : public Orvex::PostJobInterface {
public:
    // What creation decided: the dated log file and the settings read from the component's INI file.
    PostJob(const Orvex::HostContext &host, QString logFile, Orvex::ComponentSettings settings = {});

    QString Field(const QString &FieldName, const QString &FieldValue) override;
    QString Action(const QString &ActionType) override;
    using PostJobInterface::WriteLog;
    void WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) override;

    const QString &xmlBody() const { return XmlBody; }
    const QString &jobCode() const { return JobCode; }
    const QString &logFile() const { return LogFile; }
    bool debugMode() const { return DebugMode; }
    const Orvex::ComponentSettings &settings() const { return m_settings; }
    // The settings' ImportUrl, else the built-in endpoint.
    QString endpointUrl() const;

    // The bus path the posting journal names this object by; empty for an object off the bus.
    void setObjectPath(QString objectPath) { m_objectPath = std::move(objectPath); }
    // The board the posting journal names for this object's postings; "default" unless set.
    void setBoard(QString board) { m_board = std::move(board); }
    // Whether a posting may leave only once its start row is committed and on disk (the extension calls),
    // or goes ahead without it (the type library's Action, as clients written for it expect).
    void setJournalRequired(bool required) { m_journalRequired = required; }
    // What the start row asks of the journal: with a claim, nothing leaves while the listing is in flight
    // elsewhere, or (a rerun) once it got "S" since the rerun's time.
    void setJournalClaim(const Orvex::JournalClaim &claim) { m_journalClaim = claim; }
    // What the last exchange came to, beyond its result code.
    const Orvex::PostingOutcome &lastOutcome() const { return m_lastOutcome; }

    // One try of Action, with its own log and journal lines; callSerial is the listing's, the same for
    // every try of it. For a caller that schedules the tries itself: Action is the tries and the waits.
    QString tryOnce(const QString &ActionType, quint64 callSerial);
    // The same, without waiting for the end row: recorded runs once it is committed, on the journal's
    // thread, or on this one before this returns when there is none to wait for. It must be quick.
    QString tryOnce(const QString &ActionType, quint64 callSerial, std::function<void()> recorded);
    // A try in two steps, for a caller that runs its exchange on another thread than the one that starts
    // it: beginTry hands the start row to the journal without waiting, and started runs on the journal's
    // thread with what it made of it; false, with nothing handed, when there is no journal to hand it to
    // (tryOnce then makes the whole try). finishTry is the rest of the try, as tryOnce with recorded.
    bool beginTry(const QString &ActionType, quint64 callSerial,
                  std::function<void(Orvex::JournalStart)> started);
    QString finishTry(const QString &ActionType, Orvex::JournalStart started, std::function<void()> recorded);
    // What the board's Retry-After asked of the last try, if it said anything.
    std::optional<std::chrono::milliseconds> retryAfter() const { return m_retryAfter; }
    // The listing is done with, after its last try: the fields' memory goes back.
    void endListing() { XmlBody = QString(); }

private:
    // Xml is the document's wire bytes.
    QString PostXml(const QByteArray &Xml);
    void SaveDebugCopy(QByteArray Xml);

    // The exchange, or the failure path for any error it throws.
    QString tryExchange(const QString &ActionType);
    // The wait before another try of the same listing; nothing when none may follow.
    std::optional<std::chrono::milliseconds>
    nextTryWait(int tries, std::chrono::steady_clock::time_point firstTry) const;
    // Steps of Action up to its result; any error it throws takes the failure path.
    QString exchange(const QString &ActionType);
    QString failed(const Orvex::AutomationError &error);
    void warnNotWritten(const char *what, const QString &path, const QString &why) const;
    // A try's state made fresh, and the posting journal's start row of it; nothing without a journal.
    std::optional<Orvex::JournalPosting> startTry(const QString &ActionType, quint64 callSerial);
    // The try once the journal has its start row, or could not record it: the exchange, unless the
    // posting needs the row, which it then reports missing or held back by its claim.
    QString afterStart(const QString &ActionType);
    // The failure of a posting whose start row could not be recorded: nothing goes to the board.
    QString notRecorded();
    // The failure of a posting its claim held back: nothing goes to the board.
    QString heldBack();
    void endJournalEntry(const QString &resultCode, const Orvex::AutomationError *error);

    const Orvex::HostContext &m_host;
    QString XmlBody;
    QString JobCode;
    QString LogFile;
    bool DebugMode = false;
    Orvex::ComponentSettings m_settings;
    QString m_objectPath;
    QString m_board = Orvex::ListingRules::DefaultBoardName.toString();
    Orvex::JournalStart m_journalStart;
    bool m_journalRequired = false;
    Orvex::JournalClaim m_journalClaim;
    Orvex::PostingOutcome m_lastOutcome;
    qint64 m_replyBytes = 0;
    // What the board's Retry-After asked of the last try, if it said anything.
    std::optional<std::chrono::milliseconds> m_retryAfter;
    QElapsedTimer m_exchangeTimer;
    // Set while a try hands its end row's wait to the journal.
    std::function<void()> m_recorded;
};
