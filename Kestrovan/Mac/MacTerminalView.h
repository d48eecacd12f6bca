// The terminal view's window-system half: the view a toolkit widget shows, on top of the shared
// half (`TerminalView`).
//
// The shared half parses, schedules frames, answers the terminal and sends typed bytes. This half
// adds what needs the window: it draws frames on the CPU (the backing store the widget keeps),
// lays the progress bar, the visual bell and the input method's pre-edit over them, blinks the
// caret, turns key events into the bytes programs expect (legacy sequences or the kitty keyboard
// protocol), takes committed and composing text from the input method, routes the pointer and the
// wheel (reports for a program that tracks the mouse, or selection, the primary selection and
// scrolling), keeps the scroller in the desktop's style, and stops its rendering for good when its
// UI closes. It is a `platform::ViewCore`: `platform::gtk::CoreViewWidget`
// shows it in a GTK window, `platform::RecordingViewHost` in tests.
//
// The members live in one file per concern:
//   MacTerminalView.cpp              construction, lifecycle, drawing, overlays, shutdown
//   MacTerminalViewMetal.cpp         the GPU surface: switching, rebinding, fallback, render loop
//   MacTerminalViewKeyboard.cpp      key presses and releases, modifier keys, editing commands
//   MacKittyKeyEvents.cpp            key events as kitty keyboard events, and their sending
//   MacTerminalViewTextInput.cpp     committed text, marked text and its overlay
//   MacTerminalViewLinks.cpp         link hover, the link preview, opening a clicked link
//   MacTerminalViewFind.cpp          the find bar and the find actions
//   MacTerminalViewEditActions.cpp   the edit and find actions, their shortcuts and enabled states
//   MacTerminalViewScroller.cpp      the scroller: its two styles, placing, showing, fading, clicks
//   MacTerminalViewMouse.cpp         pointer events: hit test, reports to the program or local use
//   MacTerminalViewSelection.cpp     selection gestures, autoscroll, the primary selection
//   MacTerminalViewWheel.cpp         scroll-wheel routing
//
// Everything here runs on the main thread.
#pragma once

#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/Metal/MetalError.h"
#include "Kestrovan/Apple/MouseHitTest.h"
#include "Kestrovan/Apple/TerminalFrameDrawer.h"
#include "Kestrovan/Apple/WheelDistanceAccumulator.h"
#include "Kestrovan/KittyKeyboardEncoder.h"
#include "Kestrovan/KittyKeyboardFlags.h"
#include "Kestrovan/Mac/MetalSurfaceProvider.h"
#include "Kestrovan/Mac/TerminalLinkOpening.h"
#include "Kestrovan/SearchOptions.h"
#include "Platform/UI/FindBar.h"
#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/MarkedText.h"
#include "Platform/UI/PointerEvents.h"
#include "Platform/UI/TextInputCommand.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace kestrovan {

class MarkedTextOverlay;
class StatusOverlay;
class TerminalDebugView;

/// The key-down event handed to the input method, so that the text or command it gives back is
/// encoded with that key's modifiers.
struct PendingKittyKeyEvent
{
    platform::KeyEvent event;
    KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
};

/// The view's edit and find actions, as menus and shortcuts offer them.
enum class TerminalViewAction
{
    copy,
    paste,
    selectAll,
    /// Shows the find bar, filled from the selection.
    find,
    findNext,
    findPrevious,
    /// Puts the selection on the find pasteboard and shows the find bar.
    useSelectionForFind,
    /// Hides the find bar.
    hideFind,
};

/// Whether each action can be performed now.
using TerminalViewActionStates = std::map<TerminalViewAction, bool>;

class MacTerminalView : public TerminalView
{
public:
    /// How far the view's UI has been torn down (`updateUiClosed`); it only moves forwards.
    enum class UIShutdownState
    {
        active,
        stopping,
        stopped,
    };

    /// Seconds a blinking caret stays in each phase.
    static constexpr double caretBlinkInterval = 0.7;
    /// Seconds the visual bell's flash lasts.
    static constexpr double visualBellDuration = 0.2;
    /// Height of the progress bar along the top edge, in points.
    static constexpr double progressBarHeight = 3;

    MacTerminalView(Passkey, platform::Size frameSize, Configuration configuration);
    ~MacTerminalView() override;

    static std::shared_ptr<MacTerminalView> create(platform::Size frameSize,
                                                   Configuration configuration = Configuration{})
    {
        return TerminalView::create<MacTerminalView>(frameSize, std::move(configuration));
    }

    // --- Keyboard settings (MacTerminalViewKeyboard.cpp) -------------------------------------------

    /// Option (Alt) acts as meta for every key.
    bool optionAsMetaKey = true;
    /// With `optionAsMetaKey` off: Alt still acts as meta for Return, Tab, Backspace, Escape and the
    /// functional keys, while no text is being composed.
    bool optionAsMetaKeyForFunctionalKeys = false;
    /// Backspace sends 0x08 instead of 0x7F.
    bool backspaceSendsControlH = false;
    /// In kitty mode, lets the host claim a Command (Super) press for the terminal instead of the
    /// menus.
    std::function<bool(const platform::KeyEvent&)> shouldSendCommandKeyToTerminal;
    /// True when Backspace sends 0x08: the view's setting or the terminal's DECBKM.
    bool backspaceKeySendsControlH();

