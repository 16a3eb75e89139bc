#include "listingfields.h"

#include <QDBusMetaType>

namespace Orvex {

void registerListingFieldsType() {
    qDBusRegisterMetaType<std::pair<QString, QString>>();
    qDBusRegisterMetaType<ListingFields>();
}

} // namespace Orvex
