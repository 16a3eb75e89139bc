#pragma once

#include "listing.h"

#include <QStringList>
#include <QTextStream>

#include <optional>

class QCommandLineOption;
class QCommandLineParser;

namespace Orvex {

struct PostOptions;

// The command-line tool orvex-postjob: post listings through the bus, preview them, write log records,
// read the postings back from the journal or the activity log.
class PostJobTool {
public:
    enum ExitStatus {
        Success = 0,
        SomeFailed = 1,
        BadInput = 2,
        SomeUnknown = 3,
        NoServer = 4,
        Interrupted = 130,
    };

    // progress: whether to keep a progress line on err (only when err is a terminal).
    PostJobTool(QTextStream &out, QTextStream &err, bool progress);

    // arguments as main() receives them, the program name first.
    int run(const QStringList &arguments);

    // For SIGINT, SIGTERM and SIGHUP; async-signal-safe. While listings are being posted the first one
    // stops the batch after the listing in progress, and a second one prints that listing as "unknown"
    // and ends the tool at once; at any other time the tool ends at once.
    static void onInterruptSignal(int signal);

private:
    struct Command {
        const char *name;
        const char *summary;
        const char *usage; // after "orvex-postjob NAME"
        int (PostJobTool::*run)(const QStringList &arguments);
    };
    static const QList<Command> &commands();
    static const Command *findCommand(const QString &name);

    // Parses a command's arguments and shows its help when asked. The exit status when that ends the
    // command (help shown, or arguments the parser refuses), else nothing.
    std::optional<int> parseCommand(QCommandLineParser &parser, const QCommandLineOption &helpOption,
                                    const QString &command, const QStringList &arguments);
    void printGlobalHelp(QTextStream &stream) const;
    int runHelp(const QStringList &arguments);
    int runPost(const QStringList &arguments);
    int runLog(const QStringList &arguments);
    int runHistory(const QStringList &arguments);
    int runConfig(const QStringList &arguments);
    // The INI file the registered server reads its settings from.
    static QString settingsFile();
    int showConfig(const QString &file);
    int setConfig(const QString &userFile, const QString &effectiveFile, const QString &key,
                  const QString &value);

    int postListings(const QList<Listing> &listings, const PostOptions &options);
    void printPreview(const QList<Listing> &listings);
    void showProgress(qsizetype index, qsizetype count, const Listing &listing);
    void clearProgress();
    int badInput(const QString &message, const QString &command);
    // Says why no object could be made: without a session bus, how to get one. Returns NoServer.
    int cannotCreate(const QString &reason);
    // The folder the registered server writes its log and journal into; empty with *error when none.
    QString componentFilesFolder(QString *error) const;

    QTextStream &m_out;
    QTextStream &m_err;
    bool m_progress;
    QString m_program;
};

} // namespace Orvex
