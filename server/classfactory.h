#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>

namespace Orvex {

class AutomationServer;

// The class object at /OrvexKelPostJob/PostJob: creates PostJob objects.
class ClassFactory final : public QObject, protected QDBusContext {
    Q_OBJECT

public:
    explicit ClassFactory(AutomationServer &server);

public Q_SLOTS:
    QDBusObjectPath CreateInstance();

private:
    AutomationServer &m_server;
};

} // namespace Orvex
