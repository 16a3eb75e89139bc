#include "listingfieldsreader.h"

#include "listingfields.h"

#include <QDBusMetaType>

namespace Orvex {

void ListingFieldsReader::readEach(const Add &add) const {
    // A copy of its own: reading detaches it, so the message's argument stays where it was.
    const QDBusArgument argument = m_argument;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString name;
        QString value;
        argument.beginStructure();
        argument >> name >> value;
        argument.endStructure();
        add(name, value);
    }
    argument.endArray();
}

void ListingFieldsReader::registerType() {
    registerListingFieldsType();
    qDBusRegisterMetaType<ListingFieldsReader>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const ListingFieldsReader &) {
    argument.beginArray(QMetaType::fromType<std::pair<QString, QString>>());
    argument.endArray();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ListingFieldsReader &reader) {
    // Kept as it is, not read: readEach reads it when the call runs.
    reader.m_argument = argument;
    return argument;
}

} // namespace Orvex
