// Output in and input out: the closures the view installs in its two senders, the frame driver's
// wiring, the bytes of cursor keys, control keys and mouse reports, and the small conveniences on
// the selection, the program-status records and OSC 8 payloads.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/Profiling.h"
#include "Kestrovan/SelectionService.h"

#include <variant>

namespace kestrovan {

namespace {

std::vector<std::string_view> splitKeepingEmpty(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        pieces.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces = splitKeepingEmpty(text, separator);
    std::erase_if(pieces, [](std::string_view piece) { return piece.empty(); });
    return pieces;
}

} // namespace

// --- Feeding and frames --------------------------------------------------------------------------

void TerminalView::configureFeedSender()
{
    // The closures hold the signal, the render owner and the counters, not the view: output keeps
    // flowing into the terminal while the view is being torn down.
    std::shared_ptr<FrameDriverSignal> signal = frameSignal_;
    std::shared_ptr<TerminalRenderOwner> owner = renderOwner_;
    std::shared_ptr<Locked<Diagnostics>> diagnostics = diagnosticsState_;
    auto count = [diagnostics](int64_t bytes) {
        diagnostics->withLock([bytes](Diagnostics& counters) {
            Diagnostics::add(counters.bytesFed, bytes);
            Diagnostics::add(counters.batches, 1);
        });
    };
    auto feedBytes = [signal, owner, count](std::span<const uint8_t> bytes) {
        // A frame is asked for before the parse (so a long parse does not delay the next tick's
        // decision) and after it (so the tick sees the parsed state).
        signal->publish(FrameDriverSignal::Events::needsFrame);
        const ProfilingInterval interval =
            Profiling::enabled() ? ProfilingInterval::begin(ProfilingEvent::ioParse, std::nullopt,
                                                            "bytes=" + std::to_string(bytes.size()))
                                 : ProfilingInterval{};
        owner->feed(bytes);
        interval.end();
        count(static_cast<int64_t>(bytes.size()));
        signal->publish(FrameDriverSignal::Events::needsFrame | FrameDriverSignal::Events::outputParsed);
    };
    auto feedText = [signal, owner, count](std::string_view text) {
        signal->publish(FrameDriverSignal::Events::needsFrame);
        owner->feed(text);
        count(static_cast<int64_t>(text.size()));
        signal->publish(FrameDriverSignal::Events::needsFrame | FrameDriverSignal::Events::outputParsed);
    };
    feedSender_->install(feedBytes, feedText);
}

void TerminalView::feed(Bytes bytes)
{
    feedSender_->feed(bytes);
}

void TerminalView::feed(std::string_view text)
{
    feedSender_->feed(text);
}

void TerminalView::requestRedraw()
{
    frameSignal_->publish(FrameDriverSignal::Events::needsFrame);
}

void TerminalView::setupFrameDriver()
{
    std::shared_ptr<platform::MainThreadTimers> timers = timers_;
    frameDriver_ =
        FrameDriver::create(frameSignal_, nullptr, [timers] { return timers->uptimeNanoseconds(); });
    std::weak_ptr<TerminalView> weak = weak_from_this();
    frameDriver_->onTick = [weak] {
        if (const std::shared_ptr<TerminalView> view = weak.lock())
            view->frameTick();
    };
    frameDriver_->onVisibilityChanged = [weak](bool visible) {
        if (const std::shared_ptr<TerminalView> view = weak.lock())
            view->renderOwner_->setTerminalVisibility(visible ? TerminalVisibility::potentiallyVisible
                                                              : TerminalVisibility::notVisible);
    };
}

// --- Sending input -------------------------------------------------------------------------------

void TerminalView::configureInputSender()
{
    std::shared_ptr<TerminalRenderOwner> owner = renderOwner_;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    TerminalInputSender::State callbacks;
    std::shared_ptr<FrameDriverSignal> signal = frameSignal_;
    // The output parsed next answers this input: the frame driver draws it without waiting for a
    // tick.
    callbacks.registerInput = [owner, signal](std::span<const uint8_t> bytes) {
        owner->registerUserInput(bytes);
        signal->noteUserInput();
    };
    callbacks.notifyUI = [weak] {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (!view)
            return;
        view->ensureCaretIsVisible();
        if (view->cursorBlinkResetsOnInput && view->caretView_)
            view->caretView_->resetBlinkAfterInput();
    };
    // One batch per send reaches the host, in order, however many threads send.
    std::shared_ptr<TerminalInputMainActorDelivery> delivery =
        TerminalInputMainActorDelivery::create([weak](std::span<const uint8_t> batch) {
            const std::shared_ptr<TerminalView> view = weak.lock();
            if (!view)
                return;
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate())
                delegate->send(*view, batch);
        });
    callbacks.deliver = [delivery](std::span<const uint8_t> bytes) { delivery->enqueue(bytes); };
    callbacks.deliverOnMain = callbacks.deliver;
    inputSender_->install(std::move(callbacks));
}

