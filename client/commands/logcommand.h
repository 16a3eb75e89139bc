#pragma once

#include "command.h"

namespace Orvex {

// log SubName [Message]: one record into the component's activity log, through the server.
class LogCommand : public Command {
public:
    LogCommand();
    void declare(QCommandLineParser &parser) override;
    int run(const QCommandLineParser &parser, Console &console) override;
};

} // namespace Orvex
