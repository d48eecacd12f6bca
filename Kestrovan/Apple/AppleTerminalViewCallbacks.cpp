// The view's answers to its terminal's callbacks, and the events the event queue brings back.
//
// Callbacks arrive on the thread that parses, with the terminal lock held. None of them touches
// the widget or the host there: each reads what it needs from the terminal (the `source`), then
// sets a locked value, posts an event to the event queue (bells, buffer switches, mouse modes and
// program status merge there), or hops to the main thread with `onMain`, holding the view weakly.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Base64.h"
#include "Kestrovan/Fatal.h"

#include <cstdio>
#include <limits>

namespace kestrovan {

namespace {

std::vector<uint8_t> copyOf(std::span<const uint8_t> bytes)
{
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

/// a × b, or nothing when it does not fit an int: a program's size query must not stop the
/// application, so a size too large to state gets no reply, as an unknown one.
std::optional<int> checkedProduct(int a, int b)
{
    int product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return std::nullopt;
    return product;
}

/// The cached cell in pixels, unless it is the saturated marker of a cell too large for an int.
std::optional<std::pair<int, int>> reportableCell(const std::optional<std::pair<int, int>>& cell)
{
    constexpr int saturated = std::numeric_limits<int>::max();
    if (!cell || cell->first >= saturated || cell->second >= saturated)
        return std::nullopt;
    return cell;
}

/// The scroll position as a frame reports it: 0 at the top of the scrollback (and on the
/// alternate screen), 1 at the live screen.
double scrollPositionOf(const Terminal& terminal)
{
    const Buffer& buffer = terminal.buffer();
    if (terminal.isCurrentBufferAlternate() || buffer.yDisp() < 1)
        return 0;
    const int maximum = buffer.lines().count() - terminal.rows();
    if (buffer.yDisp() >= maximum)
        return 1;
    return double(buffer.yDisp()) / double(maximum);
}

} // namespace

// --- Cursor, title, size, bytes ------------------------------------------------------------------

void TerminalView::showCursor(Terminal&)
{
    // The caret's visibility is read from the terminal at the next frame.
    requestRedraw();
}

void TerminalView::hideCursor(Terminal&)
{
    requestRedraw();
}

void TerminalView::setTerminalTitle(Terminal&, const std::string& title)
{
    onMainWithDelegate([title](TerminalView& view,
                               TerminalViewDelegate& delegate) { delegate.setTerminalTitle(view, title); },
                       "setTerminalTitle(source:title:)");
}

std::optional<std::vector<uint8_t>> TerminalView::windowCommand(Terminal& source,
                                                                const WindowManipulationCommand& command)
{
    using Kind = WindowManipulationCommand::Kind;
    const std::optional<std::pair<int, int>> cell = reportableCell(crossThreadState().cachedCellPixelSize);
    const std::span<const uint8_t> csi = source.cc().CSI();
    auto reply = [&csi](const std::string& body) {
        std::vector<uint8_t> bytes(csi.begin(), csi.end());
        bytes.insert(bytes.end(), body.begin(), body.end());
        return bytes;
    };
    switch (command.kind) {
    case Kind::reportTextAreaPixelDimension:
        // CSI 4 ; height ; width t, in pixels.
        // Without a cell size that can be stated, and when the products overflow, the empty
        // answer keeps the terminal from reporting a size of its own.
        if (!cell)
            return std::vector<uint8_t>();
        {
            const std::optional<int> height = checkedProduct(cell->second, source.rows());
            const std::optional<int> width = checkedProduct(cell->first, source.cols());
            if (!height || !width)
                return std::vector<uint8_t>();
            return reply("4;" + std::to_string(*height) + ";" + std::to_string(*width) + "t");
        }
    case Kind::reportCellSizeInPixels:
        // CSI 6 ; height ; width t.
        if (!cell)
            return std::vector<uint8_t>();
        return reply("6;" + std::to_string(cell->second) + ";" + std::to_string(cell->first) + "t");
    case Kind::resizeWindowTo:
        std::printf("Request to resize to %dx%d\n", command.first, command.second);
        std::fflush(stdout);
        return std::nullopt;
    default:
        // Windows are the application's: no other request is honoured or answered.
        return std::nullopt;
    }
}

void TerminalView::sizeChanged(Terminal& source)
{
    const int cols = source.cols();
    const int rows = source.rows();
    onMainWithView(
        [cols, rows](TerminalView& view) {
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view.terminalDelegate())
                delegate->sizeChanged(view, cols, rows);
            view.requestScrollerUpdate();
        },
        "sizeChanged(source:)");
}

void TerminalView::send(Terminal&, Bytes data)
{
    // Replies and reports go to the host as they are, one hop each, in the order they were made.
    onMainWithDelegate([bytes = copyOf(data)](TerminalView& view,
                                              TerminalViewDelegate& delegate) { delegate.send(view, bytes); },
                       "send(source:data:)");
}

std::optional<CellPixelSize> TerminalView::cellSizeInPixels(Terminal&)
{
    const std::optional<std::pair<int, int>> cell = crossThreadState().cachedCellPixelSize;
    if (!cell)
        return std::nullopt;
    return CellPixelSize{cell->first, cell->second};
}

// --- Events through the event queue ----------------------------------------------------------------

void TerminalView::bufferActivated(Terminal&)
{
    eventQueue_->post(TerminalEvent::bufferActivated);
}

void TerminalView::bell(Terminal&)
{
    eventQueue_->post(TerminalEvent::bell);
}

void TerminalView::mouseModeChanged(Terminal& source)
{
    // The mode is copied now: the pointer code reads it without the terminal lock.
    const Terminal::MouseMode mode = source.mouseMode();
    mouseModeState_.withLock([mode](Terminal::MouseMode& state) { state = mode; });
    eventQueue_->post(TerminalEvent::mouseModeChanged);
}

void TerminalView::programStatusChanged(Terminal&, const std::vector<TerminalProgramStatus>& records)
{
    programStatusState_.withLock([&records](std::vector<TerminalProgramStatus>& state) { state = records; });
    eventQueue_->post(TerminalEvent::programStatusChanged);
}

Terminal::MouseMode TerminalView::mouseMode() const
{
    return mouseModeState_.withLock([](const Terminal::MouseMode& mode) { return mode; });
}

void TerminalView::applyTerminalEvent(TerminalEvent event)
{
    switch (event) {
    case TerminalEvent::bufferActivated:
        // The scrollback comes or goes with the screen: the scroller is recomputed.
        requestScrollerUpdate();
        return;
    case TerminalEvent::mouseModeChanged:
        // The widget reports pointer motion whatever the mode; the pointer code reads the mode.
        return;
    case TerminalEvent::bell:
        deliverBell();
        return;
    case TerminalEvent::programStatusChanged:
        if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
            delegate->programStatusChanged(*this, programStatusRecords());
        return;
    }
}

// --- Synchronized output, selection, cursor style, directory --------------------------------------

void TerminalView::synchronizedOutputChanged(Terminal& source, bool active)
{
    if (active)
        return;
    source.terminalLock().preconditionLocked();
    const double position = scrollPositionOf(source);
    onMainWithView(
        [position](TerminalView& view) {
            view.requestScrollerUpdate();
            view.requestRedraw();
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view.terminalDelegate())
                delegate->scrolled(view, position);
        },
        "synchronizedOutputChanged(source:active:)");
}

