#include "programicon.h"

#include <QPixmap>

namespace Orvex {

namespace {

// A listing page with an arrow: a posting on its way out.
const char *const ProgramIconXpm[] = {
    "16 16 5 1",        ". c None",         "# c #1F3A5F",      "w c #FFFFFF",      "b c #4A78B8",
    "o c #E07000",      "................", ".##########.....", ".#wwwwwwww##....", ".#wwwwwwww#w#...",
    ".#wbbbbbbw####..", ".#wwwwwwwwwww#..", ".#wbbbbbbbbbw#..", ".#wwwwwwwwwww#..", ".#wbbbbbbbbbw#..",
    ".#wwwwwwwwwww#..", ".#############..", "............o...", "............oo..", "...oooooooooooo.",
    "............oo..", "............o...",
};

} // namespace

QIcon programIcon() {
    return QIcon(QPixmap(ProgramIconXpm));
}

} // namespace Orvex
