// The emulator: one `Terminal` per terminal, shared by reference.
//
// It owns the normal and the alternate screen buffers and the cell arena they share, the
// escape-sequence parser, the modes, colours, titles, payload table and protocol states, and a weak
// reference to its host (`TerminalDelegate`). Bytes from the child enter through `feed`; the parser
// calls back into this class (it is the parser's `ParserListener`), which routes each control
// function to its handler. Replies leave through `sendResponse` and the delegate's `send`.
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
//   TerminalModes.cpp          SM/RM, DEC private modes, DECRQM, DECSTR, DECCOLM, synchronized
//                              output and cursor visibility
//   TerminalResize.cpp         resize, pixel geometry, in-band size reports, RIS, DECSCL,
//                              scrollback size
//   TerminalSemanticPrompts.cpp  OSC 133 prompt marks, the semantic reactions to line feeds,
//                              screen switches and resets, and the view queries on prompt marks
//   TerminalSubmissionScan.cpp  the scan of user input for a submitted command line
//   TerminalPromptClick.cpp    click-to-move inside a command line
//   TerminalKittyKeyboard.cpp  the kitty keyboard protocol's flags: push, pop, set and query
//   TerminalWindowOps.cpp      window operations (CSI t), the title stacks and title modes
//   TerminalRectangles.cpp     rectangular areas (DECCRA, DECFRA, DECERA, DECSERA, DECCARA,
//                              DECRARA), the checksum report, DECSACE and their routers
//   TerminalOsc.cpp            OSC palette, default colours, directory and document, clipboard,
//                              notifications, progress; the colour-scheme report
//   TerminalHyperlinks.cpp     OSC 8 and the payload codes printed cells carry
//   TerminalLinks.cpp          the link under a cell: OSC 8 runs and implicit URLs and paths
//   TerminalITerm2.cpp         OSC 1337
//   TerminalProgramStatusHandlers.cpp  OSC 7501 and the program-status records
//   TerminalDeviceReports.cpp  DA1, DA2, DSR, XTVERSION and the DECRQSS and XTGETTCAP handlers
//                              (DecrqssHandler, XtgettcapHandler, with KestrovanTerminfo)
//   TerminalClipboard.cpp      paste and the clipboard capabilities, forwarded to the kitty
//                              clipboard protocol object
//   TerminalContentSnapshot.cpp  the content and input-state snapshots, and a live line's
//                              display text
//   TerminalHostInput.cpp      input from hosts without a view: keys by web key names, text,
//                              pastes and clipboard-read answers
//   TerminalPayloadCollection.cpp  giving back payload codes no cell uses any more
//   TerminalKittyGraphics.cpp  the kitty graphics entry points, forwarded to KittyGraphicsEngine
//   TerminalTextExtraction.cpp the text of rows, ranges and whole buffers
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/BufferTerminal.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/CharData.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/CharsetSlots.h"
#include "Kestrovan/Color.h"
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
#include "Kestrovan/SemanticPromptClickBehavior.h"
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
class Regex;
} // namespace platform

namespace kestrovan {

class KittyClipboardProtocol;
class Line;
class SelectionService;
class TerminalContentRegion;
class TerminalDelegate;
struct CharacterMap;
struct ImplicitLineMap;
struct LinkLookupLocation;
struct LinkMatch;
struct LinkRowEdgeInfo;
struct ProgressReport;
struct TerminalContentSnapshot;
struct TerminalInputStateSnapshot;
struct TerminalPasteRequest;
struct WindowManipulationCommand;
enum class LinkLookupMode : uint8_t;
enum class TerminalPasteResult : uint8_t;

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

class Terminal : public ParserListener, public BufferTerminal, public std::enable_shared_from_this<Terminal>
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

    /// The input scanner state of semantic prompt tracking.
    enum class SemanticScanState : uint8_t
    {
        ground,
        escape,
        csi,
        ss3,
    };

    struct SynchronizedOutputWatchdogCounters
    {
        int armed = 0;
        int rearmed = 0;
        int cancelled = 0;
        int fired = 0;
    };

    struct Colors
    {
        Color foreground;
        Color background;
    };

    using WindowManipulationCommand = kestrovan::WindowManipulationCommand;
    using ProgressReport = kestrovan::ProgressReport;

    static constexpr int MINIMUM_COLS = 2;
    static constexpr int MINIMUM_ROWS = 1;

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
    void setup(bool isReset);

    // --- Buffers -----------------------------------------------------------------------------------

    Buffer& buffer() { return *_buffer; }
    const Buffer& buffer() const { return *_buffer; }
    const std::shared_ptr<Buffer>& bufferPointer() { return _buffer; }
    std::shared_ptr<const Buffer> bufferPointer() const { return _buffer; }
    bool isCurrentBufferAlternate() const { return _buffer == altBuffer_; }

    /// A new normal buffer at the current size; the active-buffer pointer is left alone.
    void resetNormalBuffer();
    /// Switches to the normal buffer, optionally clearing the alternate one.
    void activateNormalBuffer(bool clearAlt);
    /// Switches to the alternate buffer, filling it with blanks of `fillAttr` (default absent).
    void activateAltBuffer(const std::optional<Attribute>& fillAttr = std::nullopt);
    /// Resizes the normal buffer to the grid when a resize happened while it was inactive.
    void resizeNormalBufferToCurrentGridIfNeeded();
    /// Resizes the active buffer (and, when the normal one is active, the alternate one too).
    void resizeBuffers(int newColumns, int newRows);

    // --- Cells and lines ---------------------------------------------------------------------------

    // Readers: none of them changes the terminal, and the lines they hand out are read-only.

    /// The cell at a screen column and row (counted from `yDisp`), absent outside the grid.
    std::optional<CharData> getCharData(int col, int row) const;
    /// The line of screen row `row`, null outside 0 ..< rows.
    std::shared_ptr<const BufferLine> getLine(int row) const;
    /// The line at absolute row `row` counted from the buffer's `linesTop`; null when outside.
    std::shared_ptr<const BufferLine> getScrollInvariantLine(int64_t row) const;
    /// The first character of a cell, a space when it is empty; absent outside the grid.
    std::optional<Character> getCharacter(int col, int row) const;
    /// All scalars of a cell as UTF-8; absent outside the grid.
    std::optional<std::string> getText(int col, int row) const;
    Character getCharacter(const CharData& data) const;
    std::string getText(const CharData& data) const;

    // --- Colours -----------------------------------------------------------------------------------

    /// The base colours, the palette in effect and its defaults, and the default colours.
    const TerminalPalette& palette() const { return palette_; }
    /// The 16 base colours the palette is built from.
    const std::vector<Color>& installedColors() const { return palette_.installedColors(); }
    /// The 256-entry palette in effect, with the program's OSC 4 changes.
    const std::vector<Color>& ansiColors() const { return palette_.ansiColors(); }
    /// The palette OSC 104 restores.
    const std::vector<Color>& defaultAnsiColors() const { return palette_.defaultAnsiColors(); }
    /// Installs 16 base colours and rebuilds the palette; any other count is ignored.
    void installPalette(const std::vector<Color>& colors);
    /// Rebuilds the 256-colour palette from `installedColors`, dropping OSC 4 changes.
    void rebuildAnsiPalette(bool notifyDelegate);

    // The default colours. Each setter tells the delegate once; the delegate's default
    // implementation writes the colour back through the setter, which then only stores it.
    const Color& foregroundColor() const { return palette_.foregroundColor(); }
    void setForegroundColor(const Color& color);
    const Color& backgroundColor() const { return palette_.backgroundColor(); }
    void setBackgroundColor(const Color& color);
    const std::optional<Color>& cursorColor() const { return palette_.cursorColor(); }
    void setCursorColor(const std::optional<Color>& color);
    /// The palette entry, absent past the palette's end.
    std::optional<Color> paletteColor(int index) const { return palette_.color(index); }

    // --- Options and small accessors --------------------------------------------------------------

