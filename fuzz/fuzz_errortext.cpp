// The error text on the bus: errorMessage() read back by parseErrorMessage(), and parseErrorMessage() on
// any text.
// Input: four bytes of error number, then description 0xFF source (UTF-8). The whole input is also
// read as an error text of its own.

#include "fuzzsupport.h"

#include "automationerror.h"
#include "buswire.h"

#include <cstring>

namespace {

using Orvex::Fuzz::require;
namespace BusWire = Orvex::BusWire;

void parseAnyText(const QString &text) {
    qint32 number = 0;
    QString source;
    QString description;
    if (!BusWire::parseErrorMessage(text, &number, &source, &description))
        return;
    // What was read, written again, reads back the same.
    const QString again = BusWire::errorMessage(Orvex::AutomationError(number, source, description));
    qint32 number2 = 0;
    QString source2;
    QString description2;
    require(BusWire::parseErrorMessage(again, &number2, &source2, &description2), "a written error reads");
    require(number2 == number && source2 == source && description2 == description,
            "reading is stable once written", text);
}

void roundTrip(qint32 number, const QString &description, const QString &source) {
    const QString text = BusWire::errorMessage(Orvex::AutomationError(number, source, description));
    qint32 parsedNumber = 0;
    QString parsedSource;
    QString parsedDescription;
    require(BusWire::parseErrorMessage(text, &parsedNumber, &parsedSource, &parsedDescription),
            "every written error reads", text);
    // A source holding the marker itself can be read two ways; the text is still read, just not alone.
    if (source.contains(QLatin1StringView(" [source: ")))
        return;
    require(parsedNumber == number && parsedSource == source && parsedDescription == description,
            "a written error reads back as it was", text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Orvex::Fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    parseAnyText(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (size < 4)
        return 0;
    qint32 number = 0;
    std::memcpy(&number, data, sizeof number);
    const QList<QByteArray> parts = Orvex::Fuzz::fields(data + 4, size - 4);
    roundTrip(number, QString::fromUtf8(parts.value(0)), QString::fromUtf8(parts.value(1)));
    return 0;
}