    // --- Keyboard state, for tests -----------------------------------------------------------------

    const std::set<uint16_t>& kittyKeysWithReportedPress() const { return kittyKeysWithReportedPress_; }
    const std::optional<PendingKittyKeyEvent>& pendingKittyKeyEvent() const { return pendingKittyKeyEvent_; }
    bool kittyIsComposing() const { return kittyIsComposing_; }

    // --- Kitty keyboard events (MacKittyKeyEvents.cpp) ---------------------------------------------

    /// The functional key of an event: keypad keys by key code, then the function-key character.
    static std::optional<KittyFunctionalKey> kittyFunctionalKey(const platform::KeyEvent& event);
    /// The text a keypad key types (its characters); none for every other key.
    static std::optional<std::u32string> kittyTextForFunctionalKey(KittyFunctionalKey key,
                                                                   const platform::KeyEvent& event);
    /// The modifier key of a key code (left and right Shift, Control, Alt, Super, Caps Lock).
    static std::optional<KittyFunctionalKey> kittyModifierKey(uint16_t keyCode);
    /// Whether a modifier key is down after `event`; none for a key that is not a modifier.
    static std::optional<bool> kittyModifierIsPressed(KittyFunctionalKey key,
                                                      const platform::KeyEvent& event);
    /// The character a key code carries on the US layout, for the base-layout key.
    static std::optional<char32_t> kittyBaseLayoutKey(uint16_t keyCode);

    /// A text key's kitty event: key, shifted and base-layout keys and modifiers; none without
    /// characters.
    std::optional<KittyKeyEvent> kittyTextEvent(const platform::KeyEvent& event, KittyKeyboardEventType type,
                                                std::optional<std::u32string> text);
    /// The functional event of a functional key, else the text event.
    std::optional<KittyKeyEvent> kittyKeyEvent(const platform::KeyEvent& event, KittyKeyboardEventType type,
                                               std::optional<std::u32string> text);
    /// Encodes with the active flags and the terminal's key modes and sends; true when bytes went.
    bool sendKittyEvent(const KittyKeyEvent& event);
    bool sendKittyFunctionalKey(KittyFunctionalKey key, KittyKeyboardModifiers modifiers,
                                KittyKeyboardEventType type);
    /// Return, Tab, Backspace or Escape with Alt always as alt; false for any other key.
    bool sendMetaTextlessKey(const platform::KeyEvent& event, KittyKeyboardEventType type);
    /// The kitty modifiers of an event; Alt counts only when it acts as meta, unless `altAlways`.
    KittyKeyboardModifiers kittyModifiers(const platform::KeyEvent& event, bool altAlways = false);
    /// Whether Alt acts as meta for this key (the caller tests that Alt is held).
    bool optionIsMeta(const platform::KeyEvent& event);

    // --- Text input (MacTerminalViewTextInput.cpp) -------------------------------------------------

    /// Committed text; a paste goes through the paste path instead of the key encodings.
    void insertText(const std::string& text, bool isPaste);
    /// A clipboard's text for a paste: composing text and a pending key event are dropped first.
    void insertPastedText(const std::string& text) override { insertText(text, true); }
    bool hasMarkedText() const { return markedText_.has_value(); }
    const std::optional<platform::MarkedText>& markedText() const { return markedText_; }
    /// The marked text's range in scalars: (0, length), or none without marked text.
    std::optional<std::pair<size_t, size_t>> markedRange() const;
    /// The selection as (start, length) in row × columns + column, or the caret as an empty range.
    std::pair<int64_t, int64_t> selectedRange();
    /// The grid index of a view point (y-up): row × columns + column, not clamped.
    int64_t characterIndex(platform::Point point);
    /// The part of the marked text in a range of scalars; none outside it.
    std::optional<std::string> markedSubstring(size_t location, size_t length) const;
    /// Where candidate windows open: the caret's frame.
    platform::Rect firstRect() const { return caretFrame(); }
    /// The pre-edit overlay while text is being composed.
    const std::shared_ptr<MarkedTextOverlay>& markedTextOverlay() const { return markedTextOverlay_; }

    // --- The toolkit's side -----------------------------------------------------------------------

    void attachHost(platform::ViewHost* host) override;
    void sizeChanged(platform::Size newSize) override;
    void windowChanged(bool hasWindow) override;
    void focusChanged(bool viewHasFocus) override;
    void windowActiveChanged(bool windowIsActive) override;
    void visibilityChanged(bool windowVisible) override;
    void draw(const platform::DrawRequest& request) override;
    void drawTerminalContents(const platform::DrawRequest& request) override;
    void keyDown(const platform::KeyEvent& event) override;
    void keyUp(const platform::KeyEvent& event) override;
    void flagsChanged(const platform::KeyEvent& event) override;
    void insertText(const std::string& text) override { insertText(text, false); }
    void setMarkedText(const platform::MarkedText& text) override;
    void unmarkText() override;
    void doCommand(platform::TextInputCommand command) override;

