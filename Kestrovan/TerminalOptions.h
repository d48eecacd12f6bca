// The settings a host hands to a new terminal, with their defaults, and the small types declared
// with them: the regional-indicator width and the kitty graphics configuration.
//
// Options are plain values: the terminal keeps its own copy and writes back only the scrollback
// count and the cursor style. Hosts start from `TerminalOptions::defaults()` and change single
// fields, or call one of the two `make` functions. The three clipboard limits are stored as given
// and clamped when read, so a host can never configure the protocol below its floors.
#pragma once

#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/KittyClipboardTypes.h"
#include "Kestrovan/OptionSet.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrovan {

/// The width the print path gives a regional indicator symbol.
enum class RegionalIndicatorWidth : uint8_t
{
    /// Two columns, like a flag.
    wide,
    /// A lone indicator takes one column.
    narrow,
};

/// The limits and trust rules of the kitty graphics protocol.
struct KittyGraphicsConfiguration
{
    /// Which local transmission media a program may use to send image data.
    struct LocalMediaPolicy : OptionSet<LocalMediaPolicy, uint8_t>
    {
        constexpr LocalMediaPolicy() = default;
        constexpr explicit LocalMediaPolicy(uint8_t raw) : OptionSet(raw) {}
        constexpr LocalMediaPolicy(OptionSet set) : OptionSet(set) {}

        static const LocalMediaPolicy regularFiles;
        static const LocalMediaPolicy temporaryFiles;
        static const LocalMediaPolicy sharedMemory;
        static const LocalMediaPolicy all;
    };

    /// Image bytes the kitty graphics store may hold per screen.
    uint32_t storageLimitBytesPerScreen = 10'000'000;
    /// Empty by default: images arrive only inside the escape sequences.
    LocalMediaPolicy localMediaPolicy;
    /// The directory whose files count as trusted temporary files, as a path; absent by default.
    std::optional<std::string> trustedTemporaryDirectory;

    friend bool operator==(const KittyGraphicsConfiguration&, const KittyGraphicsConfiguration&) = default;
};

inline constexpr KittyGraphicsConfiguration::LocalMediaPolicy
    KittyGraphicsConfiguration::LocalMediaPolicy::regularFiles{1};
inline constexpr KittyGraphicsConfiguration::LocalMediaPolicy
    KittyGraphicsConfiguration::LocalMediaPolicy::temporaryFiles{2};
inline constexpr KittyGraphicsConfiguration::LocalMediaPolicy
    KittyGraphicsConfiguration::LocalMediaPolicy::sharedMemory{4};
inline constexpr KittyGraphicsConfiguration::LocalMediaPolicy
    KittyGraphicsConfiguration::LocalMediaPolicy::all{7};

struct TerminalOptions
{
    /// Initial columns; the terminal uses at least 2.
    int cols = 80;
    /// Initial rows; the terminal uses at least 1.
    int rows = 25;
    /// The initial line-feed mode, restored by full and soft resets.
    bool convertEol = false;
    /// The name the terminal answers with and gives the child as TERM.
    std::string termName = "xterm-256color";
    /// The default cursor style, also the one DECSCUSR 0 restores.
    CursorStyle cursorStyle = CursorStyle::blinkBlock;
    /// Kept for the host's readers; the terminal core does not act on it.
    bool screenReaderMode = false;
    /// Scrollback lines of the normal buffer; 0 for none.
    int scrollback = 500;
    /// Distance between the default tab stops.
    int tabStopWidth = 8;
    /// Whether the primary device attributes advertise Sixel graphics.
    bool enableSixelReported = true;
    KittyGraphicsConfiguration kittyGraphics;
    Ansi256PaletteStrategy ansi256PaletteStrategy = Ansi256PaletteStrategy::base16Lab;
    RegionalIndicatorWidth regionalIndicatorWidth = RegionalIndicatorWidth::wide;
    /// The starting bidi state, also the one soft reset returns to.
    BidiPresentationState initialBidiState;
    /// The longest run of rows the render model treats as one bidi paragraph.
    int maximumBidiParagraphRows = 500;
    /// The starting arrow-key swap, also restored by soft reset.
    bool initialBidiArrowKeySwap = false;
    /// The reply to the OSC 1337 capabilities query; absent means no reply.
    std::optional<std::string> featureReport;
    /// The largest OSC payload the parser collects: 65 MiB.
    int64_t maximumOscBytes = 68'157'440;
    /// Whether OSC 8 hyperlinks are stored and looked up.
    bool enableOsc8Hyperlinks = true;
    /// What the kitty clipboard protocol may do; nothing by default.
    KittyClipboardPolicy kittyClipboardPolicy;
    /// The raw values behind the clamping clipboard accessors below.
    int64_t storedKittyClipboardWriteLimitBytes = 67'108'864;
    int64_t storedKittyClipboardMaximumRepresentations = 256;
    int64_t storedKittyClipboardMaximumAliases = 256;

