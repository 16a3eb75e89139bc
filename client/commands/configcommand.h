#pragma once

#include "command.h"

#include <QCommandLineOption>

#include <optional>

namespace Orvex {

class ConfigSection;
class ProfileFile;
struct SettingsFiles;

// config show | set KEY VALUE | path [--board NAME]: the component's settings, [General]'s or one board's,
// each checked by the component's own rule.
class ConfigCommand : public Command {
public:
    ConfigCommand();
    void declare(QCommandLineParser &parser) override;
    int run(const QCommandLineParser &parser, Console &console) override;

private:
    // The section --board names; nothing, with *error, for a name no section header can hold.
    std::optional<ConfigSection> sectionOf(const QCommandLineParser &parser, QString *error) const;
    static int listPaths(const SettingsFiles &files, Console &console);
    static int show(const QString &file, const ConfigSection &section, Console &console);
    // Prints key's effective value; false when it does not parse.
    static bool showKey(const ProfileFile &profile, const QString &file, const ConfigSection &section,
                        const QString &key, Console &console);
    int set(const SettingsFiles &files, const ConfigSection &section, const QString &keyName,
            const QString &value, Console &console);
    // Why key cannot be set to value in section; empty when it can.
    static QString settingRefusal(const ConfigSection &section, const QString &keyName, const QString &value);

    const QCommandLineOption m_board;
};

} // namespace Orvex
