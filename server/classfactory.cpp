#include "classfactory.h"

#include "automationserver.h"
#include "classfactoryadaptor.h"

namespace Orvex {

ClassFactory::ClassFactory(AutomationServer &server)
    : m_server(server) {
    new ClassFactoryAdaptor(this);
}

QDBusObjectPath ClassFactory::CreateInstance() {
    m_server.calls().serve(*this,
                           [this] { return QVariantList{QVariant::fromValue(m_server.createObject())}; });
    return {};
}

} // namespace Orvex
