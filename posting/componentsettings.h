#pragma once

#include "httpsettings.h"
#include "likelyname.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Orvex {

// The component's own settings, [General] of its INI file: read once when a PostJob is created and handed
// to it whole. A new setting is a field here (or in HttpSettings), a row in the table of keys, and its use.
struct ComponentSettings {
    bool debugMode = false;
    // The board's import endpoint; empty: the built-in one.
    QString importUrl;
    HttpSettings http;
    // How long a posting that did not reach the board, or was refused for load, is tried again; 0: never.
    std::chrono::seconds retryFor{0};
    // Days the posting journal keeps a posting; 0 keeps every one.
    int journalDays = 400;
    // Where the posting journal is: empty, the SQLite file in the state folder; else a PostgreSQL URI that
    // several machines share. May hold a password: shown only through shownValue().
    QString journal;
    // The name the journal's rows give this machine; empty: the machine's own (host()).
    QString hostName;
    // How many postings to this board may be in flight at once, from every client of the process.
    int maxInFlight = 1;
    static constexpr int MostInFlight = 64;

    // Every key of iniFile read whole; a missing file, section or key keeps the default. A value that
    // does not parse throws AutomationError naming the file, the key and why: DebugMode with the
    // runtime's conversion numbers (13 type mismatch, 6 overflow), the others with 13 or, for a number
    // out of range or an ImportUrl that is no http or https URL naming a host, 5. DebugMode is read
    // through the suite's GetIniString, the others whole.
    static ComponentSettings read(const QString &iniFile);
    // The keys that section of iniFile sets among keys, laid over base by the same rule each has in
    // [General]; a key the section leaves out keeps base's value. Throws as read() does, naming section.
    static ComponentSettings read(const QString &iniFile, QStringView section, ComponentSettings base,
                                  const QStringList &keys);

    // The name this machine's rows carry in the journal.
    QString host() const;

    // The keys, in the letter case they are written.
    static QStringList keyNames();
    // The key name names without regard to letter case, as it is written; nothing for an unknown key.
    static std::optional<QString> canonicalKey(QStringView name);
    // The value of key (names match without regard to letter case) as the file would write it; the
    // built-in board's URL for an empty ImportUrl, empty for no file and for an unknown key.
    QString valueText(QStringView key) const;
    // The key a mistyped name most likely meant (see likelyName()); nothing when none.
    static std::optional<QString> likelyKey(QStringView name);
    // Nothing when value parses as key (names match without regard to letter case); else why not. An
    // unknown key has no value that parses.
    static std::optional<QString> valueProblem(QStringView key, QStringView value);
    // value of key as any text may show it: no user-info of a URL, no password of a journal URI.
    static QString shownValue(QStringView key, const QString &value);
};

} // namespace Orvex
