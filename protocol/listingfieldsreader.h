#pragma once

#include <QDBusArgument>
#include <QMetaType>
#include <QString>

#include <functional>

namespace Orvex {

// The server's side of a(ss): the listing as it arrived, read one pair at a time. Qt D-Bus would decode
// the whole list before the call runs and keep it beside the message for the whole exchange; a listing
// of 64 MiB then costs another 128 MiB of decoded text. This keeps only the message.
class ListingFieldsReader {
public:
    using Add = std::function<void(const QString &name, const QString &value)>;

    // Hands each pair to add, in order; what add throws stops the reading and passes on.
    void readEach(const Add &add) const;

    // Makes the bus able to hand a(ss) to a slot that takes this type; call before serving.
    static void registerType();

private:
    friend const QDBusArgument &operator>>(const QDBusArgument &argument, ListingFieldsReader &reader);

    QDBusArgument m_argument;
};

// Only for the signature: a slot's parameter type must say what it takes on the wire.
QDBusArgument &operator<<(QDBusArgument &argument, const ListingFieldsReader &reader);
const QDBusArgument &operator>>(const QDBusArgument &argument, ListingFieldsReader &reader);

} // namespace Orvex

Q_DECLARE_METATYPE(Orvex::ListingFieldsReader)
