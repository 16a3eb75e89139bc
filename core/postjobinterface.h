#pragma once

#include "variant.h"

#include <QString>

namespace Orvex {

// What a client sees of a PostJob object, whether in process or through the bus.
class PostJobInterface {
public:
    virtual ~PostJobInterface() = default;

    // Appends one field element to the listing; always returns the empty text.
    virtual QString Field(const QString &FieldName, const QString &FieldValue) = 0;
    // Posts the listing; "S" followed by the job id, or "F".
    virtual QString Action(const QString &ActionType) = 0;
    // Appends one record to the activity log; never fails.
    virtual void WriteLog(const QString &SubName, const QString &Message, const Variant &AnyOther) = 0;

    void WriteLog(const QString &SubName) { WriteLog(SubName, QString(), Variant(QString())); }
    void WriteLog(const QString &SubName, const QString &Message) {
        WriteLog(SubName, Message, Variant(QString()));
    }
};

} // namespace Orvex