    int cols() const { return _cols; }
    int rows() const { return _rows; }
    /// (cols, rows).
    std::pair<int, int> getDims() const { return {_cols, _rows}; }
    const TerminalOptions& options() const { return _options; }
    /// Replaces the options without side effects.
    void setOptions(const TerminalOptions& options) { _options = options; }
    bool enableOsc8Hyperlinks() const { return _options.enableOsc8Hyperlinks; }
    void setEnableOsc8Hyperlinks(bool value);
    Ansi256PaletteStrategy ansi256PaletteStrategy() const { return _options.ansi256PaletteStrategy; }
    void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy);

    /// The mouse tracking, the report encoding, shift capture and alternate scroll.
    const MouseReportingState& mouseReporting() const { return mouse_; }
    MouseMode mouseMode() const { return mouse_.mouseMode(); }
    /// Stores the mode and tells the delegate.
    void setMouseMode(MouseMode mode);
    MouseProtocolEncoding mouseProtocol() const { return mouse_.mouseProtocol(); }
    /// XTSHIFTESCAPE: Shift reaches the program in mouse reports.
    bool mouseShiftCapture() const { return mouse_.mouseShiftCapture(); }
    /// Mode 1007: the wheel sends cursor keys while the alternate screen is shown.
    bool alternateScrollMode() const { return mouse_.alternateScrollMode(); }

    bool silentLog() const override { return silentLog_; }
    void setSilentLog(bool value) { silentLog_ = value; }

    /// The bidi state in effect, kept with the modes; new lines of either buffer take it.
    const BidiPresentationState& currentBidiState() const { return modes_.bidiState(); }
    bool bidiSupportEnabled() const { return currentBidiState().supportMode == BidiSupportMode::implicit; }
    bool bidiAutodetectDirection() const { return currentBidiState().autodetectDirection; }
    bool bidiRTLPreference() const
    {
        return currentBidiState().fallbackDirection == BidiDirection::rightToLeft;
    }
    bool bidiBoxMirroring() const { return currentBidiState().boxMirroring; }
    const Attribute& currentAttribute() const
    {
        // SGR keeps only the key of the look; the attribute is spelled out when first read.
        if (curAttrStale_) {
            curAttr_ = curKey_.attribute();
            curAttrStale_ = false;
        }
        return curAttr_;
    }
    /// The kitty keyboard flags of the active screen.
    KittyKeyboardFlags keyboardEnhancementFlags() const
    {
        return isCurrentBufferAlternate() ? keyboardModeAlt_.flags : keyboardModeNormal_.flags;
    }
    SemanticPromptClickMode semanticPromptClickMode() const { return _buffer->semanticClickMode; }
    /// Which clicks may move the shell's cursor; a host setting.
    void setSemanticPromptClickBehavior(const SemanticPromptClickBehavior& behavior)
    {
        semanticPromptClickBehavior_ = behavior;
    }
    /// The view tells whether the user has scrolled it away from the bottom.
    void setUserScrolling(bool value) { userScrolling_ = value; }
    /// How long synchronized output may hold the screen before the watchdog ends it; a host
    /// setting, read when the watchdog is next armed.
    void setSynchronizedOutputTimeoutSeconds(double seconds) { synchronizedOutputTimeoutSeconds_ = seconds; }

    /// The host, or null when it has gone.
    std::shared_ptr<TerminalDelegate> delegate() const { return tdel_.lock(); }

    // --- Modes -----------------------------------------------------------------------------------

    /// The on/off modes (DEC private and ANSI modes, keypad and protection states); programs
    /// change them with sequences.
    const TerminalModeSet& modes() const { return modes_; }
    /// One on/off mode, e.g. `mode(TerminalMode::applicationCursor)`.
    bool mode(TerminalMode which) const { return modes_[which]; }

    // --- Focus, visibility, pointer -------------------------------------------------------------

    void setTerminalFocus(bool focused);
    /// CSI I or CSI O.
    void sendFocusReport();
    void setTerminalVisibility(TerminalVisibility visibility);
    /// CSI ? 999 ; 1|2 n.
    void reportTerminalVisibility();
    /// The caller must hold the lock (else the program stops).
    void beginPrimaryPointerPress(Position at) REQUIRES(terminalLock_);
    void endPrimaryPointerPress() REQUIRES(terminalLock_);
    /// Stores the force-touch stage and pressure; answers the press position at stage 2.
    std::optional<Position> updatePressure(int stage, float pressureValue) REQUIRES(terminalLock_);

    // --- Selections -------------------------------------------------------------------------------

    /// Adds a selection to the registry (held weakly); takes the lock unless the caller holds it.
    void registerSelection(const std::shared_ptr<SelectionService>& selection);
    void unregisterSelection(const std::shared_ptr<SelectionService>& selection);
    /// Called by a registered selection when its `active` flag changes, to keep the count.
    void selectionActivityChanged(const SelectionService& selection, bool active);
    /// Deactivates the active selections a margin-limited scroll over these rows touches.
    void selectionsInvalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right);
    /// Repairs the wide-character seams at the margins of an absolute row before a column shift.
    void repairWideCellsForColumnRestrictedShift(int row);
    /// Adjusts every active registered selection for content moved by `lines` within top...bottom.
    void adjustSelectionsForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines);

    // --- Feed and replies (TerminalFeed.cpp) ----------------------------------------------------

    /// Parses child output; deferred notifications are delivered when the outermost feed ends.
    void feed(std::span<const uint8_t> bytes);
    void feed(std::string_view text);

    void sendResponse(std::string_view text);
    void sendResponse(std::span<const uint8_t> bytes);
    void sendResponse(std::span<const uint8_t> bytes, std::string_view text);
    void sendResponse(std::span<const uint8_t> first, std::span<const uint8_t> second);
    void sendResponse(std::span<const uint8_t> introducer, std::string_view body,
                      std::span<const uint8_t> end);
    /// The variable-list form: appends each item (byte arrays, texts, single bytes) and sends the
    /// whole once. An item of any other type does not compile. The fixed forms above are its
    /// common cases.
    template <TerminalResponseItem... Items>
    requires(sizeof...(Items) >= 1) void sendResponse(const Items&... items)
    {
        std::vector<uint8_t> out;
        (appendResponseItem(out, items), ...);
        sendReplyBytes(out);
    }

    /// Marks screen row `y` changed (and, unless `scrolling`, its absolute row). Inline: the
    /// print path marks rows around every run.
    void updateRange(int y, bool scrolling = false)
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
    /// Marks two screen rows changed.
    void refresh(int startRow, int endRow);
    /// Marks the whole screen changed.
    void updateFullScreen();
    /// Empties both update ranges.
    void clearUpdateRange();
    /// (start, end) of the screen rows changed, absent when none.
    std::optional<std::pair<int, int>> getUpdateRange() const;
    std::optional<std::pair<int, int>> getScrollInvariantUpdateRange() const;

    /// Called when the outermost feed ends after a scroll (or at once outside a feed). Empty here.
    virtual void scrollPositionChanged() {}

    // --- Parser listener and dispatch (TerminalDispatch.cpp) ------------------------------------

    // Final, so that the parse loop the terminal instantiates for itself calls them directly.
    void handlePrintBorrowed(std::span<const uint8_t> bytes) final;
    /// A run the parser found to be printable ASCII only (0x20-0x7E), which skips that test.
    [[gnu::noinline]] void handlePrintableAsciiBorrowed(std::span<const uint8_t> bytes);
    /// Every road of such a run but the common one: a column-switch run to end, a translating
    /// set, a pending sequence, a hyperlink, a wrap or anything else the cursor's row refuses.
    [[gnu::noinline]] void printAsciiRunAnyRoad(std::span<const uint8_t> bytes);
    void dispatchExecute(uint8_t code) final;
    /// CR and then LF, which the parse loop found side by side: the same as dispatching the two,
    /// in one call. A full screen scrolling into a full scrollback, the end of most lines of
    /// output, goes straight to the recycle road without the checks of the two controls apart.
    void carriageReturnLineFeed();
    void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) final;
    void dispatchCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect) final;
    /// CSI 0 m or CSI m, read whole by the parse loop; `pars` holds its one parameter, 0. The
    /// same as dispatching the sequence.
    void dispatchSgrReset(const CsiParameters& pars);
    /// An SGR sequence that only sets true colours with semicolons (`38;2;r;g;b`, `48;2;r;g;b`),
    /// read whole by the parse loop: each colour is 0x1000000 | 0xRRGGBB, or 0 when the sequence
    /// leaves it alone. The same as dispatching the sequence.
    void applyTrueColours(uint32_t foreground, uint32_t background);
    /// The same followed by printing `text`, the one to three bytes up to the next control that
    /// the parse loop found after such a sequence: mostly the one character drawn in the new
    /// colours, which is written to the cursor cell in the same call when nothing in the way
    /// needs the print roads. The same as `applyTrueColours` and then the print handlers.
    [[gnu::noinline]] void applyTrueColoursAndPrint(uint32_t foreground, uint32_t background,
                                                    std::span<const uint8_t> text);
    /// `applyTrueColoursAndPrint` for the `run` bytes of `bytes` at `at`, then, as long as
    /// another whole true-colour sequence follows directly, the same for it and what follows it:
    /// a picture row or a rainbow line in one call. Answers the index after the last byte taken;
    /// a sequence it does not read whole (or too close to the end) is left to the parser there.
    [[gnu::noinline]] size_t applyTrueColourRun(uint32_t foreground, uint32_t background,
                                                std::span<const uint8_t> bytes, size_t at, size_t run);
    void dispatchOsc(int code, std::span<const uint8_t> data, uint8_t terminator) override;
    void dispatchApc(uint8_t command, std::span<const uint8_t> content) override;
    std::shared_ptr<DcsHandler> makeDcsHandler(std::span<const uint8_t> collect,
                                               const CsiParameters& parameters, uint8_t finalByte) override;
    /// Every CSI final but "m": kept out of `dispatchCsi` so that the SGR test inlines into the
    /// terminal's parse loop without the large frame of the routing switch.
    void dispatchCsiOtherThanSgr(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect);

    /// A host closure for an OSC number, consulted before the built-in handler.
    void registerOscHandler(int code, EscapeSequenceParser::OscHandler handler);
    /// A host factory asked for the handler of every DCS sequence before the built-in ones; a
    /// handler it returns wins, null leaves the sequence to the terminal. An empty one removes it.
    void setDcsHandlerFactory(EscapeSequenceParser::DcsHandlerFactory factory);
    /// Observes every OSC the terminal receives; events arrive later on the OSC event queue.
    std::unique_ptr<TerminalOscObservation> observeOscEvents(TerminalOscEventDispatcher::Handler handler);
    /// OSC 0/2 and OSC 1: store the title and tell the delegate.
    void setTitle(const std::string& text);
    void setIconTitle(const std::string& text);
    /// The titles, their stacks and the title modes.
    const TerminalTitles& titles() const { return titles_; }
    /// The window title a program set; empty until one does.
    const TitleText& terminalTitle() const { return titles_.terminalTitle(); }
    /// The icon title a program set; empty until one does.
    const TitleText& iconTitle() const { return titles_.iconTitle(); }

    // --- Character sets (TerminalCharSets.cpp) --------------------------------------------------

    /// G0-G3 and the invoked slot.
    const CharsetSlots& charsetSlots() const { return charsets_; }
    /// The set in effect for printing; null prints bytes unchanged. Inline: the print path reads
    /// it for every run.
    const CharacterMap* charset() const { return charsets_.charset(); }

    /// SI, SO, LS2, LS3 and friends: invoke slot `level`.
    void setgLevel(uint8_t level);
    /// Designates `set` into slot `slot`; the active set follows when that slot is invoked.
    void setgCharset(uint8_t slot, const CharacterMap* set);
    /// ESC ( x and its relatives: the intermediate and the final byte.
    void selectCharset(std::span<const uint8_t> collect);

    // --- Print path (TerminalPrint.cpp) ---------------------------------------------------------

    void handlePrintBorrowed(std::span<const uint8_t> bytes, Buffer& buffer);
    /// The run road: the first `ascii` bytes (at least one) are printable ASCII, written as one
    /// run; the rest goes the slow road.
    void printAsciiRun(std::span<const uint8_t> bytes, size_t ascii, Buffer& buffer);
    /// Prints a run of one narrow character that joins nothing; false, having printed nothing,
    /// when the run is not that.
    bool printLoneScalar(std::span<const uint8_t> bytes, Buffer& buffer);
    /// Prints `bytes` (after any put-back bytes) scalar by scalar; `previousScalar` precedes them.
    void handlePrintSlow(std::span<const uint8_t> bytes, std::optional<char32_t> previousScalar);
    /// The absolute row and column of the cell a combining scalar must join, if any.
    std::optional<Position> combiningTarget(Buffer& buffer);
    /// The cell's cluster with `appending` added, when that is still one grapheme cluster.
    std::optional<std::u32string> combinedGraphemeScalars(PackedCell cell, char32_t appending);
    static CharData makeCharData(const Attribute& attribute, int32_t code, int size);
    static CharData makeCharData(const Attribute& attribute, const Character& character, int size);
    static CharData makeCharData(const Attribute& attribute, char32_t scalar, int size);
    static void updateCharData(CharData& data, int32_t code, int size);
    static void updateCharData(CharData& data, const Character& character, int size);

    // --- Line feed and backspace (TerminalLineFeed.cpp) -----------------------------------------

    void cmdLineFeedBasic(Buffer& buffer);
    void cmdCarriageReturn();
    void cmdBackspace();
    void clearEchoedEnterContinuationBeforeOutput();
    /// Blanks screen row `y` of the active buffer with the erase cell.
    void resetBufferLine(int y, bool clearImages, const std::optional<BidiPresentationState>& bidiState);

    // --- Scrolling (TerminalScroll.cpp) ---------------------------------------------------------

    /// Scrolls the scroll region of `buffer` (the active one) up one line.
    void scroll(Buffer& buffer, bool isWrapped) final;
    /// Whether scrolling `buffer` takes the recycle road: the whole screen scrolls into the
    /// scrollback of a full ring, no margins are set and no reflow is deferred, and nothing names
    /// absolute rows (selections and image placements) or the row shown (a scrolled-back view).
    bool scrollRecyclesOldestLine(Buffer& buffer)
    {
        const CircularBufferLineList& ring = buffer.lines();
        return !buffer.hasPendingScrollbackReflow() && !modes_[TerminalMode::marginMode] &&
               buffer.hasScrollback() && buffer.scrollTop() == 0 && buffer.scrollBottom() == _rows - 1 &&
               ring.isFull() && buffer.yBase() + buffer.scrollBottom() == ring.count() - 1 &&
               scrollUnobserved();
    }
    /// Whether nothing names absolute rows (selections, image placements) or the row shown (a
    /// scrolled-back view), so a scroll may move lines without telling them.
    bool scrollUnobserved() const
    {
        return activeSelectionCount_ == 0 && !hasKittyPlacements_ && !userScrolling_;
    }
    /// The recycle road: the oldest line, blanked, becomes the screen's bottom row. Every screen
    /// row then shows another line; absolute rows do not change.
    [[gnu::always_inline]] void scrollRecyclingOldestLine(Buffer& buffer, bool isWrapped)
    {
        CircularBufferLineList& ring = buffer.lines();
        const BidiPresentationState bidiState =
            isWrapped ? ring[buffer.yBase() + buffer.scrollBottom()]->bidiState() : modes_.bidiState();
        ring.recycle(currentEraseBlankCell(), isWrapped, bidiState);
        buffer.linesTop += 1;
        buffer.setYDisp(buffer.yBase());
        refreshStart_ = std::min(refreshStart_, 0);
        refreshEnd_ = std::max(refreshEnd_, _rows - 1);
        notifyScrollPositionChanged();
    }
    void scrollInPlaceRegionFast(Buffer& buffer, int scrollTop, int scrollBottom, int topRow, int bottomRow,
                                 bool isWrapped);
    /// The scroll of every kind; `markRows` false leaves marking the changed rows to the caller.
    void scrollGeneral(Buffer& buffer, bool isWrapped, int scrollTop, int scrollBottom, int topRow,
                       int bottomRow, bool markRows = true);
    void markScrolledRows(int scrollTop, int scrollBottom, bool hasScrollback);
    /// IND.
    void cmdIndex();
    /// RI.
    void reverseIndex();
    /// Sets `hasPendingScrollNotification`, delivering it at once outside a feed.
    void notifyScrollPositionChanged()
    {
        hasPendingScrollNotification_ = true;
        // Inside a feed the outermost feed delivers it once, when parsing ends.
        if (parseDepth_ == 0) {
            hasPendingScrollNotification_ = false;
            scrollPositionChanged();
        }
    }
    void cmdScrollUp(const CsiParameters& pars, Collect collect);
    void cmdScrollDown(const CsiParameters& pars, Collect collect);
    void cmdInsertLines(const CsiParameters& pars, Collect collect);
    void cmdDeleteLines(const CsiParameters& pars, Collect collect);
    void cmdInsertChars(const CsiParameters& pars, Collect collect);
    void cmdDeleteChars(const CsiParameters& pars, Collect collect);
    void cmdDeleteColumns(const CsiParameters& pars, Collect collect);
    /// DECIC, reached through the "}" router.
    void cmdInsertColumns(const CsiParameters& pars, Collect collect);
    void columnScroll(bool back, int at);
    void cmdRepeatPrecedingCharacter(const CsiParameters& pars, Collect collect);
    void hardenBidiScrollBoundaries(bool insertedAtTop, int count);
    void hardenBidiLineShiftBoundaries(int firstChangedRow, std::optional<int> firstMovedRow, int lastRow);

    // --- Cursor movement, tab stops, saved cursor (TerminalCursor.cpp) --------------------------

    /// Clamps the cursor into the grid (column at most cols - 1 with `limitCols`) and marks its row.
    void restrictCursor(bool limitCols = true);
    /// Absolute move relative to the origin (the region and margins in origin mode).
    void setCursor(int col, int row);
    void cursorForward(int count);
    void cursorBackward(int count);
    void reverseWrapBackward(int count);
    void cmdCursorUp(const CsiParameters& pars, Collect collect);
    void cmdCursorDown(const CsiParameters& pars, Collect collect);
    void cmdCursorCharAbsolute(const CsiParameters& pars, Collect collect);
    void cmdCharPosAbsolute(const CsiParameters& pars, Collect collect);
    void cmdHPositionRelative(const CsiParameters& pars, Collect collect);
    void cmdLinePosAbsolute(const CsiParameters& pars, Collect collect);
    void cmdVPositionRelative(const CsiParameters& pars, Collect collect);
    void cmdCursorPosition(const CsiParameters& pars, Collect collect);
    void cmdHVPosition(const CsiParameters& pars, Collect collect);
    void cmdTabClear(const CsiParameters& pars, Collect collect);
    void cmdSaveCursor(const CsiParameters& pars, Collect collect);
    void cmdRestoreCursor(const CsiParameters& pars, Collect collect);
    void cmdSelectCharacterPath(const CsiParameters& pars, Collect collect);
    void cmdSelectPresentationDirection(const CsiParameters& pars, Collect collect);
    /// DECBI (`back`) and DECFI.
    void columnIndex(bool back);
    /// (x, y) of the active buffer.
    std::pair<int, int> getCursorLocation() const;
    int getTopVisibleRow() const;

    // --- Erasing and line render modes (TerminalErase.cpp) --------------------------------------

    void cmdEraseInLine(const CsiParameters& pars, Collect collect);
    void cmdEraseInDisplay(const CsiParameters& pars, Collect collect);
    void eraseUnprotectedInBufferLine(int y, int start, int end);
    void cmdEraseChars(const CsiParameters& pars, Collect collect);
    void cmdScreenAlignmentPattern();
    void setLineRenderMode(BufferLine::RenderLineMode mode);

    // --- Margins and cursor style (TerminalMargins.cpp) -----------------------------------------

    void cmdSetMargins(const CsiParameters& pars, Collect collect);
    void cmdSetScrollRegion(const CsiParameters& pars, Collect collect);
    void cmdSetCursorStyle(const CsiParameters& pars, Collect collect);
    void setCursorStyle(CursorStyle style);

    // --- Bidi paragraph controls (TerminalBidi.cpp) ---------------------------------------------

    void applyCurrentBidiStateAtParagraphStart(BidiStateProperty properties);

    // --- SGR (TerminalSgr.cpp) ------------------------------------------------------------------

    void cmdCsiM(const CsiParameters& pars, Collect collect);
    /// SGR with parameters other than a lone 0: folds them into the key of `curAttr`.
    void applySgrParameters(const CsiParameters& pars);
    /// Makes `working` the current look after SGR folded it from `previous`: interns it and
    /// renews what erasing uses when the background changed. Answers whether the look was
    /// interned without having to free style ids first.
    bool adoptSgrLook(InternedAttributeKey working, InternedAttributeKey previous);
    /// `applyTrueColours` inline, for it and `applyTrueColoursAndPrint`; answers as
    /// `adoptSgrLook` does (true when the look stays).
    bool switchTrueColours(uint32_t foreground, uint32_t background);
    /// Whether printing `text` after true colours may take the lone-cell road (none of the print
    /// roads' special cases is in effect), and the character it writes when so.
    bool loneCellCharacter(std::span<const uint8_t> text, char32_t& scalar) const;
    /// What `applyTrueColoursAndPrint` does after switching the colours.
    void printAfterTrueColours(std::span<const uint8_t> text);
    /// The rest of `applyTrueColourRun` after its first sequence, with `Reader::read` reading
    /// the next ones; compiled once with the reader for SSSE3 built in and once with the other.
    template <typename Reader> size_t continueTrueColourRun(std::span<const uint8_t> bytes, size_t at);
    [[gnu::noinline]] size_t continueTrueColourRunScalar(std::span<const uint8_t> bytes, size_t at);
    [[gnu::noinline]] size_t continueTrueColourRunShuffled(std::span<const uint8_t> bytes, size_t at);
    /// Makes `attribute` the current look, with id `styleID`.
    void setCurrentAttribute(const Attribute& attribute, uint16_t styleID)
    {
        curAttr_ = attribute;
        curAttrStale_ = false;
        curKey_ = InternedAttributeKey::of(attribute);
        curStyleID_ = styleID;
    }

    // --- Modes (TerminalModes.cpp) --------------------------------------------------------------

    void cmdSetMode(const CsiParameters& pars, Collect collect);
    void cmdResetMode(const CsiParameters& pars, Collect collect);
    void setMode(int mode, Collect collect);
    void resetMode(int mode, Collect collect);
    /// Handles the DEC private modes it owns and answers true; false for any other mode.
    bool applyDECPrivateMode(int mode, bool value);
    std::optional<bool> readDECPrivateMode(int mode) const;
    std::optional<DECModeReportState> decPrivateModeReportState(int mode);
    void cmdSavePrivateModes(const CsiParameters& pars);
    void cmdRestorePrivateModes(const CsiParameters& pars);
    /// Final p: DECSTR, DECSCL, DECRQM.
    void csiPHandler(const CsiParameters& pars, Collect collect);
    void cmdDecRqm(const CsiParameters& pars, bool decMode);
    void cmdSoftReset();
    void softReset() { cmdSoftReset(); }
    void changeColumnMode(int columns);
    /// Whether a CSI keeps a run of column-mode switches going while the run is watched (see
    /// `ColumnSwitchRun`): one that sets or resets nothing but DECCOLM (CSI ? 3 h, CSI ? 3 l), an
    /// SGR, or a cursor move.
    static bool keepsColumnSwitchRun(uint8_t code, const CsiParameters& pars,
                                     std::span<const uint8_t> collect);
    /// Ends a run of column-mode switches (see `ColumnSwitchRun`): reflows the normal buffer's
    /// scrollback if its reflow was deferred. Called by whatever reads or rewrites the scrollback
    /// rows, and at the end of each feed.
    void endColumnSwitchRun()
    {
        if (columnSwitchRun_ != ColumnSwitchRun::none) [[unlikely]]
            finishColumnSwitchRun();
    }
    /// Ends a watched run before any sequence other than those `keepsColumnSwitchRun` accepts.
    void endWatchedColumnSwitchRun()
    {
        if (columnSwitchRun_ != ColumnSwitchRun::none) [[unlikely]] {
            if (columnSwitchRunWatched())
                finishColumnSwitchRun();
        }
    }
    /// The same before printing `bytes` bytes or executing a control: a watched run goes on
    /// while they cannot move a line into the scrollback.
    void endColumnSwitchRunBeforePrint(size_t bytes)
    {
        if (columnSwitchRun_ != ColumnSwitchRun::none) [[unlikely]] {
            if (columnSwitchRunWatched() && printMayScroll(bytes))
                finishColumnSwitchRun();
        }
    }
    void endColumnSwitchRunBeforeExecute(uint8_t code)
    {
        if (columnSwitchRun_ != ColumnSwitchRun::none) [[unlikely]] {
            if (columnSwitchRunWatched() && !executeKeepsColumnSwitchRun(code))
                finishColumnSwitchRun();
        }
    }
    bool printMayScroll(size_t bytes) const;
    /// Whether a selection or a view scrolled back names absolute rows, which the rows the
    /// deferred reflow drops off the ring would have to move too: a line scrolled into the
    /// scrollback then ends the run. Neither appears in the middle of a feed.
    bool columnSwitchRunWatched() const { return activeSelectionCount_ != 0 || userScrolling_; }
    bool executeKeepsColumnSwitchRun(uint8_t code) const;
    void finishColumnSwitchRun();
    /// The normal buffer's share of a column-mode switch: its size, region, margins and cursor,
    /// and (unless DECNCSM applies) its blanked screen.
    void switchNormalBufferColumns();

    // --- Synchronized output and cursor visibility (TerminalModes.cpp) --------------------------

    void beginSynchronizedOutput();
    void endSynchronizedOutput();
    void expireSynchronizedOutput() { endSynchronizedOutput(); }
    /// Arms or cancels the watchdog; `ViewTerminal` forwards it to its host.
    virtual void applySynchronizedOutputWatchdog(bool active, uint64_t generation);
    void synchronizedOutputWatchdogFired(uint64_t generation);
    void showCursor();
    void hideCursor();

    // --- Resize, reset, conformance, scrollback (TerminalResize.cpp) ----------------------------

    void resize(int cols, int rows);
    void resize(int cols, int rows, std::optional<CellPixelSize> committedCellSize);
    void updatePixelGeometry(int cellWidth, int cellHeight);
    void reportInBandSizeIfAvailable();
    /// RIS.
    void resetToInitialState();
    void cmdSetConformanceLevel(const CsiParameters& pars, Collect collect);
    void clearScrollback();
    void changeScrollback(std::optional<int> limit);
    void changeHistorySize(std::optional<int> limit) { changeScrollback(limit); }

    // --- Device reports and queries (TerminalDeviceReports.cpp) ---------------------------------

    void cmdSendDeviceAttributes(const CsiParameters& pars, Collect collect);
    void cmdDeviceStatus(const CsiParameters& pars, Collect collect);
    void cmdXTVERSION(const CsiParameters& pars, Collect collect);
    static std::string xtVersionIdentity(const std::optional<std::string>& tag,
                                         const std::optional<std::string>& branch,
                                         const std::optional<std::string>& version);
    /// The DCS handlers for DECRQSS ($ q) and XTGETTCAP (+ q); null discards the payload.
    std::shared_ptr<DcsHandler> makeDecrqssHandler();
    std::shared_ptr<DcsHandler> makeXtgettcapHandler();

    // --- Window operations (TerminalWindowOps.cpp) ----------------------------------------------

    /// CSI Ps ; Ps ; Ps t: hands window requests to the host, answers size reports and keeps the
    /// title stacks.
    void cmdWindowOptions(const CsiParameters& pars);
    /// Final t: window operations without intermediates, title modes with ">".
    void csit(const CsiParameters& pars, Collect collect);
    void cmdXtermTitleModeSet(const CsiParameters& pars);
    void cmdXtermTitleModeReset(const CsiParameters& pars, Collect collect);

    // --- Rectangular areas (TerminalRectangles.cpp) ---------------------------------------------

    void csiCopyRectangularArea(const CsiParameters& pars, Collect collect);
    void csiX(const CsiParameters& pars, Collect collect);
    void csiZ(const CsiParameters& pars, Collect collect);
    void csiOpenBrace(const CsiParameters& pars, Collect collect);
    void csiCloseBrace(const CsiParameters& pars, Collect collect);
    void cmdDECRQCRA(const CsiParameters& pars, Collect collect);
    void cmdDECERA(const CsiParameters& pars);
    void cmdSelectiveEraseRectangularArea(const CsiParameters& pars);
    /// DECCARA (CSI ... $ r) and DECRARA (CSI ... $ t): set or reverse visual attributes over the
    /// area DECSACE selects (`reportedOnly.attributeChangeExtent`: 2 a rectangle, else a stream).
    void cmdDECCARA(const CsiParameters& pars);
    void cmdDECRARA(const CsiParameters& pars);

    // --- Kitty keyboard (TerminalKittyKeyboard.cpp) ---------------------------------------------

    /// CSI u with a private marker; false when the sequence is not the protocol's.
    bool handleKittyKeyboardProtocol(const CsiParameters& pars, Collect collect);

    // --- OSC handlers (TerminalOsc.cpp) ---------------------------------------------------------

    void oscChangeOrQueryColorIndex(Bytes data);
    void oscSetCurrentDocument(Bytes data);
    void oscSetCurrentDirectory(Bytes data);
    void oscSetColors(Bytes data, int startAt);
    void oscClipboard(Bytes data);
    void oscResetColor(Bytes data);
    void oscNotification(Bytes data);
    std::optional<ProgressReport> parseProgressReport(Bytes data);
    void resetColor(int index);
    void resetAllColors();
    void reportColorScheme();
    void updateColorScheme(TerminalColorScheme scheme, bool notify);
    void notifyColorScheme();

    // --- Clipboard protocol (TerminalClipboard.cpp, TerminalDispatch.cpp) -----------------------

    /// Pastes through the clipboard protocol object (made on first use).
    TerminalPasteResult paste(const TerminalPasteRequest& request, bool allowUnsafe);
    void refreshKittyClipboardCapabilities();
    /// The clipboard protocol object, made on first use.
    KittyClipboardProtocol& kittyClipboard();
    /// The clipboard protocol object if the first OSC 5522, mode 5522 or paste has made it; null
    /// before.
    const KittyClipboardProtocol* existingKittyClipboard() const { return kittyClipboardProtocol_.get(); }
    /// The queue the clipboard protocol moves host completions onto; without one it starts a
    /// serial queue of its own. Read when the protocol object is made, so a host (or a test) sets
    /// it before the first clipboard use.
    void setKittyClipboardCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue)
    {
        kittyClipboardCompletionQueue_ = std::move(queue);
    }
    /// Where paste-event tokens come from (random by default); a source that fails, or none,
    /// sends paste events without a token.
    void setKittyClipboardTokenGenerator(std::function<std::optional<std::string>()> generator)
    {
        kittyClipboardTokenGenerator_ = std::move(generator);
    }
    /// The monotonic nanosecond clock paste-event tokens expire by (the uptime clock by default).
    void setKittyClipboardClock(std::function<uint64_t()> clock) { kittyClipboardClock_ = std::move(clock); }
    /// A new paste-event token; absent without a generator or when it fails.
    std::optional<std::string> newKittyClipboardToken() const
    {
        return kittyClipboardTokenGenerator_ ? kittyClipboardTokenGenerator_() : std::nullopt;
    }
    /// The clipboard clock's time; absent without a clock.
    std::optional<uint64_t> kittyClipboardNow() const
    {
        return kittyClipboardClock_ ? std::optional<uint64_t>(kittyClipboardClock_()) : std::nullopt;
    }
    /// Turns the clipboard paste events (mode 5522) off, and forgets a saved value of the mode so
    /// that a restore cannot turn them on again: the host's clipboards they were asked for changed.
    void switchOffKittyPasteEvents()
    {
        modes_.set(TerminalMode::kittyPasteEventsEnabled, false);
        savedPrivateModes_.erase(5522);
    }

    // --- Hyperlinks and payload slots (TerminalHyperlinks.cpp) ----------------------------------

    /// OSC 8: opens (pending), replaces or closes the active hyperlink.
    void oscHyperlink(Bytes data);
    /// The URI of an OSC 8 payload ("params;URI"): everything after the first ";". Absent when
    /// there is no ";". An empty URI ("id=1;") is the empty text, not absent: such a link exists
    /// on the cells but names nothing to open, so link lookup must not offer it as a target.
    static std::optional<std::string> parseHyperlinkPayload(std::string_view payload);
    /// The payload code for the next printed cells: the active hyperlink's, registered on first
    /// use; absent when no link is active or the atom table is full. The print path calls it
    /// once per printed run while `activeHyperlink` is set and stamps `value_or(0)` on the cells.
    std::optional<uint16_t> resolveActiveHyperlink();
    /// Registers a payload value in the atom table and holds its code; absent when the table is
    /// full.
    std::optional<TinyAtom> makePayload(std::any value);
    /// The payload text of a cell: the text its payload code names, when it names one.
    static std::optional<std::string> stringPayload(PackedCell cell);

    // --- Link detection under a cell (TerminalLinks.cpp) ----------------------------------------
    // Rows are absolute rows of the given buffer; the width of a row is the smaller of its cell
    // count and `cols()`. Everything reads the buffer under the terminal lock the caller holds.

    /// The link target under a cell: the OSC 8 URI when the cell carries one, else (in
    /// `explicitAndImplicit`) the URL or path the implicit-link rule finds around it. Never empty.
    std::optional<std::string> link(const LinkLookupLocation& at, LinkLookupMode mode) const;
    /// The location as a position of `buffer`, row and column clamped into it; absent when the
    /// buffer has no lines.
    std::optional<Position> resolveLinkLocation(const LinkLookupLocation& location,
                                                const Buffer& buffer) const;
    /// The OSC 8 link whose run of cells holds the cell; absent with the option off, and for a
    /// link whose URI is empty (there is nothing to open).
    std::optional<LinkMatch> explicitLinkMatch(Position at, const Buffer& buffer) const;
    /// The URL or path around the cell, across soft-wrapped and heuristically joined rows.
    std::optional<LinkMatch> implicitLinkMatch(Position at, const Buffer& buffer) const;
    /// The cell's payload code, or its wide lead cell's for an empty right half; absent for 0.
    std::optional<uint16_t> payloadCode(Position at, const Buffer& buffer) const;
    /// The logical line around the cell with the cell each character came from.
    std::optional<ImplicitLineMap> buildImplicitLineMap(Position at, const Buffer& buffer) const;
    /// The first and last rows of the hard-broken rows joined around `row`; absent when no
    /// neighbour joins.
    std::optional<std::pair<int64_t, int64_t>> heuristicImplicitGroup(int64_t around,
                                                                      const Buffer& buffer) const;
    /// Whether `row` continues the logical line begun at `startRow`: soft-wrapped, or joined.
    bool isImplicitContinuationRow(int64_t row, int64_t startRow, const Buffer& buffer) const;
    /// Whether a hard line end between two rows most likely broke a link in two.
    bool canJoinImplicitRows(int64_t upper, int64_t lower, const Buffer& buffer) const;
    std::optional<LinkRowEdgeInfo> linkRowEdgeInfo(int64_t row, const Buffer& buffer) const;
    /// Whether the implicit-link rule finds a link across the seam of the two rows.
    bool seamContainsImplicitLink(int64_t upper, int64_t lower, int upperLastCol, int lowerFirstCol,
                                  const Buffer& buffer) const;
    /// The character a column shows (a wide character's right half shows its lead's); absent for
    /// an empty cell and outside the line.
    static std::optional<std::u32string> linkCharacterAt(const BufferLine& line, int col);
    /// The characters of columns `startCol` ..< `endCol`, a space for each empty cell.
    static std::u32string implicitLineSegmentText(const BufferLine& line, int startCol, int endCol);
    /// The first column below `lineLimit` showing a character that is not white space, else
    /// `lineLimit`.
    static int firstNonWhitespaceColumn(const BufferLine& line, int lineLimit);
    /// True for a match that must not be a link: one right after a "$" (the tail of "$/x").
    static bool suppressImplicitLikeMatch(std::u16string_view text, int32_t matchStart);
    /// The implicit-link rule, compiled on first use; null when it does not compile.
    static const platform::Regex* implicitLinkRegex();

    // --- Payload collection (TerminalPayloadCollection.cpp) -------------------------------------

    /// Gives back the payload codes no cell of either buffer (scrollback included) and no active
    /// hyperlink uses any more, then waits for the held codes to double before the next run.
    void garbageCollectPayload();

    // --- Content snapshot (TerminalContentSnapshot.cpp) -----------------------------------------
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
    /// The display text of ring line `line` of `buffer` over its first `columns` columns, by the
    /// rule of a content snapshot row; empty outside the ring. The caller holds the lock.
    std::string displayText(const Buffer& buffer, int line, int columns) const;

    // --- Host input (TerminalHostInput.cpp) ----------------------------------------------------
    // For hosts without a view. Like the rest of the terminal these run with the lock held by the
    // caller; every key or text they encode is scanned for a submitted command line before it is
    // sent through the delegate.

    /// Bit 0 application cursor, 1 application keypad, 2 bracketed paste, 3 kitty paste events;
    /// bits 8-31 the kitty keyboard flags of the active screen.
    uint32_t hostInputModes() const;
    /// Sends text as typed (a key-less press carrying it); false when it encodes to nothing.
    bool sendHostText(std::string_view text);
    /// Pastes text through the paste path; true only when it went out as text.
    bool sendHostTextPaste(const std::string& text, bool allowUnsafe);
    /// Sends one key event named by web `key` and `code` values. `eventType` 1 press, 2 repeat,
    /// 3 release; `modifiers` are the kitty protocol's bits; `shiftedKey` and `baseLayoutKey` are
    /// scalars, 0 for none. Returns 1 when bytes were sent; 2 for a bad event type or a key that
    /// encodes to nothing; for a key the tables do not name that is not one character, or a plain
    /// character the host should send as text, 0 (2 for a release).
    int sendHostKey(std::string_view key, std::string_view code, uint32_t modifiers, uint32_t eventType,
                    const std::optional<std::string>& text, uint32_t shiftedKey, uint32_t baseLayoutKey);
    /// Answers an OSC 52 read the host took on (`clipboardReadRequest`) with the clipboard's
    /// content for `selection`.
    void completeClipboardRead(std::string_view selection, std::span<const uint8_t> content);

    // --- OSC 1337 (TerminalITerm2.cpp) ----------------------------------------------------------

    /// OSC 1337: the capability report and inline files; any other form goes to the host.
    void osciTerm2(Bytes data);

    // --- Semantic prompts (TerminalSemanticPrompts.cpp, TerminalSubmissionScan.cpp) ------------

    /// OSC 133: the payload after "133;". Malformed payloads are ignored without a report.
    void oscSemanticPrompt(Bytes data);
    /// After every line feed and index: rows a line feed reaches while a command line is being
    /// edited join the active prompt group.
    void finishSemanticLineAdvance(Buffer& buffer, bool movedToNextLine);
    /// Both buffers leave the command line: input becomes `submitted`, prompt and input content
    /// becomes `output`.
    void semanticNoteAlternateScreenSwitch();
    /// Full and soft reset: both buffers forget their prompt state; with `clearingScreenMarks`
    /// the screen rows also lose their marks and hard-continuation groups.
    void resetSemanticPromptState(bool clearingScreenMarks);
    void resetUserInputScanner();
    /// Bytes the user types: scanned for a submission (which moves an `armed` command line to
    /// `submitted`), then handed to the delegate unchanged.
    void sendUserInput(Bytes data);
    /// True when a byte of `data` completes a submission (Enter in any of its encodings, outside
    /// a bracketed paste). The scanner keeps its state across calls.
    bool scanUserInputForSubmission(Bytes data);
    /// The content of the cell at (column, absolute row) of the active buffer; absent outside it.
    std::optional<SemanticContent> semanticContent(Position at) const;
    /// The prompt marks of an absolute row of the active buffer.
    std::vector<SemanticPromptAnchor> semanticPromptMarks(int at) const
    {
        return buffer().semanticPromptMarks(at);
    }
    std::optional<SemanticPromptKind> semanticRowKind(int at) const { return buffer().semanticRowKind(at); }
    std::optional<Position> activeSemanticPromptOrigin() const
    {
        return buffer().activeSemanticPromptOrigin();
    }
    /// Where a line object now is in the active buffer; absent when it was recycled since
    /// `recycleGeneration` was read, or is no longer in the ring.
    std::optional<int> semanticRow(const BufferLine& forLineIdentity, uint64_t recycleGeneration) const;
    /// The line at an absolute row of the active buffer, null outside the ring.
    std::shared_ptr<const BufferLine> bufferLine(int atRow) const;

    // --- Prompt click-to-move (TerminalPromptClick.cpp) -----------------------------------------

    /// Whether a click could move the shell's cursor; cheap, for the view's mouse-up.
    bool mightRouteSemanticPromptClick(SemanticPromptClickModifiers modifiers,
                                       const SemanticPromptPointerSnapshot& snapshot) const;
    /// Sends the shell the keys (or click report) that move its cursor to a cell at (column,
    /// absolute row); true when the click was consumed.
    bool handleSemanticPromptClick(Position at, SemanticPromptClickModifiers modifiers);
    /// The same behind the snapshot gate: single clicks only, no drag, no selection.
    bool handleSemanticPromptClick(Position at, SemanticPromptClickModifiers modifiers,
                                   const SemanticPromptPointerSnapshot& snapshot);

    // --- Program status (TerminalProgramStatusHandlers.cpp) -------------------------------------

    /// OSC 7501; `terminator` is the byte that ended the OSC (0x07 BEL, else ESC \).
    void oscProgramStatus(Bytes data, uint8_t terminator);
    /// The records in update order, each with `effectiveApp` resolved.
    std::vector<TerminalProgramStatus> programStatusRecords() const
    {
        return programStatusStore_.snapshots();
    }
    std::optional<TerminalProgramStatus> programStatus(const std::string& id) const
    {
        return programStatusStore_.snapshot(id);
    }
    /// Clears a record and its descendants (every record for the empty id); tells the host when
    /// anything went.
    void clearProgramStatus(const std::string& id);
    /// The child has ended or a new prompt opened: working and blocked records go.
    void programStatusProcessExited();

    // --- Text extraction (TerminalTextExtraction.cpp) -------------------------------------------

    /// The text of columns `start` ..< `end` (-1: the whole row) of absolute row `line`:
    /// right-trimmed, wide characters' right halves skipped, NUL read as a space.
    std::string translateBufferLineToString(const Buffer& buffer, int line, int start, int end) const;
    /// The logical lines from `start` to `end` (start first, end row within the buffer): soft-
    /// wrapped rows join, a line-break fragment ends each hard line, trailing blank rows are
    /// dropped.
    std::vector<Line> getSelectedLines(Position start, Position end, const Buffer& buffer) const;
    /// The text between two positions of the active buffer, in either order.
    std::string getText(Position start, Position end) const;
    /// Every line of a buffer, scrollback included, one line feed after each; rows the encoding
    /// cannot represent are left out.
    std::vector<uint8_t> getBufferAsData(BufferKind kind, TextEncoding encoding) const;

    // --- Kitty graphics (TerminalKittyGraphics.cpp) ---------------------------------------------

    /// One APC G command: the bytes after "G".
    void handleKittyGraphics(Bytes content);
    /// Removes every placement record of the current screen state.
    void removePlacementRecords();
    void removeOrphanedKittyPlacements();
    /// Frees the images of the current screen state that no placement shows.
    void cleanupUnusedKittyImages();
    /// Drops every image, placement and pending transfer of both screens.
    void clearAllKittyImages();
    /// The column-mode change: the placements on the screen rows go, with their orphans and unused
    /// images.
    void clearKittyImagesOnScreen();
    /// The oldest line of a full ring was dropped.
    void trimKittyPlacementRows();
    /// Content moved `delta` rows inside the region (absolute rows `top`...`bottom`, columns
    /// `left`...`right`).
    void scrollKittyPlacementsInMargins(int top, int bottom, int left, int right, int delta);
    /// Advances the animations and arms the timer for the next frame.
    void scheduleKittyAnimationTimer();
    /// The images and placements renderers draw this frame; needs the lock.
    KittyGraphicsRenderSnapshot kittyGraphicsRenderSnapshot();
    /// The images, placements and pending transfer of both screens. Only `KittyGraphicsEngine`
    /// changes them.
    const KittyGraphicsState& kittyGraphicsState() const { return kittyGraphicsState_; }
    /// Whether either screen holds a placement; the scroll and erase paths skip the kitty work
    /// without one.
    bool hasKittyPlacements() const { return hasKittyPlacements_; }
    /// Rises each time the animation timer is scheduled; an armed timer item whose ticket holds an
    /// older serial does nothing.
    uint64_t kittyAnimationTimerSerial() const { return kittyAnimationTimerSerial_; }
    /// Where animation time comes from and how the animation timer is armed (the uptime clock and
    /// the shared timer queue by default); a host or a test gives its own before images arrive.
    void setKittyAnimationClock(KittyAnimationClock clock)
    {
        kittyGraphicsState_.animationClock = std::move(clock);
    }

    // --- State read by hosts and by other parts of the engine ----------------------------------
    // Each is changed by the control functions and host calls above; these only read it.

    /// The distance between default tab stops.
    static constexpr int tabStopWidth = 8;
    /// The pixel size the host last gave (or answered), for in-band size reports.
    const std::optional<TerminalPixelGeometry>& pixelGeometry() const { return pixelGeometry_; }
    /// The style DECSCUSR 0 restores: the options' cursor style at construction.
    CursorStyle defaultCursorStyle() const { return defaultCursorStyle_; }
    /// The conformance level DECSCL set.
    TerminalConformance conformance() const { return conformance_; }
    /// Whether replies use 8-bit C1 introducers (S8C1T, DECSCL), and their bytes.
    const CC& cc() const { return cc_; }

    /// The interning of attributes and grapheme clusters both buffers share.
    const std::shared_ptr<CellArena>& cellArena() const { return cellArena_; }
    /// Which arena table ran out when a reclaim is asked for.
    enum class ArenaTable : uint8_t
    {
        styles,
        clusters,
    };
    /// Gives back the arena ids no cell of either buffer, the current style or the erase cells
    /// use (TerminalArenaReclaim.cpp). When that frees too little, the oldest scrollback lines
    /// give up their styles or clusters. Runs only as often as its cost is repaid; true when it
    /// ran and `table` has room now. The print path calls it when the cluster table is full.
    bool reclaimCellArena(ArenaTable table);
    /// The main screen, with scrollback; a full reset replaces it.
    const std::shared_ptr<Buffer>& normalBuffer() const { return normalBuffer_; }
    /// The alternate screen, without scrollback.
    const std::shared_ptr<Buffer>& altBuffer() const { return altBuffer_; }
    /// The arena id of `currentAttribute()`, given to printed cells. Inline: read for every run.
    uint16_t curStyleID() const { return curStyleID_; }
    /// The attribute erased cells get: the current attribute's background only.
    const Attribute& currentEraseAttribute() const
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
    PackedCell currentEraseBlankCell() const
    {
        if (eraseCellsStale_) [[unlikely]]
            refreshEraseCells();
        return currentEraseBlankCell_;
    }
    PackedCell currentEraseSpaceCell() const
    {
        if (eraseCellsStale_) [[unlikely]]
            refreshEraseCells();
        return currentEraseSpaceCell_;
    }
    /// Bytes of an incomplete UTF-8 sequence carried to the next printed run.
    const ReadingBuffer& readingBuffer() const { return readingBuffer_; }
    /// Whether the view says the user has scrolled it away from the bottom.
    bool userScrolling() const { return userScrolling_; }
    /// A scroll-position change waits for the outermost feed to end.
    bool hasPendingScrollNotification() const { return hasPendingScrollNotification_; }
    /// The escape-sequence parser, for inspection; hosts install handlers through
    /// `registerOscHandler` and `setDcsHandlerFactory`.
    const EscapeSequenceParser& parser() const { return *parser_; }
    /// How deeply `feed` calls are nested (0 outside a feed).
    int parseDepth() const { return parseDepth_; }

    /// Who protects printed cells: nobody, DECSCA or SPA/EPA.
    CharacterProtectionMode characterProtectionMode() const { return characterProtectionMode_; }
    /// The colour scheme the host last reported, for CSI ? 996 n and mode 2031.
    TerminalColorScheme colorScheme() const { return colorScheme_; }
    /// The DEC private modes CSI ? s saved, by number.
    const std::map<int, bool>& savedPrivateModes() const { return savedPrivateModes_; }
    /// The modes only remembered for DECRQM, and the DECSACE extent.
    const ReportedOnlyState& reportedOnly() const { return reportedOnly_; }
    /// The kitty keyboard state of each screen.
    const KeyboardModeState& keyboardModeNormal() const { return keyboardModeNormal_; }
    const KeyboardModeState& keyboardModeAlt() const { return keyboardModeAlt_; }
    /// Which clicks may move the shell's cursor.
    const SemanticPromptClickBehavior& semanticPromptClickBehavior() const
    {
        return semanticPromptClickBehavior_;
    }

    // Synchronized output (mode 2026) and its watchdog.
    double synchronizedOutputTimeoutSeconds() const { return synchronizedOutputTimeoutSeconds_; }
    bool synchronizedOutputActive() const { return synchronizedOutputActive_; }
    /// Rises each time synchronized output begins, so a late watchdog never ends a newer update.
    uint64_t synchronizedOutputGeneration() const { return synchronizedOutputGeneration_; }
    /// The watchdog must be re-armed or cancelled when the outermost feed ends.
    bool synchronizedOutputWatchdogDirty() const { return synchronizedOutputWatchdogDirty_; }
    /// The armed watchdog on the shared timer queue, when one is armed.
    const std::optional<platform::TimerQueue::Handle>& synchronizedOutputTimeoutItem() const
    {
        return synchronizedOutputTimeoutItem_;
    }
    const SynchronizedOutputWatchdogCounters& synchronizedOutputWatchdogCounters() const
    {
        return synchronizedOutputWatchdogCounters_;
    }

    /// OSC 7 and OSC 6 as the program wrote them; absent until a trusted program sends one.
    const std::optional<std::string>& hostCurrentDirectory() const { return hostCurrentDirectory_; }
    const std::optional<std::string>& hostCurrentDocument() const { return hostCurrentDocument_; }
    /// The focus and visibility the host last gave.
    bool reportedFocusState() const { return reportedFocusState_; }
    TerminalVisibility reportedVisibility() const { return reportedVisibility_; }
    /// The force-touch stage and pressure of the current press, and where the press began.
    int pressureStage() const { return pressureStage_; }
    float pressure() const { return pressure_; }
    const std::optional<Position>& primaryPointerPressLocation() const
    {
        return primaryPointerPressLocation_;
    }
    /// The selections that watch this terminal (held weakly), and how many of them are active.
    const std::vector<std::weak_ptr<SelectionService>>& selections() const { return selections_; }
    int activeSelectionCount() const { return activeSelectionCount_; }

    /// The OSC 8 link being printed, if any.
    const std::optional<ActiveHyperlink>& activeHyperlink() const { return activeHyperlink_; }
    /// The payload atoms the cells of this terminal hold.
    const PayloadState& payloads() const { return payloads_; }
    /// The state of the scan of user input for a submitted command line.
    SemanticScanState semanticScanState() const { return semanticScanState_; }
    bool semanticScanInPaste() const { return semanticScanInPaste_; }
    const std::vector<uint8_t>& semanticScanParams() const { return semanticScanParams_; }

    /// The longest list of bytes kept by the semantic input scanner.
    static constexpr size_t maximumSemanticScanParams = 32;

    /// The lock that guards all of the terminal's state. Returned from a const method so readers
    /// that only look can check it is held; locking the result locks the terminal.
    TerminalLock& terminalLock() const RETURN_CAPABILITY(terminalLock_) { return terminalLock_; }

