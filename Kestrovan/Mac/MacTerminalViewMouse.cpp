// Pointer events: who gets each one. A program that switched mouse tracking on gets reports of
// presses, releases, drags and motion, as its tracking mode asks; everything else is the view's:
// selecting (MacTerminalViewSelection.cpp), links, and pasting the primary selection with the
// middle button.
//
// Three rules keep the program's view of its buttons true:
//   - a left press is the program's when the host allows reports, the program tracks the mouse
//     and Shift does not claim it for the view (unless the program captures Shift); its drags and
//     its release follow the press, whatever the modifiers say by then;
//   - the program hears a release exactly when it heard the press (a click that opens a link, or
//     one that gets Shift before the release, still ends for the program), and while the host's
//     switch is off no report of any kind leaves the view;
//   - an Alt single click is held back: a click is sent whole (press and release) at the release,
//     a drag becomes a local block selection the program never hears of.
// Hit tests and the mode reads happen under the terminal lock; reports are sent after it is left.

#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"

#include <algorithm>
#include <cmath>
#include <variant>

namespace kestrovan {

using platform::ModifierFlags;
using platform::MouseEvent;
using platform::MouseEventType;

namespace {

/// The report button of a view button number (0 left, 1 right, 2 middle); none for the others,
/// which no tracking mode reports and the view does not use.
std::optional<TerminalMouseButton> reportButtonOf(int buttonNumber)
{
    switch (buttonNumber) {
    case 0:
        return TerminalMouseButton::left;
    case 1:
        return TerminalMouseButton::right;
    case 2:
        return TerminalMouseButton::middle;
    default:
        return std::nullopt;
    }
}

/// The slot of a click button in the per-button records.
size_t slotOf(TerminalMouseButton button)
{
    return static_cast<size_t>(button);
}

MouseReportModifiers reportModifiers(ModifierFlags flags)
{
    MouseReportModifiers modifiers;
    modifiers.set(MouseReportModifiers::shift, flags.has(ModifierFlags::shift));
    modifiers.set(MouseReportModifiers::meta, flags.has(ModifierFlags::option));
    modifiers.set(MouseReportModifiers::control, flags.has(ModifierFlags::control));
    return modifiers;
}

} // namespace

// --- Hit test ------------------------------------------------------------------------------------

MouseHit MacTerminalView::calculateMouseHitLocked(platform::Point point)
{
    Terminal& terminal = *this->terminal();
    terminal.terminalLock().preconditionLocked();
    const Buffer& buffer = terminal.buffer();
    const MouseHitGeometry geometry{frameSize(), cellDimension().value_or(platform::Size{}), backingScale(),
                                    terminal.cols(), terminal.rows()};
    MouseHit hit = mouseHitAt(point, geometry, buffer.yDisp(), buffer.lines().count());
    if (bidiHostPolicy() != BidiHostPolicy::respectTerminal)
        return hit;
    // A row shown in visual order is hit where it is drawn: its column maps back to the cell.
    std::optional<BidiRowLayout> layout;
    TerminalBidi::LayoutOutcome outcome =
        TerminalBidi::collectLayout(hit.grid.row, buffer, terminal.cols(), terminal, bidiHostPolicy());
    if (auto* ready = std::get_if<std::optional<BidiRowLayout>>(&outcome)) {
        layout = std::move(*ready);
    } else {
        const std::shared_ptr<TerminalBidi::DeferredParagraph> paragraph =
            std::get<std::shared_ptr<TerminalBidi::DeferredParagraph>>(outcome);
        TerminalBidi::finish({paragraph});
        if (paragraph->result) {
            const auto found = paragraph->result->rows.find(hit.grid.row);
            if (found != paragraph->result->rows.end())
                layout = found->second;
        }
    }
    if (layout && hit.grid.col >= 0 && hit.grid.col < int64_t(layout->visualToLogicalCol.size()))
        hit.grid.col = layout->visualToLogicalCol[size_t(hit.grid.col)];
    return hit;
}

// --- Routing -------------------------------------------------------------------------------------

void MacTerminalView::mouseEvent(const MouseEvent& event)
{
    if (!terminal() || !cellDimension() || uiShutdownState_ != UIShutdownState::active)
        return;
    switch (event.type) {
    case MouseEventType::moved:
        mouseMoved(event);
        return;
    case MouseEventType::entered:
        updateLinkHover(event.location, event.modifierFlags);
        return;
    case MouseEventType::exited:
        updateLinkHover(std::nullopt, event.modifierFlags);
        return;
    case MouseEventType::down:
    case MouseEventType::dragged:
    case MouseEventType::up:
        break;
    }
    const std::optional<TerminalMouseButton> button = reportButtonOf(event.buttonNumber);
    if (!button)
        return;
    const bool left = *button == TerminalMouseButton::left;
    switch (event.type) {
    case MouseEventType::down:
        left ? leftMouseDown(event) : otherMouseDown(event, *button);
        return;
    case MouseEventType::dragged:
        left ? leftMouseDragged(event) : otherMouseDragged(event, *button);
        return;
    default:
        left ? leftMouseUp(event) : otherMouseUp(event, *button);
        return;
    }
}

bool MacTerminalView::shiftBypassesMouseReportingLocked(Terminal& terminal, ModifierFlags modifiers)
{
    // A program that captures Shift (XTSHIFTESCAPE) keeps shift-clicks; otherwise they select.
    return modifiers.has(ModifierFlags::shift) && !terminal.mouseShiftCapture();
}

bool MacTerminalView::reportsMouseLocked(Terminal& terminal, ModifierFlags modifiers) const
{
    return allowMouseReporting && !(press_ && press_->optionDragIsLocal) &&
           !shiftBypassesMouseReportingLocked(terminal, modifiers);
}

bool MacTerminalView::pressWasReported(TerminalMouseButton button) const
{
    const size_t slot = slotOf(button);
    return slot < reportedPress_.size() && reportedPress_[slot];
}

bool MacTerminalView::sendPointerReport(TerminalMouseAction action, TerminalMouseButton button,
                                        const MouseEvent& event)
{
    const MouseReport report = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const MouseHit hit = calculateMouseHitLocked(event.location);
            // Reports name screen cells: the row within the visible screen.
            const int64_t screenRow = std::clamp<int64_t>(hit.grid.row - terminal.buffer().yDisp(), 0,
                                                          std::max(terminal.rows() - 1, 0));
            return MouseReport{action,
                               button,
                               reportModifiers(event.modifierFlags),
                               static_cast<int>(hit.grid.col),
                               static_cast<int>(screenRow),
                               hit.pixelX,
                               hit.pixelY};
        },
        "calculateMouseHit(at:)");
    const bool sent = sendMouseReport(report);
    if (sent && action == TerminalMouseAction::press)
        reportedPress_[slotOf(button)] = true;
    return sent;
}

