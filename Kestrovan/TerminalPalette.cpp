// Building, editing and restoring the palette.
#include "Kestrovan/TerminalPalette.h"

namespace kestrovan {

TerminalPalette::TerminalPalette(Ansi256PaletteStrategy strategy)
{
    const auto& appColors = Color::terminalAppColors();
    installedColors_.assign(appColors.begin(), appColors.end());
    rebuild(strategy);
}

std::optional<Color> TerminalPalette::color(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= ansiColors_.size())
        return std::nullopt;
    return ansiColors_[static_cast<size_t>(index)];
}

bool TerminalPalette::install(const std::vector<Color>& colors, Ansi256PaletteStrategy strategy)
{
    if (colors.size() != 16)
        return false;
    installedColors_ = colors;
    rebuild(strategy);
    return true;
}

void TerminalPalette::rebuild(Ansi256PaletteStrategy strategy)
{
    switch (strategy) {
    case Ansi256PaletteStrategy::xterm:
        defaultAnsiColors_ = Color::generateXtermPalette(installedColors_);
        break;
    case Ansi256PaletteStrategy::base16Lab:
    case Ansi256PaletteStrategy::base16LabHarmonious:
        // The upper entries are spread between the background and the foreground.
        defaultAnsiColors_ =
            Color::generateBase16LabPalette(installedColors_, backgroundColor_, foregroundColor_,
                                            strategy == Ansi256PaletteStrategy::base16LabHarmonious);
        break;
    default:
        defaultAnsiColors_ = Color::generateXtermPalette(installedColors_);
        break;
    }
    ansiColors_ = defaultAnsiColors_;
}

bool TerminalPalette::setAnsiColor(int index, const Color& color)
{
    if (index < 0 || static_cast<size_t>(index) >= ansiColors_.size())
        return false;
    ansiColors_[static_cast<size_t>(index)] = color;
    return true;
}

bool TerminalPalette::resetAnsiColor(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= ansiColors_.size() ||
        static_cast<size_t>(index) >= defaultAnsiColors_.size())
        return false;
    ansiColors_[static_cast<size_t>(index)] = defaultAnsiColors_[static_cast<size_t>(index)];
    return true;
}

} // namespace kestrovan
