#pragma once

#include "command.h"
#include "listing.h"
#include "postbatch.h"

#include <QCommandLineOption>

#include <optional>

namespace Orvex {

// post: one listing from the command line, or the listings of a file, through the server.
class PostCommand : public Command {
public:
    PostCommand();
    void declare(QCommandLineParser &parser) override;
    int run(const QCommandLineParser &parser, Console &console) override;

    // For SIGINT, SIGTERM and SIGHUP; async-signal-safe.
    static void onInterruptSignal(int signal);

private:
    // The options' numbers and flags; nothing, with *error, for a value out of range.
    std::optional<PostOptions> optionsOf(const QCommandLineParser &parser, QString *error) const;
    std::optional<BatchListings> listingsOf(const QCommandLineParser &parser, QString *error) const;
    std::optional<BatchListings> listingsOfFile(const QCommandLineParser &parser, QString *error) const;
    // A CSV file checked whole in the encoding and with the delimiter given.
    std::optional<BatchListings> csvListingsOf(const QCommandLineParser &parser, QString *error) const;
    // The boards named, each with how many listings it takes at once; nothing, with *error, for a name
    // the settings do not know.
    std::optional<QList<BoardTarget>> boardsOf(const QCommandLineParser &parser, QString *error) const;
    std::optional<Listing> listingOfArguments(const QCommandLineParser &parser, QString *error) const;
    // The settings the server will read, checked before anything is posted; the exit status when they
    // stop the command.
    static std::optional<int> checkSettings(Console &console);
    static void printPreview(const BatchListings &listings, Console &console);

    const QCommandLineOption m_action;
    const QCommandLineOption m_field;
    const QCommandLineOption m_file;
    const QCommandLineOption m_preview;
    const QCommandLineOption m_json;
    const QCommandLineOption m_since;
    const QCommandLineOption m_force;
    const QCommandLineOption m_resendUnknown;
    const QCommandLineOption m_maxFailures;
    const QCommandLineOption m_board;
    const QCommandLineOption m_format;
    const QCommandLineOption m_encoding;
    const QCommandLineOption m_delimiter;
};

} // namespace Orvex