void MacTerminalView::releaseReportedPress(TerminalMouseButton button, const MouseEvent& event)
{
    // Only a press the program heard is released for it, and always: a program left with a held
    // button drags on every later move.
    if (!std::exchange(reportedPress_[slotOf(button)], false))
        return;
    sendPointerReport(TerminalMouseAction::release, button, event);
}

// --- Left button ---------------------------------------------------------------------------------

void MacTerminalView::leftMouseDown(const MouseEvent& event)
{
    // A press whose release never came (a grab the view never saw end) is over now.
    reportedPress_[slotOf(TerminalMouseButton::left)] = false;
    stopSelectionAutoScroll();
    press_ = LeftPress{};
    press_->point = event.location;
    press_->clickCount = event.clickCount;
    // Alt+drag selects a block (Ctrl+Alt too, for desktops that move windows with Alt+drag).
    press_->selectsBlock = event.modifierFlags.has(ModifierFlags::option) && event.clickCount == 1;
    struct Decision
    {
        MouseHit hit;
        bool reports = false;
    };
    const Decision decision = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().preconditionLocked();
            const MouseHit hit = calculateMouseHitLocked(event.location);
            press_->grid = hit.grid;
            press_->screenGrid = Position(hit.grid.col, hit.grid.row - terminal.buffer().yDisp());
            press_->selectionWasActive = selection() && selection()->active();
            terminal.beginPrimaryPointerPress(hit.grid);
            return Decision{hit, reportsMouseLocked(terminal, event.modifierFlags) &&
                                     terminal.mouseMode() != MouseMode::off};
        },
        "mouseDown(with:)");
    if (decision.reports) {
        if (press_->selectsBlock) {
            press_->heldOptionPress = event;
            requestRedraw();
            return;
        }
        if (sendPointerReport(TerminalMouseAction::press, TerminalMouseButton::left, event))
            return;
    }
    localMouseDown(event, decision.hit);
}

bool MacTerminalView::isSelectionDrag(platform::Point point, const MouseHit& hit, int64_t yDisp) const
{
    if (!press_)
        return false;
    if (Position(hit.grid.col, hit.grid.row - yDisp) != press_->screenGrid)
        return true;
    // Within the press's cell a small wobble is still a click.
    return std::hypot(point.x - press_->point.x, point.y - press_->point.y) >=
           selectionDragThreshold(cellDimension().value_or(platform::Size{}));
}

double MacTerminalView::selectionDragThreshold(platform::Size cell)
{
    return std::max(std::min(cell.width, cell.height) / 2, 3.0);
}

