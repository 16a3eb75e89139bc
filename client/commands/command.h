#pragma once

#include <QString>

class QCommandLineParser;

namespace Orvex {

class Console;

// The tool's exit statuses, one meaning each.
enum ExitStatus {
    Success = 0,
    SomeFailed = 1,
    BadInput = 2,
    SomeUnknown = 3,
    NoServer = 4,
    Interrupted = 130,
};

// What a command says of itself: the tool lists, parses and helps from this alone.
struct CommandInfo {
    const char *name;
    const char *summary;
    const char *usage; // after "orvex-postjob NAME"
    const char *description;
};

// One subcommand of orvex-postjob. The tool builds the parser with the help option, lets the command
// declare its options, parses, shows help when asked and only then runs it.
class Command {
public:
    explicit Command(const CommandInfo &info)
        : m_info(info) {}
    virtual ~Command() = default;
    Command(const Command &) = delete;
    Command &operator=(const Command &) = delete;

    const CommandInfo &info() const { return m_info; }
    QString name() const { return QString::fromLatin1(m_info.name); }

    // Adds the command's options and positional arguments.
    virtual void declare(QCommandLineParser &parser) = 0;
    // The command's work on arguments the parser took; returns the exit status.
    virtual int run(const QCommandLineParser &parser, Console &console) = 0;

private:
    CommandInfo m_info;
};

} // namespace Orvex
