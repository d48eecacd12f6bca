// The emulator: one `Terminal` per terminal, shared by reference.
//
// It owns the normal and the alternate screen buffers and the cell arena they share, the
// escape-sequence parser, the modes, colours, titles, payload table and protocol states, and a weak
// reference to its host (`TerminalDelegate`). Bytes from the child enter through `feed`; the parser
// calls back into this class (it is the parser's `ParserListener`), which routes each control
// function to its handler. Replies leave through `sendResponse` and the delegate's `send`.
//
// The public members are what hosts use: feeding, resizing, input, queries, snapshots, settings
// and callbacks. Buffers and lines reach a host read-only. The handlers, the print roads, the
// scroll internals and the rest of the inside are private, shared by the family files below and a
// few engine types that work inside the terminal (the parse loop, the slow print road, the kitty
// graphics engine, the DCS and clipboard protocol objects). Readers that need nothing private live
// beside the class: TerminalTextExtraction.h, TerminalLinks.h, TerminalHostInput.h.
//
// Everything here runs on the thread that holds `terminalLock()`, normally the parse thread inside a
// feed. Only `register`/`unregister` of selections and the snapshot calls without `Locked` take
// the lock themselves, and the pointer-press calls stop the program when the caller does not hold it.
// Delegate calls are synchronous, with the lock held; a feed may re-enter from a delegate callback
// on the same thread.
//
// The class is large, so its members live in one file per family. Where to find what:
//   Terminal.cpp               state, construction, setup and teardown, buffer switching, palette
//                              and colour setters, focus and visibility reports, pointer press,
//                              the selection registry, cell accessors
//
// State with rules of its own lives in small types the terminal holds:
//   TerminalModeSet.h          the on/off modes, and the buffers' copies of those they read
//   CharsetSlots.h             G0-G3, the invoked slot and the set in effect
//   TerminalPalette.h          the base colours, the 256-colour palette and the default colours
//   TerminalTitles.h           the window and icon titles, their stacks and the title modes
//   MouseReportingState.h      the mouse tracking mode, report encoding, shift capture and
//                              alternate scroll
//   SynchronizedOutput.h       mode 2026, its generation and its watchdog
//   ColumnSwitchRun.h          a run of column-mode switches and what keeps it going
//   SemanticInputScanner.h     the scan of user input for a submitted command line
//   DecPrivateModeTable.h      one row per DEC private mode: set, reset, save, restore, report
//   TerminalFeed.cpp           feed, deferred notifications, replies (`sendResponse`, `CC`), the
//                              update range and the whole-screen refresh
//   TerminalDispatch.cpp       execute, ESC, CSI, OSC, DCS-hook and APC routing; OSC titles
//   TerminalCharSets.cpp       G0-G3 designation and invocation
//   TerminalPrint.cpp          the print path (`handlePrintBorrowed`)
//   TerminalLineFeed.cpp       LF, CR, BS, `resetBufferLine`
//   TerminalScroll.cpp         the core scroll and its three paths, IND and RI at the top; then SU,
//                              SD, IL, DL, ICH, DCH, DECIC, DECDC, column scroll, REP
//   TerminalCursor.cpp         cursor movement, tab clearing, save and restore, DECBI/DECFI
//   TerminalMargins.cpp        DECSLRM, DECSTBM, DECSCUSR
//   TerminalBidi.cpp           the bidi paragraph controls
//   TerminalErase.cpp          EL, ED, ECH, DECALN, line render modes
//   TerminalSgr.cpp            SGR
//   TerminalModes.cpp          SM/RM, DEC private modes through their table, XTSAVE/XTRESTORE,
//                              DECRQM, DECSTR
//   TerminalColumnSwitch.cpp   DECCOLM and the end of a run of column-mode switches
//   TerminalSynchronizedOutput.cpp  synchronized output and cursor visibility
//   TerminalResize.cpp         resize, pixel geometry, in-band size reports, RIS, DECSCL,
//                              scrollback size
//   TerminalSemanticPrompts.cpp  OSC 133 prompt marks, the semantic reactions to line feeds,
//                              screen switches and resets, user input, and the view queries on
//                              prompt marks
//   TerminalPromptClick.cpp    click-to-move inside a command line
//   TerminalKittyKeyboard.cpp  the kitty keyboard protocol's flags: push, pop, set and query
//   TerminalWindowOps.cpp      window operations (CSI t), the title stacks and title modes
//   TerminalRectangles.cpp     rectangular areas (DECCRA, DECFRA, DECERA, DECSERA, DECCARA,
//                              DECRARA), the checksum report, DECSACE and their routers
//   TerminalOsc.cpp            OSC palette, default colours, directory and document, clipboard,
//                              notifications, progress; the colour-scheme report
//   TerminalHyperlinks.cpp     OSC 8 and the payload codes printed cells carry
//   TerminalITerm2.cpp         OSC 1337
//   TerminalProgramStatusHandlers.cpp  OSC 7501 and the program-status records
//   TerminalDeviceReports.cpp  DA1, DA2, DSR, XTVERSION and the DECRQSS and XTGETTCAP handlers
//                              (DecrqssHandler, XtgettcapHandler, with KestrovanTerminfo)
//   TerminalClipboard.cpp      paste, the clipboard capabilities and OSC 52 read answers,
//                              forwarded to the kitty clipboard protocol object
//   TerminalContentSnapshot.cpp  the content and input-state snapshots, and a live line's
//                              display text
//   TerminalInnerState.cpp     the inner state as one value, for tests and diagnostics
//   TerminalPayloadCollection.cpp  giving back payload codes no cell uses any more
//   TerminalKittyGraphics.cpp  the kitty graphics entry points, forwarded to KittyGraphicsEngine
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/BufferTerminal.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/ChangedRows.h"
#include "Kestrovan/CharData.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/CharsetSlots.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/ColumnSwitchRun.h"
#include "Kestrovan/CsiParameters.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/DcsHandler.h"
#include "Kestrovan/EscapeSequenceParser.h"
#include "Kestrovan/KittyGraphicsRenderSnapshot.h"
#include "Kestrovan/KittyGraphicsState.h"
#include "Kestrovan/KittyKeyboardFlags.h"
#include "Kestrovan/MouseReportingState.h"
#include "Kestrovan/OptionSet.h"
#include "Kestrovan/PackedCell.h"
#include "Kestrovan/ParserListener.h"
#include "Kestrovan/PayloadState.h"
#include "Kestrovan/Position.h"
#include "Kestrovan/SemanticInputScanner.h"
#include "Kestrovan/SemanticPromptClickBehavior.h"
#include "Kestrovan/SynchronizedOutput.h"
#include "Kestrovan/TerminalLock.h"
#include "Kestrovan/TerminalModeSet.h"
#include "Kestrovan/TerminalOptions.h"
#include "Kestrovan/TerminalOscEventDispatcher.h"
#include "Kestrovan/TerminalPalette.h"
#include "Kestrovan/TerminalProgramStatus.h"
#include "Kestrovan/TerminalTitles.h"
#include "Kestrovan/TerminalVisibility.h"
#include "Kestrovan/TitleStack.h"
#include "Platform/Dispatch/TimerQueue.h"
#include "Platform/Sync/ThreadSafety.h"

#include <algorithm>
#include <any>
#include <array>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform {
class DispatchQueue;
} // namespace platform

namespace kestrovan {

class DECRQSS;
class DecPrivateModeTable;
class XTGETTCAP;
class KittyClipboardProtocol;
class SearchEngine;
class SearchLineCache;
class SelectionService;
class TerminalImage;
class TerminalContentRegion;
class TerminalDelegate;
struct CharacterMap;
struct ProgressReport;
struct TerminalContentSnapshot;
struct TerminalInnerState;
struct TerminalInputStateSnapshot;
struct TerminalPasteRequest;
struct WindowManipulationCommand;
enum class KittyClipboardLocation : uint8_t;
enum class TerminalPasteResult : uint8_t;

namespace printing {
class SlowPrint;
} // namespace printing

/// An item the variable-list `Terminal::sendResponse` can append: a single byte, a text (a string,
/// a string view or a C string), or bytes (a span, an array or a vector of `uint8_t`). Anything
/// else, a number or a `char` included, is refused when the call is compiled, so no reply can
/// silently lose a piece at run time.
template <typename T>
concept TerminalResponseItem = std::same_as<T, uint8_t> || std::convertible_to<const T&, std::string_view> ||
    std::convertible_to<const T&, std::span<const uint8_t>>;

/// A cell size in pixels, as hosts report it.
struct CellPixelSize
{
    int width = 0;
    int height = 0;

    friend constexpr bool operator==(CellPixelSize, CellPixelSize) = default;
};

// The parser's and the buffers' callbacks are private bases: they run with the terminal lock held,
// which their interfaces cannot state, so only the terminal itself (when it hands itself to its
// parser and buffers) and its friends may view it as one.
class Terminal : private ParserListener, private BufferTerminal, public std::enable_shared_from_this<Terminal>
{
public:
    using Collect = std::span<const uint8_t>;
    using Bytes = std::span<const uint8_t>;

    // --- Value types ---------------------------------------------------------------------------

    /// The conformance level set by DECSCL, in rising order.
    enum class TerminalConformance : uint8_t
    {
        vt100,
        vt200,
        vt300,
        vt400,
        vt500,
    };

    /// Who protects printed cells: nobody, DECSCA, or SPA/EPA.
    enum class CharacterProtectionMode : uint8_t
    {
        off,
        dec,
        iso,
    };

    enum class TerminalColorScheme : uint8_t
    {
        dark,
        light,
    };

    /// Mouse tracking requested by the program (MouseReportingState.h).
    using MouseMode = kestrovan::MouseMode;
    /// How mouse reports are encoded on the wire.
    using MouseProtocolEncoding = kestrovan::MouseProtocolEncoding;

    /// Which buffer a text extraction reads: the one in use, the normal or the alternate one.
    enum class BufferKind : uint8_t
    {
        active,
        normal,
        alt,
    };

    /// The text encodings a whole-buffer dump can be asked for.
    enum class TextEncoding : uint8_t
    {
        utf8,
        /// 7-bit ASCII.
        ascii,
        /// ISO-8859-1: the scalars U+0000 to U+00FF, one byte each.
        isoLatin1,
    };

    /// The answer of a mode report (DECRQM).
    enum class DECModeReportState : uint8_t
    {
        notRecognized = 0,
        set = 1,
        reset = 2,
        permanentlySet = 3,
        permanentlyReset = 4,
    };

    /// The four fields of a `BidiPresentationState`, as a set the bidi controls apply.
    struct BidiStateProperty : OptionSet<BidiStateProperty, uint8_t>
    {
        constexpr BidiStateProperty() = default;
        constexpr explicit BidiStateProperty(uint8_t raw) : OptionSet(raw) {}
        constexpr BidiStateProperty(OptionSet set) : OptionSet(set) {}

        static const BidiStateProperty supportMode;
        static const BidiStateProperty autodetectDirection;
        static const BidiStateProperty fallbackDirection;
        static const BidiStateProperty boxMirroring;
        static const BidiStateProperty allBidiStateProperties;
    };

    /// Whether replies use 7-bit or 8-bit C1 introducers, and the bytes of each.
    struct CC
    {
        bool send8bit = false;

        static constexpr std::array<uint8_t, 2> csi7{0x1B, '['};
        static constexpr std::array<uint8_t, 1> csi8{0x9B};
        static constexpr std::array<uint8_t, 2> dcs7{0x1B, 'P'};
        static constexpr std::array<uint8_t, 1> dcs8{0x90};
        static constexpr std::array<uint8_t, 2> osc7{0x1B, ']'};
        static constexpr std::array<uint8_t, 1> osc8{0x9D};
        static constexpr std::array<uint8_t, 2> st7{0x1B, '\\'};
        static constexpr std::array<uint8_t, 1> st8{0x9C};

        /// ESC [ or 0x9B.
        Bytes CSI() const { return send8bit ? Bytes(csi8) : Bytes(csi7); }
        /// ESC P or 0x90.
        Bytes DCS() const { return send8bit ? Bytes(dcs8) : Bytes(dcs7); }
        /// ESC ] or 0x9D.
        Bytes OSC() const { return send8bit ? Bytes(osc8) : Bytes(osc7); }
        /// ESC \ or 0x9C.
        Bytes ST() const { return send8bit ? Bytes(st8) : Bytes(st7); }
    };

