// The terminal's colours: the 16 installed base colours, the 256-entry palette built from them
// (`ansiColors`, which OSC 4 edits) with the pristine copy OSC 104 restores (`defaultAnsiColors`),
// and the default foreground, background and cursor colours.
//
// Entries 16-255 are derived from the base colours by the options' strategy: the xterm cube and
// grey ramp, or Lab interpolation between the background and the foreground. So a Lab palette is
// rebuilt when either default colour changes, and any rebuild drops the program's OSC 4 edits.
// Telling the host about changes is the terminal's part; this type only keeps the values.
#pragma once

#include "Kestrovan/Color.h"

#include <optional>
#include <vector>

namespace kestrovan {

class TerminalPalette
{
public:
    /// The application's 16 colours, grey-on-black defaults, no cursor colour, and a palette of
    /// `strategy`.
    explicit TerminalPalette(Ansi256PaletteStrategy strategy);

    const std::vector<Color>& installedColors() const { return installedColors_; }
    const std::vector<Color>& defaultAnsiColors() const { return defaultAnsiColors_; }
    const std::vector<Color>& ansiColors() const { return ansiColors_; }
    /// The palette entry in effect, absent past the palette's end.
    std::optional<Color> color(int index) const;

    const Color& foregroundColor() const { return foregroundColor_; }
    const Color& backgroundColor() const { return backgroundColor_; }
    /// The cursor colour a program set (OSC 12); absent means the host's choice.
    const std::optional<Color>& cursorColor() const { return cursorColor_; }
    void setForegroundColor(const Color& color) { foregroundColor_ = color; }
    void setBackgroundColor(const Color& color) { backgroundColor_ = color; }
    void setCursorColor(const std::optional<Color>& color) { cursorColor_ = color; }

    /// Installs 16 base colours and rebuilds both palettes; false, changing nothing, for any other
    /// count.
    bool install(const std::vector<Color>& colors, Ansi256PaletteStrategy strategy);
    /// Builds `defaultAnsiColors` from the base colours (and, for the Lab strategies, the default
    /// colours) and puts it in effect, dropping OSC 4 edits.
    void rebuild(Ansi256PaletteStrategy strategy);

    /// OSC 4: changes one entry in effect; false for an index past the palette.
    bool setAnsiColor(int index, const Color& color);
    /// OSC 104 with an index: that entry back to its default; false for an index past either palette.
    bool resetAnsiColor(int index);
    /// OSC 104 without an index, and soft reset: every entry back to its default.
    void resetAnsiColors() { ansiColors_ = defaultAnsiColors_; }

private:
    std::vector<Color> installedColors_;
    std::vector<Color> defaultAnsiColors_;
    std::vector<Color> ansiColors_;
    Color foregroundColor_{0x8A3D, 0x8A3D, 0x8A3D};
    Color backgroundColor_{0, 0, 0};
    std::optional<Color> cursorColor_;
};

} // namespace kestrovan
