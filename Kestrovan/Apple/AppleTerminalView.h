// The terminal view's shared half: everything a view of a terminal does that is not tied to a
// window toolkit.
//
// `TerminalView` owns one terminal (a `ViewTerminal`) with its selection and search services, the
// render owner that parses output into it, the frame signal and frame driver that turn changes into
// frames, and the two senders through which output comes in and typed bytes go out. It is the
// terminal's `TerminalDelegate`: callbacks arrive on the parsing thread with the terminal lock
// held, capture what they need and hop to the main thread (`onMain`), where the view tells its own
// host (`TerminalViewDelegate`). It is also a `platform::ViewCore`: a toolkit widget (or a test
// twin) hosts it and tells it of size, scale, window, focus and appearance changes.
//
// The members live in one file per concern:
//   AppleTerminalView.cpp            construction, set-up, host lifecycle, main-thread hops
//   AppleTerminalViewSetup.cpp       fonts, cell size, grid fit and resize
//   AppleTerminalViewCallbacks.cpp   the terminal's callbacks and the event queue's events
//   AppleTerminalViewImages.cpp      inline pictures (OSC 1337 files, Sixel bitmaps) put on lines
//   AppleTerminalViewColors.cpp      native colours, palette changes, caret colours
//   AppleTerminalViewInput.cpp       the senders' closures, keys, mouse reports, selection helpers
//   AppleTerminalViewScrolling.cpp   viewport, scroller values and scrollback
//   AppleTerminalViewBlink.cpp       the text-blink timer
//   AppleTerminalViewLinks.cpp       OSC 8 hyperlinks: payloads, clicks, highlight rows
//   AppleTerminalViewPasteboard.cpp  copy, paste, paste events and the system clipboards
//   AppleTerminalViewQueries.cpp     prompt navigation, resets, terminal options, snapshots, search
//   AppleTerminalViewSettings.cpp    the host's run-time settings and the optimal frame
//   AppleTerminalViewStatus.cpp      diagnostics, bell and progress report
//
// Threads: unless a member says otherwise it runs on the main thread. `feed`, `send`, the terminal
// callbacks and `onMain` may be called from any thread. Lock order: the terminal lock first, then
// the view's small `Locked` states, each a leaf.
#pragma once

#include "Kestrovan/Apple/BellPolicy.h"
#include "Kestrovan/Apple/CaretView.h"
#include "Kestrovan/Apple/FrameCaptureCache.h"
#include "Kestrovan/Apple/FrameDriver.h"
#include "Kestrovan/Apple/FrameDriverSignal.h"
#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/RenderLoop.h"
#include "Kestrovan/Apple/SnapshotStyle.h"
#include "Kestrovan/Apple/TerminalFeedSender.h"
#include "Kestrovan/Apple/TerminalInputSender.h"
#include "Kestrovan/Apple/TerminalProgressBarView.h"
#include "Kestrovan/Apple/TerminalRenderMailbox.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Apple/TerminalViewDelegate.h"
#include "Kestrovan/Apple/TerminalViewDiagnostics.h"
#include "Kestrovan/Apple/ViewColorMapper.h"
#include "Kestrovan/Apple/WheelReportBudget.h"
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/MouseReport.h"
#include "Kestrovan/ProfilingStats.h"
#include "Kestrovan/SearchOptions.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalEventQueue.h"
#include "Kestrovan/TerminalLock.h"
#include "Kestrovan/ViewTerminal.h"
#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/Graphics/NativeImage.h"
#include "Platform/Text/FontSet.h"
#include "Platform/UI/Appearance.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewCore.h"
#include "Platform/UI/ViewHost.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrovan {

class SearchService;
class SelectionService;

/// The surface a GPU renderer draws into, as the view's frame submission sees it.
class FrameRenderTarget
{
public:
    virtual ~FrameRenderTarget() = default;
    /// True when the view must call the renderer itself to draw now; false when the surface draws
    /// on its own schedule after `requestDisplay`.
    virtual bool needsExternalDrawCall() const = 0;
    virtual void requestDisplay() = 0;
};

