#include "listingfields.h"

#include <QDBusMetaType>

namespace Orvex {

void registerListingFieldsType() {
    qDBusRegisterMetaType<std::pair<QString, QString>>();
    qDBusRegisterMetaType<ListingFields>();
    // Slots name the type by its alias, and the bus looks parameter types up by name.
    qRegisterMetaType<ListingFields>("Orvex::ListingFields");
}

} // namespace Orvex
