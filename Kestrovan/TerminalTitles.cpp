// Popping titles and switching the title modes.
#include "Kestrovan/TerminalTitles.h"

namespace kestrovan {

std::optional<TitleText> TerminalTitles::popTerminalTitle()
{
    std::optional<TitleText> title = terminalTitleStack_.pop();
    if (title)
        terminalTitle_ = *title;
    return title;
}

std::optional<TitleText> TerminalTitles::popIconTitle()
{
    std::optional<TitleText> title = terminalIconStack_.pop();
    if (title)
        iconTitle_ = *title;
    return title;
}

void TerminalTitles::setXtermTitleMode(int64_t mode, bool value)
{
    switch (mode) {
    case 0:
        xtermTitleSetHex_ = value;
        break;
    case 1:
        xtermTitleQueryHex_ = value;
        break;
    case 2:
        xtermTitleSetUtf_ = value;
        break;
    case 3:
        xtermTitleQueryUtf_ = value;
        break;
    default:
        break;
    }
}

void TerminalTitles::resetXtermTitleModes()
{
    xtermTitleSetHex_ = false;
    xtermTitleQueryHex_ = false;
    xtermTitleSetUtf_ = false;
    xtermTitleQueryUtf_ = false;
}

} // namespace kestrovan
