#include "classfactory.h"

#include "automationserver.h"
#include "orvexkelpostjobadaptor.h"

ClassFactory::ClassFactory(Orvex::AutomationServer &server)
    : m_server(server) {
    new ClassFactoryAdaptor(this);
}

QDBusObjectPath ClassFactory::CreateInstance() {
    m_server.calls().serve(*this,
                           [this] { return QVariantList{QVariant::fromValue(m_server.createObject())}; });
    return {};
}