    /// The floor of the clipboard write limit: 64 MiB.
    static constexpr int64_t minimumKittyClipboardWriteLimitBytes = 67'108'864;

    /// The default options, made once; every call returns a copy.
    static TerminalOptions defaults();

    /// Every value as given, except that `maximumBidiParagraphRows` is raised to 1; the three
    /// clipboard limits are stored raw and clamped when read.
    static TerminalOptions
    make(int cols, int rows, bool convertEol, std::string termName, CursorStyle cursorStyle,
         bool screenReaderMode, int scrollback, int tabStopWidth, bool enableSixelReported,
         KittyGraphicsConfiguration kittyGraphics, Ansi256PaletteStrategy ansi256PaletteStrategy,
         RegionalIndicatorWidth regionalIndicatorWidth, BidiPresentationState initialBidiState,
         int maximumBidiParagraphRows, bool initialBidiArrowKeySwap, std::optional<std::string> featureReport,
         int64_t maximumOscBytes, KittyClipboardPolicy kittyClipboardPolicy,
         int64_t kittyClipboardWriteLimitBytes, int64_t kittyClipboardMaximumRepresentations,
         int64_t kittyClipboardMaximumAliases, bool enableOsc8Hyperlinks);

    /// The shorter form: the kitty configuration is only a storage limit, clamped into the 32-bit
    /// range, with no local media and no trusted directory. The OSC, hyperlink and clipboard
    /// settings come from the defaults, the clipboard limits already clamped.
    static TerminalOptions makeWithImageCacheLimit(
        int cols, int rows, bool convertEol, std::string termName, CursorStyle cursorStyle,
        bool screenReaderMode, int scrollback, int tabStopWidth, bool enableSixelReported,
        int64_t kittyImageCacheLimitBytes, Ansi256PaletteStrategy ansi256PaletteStrategy,
        RegionalIndicatorWidth regionalIndicatorWidth, BidiPresentationState initialBidiState,
        int maximumBidiParagraphRows, bool initialBidiArrowKeySwap, std::optional<std::string> featureReport);

    /// The clipboard write limit, never below `minimumKittyClipboardWriteLimitBytes`.
    int64_t kittyClipboardWriteLimitBytes() const
    {
        return std::max(storedKittyClipboardWriteLimitBytes, minimumKittyClipboardWriteLimitBytes);
    }
    void setKittyClipboardWriteLimitBytes(int64_t value) { storedKittyClipboardWriteLimitBytes = value; }

    /// The most representations one clipboard write may carry, at least 1.
    int64_t kittyClipboardMaximumRepresentations() const
    {
        return std::max<int64_t>(storedKittyClipboardMaximumRepresentations, 1);
    }
    void setKittyClipboardMaximumRepresentations(int64_t value)
    {
        storedKittyClipboardMaximumRepresentations = value;
    }

    /// The most aliases one clipboard write may carry, at least 0.
    int64_t kittyClipboardMaximumAliases() const
    {
        return std::max<int64_t>(storedKittyClipboardMaximumAliases, 0);
    }
    void setKittyClipboardMaximumAliases(int64_t value) { storedKittyClipboardMaximumAliases = value; }

    /// The kitty image storage limit per screen.
    int64_t kittyImageCacheLimitBytes() const { return kittyGraphics.storageLimitBytesPerScreen; }
    /// Stores the limit clamped into 0 ... 4,294,967,295.
    void setKittyImageCacheLimitBytes(int64_t value);

    friend bool operator==(const TerminalOptions&, const TerminalOptions&) = default;
};

} // namespace kestrovan
