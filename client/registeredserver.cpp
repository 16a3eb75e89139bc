#include "registeredserver.h"

#include "identity.h"
#include "xdgfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Orvex {

namespace {

// The Exec= value of the [D-BUS Service] group.
QString execValue(const QString &serviceFile) {
    QFile file(serviceFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    bool inServiceGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(u'['))
            inServiceGroup = line == QLatin1StringView("[D-BUS Service]");
        else if (inServiceGroup && line.startsWith(QLatin1StringView("Exec=")))
            return line.mid(5).trimmed();
    }
    return QString();
}

// The program of an Exec= value: its first word, unquoted as the bus splits it.
QString execProgram(const QString &exec) {
    QString program;
    QChar quote;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quote.isNull() && c.isSpace())
            break;
        if (c == u'\\' && quote != u'\'' && i + 1 < exec.size()) {
            program += exec.at(++i);
        } else if ((c == u'"' || c == u'\'') && (quote.isNull() || quote == c)) {
            quote = quote.isNull() ? c : QChar();
        } else {
            program += c;
        }
    }
    return program;
}

} // namespace

QString registeredServerFolder(QStringList *searched) {
    const QString fileName = QLatin1StringView(Identity::ServiceName) + QStringLiteral(".service");
    const XdgFolders xdg = XdgFolders::fromEnvironment();
    for (const QString &folder : QStringList{xdg.dataHome} + xdg.dataDirs) {
        const QString serviceFile = folder + QStringLiteral("/dbus-1/services/") + fileName;
        if (searched)
            searched->append(serviceFile);
        const QString program = execProgram(execValue(serviceFile));
        if (QDir::isAbsolutePath(program))
            return QFileInfo(program).absolutePath();
    }
    return QString();
}

} // namespace Orvex