class TerminalView : public platform::ViewCore,
                     public TerminalDelegate,
                     public std::enable_shared_from_this<TerminalView>
{
protected:
    /// Views are made by `create`, which finishes their set-up once they are shared; a toolkit's
    /// subclass takes the key in its constructor and is made with `create<Subclass>`.
    struct Passkey
    {};

public:
    using Diagnostics = TerminalViewDiagnostics;
    using Bytes = std::span<const uint8_t>;

    /// The point size of the font a view gets when none is given.
    static constexpr double systemFontSize = 13;
    /// Seconds a progress bar stays after the last report.
    static constexpr double defaultProgressReportTimeout = 15.0;
    /// Seconds between two phases of blinking text.
    static constexpr double textBlinkInterval = 0.7;
    /// The largest cell height in points.
    static constexpr double maximumCellHeight = 8192.0;

    struct Configuration
    {
        /// The terminal font; absent gives the system's monospaced font at `systemFontSize`.
        platform::FontRef font;
        /// The options the terminal starts with.
        TerminalOptions options = TerminalOptions::defaults();
        /// The system colours the view starts from, until a host tells it its own.
        platform::Appearance appearance = platform::fallbackAppearance(false);
        /// Main-thread timers and their clock; absent gives the system's.
        std::shared_ptr<platform::MainThreadTimers> timers;
        /// Makes the tick source of a window the view enters; absent gives the host's own (a
        /// window's frame clock), or a 60 Hz timer link where the host has none.
        std::function<std::shared_ptr<platform::DisplayLink>()> makeDisplayLink;
        /// The synchronized-output watchdog's timer; absent gives the shared I/O timer queue.
        std::shared_ptr<SynchronizedOutputWatchdog::TimerSource> watchdogTimer;
    };

    /// A set-up view (or subclass) of `frameSize` points: its terminal fits the size. Main thread.
    template <typename View = TerminalView>
    static std::shared_ptr<View> create(platform::Size frameSize, Configuration configuration)
    {
        auto view = std::make_shared<View>(Passkey{}, frameSize, std::move(configuration));
        // The terminal holds the view weakly as its delegate, so it can only be made once the
        // view is shared: the rest of the set-up runs here.
        static_cast<TerminalView&>(*view).setup(frameSize);
        return view;
    }
    static std::shared_ptr<TerminalView> create(platform::Size frameSize);
    TerminalView(Passkey, platform::Size frameSize, Configuration configuration);
    ~TerminalView() override;

    TerminalView(const TerminalView&) = delete;
    TerminalView& operator=(const TerminalView&) = delete;

    // --- The host application ----------------------------------------------------------------------

    std::shared_ptr<TerminalViewDelegate> terminalDelegate() const { return terminalDelegate_.lock(); }
    /// Held weakly; the kitty clipboard capabilities are read again from the new delegate.
    void setTerminalDelegate(const std::shared_ptr<TerminalViewDelegate>& delegate);
    /// The widget showing the view, or null.
    platform::ViewHost* host() const { return host_; }

    // --- Senders and thread hops (AppleTerminalViewInput.cpp, AppleTerminalView.cpp) --------------

    TerminalFeedSender& feedSender() { return *feedSender_; }
    /// The feed sender for a reader that must not keep the view alive (a child's output thread).
    std::shared_ptr<TerminalFeedSender> sharedFeedSender() const { return feedSender_; }
    TerminalInputSender& inputSender() { return *inputSender_; }
    /// Installs the feed closures: parse under the terminal lock, count, ask for a frame.
    void configureFeedSender();
    /// Installs the input closures: submission scan, caret steps, delivery to the host delegate.
    void configureInputSender();

    /// Runs `body` with the terminal under its lock; `caller` names the call site for lock
    /// profiling. Before set-up (no terminal) the program stops.
    template <typename F> decltype(auto) withTerminal(F&& body, const char* caller)
    {
        recordLockCaller(caller);
        Terminal& terminal = requireTerminal(caller);
        TerminalLockGuard guard(terminal.terminalLock());
        return body(terminal);
    }
    /// Runs `body` later on the main thread, also when called there; counts the hop while the
    /// view exists. Any thread.
    void onMain(std::function<void()> body, const char* caller);
    /// `onMain` for a body that works on the view: skipped when the view is gone by then.
    void onMainWithView(std::function<void(TerminalView&)> body, const char* caller);
    /// `onMainWithView` for a body that tells the view's delegate: skipped when it has none.
    void onMainWithDelegate(std::function<void(TerminalView&, TerminalViewDelegate&)> body,
                            const char* caller);

    // --- Data intake, redraw and input (AppleTerminalViewInput.cpp) --------------------------------

    /// Program output; any thread.
    void feed(Bytes bytes);
    void feed(std::string_view text);
    /// Asks for a frame; any thread.
    void requestRedraw();
    /// Makes the frame driver (replacing any) on the view's frame signal.
    void setupFrameDriver();

    /// Typed bytes for the program, through the input sender; any thread.
    void send(Bytes data);
    /// Typed text, sent as its UTF-8 bytes.
    void send(std::string_view text);
    void sendKeyUp();
    void sendKeyDown();
    void sendKeyHome();
    void sendKeyEnd();
    /// Left and right swap places on a right-to-left line when the terminal's swap mode is on.
    void sendKeyLeft();
    void sendKeyRight();
    /// The host's switch for mouse reports: while it is off, no report of any kind leaves the view.
    bool allowMouseReporting = true;
    /// Sends one mouse report straight to the host delegate (not through the input sender), when
    /// the switch is on and the program's tracking mode reports it; true when it was sent. A motion
    /// report equal to the one sent before it (a move within a cell) is not sent again. Takes the
    /// terminal lock; the caller must not hold it.
    bool sendMouseReport(const MouseReport& report);
    /// The control byte of a one-character ASCII string (Ctrl+A is 0x01); empty for anything else.
    static std::vector<uint8_t> applyControlToEventCharacters(std::string_view characters);

    /// Limits wheel reports; used by the scroll-wheel routing on the main thread.
    WheelReportBudget wheelReportBudget;

    /// The program-status records as last reported.
    std::vector<TerminalProgramStatus> programStatusRecords() const;
    void clearProgramStatus(const std::string& id);
    void programStatusProcessExited();

    bool selectionActive();
    std::optional<std::string> getSelection();
    /// Selects the whole buffer and offers it as the primary selection.
    void selectAll();
    /// Offers the selected text as the display's primary selection (what a middle click pastes),
    /// as a finished selection is on Linux; nothing without a host or a selection.
    void offerSelectionAsPrimary();
    void selectNone();
    SemanticPromptClickBehavior semanticPromptClickBehavior();
    void setSemanticPromptClickBehavior(SemanticPromptClickBehavior behavior);

    /// An OSC 8 payload ("params;URI") as its URI and its "key=value" parameters.
    static std::optional<std::pair<std::string, std::map<std::string, std::string>>>
    urlAndParamsFrom(std::string_view payload);

    // --- Set-up, fonts and resize (AppleTerminalViewSetup.cpp) -------------------------------------

    /// Measures the cell and makes (or reconfigures) the terminal for a view of this size.
    void setupOptions(double width, double height);
    /// The cell in points for the current font, line spacing and scale.
    platform::Size computeFontDimensions();
    /// Re-measures the cell after a font change and resizes the grid to the view.
    void resetFont();
    void resetCaches();
    /// Refreshes the cell, scale and colour values other threads read.
    void refreshCachedViewState();
    /// Resizes the terminal, then soft-resets it (DECSTR): the path of font changes.
    void resize(int cols, int rows);
    /// Keeps the grid that fits `newSize` for the next frame to apply.
    void queueSizeChange(platform::Size newSize);
    /// Resizes the terminal to fit `newSize` now; true when its grid changed.
    bool processSizeChange(platform::Size newSize);
    /// Re-measures when the scale changed since the last measurement; true when it did.
    bool remeasureCellDimensionIfBackingScaleChanged();
    /// The columns and rows that fit a view size: at least 2 columns and 1 row.
    std::pair<int, int> gridFit(platform::Size size) const;
    /// The width left to cells in a view of this size.
    virtual double getEffectiveWidth(platform::Size size) const;

    const platform::FontSet& fontSet() const { return fontSet_; }
    /// A new font: its family's four faces replace the font set, the cell is re-measured, the
    /// grid resized and the selection dropped.
    void setFont(const platform::FontRef& font);
    /// Back to the system's monospaced font at the system font size.
    void resetFontSize();
    std::optional<platform::Size> cellDimension() const { return cellDimension_; }
    double cellDimensionBackingScale() const { return cellDimensionBackingScale_; }
    bool fontSmoothing() const { return fontSmoothing_; }
    void setFontSmoothing(bool value) { fontSmoothing_ = value; }
    double lineSpacing() const { return lineSpacing_; }
    void setLineSpacing(double value);
    platform::Rect caretFrame() const;
    TerminalDimensions terminalDimensions();
    /// The view's size in points (the host's, or the size it was made with).
    platform::Size frameSize() const;
    /// Device pixels per point: the host's, 1 without one.
    double backingScale() const;

    // --- Terminal callbacks (AppleTerminalViewCallbacks.cpp) ---------------------------------------

    void showCursor(Terminal& source) override;
    void hideCursor(Terminal& source) override;
    void setTerminalTitle(Terminal& source, const std::string& title) override;
    void setTerminalIconTitle(Terminal& /*source*/, const std::string& /*title*/) override {}
    std::optional<std::vector<uint8_t>> windowCommand(Terminal& source,
                                                      const WindowManipulationCommand& command) override;
    void sizeChanged(Terminal& source) override;
    void send(Terminal& source, Bytes data) override;
    void bufferActivated(Terminal& source) override;
    void synchronizedOutputChanged(Terminal& source, bool active) override;
    void bell(Terminal& source) override;
    void selectionChanged(Terminal& source) override;
    bool isProcessTrusted(Terminal& /*source*/) override { return true; }
    std::optional<CellPixelSize> cellSizeInPixels(Terminal& source) override;
    void mouseModeChanged(Terminal& source) override;
    void cursorStyleChanged(Terminal& source, CursorStyle newStyle) override;
    void hostCurrentDirectoryUpdated(Terminal& source) override;
    void hostCurrentDocumentUpdated(Terminal& /*source*/) override {}
    void colorChanged(Terminal& source, std::optional<int> idx) override;
    void setForegroundColor(Terminal& source, const Color& color) override;
    void setBackgroundColor(Terminal& source, const Color& color) override;
    void setCursorColor(Terminal& source, const std::optional<Color>& color) override;
    std::pair<Color, Color> getColors(Terminal& source) override;
    void iTermContent(Terminal& source, Bytes content) override;
    void clipboardCopy(Terminal& source, Bytes content) override;
    std::optional<std::vector<uint8_t>> clipboardRead(Terminal& source) override;
    KittyClipboardCapabilities kittyClipboardCapabilities(Terminal& source) override;
    bool kittyClipboardAvailableMimeTypes(
        Terminal& source, KittyClipboardLocation location,
        std::function<void(std::optional<std::vector<std::string>>)> completion) override;
    bool kittyClipboardRead(Terminal& source, KittyClipboardLocation location, const std::string& mimeType,
                            std::function<void(KittyClipboardReadResult)> completion) override;
    bool kittyClipboardWrite(Terminal& source, KittyClipboardLocation location,
                             const KittyClipboardWriteContent& content,
                             std::function<void(KittyClipboardWriteResult)> completion) override;
    bool
    kittyClipboardRequestPermission(Terminal& source, const KittyClipboardPermissionRequest& request,
                                    std::function<void(KittyClipboardPermissionResult)> completion) override;
    void notify(Terminal& source, const std::string& title, const std::string& body) override;
    void progressReport(Terminal& source, const ProgressReport& report) override;
    void programStatusChanged(Terminal& source, const std::vector<TerminalProgramStatus>& records) override;

    // --- Inline pictures (AppleTerminalViewImages.cpp) ---------------------------------------------

    /// An OSC 1337 file: a PNG sized by the requests, cut into strips one cell row high and put on
    /// the lines under the cursor, which moves down a line per strip. Dropped before the view has
    /// measured its cell, and when it cannot be decoded or sized.
    void createImage(Terminal& source, Bytes data, ImageSizeRequest width, ImageSizeRequest height,
                     bool preserveAspectRatio) override;
    /// A Sixel bitmap (RGBA, alpha premultiplied), placed as an OSC 1337 picture: across the text
    /// area when it has more pixels than the area has points, else at its own size.
    void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width, int height) override;

    /// Main thread: one coalesced event from the event queue.
    void applyTerminalEvent(TerminalEvent event);
    /// The mouse mode the terminal last reported; any thread.
    Terminal::MouseMode mouseMode() const;

    // The system clipboards, as the kitty clipboard protocol falls back on them when the host does
    // not answer: the host's clipboards (CLIPBOARD for the standard location, PRIMARY for the
    // primary one). A view without a host has no clipboard.

    /// The formats a clipboard offers, in its order; none when it offers nothing.
    virtual std::optional<std::vector<std::string>>
    kittyPlatformTypeIdentifiers(KittyClipboardLocation location);
    /// Reads one format; clipboard reads finish later, on the main thread, with none for no data.
    virtual void kittyPlatformData(KittyClipboardLocation location, const std::string& identifier,
                                   std::function<void(std::optional<std::vector<uint8_t>>)> completion);
    /// Replaces the clipboard's contents with one item of the given (format, data) pairs.
    virtual KittyClipboardWriteResult
    kittyPlatformPublish(KittyClipboardLocation location,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items);
    /// A program's write to the system clipboard: every representation (and usable alias) under
    /// its MIME name; an invalid name refuses the whole write.
    KittyClipboardWriteResult kittyPlatformWrite(KittyClipboardLocation location,
                                                 const KittyClipboardWriteContent& content);

    /// Registers an observer of every OSC the terminal receives.
    std::unique_ptr<TerminalOscObservation> observeOscEvents(TerminalOscEventDispatcher::Handler handler);
    /// Reads the delegate's kitty clipboard capabilities into the terminal's clipboard protocol.
    void refreshKittyClipboardCapabilities();

    // --- Copy and paste (AppleTerminalViewPasteboard.cpp) ------------------------------------------

    /// The host's clipboard for a location; null without a host or clipboard.
    platform::Clipboard* systemClipboard(KittyClipboardLocation location) const;
    /// Copies the selected text to the standard clipboard; the primary selection is left alone.
    void copy();
    /// Pastes the standard clipboard.
    void paste();
    /// Pastes a clipboard: as a kitty paste event when the program asked for those, else its text,
    /// once the clipboard's owner has handed it over.
    void pasteClipboard(KittyClipboardLocation location);
    /// Pastes text as the user's paste: the caret brought into view, bracketed when the program
    /// asked, and delivered even when the encoder finds it unsafe (reviewing pastes is the
    /// application's business).
    void pasteText(std::string_view text);
    /// Text read from a clipboard for a paste; the toolkit's half first drops composing text.
    virtual void insertPastedText(const std::string& text) { pasteText(text); }
    /// Offers a clipboard to the program as a kitty paste event; true when one went out.
    bool sendKittyPasteEvent(KittyClipboardLocation location);
    /// What a clipboard offers now, for a paste event: its types (the host's list, else the
    /// clipboard's formats as read at one change count) and a read that answers only while the
    /// clipboard still holds what was offered. None when it offers nothing or keeps changing.
    std::optional<TerminalClipboardSnapshot> kittyClipboardSnapshot(KittyClipboardLocation location);
    /// `image` drawn into `size` points (one pixel a point), keeping its aspect and centred; the
    /// image itself for a size that is not finite, not positive, over 16,384 points a side or
    /// over 2^24 pixels.
    static std::shared_ptr<const platform::NativeImage>
    scale(const std::shared_ptr<const platform::NativeImage>& image, platform::Size size);
    /// The largest side and area a scaled image may have.
    static constexpr double maximumScaledImageSide = 16384;
    static constexpr double maximumScaledImagePixels = 16777216;

    // --- Colours (AppleTerminalViewColors.cpp) -----------------------------------------------------

    /// Drops cached colours, copies reverse video across and redraws every row.
    void colorsChanged();
    void colorsChangedOnMain();
    void colorsChangedLocked();
    /// Installs 16 base colours (another count keeps the terminal's) and redraws.
    void installColors(const std::vector<Color>& colors);
    /// A cell colour as the view shows it (bold as bright, reverse video, cached palette); the
    /// caller holds the terminal lock.
    platform::NativeColor mapColor(Attribute::Color color, bool isFg, bool isBold, bool useBrightColors);
    ViewColorMapper& colorMapper() { return colorMapper_; }

    platform::NativeColor nativeForegroundColor() const { return nativeFg_; }
    platform::NativeColor nativeBackgroundColor() const { return nativeBg_; }
    /// The view's default colours, kept in step with the terminal's default colours.
    void setNativeForegroundColor(platform::NativeColor color);
    void setNativeBackgroundColor(platform::NativeColor color);
    void setNativeForegroundColorLocked(platform::NativeColor color);
    void setNativeBackgroundColorLocked(platform::NativeColor color);
    /// A default colour the terminal reported: taken unless the terminal has moved on since.
    void setNativeForegroundColorFromTerminal(platform::NativeColor color);
    void setNativeBackgroundColorFromTerminal(platform::NativeColor color);
    using NativeColorSetter = void (TerminalView::*)(platform::NativeColor);
    void setDefaultColorFromTerminal(const Color& color, NativeColorSetter setter, const char* label);
    /// Back to the appearance's text colours.
    void configureNativeColors();
    /// The background the view paints behind the cells (the foreground in reverse video, clear
    /// when translucent cells show through).
    virtual void updateBackingLayerBackground();
    platform::NativeColor backingLayerColor() const { return backingLayerColor_; }

    platform::NativeColor caretColor() const;
    void setCaretColor(platform::NativeColor color);
    std::optional<platform::NativeColor> caretTextColor() const;
    void setCaretTextColor(std::optional<platform::NativeColor> color);
    bool cursorColorIsDefault() const { return cursorColorIsDefault_; }
    bool cursorTextColorIsDefault() const { return cursorTextColorIsDefault_; }
    /// The caret colour a frame paints, and the colour of the character under a block caret.
    platform::NativeColor effectiveCaretColor() const;
    platform::NativeColor effectiveCaretTextColor() const;

    bool hasFocus() const;
    void setHasFocus(bool focused);
    /// Tells the terminal of a change of focus (a focus report when the program asked for one).
    void updateTerminalFocus();

    // --- Bell and progress (AppleTerminalViewStatus.cpp) -------------------------------------------

    BellStyle bellStyle() const { return bellStyle_; }
    void setBellStyle(BellStyle style);
    BellPolicy& bellPolicy() { return bellPolicy_; }
    /// One delivered bell event: sound, flash, both or nothing, by style and rate.
    void deliverBell();
    /// Flashes the view; the widget draws the flash. Counts the flashes here.
    virtual void flashVisualBell();
    uint64_t visualBellFlashes() const { return visualBellFlashes_; }

    TerminalProgressBarView& progressBar() { return progressBar_; }
    std::optional<double> progressReportTimeout() const { return progressReportTimeout_; }
    /// Absent: a report stays until the next one. Restarts a running time-out.
    void setProgressReportTimeout(std::optional<double> seconds);
    std::optional<platform::NativeColor> progressBarColor() const { return progressBar_.tint(); }
    void setProgressBarColor(std::optional<platform::NativeColor> color);
    void resetProgressReportTimer();
    void clearProgressReport();
    bool progressReportTimerRunning() const;
    /// Seconds on the view's clock, the time base of the progress bar's motion.
    double nowSeconds() const;

    /// Counters of this view.
    Diagnostics diagnostics();
    void resetDiagnostics();

    // --- Text blink (AppleTerminalViewBlink.cpp) ---------------------------------------------------

    void setupTextBlinking();
    /// Runs the blink timer while blinking rows are visible in an active window and motion is
    /// allowed; `blinkRows` absent: the view finds the visible blinking rows itself.
    void updateTextBlinkLifecycle(std::optional<std::vector<int64_t>> blinkRows);
    void stopTextBlinking();
    bool textBlinkVisible() const { return textBlinkVisible_; }
    bool textBlinkTimerRunning() const { return textBlinkTimer_ != nullptr; }
    /// The user asked for less motion: blinking text is then shown steadily.
    bool reduceMotion() const { return reduceMotion_; }
    void setReduceMotion(bool value);
    /// The rows (buffer rows) of the viewport that hold a blinking cell.
    std::vector<int64_t> visibleBlinkRowsLocked();
    /// Marks the given buffer rows for redraw and asks for a frame.
    void invalidateTextBlinkRows(const std::vector<int64_t>& rows);

    // --- Prompt navigation, resets, settings and queries (AppleTerminalViewQueries.cpp) -----------

    std::optional<int> previousSemanticPromptRow();
    std::optional<int> nextSemanticPromptRow();
    /// DECSTR and RIS, fed like program output.
    void softReset();
    void resetToInitialState();
    void setCursorStyle(CursorStyle style);
    Ansi256PaletteStrategy ansi256PaletteStrategy();
    void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy);
    int maximumBidiParagraphRows();
    void setMaximumBidiParagraphRows(int rows);
    KittyKeyboardFlags keyboardEnhancementFlags();
    std::optional<TerminalInputStateSnapshot> terminalInputStateSnapshot();
    std::optional<TerminalContentSnapshot> terminalContentSnapshot(const TerminalContentRegion& region,
                                                                   Terminal::BufferKind buffer);
    std::optional<std::vector<uint8_t>> getBufferAsData(Terminal::BufferKind kind,
                                                        Terminal::TextEncoding encoding);
    TerminalViewStateSnapshot terminalStateSnapshot();
    std::vector<std::string> visibleRowsText(int firstRow, int endRow);
    void updateColorScheme(Terminal::TerminalColorScheme scheme, bool notify);
    void notifyColorScheme();

    /// Find next or previous: selects the match; scrolls to it when asked. True when found.
    bool findNext(std::string_view term, const SearchOptions& options, bool scrollToResult);
    bool findPrevious(std::string_view term, const SearchOptions& options, bool scrollToResult);
    void clearSearch();
    /// The current match's place (from 1, 0 for none) among the first `limit` matches, and their count.
    std::pair<int, int> searchMatchSummary(std::string_view term, const SearchOptions& options, int limit);

    // --- Hyperlinks (AppleTerminalViewLinks.cpp) ---------------------------------------------------

    /// A link a click opens: its URL, its OSC 8 parameters, and whether it was an OSC 8 link.
    struct LinkClick
    {
        std::string url;
        std::map<std::string, std::string> params;
        bool isExplicit = false;

        friend bool operator==(const LinkClick&, const LinkClick&) = default;
    };

    bool enableOsc8Hyperlinks();
    void setEnableOsc8Hyperlinks(bool value);
    /// The OSC 8 payload of a cell (column, buffer row); the caller holds the terminal lock.
    std::optional<std::string> payloadStringLocked(Position at);
    /// What a click at a buffer position opens, by the highlight mode; lock held by the caller.
    std::optional<LinkClick> linkForClickLocked(Position at, bool hasCommandModifier);
    /// Marks the visible rows of both highlights for redraw.
    void invalidateLinkHighlight(const std::optional<std::vector<LinkMatch::RowRange>>& oldRange,
                                 const std::optional<std::vector<LinkMatch::RowRange>>& newRange);
    void invalidateLinkHighlightRowLocked(int64_t row);

    LinkHighlightMode linkHighlightMode() const { return linkHighlightMode_; }
    void setLinkHighlightMode(LinkHighlightMode mode);
    const std::optional<std::vector<LinkMatch::RowRange>>& linkHighlightRange() const
    {
        return linkHighlightRange_;
    }
    void setLinkHighlightRange(std::optional<std::vector<LinkMatch::RowRange>> range);
    bool commandActive() const { return commandActive_; }
    void setCommandActive(bool active) { commandActive_ = active; }
    /// The label previewing a hovered link's target, when one is shown.
    std::shared_ptr<platform::Label> urlPreview;
    /// Opens a link the delegate approved; the link-safety policy is the application's.
    virtual void openLinkFromDelegate(const std::string& /*link*/,
                                      const std::map<std::string, std::string>& /*params*/)
    {}

    // --- Scrolling and scrollback (AppleTerminalViewScrolling.cpp) --------------------------------

    double scrollThumbsize();
    double scrollThumbsizeLocked();
    double scrollPosition();
    double scrollPositionLocked();
    bool canScroll();
    bool canScrollLocked();
    /// Moves the viewport's top to buffer row `row` (clamped); redraws and reports a change.
    void scrollTo(int row, bool notifyAccessibility);
    /// Moves the viewport to a scroller position (0 ... 1).
    void scroll(double toPosition);
    void pageUp();
    void pageDown();
    void scrollUp(int lines);
    void scrollDown(int lines);
    void changeScrollback(std::optional<int> lines);
    void clearScrollback();
    /// Scrolls the cursor into view after input, unless synchronized output is on.
    void ensureCaretIsVisible();
    /// The user has scrolled away from the live screen.
    bool userScrolling() const { return userScrolling_; }
    /// Shows the overlay scroller for a moment; the widget does that.
    virtual void showOverlayScroller() { ++overlayScrollerShows_; }
    /// Gives the scroller its values.
    virtual void applyScrollerState(const ScrollerState& state);
    uint64_t overlayScrollerShows() const { return overlayScrollerShows_; }

    // --- Frames (AppleTerminalViewFrame.cpp) -------------------------------------------------------

    /// One tick of the frame driver: captures the view's settings and hands them to the render
    /// loop, or prepares the frame here and applies it.
    void frameTick();
    /// The view's render settings for a frame; absent before the view has a terminal.
    std::optional<FrameViewState> captureFrameViewState();
    /// What a prepared frame asks of the main thread, in order: size report, scroller, text blink,
    /// changed rows, accessibility, selection, scroll report, debug view.
    void applyFrameSideEffects(const MainFrameEffects& effects);
    /// Places the caret over the frame's cursor and gives it the character under it.
    void updateCursorPosition(const std::optional<SnapshotCursor>& cursor, int rowCount);
    /// Starts drawing a prepared frame: a GPU draw, or the CPU path's dirty rectangle.
    void submitFrameDraw(const PreparedFrame& frame);
    /// Moves the caret to the terminal's cursor outside a tick.
    void updateCursorPosition();
    /// Prepares a GPU snapshot outside a tick; false without a terminal or renderer.
    bool refreshSnapshotForMetal();
    /// When the main thread last prepared a frame, for measuring the way from input to screen.
    std::chrono::steady_clock::time_point lastFramePreparedTime() const { return lastFramePreparedTime_; }

    /// The render loop that prepares and draws frames off the main thread (GPU path); none draws
    /// on the main thread.
    std::shared_ptr<RenderLoop> renderLoop() const;
    void setRenderLoop(std::shared_ptr<RenderLoop> loop);
    /// The GPU surface, when frames are drawn on the GPU.
    std::shared_ptr<FrameRenderTarget> renderTarget;
    std::optional<double> metalScaleFactorOverride;
    MetalBufferingMode metalBufferingMode = MetalBufferingMode::perRowPersistent;

    /// Accessibility announcements; the widget speaks them. Counted here.
    virtual void postAccessibilityValueChanged() { ++accessibilityValueChanges_; }
    virtual void postAccessibilitySelectedTextChanged() { ++accessibilitySelectionChanges_; }
    uint64_t accessibilityValueChanges() const { return accessibilityValueChanges_; }
    uint64_t accessibilitySelectionChanges() const { return accessibilitySelectionChanges_; }
    /// Refreshes an attached debug overlay after each frame.
    virtual void updateDebugView() {}

    // --- The toolkit's side (platform::ViewCore) ---------------------------------------------------

    void attachHost(platform::ViewHost* host) override;
    void sizeChanged(platform::Size newSize) override;
    void scaleChanged(double newScale) override;
    void windowChanged(bool hasWindow) override;
    void visibilityChanged(bool windowVisible) override;
    void appearanceChanged(const platform::Appearance& appearance) override;
    void focusChanged(bool viewHasFocus) override;
    void windowActiveChanged(bool windowIsActive) override;
    /// Paints the dirty part: the background, then the terminal's contents; counts the draw and
    /// calls the process's frame-presented hook.
    void draw(const platform::DrawRequest& request) override;
    /// The CPU path's drawing of the snapshot's rows into the dirty rectangle.
    virtual void drawTerminalContents(const platform::DrawRequest& /*request*/) {}

    // --- Parts, for hosts and tests ----------------------------------------------------------------

    const std::shared_ptr<ViewTerminal>& terminal() const { return terminal_; }
    const std::shared_ptr<SelectionService>& selection() const { return selection_; }
    const std::shared_ptr<SearchService>& search() const { return search_; }
    TerminalRenderOwner& renderOwner() { return *renderOwner_; }
    /// The render owner as a shared reference, for a render thread that must keep it alive.
    const std::shared_ptr<TerminalRenderOwner>& sharedRenderOwner() const { return renderOwner_; }
    const std::shared_ptr<FrameDriverSignal>& frameSignal() const { return frameSignal_; }
    const std::shared_ptr<FrameDriver>& frameDriver() const { return frameDriver_; }
    const std::shared_ptr<CaretView>& caretView() const { return caretView_; }
    /// The host's scroller; none without a host.
    const std::shared_ptr<platform::Scroller>& scroller() const { return scroller_; }
    /// The window's appearance as the host last told it.
    const platform::Appearance& appearance() const { return appearance_; }
    TerminalEventQueue& eventQueue() { return *eventQueue_; }
    platform::MainThreadTimers& timers() { return *timers_; }
    const std::shared_ptr<platform::MainThreadTimers>& sharedTimers() const { return timers_; }
    TerminalViewCrossThreadState crossThreadState() const;
    /// The requests waiting for the next frame (pending size, scroller and accessibility flags).
    TerminalRenderMailbox::State pendingFrameRequests() const;
    const TerminalOptions& startupOptions() const { return startupOptions_; }

    // --- Settings (AppleTerminalViewSettings.cpp) --------------------------------------------------
    //
    // A host changes these at run time, on the main thread. A setter takes effect at once and does
    // nothing when the value is the one in place: a colour setting drops the colour caches and
    // redraws every row ("colours changed"), a drawing setting redraws every row, and a setting that
    // changes the room the text has refits the grid. The next frame capture reads the new value.

    /// Stored only: the frame capture reads it.
    bool notifyUpdateChanges = false;
    /// Stored only: read when input is sent.
    bool cursorBlinkResetsOnInput = true;

    /// Bold text in the first eight palette colours is drawn in their bright twins.
    bool useBrightColors() const { return useBrightColors_; }
    void setUseBrightColors(bool value);
    /// With bright colours off, the bright palette colours 8-15 are drawn as the base ones 0-7.
    bool collapseBrightColorsToBase() const { return collapseBrightColorsToBase_; }
    void setCollapseBrightColorsToBase(bool value);
    /// The least contrast between text and its background; 1 leaves colours as they are. A value
    /// that is not a number always counts as a change.
    double minimumContrastRatio() const { return minimumContrastRatio_; }
    void setMinimumContrastRatio(double value);
    /// Cell backgrounds keep a translucent background colour's alpha.
    bool translucentCellBackgrounds() const { return translucentCellBackgrounds_; }
    void setTranslucentCellBackgrounds(bool value);
    /// The alpha of the native background colour. Set: clamped to 0 ... 1 (not a number gives 1),
    /// the background keeps its hue.
    double backgroundOpacity() const { return nativeBg_.alpha; }
    void setBackgroundOpacity(double value);
    /// Whether rows follow the terminal's bidirectional presentation or stay left to right.
    BidiHostPolicy bidiHostPolicy() const { return bidiHostPolicy_; }
    void setBidiHostPolicy(BidiHostPolicy policy);
    /// Block, box-drawing and Powerline characters drawn as shapes rather than from the font.
    bool customBlockGlyphs() const { return customBlockGlyphs_; }
    void setCustomBlockGlyphs(bool value);
    bool antiAliasCustomBlockGlyphs() const { return antiAliasCustomBlockGlyphs_; }
    void setAntiAliasCustomBlockGlyphs(bool value);
    /// The host's fonts for characters the terminal's font lacks; none uses the system's.
    const std::shared_ptr<const TerminalGlyphFallbackProvider>& glyphFallbackProvider() const
    {
        return glyphFallbackProvider_;
    }
    void setGlyphFallbackProvider(std::shared_ptr<const TerminalGlyphFallbackProvider> provider);
    platform::NativeColor selectedTextBackgroundColor() const { return selectedTextBackgroundColor_; }
    void setSelectedTextBackgroundColor(platform::NativeColor color);
    platform::NativeColor selectedTextForegroundColor() const { return selectedTextForegroundColor_; }
    void setSelectedTextForegroundColor(platform::NativeColor color);
    /// The colour of highlighted links and of their underline; none keeps the text's.
    const std::optional<platform::NativeColor>& linkColor() const { return linkColor_; }
    void setLinkColor(std::optional<platform::NativeColor> color);
    const std::optional<platform::NativeColor>& linkUnderlineColor() const { return linkUnderlineColor_; }
    void setLinkUnderlineColor(std::optional<platform::NativeColor> color);
    /// The caret is drawn hollow and does not blink while the view has no focus.
    bool caretViewTracksFocus() const;
    void setCaretViewTracksFocus(bool value);
    /// Frames stop while the view cannot be seen. Main thread only (the program stops otherwise).
    bool suspendsRenderingWhenNotVisible() const;
    void setSuspendsRenderingWhenNotVisible(bool value);

    /// The frame that fits the terminal's columns and rows exactly, at the origin.
    platform::Rect getOptimalFrameSize();
    /// The width the text leaves to a scroller beside it.
    virtual double reservedScrollerWidth() const { return 0; }