void TerminalView::selectionChanged(Terminal&)
{
    onMainWithView(
        [](TerminalView& view) {
            if (view.terminal_)
                view.requestRedraw();
        },
        "selectionChanged(source:)");
}

void TerminalView::cursorStyleChanged(Terminal&, CursorStyle newStyle)
{
    onMainWithView([newStyle](TerminalView& view) { view.applyCursorStyleOnMain(newStyle); },
                   "cursorStyleChanged(source:newStyle:)");
}

void TerminalView::applyCursorStyleOnMain(CursorStyle style)
{
    if (caretView_) {
        caretView_->setStyle(style);
        caretView_->updateCursorStyle();
        KESTROVAN_ASSERT(cellDimension_.has_value(),
                         "TerminalView.cursorStyleChanged: the cell is not measured");
        const platform::Rect frame = caretView_->frame();
        caretView_->setFrame(platform::Rect{frame.x, frame.y, cellDimension_->width, cellDimension_->height});
        caretView_->updateCursorStyle();
    }
    requestRedraw();
}

void TerminalView::hostCurrentDirectoryUpdated(Terminal& source)
{
    const std::optional<std::string> directory = source.hostCurrentDirectory();
    onMainWithDelegate(
        [directory](TerminalView& view, TerminalViewDelegate& delegate) {
            delegate.hostCurrentDirectoryUpdate(view, directory);
        },
        "hostCurrentDirectoryUpdated(source:)");
}