    /// Bytes of an incomplete UTF-8 sequence carried from one printed run to the next.
    struct ReadingBuffer
    {
        std::vector<uint8_t> putbackBuffer;
    };

    /// Modes that are only remembered for DECRQM, and the DECSACE extent.
    struct ReportedOnlyState
    {
        std::set<int> decModes;
        int attributeChangeExtent = 0;
    };

    /// The kitty keyboard state of one screen: the current flags and the stack of earlier ones.
    struct KeyboardModeState
    {
        KittyKeyboardFlags flags;
        std::vector<KittyKeyboardFlags> stack;
    };

    struct Colors
    {
        Color foreground;
        Color background;
    };

    /// Which arena table ran out when a reclaim is asked for.
    enum class ArenaTable : uint8_t
    {
        styles,
        clusters,
    };

    using WindowManipulationCommand = kestrovan::WindowManipulationCommand;
    using ProgressReport = kestrovan::ProgressReport;

    static constexpr int MINIMUM_COLS = 2;
    static constexpr int MINIMUM_ROWS = 1;
    /// The distance between default tab stops.
    static constexpr int tabStopWidth = 8;

    // --- Construction ----------------------------------------------------------------------------

    /// Builds a terminal; `delegate` is held weakly.
    Terminal(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options);
    /// The usual way to make one: the terminal is shared by reference.
    static std::shared_ptr<Terminal> create(const std::shared_ptr<TerminalDelegate>& delegate,
                                            const TerminalOptions& options = TerminalOptions::defaults());
    /// Tells the clipboard protocol its terminal is gone and gives every payload atom back.
    ~Terminal() override;

    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    /// Puts modes, charsets, margins, attributes and mouse state back to their initial values;
    /// with `isReset` (RIS) also rebuilds the normal buffer and clears the alternate one.
    void setup(bool isReset) REQUIRES(terminalLock_);

    // --- Output from the child, size and resets ---------------------------------------------------

    /// Parses child output; deferred notifications are delivered when the outermost feed ends.
    void feed(std::span<const uint8_t> bytes) REQUIRES(terminalLock_);
    void feed(std::string_view text) REQUIRES(terminalLock_);
    /// Resizes the grid (at least `MINIMUM_COLS` x `MINIMUM_ROWS`), reflowing the normal buffer.
    void resize(int cols, int rows) REQUIRES(terminalLock_);
    /// The same with the cell size the host has committed to, for in-band size reports.
    void resize(int cols, int rows, std::optional<CellPixelSize> committedCellSize) REQUIRES(terminalLock_);
    /// The cell size in pixels the host now draws with.
    void updatePixelGeometry(int cellWidth, int cellHeight) REQUIRES(terminalLock_);
    /// RIS, as a host's reset command.
    void resetToInitialState() REQUIRES(terminalLock_);
    /// DECSTR, as a host's soft reset command.
    void softReset() REQUIRES(terminalLock_);
    /// Drops every line above the screen of the normal buffer.
    void clearScrollback() REQUIRES(terminalLock_);
    /// Changes the scrollback limit (absent: none).
    void changeScrollback(std::optional<int> limit) REQUIRES(terminalLock_);

    // --- What hosts do to the screen (TerminalInlineImages.cpp, TerminalScroll.cpp) ------------

    /// Shows a picture cut into strips, one per row from the cursor's row down, as inline images
    /// are shown: each strip is anchored at the cursor's column on the cursor's line, whose row is
    /// marked changed, and a line feed (which may scroll) moves to the next row. The cursor ends
    /// below the picture, in the column it started in.
    void insertImageRows(std::span<const std::shared_ptr<TerminalImage>> strips) REQUIRES(terminalLock_);
    /// Shows absolute row `row` (clamped into 0 ... the live screen's first row) at the top of the
    /// view; true when the view moved. The caller marks the rows it redraws.
    bool scrollViewportTo(int row) REQUIRES(terminalLock_);

    // --- Buffers and cells ----------------------------------------------------------------------
    // Readers: none of them changes the terminal, and the buffers and lines they hand out are
    // read-only. The terminal changes its buffers only through its own operations.

    /// The buffer in use.
    const Buffer& buffer() const TERMINAL_READER_UNCHECKED { return *_buffer; }
    /// The buffer in use, the normal or the alternate one.
    const Buffer& buffer(BufferKind kind) const TERMINAL_READER_UNCHECKED
    {
        return kind == BufferKind::normal ? *normalBuffer_ : kind == BufferKind::alt ? *altBuffer_ : *_buffer;
    }
    /// The buffer in use, shared: a reader may keep it to tell whether the terminal switched.
    std::shared_ptr<const Buffer> bufferPointer() const REQUIRES(terminalLock_) { return _buffer; }
    bool isCurrentBufferAlternate() const TERMINAL_READER_UNCHECKED { return _buffer == altBuffer_; }
    /// The cell at a screen column and row (counted from `yDisp`), absent outside the grid.
    std::optional<CharData> getCharData(int col, int row) const REQUIRES(terminalLock_);
    /// The line of screen row `row`, null outside 0 ..< rows.
    std::shared_ptr<const BufferLine> getLine(int row) const TERMINAL_READER_UNCHECKED;
    /// The line at absolute row `row` counted from the buffer's `linesTop`; null when outside.
    std::shared_ptr<const BufferLine> getScrollInvariantLine(int64_t row) const REQUIRES(terminalLock_);
    /// (x, y) of the active buffer's cursor.
    std::pair<int, int> getCursorLocation() const REQUIRES(terminalLock_);
    /// The interning of attributes and grapheme clusters both buffers share. Printing, SGR and
    /// reclaims change it, so it is read and written under the lock.
    const std::shared_ptr<CellArena>& cellArena() const REQUIRES(terminalLock_) { return cellArena_; }

    // --- Changed rows ---------------------------------------------------------------------------

    /// Marks screen row `y` changed (and, unless `scrolling`, its absolute row). Inline: the
    /// print path marks rows around every run.
    void updateRange(int y, bool scrolling = false) REQUIRES(terminalLock_)
    {
        if (!scrolling) {
            const int absolute = _buffer->settledYDisp() + y;
            if (absolute >= 0) {
                scrollInvariantRefreshStart_ = std::min(scrollInvariantRefreshStart_, absolute);
                scrollInvariantRefreshEnd_ = std::max(scrollInvariantRefreshEnd_, absolute);
            }
        }
        if (y >= 0) {
            refreshStart_ = std::min(refreshStart_, y);
            refreshEnd_ = std::max(refreshEnd_, y);
        }
    }
    /// Marks the whole screen changed.
    void updateFullScreen() REQUIRES(terminalLock_);
    /// Empties both update ranges; readers (`TerminalChangeReader`) still get the rows cleared.
    void clearUpdateRange() REQUIRES(terminalLock_);
    /// (start, end) of the screen rows changed, absent when none.
    std::optional<std::pair<int, int>> getUpdateRange() const REQUIRES(terminalLock_);
    std::optional<std::pair<int, int>> getScrollInvariantUpdateRange() const REQUIRES(terminalLock_);

    // --- Colours -----------------------------------------------------------------------------------

    /// The base colours, the palette in effect and its defaults, and the default colours.
    const TerminalPalette& palette() const TERMINAL_READER_UNCHECKED { return palette_; }
    /// The 256-entry palette in effect, with the program's OSC 4 changes.
    const std::vector<Color>& ansiColors() const TERMINAL_READER_UNCHECKED { return palette_.ansiColors(); }
    /// The palette entry, absent past the palette's end.
    std::optional<Color> paletteColor(int index) const REQUIRES(terminalLock_)
    {
        return palette_.color(index);
    }
    /// Installs 16 base colours and rebuilds the palette; any other count is ignored.
    void installPalette(const std::vector<Color>& colors) REQUIRES(terminalLock_);

    // The default colours. Each setter tells the delegate once; the delegate's default
    // implementation writes the colour back through the setter, which then only stores it.
    const Color& foregroundColor() const TERMINAL_READER_UNCHECKED { return palette_.foregroundColor(); }
    void setForegroundColor(const Color& color) REQUIRES(terminalLock_);
    const Color& backgroundColor() const TERMINAL_READER_UNCHECKED { return palette_.backgroundColor(); }
    void setBackgroundColor(const Color& color) REQUIRES(terminalLock_);
    const std::optional<Color>& cursorColor() const TERMINAL_READER_UNCHECKED
    {
        return palette_.cursorColor();
    }
    void setCursorColor(const std::optional<Color>& color) REQUIRES(terminalLock_);

    /// The colour scheme the host's appearance now has; with `notify` the program hears of it
    /// when it asked to (mode 2031).
    void updateColorScheme(TerminalColorScheme scheme, bool notify) REQUIRES(terminalLock_);
    /// Sends the colour-scheme report to a program that asked for updates.
    void notifyColorScheme() REQUIRES(terminalLock_);

    // --- Options and host settings ----------------------------------------------------------------

    int cols() const TERMINAL_READER_UNCHECKED { return _cols; }
    int rows() const TERMINAL_READER_UNCHECKED { return _rows; }
    /// (cols, rows).
    std::pair<int, int> getDims() const REQUIRES(terminalLock_) { return {_cols, _rows}; }
    const TerminalOptions& options() const TERMINAL_READER_UNCHECKED { return _options; }
    /// Replaces the options without side effects.
    void setOptions(const TerminalOptions& options) REQUIRES(terminalLock_) { _options = options; }
    bool enableOsc8Hyperlinks() const REQUIRES(terminalLock_) { return _options.enableOsc8Hyperlinks; }
    void setEnableOsc8Hyperlinks(bool value) REQUIRES(terminalLock_);
    Ansi256PaletteStrategy ansi256PaletteStrategy() const REQUIRES(terminalLock_)
    {
        return _options.ansi256PaletteStrategy;
    }
    void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy) REQUIRES(terminalLock_);
    /// Whether unknown sequences go unreported (the default); off, each is reported as "Info: ...".
    void setSilentLog(bool value) REQUIRES(terminalLock_) { silentLog_ = value; }
    /// The cursor style a host chose; DECSCUSR changes it too.
    void setCursorStyle(CursorStyle style) REQUIRES(terminalLock_);
    /// Which clicks may move the shell's cursor; a host setting.
    const SemanticPromptClickBehavior& semanticPromptClickBehavior() const REQUIRES(terminalLock_)
    {
        return semanticPromptClickBehavior_;
    }
    void setSemanticPromptClickBehavior(const SemanticPromptClickBehavior& behavior) REQUIRES(terminalLock_)
    {
        semanticPromptClickBehavior_ = behavior;
    }
    /// The view tells whether the user has scrolled it away from the bottom.
    bool userScrolling() const REQUIRES(terminalLock_) { return userScrolling_; }
    void setUserScrolling(bool value) REQUIRES(terminalLock_) { userScrolling_ = value; }

    /// The host, or null when it has gone.
    std::shared_ptr<TerminalDelegate> delegate() const { return tdel_.lock(); }
    /// Whether replies use 8-bit C1 introducers (S8C1T, DECSCL), and their bytes: a host that answers
    /// for the terminal (a window report) introduces its reply the same way.
    const CC& cc() const TERMINAL_READER_UNCHECKED { return cc_; }

    // --- Modes -----------------------------------------------------------------------------------

    /// The on/off modes (DEC private and ANSI modes, keypad and protection states); programs
    /// change them with sequences.
    const TerminalModeSet& modes() const REQUIRES(terminalLock_) { return modes_; }
    /// One on/off mode, e.g. `mode(TerminalMode::applicationCursor)`.
    bool mode(TerminalMode which) const TERMINAL_READER_UNCHECKED { return modes_[which]; }
    /// The bidi state in effect, kept with the modes; new lines of either buffer take it.
    const BidiPresentationState& currentBidiState() const REQUIRES(terminalLock_)
    {
        return modes_.bidiState();
    }
    /// The kitty keyboard flags of the active screen.
    KittyKeyboardFlags keyboardEnhancementFlags() const REQUIRES(terminalLock_)
    {
        return isCurrentBufferAlternate() ? keyboardModeAlt_.flags : keyboardModeNormal_.flags;
    }