    // --- Bell, progress, scroller, caret (MacTerminalView.cpp) -------------------------------------

    void flashVisualBell() override;
    /// Shows the report through the shared half, then draws the bar (and its motion).
    void progressReport(Terminal& source, const ProgressReport& report) override;
    /// True while a visual bell's flash is on screen.
    bool visualBellFlashing() const;
    /// True while the caret is in the hidden half of its blink.
    bool caretBlinkHidden() const { return caretBlinkHidden_; }
    /// One step of the caret's blink (the blink timer's tick), for tests.
    void caretBlinkTick();

    // --- Overlay scroller (MacTerminalViewScroller.cpp) --------------------------------------------

    /// Seconds the scroller stays after the last scroll or press, and its fade-out.
    static constexpr double overlayScrollerHideDelay = 1.5;
    static constexpr double overlayScrollerFadeDuration = 0.25;
    /// Shows the scroller (when there is something to scroll) and schedules its fade-out, unless
    /// the user is pressing it.
    void showOverlayScroller() override;
    /// Hides the scroller: fading out over a quarter second, or at once when not animated or
    /// the user wants less motion.
    void hideOverlayScroller(bool animated);
    /// Hides the scroller at once when the state leaves nothing to scroll.
    void applyScrollerState(const ScrollerState& state) override;
    bool overlayScrollerIsTracking() const { return overlayScrollerIsTracking_; }

    // --- Links (MacTerminalViewLinks.cpp) ----------------------------------------------------------

    /// The link preview's font family and size in points.
    static constexpr const char* urlPreviewFontFamily = "sans-serif";
    static constexpr double urlPreviewFontSize = 12;

    /// Which link the view notes under the pointer (`lastReportedLink`).
    LinkReporting linkReporting = LinkReporting::implicit;
    /// The text of the link last noted under the pointer.
    const std::optional<std::string>& lastReportedLink() const { return lastReportedLink_; }

    /// Highlights the link at a buffer position (column, buffer row), as the highlight mode and
    /// the command state (`commandOverride`, else `commandActive`) allow; clears it otherwise.
    void updateHoverLink(Position at, std::optional<bool> commandOverride = std::nullopt);
    /// Shows (or updates) the preview of an OSC 8 payload's target; removes it when OSC 8 links
    /// are off. A payload without a target changes nothing.
    void previewUrl(const std::string& payload);
    /// Notes the link under a buffer position in `lastReportedLink`, by `linkReporting`.
    void reportLink(Position at);
    /// The link modifier (Ctrl or Super) went down: the preview and highlight of the link under
    /// the pointer show at once, without the pointer moving.
    void commandKeyDown();
    /// Leaves the link-modifier state: no preview, and no highlight in the modifier's mode.
    void turnOffUrlPreview();
    /// Opens a clicked link through the link-safety policy and the host delegate. `presentAlert`
    /// absent: the host's alerts over the view's window. An application with a policy of its own
    /// overrides it.
    virtual void activateLink(const std::string& link, const std::map<std::string, std::string>& params,
                              bool isExplicit, TerminalLinkOpening::PresentAlert presentAlert = nullptr);
    /// Opens a link the host delegate was asked to open: at once when it is the link just approved,
    /// else after the policy (with alerts for the whole application).
    void openLinkFromDelegate(const std::string& link,
                              const std::map<std::string, std::string>& params) override;
    /// Judges a link's text (as a clicked plain-text link) and opens it with no window and no host
    /// in between; its alerts are the whole application's.
    static void openDefaultLink(const std::string& link);
    /// The link approved a moment ago, while the host delegate is asked to open it.
    const std::optional<std::string>& approvedLinkForDelegate() const { return approvedLinkForDelegate_; }
    /// The directory relative paths in the output are taken from (the shell's); none here.
    virtual std::optional<std::string> linkWorkingDirectory() const { return std::nullopt; }
    /// Opens an approved URL; by default in the desktop's default application for it.
    std::function<void(const std::string&)> openURL;
    /// Names the application a URL would open in; by default the desktop's.
    TerminalLinkOpening::ApplicationName linkApplicationName;

    // --- Find bar and find actions (MacTerminalViewFind.cpp) ---------------------------------------

    /// The bar's distance from the view's top (or bottom) and right edges, and from its left
    /// while the view is wide enough, and its greatest width, in points.
    static constexpr double findBarMargin = 8;
    static constexpr double findBarMaximumWidth = 520;
    /// The texts of the bar's controls.
    static platform::FindBarLabels findBarLabels();
    /// The width the bar is given in a view `viewWidth` points wide: all of it between the
    /// margins, up to the greatest width.
    static double findBarRoom(double viewWidth);
    /// Where a bar of `barSize` goes in a view of `viewSize` (y-up): at the right, below the top
    /// edge, or above the bottom edge when `atBottom`. It never reaches past the view's left
    /// edge: a view narrower than the bar and its margins gives up the margins first, then
    /// narrows the bar.
    static platform::Rect findBarFrame(platform::Size viewSize, platform::Size barSize, bool atBottom);
    /// True while the bar sits at the bottom edge, where it went because at the top it covered
    /// the match and the scrollback could not move the match out from under it.
    bool findBarAtBottom() const { return findBarAtBottom_; }