// --- Colours ---------------------------------------------------------------------------------------

void TerminalView::colorChanged(Terminal& source, std::optional<int> idx)
{
    const bool reverse = source.mode(TerminalMode::reverseColors);
    crossThreadState_.withLock(
        [reverse](TerminalViewCrossThreadState& state) { state.reverseColorsActive = reverse; });
    onMainWithView(
        [idx](TerminalView& view) {
            if (!view.terminal_)
                return;
            view.withTerminal(
                [&view, idx](Terminal&) {
                    // One entry changed (OSC 4), or all of them (a reset or a new palette).
                    if (idx && *idx >= 0 && *idx <= 255)
                        view.colorMapper_.resetPaletteColor(static_cast<uint8_t>(*idx));
                    else if (!idx)
                        view.colorMapper_.resetCaches();
                    view.colorsChangedLocked();
                },
                "colorsChangedOnMain()");
        },
        "colorChanged(source:idx:)");
}

void TerminalView::setForegroundColor(Terminal&, const Color& color)
{
    setDefaultColorFromTerminal(color, &TerminalView::setNativeForegroundColorFromTerminal,
                                "setForegroundColor(source:color:)");
}

void TerminalView::setBackgroundColor(Terminal&, const Color& color)
{
    setDefaultColorFromTerminal(color, &TerminalView::setNativeBackgroundColorFromTerminal,
                                "setBackgroundColor(source:color:)");
}

// The terminal changed a default colour (OSC 10 or 11): the view takes it on the main thread and
// redraws with it.
void TerminalView::setDefaultColorFromTerminal(const Color& color, NativeColorSetter setter,
                                               const char* label)
{
    const platform::NativeColor native = makeNativeColor(color);
    onMainWithView(
        [native, setter](TerminalView& view) {
            (view.*setter)(native);
            if (view.terminal_)
                view.withTerminal([&view](Terminal&) { view.colorsChangedLocked(); },
                                  "colorsChangedOnMain()");
        },
        label);
}

void TerminalView::setCursorColor(Terminal& source, const std::optional<Color>& color)
{
    // The terminal tells its delegate under its lock.
    source.terminalLock().assumeHeldByCaller();
    // OSC 112 reaches the view without passing the terminal's setter: keep the terminal's record
    // in step, so that an OSC 12 query after a reset reports the default again. The setter calls
    // back here with its record already equal, and that call does the rest.
    if (source.cursorColor() != color) {
        source.setCursorColor(color);
        return;
    }
    // This runs on the parsing thread with the terminal lock held. Turning a terminal colour into
    // a platform colour is plain arithmetic, so it is done here, on whatever thread this is; only
    // the caret's update needs the main thread, and reaches it through the hop below.
    std::optional<platform::NativeColor> native;
    if (color)
        native = makeNativeColor(*color);
    onMainWithView([native](TerminalView& view) { view.applyCursorColorOnMain(native); },
                   "setCursorColor(source:color:)");
}

void TerminalView::applyCursorColorOnMain(const std::optional<platform::NativeColor>& color)
{
    if (color) {
        setCaretColor(*color);
    } else if (caretView_) {
        cursorColorIsDefault_ = true;
        caretView_->setCaretColor(caretView_->defaultCaretColor());
    }
    requestRedraw();
}

