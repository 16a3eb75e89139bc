#include "boardsettings.h"

#include "errortable.h"
#include "inireader.h"

namespace Orvex {

BoardSettings BoardSettings::read(const QString &iniFile, const ComponentSettings &general) {
    BoardSettings boards;
    boards.m_boards.append({DefaultBoard.toString(), general, std::nullopt});
    const QStringList keys = keyNames();
    for (const QString &section : ProfileFile(iniFile).sectionNames()) {
        const std::optional<QString> name = boardOfSection(section);
        if (!name)
            continue;
        try {
            boards.m_boards.append(
                {*name, ComponentSettings::read(iniFile, section, general, keys), std::nullopt});
        } catch (const AutomationError &error) {
            boards.m_boards.append({*name, general, error});
        }
    }
    return boards;
}

QStringList BoardSettings::names() const {
    QStringList names;
    for (const Board &board : m_boards)
        names.append(board.name);
    return names;
}

const BoardSettings::Board &BoardSettings::board(QStringView name) const {
    const QStringView wanted = name.isEmpty() ? DefaultBoard : name;
    for (const Board &board : m_boards) {
        if (board.name.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (board.refusal)
            throw *board.refusal;
        return board;
    }
    throw AutomationError(ErrorNumber::InvalidProcedureCall, QString::fromUtf16(ComponentSource),
                          QStringLiteral("There is no board named \"%1\"; the boards are %2")
                              .arg(name.toString(), names().join(QStringLiteral(", "))));
}

std::optional<QString> BoardSettings::boardOfSection(QStringView section) {
    if (!section.startsWith(SectionPrefix, Qt::CaseInsensitive))
        return std::nullopt;
    const QString name = section.mid(SectionPrefix.size()).trimmed().toString();
    if (name.isEmpty() || name.compare(DefaultBoard, Qt::CaseInsensitive) == 0)
        return std::nullopt;
    return name;
}

QStringList BoardSettings::keyNames() {
    QStringList keys = ComponentSettings::keyNames();
    // The component's own, not a board's: the debug copy, and the one journal: where, how long it keeps
    // postings and the name this machine's rows carry.
    keys.removeAll(QStringLiteral("DebugMode"));
    keys.removeAll(QStringLiteral("JournalDays"));
    keys.removeAll(QStringLiteral("Journal"));
    keys.removeAll(QStringLiteral("HostName"));
    return keys;
}

} // namespace Orvex