    /// The find bar; made the first time it is shown.
    const std::shared_ptr<platform::FindBar>& findBar() const { return findBar_; }
    /// The text last typed in the bar and the options last chosen there.
    const std::string& findBarTerm() const { return findBarTerm_; }
    const SearchOptions& findBarOptions() const { return findBarOptions_; }
    /// Shows the bar, fills it (from the selection when asked and there is one, else from the find
    /// pasteboard) and gives its field the focus.
    void showFindBar(bool prefillSelection);
    /// Hides the bar and gives the keyboard focus back to the view.
    void hideFindBar();
    bool findBarVisible() const { return findBar_ && !findBar_->isHidden(); }
    /// Searches forwards (or backwards) for the bar's text, or the find pasteboard's without a
    /// shown bar, with the bar's options.
    void performFind(bool next);
    /// Puts the selected text on the find pasteboard.
    void setFindPasteboardFromSelection();

    // --- Edit and find actions (MacTerminalViewEditActions.cpp) -----------------------------------

    /// The action a shortcut in its menu form (Command+key, as `menuKeyEquivalent` gives
    /// Ctrl+Shift+key) stands for: C copy, V paste, A select all, F find, G find next (with Shift
    /// find previous), H find previous, E use selection for find.
    static std::optional<TerminalViewAction> actionForKeyEquivalent(const platform::KeyEvent& menuForm);
    /// Performs a shortcut that is one of the view's actions (when enabled); true when it was one,
    /// enabled or not: the view's own shortcuts never reach the program.
    bool performKeyEquivalent(const platform::KeyEvent& menuForm);
    /// Performs an action when it is enabled; true when it was.
    bool performAction(TerminalViewAction action);
    /// Copy and Use Selection for Find need an active selection; Hide Find a shown bar; the others
    /// are always enabled.
    TerminalViewActionStates actionStates();
    /// Told the action states whenever they change (a selection comes or goes, the find bar shows
    /// or hides), so that menus and buttons follow.
    std::function<void(const TerminalViewActionStates&)> onActionStatesChanged;
    /// Recomputes the action states and tells `onActionStatesChanged` when they changed.
    void updateActionStates();
    void selectionChanged(Terminal& source) override;
    // --- Scroller styles (MacTerminalViewScroller.cpp) ---------------------------------------------

    /// How the scroller shows: over the text while scrolling, or permanently beside it.
    enum class ScrollerStyle
    {
        overlay,
        legacy,
    };
    /// The desktop's style (overlay scrolling on or off) until the host sets one.
    ScrollerStyle scrollerStyle() const { return scrollerStyle_; }
    /// The host's style, kept from now on whatever the desktop says; applied at once when it
    /// differs, and then the grid is refitted to the width the scroller leaves.
    void setScrollerStyle(ScrollerStyle style);
    /// The width the text must leave to the scroller: its width in the legacy style, else 0.
    double reservedScrollerWidth() const override;
    double getEffectiveWidth(platform::Size size) const override;
    /// The user worked the scroller: a track click pages, the knob scrolls.
    void scrollerActivated(platform::ScrollerPart part, double doubleValue);
    /// Follows the desktop's scrollbar style along with the appearance.
    void appearanceChanged(const platform::Appearance& appearance) override;

    // --- Pointer (MacTerminalViewMouse.cpp) --------------------------------------------------------

    /// Routes a pointer event: a report to the program when it tracks the mouse and the host
    /// allows it, otherwise selection, links, or a paste of the primary selection.
    void mouseEvent(const platform::MouseEvent& event) override;
    /// The cell (column, buffer row) and device pixel under a view point (y-up), with the column
    /// of a right-to-left row mapped back to logical order; the caller holds the terminal lock.
    MouseHit calculateMouseHitLocked(platform::Point point);
    /// Whether the program heard the press of a button still held (left, middle or right): then,
    /// and only then, it hears of its release too.
    bool pressWasReported(TerminalMouseButton button) const;
    /// How far the pointer must move inside the press's cell before a press becomes a drag: half
    /// the cell's smaller side, at least 3 points.
    static double selectionDragThreshold(platform::Size cell);
    /// Whether an Alt press is held back until it is known to be a click (reported whole at the
    /// release) or a drag (a local block selection).
    bool heldOptionPress() const { return press_ && press_->heldOptionPress.has_value(); }

    /// The pointer moved over the view (`point`) or left it (none): the link under it may change
    /// its highlight and preview (MacTerminalViewLinks.cpp). Called before any motion report.
    void updateLinkHover(std::optional<platform::Point> point, platform::ModifierFlags modifiers);
    /// A left click (no drag) was released on `hit`: opens a link there that the modifiers and
    /// the highlight mode allow, through the link-safety policy and the host delegate
    /// (MacTerminalViewLinks.cpp). True when one was opened.
    bool openLinkOnClick(const MouseHit& hit, platform::ModifierFlags modifiers);

    // --- Selection gestures (MacTerminalViewSelection.cpp) -----------------------------------------

