#include "postingoutcome.h"

namespace Orvex {

namespace {

struct ClassName {
    DeliveryClass deliveryClass;
    const char16_t *name;
};

constexpr ClassName ClassNames[] = {
    {DeliveryClass::Posted, u"posted"},
    {DeliveryClass::NotSent, u"notSent"},
    {DeliveryClass::Refused, u"refused"},
    {DeliveryClass::Unknown, u"unknown"},
};

} // namespace

QString deliveryClassName(DeliveryClass deliveryClass) {
    for (const ClassName &entry : ClassNames) {
        if (entry.deliveryClass == deliveryClass)
            return QString::fromUtf16(entry.name);
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<DeliveryClass> deliveryClassFromName(QStringView name) {
    for (const ClassName &entry : ClassNames) {
        if (name == QStringView(entry.name))
            return entry.deliveryClass;
    }
    return std::nullopt;
}

} // namespace Orvex
