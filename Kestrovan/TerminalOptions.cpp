#include "Kestrovan/TerminalOptions.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace kestrovan {

namespace {

// Image limits arrive as plain integers; the store counts in 32 bits, so out-of-range values
// saturate instead of wrapping into a tiny or huge limit.
uint32_t clampToStorageLimit(int64_t bytes)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(bytes, 0, std::numeric_limits<uint32_t>::max()));
}

} // namespace

TerminalOptions TerminalOptions::defaults()
{
    // The member initialisers are the defaults; one shared constant keeps every host on the same value.
    static const TerminalOptions options;
    return options;
}

TerminalOptions
TerminalOptions::make(int cols, int rows, bool convertEol, std::string termName, CursorStyle cursorStyle,
                      bool screenReaderMode, int scrollback, int tabStopWidth, bool enableSixelReported,
                      KittyGraphicsConfiguration kittyGraphics, Ansi256PaletteStrategy ansi256PaletteStrategy,
                      RegionalIndicatorWidth regionalIndicatorWidth, BidiPresentationState initialBidiState,
                      int maximumBidiParagraphRows, bool initialBidiArrowKeySwap,
                      std::optional<std::string> featureReport, int64_t maximumOscBytes,
                      KittyClipboardPolicy kittyClipboardPolicy, int64_t kittyClipboardWriteLimitBytes,
                      int64_t kittyClipboardMaximumRepresentations, int64_t kittyClipboardMaximumAliases,
                      bool enableOsc8Hyperlinks)
{
    TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    options.convertEol = convertEol;
    options.termName = std::move(termName);
    options.cursorStyle = cursorStyle;
    options.screenReaderMode = screenReaderMode;
    options.scrollback = scrollback;
    options.tabStopWidth = tabStopWidth;
    options.enableSixelReported = enableSixelReported;
    options.kittyGraphics = std::move(kittyGraphics);
    options.ansi256PaletteStrategy = ansi256PaletteStrategy;
    options.regionalIndicatorWidth = regionalIndicatorWidth;
    options.initialBidiState = initialBidiState;
    // A bidi paragraph spans at least one row.
    options.maximumBidiParagraphRows = std::max(maximumBidiParagraphRows, 1);
    options.initialBidiArrowKeySwap = initialBidiArrowKeySwap;
    options.featureReport = std::move(featureReport);
    options.maximumOscBytes = maximumOscBytes;
    options.enableOsc8Hyperlinks = enableOsc8Hyperlinks;
    options.kittyClipboardPolicy = kittyClipboardPolicy;
    options.storedKittyClipboardWriteLimitBytes = kittyClipboardWriteLimitBytes;
    options.storedKittyClipboardMaximumRepresentations = kittyClipboardMaximumRepresentations;
    options.storedKittyClipboardMaximumAliases = kittyClipboardMaximumAliases;
    return options;
}

TerminalOptions TerminalOptions::makeWithImageCacheLimit(
    int cols, int rows, bool convertEol, std::string termName, CursorStyle cursorStyle, bool screenReaderMode,
    int scrollback, int tabStopWidth, bool enableSixelReported, int64_t kittyImageCacheLimitBytes,
    Ansi256PaletteStrategy ansi256PaletteStrategy, RegionalIndicatorWidth regionalIndicatorWidth,
    BidiPresentationState initialBidiState, int maximumBidiParagraphRows, bool initialBidiArrowKeySwap,
    std::optional<std::string> featureReport)
{
    const TerminalOptions base = defaults();
    // The clipboard limits go through their readers, so this form stores them already clamped.
    TerminalOptions options =
        make(cols, rows, convertEol, std::move(termName), cursorStyle, screenReaderMode, scrollback,
             tabStopWidth, enableSixelReported, base.kittyGraphics, ansi256PaletteStrategy,
             regionalIndicatorWidth, initialBidiState, maximumBidiParagraphRows, initialBidiArrowKeySwap,
             std::move(featureReport), base.maximumOscBytes, base.kittyClipboardPolicy,
             base.kittyClipboardWriteLimitBytes(), base.kittyClipboardMaximumRepresentations(),
             base.kittyClipboardMaximumAliases(), base.enableOsc8Hyperlinks);
    // The defaults' kitty configuration has no local media and no trusted directory; only its
    // limit changes. It is set afterwards rather than in a configuration built here, because
    // moving a fresh configuration through `make` made GCC's thread-sanitizer build warn that the
    // absent directory's string might be read uninitialized, which it never is.
    options.setKittyImageCacheLimitBytes(kittyImageCacheLimitBytes);
    return options;
}

void TerminalOptions::setKittyImageCacheLimitBytes(int64_t value)
{
    kittyGraphics.storageLimitBytesPerScreen = clampToStorageLimit(value);
}

} // namespace kestrovan