    /// Seconds between two autoscroll steps while a selection is dragged past an edge.
    static constexpr double autoScrollInterval = 0.05;
    /// Lines per autoscroll step for a pointer `distance` rows beyond an edge of `rows` rows.
    static int calcScrollingVelocity(int distance, int rows);
    bool autoScrollRunning() const { return selectionAutoScrollTimer_ != nullptr; }
    /// Lines per step: negative towards older lines, 0 when stopped.
    int autoScrollDelta() const { return autoScrollDelta_; }
    /// Reads the primary selection and pastes it, bracketed when the program asked for that.
    void pastePrimarySelection();

    // --- Scroll wheel (MacTerminalViewWheel.cpp) ---------------------------------------------------

    /// Scrolls the scrollback, reports the wheel to a program that tracks the mouse, or sends
    /// cursor keys to a full-screen program that asked for them (mode 1007).
    void scrollWheel(const platform::ScrollEvent& event) override;
    /// Lines that one notch of a wheel moves in the scrollback, and cursor keys it sends on the
    /// alternate screen; a program tracking the mouse gets one report a notch.
    static constexpr int linesPerWheelNotch = 3;
    /// Multiplies every scroll distance; never below 0.05 (not a number stores 0.05).
    double scrollSensitivity() const { return scrollSensitivity_; }
    void setScrollSensitivity(double value);
    const WheelDistanceAccumulator& scrollAccumulator() const { return scrollAccumulator_; }

    // --- GPU surface and shutdown (MacTerminalViewMetal.cpp) ----------------------------------------

    /// Switches the GPU renderer on or off; nothing when it is already so. Switching on needs a
    /// device (`deviceUnavailable` otherwise: a machine whose only GL renderer is a software
    /// rasterizer has none unless KESTROVAN_GPU_SOFTWARE=1, and the log says why), a host that can
    /// show a surface, and a renderer built on it; any failure leaves the CPU path drawing.
    /// Switching off fails with `rendererBusy` while the renderer's frame stays on the GPU.
    std::optional<MetalError> setUseMetal(bool enabled);
    bool isUsingMetalRenderer() const { return useMetalRenderer_; }
    /// The kind of GPU surface the view makes: true for a surface the render loop's thread draws,
    /// false for the window's GL area drawn on the main thread. New views take the process-wide
    /// default, which the environment variable KESTROVAN_METAL_LAYER set to exactly "0" turns off.
    bool usesMetalLayerSurface() const { return usesMetalLayerSurface_; }
    /// Stores a different kind; with the GPU renderer in use its surface is made anew, and a
    /// failure to do so reported (`rendererBusy`: the old surface stays, the new kind comes with
    /// the next surface). Nothing happens when the kind is the one in place.
    std::optional<MetalError> setUsesMetalLayerSurface(bool value);
    static bool defaultUsesMetalLayerSurface();
    /// Forces the surface's contents scale (never below 1) instead of the window's; none follows
    /// the window again.
    void setMetalScaleFactorOverride(std::optional<double> scale);
    /// True while a render loop draws the frames off the main thread.
    bool isUsingRenderLoop() const;
    /// Starts the render loop when the surface is one the view draws (the texture surface).
    void startRenderLoopIfNeeded();
    void stopRenderLoop();
    /// Draws one GPU frame of the current content at once (main thread).
    void drawMetalFrameNow();
    /// Draws a frame at once when the view shows again, and applies its side effects afterwards.
    void drawFrameOnUnhide();
    /// Where surfaces and renderers come from: GTK's by default; tests give their own.
    void setMetalSurfaceProvider(std::shared_ptr<MetalSurfaceProvider> provider)
    {
        metalSurfaceProvider_ = std::move(provider);
    }
    /// The GPU surface and its renderer while the GPU draws (the renderer may be missing for a
    /// moment while a GL area waits for its context).
    const std::optional<MetalSurface>& metalView() const { return metalView_; }
    const std::shared_ptr<MetalTerminalRenderer>& metalRenderer() const { return metalRenderer_; }
    /// The subview showing the progress bar and the visual bell above the GPU surface while it is
    /// shown; null on the CPU path, which draws them on the view's own canvas.
    const std::shared_ptr<platform::View>& statusOverlayView() const { return statusOverlayView_; }
    /// Draws the progress bar and the visual bell (ending a flash that has run its time).
    void drawStatusOverlays(platform::Canvas& canvas);
    /// Stops the view's rendering for good; false while the GPU renderer is busy (call again later).
    bool updateUiClosed();
    UIShutdownState uiShutdownState() const { return uiShutdownState_; }

    /// What `compareMetalSurfaces` found.
    struct MetalSurfaceComparison
    {
        /// Pixels whose blue, green or red byte differs between the two images.
        int64_t differingPixels = 0;
        int64_t totalPixels = 0;
        /// Pixels of the GL area's image whose blue, green or red byte differs from its first
        /// pixel: 0 for a blank (uniform) image.
        int64_t nonUniformPixels = 0;
        /// Why no comparison could be made; none when one was.
        std::optional<std::string> unavailableReason;

        bool matches() const { return !unavailableReason && differingPixels == 0 && nonUniformPixels > 0; }
    };
    /// Draws the same picture into a GL area in a window of `width` x `height` points and into a
    /// render-thread texture surface of the same pixels, reads both back and compares them, to show
    /// that the two surfaces a view draws with draw alike. Main thread, with GTK initialised; runs
    /// the main loop until the area has drawn.
    static MetalSurfaceComparison compareMetalSurfaces(int width, int height);

