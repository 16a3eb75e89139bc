// Appends records to one activity log through PostJob::WriteLog, as one of several server processes would.
// Usage: posting_logwriter LOGFILE WRITER COUNT

#include "clock.h"
#include "hostcontext.h"
#include "postjob.h"
#include "statusview.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

// Records need no window.
class NoStatus final : public Orvex::StatusView {
public:
    QString statusText() const override { return {}; }
    void setStatusText(const QString &) override {}
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4)
        return 2;
    const QString writer = arguments.at(2);
    const int count = arguments.at(3).toInt();

    NoStatus status;
    const Orvex::HostContext host{Orvex::ComponentFolders(QString()), Orvex::systemClock(), status, {}};
    PostJob job(host, arguments.at(1));
    // Long, multi-line records: a torn or interleaved write cannot hide.
    const QString payload(700, u'x');
    for (int i = 0; i < count; ++i) {
        job.WriteLog(QStringLiteral("writer ") + writer,
                     QStringLiteral("record %1\r\n%2").arg(i).arg(payload),
                     Orvex::Variant(QStringLiteral("\r\n")));
    }
    return 0;
}
