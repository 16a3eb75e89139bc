#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <utility>

namespace Orvex {

// A whole listing's fields in order, as Listing.Post takes them: a(ss), name then value.
using ListingFields = QList<std::pair<QString, QString>>;

// Makes the bus able to carry ListingFields; call before the first call that does.
void registerListingFieldsType();

} // namespace Orvex