void TerminalView::send(Bytes data)
{
    inputSender_->send(data);
}

void TerminalView::send(std::string_view text)
{
    inputSender_->send(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void TerminalView::sendCursorKey(char normal)
{
    const char* caller = normal == 'A'   ? "sendKeyUp()"
                         : normal == 'B' ? "sendKeyDown()"
                         : normal == 'H' ? "sendKeyHome()"
                                         : "sendKeyEnd()";
    const bool application = withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.mode(TerminalMode::applicationCursor);
        },
        caller);
    // ESC [ x normally, ESC O x in application cursor mode (DECCKM).
    const uint8_t bytes[3] = {0x1B, uint8_t(application ? 'O' : '['), uint8_t(normal)};
    send(std::span<const uint8_t>(bytes));
}

void TerminalView::sendKeyUp()
{
    sendCursorKey('A');
}

void TerminalView::sendKeyDown()
{
    sendCursorKey('B');
}

void TerminalView::sendKeyHome()
{
    sendCursorKey('H');
}

void TerminalView::sendKeyEnd()
{
    sendCursorKey('F');
}

void TerminalView::sendKeyLeft()
{
    sendHorizontalKey(true);
}

void TerminalView::sendKeyRight()
{
    sendHorizontalKey(false);
}

void TerminalView::sendHorizontalKey(bool left)
{
    const BidiHostPolicy policy = bidiHostPolicy_;
    struct Decision
    {
        bool swap = false;
        bool application = false;
    };
    const Decision decision = withTerminal(
        [policy](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const Buffer& buffer = terminal.buffer();
            const int64_t row = int64_t(buffer.yBase()) + buffer.y();
            BidiDirection direction = BidiDirection::leftToRight;
            if (policy == BidiHostPolicy::respectTerminal && row >= 0 && row < buffer.lines().count()) {
                const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(row));
                if (line.bidiState().supportMode == BidiSupportMode::explicit_) {
                    direction = line.bidiState().fallbackDirection;
                } else {
                    // The base direction of the paragraph around the cursor, resolved as the frame's
                    // layout resolves it.
                    const TerminalBidi::ParagraphOutcome outcome =
                        TerminalBidi::collectParagraph(row, buffer, terminal.cols(), terminal);
                    TerminalBidi::ResultPointer result;
                    if (const auto* ready = std::get_if<TerminalBidi::ResultPointer>(&outcome))
                        result = *ready;
                    else
                        result = TerminalBidi::finishParagraph(std::get<TerminalBidi::ParagraphJob>(outcome));
                    if (result)
                        direction = result->baseDirection;
                }
            }
            return Decision{direction == BidiDirection::rightToLeft &&
                                terminal.mode(TerminalMode::bidiArrowKeySwap),
                            terminal.mode(TerminalMode::applicationCursor)};
        },
        "sendHorizontalKey(left:)");
    const bool right = left == decision.swap;
    const uint8_t bytes[3] = {0x1B, uint8_t(decision.application ? 'O' : '['), uint8_t(right ? 'C' : 'D')};
    send(std::span<const uint8_t>(bytes));
}

bool TerminalView::sendMouseReport(const MouseReport& report)
{
    if (!allowMouseReporting || !terminal_)
        return false;
    if (terminal_->terminalLock().isHeldByCurrentThread())
        fatal("TerminalView.sendMouseReport: called with the terminal lock held");
    const std::optional<std::vector<uint8_t>> bytes = withTerminal(
        [&report](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return mouseReportBytes(terminal, report);
        },
        "sharedMouseEvent(with:)");
    if (!bytes)
        return false;
    // A program learns nothing from a second report of the same cell (or pixel); motion events
    // come far more often than the pointer crosses cells.
    if (report.action == TerminalMouseAction::move) {
        if (lastMotionReport_ == bytes)
            return false;
        lastMotionReport_ = bytes;
    } else {
        lastMotionReport_.reset();
    }
    // Reports go straight to the host: they are not typing, so they neither scroll to the caret
    // nor restart its blink.
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
        delegate->send(*this, *bytes);
    return true;
}