std::pair<Color, Color> TerminalView::getColors(Terminal& source)
{
    // The colours the view paints, so that programs choosing a light or dark scheme (vim, from
    // its OSC 10 and 11 queries) see what is on the screen.
    const std::optional<std::pair<Color, Color>> cached = crossThreadState().cachedNativeColors;
    if (cached)
        return *cached;
    return {source.foregroundColor(), source.backgroundColor()};
}

// --- Clipboard, content, notifications, progress --------------------------------------------------

void TerminalView::iTermContent(Terminal&, Bytes content)
{
    onMainWithDelegate(
        [bytes = copyOf(content)](TerminalView& view, TerminalViewDelegate& delegate) {
            delegate.iTermContent(view, bytes);
        },
        "iTermContent(source:content:)");
}

void TerminalView::clipboardCopy(Terminal&, Bytes content)
{
    onMainWithDelegate(
        [bytes = copyOf(content)](TerminalView& view, TerminalViewDelegate& delegate) {
            delegate.clipboardCopy(view, bytes);
        },
        "clipboardCopy(source:content:)");
}

std::optional<std::vector<uint8_t>> TerminalView::clipboardRead(Terminal& source)
{
    const std::shared_ptr<platform::MainQueue> main = platform::MainQueue::installed();
    const bool onMainThread = main && main->isCurrent();
    if (onMainThread && !source.terminalLock().isHeldByCurrentThread()) {
        // The host can answer now without waiting on the lock: the terminal writes the reply.
        const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate();
        return delegate ? delegate->clipboardRead(*this) : std::nullopt;
    }
    // Usually the terminal is parsing: nothing is answered now, and the host's answer is sent
    // later as typed input would be, as OSC 52 on the clipboard "c".
    std::weak_ptr<TerminalView> weak = weak_from_this();
    main->async([weak] {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (!view)
            return;
        const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate();
        if (!delegate)
            return;
        const std::optional<std::vector<uint8_t>> content = delegate->clipboardRead(*view);
        if (!content)
            return;
        const std::string reply = "\x1b]52;c;" + base64Encode(*content) + "\x1b\\";
        view->send(std::string_view(reply));
    });
    return std::nullopt;
}

KittyClipboardCapabilities TerminalView::kittyClipboardCapabilities(Terminal&)
{
    return kittyClipboardCapabilities_.withLock([](const KittyClipboardCapabilities& set) { return set; });
}

void TerminalView::refreshKittyClipboardCapabilities()
{
    const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate();
    const KittyClipboardCapabilities capabilities =
        delegate ? delegate->kittyClipboardCapabilities(*this) : KittyClipboardCapabilities();
    kittyClipboardCapabilities_.withLock(
        [capabilities](KittyClipboardCapabilities& set) { set = capabilities; });
    if (!terminal_)
        return;
    if (terminal_->terminalLock().isHeldByCurrentThread()) {
        terminal_->terminalLock().preconditionLocked();
        terminal_->refreshKittyClipboardCapabilities();
        return;
    }
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.refreshKittyClipboardCapabilities();
        },
        "refreshKittyClipboardCapabilities()");
}

std::unique_ptr<TerminalOscObservation>
TerminalView::observeOscEvents(TerminalOscEventDispatcher::Handler handler)
{
    return requireTerminal("observeOscEvents(_:)").observeOscEvents(std::move(handler));
}

void TerminalView::notify(Terminal&, const std::string&, const std::string&)
{
    // Desktop notifications are the application's to show; the view only marks the hop.
    onMain([] {}, "notify(source:title:body:)");
}

void TerminalView::progressReport(Terminal&, const ProgressReport& report)
{
    onMainWithView(
        [report](TerminalView& view) {
            if (report.state == ProgressReportState::remove) {
                view.clearProgressReport();
                return;
            }
            view.progressBar_.apply(report.state, report.progress, view.nowSeconds());
            view.resetProgressReportTimer();
        },
        "progressReport(source:report:)");
}

} // namespace kestrovan