protected:
    /// Sends the bytes through the delegate, when there is one: input the user typed, pasted or
    /// clicked, which a host never drops.
    void sendBytes(std::span<const uint8_t> bytes);
    /// Sends a reply the terminal made by itself through the delegate's `sendReply`, which a host
    /// may bound for a child that does not read.
    void sendReplyBytes(std::span<const uint8_t> bytes);
    /// Reports an unknown sequence as "Info: ..." unless `silentLog`.
    void logInfo(std::string_view message) const;

private:
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
    void rebuildEraseCells(uint16_t eraseStyleID);
    /// `arena.intern(key)`, reclaiming ids when the style table is full.
    std::optional<uint16_t> internStyle(const InternedAttributeKey& key);
    /// Makes `attribute` the erase attribute (not its cells: `rebuildEraseCells` does that).
    void setEraseAttribute(const Attribute& attribute)
    {
        currentEraseAttribute_ = attribute;
        eraseAttributeStale_ = false;
    }
    /// Interns `currentEraseAttribute()` and rebuilds the erase cells from it.
    void refreshEraseCells() const;
    /// Builds a buffer of the current size sharing the arena (with scrollback for the normal one).
    std::shared_ptr<Buffer> makeBuffer(std::optional<int> scrollback);
    void resizeNormalBufferKeepingSavedRow(int newColumns, int newRows);
    /// The same to `newColumns` columns with the scrollback's reflow deferred, which opens a run
    /// of column switches (`ColumnSwitchRun`); only where `Buffer::canDeferColumnSwitch` allows.
    void resizeNormalBufferDeferringScrollback(int newColumns);
    bool isRegistered(const SelectionService& selection) const;

    // Mode switches with effects beyond storing the mode (TerminalModes.cpp, TerminalCursor.cpp).
    /// SM/RM for one ANSI mode; false when the mode is not one of ours.
    bool applyAnsiMode(int mode, bool value);
    /// DECSET/DECRST for the classic DEC modes; false when the mode is to be reported unhandled.
    bool applyClassicDECMode(int mode, bool value);
    /// DECSCNM: the whole screen changes colour, so only a real change is announced.
    void setReverseColors(bool value);
    /// BDSM (ANSI mode 8): whether the terminal runs the implicit bidi algorithm.
    void setBidiSupportMode(BidiSupportMode mode);
    /// SCP and SPD: the fallback direction of the current bidi state.
    void setParagraphDirection(BidiDirection direction);

    // --- State ------------------------------------------------------------------------------------
    // Read through the accessors above; written by the terminal's own members only (and the kitty
    // state by the kitty graphics engine).

    // Kitty graphics and clipboard. They come first so that the print path's state below keeps
    // its offsets, and so its cache lines, in the object.
    KittyGraphicsState kittyGraphicsState_;
    bool hasKittyPlacements_ = false;
    uint64_t kittyAnimationTimerSerial_ = 0;
    std::shared_ptr<KittyClipboardProtocol> kittyClipboardProtocol_;
    std::function<std::optional<std::string>()> kittyClipboardTokenGenerator_;
    std::function<uint64_t()> kittyClipboardClock_;

    // Size and geometry.
    int _cols = 80;
    int _rows = 25;
    std::optional<TerminalPixelGeometry> pixelGeometry_;

    // Buffers and cells. The arena comes first: the buffers are built on it. What the print path
    // reads for every run (the active buffer, the set in effect, the put-back bytes, the style and
    // link of printed cells, the update range) and the modes sit together, as they did when they
    // were neighbouring fields, so a run touches as few cache lines of the terminal as before.
    std::shared_ptr<CellArena> cellArena_;
    std::shared_ptr<Buffer> normalBuffer_;
    std::shared_ptr<Buffer> altBuffer_;
    /// The active buffer; always one of the two.
    std::shared_ptr<Buffer> _buffer;
    CharsetSlots charsets_;
    TerminalModeSet modes_;
    std::optional<ActiveHyperlink> activeHyperlink_;
    // The current look is its key, `curKey_`: SGR folds parameters into the key and interns it,
    // and nearly every SGR starts from the key the previous one left. `curAttr_` spells the key
    // out as an attribute only when someone reads it (`currentAttribute`), since SGR runs far
    // more often than anything that needs the attribute.
    InternedAttributeKey curKey_;
    mutable Attribute curAttr_;
    mutable bool curAttrStale_ = false;
    uint16_t curStyleID_ = 0;
    // The last character `printLoneScalar` found to be one column wide, without grapheme
    // properties and never joining, and its two or three bytes with their count in the top byte
    // (0 before any): a picture repeats one half block throughout.
    char32_t plainNarrowScalar_ = 0;
    uint32_t plainNarrowBytes_ = 0;
    // SGR records the erase look as a key only (`eraseKey_`, `eraseAttributeStale_`): pictures
    // drawn in half blocks change the background on every cell and seldom erase between them.
    mutable Attribute currentEraseAttribute_;
    mutable bool eraseAttributeStale_ = false;
    InternedAttributeKey eraseKey_;
    // Built from `currentEraseAttribute_` when first read after SGR changed it (`eraseCellsStale_`).
    mutable PackedCell currentEraseBlankCell_;
    mutable PackedCell currentEraseSpaceCell_ =
        PackedCell::makeScalar(' ', 0, PackedCell::WidthState::single, false, 0, 0);
    mutable bool eraseCellsStale_ = false;
    ReadingBuffer readingBuffer_;
    // The changed screen rows and the same in absolute rows; empty while start > end.
    int refreshStart_ = std::numeric_limits<int>::max();
    int refreshEnd_ = -1;
    int scrollInvariantRefreshStart_ = std::numeric_limits<int>::max();
    int scrollInvariantRefreshEnd_ = -1;
    bool userScrolling_ = false;
    bool hasPendingScrollNotification_ = false;
    std::unique_ptr<EscapeSequenceParser> parser_;
    int parseDepth_ = 0;
    /// Column-mode switches (DECCOLM) within one feed. Each switch blanks the screen and homes
    /// the cursor; while the screen rows take no part in the reflow, the normal buffer's switch
    /// resizes only the screen and leaves its scrollback laid out as it was
    /// (`Buffer::resizeScreenDeferringScrollback`), so a switch costs the same whatever the
    /// scrollback holds. So does the normal screen's return from the alternate screen after a
    /// switch made there. Output between switches reaches the screen rows alone: lines scrolled
    /// into the scrollback meanwhile are counted and dropped as a full ring would drop them,
    /// and image placements count rows as the reflow will leave them. What reads or rewrites
    /// the scrollback rows (erasing the history, a resize, a full reset) ends the run first, as
    /// does the end of the feed: the scrollback is then reflowed once to the width the run ended
    /// at. A selection or a view scrolled back names absolute rows: while either is there, the
    /// run ends before anything that could scroll a line into the scrollback. Hosts read the
    /// buffers between feeds, when no run is open; a host callback made during a feed sees the
    /// scrollback rows as they were laid out before the run.
    enum class ColumnSwitchRun : uint8_t
    {
        none,
        /// The normal buffer's scrollback waits for its reflow.
        pending,
    };
    ColumnSwitchRun columnSwitchRun_ = ColumnSwitchRun::none;
    /// Set while a deferred switch resizes the grid: the normal buffer is then left as it is.
    bool keepNormalBufferInResize_ = false;

    // The host, options and configuration.
    std::weak_ptr<TerminalDelegate> tdel_;
    TerminalOptions _options;
    bool silentLog_ = true;
    CursorStyle defaultCursorStyle_ = CursorStyle::blinkBlock;
    TerminalConformance conformance_ = TerminalConformance::vt500;
    CC cc_;

    // The state types with rules of their own.
    TerminalTitles titles_;
    MouseReportingState mouse_;
    TerminalPalette palette_;
    // Re-entrancy guards of the three colour setters.
    bool settingFgColor_ = false;
    bool settingBgColor_ = false;
    bool settingCursorColor_ = false;
    CharacterProtectionMode characterProtectionMode_ = CharacterProtectionMode::off;
    TerminalColorScheme colorScheme_ = TerminalColorScheme::dark;
    std::map<int, bool> savedPrivateModes_;
    ReportedOnlyState reportedOnly_;
    KeyboardModeState keyboardModeNormal_;
    KeyboardModeState keyboardModeAlt_;
    SemanticPromptClickBehavior semanticPromptClickBehavior_;

    // Synchronized output.
    double synchronizedOutputTimeoutSeconds_ = 1.0;
    bool synchronizedOutputActive_ = false;
    uint64_t synchronizedOutputGeneration_ = 0;
    bool synchronizedOutputWatchdogDirty_ = false;
    std::optional<platform::TimerQueue::Handle> synchronizedOutputTimeoutItem_;
    SynchronizedOutputWatchdogCounters synchronizedOutputWatchdogCounters_;

    // Host state and events.
    std::optional<std::string> hostCurrentDirectory_;
    std::optional<std::string> hostCurrentDocument_;
    bool reportedFocusState_ = true;
    TerminalVisibility reportedVisibility_ = TerminalVisibility::potentiallyVisible;
    int pressureStage_ = 0;
    float pressure_ = 0;
    std::optional<Position> primaryPointerPressLocation_;
    TerminalOscEventDispatcher oscEventDispatcher_;
    TerminalProgramStatusStore programStatusStore_;
    std::vector<std::weak_ptr<SelectionService>> selections_;
    int activeSelectionCount_ = 0;

    // Payloads.
    PayloadState payloads_;
    SemanticScanState semanticScanState_ = SemanticScanState::ground;
    bool semanticScanInPaste_ = false;
    std::vector<uint8_t> semanticScanParams_;

    // Arena reclaims (cold: only a full table reads them). A reclaim scans every cell, so after
    // one that freed little the next waits for this many refused interns (counted in
    // `arenaRefusals_`), a share of the cells it scanned.
    uint64_t arenaRefusals_ = 0;
    uint64_t arenaRefusalsBeforeReclaim_ = 0;
    // Mutable so that `terminalLock()` can hand it out from const readers.
    mutable TerminalLock terminalLock_;
    // Given by the host before the clipboard protocol object is made; kept after the lock so the
    // rest of the object keeps its layout.
    std::shared_ptr<platform::DispatchQueue> kittyClipboardCompletionQueue_;
};

inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::supportMode{1};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::autodetectDirection{2};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::fallbackDirection{4};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::boxMirroring{8};
inline constexpr Terminal::BidiStateProperty Terminal::BidiStateProperty::allBidiStateProperties{15};

} // namespace kestrovan