    /// The mouse tracking, the report encoding, shift capture and alternate scroll.
    const MouseReportingState& mouseReporting() const REQUIRES(terminalLock_) { return mouse_; }
    MouseMode mouseMode() const TERMINAL_READER_UNCHECKED { return mouse_.mouseMode(); }
    MouseProtocolEncoding mouseProtocol() const REQUIRES(terminalLock_) { return mouse_.mouseProtocol(); }
    /// XTSHIFTESCAPE: Shift reaches the program in mouse reports.
    bool mouseShiftCapture() const REQUIRES(terminalLock_) { return mouse_.mouseShiftCapture(); }
    /// Mode 1007: the wheel sends cursor keys while the alternate screen is shown.
    bool alternateScrollMode() const REQUIRES(terminalLock_) { return mouse_.alternateScrollMode(); }

    /// Synchronized output (mode 2026) and its watchdog.
    const SynchronizedOutput& synchronizedOutput() const REQUIRES(terminalLock_)
    {
        return synchronizedOutput_;
    }
    bool synchronizedOutputActive() const TERMINAL_READER_UNCHECKED { return synchronizedOutput_.active(); }
    double synchronizedOutputTimeoutSeconds() const REQUIRES(terminalLock_)
    {
        return synchronizedOutput_.timeoutSeconds();
    }
    /// How long synchronized output may hold the screen before the watchdog ends it; a host
    /// setting, read when the watchdog is next armed.
    void setSynchronizedOutputTimeoutSeconds(double seconds) REQUIRES(terminalLock_)
    {
        synchronizedOutput_.setTimeoutSeconds(seconds);
    }
    /// The watchdog armed for update `generation` ran out: ends that update if it still holds the
    /// screen (a late firing does nothing).
    void synchronizedOutputWatchdogFired(uint64_t generation) REQUIRES(terminalLock_);

    // --- Focus, visibility, pointer -------------------------------------------------------------

    /// The focus the host gives; reported to a program that asked (mode 1004).
    void setTerminalFocus(bool focused) REQUIRES(terminalLock_);
    /// The focus the host last gave.
    bool reportedFocusState() const REQUIRES(terminalLock_) { return reportedFocusState_; }
    /// The visibility the host gives; reported to a program that asked (mode 2033).
    void setTerminalVisibility(TerminalVisibility visibility) REQUIRES(terminalLock_);
    /// The caller must hold the lock (else the program stops).
    void beginPrimaryPointerPress(Position at) REQUIRES(terminalLock_);
    void endPrimaryPointerPress() REQUIRES(terminalLock_);
    /// Stores the force-touch stage and pressure; answers the press position at stage 2.
    std::optional<Position> updatePressure(int stage, float pressureValue) REQUIRES(terminalLock_);

    // --- Selections -------------------------------------------------------------------------------

    /// Adds a selection to the registry (held weakly); takes the lock unless the caller holds it.
    void registerSelection(const std::shared_ptr<SelectionService>& selection);
    void unregisterSelection(const std::shared_ptr<SelectionService>& selection);

    // --- Handlers a host adds ---------------------------------------------------------------------

    /// A host closure for an OSC number, consulted before the built-in handler.
    void registerOscHandler(int code, EscapeSequenceParser::OscHandler handler) REQUIRES(terminalLock_);
    /// A host factory asked for the handler of every DCS sequence before the built-in ones; a
    /// handler it returns wins, null leaves the sequence to the terminal. An empty one removes it.
    void setDcsHandlerFactory(EscapeSequenceParser::DcsHandlerFactory factory) REQUIRES(terminalLock_);
    /// Observes every OSC the terminal receives; events arrive later on the OSC event queue.
    std::unique_ptr<TerminalOscObservation> observeOscEvents(TerminalOscEventDispatcher::Handler handler);

    // --- What programs told the host ---------------------------------------------------------------

    /// The titles, their stacks and the title modes.
    const TerminalTitles& titles() const REQUIRES(terminalLock_) { return titles_; }
    /// OSC 7 and OSC 6 as the program wrote them; absent until a trusted program sends one.
    const std::optional<std::string>& hostCurrentDirectory() const TERMINAL_READER_UNCHECKED
    {
        return hostCurrentDirectory_;
    }
    const std::optional<std::string>& hostCurrentDocument() const REQUIRES(terminalLock_)
    {
        return hostCurrentDocument_;
    }
    /// The program-status records (OSC 7501) in update order, each with `effectiveApp` resolved.
    std::vector<TerminalProgramStatus> programStatusRecords() const REQUIRES(terminalLock_)
    {
        return programStatusStore_.snapshots();
    }
    std::optional<TerminalProgramStatus> programStatus(const std::string& id) const REQUIRES(terminalLock_)
    {
        return programStatusStore_.snapshot(id);
    }
    /// Clears a record and its descendants (every record for the empty id); tells the host when
    /// anything went.
    void clearProgramStatus(const std::string& id) REQUIRES(terminalLock_);
    /// The child has ended or a new prompt opened: working and blocked records go.
    void programStatusProcessExited() REQUIRES(terminalLock_);

    // --- Snapshots (TerminalContentSnapshot.cpp, TerminalKittyGraphics.cpp) --------------------
    // The value types live in Kestrovan/ContentSnapshot.h, which callers include. The portable
    // render snapshot is built above the engine core, by `RenderSnapshotBuilder`
    // (Kestrovan/Portable/RenderSnapshotBuilder.h), from the const accessors and the update range.

    /// The input modes a host encodes keys and pastes with. Takes the terminal lock itself.
    TerminalInputStateSnapshot inputStateSnapshot() EXCLUDES(terminalLock_);
    /// The same for a caller that holds the lock (else the program stops).
    TerminalInputStateSnapshot inputStateSnapshotLocked() const REQUIRES(terminalLock_);
    /// The lines of a region of one buffer as text cells, with absolute row numbers and the
    /// cursor. Takes the terminal lock itself.
    TerminalContentSnapshot contentSnapshot(const TerminalContentRegion& region, BufferKind kind)
        EXCLUDES(terminalLock_);
    /// The same for a caller that holds the lock (else the program stops).
    TerminalContentSnapshot contentSnapshotLocked(const TerminalContentRegion& region, BufferKind kind) const
        REQUIRES(terminalLock_);
    /// The images and placements renderers draw this frame; needs the lock.
    KittyGraphicsRenderSnapshot kittyGraphicsRenderSnapshot() const REQUIRES(terminalLock_);
    /// Where animation time comes from and how the animation timer is armed (the uptime clock and
    /// the shared timer queue by default); a host or a test gives its own before images arrive.
    void setKittyAnimationClock(KittyAnimationClock clock) REQUIRES(terminalLock_)
    {
        kittyGraphicsState_.animationClock = std::move(clock);
    }

    // --- Input from the user (TerminalSemanticPrompts.cpp, TerminalClipboard.cpp) ---------------

    /// Bytes the user types: scanned for a submitted command line (`registerUserInput`), then handed
    /// to the delegate unchanged.
    void sendUserInput(Bytes data) REQUIRES(terminalLock_);
    /// Bytes the user sent by another way: scanned for a submission, which moves an `armed`
    /// command line of the active buffer to `submitted`. True when they submit one.
    bool registerUserInput(Bytes data) REQUIRES(terminalLock_);
    /// Pastes through the clipboard protocol object (made on first use).
    TerminalPasteResult paste(const TerminalPasteRequest& request, bool allowUnsafe) REQUIRES(terminalLock_);
    /// Asks the host again which clipboards it offers to the clipboard protocol.
    void refreshKittyClipboardCapabilities() REQUIRES(terminalLock_);
    /// Whether a paste from `location` would go out as a kitty paste event (the program asked for
    /// them and the host offers the clipboard), so a view fetches the clipboard's snapshot first.
    bool canSendKittyPasteEvent(KittyClipboardLocation location) REQUIRES(terminalLock_);
    /// Answers an OSC 52 read the host took on (`clipboardReadRequest`) with the clipboard's
    /// content for `selection`.
    void completeClipboardRead(std::string_view selection, std::span<const uint8_t> content)
        REQUIRES(terminalLock_);
    /// The queue the clipboard protocol moves host completions onto; without one it starts a
    /// serial queue of its own. Read when the protocol object is made, so a host (or a test) sets
    /// it before the first clipboard use.
    void setKittyClipboardCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue)
        REQUIRES(terminalLock_)
    {
        kittyClipboardCompletionQueue_ = std::move(queue);
    }
    /// Where paste-event tokens come from (random by default); a source that fails, or none,
    /// sends paste events without a token.
    void setKittyClipboardTokenGenerator(std::function<std::optional<std::string>()> generator)
        REQUIRES(terminalLock_)
    {
        kittyClipboardTokenGenerator_ = std::move(generator);
    }
    /// The monotonic nanosecond clock paste-event tokens expire by (the uptime clock by default).
    void setKittyClipboardClock(std::function<uint64_t()> clock) REQUIRES(terminalLock_)
    {
        kittyClipboardClock_ = std::move(clock);
    }

    // --- Shell integration (TerminalSemanticPrompts.cpp, TerminalPromptClick.cpp) ----------------

    /// The content of the cell at (column, absolute row) of the active buffer; absent outside it.
    std::optional<SemanticContent> semanticContent(Position at) const REQUIRES(terminalLock_);
    /// Where a line object now is in the active buffer; absent when it was recycled since
    /// `recycleGeneration` was read, or is no longer in the ring.
    std::optional<int> semanticRow(const BufferLine& forLineIdentity, uint64_t recycleGeneration) const
        REQUIRES(terminalLock_);
    /// Whether a click could move the shell's cursor; cheap, for the view's mouse-up.
    bool mightRouteSemanticPromptClick(SemanticPromptClickModifiers modifiers,
                                       const SemanticPromptPointerSnapshot& snapshot) const
        REQUIRES(terminalLock_);
    /// Sends the shell the keys (or click report) that move its cursor to a cell at (column,
    /// absolute row); true when the click was consumed.
    bool handleSemanticPromptClick(Position at, SemanticPromptClickModifiers modifiers)
        REQUIRES(terminalLock_);
    /// The same behind the snapshot gate: single clicks only, no drag, no selection.
    bool handleSemanticPromptClick(Position at, SemanticPromptClickModifiers modifiers,
                                   const SemanticPromptPointerSnapshot& snapshot) REQUIRES(terminalLock_);

    // --- Payloads (TerminalPayloadCollection.cpp) -------------------------------------------------

    /// Gives back the payload codes no cell of either buffer (scrollback included) and no active
    /// hyperlink uses any more, then waits for the held codes to double before the next run.
    void garbageCollectPayload() REQUIRES(terminalLock_);

    // --- Inner state and the lock -------------------------------------------------------------------

    /// The terminal's inner state as one value (TerminalInnerState.h), for tests and diagnostics:
    /// what no host reads, such as the saved modes, the conformance level and the input scanner.
    TerminalInnerState innerState() const TERMINAL_READER_UNCHECKED;

    /// The lock that guards all of the terminal's state. Returned from a const method so readers
    /// that only look can check it is held; locking the result locks the terminal.
    TerminalLock& terminalLock() const RETURN_CAPABILITY(terminalLock_) { return terminalLock_; }

