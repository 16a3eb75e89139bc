// Creates an object of a class no server provides: the installed library must hand back its
// AutomationError across the library boundary.
#include <QCoreApplication>
#include <QTextStream>

#include <remoteerror.h>
#include <remotepostjob.h>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    try {
        Orvex::RemotePostJob job(QStringLiteral("OrvexKelPostJob.NotInstalled"));
    } catch (const Orvex::AutomationError &error) {
        out << "caught " << Orvex::describeError(error) << '\n';
        return 0;
    }
    out << "created an object of a missing class\n";
    return 1;
}