    // --- Debug view --------------------------------------------------------------------------------

    void setDebugView(std::shared_ptr<TerminalDebugView> view) { debugView_ = std::move(view); }
    const std::shared_ptr<TerminalDebugView>& debugView() const { return debugView_; }
    void updateDebugView() override;

    const TerminalFrameDrawer& frameDrawer() const { return drawer_; }

    // --- Timestamps, for latency measurements ------------------------------------------------------

    /// When the last key press reached the view, and when the view last drew a frame (steady clock);
    /// the difference from a press to the first frame showing its echo is the keystroke latency.
    std::chrono::steady_clock::time_point lastKeyDownTime() const { return lastKeyDownTime_; }
    std::chrono::steady_clock::time_point lastFrameDrawnTime() const { return lastFrameDrawnTime_; }

private:
    // Keyboard roads (MacTerminalViewKeyboard.cpp).
    /// Shift+Insert, and Shift with Page Up, Page Down, Home or End: the view's; true when taken.
    bool handleViewChord(const platform::KeyEvent& event);
    void kittyKeyDown(const platform::KeyEvent& event, KittyKeyboardFlags flags, bool commandClaimed);
    void legacyKeyDown(const platform::KeyEvent& event);
    void legacyCommand(platform::TextInputCommand command);
    /// Hands the key to the input method and the standard key bindings.
    void interpretKeyEvent(const platform::KeyEvent& event);
    void sendBytes(std::string_view bytes);
    KittyKeyboardFlags activeKittyFlags(const char* caller);
    bool applicationCursor(const char* caller);

    // Overlays (MacTerminalView.cpp, MacTerminalViewTextInput.cpp).
    void updateMarkedTextOverlay();
    void drawProgressBar(platform::Canvas& canvas);
    void drawVisualBell(platform::Canvas& canvas);
    void startCaretBlink();
    void stopCaretBlink();
    void setCaretOpacity(double opacity);
    void scheduleOverlayFrames();
    /// Marks `rect` (the whole view when none) of the progress bar or visual bell for redrawing,
    /// wherever they are drawn.
    void setStatusNeedsDisplay(const std::optional<platform::Rect>& rect);
    /// Whether the progress bar or a visual bell shows now.
    bool hasStatusToShow();
    /// Shows the status overlay above a GPU surface only while it has something to show.
    void updateStatusOverlayVisibility();
    // The find bar (MacTerminalViewFind.cpp).
    const std::shared_ptr<platform::FindBar>& ensureFindBar();
    void layoutFindBar();
    /// Searches forwards or backwards, scrolling to the match, and keeps the match clear of the
    /// shown bar.
    void findAndReveal(const std::string& term, const SearchOptions& options, bool forward);
    /// The match under the shown bar comes out from under it: the view scrolls back until it
    /// shows below the bar, where the scrollback allows, else the bar moves to the bottom edge.
    /// A match clear of the top edge brings the bar back there.
    void keepMatchClearOfFindBar();
    void placeFindBar(bool atBottom);
    void handleFindBarSearchChanged(const std::string& text);
    void handleFindBarOptionsChanged(const SearchOptions& options);
    /// A press in the bar's field that may be a shortcut: taken (true) when a menu or one of the
    /// view's find actions has it, or when it is a clipboard or select-all chord, which the field
    /// then performs on its own text.
    bool handleFindFieldShortcut(const platform::KeyEvent& event);
    // Links (MacTerminalViewLinks.cpp).
    TerminalLinkOpening::PresentAlert hostAlertPresenter();
    /// The cell (column, buffer row) under a point of the view (y-up); none before the cell is
    /// known.
    std::optional<Position> linkPosition(platform::Point location);
    static void openJudgedLink(const std::string& link, const std::function<void(const std::string&)>& opener,
                               const TerminalLinkOpening::ApplicationName& applicationName);
    void markWholeScreenForLinks();
    void removeUrlPreview();
    /// The link at a position (clamped): the OSC 8 link there, else with `implicit` a plain-text
    /// one; none for an empty buffer.
    struct LinkLookup
    {
        std::optional<LinkMatch> match;
    };
    std::optional<LinkLookup> lookUpLink(Position at, bool implicit);
    /// Whether the highlight mode and the command state (`commandOverride`, else `commandActive`)
    /// highlight the link under the pointer.
    bool hoverNeedsLink(std::optional<bool> commandOverride) const;
    void applyHoverLink(const std::optional<LinkLookup>& lookup, bool wanted);
    void applyReportedLink(const std::optional<LinkLookup>& lookup);
    /// The preview of the OSC 8 link at a position (or none), and the note of the link found there.
    void previewAndReportLink(Position at, const std::optional<LinkLookup>& lookup);
    // The scroller (MacTerminalViewScroller.cpp).
    void applyScrollerStyleToBar();
    /// Switches to `style` when it differs: the bar, the fade and the grid's width follow.
    void applyScrollerStyle(ScrollerStyle style);
    void refitGridToScroller();
    void setupScroller();
    void layoutScroller();
    void stepOverlayScrollerFade(uint64_t generation);
    void stopOverlayScrollerTimers();

