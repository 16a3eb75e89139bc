#pragma once

#include "automationerror.h"
#include "identity.h"
#include "postjobinterface.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QList>
#include <QUuid>

#include <memory>

class OrvexKelPostJob_PostJobInterface;
class OrvexKelPostJobIUnknownInterface;

namespace Orvex {

// A PostJob object in the automation server on the bus. Creation starts the server if it is not
// running; destruction releases the object, which ends the server process (and every object in it).
// Needs a QCoreApplication. Failures throw Orvex::AutomationError as the server raised them.
//
// Field calls are pipelined: Field sends and returns at once, and Action first collects every
// outstanding Field reply, throwing the first Field error instead of posting.
class RemotePostJob final : public PostJobInterface {
public:
    // Creates by ProgID, which is the server's bus name.
    explicit RemotePostJob(const QString &progId = QString::fromLatin1(Identity::ProgId),
                           const QDBusConnection &bus = QDBusConnection::sessionBus());
    // Creates by class identifier; an identifier no server is known for fails as "Class not registered".
    explicit RemotePostJob(const QUuid &classId, const QDBusConnection &bus = QDBusConnection::sessionBus());
    ~RemotePostJob() override;

    RemotePostJob(const RemotePostJob &) = delete;
    RemotePostJob &operator=(const RemotePostJob &) = delete;

    // The ProgID registered for a class identifier, or an empty text.
    static QString progIdForClassId(const QUuid &classId);

    // Sends the field without waiting and returns the empty text; its failure surfaces at a later Field,
    // at Action or at flush().
    QString Field(const QString &FieldName, const QString &FieldValue) override;
    QString Action(const QString &ActionType) override;
    using PostJobInterface::WriteLog;
    void WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) override;

    // Waits for every queued Field call and throws the first failure among them.
    void flush();
    // Releases the object now. The server ends; later calls fail. Releasing twice does nothing.
    void release();

    bool isReleased() const { return m_released; }
    // The unique bus name of the serving process and the object's path there.
    QString serverName() const;
    QString objectPath() const;

private:
    void create(const QString &progId);
    void ensureUsable() const;
    // Throws the call's error; remembers when it shows the server has gone.
    [[noreturn]] void fail(const QDBusError &error);

    QDBusConnection m_bus;
    std::unique_ptr<OrvexKelPostJob_PostJobInterface> m_object;
    std::unique_ptr<OrvexKelPostJobIUnknownInterface> m_unknown;
    QList<QDBusPendingCall> m_pendingFields;
    bool m_released = false;
    bool m_serverGone = false;
};

} // namespace Orvex
