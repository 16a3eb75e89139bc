#pragma once

#include "automationerror.h"
#include "componentsettings.h"
#include "listingrules.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Orvex {

// The boards of the component's INI file, read once when an object is created: [General] is the board
// "default", and each [Board NAME] section lays its keys over [General]'s record. Names match without
// regard to letter case, as section names do.
class BoardSettings {
public:
    static constexpr QStringView DefaultBoard = ListingRules::DefaultBoardName;
    static constexpr QStringView SectionPrefix = u"Board ";

    struct Board {
        QString name; // as the file writes it; "default" for [General]
        ComponentSettings settings;
        // Why the section cannot be used (a value that does not parse); each posting to it fails with it.
        std::optional<AutomationError> refusal;
    };

    // general: [General]'s record, already read. A board section with a value that does not parse spoils
    // that board alone, so one typo does not stop the postings to every other board.
    static BoardSettings read(const QString &iniFile, const ComponentSettings &general);

    // "default" first, then the boards in the order of their sections.
    QStringList names() const;
    // The board name calls (empty or "default" for [General]); throws AutomationError: 5 for a name the
    // file does not know, naming it and the known ones; the section's own error for a spoilt board.
    const Board &board(QStringView name) const;

    // The board a section name stands for; nothing for a section that names none ([General], [Other],
    // [Board ] and [Board default], which could only shadow [General]).
    static std::optional<QString> boardOfSection(QStringView section);
    // The keys a board section takes: every key of [General] but DebugMode and JournalDays, the component's.
    static QStringList keyNames();

private:
    QList<Board> m_boards;
};

} // namespace Orvex