std::vector<uint8_t> TerminalView::applyControlToEventCharacters(std::string_view characters)
{
    if (characters.size() != 1 || static_cast<unsigned char>(characters[0]) > 0x7F)
        return {};
    const char c = characters[0];
    if (c >= 'A' && c <= 'Z')
        return {uint8_t(c - 64)};
    if (c >= 'a' && c <= 'z')
        return {uint8_t(c - 96)};
    switch (c) {
    case '\\':
    case '4':
        return {0x1C};
    case '_':
    case '/':
    case '7':
        return {0x1F};
    case ']':
    case '5':
        return {0x1D};
    case '[':
    case '3':
        return {0x1B};
    case '^':
    case '6':
        return {0x1E};
    case ' ':
    case '@':
    case '2':
        return {0x00};
    case '?':
    case '8':
        return {0x7F};
    default:
        return {};
    }
}

// --- Program status and selection ---------------------------------------------------------------

std::vector<TerminalProgramStatus> TerminalView::programStatusRecords() const
{
    return programStatusState_.withLock(
        [](const std::vector<TerminalProgramStatus>& records) { return records; });
}

void TerminalView::clearProgramStatus(const std::string& id)
{
    // The terminal reports the remaining records through its delegate when one went.
    withTerminal(
        [&id](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.clearProgramStatus(id);
        },
        "clearProgramStatus(id:)");
}

void TerminalView::programStatusProcessExited()
{
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.programStatusProcessExited();
        },
        "programStatusProcessExited()");
}

bool TerminalView::selectionActive()
{
    return withTerminal([this](Terminal&) { return selection_ && selection_->active(); }, "selectionActive");
}

std::optional<std::string> TerminalView::getSelection()
{
    return withTerminal(
        [this](Terminal&) -> std::optional<std::string> {
            if (!selection_ || !selection_->active())
                return std::nullopt;
            return selection_->getSelectedText();
        },
        "getSelection()");
}

void TerminalView::selectAll()
{
    withTerminal(
        [this](Terminal&) {
            if (selection_)
                selection_->selectAll();
        },
        "selectAll()");
    offerSelectionAsPrimary();
}

void TerminalView::offerSelectionAsPrimary()
{
    if (!host_)
        return;
    const std::optional<std::string> text = getSelection();
    if (text && !text->empty())
        host_->setPrimarySelectionText(*text);
}

void TerminalView::selectNone()
{
    withTerminal(
        [this](Terminal&) {
            if (selection_)
                selection_->selectNone();
        },
        "selectNone()");
}

SemanticPromptClickBehavior TerminalView::semanticPromptClickBehavior()
{
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.semanticPromptClickBehavior();
        },
        "semanticPromptClickBehavior");
}

void TerminalView::setSemanticPromptClickBehavior(SemanticPromptClickBehavior behavior)
{
    withTerminal(
        [&behavior](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.setSemanticPromptClickBehavior(behavior);
        },
        "semanticPromptClickBehavior");
}

// --- OSC 8 payloads ------------------------------------------------------------------------------

std::optional<std::pair<std::string, std::map<std::string, std::string>>>
TerminalView::urlAndParamsFrom(std::string_view payload)
{
    // "id=x:foo=bar;https://example.com": parameters, ";", the URI. A URI may hold ";" only after
    // the first one, and pieces after a second ";" are not part of it.
    const std::vector<std::string_view> pieces = splitKeepingEmpty(payload, ';');
    if (pieces.size() < 2)
        return std::nullopt;
    std::map<std::string, std::string> params;
    for (std::string_view parameter : splitDroppingEmpty(pieces[0], ':')) {
        const std::vector<std::string_view> pair = splitDroppingEmpty(parameter, '=');
        if (pair.size() == 2)
            params[std::string(pair[0])] = std::string(pair[1]);
    }
    return std::make_pair(std::string(pieces[1]), std::move(params));
}

} // namespace kestrovan