protected:
    /// Called when the outermost feed ends after a scroll (or at once outside a feed). Empty here.
    virtual void scrollPositionChanged() REQUIRES(terminalLock_) {}
    /// Arms or cancels the synchronized-output watchdog; `ViewTerminal` forwards it to its host.
    virtual void applySynchronizedOutputWatchdog(bool active, uint64_t generation) REQUIRES(terminalLock_);
    /// Sends the bytes through the delegate, when there is one: input the user typed, pasted or
    /// clicked, which a host never drops.
    void sendBytes(std::span<const uint8_t> bytes) REQUIRES(terminalLock_);
    /// Sends a reply the terminal made by itself through the delegate's `sendReply`, which a host
    /// may bound for a child that does not read.
    void sendReplyBytes(std::span<const uint8_t> bytes) REQUIRES(terminalLock_);
    /// Replies to the child, built from pieces and sent once through `sendReplyBytes`.
    void sendResponse(std::string_view text) REQUIRES(terminalLock_);
    void sendResponse(std::span<const uint8_t> bytes) REQUIRES(terminalLock_);
    void sendResponse(std::span<const uint8_t> bytes, std::string_view text) REQUIRES(terminalLock_);
    void sendResponse(std::span<const uint8_t> first, std::span<const uint8_t> second)
        REQUIRES(terminalLock_);
    void sendResponse(std::span<const uint8_t> introducer, std::string_view body,
                      std::span<const uint8_t> end) REQUIRES(terminalLock_);
    /// The variable-list form: appends each item (byte arrays, texts, single bytes) and sends the
    /// whole once. An item of any other type does not compile. The fixed forms above are its
    /// common cases.
    template <TerminalResponseItem... Items>
    requires(sizeof...(Items) >= 1) void sendResponse(const Items&... items) REQUIRES(terminalLock_)
    {
        std::vector<uint8_t> out;
        (appendResponseItem(out, items), ...);
        sendReplyBytes(out);
    }
    /// Reports an unknown sequence as "Info: ..." unless `silentLog`.
    void logInfo(std::string_view message) const REQUIRES(terminalLock_);