    TerminalFrameDrawer drawer_;
    UIShutdownState uiShutdownState_ = UIShutdownState::active;

    // Per-press keyboard state.
    std::optional<PendingKittyKeyEvent> pendingKittyKeyEvent_;
    bool kittyIsComposing_ = false;
    std::optional<uint16_t> kittyComposingKeyCode_;
    std::optional<uint16_t> kittyKeyDownCode_;
    std::set<uint16_t> kittyKeysWithReportedPress_;

    // Marked text.
    std::optional<platform::MarkedText> markedText_;
    std::shared_ptr<MarkedTextOverlay> markedTextOverlay_;
    std::shared_ptr<platform::View> markedTextOverlayView_;

    // Caret blink.
    std::shared_ptr<platform::MainThreadTimers::Timer> caretBlinkTimer_;
    bool caretBlinkHidden_ = false;
    uint64_t caretBlinkResetsSeen_ = 0;

    // Visual bell and progress bar motion.
    std::optional<double> visualBellStart_;
    std::shared_ptr<platform::MainThreadTimers::Timer> overlayFrameTimer_;
    // Where they are drawn while a GPU surface covers the view's canvas.
    std::shared_ptr<StatusOverlay> statusOverlay_;
    std::shared_ptr<platform::View> statusOverlayView_;

    // Overlay scroller. Every show and hide moves the generation on; a fade step acts only for
    // the generation that started it, so a show during the fade keeps the scroller.
    std::shared_ptr<platform::MainThreadTimers::Timer> overlayScrollerHideTimer_;
    std::shared_ptr<platform::MainThreadTimers::Timer> overlayScrollerFadeTimer_;
    platform::MainThreadTimers::Clock::time_point overlayScrollerFadeStart_;
    uint64_t overlayScrollerFadeGeneration_ = 0;
    bool overlayScrollerIsTracking_ = false;

    ScrollerStyle scrollerStyle_ = ScrollerStyle::overlay;
    /// The host chose the style: the desktop's setting no longer changes it.
    bool scrollerStyleChosenByHost_ = false;

    bool usesMetalLayerSurface_ = defaultUsesMetalLayerSurface();

    // GPU surface binding (MacTerminalViewMetal.cpp).
    /// Switches on (Algorithm of the enable path); nothing when a surface exists.
    std::optional<MetalError> enableMetalRenderer();
    /// A surface of the current kind at the view's bounds.
    std::optional<MetalSurface> makeMetalView();
    /// A renderer for `surface` with its redraw callback set; an error when none can be made.
    std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
    makeMetalRenderer(const MetalSurface& surface);
    /// Hooks the surface to the view (draw handler, context handler or needs-display callback).
    void bindSurface(const MetalSurface& surface);
    static void unbindSurface(const MetalSurface& surface);
    /// Puts the surface into the subview order: below the caret, with the caret hidden.
    void insertMetalView(const MetalSurface& surface, const MetalSurface* replacing);
    /// Unbinds and removes the surface and goes back to the CPU path.
    void detachMetalRendererUI();
    /// Lets the status overlay go, taking its subview out of the host when `fromHost`.
    void removeStatusOverlay(bool fromHost);
    /// Stops the loop and removes the renderer, then the surface; `rendererBusy` (and the loop
    /// running again) while the renderer's frame stays on the GPU.
    std::optional<MetalError> removeMetalSurface();
    /// The host went, and the surface with it: the CPU path draws for a host the view may get later.
    void dropMetalSurfaceWithHost();
    /// The view entered another window: a new surface and renderer (texture surface).
    void rebindMetalRendererToWindow(uintptr_t window);
    void rebindMetalRendererToWindowLocked(uintptr_t window);
    /// The GL area lost its context (false) or got a new one (true).
    void metalContextChanged(bool available);
    /// Installs a new renderer for the GL area's new context, falling back when that fails.
    void rebindGLAreaRenderer();
    void disableMetalRendererAfterRebindFailure(const MetalError& error);
    /// Runs `body` while no render-loop frame runs.
    void withRenderLoopSuspended(const std::function<void()>& body);
    /// The GL area's render signal: draws the current content into the area's drawable.
    void drawGLAreaFrame();
    /// The draw-now sequence on the current surface.
    void drawMetalFrameNowLocked();
    void applyMetalScale();

    std::shared_ptr<MetalSurfaceProvider> metalSurfaceProvider_ = gtkMetalSurfaceProvider();
    bool useMetalRenderer_ = false;
    std::optional<MetalSurface> metalView_;
    std::shared_ptr<MetalTerminalRenderer> metalRenderer_;
    /// The window the surface was made for (`ViewHost::windowIdentity`); 0 for none.
    uintptr_t metalBoundWindow_ = 0;
    std::optional<double> appliedMetalScaleOverride_;

