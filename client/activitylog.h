#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace Orvex {

// One posting as the activity log tells it: its action record and the outcome paired with it.
struct LoggedPosting {
    enum class Outcome { Unknown, Reply, Error };

    QDateTime time; // of the action record
    QString action;
    QString jobCode;
    Outcome outcome = Outcome::Unknown;
    QString reply;            // the recorded reply, also when an error followed it
    QString errorDescription; // Outcome::Error
    qint32 errorNumber = 0;   // Outcome::Error
    QString resultCode;       // "S" and the job id, or "F"; empty while Unknown
};

// The postings of one activity log, read back from its records.
class ActivityLog {
public:
    explicit ActivityLog(const QString &text);
    // Nothing, with the reason in *error, when the file cannot be read.
    static std::optional<ActivityLog> fromFile(const QString &path, QString *error);

    const QList<LoggedPosting> &postings() const { return m_postings; }

private:
    QList<LoggedPosting> m_postings;
};

} // namespace Orvex