private:
    /// `updateRange(first)` and `updateRange(second)` for two rows on the screen (at or above 0),
    /// in one step: a cursor move marks the row it leaves and the row it reaches.
    void updateRanges(int first, int second) REQUIRES(terminalLock_)
    {
        const int low = std::min(first, second);
        const int high = std::max(first, second);
        const int top = _buffer->settledYDisp();
        // After the first few moves of a redraw, both rows are mostly marked already.
        if (low >= refreshStart_ && high <= refreshEnd_ && top + low >= scrollInvariantRefreshStart_ &&
            top + high <= scrollInvariantRefreshEnd_)
            return;
        if (top + high >= 0) {
            scrollInvariantRefreshStart_ =
                std::min(scrollInvariantRefreshStart_, top + (top + low >= 0 ? low : high));
            scrollInvariantRefreshEnd_ = std::max(scrollInvariantRefreshEnd_, top + high);
        }
        refreshStart_ = std::min(refreshStart_, low);
        refreshEnd_ = std::max(refreshEnd_, high);
    }

    // The engine's types that work inside the terminal: the parse loop calls the handlers
    // directly, the slow print road and the kitty graphics engine write cells and placements, the
    // DCS and clipboard protocol objects send replies and read the modes they answer about, and
    // selection and search read the active buffer's lines the way its writers see them (a slot
    // not yet written gets its blank line).
    friend class DECRQSS;
    friend class XTGETTCAP;
    friend class DecPrivateModeTable;
    friend class EscapeSequenceParser;
    friend class KittyClipboardProtocol;
    friend class SearchEngine;
    friend class SearchLineCache;
    friend class SelectionService;
    friend class printing::SlowPrint;
    // A test-only hook (defined by the tests alone) that writes buffer state no sequence can
    // reach.
    friend struct TerminalTestAccess;
    // A reader takes its changed rows through the history below.
    friend class TerminalChangeReader;

    // --- Changed rows for readers (TerminalFeed.cpp) ------------------------------------------------

    /// Seals the pending changes and returns what was sealed after the first `seen` seals (the
    /// whole screen when `seen` is absent or forgotten); `seen` becomes the seal count.
    ChangedRows takeChangesSince(std::optional<uint64_t>& seen) REQUIRES(terminalLock_);
    /// What `updateRange(y)` marks, and what `updateFullScreen` marks.
    ChangedRows rowChange(int y) const REQUIRES(terminalLock_);
    ChangedRows wholeScreenChange() const REQUIRES(terminalLock_);

    // Steps several handlers of one family file share, each defined in its file and nested here
    // so they reach the inside like members do.
    struct ScrollSteps;         // TerminalScroll.cpp
    struct SemanticPromptSteps; // TerminalSemanticPrompts.cpp

    // --- Buffers (Terminal.cpp) --------------------------------------------------------------------

    /// The buffer in use, for the terminal's own members and the engine types that print and
    /// scroll for it.
    Buffer& activeBuffer() REQUIRES(terminalLock_) { return *_buffer; }
    const std::shared_ptr<Buffer>& activeBufferPointer() REQUIRES(terminalLock_) { return _buffer; }
    /// A new normal buffer at the current size; the active-buffer pointer is left alone.
    void resetNormalBuffer() REQUIRES(terminalLock_);
    /// Switches to the normal buffer, optionally clearing the alternate one.
    void activateNormalBuffer(bool clearAlt) REQUIRES(terminalLock_);
    /// Switches to the alternate buffer, filling it with blank lines.
    void activateAltBuffer() REQUIRES(terminalLock_);
    /// Resizes the normal buffer to the grid when a resize happened while it was inactive.
    void resizeNormalBufferToCurrentGridIfNeeded() REQUIRES(terminalLock_);
    /// Resizes the active buffer (and, when the normal one is active, the alternate one too).
    void resizeBuffers(int newColumns, int newRows) REQUIRES(terminalLock_);

    // --- Colours, modes and the current look (Terminal.cpp) ---------------------------------------

    /// Rebuilds the 256-colour palette from the installed colours, dropping OSC 4 changes.
    void rebuildAnsiPalette(bool notifyDelegate) REQUIRES(terminalLock_);
    /// Stores the mouse tracking mode and tells the delegate.
    void setMouseMode(MouseMode mode) REQUIRES(terminalLock_);
    const Attribute& currentAttribute() const REQUIRES(terminalLock_)
    {
        // SGR keeps only the key of the look; the attribute is spelled out when first read.
        if (curAttrStale_) {
            curAttr_ = curKey_.attribute();
            curAttrStale_ = false;
        }
        return curAttr_;
    }
    SemanticPromptClickMode semanticPromptClickMode() const REQUIRES(terminalLock_)
    {
        return _buffer->semanticPrompt().clickMode();
    }

    // --- Focus, visibility and selections (Terminal.cpp) ------------------------------------------

    /// CSI I or CSI O.
    void sendFocusReport() REQUIRES(terminalLock_);
    /// CSI ? 999 ; 1|2 n.
    void reportTerminalVisibility() REQUIRES(terminalLock_);
    /// Called by a registered selection when its `active` flag changes, to keep the count.
    void selectionActivityChanged(const SelectionService& selection, bool active) REQUIRES(terminalLock_);
    /// Deactivates the active selections a margin-limited scroll over these rows touches.
    void selectionsInvalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right)
        REQUIRES(terminalLock_);
    /// Repairs the wide-character seams at the margins of an absolute row before a column shift.
    void repairWideCellsForColumnRestrictedShift(int row) REQUIRES(terminalLock_);
    /// Adjusts every active registered selection for content moved by `lines` within top...bottom.
    void adjustSelectionsForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines) REQUIRES(terminalLock_);

    // --- Feed and replies (TerminalFeed.cpp) ----------------------------------------------------

    /// Marks two screen rows changed.
    void refresh(int startRow, int endRow) REQUIRES(terminalLock_);

    // --- Parser listener and dispatch (TerminalDispatch.cpp) ------------------------------------

    bool silentLog() const override REQUIRES(terminalLock_) { return silentLog_; }
    // Final, so that the parse loop the terminal instantiates for itself calls them directly.
    void handlePrintBorrowed(std::span<const uint8_t> bytes) final REQUIRES(terminalLock_);
    /// A run the parser found to be printable ASCII only (0x20-0x7E), which skips that test.
    [[gnu::noinline]] void handlePrintableAsciiBorrowed(std::span<const uint8_t> bytes)
        REQUIRES(terminalLock_);
    /// Every road of such a run but the common one: a column-switch run to end, a translating
    /// set, a pending sequence, a hyperlink, a wrap or anything else the cursor's row refuses.
    [[gnu::noinline]] void printAsciiRunAnyRoad(std::span<const uint8_t> bytes) REQUIRES(terminalLock_);
    /// Whether nothing but the cursor row's own state (a wrap, the margins, a wide character in
    /// the way) can keep a printable ASCII run from being stored straight into that row.
    bool asciiRunsMayTakeCursorRow() const REQUIRES(terminalLock_)
    {
        return !columnSwitchRun_.isOpen() && !charsets_.charset() && readingBuffer_.putbackBuffer.empty() &&
               !activeHyperlink();
    }
    void dispatchExecute(uint8_t code) final REQUIRES(terminalLock_);
    /// CR and then LF, which the parse loop found side by side: the same as dispatching the two,
    /// in one call. A full screen scrolling into a full scrollback, the end of most lines of
    /// output, goes straight to the recycle road without the checks of the two controls apart.
    void carriageReturnLineFeed() REQUIRES(terminalLock_);
    /// `count` LFs in a row, read by the parse loop: the same as dispatching them one by one.
    void lineFeeds(size_t count) REQUIRES(terminalLock_);
    void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) final REQUIRES(terminalLock_);
    void dispatchCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect) final
        REQUIRES(terminalLock_);
    /// CUP (CSI row ; col H) read whole by the parse loop: the same as dispatching it.
    void dispatchCursorPosition(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// EL 0 (CSI K or CSI 0 K) read whole by the parse loop: the same as dispatching it.
    void eraseToEndOfLine() REQUIRES(terminalLock_);
    /// DECSTBM (CSI top ; bottom r) read whole by the parse loop: the same as dispatching it.
    void dispatchScrollRegion(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// Two DECSTBMs in a row read whole by the parse loop, mostly a pager's reset right before
    /// its next region: the same as dispatching the two.
    void dispatchScrollRegionPair(const CsiParameters& first, const CsiParameters& second)
        REQUIRES(terminalLock_);
    /// CUP, the printable ASCII run right after it and, with `then`, the EL 0 right after that,
    /// read whole by the parse loop: the same as dispatching the three one by one.
    void placeAsciiAtCursorPosition(const CsiParameters& pars, std::span<const uint8_t> text, TextThen then)
        REQUIRES(terminalLock_);
    /// What a run of fields the parse loop reads one after another (each a CUP, the printable
    /// ASCII run right after it and maybe the EL 0 right after that) settles once for all of
    /// them: whether the modes let the buffer store them in one step, the cell of the current
    /// look, and the rows they mark changed and the cursor they leave, which go to the terminal
    /// when the run ends. No field changes what is settled at the start.
    struct AsciiFieldRun
    {
        uint64_t cellTemplate = 0;
        /// The lowest and highest screen row marked: the cursor's row at the start and every
        /// field's row.
        int lowRow = 0;
        int highRow = 0;
        /// The last field's row, -1 before the first, and the column after its run.
        int cursorRow = -1;
        int cursorEnd = 0;
        bool oneStep = false;
    };
    /// Starts a run of fields at the current state. This and the next two are inline in
    /// TerminalDispatch.cpp, the parse loop's file, the only one that calls them.
    inline AsciiFieldRun beginAsciiFieldRun() REQUIRES(terminalLock_);
    /// One field of `run`: CUP with the `count` (1 or 2) parameters `row` and `col`, `text` and,
    /// with `then`, EL 0, read whole by the parse loop: the same as dispatching the three one by
    /// one once the run ends.
    inline void placeAsciiFieldInRun(AsciiFieldRun& run, int64_t row, int64_t col, int count,
                                     std::span<const uint8_t> text, TextThen then) REQUIRES(terminalLock_);
    /// Ends `run`: its cursor and marks go to the terminal.
    inline void endAsciiFieldRun(const AsciiFieldRun& run) REQUIRES(terminalLock_);
    /// A field the buffer does not take in one step: `run` ends, the field is dispatched one
    /// control at a time, and the run that starts again after it is returned.
    [[gnu::noinline]] AsciiFieldRun placeAsciiFieldAnyRoad(const AsciiFieldRun& run, int64_t row, int64_t col,
                                                           int count, std::span<const uint8_t> text,
                                                           TextThen then) REQUIRES(terminalLock_);
    /// CUP, the printable ASCII run right after it and, with `then`, the EL 0 right after that,
    /// one by one.
    [[gnu::noinline]] void placeAsciiAtCursorPositionAnyRoad(const CsiParameters& pars,
                                                             std::span<const uint8_t> text, TextThen then)
        REQUIRES(terminalLock_);
    /// CSI 0 m or CSI m, read whole by the parse loop; `pars` holds its one parameter, 0. The
    /// same as dispatching the sequence.
    void dispatchSgrReset(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// An SGR sequence of one or two parameters without colons (`31`, `1;32`, `49`), read
    /// whole by the parse loop; `second` counts only when `count` is 2. The same as dispatching
    /// the sequence.
    void applyShortSgr(int64_t first, int64_t second, int count) REQUIRES(terminalLock_);
    /// An SGR sequence that only sets true colours with semicolons (`38;2;r;g;b`, `48;2;r;g;b`),
    /// read whole by the parse loop: each colour is 0x1000000 | 0xRRGGBB, or 0 when the sequence
    /// leaves it alone. The same as dispatching the sequence.
    void applyTrueColours(uint32_t foreground, uint32_t background) REQUIRES(terminalLock_);
    /// An SGR sequence that only sets one palette colour (`38;5;n`, or `48;5;n` when
    /// `background`), read whole by the parse loop. The same as dispatching the sequence.
    void applyPaletteColour(bool background, uint8_t index) REQUIRES(terminalLock_);
    /// The same followed by printing `text`, the one to three bytes up to the next control that
    /// the parse loop found after such a sequence: mostly the one character drawn in the new
    /// colours, which is written to the cursor cell in the same call when nothing in the way
    /// needs the print roads. The same as `applyTrueColours` and then the print handlers.
    [[gnu::noinline]] void applyTrueColoursAndPrint(uint32_t foreground, uint32_t background,
                                                    std::span<const uint8_t> text) REQUIRES(terminalLock_);
    /// `applyTrueColoursAndPrint` for the `run` bytes of `bytes` at `at`, then, as long as
    /// another whole true-colour sequence follows directly, the same for it and what follows it:
    /// a picture row or a rainbow line in one call. Answers the index after the last byte taken;
    /// a sequence it does not read whole (or too close to the end) is left to the parser there.
    [[gnu::noinline]] size_t applyTrueColourRun(uint32_t foreground, uint32_t background,
                                                std::span<const uint8_t> bytes, size_t at, size_t run)
        REQUIRES(terminalLock_);
    /// The coloured words after the one the parse loop just printed, from `at`: each SGR the
    /// loop reads whole without the parameter store (a reset, one or two short parameters, a
    /// palette colour, one or two true colours) and the printable ASCII run right after it, row
    /// after row as long as CR LF ends one and the next starts with such an SGR; the same as the
    /// loop's roads for them. Answers the index after the last byte taken; anything else, and a
    /// run the row does not take in one step, is left to the loop there (the run printed the
    /// general way first). The loop calls it after an SGR, whose colon mask it has cleared as
    /// the sequences here would.
    [[gnu::noinline]] size_t continueColouredWords(std::span<const uint8_t> bytes, size_t at)
        REQUIRES(terminalLock_);
    void dispatchOsc(int code, std::span<const uint8_t> data, uint8_t terminator) override
        REQUIRES(terminalLock_);
    void dispatchApc(uint8_t command, std::span<const uint8_t> content) override REQUIRES(terminalLock_);
    std::shared_ptr<DcsHandler> makeDcsHandler(std::span<const uint8_t> collect,
                                               const CsiParameters& parameters, uint8_t finalByte) override
        REQUIRES(terminalLock_);
    /// Every CSI final but "m": kept out of `dispatchCsi` so that the SGR test inlines into the
    /// terminal's parse loop without the large frame of the routing switch.
    void dispatchCsiOtherThanSgr(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect)
        REQUIRES(terminalLock_);

    /// OSC 0/2 and OSC 1: store the title and tell the delegate.
    void setTitle(const std::string& text) REQUIRES(terminalLock_);
    void setIconTitle(const std::string& text) REQUIRES(terminalLock_);

    // --- Character sets (TerminalCharSets.cpp) --------------------------------------------------

    /// G0-G3 and the invoked slot.
    const CharsetSlots& charsetSlots() const REQUIRES(terminalLock_) { return charsets_; }
    /// The set in effect for printing; null prints bytes unchanged. Inline: the print path reads
    /// it for every run.
    const CharacterMap* charset() const REQUIRES(terminalLock_) { return charsets_.charset(); }

    /// SI, SO, LS2, LS3 and friends: invoke slot `level`.
    void setgLevel(uint8_t level) REQUIRES(terminalLock_);
    /// Designates `set` into slot `slot`; the active set follows when that slot is invoked.
    void setgCharset(uint8_t slot, const CharacterMap* set) REQUIRES(terminalLock_);
    /// ESC ( x and its relatives: the intermediate and the final byte.
    void selectCharset(uint8_t intermediate, uint8_t final) REQUIRES(terminalLock_);

    // --- Print path (TerminalPrint.cpp) ---------------------------------------------------------

    void handlePrintBorrowed(std::span<const uint8_t> bytes, Buffer& buffer) REQUIRES(terminalLock_);
    /// The run of `bytes` from `start` to `end`, text with more than printable ASCII, then the
    /// lines after it while each is CR LF and such text: the same as the parser dispatching them
    /// one by one, with one print context across the lines. Answers where it stopped.
    [[gnu::noinline]] size_t printTextLines(std::span<const uint8_t> bytes, size_t start, size_t end)
        REQUIRES(terminalLock_);
    /// The run road: the first `ascii` bytes (at least one) are printable ASCII, written as one
    /// run; the rest goes the slow road.
    void printAsciiRun(std::span<const uint8_t> bytes, size_t ascii, Buffer& buffer) REQUIRES(terminalLock_);
    /// Prints a run of one narrow character that joins nothing; false, having printed nothing,
    /// when the run is not that.
    bool printLoneScalar(std::span<const uint8_t> bytes, Buffer& buffer) REQUIRES(terminalLock_);
    /// Prints `bytes` (after any put-back bytes) scalar by scalar; `previousScalar` precedes them.
    void handlePrintSlow(std::span<const uint8_t> bytes, std::optional<char32_t> previousScalar)
        REQUIRES(terminalLock_);
    /// The absolute row and column of the cell a combining scalar must join, if any.
    std::optional<Position> combiningTarget(Buffer& buffer) REQUIRES(terminalLock_);
    /// The cell's cluster with `appending` added, when that is still one grapheme cluster.
    std::optional<std::u32string> combinedGraphemeScalars(PackedCell cell, char32_t appending)
        REQUIRES(terminalLock_);
    static CharData makeCharData(const Attribute& attribute, int32_t code, int size);
    static CharData makeCharData(const Attribute& attribute, const Character& character, int size);
    static CharData makeCharData(const Attribute& attribute, char32_t scalar, int size);
    static void updateCharData(CharData& data, int32_t code, int size);
    static void updateCharData(CharData& data, const Character& character, int size);

    // --- Line feed and backspace (TerminalLineFeed.cpp) -----------------------------------------

    void cmdLineFeedBasic(Buffer& buffer) REQUIRES(terminalLock_);
    /// A line feed's move from screen row `oldY`, which is neither the region's bottom nor the
    /// last row, to the row below.
    void lineFeedMoveDown(Buffer& buffer, int oldY) REQUIRES(terminalLock_);
    /// `steps` line feeds' moves from screen row `y` down, none of them past the region's bottom
    /// (or, below the region, the last row).
    void lineFeedMovesDown(Buffer& buffer, int y, int steps) REQUIRES(terminalLock_);
    /// A line feed's move onto `line`, at screen row `y`, that is soft-wrapped or has another bidi
    /// state than the terminal's.
    [[gnu::cold]] void lineFeedMovedOnto(BufferLine& line, int y) REQUIRES(terminalLock_);
    /// The line feeds of a run that reaches the region's bottom or the screen's last row: moves
    /// and scrolls in turn, then the end of a pending wrap.
    void lineFeedsReachingBottom(Buffer& buffer, size_t count) REQUIRES(terminalLock_);
    /// Line feeds at the region's bottom: scrolls the region up by as many of the `count` as one
    /// step takes and answers how many that was (at least one).
    int lineFeedsScroll(Buffer& buffer, size_t count) REQUIRES(terminalLock_);
    void cmdCarriageReturn() REQUIRES(terminalLock_);
    void cmdBackspace() REQUIRES(terminalLock_);
    void clearEchoedEnterContinuationBeforeOutput() REQUIRES(terminalLock_);
    /// Blanks screen row `y` of the active buffer with the erase cell.
    void resetBufferLine(int y, bool clearImages, const std::optional<BidiPresentationState>& bidiState)
        REQUIRES(terminalLock_);

    // --- Scrolling (TerminalScroll.cpp) ---------------------------------------------------------

    /// Scrolls the scroll region of `buffer` (the active one) up one line.
    void scroll(Buffer& buffer, bool isWrapped) final REQUIRES(terminalLock_);
    /// Whether scrolling `buffer` takes the recycle road: the whole screen scrolls into the
    /// scrollback of a full ring, no margins are set and no reflow is deferred, and nothing names
    /// absolute rows (selections and image placements) or the row shown (a scrolled-back view).
    bool scrollRecyclesOldestLine(Buffer& buffer) REQUIRES(terminalLock_)
    {
        const CircularBufferLineList& ring = buffer.lines();
        return !buffer.hasPendingScrollbackReflow() && !modes_[TerminalMode::marginMode] &&
               buffer.hasScrollback() && buffer.scrollTop() == 0 && buffer.scrollBottom() == _rows - 1 &&
               ring.isFull() && buffer.yBase() + buffer.scrollBottom() == ring.count() - 1 &&
               scrollUnobserved();
    }
    /// Whether nothing names absolute rows (selections, image placements) or the row shown (a
    /// scrolled-back view), so a scroll may move lines without telling them.
    bool scrollUnobserved() const REQUIRES(terminalLock_)
    {
        return activeSelectionCount_ == 0 && !hasKittyPlacements_ && !userScrolling_;
    }
    /// The recycle road: the oldest line, blanked, becomes the screen's bottom row. Every screen
    /// row then shows another line; absolute rows do not change.
    [[gnu::always_inline]] void scrollRecyclingOldestLine(Buffer& buffer, bool isWrapped)
        REQUIRES(terminalLock_)
    {
        CircularBufferLineList& ring = buffer.lines();
        const BidiPresentationState bidiState =
            isWrapped ? ring[buffer.yBase() + buffer.scrollBottom()]->bidiState() : modes_.bidiState();
        ring.recycle(currentEraseBlankCell(), isWrapped, bidiState);
        buffer.addLinesTrimmed(1);
        buffer.setYDisp(buffer.yBase());
        refreshStart_ = std::min(refreshStart_, 0);
        refreshEnd_ = std::max(refreshEnd_, _rows - 1);
        notifyScrollPositionChanged();
    }
    /// Scrolls the region up `lines` rows where it lies (more than one only for unwrapped lines).
    void scrollInPlaceRegionFast(Buffer& buffer, int scrollTop, int scrollBottom, int topRow, int bottomRow,
                                 bool isWrapped, int lines = 1) REQUIRES(terminalLock_);
    /// The scroll of every kind; `markRows` false leaves marking the changed rows to the caller.
    void scrollGeneral(Buffer& buffer, bool isWrapped, int scrollTop, int scrollBottom, int topRow,
                       int bottomRow, bool markRows = true) REQUIRES(terminalLock_);
    void markScrolledRows(int scrollTop, int scrollBottom, bool hasScrollback) REQUIRES(terminalLock_);
    /// IND.
    void cmdIndex() REQUIRES(terminalLock_);
    /// RI.
    void reverseIndex() REQUIRES(terminalLock_);
    /// Sets `hasPendingScrollNotification`, delivering it at once outside a feed.
    void notifyScrollPositionChanged() REQUIRES(terminalLock_)
    {
        hasPendingScrollNotification_ = true;
        // Inside a feed the outermost feed delivers it once, when parsing ends.
        if (parseDepth_ == 0) {
            hasPendingScrollNotification_ = false;
            scrollPositionChanged();
        }
    }
    void cmdScrollUp(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdScrollDown(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdInsertLines(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDeleteLines(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdInsertChars(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDeleteChars(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDeleteColumns(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    /// DECIC, reached through the "}" router.
    void cmdInsertColumns(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void columnScroll(bool back, int at) REQUIRES(terminalLock_);
    void cmdRepeatPrecedingCharacter(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void hardenBidiScrollBoundaries(bool insertedAtTop, int count) REQUIRES(terminalLock_);
    void hardenBidiLineShiftBoundaries(int firstChangedRow, std::optional<int> firstMovedRow, int lastRow)
        REQUIRES(terminalLock_);

    // --- Cursor movement, tab stops, saved cursor (TerminalCursor.cpp) --------------------------

    /// Clamps the cursor into the grid (column at most cols - 1 with `limitCols`) and marks its row.
    void restrictCursor(bool limitCols = true) REQUIRES(terminalLock_);
    /// Absolute move relative to the origin (the region and margins in origin mode).
    void setCursor(int col, int row) REQUIRES(terminalLock_);
    void cursorForward(int count) REQUIRES(terminalLock_);
    void cursorBackward(int count) REQUIRES(terminalLock_);
    void reverseWrapBackward(int count) REQUIRES(terminalLock_);
    void cmdCursorUp(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdCursorDown(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdCursorCharAbsolute(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdCharPosAbsolute(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdHPositionRelative(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdLinePosAbsolute(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdVPositionRelative(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdCursorPosition(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdHVPosition(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdTabClear(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdSaveCursor(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdRestoreCursor(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdSelectCharacterPath(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdSelectPresentationDirection(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    /// DECBI (`back`) and DECFI.
    void columnIndex(bool back) REQUIRES(terminalLock_);
    int getTopVisibleRow() const REQUIRES(terminalLock_);

    // --- Erasing and line render modes (TerminalErase.cpp) --------------------------------------

    void cmdEraseInLine(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    /// EL 0 without protection: from the cursor to the end of its line.
    void eraseCursorLineToEnd(Buffer& active) REQUIRES(terminalLock_);
    void cmdEraseInDisplay(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void eraseUnprotectedInBufferLine(int y, int start, int end) REQUIRES(terminalLock_);
    void cmdEraseChars(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdScreenAlignmentPattern() REQUIRES(terminalLock_);
    void setLineRenderMode(BufferLine::RenderLineMode mode) REQUIRES(terminalLock_);

    // --- Margins and cursor style (TerminalMargins.cpp) -----------------------------------------

    void cmdSetMargins(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdSetScrollRegion(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdSetCursorStyle(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);

    // --- Bidi paragraph controls (TerminalBidi.cpp) ---------------------------------------------

    void applyCurrentBidiStateAtParagraphStart(BidiStateProperty properties) REQUIRES(terminalLock_);

    // --- SGR (TerminalSgr.cpp) ------------------------------------------------------------------

    void cmdCsiM(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    /// SGR with parameters other than a lone 0: folds them into the key of `curAttr`.
    void applySgrParameters(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// Makes `working` the current look after SGR folded it from `previous`: interns it and
    /// renews what erasing uses when the background changed. Answers whether the look was
    /// interned without having to free style ids first.
    bool adoptSgrLook(InternedAttributeKey working, InternedAttributeKey previous) REQUIRES(terminalLock_);
    /// `applyTrueColours` inline, for it and `applyTrueColoursAndPrint`; answers as
    /// `adoptSgrLook` does (true when the look stays).
    bool switchTrueColours(uint32_t foreground, uint32_t background) REQUIRES(terminalLock_);
    /// `applyShortSgr` and `applyPaletteColour` inline, for them and `continueColouredWords`.
    void foldShortSgr(int64_t first, int64_t second, int count) REQUIRES(terminalLock_);
    void foldPaletteColour(bool background, uint8_t index) REQUIRES(terminalLock_);
    /// Whether printing `text` after true colours may take the lone-cell road (none of the print
    /// roads' special cases is in effect), and the character it writes when so.
    bool loneCellCharacter(std::span<const uint8_t> text, char32_t& scalar) const REQUIRES(terminalLock_);
    /// What `applyTrueColoursAndPrint` does after switching the colours.
    void printAfterTrueColours(std::span<const uint8_t> text) REQUIRES(terminalLock_);
    /// The rest of `applyTrueColourRun` after its first sequence, with `Reader::read` reading
    /// the next ones; compiled once with the reader for SSSE3 built in and once with the other.
    template <typename Reader>
    size_t continueTrueColourRun(std::span<const uint8_t> bytes, size_t at) REQUIRES(terminalLock_);
    [[gnu::noinline]] size_t continueTrueColourRunScalar(std::span<const uint8_t> bytes, size_t at)
        REQUIRES(terminalLock_);
    [[gnu::noinline]] size_t continueTrueColourRunShuffled(std::span<const uint8_t> bytes, size_t at)
        REQUIRES(terminalLock_);
    /// Makes `attribute` the current look, with id `styleID`.
    void setCurrentAttribute(const Attribute& attribute, uint16_t styleID) REQUIRES(terminalLock_)
    {
        curAttr_ = attribute;
        curAttrStale_ = false;
        curKey_ = InternedAttributeKey::of(attribute);
        curStyleID_ = styleID;
    }

    // --- Modes (TerminalModes.cpp) --------------------------------------------------------------

    void cmdSetMode(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdResetMode(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void setMode(int mode, Collect collect) REQUIRES(terminalLock_);
    void resetMode(int mode, Collect collect) REQUIRES(terminalLock_);
    void cmdSavePrivateModes(const CsiParameters& pars) REQUIRES(terminalLock_);
    void cmdRestorePrivateModes(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// Final p: DECSTR, DECSCL, DECRQM.
    void csiPHandler(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDecRqm(const CsiParameters& pars, bool decMode) REQUIRES(terminalLock_);
    void cmdSoftReset() REQUIRES(terminalLock_);

    // --- Column-mode switches (TerminalColumnSwitch.cpp) ----------------------------------------

    /// DECCOLM: the grid goes to `columns` columns when mode 40 allows it.
    void changeColumnMode(int columns) REQUIRES(terminalLock_);
    /// Ends a run of column-mode switches (ColumnSwitchRun.h): reflows the normal buffer's
    /// scrollback if its reflow was deferred. Called by whatever reads or rewrites the scrollback
    /// rows, and at the end of each feed.
    void endColumnSwitchRun() REQUIRES(terminalLock_)
    {
        if (columnSwitchRun_.isOpen()) [[unlikely]]
            finishColumnSwitchRun();
    }
    /// Ends a watched run before any sequence other than those `ColumnSwitchRun::keptByCsi`
    /// accepts.
    void endWatchedColumnSwitchRun() REQUIRES(terminalLock_)
    {
        if (columnSwitchRun_.isOpen()) [[unlikely]] {
            if (columnSwitchRunWatched())
                finishColumnSwitchRun();
        }
    }
    /// The same before printing `bytes` bytes or executing a control: a watched run goes on
    /// while they cannot move a line into the scrollback.
    void endColumnSwitchRunBeforePrint(size_t bytes) REQUIRES(terminalLock_)
    {
        if (columnSwitchRun_.isOpen()) [[unlikely]] {
            if (columnSwitchRunWatched() &&
                !ColumnSwitchRun::keptByPrint(*_buffer, _buffer == normalBuffer_, bytes))
                finishColumnSwitchRun();
        }
    }
    void endColumnSwitchRunBeforeExecute(uint8_t code) REQUIRES(terminalLock_)
    {
        if (columnSwitchRun_.isOpen()) [[unlikely]] {
            if (columnSwitchRunWatched() &&
                !ColumnSwitchRun::keptByExecute(code, *_buffer, _buffer == normalBuffer_,
                                                modes_[TerminalMode::reverseWraparound] ||
                                                    modes_[TerminalMode::reverseWraparoundExtended]))
                finishColumnSwitchRun();
        }
    }
    /// Whether a selection or a view scrolled back names absolute rows, which the rows the
    /// deferred reflow drops off the ring would have to move too: a line scrolled into the
    /// scrollback then ends the run. Neither appears in the middle of a feed.
    bool columnSwitchRunWatched() const REQUIRES(terminalLock_)
    {
        return activeSelectionCount_ != 0 || userScrolling_;
    }
    void finishColumnSwitchRun() REQUIRES(terminalLock_);
    /// The normal buffer's share of a column-mode switch: its size, region, margins and cursor,
    /// and (unless DECNCSM applies) its blanked screen.
    void switchNormalBufferColumns() REQUIRES(terminalLock_);

    // --- Synchronized output and cursor visibility (TerminalSynchronizedOutput.cpp) -------------

    void beginSynchronizedOutput() REQUIRES(terminalLock_);
    void endSynchronizedOutput() REQUIRES(terminalLock_);
    /// Applies a due watchdog change now when no feed is under way (one will apply it otherwise).
    void applyDueSynchronizedOutputWatchdog() REQUIRES(terminalLock_);
    void showCursor() REQUIRES(terminalLock_);
    void hideCursor() REQUIRES(terminalLock_);

    // --- Resize, reset, conformance, scrollback (TerminalResize.cpp) ----------------------------

    void reportInBandSizeIfAvailable() REQUIRES(terminalLock_);
    void cmdSetConformanceLevel(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);

    // --- Device reports and queries (TerminalDeviceReports.cpp) ---------------------------------

    void cmdSendDeviceAttributes(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDeviceStatus(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdXTVERSION(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    /// The DCS handlers for DECRQSS ($ q) and XTGETTCAP (+ q); null discards the payload.
    std::shared_ptr<DcsHandler> makeDecrqssHandler() REQUIRES(terminalLock_);
    std::shared_ptr<DcsHandler> makeXtgettcapHandler() REQUIRES(terminalLock_);

    // --- Window operations (TerminalWindowOps.cpp) ----------------------------------------------

    /// CSI Ps ; Ps ; Ps t: hands window requests to the host, answers size reports and keeps the
    /// title stacks.
    void cmdWindowOptions(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// Final t: window operations without intermediates, title modes with ">".
    void csit(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdXtermTitleModeSet(const CsiParameters& pars) REQUIRES(terminalLock_);
    void cmdXtermTitleModeReset(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);

    // --- Rectangular areas (TerminalRectangles.cpp) ---------------------------------------------

    void csiCopyRectangularArea(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void csiX(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void csiZ(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void csiOpenBrace(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void csiCloseBrace(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDECRQCRA(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);
    void cmdDECERA(const CsiParameters& pars) REQUIRES(terminalLock_);
    void cmdSelectiveEraseRectangularArea(const CsiParameters& pars) REQUIRES(terminalLock_);
    /// DECCARA (CSI ... $ r) and DECRARA (CSI ... $ t): set or reverse visual attributes over the
    /// area DECSACE selects (`reportedOnly.attributeChangeExtent`: 2 a rectangle, else a stream).
    void cmdDECCARA(const CsiParameters& pars) REQUIRES(terminalLock_);
    void cmdDECRARA(const CsiParameters& pars) REQUIRES(terminalLock_);

    // --- Kitty keyboard (TerminalKittyKeyboard.cpp) ---------------------------------------------

    /// CSI u with a private marker; false when the sequence is not the protocol's.
    bool handleKittyKeyboardProtocol(const CsiParameters& pars, Collect collect) REQUIRES(terminalLock_);

    // --- OSC handlers (TerminalOsc.cpp) ---------------------------------------------------------

    void oscChangeOrQueryColorIndex(Bytes data) REQUIRES(terminalLock_);
    void oscSetCurrentDocument(Bytes data) REQUIRES(terminalLock_);
    void oscSetCurrentDirectory(Bytes data) REQUIRES(terminalLock_);
    void oscSetColors(Bytes data, int startAt) REQUIRES(terminalLock_);
    void oscClipboard(Bytes data) REQUIRES(terminalLock_);
    void oscResetColor(Bytes data) REQUIRES(terminalLock_);
    void oscNotification(Bytes data) REQUIRES(terminalLock_);
    std::optional<ProgressReport> parseProgressReport(Bytes data) REQUIRES(terminalLock_);
    void resetColor(int index) REQUIRES(terminalLock_);
    void resetAllColors() REQUIRES(terminalLock_);
    void reportColorScheme() REQUIRES(terminalLock_);

    // --- Clipboard protocol (TerminalClipboard.cpp, TerminalDispatch.cpp) -----------------------

    /// The clipboard protocol object, made on first use.
    KittyClipboardProtocol& kittyClipboard() REQUIRES(terminalLock_);
    /// A new paste-event token; absent without a generator or when it fails.
    std::optional<std::string> newKittyClipboardToken() const REQUIRES(terminalLock_)
    {
        return kittyClipboardTokenGenerator_ ? kittyClipboardTokenGenerator_() : std::nullopt;
    }
    /// The clipboard clock's time; absent without a clock.
    std::optional<uint64_t> kittyClipboardNow() const REQUIRES(terminalLock_)
    {
        return kittyClipboardClock_ ? std::optional<uint64_t>(kittyClipboardClock_()) : std::nullopt;
    }
    /// Turns the clipboard paste events (mode 5522) off, and forgets a saved value of the mode so
    /// that a restore cannot turn them on again: the host's clipboards they were asked for changed.
    void switchOffKittyPasteEvents() REQUIRES(terminalLock_)
    {
        modes_.set(TerminalMode::kittyPasteEventsEnabled, false);
        savedPrivateModes_.erase(5522);
    }

    // --- Hyperlinks and payload slots (TerminalHyperlinks.cpp) ----------------------------------

    /// OSC 8: opens (pending), replaces or closes the active hyperlink.
    void oscHyperlink(Bytes data) REQUIRES(terminalLock_);
    /// The payload code for the next printed cells: the active hyperlink's, registered on first
    /// use; absent when no link is active or the atom table is full. The print path calls it
    /// once per printed run while `activeHyperlink` is set and stamps `value_or(0)` on the cells.
    std::optional<uint16_t> resolveActiveHyperlink() REQUIRES(terminalLock_);
    /// The payload code of the active hyperlink for the cells about to be printed. A link that OSC 8
    /// only announced is registered here, the first time text is printed under it; 0 without a
    /// link or when no code could be had. Inline: most text carries no link, and then it is one test.
    uint16_t activePayloadCode() REQUIRES(terminalLock_)
    {
        return activeHyperlink_ ? resolveActiveHyperlink().value_or(0) : 0;
    }
    /// Registers a payload value in the atom table and holds its code; absent when the table is
    /// full.
    std::optional<TinyAtom> makePayload(std::any value) REQUIRES(terminalLock_);

    // --- Room for new links (TerminalPayloadCollection.cpp) -------------------------------------

    /// Makes room for a link of `textBytes` that found no code: when this terminal holds all it
    /// may, its oldest links go; when the process-wide table is full, the terminals holding the
    /// most codes give up their oldest links. True when a code was freed.
    bool makeRoomForLink(size_t textBytes) REQUIRES(terminalLock_);
    /// Takes the link codes off the oldest rows (their text stays) until those rows gave up a
    /// quarter of the codes and of the link text this terminal holds, then collects: rows in
    /// slots no screen shows, the scrollback, the screen not in use, then the one in use, each
    /// from the top. The open link keeps its code. Rows in view that changed are drawn again.
    /// Answers the number of codes given back to the atom table.
    int dropOldestLinks() REQUIRES(terminalLock_);
    /// `askLargerHolders`, and when none of them freed a code, this terminal's own oldest links.
    bool reclaimSharedLinkCodes() REQUIRES(terminalLock_);
    /// Has the live terminals holding more codes than this one, largest first, drop their oldest
    /// links, skipping any whose lock is busy, until one frees a code. True when one did.
    bool askLargerHolders() REQUIRES(terminalLock_);
    /// Whether this terminal holds far less than its share of the process-wide table (the table
    /// split evenly among the live terminals): it may take the last free codes, and when there
    /// are none it asks the larger holders again at each link.
    bool holdsLittleOfSharedTable() const REQUIRES(terminalLock_);
    /// Called before a terminal that holds more than a little takes one of the last free codes:
    /// makes room instead, among its own oldest links when it holds its share, else among the
    /// larger holders' first. True when a code was freed.
    bool leaveSharedReserve() REQUIRES(terminalLock_);
    /// Publishes the count of held codes for other terminals choosing whom to take codes from.
    void publishHeldCodeCount() REQUIRES(terminalLock_)
    {
        heldCodeCountForOthers_.store(payloads_.count, std::memory_order_relaxed);
    }
    /// Enters and leaves the process-wide list of terminals that codes can be taken from.
    void joinPayloadHolders();
    void leavePayloadHolders();

    // --- OSC 1337 (TerminalITerm2.cpp) ----------------------------------------------------------

    /// OSC 1337: the capability report and inline files; any other form goes to the host.
    void osciTerm2(Bytes data) REQUIRES(terminalLock_);

    // --- Semantic prompts (TerminalSemanticPrompts.cpp) -----------------------------------------

    /// OSC 133: the payload after "133;". Malformed payloads are ignored without a report.
    void oscSemanticPrompt(Bytes data) REQUIRES(terminalLock_);
    /// After every line feed and index: rows a line feed reaches while a command line is being
    /// edited join the active prompt group.
    void finishSemanticLineAdvance(Buffer& buffer, bool movedToNextLine) REQUIRES(terminalLock_);
    /// Both buffers leave the command line: input becomes `submitted`, prompt and input content
    /// becomes `output`.
    void semanticNoteAlternateScreenSwitch() REQUIRES(terminalLock_);
    /// Full and soft reset: both buffers forget their prompt state, and their screen rows lose
    /// their marks and hard-continuation groups.
    void resetSemanticPromptState() REQUIRES(terminalLock_);

    // --- Program status (TerminalProgramStatusHandlers.cpp) -------------------------------------

    /// OSC 7501; `terminator` is the byte that ended the OSC (0x07 BEL, else ESC \).
    void oscProgramStatus(Bytes data, uint8_t terminator) REQUIRES(terminalLock_);

    // --- Kitty graphics (TerminalKittyGraphics.cpp) ---------------------------------------------

    /// One APC G command: the bytes after "G".
    void handleKittyGraphics(Bytes content) REQUIRES(terminalLock_);
    /// Removes every placement record of the current screen state.
    void removePlacementRecords() REQUIRES(terminalLock_);
    void removeOrphanedKittyPlacements() REQUIRES(terminalLock_);
    /// Frees the images of the current screen state that no placement shows.
    void cleanupUnusedKittyImages() REQUIRES(terminalLock_);
    /// Drops every image, placement and pending transfer of both screens.
    void clearAllKittyImages() REQUIRES(terminalLock_);
    /// The column-mode change: the placements on the screen rows go, with their orphans and unused
    /// images.
    void clearKittyImagesOnScreen() REQUIRES(terminalLock_);
    /// The oldest line of a full ring was dropped.
    void trimKittyPlacementRows() REQUIRES(terminalLock_);
    /// Content moved `delta` rows inside the region (absolute rows `top`...`bottom`, columns
    /// `left`...`right`).
    void scrollKittyPlacementsInMargins(int top, int bottom, int left, int right, int delta)
        REQUIRES(terminalLock_);
    /// Advances the animations and arms the timer for the next frame.
    void scheduleKittyAnimationTimer() REQUIRES(terminalLock_);
    /// The images, placements and pending transfer of both screens, their placement rows settled
    /// first (for `innerState`). Only `KittyGraphicsEngine` changes them.
    const KittyGraphicsState& kittyGraphicsState() const REQUIRES(terminalLock_);
    /// Rises each time the animation timer is scheduled; an armed timer item whose ticket holds an
    /// older serial does nothing.
    uint64_t kittyAnimationTimerSerial() const REQUIRES(terminalLock_) { return kittyAnimationTimerSerial_; }

    // --- State read by hosts and by other parts of the engine ----------------------------------
    // Each is changed by the control functions and host calls above; these only read it.

    /// The pixel size the host last gave (or answered), for in-band size reports.
    const std::optional<TerminalPixelGeometry>& pixelGeometry() const REQUIRES(terminalLock_)
    {
        return pixelGeometry_;
    }
    /// The style DECSCUSR 0 restores: the options' cursor style at construction.
    CursorStyle defaultCursorStyle() const REQUIRES(terminalLock_) { return defaultCursorStyle_; }
    /// The conformance level DECSCL set.
    TerminalConformance conformance() const REQUIRES(terminalLock_) { return conformance_; }

    /// Gives back the arena ids no cell of either buffer, the current style or the erase cells
    /// use (TerminalArenaReclaim.cpp). When that frees too little, the oldest scrollback lines
    /// give up their styles or clusters. Runs only as often as its cost is repaid; true when it
    /// ran and `table` has room now. The print path calls it when the cluster table is full.
    bool reclaimCellArena(ArenaTable table) REQUIRES(terminalLock_);
    /// The arena id of `currentAttribute()`, given to printed cells. Inline: read for every run.
    uint16_t curStyleID() const REQUIRES(terminalLock_) { return curStyleID_; }
    /// The attribute erased cells get: the current attribute's background only.
    const Attribute& currentEraseAttribute() const REQUIRES(terminalLock_)
    {
        if (eraseAttributeStale_) [[unlikely]] {
            currentEraseAttribute_ = eraseKey_.attribute();
            eraseAttributeStale_ = false;
        }
        return currentEraseAttribute_;
    }
    /// The packed empty cell and space cell of the erase attribute. SGR only records the erase
    /// attribute; its style id is interned here, on the first erase, scroll or insertion after it,
    /// since most SGR sequences that change the background are never followed by one.
    PackedCell currentEraseBlankCell() const REQUIRES(terminalLock_)
    {
        if (eraseCellsStale_) [[unlikely]]
            refreshEraseCells();
        return currentEraseBlankCell_;
    }
    PackedCell currentEraseSpaceCell() const REQUIRES(terminalLock_)
    {
        if (eraseCellsStale_) [[unlikely]]
            refreshEraseCells();
        return currentEraseSpaceCell_;
    }
    /// Bytes of an incomplete UTF-8 sequence carried to the next printed run.
    const ReadingBuffer& readingBuffer() const REQUIRES(terminalLock_) { return readingBuffer_; }
    /// How deeply `feed` calls are nested (0 outside a feed).
    int parseDepth() const REQUIRES(terminalLock_) { return parseDepth_; }

    /// Who protects printed cells: nobody, DECSCA or SPA/EPA.
    CharacterProtectionMode characterProtectionMode() const REQUIRES(terminalLock_)
    {
        return characterProtectionMode_;
    }
    /// The colour scheme the host last reported, for CSI ? 996 n and mode 2031.
    TerminalColorScheme colorScheme() const REQUIRES(terminalLock_) { return colorScheme_; }
    /// The DEC private modes CSI ? s saved, by number.
    const std::map<int, bool>& savedPrivateModes() const REQUIRES(terminalLock_)
    {
        return savedPrivateModes_;
    }
    /// The modes only remembered for DECRQM, and the DECSACE extent.
    const ReportedOnlyState& reportedOnly() const REQUIRES(terminalLock_) { return reportedOnly_; }
    /// The kitty keyboard state of each screen.
    const KeyboardModeState& keyboardModeNormal() const REQUIRES(terminalLock_)
    {
        return keyboardModeNormal_;
    }
    const KeyboardModeState& keyboardModeAlt() const REQUIRES(terminalLock_) { return keyboardModeAlt_; }

    /// The OSC 8 link being printed, if any.
    const std::optional<ActiveHyperlink>& activeHyperlink() const REQUIRES(terminalLock_)
    {
        return activeHyperlink_;
    }
    /// The payload atoms the cells of this terminal hold.
    const PayloadState& payloads() const REQUIRES(terminalLock_) { return payloads_; }

    // The kitty graphics engine is a short-lived view made on the stack for each kitty call; it
    // owns the rules of the kitty state below and keeps `hasKittyPlacements_` and the animation
    // timer serial in step with it.
    friend class KittyGraphicsEngine;

    /// Appends one item of the variable-list `sendResponse`; the concept has already checked that
    /// it is one of the three kinds.
    template <TerminalResponseItem T> static void appendResponseItem(std::vector<uint8_t>& out, const T& item)
    {
        if constexpr (std::same_as<T, uint8_t>) {
            out.push_back(item);
        } else if constexpr (std::convertible_to<const T&, std::string_view>) {
            const std::string_view text = item;
            out.insert(out.end(), text.begin(), text.end());
        } else {
            const std::span<const uint8_t> bytes = item;
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }

    /// Fills `currentEraseBlankCell` and `currentEraseSpaceCell` from the erase style id.
    void rebuildEraseCells(uint16_t eraseStyleID) REQUIRES(terminalLock_);
    /// `arena.intern(key)`, reclaiming ids when the style table is full.
    std::optional<uint16_t> internStyle(const InternedAttributeKey& key) REQUIRES(terminalLock_);
    /// Makes `attribute` the erase attribute (not its cells: `rebuildEraseCells` does that).
    void setEraseAttribute(const Attribute& attribute) REQUIRES(terminalLock_)
    {
        currentEraseAttribute_ = attribute;
        eraseAttributeStale_ = false;
    }
    /// Interns `currentEraseAttribute()` and rebuilds the erase cells from it.
    void refreshEraseCells() const REQUIRES(terminalLock_);
    /// Builds a buffer of the current size sharing the arena (with scrollback for the normal one).
    std::shared_ptr<Buffer> makeBuffer(std::optional<int> scrollback) REQUIRES(terminalLock_);
    void resizeNormalBufferKeepingSavedRow(int newColumns, int newRows) REQUIRES(terminalLock_);
    /// The same to `newColumns` columns with the scrollback's reflow deferred, which opens a run
    /// of column switches (`ColumnSwitchRun`); only where `Buffer::canDeferColumnSwitch` allows.
    void resizeNormalBufferDeferringScrollback(int newColumns) REQUIRES(terminalLock_);
    bool isRegistered(const SelectionService& selection) const REQUIRES(terminalLock_);

    // Mode switches with effects beyond storing the mode (TerminalModes.cpp, TerminalCursor.cpp);
    // the DEC private modes' rows (DecPrivateModeTable.cpp) call them.
    /// SM/RM for one ANSI mode; false when the mode is not one of ours.
    bool applyAnsiMode(int mode, bool value) REQUIRES(terminalLock_);
    /// DECSCNM: the whole screen changes colour, so only a real change is announced.
    void setReverseColors(bool value) REQUIRES(terminalLock_);
    /// BDSM (ANSI mode 8): whether the terminal runs the implicit bidi algorithm.
    void setBidiSupportMode(BidiSupportMode mode) REQUIRES(terminalLock_);
    /// SCP and SPD: the fallback direction of the current bidi state.
    void setParagraphDirection(BidiDirection direction) REQUIRES(terminalLock_);

    // --- State ------------------------------------------------------------------------------------
    // Read through the accessors above; written by the terminal's own members only (and the kitty
    // state by the kitty graphics engine).

    // Kitty graphics and clipboard. They come first so that the print path's state below keeps
    // its offsets, and so its cache lines, in the object.
    KittyGraphicsState kittyGraphicsState_ GUARDED_BY(terminalLock_);
    bool hasKittyPlacements_ GUARDED_BY(terminalLock_) = false;
    uint64_t kittyAnimationTimerSerial_ GUARDED_BY(terminalLock_) = 0;
    std::shared_ptr<KittyClipboardProtocol> kittyClipboardProtocol_ GUARDED_BY(terminalLock_);
    std::function<std::optional<std::string>()> kittyClipboardTokenGenerator_ GUARDED_BY(terminalLock_);
    std::function<uint64_t()> kittyClipboardClock_ GUARDED_BY(terminalLock_);

    // Size and geometry.
    int _cols GUARDED_BY(terminalLock_) = 80;
    int _rows GUARDED_BY(terminalLock_) = 25;
    std::optional<TerminalPixelGeometry> pixelGeometry_ GUARDED_BY(terminalLock_);

    // Buffers and cells. The arena comes first: the buffers are built on it. What the print path
    // reads for every run (the active buffer, the set in effect, the put-back bytes, the style and
    // link of printed cells, the update range) and the modes sit together, as they did when they
    // were neighbouring fields, so a run touches as few cache lines of the terminal as before.
    std::shared_ptr<CellArena> cellArena_ GUARDED_BY(terminalLock_);
    std::shared_ptr<Buffer> normalBuffer_ GUARDED_BY(terminalLock_);
    std::shared_ptr<Buffer> altBuffer_ GUARDED_BY(terminalLock_);
    /// The active buffer; always one of the two.
    std::shared_ptr<Buffer> _buffer GUARDED_BY(terminalLock_);
    CharsetSlots charsets_ GUARDED_BY(terminalLock_);
    TerminalModeSet modes_ GUARDED_BY(terminalLock_);
    std::optional<ActiveHyperlink> activeHyperlink_ GUARDED_BY(terminalLock_);
    // The current look is its key, `curKey_`: SGR folds parameters into the key and interns it,
    // and nearly every SGR starts from the key the previous one left. `curAttr_` spells the key
    // out as an attribute only when someone reads it (`currentAttribute`), since SGR runs far
    // more often than anything that needs the attribute.
    InternedAttributeKey curKey_ GUARDED_BY(terminalLock_);
    mutable Attribute curAttr_ GUARDED_BY(terminalLock_);
    mutable bool curAttrStale_ GUARDED_BY(terminalLock_) = false;
    uint16_t curStyleID_ GUARDED_BY(terminalLock_) = 0;
    // The last character `printLoneScalar` found to be one column wide, without grapheme
    // properties and never joining, and its two or three bytes with their count in the top byte
    // (0 before any): a picture repeats one half block throughout.
    char32_t plainNarrowScalar_ GUARDED_BY(terminalLock_) = 0;
    uint32_t plainNarrowBytes_ GUARDED_BY(terminalLock_) = 0;
    // SGR records the erase look as a key only (`eraseKey_`, `eraseAttributeStale_`): pictures
    // drawn in half blocks change the background on every cell and seldom erase between them.
    mutable Attribute currentEraseAttribute_ GUARDED_BY(terminalLock_);
    mutable bool eraseAttributeStale_ GUARDED_BY(terminalLock_) = false;
    InternedAttributeKey eraseKey_ GUARDED_BY(terminalLock_);
    // Built from `currentEraseAttribute_` when first read after SGR changed it (`eraseCellsStale_`).
    mutable PackedCell currentEraseBlankCell_ GUARDED_BY(terminalLock_);
    mutable PackedCell currentEraseSpaceCell_ GUARDED_BY(terminalLock_) =
        PackedCell::makeScalar(' ', 0, PackedCell::WidthState::single, false, 0, 0);
    mutable bool eraseCellsStale_ GUARDED_BY(terminalLock_) = false;
    ReadingBuffer readingBuffer_ GUARDED_BY(terminalLock_);
    // The changed screen rows and the same in absolute rows; empty while start > end.
    int refreshStart_ GUARDED_BY(terminalLock_) = std::numeric_limits<int>::max();
    int refreshEnd_ GUARDED_BY(terminalLock_) = -1;
    int scrollInvariantRefreshStart_ GUARDED_BY(terminalLock_) = std::numeric_limits<int>::max();
    int scrollInvariantRefreshEnd_ GUARDED_BY(terminalLock_) = -1;
    // The pending changes sealed when a reader took them or a host cleared them.
    ChangeHistory changeHistory_ GUARDED_BY(terminalLock_);
    bool userScrolling_ GUARDED_BY(terminalLock_) = false;
    bool hasPendingScrollNotification_ GUARDED_BY(terminalLock_) = false;
    std::unique_ptr<EscapeSequenceParser> parser_ GUARDED_BY(terminalLock_);
    int parseDepth_ GUARDED_BY(terminalLock_) = 0;
    /// Column-mode switches (DECCOLM) within one feed (ColumnSwitchRun.h).
    ColumnSwitchRun columnSwitchRun_ GUARDED_BY(terminalLock_);
    /// Set while a deferred switch resizes the grid: the normal buffer is then left as it is.
    bool keepNormalBufferInResize_ GUARDED_BY(terminalLock_) = false;

    // The host, options and configuration.
    std::weak_ptr<TerminalDelegate> tdel_;
    TerminalOptions _options GUARDED_BY(terminalLock_);
    bool silentLog_ GUARDED_BY(terminalLock_) = true;
    CursorStyle defaultCursorStyle_ GUARDED_BY(terminalLock_) = CursorStyle::blinkBlock;
    TerminalConformance conformance_ GUARDED_BY(terminalLock_) = TerminalConformance::vt500;
    CC cc_ GUARDED_BY(terminalLock_);

    // The state types with rules of their own.
    TerminalTitles titles_ GUARDED_BY(terminalLock_);
    MouseReportingState mouse_ GUARDED_BY(terminalLock_);
    TerminalPalette palette_ GUARDED_BY(terminalLock_);
    // Re-entrancy guards of the three colour setters.
    bool settingFgColor_ GUARDED_BY(terminalLock_) = false;
    bool settingBgColor_ GUARDED_BY(terminalLock_) = false;
    bool settingCursorColor_ GUARDED_BY(terminalLock_) = false;
    CharacterProtectionMode characterProtectionMode_ GUARDED_BY(terminalLock_) = CharacterProtectionMode::off;
    TerminalColorScheme colorScheme_ GUARDED_BY(terminalLock_) = TerminalColorScheme::dark;
    std::map<int, bool> savedPrivateModes_ GUARDED_BY(terminalLock_);
    ReportedOnlyState reportedOnly_ GUARDED_BY(terminalLock_);
    KeyboardModeState keyboardModeNormal_ GUARDED_BY(terminalLock_);
    KeyboardModeState keyboardModeAlt_ GUARDED_BY(terminalLock_);
    SemanticPromptClickBehavior semanticPromptClickBehavior_ GUARDED_BY(terminalLock_);

    SynchronizedOutput synchronizedOutput_ GUARDED_BY(terminalLock_);

    // Host state and events.
    std::optional<std::string> hostCurrentDirectory_ GUARDED_BY(terminalLock_);
    std::optional<std::string> hostCurrentDocument_ GUARDED_BY(terminalLock_);
    bool reportedFocusState_ GUARDED_BY(terminalLock_) = true;
    TerminalVisibility reportedVisibility_ GUARDED_BY(terminalLock_) = TerminalVisibility::potentiallyVisible;
    int pressureStage_ GUARDED_BY(terminalLock_) = 0;
    float pressure_ GUARDED_BY(terminalLock_) = 0;
    std::optional<Position> primaryPointerPressLocation_ GUARDED_BY(terminalLock_);
    TerminalOscEventDispatcher oscEventDispatcher_;
    TerminalProgramStatusStore programStatusStore_ GUARDED_BY(terminalLock_);
    std::vector<std::weak_ptr<SelectionService>> selections_ GUARDED_BY(terminalLock_);
    int activeSelectionCount_ GUARDED_BY(terminalLock_) = 0;

    // Payloads.
    PayloadState payloads_ GUARDED_BY(terminalLock_);
    /// `payloads_.count` as last published, read by other terminals without this one's lock.
    std::atomic<int> heldCodeCountForOthers_{0};
    SemanticInputScanner semanticInputScanner_ GUARDED_BY(terminalLock_);

    // Arena reclaims (cold: only a full table reads them). A reclaim scans every cell, so after
    // one that freed little the next waits for this many refused interns (counted in
    // `arenaRefusals_`), a share of the cells it scanned.
    uint64_t arenaRefusals_ GUARDED_BY(terminalLock_) = 0;
    uint64_t arenaRefusalsBeforeReclaim_ GUARDED_BY(terminalLock_) = 0;
    // Mutable so that `terminalLock()` can hand it out from const readers.
    mutable TerminalLock terminalLock_;
    // Given by the host before the clipboard protocol object is made; kept after the lock so the
    // rest of the object keeps its layout.
    std::shared_ptr<platform::DispatchQueue> kittyClipboardCompletionQueue_ GUARDED_BY(terminalLock_);
};

inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::supportMode{1};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::autodetectDirection{2};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::fallbackDirection{4};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::boxMirroring{8};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::allBidiStateProperties{15};

} // namespace kestrovan
