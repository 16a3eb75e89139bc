#pragma once

#include "command.h"

namespace Orvex {

class PostJobTool;

// help [command]: the tool's help, or a command's as its --help shows it.
class HelpCommand : public Command {
public:
    explicit HelpCommand(PostJobTool &tool);
    void declare(QCommandLineParser &parser) override;
    int run(const QCommandLineParser &parser, Console &console) override;

private:
    PostJobTool &m_tool;
};

} // namespace Orvex
