#pragma once

#include "listing.h"

#include <QStringList>
#include <QTextStream>

#include <optional>

class QCommandLineOption;
class QCommandLineParser;

namespace Orvex {

// The command-line tool orvex-postjob: post listings through the bus, preview them, write log records,
// read the postings back from the activity log.
class PostJobTool {
public:
    enum ExitStatus { Success = 0, PostingFailed = 1, BadInput = 2, LogUnreadable = 1 };

    // progress: whether to keep a progress line on err (only when err is a terminal).
    PostJobTool(QTextStream &out, QTextStream &err, bool progress);

    // arguments as main() receives them, the program name first.
    int run(const QStringList &arguments);

    // Asks a running post to stop after the listing in progress; safe to call from a signal handler.
    static void requestStop();

private:
    // Parses a command's arguments and shows its help when asked. The exit status when that ends the
    // command (help shown, or arguments the parser refuses), else nothing.
    std::optional<int> parseCommand(QCommandLineParser &parser, const QCommandLineOption &helpOption,
                                    const QString &command, const QString &synopsis,
                                    const QStringList &arguments);
    int runPost(const QStringList &arguments);
    int runLog(const QStringList &arguments);
    int runHistory(const QStringList &arguments);
    int postListings(const QList<Listing> &listings);
    void printPreview(const QList<Listing> &listings);
    void showProgress(qsizetype index, qsizetype count, const Listing &listing);
    void clearProgress();
    int badInput(const QString &message, const QString &command);

    QTextStream &m_out;
    QTextStream &m_err;
    bool m_progress;
    QString m_program;
};

} // namespace Orvex
