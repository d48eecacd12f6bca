#include "Kestrovan/TerminalDelegate.h"

#include "Kestrovan/Terminal.h"

namespace kestrovan {

std::optional<CellPixelSize> TerminalDelegate::cellSizeInPixels(Terminal&)
{
    return std::nullopt;
}

// The colour defaults write into the terminal's property, whose setter calls back here once; the
// terminal's guard flag is set during that nested call, so it stores the colour and ends.

void TerminalDelegate::setForegroundColor(Terminal& source, const Color& color)
{
    source.setForegroundColor(color);
}

void TerminalDelegate::setBackgroundColor(Terminal& source, const Color& color)
{
    source.setBackgroundColor(color);
}

void TerminalDelegate::setCursorColor(Terminal& source, const std::optional<Color>& color)
{
    source.setCursorColor(color);
}

std::pair<Color, Color> TerminalDelegate::getColors(Terminal& source)
{
    return {source.foregroundColor(), source.backgroundColor()};
}

} // namespace kestrovan
