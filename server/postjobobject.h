#pragma once

#include "boardsettings.h"
#include "callqueue.h"
#include "journalstore.h"
#include "listingfieldsreader.h"
#include "postingoutcome.h"

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class PostJob;

namespace Orvex {

class AutomationServer;

// One PostJob object on the bus: _PostJob and its earlier name, dispatch by name and id, and IUnknown.
// Every call goes through the server's call queue, so PostJob is never entered twice at once: a posting
// holds the object's later calls until it is answered, and the objects of other clients go on meanwhile.
class PostJobObject final : public QObject, protected QDBusContext {
    Q_OBJECT

public:
    // boards: the boards of the INI file as creation read it, for PostToBoard.
    PostJobObject(AutomationServer &server, std::unique_ptr<PostJob> job, BoardSettings boards);
    ~PostJobObject() override;

public Q_SLOTS:
    QString Field(const QString &FieldName, const QString &FieldValue);
    QString Action(const QString &ActionType);
    void WriteLog(const QString &SubName);
    void WriteLog(const QString &SubName, const QString &Message);
    void WriteLog(const QString &SubName, const QString &Message, const QDBusVariant &AnyOther);

    QList<int> GetIDsOfNames(const QStringList &names);
    QDBusVariant Invoke(int dispid, const QVariantList &args);

    QString QueryInterface(const QString &iid);
    void Release();

    QString Post(const QString &ActionType, const Orvex::ListingFieldsReader &Fields);
    QString PostWithOutcome(const QString &ActionType, const Orvex::ListingFieldsReader &Fields,
                            int &HttpStatus, int &ErrorNumber, QString &ErrorDescription, QString &Reply);
    // Not through the call queue: several run at once, each board up to its MaxInFlight.
    QString PostToBoard(const QString &Board, const QString &ActionType,
                        const Orvex::ListingFieldsReader &Fields, int &HttpStatus, int &ErrorNumber,
                        QString &ErrorDescription, QString &Reply, QString &DeliveryClass);
    int MaxInFlight(const QString &Board);
    // The same, with the journal's check of the listing in the step of its start row.
    QString PostOnceToBoard(const QString &Board, const QString &ActionType,
                            const Orvex::ListingFieldsReader &Fields, qint64 Since, int &HttpStatus,
                            int &ErrorNumber, QString &ErrorDescription, QString &Reply,
                            QString &DeliveryClass);
    QString Journal(uint &ProcessId);
    QString JournalProblem();
    QString JournalHost();

private:
    // Field, WriteLog and the errors of Invoke: every member but Action.
    QVariantList invoke(int dispid, const QVariantList &args);
    void postToBoard(const QString &Board, const QString &ActionType,
                     const Orvex::ListingFieldsReader &Fields, const Orvex::JournalClaim &claim);
    // Who asks: the type library's Action posts without a journal row, an extension call never does.
    enum class ListingCall { TypeLibrary, Extension };
    // Action of the fields given so far, through the posting engine; answer gets what replyOf makes of the
    // outcome, or the Ended error for a posting the ending process never started.
    void postListing(ListingCall call, const QString &ActionType, const CallQueue::Answer &answer,
                     const std::function<QVariantList(const PostingOutcome &)> &replyOf);

    AutomationServer &m_server;
    std::unique_ptr<PostJob> m_job;
    BoardSettings m_boards;
};

} // namespace Orvex
