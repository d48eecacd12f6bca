#include "Kestrovan/TerminalDelegate.h"

#include "Kestrovan/Terminal.h"

namespace kestrovan {

std::optional<CellPixelSize> TerminalDelegate::cellSizeInPixels(Terminal&)
{
    return std::nullopt;
}

// The colour defaults write into the terminal's property, whose setter calls back here once; the
// terminal's guard flag is set during that nested call, so it stores the colour and ends. The
// terminal calls its delegate with its lock held, which the analysis cannot see through the
// virtual call.

void TerminalDelegate::setForegroundColor(Terminal& source, const Color& color)
{
    source.terminalLock().assumeHeldByCaller();
    source.setForegroundColor(color);
}

void TerminalDelegate::setBackgroundColor(Terminal& source, const Color& color)
{
    source.terminalLock().assumeHeldByCaller();
    source.setBackgroundColor(color);
}

void TerminalDelegate::setCursorColor(Terminal& source, const std::optional<Color>& color)
{
    source.terminalLock().assumeHeldByCaller();
    source.setCursorColor(color);
}

std::pair<Color, Color> TerminalDelegate::getColors(Terminal& source)
{
    source.terminalLock().assumeHeldByCaller();
    return {source.foregroundColor(), source.backgroundColor()};
}

} // namespace kestrovan