    // Pointer (MacTerminalViewMouse.cpp, MacTerminalViewSelection.cpp).
    /// Facts about the current left press, from its press to the end of its release.
    struct LeftPress
    {
        platform::Point point;
        Position grid;
        /// The cell with its row counted from the top of the screen at the press.
        Position screenGrid;
        int clickCount = 0;
        bool selectionWasActive = false;
        /// The press was the view's own (selection), not the program's.
        bool wasLocal = false;
        /// An Alt single click: a drag selects a block.
        bool selectsBlock = false;
        /// An Alt press in a reporting mode, held back until it is known whether it drags.
        std::optional<platform::MouseEvent> heldOptionPress;
        /// The held Alt press became a drag: the rest of the press is local.
        bool optionDragIsLocal = false;
        bool didSelectionDrag = false;
        /// The press made or changed a selection to offer as the primary selection at release.
        bool changedSelection = false;
    };
    std::optional<LeftPress> press_;
    /// Per report button (left, middle, right): the program heard its press.
    std::array<bool, 3> reportedPress_{};

    void leftMouseDown(const platform::MouseEvent& event);
    void leftMouseDragged(const platform::MouseEvent& event);
    void leftMouseUp(const platform::MouseEvent& event);
    void otherMouseDown(const platform::MouseEvent& event, TerminalMouseButton button);
    void otherMouseDragged(const platform::MouseEvent& event, TerminalMouseButton button);
    void otherMouseUp(const platform::MouseEvent& event, TerminalMouseButton button);
    void mouseMoved(const platform::MouseEvent& event);
    /// Whether an event of the left button goes to the program: the host allows reports, the
    /// press did not turn into a local Alt drag, and Shift does not claim it for the view.
    bool reportsMouseLocked(Terminal& terminal, platform::ModifierFlags modifiers) const
        REQUIRES(terminal.terminalLock());
    /// Shift held and the program does not capture Shift: the event is the view's.
    static bool shiftBypassesMouseReportingLocked(Terminal& terminal, platform::ModifierFlags modifiers)
        REQUIRES(terminal.terminalLock());
    /// Builds and sends a report for `event` at its hit; true when sent. For a press, notes that
    /// the program heard it.
    bool sendPointerReport(TerminalMouseAction action, TerminalMouseButton button,
                           const platform::MouseEvent& event);
    /// Sends the release of a button whose press the program heard (whatever the modifiers now
    /// say, and even when the click opened a link); nothing for a press it did not hear.
    void releaseReportedPress(TerminalMouseButton button, const platform::MouseEvent& event);
    /// A held Alt press turns into a local drag once the pointer moved far enough; true then.
    bool releaseHeldOptionPressForDragLocked(platform::Point point, const MouseHit& hit, int64_t yDisp);
    /// The pointer left the press's cell, or moved at least max(half the smaller cell side, 3)
    /// points from the press point.
    bool isSelectionDrag(platform::Point point, const MouseHit& hit, int64_t yDisp) const;

    // Selection gestures (MacTerminalViewSelection.cpp).
    void localMouseDown(const platform::MouseEvent& event, const MouseHit& hit);
    void localMouseDragged(const platform::MouseEvent& event, const MouseHit& hit, int64_t yDisp);
    /// The local part that opens a release: autoscroll stops, a drag whose events never came is
    /// completed.
    void localMouseUp(const platform::MouseEvent& event);
    /// Where a selection gesture at `point` (hitting `hit`) puts the selection's end: a cell
    /// boundary for character and block selections, the cell for words and lines.
    Position selectionPositionLocked(platform::Point point, const MouseHit& hit);
    /// Extends (or starts) the drag selection to `to`; the caller holds the terminal lock.
    void dragSelectionLocked(platform::Point to, const MouseHit& hit, bool startNew);
    void beginDragSelectionLocked(platform::Point to, const MouseHit& hit);
    void updateAutoScroll(const MouseHit& hit, int64_t yDisp, int rows);
    void startSelectionAutoScrollTimer();
    void stopSelectionAutoScroll();
    void scrollingTimerElapsed();
    /// Offers a click to the shell's prompt (OSC 133 click-to-move); true when it took it.
    bool routeSemanticPromptClick(const MouseHit& hit, platform::ModifierFlags modifiers);
    int autoScrollDelta_ = 0;
    std::shared_ptr<platform::MainThreadTimers::Timer> selectionAutoScrollTimer_;
    std::optional<platform::Point> lastSelectionDragPoint_;

    // Scroll wheel (MacTerminalViewWheel.cpp).
    double scrollSensitivity_ = 1.0;
    WheelDistanceAccumulator scrollAccumulator_;

    std::shared_ptr<TerminalDebugView> debugView_;

    // Find bar and actions.
    std::shared_ptr<platform::FindBar> findBar_;
    std::string findBarTerm_;
    SearchOptions findBarOptions_;
    bool findBarAtBottom_ = false;
    std::optional<TerminalViewActionStates> pushedActionStates_;

    // Links.
    std::optional<std::string> lastReportedLink_;
    std::optional<std::string> approvedLinkForDelegate_;
    /// The payload the preview shows, so that moving within one link does not rebuild it.
    std::optional<std::string> previewedPayload_;

    std::chrono::steady_clock::time_point lastKeyDownTime_;
    std::chrono::steady_clock::time_point lastFrameDrawnTime_;
};

} // namespace kestrovan