bool MacTerminalView::releaseHeldOptionPressForDragLocked(platform::Point point, const MouseHit& hit,
                                                          int64_t yDisp)
{
    if (!press_ || !press_->heldOptionPress || !isSelectionDrag(point, hit, yDisp))
        return false;
    // The program never hears of this press: it became a local block selection.
    press_->heldOptionPress.reset();
    press_->optionDragIsLocal = true;
    return true;
}

void MacTerminalView::leftMouseDragged(const MouseEvent& event)
{
    if (!press_)
        return;
    struct Step
    {
        MouseHit hit;
        int64_t yDisp = 0;
        bool releasedHeld = false;
    };
    const Step step = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const MouseHit hit = calculateMouseHitLocked(event.location);
            const int64_t yDisp = terminal.buffer().yDisp();
            return Step{hit, yDisp, releaseHeldOptionPressForDragLocked(event.location, hit, yDisp)};
        },
        "mouseDragged(with:)");
    // Still a possible Alt click: nothing yet.
    if (press_->heldOptionPress)
        return;
    if (pressWasReported(TerminalMouseButton::left)) {
        // The program's drag: reported in the button- and any-event modes, swallowed in the others.
        sendPointerReport(TerminalMouseAction::move, TerminalMouseButton::left, event);
        return;
    }
    if (step.releasedHeld)
        press_->wasLocal = true;
    localMouseDragged(event, step.hit, step.yDisp);
}

void MacTerminalView::leftMouseUp(const MouseEvent& event)
{
    if (!press_) {
        releaseReportedPress(TerminalMouseButton::left, event);
        return;
    }
    localMouseUp(event);
    // An Alt click that never dragged reaches the program whole: its press now, then its release.
    if (std::optional<MouseEvent> held = std::exchange(press_->heldOptionPress, std::nullopt)) {
        const bool reports = withTerminal(
            [&](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                return reportsMouseLocked(terminal, held->modifierFlags) &&
                       terminal.mouseMode() != MouseMode::off;
            },
            "mouseUp(with:)");
        if (!reports || !sendPointerReport(TerminalMouseAction::press, TerminalMouseButton::left, *held))
            press_->wasLocal = true;
    }
    const MouseHit hit =
        withTerminal([&](Terminal&) { return calculateMouseHitLocked(event.location); }, "mouseUp(with:)");
    // A release with modifiers is offered to the prompt first, before any link under it.
    const bool withModifiers = event.modifierFlags.hasAny(ModifierFlags::shift | ModifierFlags::control |
                                                          ModifierFlags::option | ModifierFlags::command);
    bool handled = withModifiers && routeSemanticPromptClick(hit, event.modifierFlags);
    bool linkOpened = false;
    if (!handled && !press_->didSelectionDrag)
        linkOpened = openLinkOnClick(hit, event.modifierFlags);
    releaseReportedPress(TerminalMouseButton::left, event);
    if (!handled && !linkOpened && !withModifiers)
        handled = routeSemanticPromptClick(hit, event.modifierFlags);
    if (press_->changedSelection && !handled)
        offerSelectionAsPrimary();
    press_.reset();
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().preconditionLocked();
            terminal.endPrimaryPointerPress();
        },
        "mouseUp(with:)");
}

// --- Right and middle buttons --------------------------------------------------------------------

void MacTerminalView::otherMouseDown(const MouseEvent& event, TerminalMouseButton button)
{
    reportedPress_[slotOf(button)] = false;
    const bool reports = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return allowMouseReporting && !shiftBypassesMouseReportingLocked(terminal, event.modifierFlags) &&
                   terminal.mouseMode() != MouseMode::off;
        },
        "shouldReportMouseEvent(with:when:)");
    if (reports && sendPointerReport(TerminalMouseAction::press, button, event))
        return;
    // A middle click the program does not take pastes the primary selection, as the desktop
    // does everywhere (unless it is switched off there).
    if (button == TerminalMouseButton::middle && host() && host()->primaryPasteEnabled())
        pastePrimarySelection();
}

void MacTerminalView::otherMouseDragged(const MouseEvent& event, TerminalMouseButton button)
{
    if (pressWasReported(button))
        sendPointerReport(TerminalMouseAction::move, button, event);
}

void MacTerminalView::otherMouseUp(const MouseEvent& event, TerminalMouseButton button)
{
    releaseReportedPress(button, event);
}

// --- Motion ----------------------------------------------------------------------------

void MacTerminalView::mouseMoved(const MouseEvent& event)
{
    updateLinkHover(event.location, event.modifierFlags);
    // Only any-event tracking reports motion without a button (code 35 and the modifiers). The
    // mode's copy is read without the terminal lock, which output may hold for a while: motion
    // comes often, and mostly no program wants it.
    if (allowMouseReporting && mouseMode() == MouseMode::anyEvent)
        sendPointerReport(TerminalMouseAction::move, TerminalMouseButton::none, event);
}

} // namespace kestrovan
