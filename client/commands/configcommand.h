#pragma once

#include "command.h"

namespace Orvex {

struct SettingsFiles;

// config show | set KEY VALUE | path: the component's settings, each checked by the component's own rule.
class ConfigCommand : public Command {
public:
    ConfigCommand();
    void declare(QCommandLineParser &parser) override;
    int run(const QCommandLineParser &parser, Console &console) override;

private:
    static int listPaths(const SettingsFiles &files, Console &console);
    static int show(const QString &file, Console &console);
    int set(const SettingsFiles &files, const QString &keyName, const QString &value, Console &console);
};

} // namespace Orvex
