#pragma once

#include "command.h"

#include <QCommandLineOption>

#include <optional>

namespace Orvex {

struct HistoryFilter;

// history: the postings of some days, or of one journal, with their results.
class HistoryCommand : public Command {
public:
    HistoryCommand();
    void declare(QCommandLineParser &parser) override;
    int run(const QCommandLineParser &parser, Console &console) override;

private:
    // The filter the options ask for; nothing, with *error, for options that do not go together.
    std::optional<HistoryFilter> filterOf(const QCommandLineParser &parser, QString *error) const;
    bool readDays(const QCommandLineParser &parser, HistoryFilter &filter, QString *error) const;

    const QCommandLineOption m_date;
    const QCommandLineOption m_from;
    const QCommandLineOption m_to;
    const QCommandLineOption m_job;
    const QCommandLineOption m_result;
    const QCommandLineOption m_board;
    const QCommandLineOption m_host;
    const QCommandLineOption m_latest;
    const QCommandLineOption m_json;
    const QCommandLineOption m_log;
};

} // namespace Orvex