protected:
    /// Moves the viewport without the follow-up reports (used by `scrollTo`); true when it moved.
    bool moveViewportLocked(Terminal& terminal, int row);

private:
    /// The remaining construction steps, once the view is shared.
    void setup(platform::Size frameSize);
    Terminal& requireTerminal(const char* caller) const;
    static void recordLockCaller(const char* caller);
    void requireMainThread(const char* operation) const;
    void countFeed(int64_t bytes);
    /// Runs `body` under the terminal lock, taking it unless this thread holds it already (or
    /// there is no terminal yet, when nothing else can reach the view's caches).
    void withTerminalLockHeld(const std::function<void()>& body, const char* caller);
    /// The mailbox flags and pending size, written under their own lock.
    void setMailboxUpdateScroller();
    void setMailboxSuppressAccessibility(bool suppress);
    void storePendingSize(FrameTerminalSize size);
    std::vector<int64_t> mailboxBlinkRows() const;
    /// Sets the mailbox's scroller flag and asks for a frame, when the view has a terminal.
    void requestScrollerUpdate();
    /// Marks every screen row for redraw; the caller holds the terminal lock.
    static void markWholeScreenLocked(Terminal& terminal);
    /// Marks every screen row for redraw and asks for a frame; `caller` names the setting.
    void fullRedraw(const char* caller);
    /// The cell in device pixels, each at least 1.
    std::pair<int, int> cellPixelSize() const;
    void sendCursorKey(char normal);
    void sendHorizontalKey(bool left);
    bool findStep(std::string_view term, const SearchOptions& options, bool scrollToResult, bool forward,
                  const char* caller);
    void updateUserScrollingStateLocked(Terminal& terminal, int row);
    void applyCursorStyleOnMain(CursorStyle style);
    void applyTextBlinkTick();
    void applyCursorColorOnMain(const std::optional<platform::NativeColor>& color);
    /// The tick source for a window the view enters.
    std::shared_ptr<platform::DisplayLink> makeWindowDisplayLink();
    /// The frame capture itself, once the link preview check is done.
    FrameViewState makeFrameViewState();
    /// Drops the link preview when OSC 8 links were switched off.
    void removeUrlPreviewIfLinksOff();

    // Host and delegate.
    platform::ViewHost* host_ = nullptr;
    std::weak_ptr<TerminalViewDelegate> terminalDelegate_;
    platform::Size initialFrameSize_;
    platform::Appearance appearance_;

    // Owned parts.
    std::shared_ptr<platform::MainThreadTimers> timers_;
    std::function<std::shared_ptr<platform::DisplayLink>()> makeDisplayLink_;
    std::chrono::steady_clock::time_point lastFramePreparedTime_;
    std::shared_ptr<TerminalFeedSender> feedSender_ = std::make_shared<TerminalFeedSender>();
    std::shared_ptr<TerminalInputSender> inputSender_ = std::make_shared<TerminalInputSender>();
    std::shared_ptr<FrameDriverSignal> frameSignal_ = FrameDriverSignal::create();
    std::shared_ptr<FrameDriver> frameDriver_;
    std::shared_ptr<TerminalRenderOwner> renderOwner_;
    std::shared_ptr<TerminalEventQueue> eventQueue_ = TerminalEventQueue::create();
    std::shared_ptr<ViewTerminal> terminal_;
    std::shared_ptr<SelectionService> selection_;
    std::shared_ptr<SearchService> search_;
    std::shared_ptr<CaretView> caretView_;
    TerminalOptions startupOptions_;

    // State other threads read or write, each behind its own leaf lock.
    Locked<TerminalViewCrossThreadState> crossThreadState_;
    std::shared_ptr<Locked<Diagnostics>> diagnosticsState_ = std::make_shared<Locked<Diagnostics>>();
    Locked<std::vector<TerminalProgramStatus>> programStatusState_;
    Locked<Terminal::MouseMode> mouseModeState_{Terminal::MouseMode::off};
    Locked<KittyClipboardCapabilities> kittyClipboardCapabilities_;
    // Frames.
    FrameCaptureCache frameCaptureCache_;
    /// Guards the render loop's slot, which the render thread's teardown may clear.
    mutable platform::Mutex viewStateLock_;
    std::shared_ptr<RenderLoop> renderLoop_ GUARDED_BY(viewStateLock_);
    SnapshotSelectionState accessibilitySelection_;
    uint64_t accessibilityValueChanges_ = 0;
    uint64_t accessibilitySelectionChanges_ = 0;

    // Fonts and cell.
    platform::FontSet fontSet_;
    std::optional<platform::Size> cellDimension_;
    double cellDimensionBackingScale_ = 1.0;
    bool fontSmoothing_ = true;
    double lineSpacing_ = 1.0;

    // Settings (AppleTerminalViewSettings.cpp).
    bool useBrightColors_ = true;
    bool collapseBrightColorsToBase_ = true;
    double minimumContrastRatio_ = 1.0;
    bool translucentCellBackgrounds_ = false;
    BidiHostPolicy bidiHostPolicy_ = BidiHostPolicy::respectTerminal;
    bool customBlockGlyphs_ = true;
    bool antiAliasCustomBlockGlyphs_ = false;
    std::shared_ptr<const TerminalGlyphFallbackProvider> glyphFallbackProvider_;
    platform::NativeColor selectedTextBackgroundColor_ =
        platform::NativeColor::sRGB(0, 166.0 / 255, 178.0 / 255);
    platform::NativeColor selectedTextForegroundColor_ = platform::NativeColor::sRGB(0, 0, 0);
    std::optional<platform::NativeColor> linkColor_;
    std::optional<platform::NativeColor> linkUnderlineColor_;

    // Colours.
    platform::NativeColor nativeFg_;
    platform::NativeColor nativeBg_;
    bool settingFg_ = false;
    bool settingBg_ = false;
    bool cursorColorIsDefault_ = true;
    bool cursorTextColorIsDefault_ = true;
    platform::NativeColor backingLayerColor_;
    ViewColorMapper colorMapper_;

    // The last motion report sent: the same report again (a move within one cell) is not sent.
    std::optional<std::vector<uint8_t>> lastMotionReport_;

    // Focus, links, scrolling.
    bool hasFocus_ = false;
    bool commandActive_ = false;
    LinkHighlightMode linkHighlightMode_ = LinkHighlightMode::hoverWithModifier;
    std::optional<std::vector<LinkMatch::RowRange>> linkHighlightRange_;
    bool userScrolling_ = false;
    std::shared_ptr<platform::Scroller> scroller_;
    uint64_t overlayScrollerShows_ = 0;

    // Text blink.
    bool textBlinkVisible_ = true;
    bool textBlinkApplicationActive_ = true;
    bool textBlinkObserving_ = false;
    bool reduceMotion_ = false;
    std::shared_ptr<platform::MainThreadTimers::Timer> textBlinkTimer_;

    // Bell and progress.
    BellStyle bellStyle_ = BellStyle::sound;
    BellPolicy bellPolicy_;
    uint64_t visualBellFlashes_ = 0;
    TerminalProgressBarView progressBar_;
    std::optional<double> progressReportTimeout_ = defaultProgressReportTimeout;
    std::shared_ptr<platform::MainThreadTimers::Timer> progressReportTimer_;
};

} // namespace kestrovan
