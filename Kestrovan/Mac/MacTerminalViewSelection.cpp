// Selection gestures of the left button when the press is the view's own: a double click selects a
// word or expression, a triple click a whole logical line, Shift-click extends the selection, a
// drag past a small threshold selects a range (a block with Alt), and a drag at or past the top or
// bottom edge scrolls at a speed that grows with the distance. A plain single click may instead
// move the shell's cursor (OSC 133 prompt clicks, decided by the terminal).
//
// As on every Linux desktop, a selection the user finished (a drag, a double or triple click, a
// Shift-click, Select All) is offered as the primary selection, and a middle click elsewhere
// pastes it; the primary selection is read back asynchronously to paste it here.
//
// The selection service changes only under the terminal lock: the terminal may drop the selection
// while it parses. The autoscroll timer runs on the main thread and takes the lock for each step.

#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::ModifierFlags;
using platform::MouseEvent;

namespace {

SemanticPromptClickModifiers promptModifiers(ModifierFlags flags)
{
    SemanticPromptClickModifiers modifiers;
    modifiers.set(SemanticPromptClickModifiers::shift, flags.has(ModifierFlags::shift));
    modifiers.set(SemanticPromptClickModifiers::control, flags.has(ModifierFlags::control));
    modifiers.set(SemanticPromptClickModifiers::option, flags.has(ModifierFlags::option));
    modifiers.set(SemanticPromptClickModifiers::command, flags.has(ModifierFlags::command));
    return modifiers;
}

} // namespace

// --- Positions ------------------------------------------------------------------------------------

Position MacTerminalView::selectionPositionLocked(platform::Point point, const MouseHit& hit)
{
    // Word and line selections snap to whole cells' words and lines. A character or block
    // selection runs between cells, like a text editor's: its end is the cell boundary nearest
    // the pointer, so a drag over the right half of a character takes it in.
    const SelectionService& selection = *this->selection();
    if (!selection.isBlock() && selection.selectionMode() != SelectionService::SelectionMode::character)
        return hit.grid;
    const double width = cellDimension().value_or(platform::Size{}).width;
    const int cols = terminal()->cols();
    const double cells = point.x / width;
    if (!(width > 0) || !std::isfinite(cells))
        return hit.grid;
    const int64_t visual =
        static_cast<int64_t>(std::clamp(std::trunc(cells), 0.0, double(std::max(cols - 1, 0))));
    // A row drawn in visual order was mapped to another column: the hit cell itself is meant.
    if (visual != hit.grid.col)
        return hit.grid;
    const int64_t boundary = cells - double(visual) >= 0.5 ? visual + 1 : visual;
    return Position(std::min<int64_t>(boundary, cols), hit.grid.row);
}

// --- Press, drag, release ------------------------------------------------------------------------

void MacTerminalView::localMouseDown(const MouseEvent& event, const MouseHit& hit)
{
    press_->wasLocal = true;
    const bool shift = event.modifierFlags.has(ModifierFlags::shift);
    press_->changedSelection = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            SelectionService& selection = *this->selection();
            if (event.clickCount == 2) {
                selection.selectWordOrExpression(hit.grid, terminal.buffer());
                return true;
            }
            if (event.clickCount >= 3) {
                // The whole logical line: the row and the rows wrapped onto it.
                selection.select(hit.grid.row);
                return true;
            }
            if (!selection.active())
                return false;
            if (shift) {
                selection.shiftExtend(selectionPositionLocked(event.location, hit));
                return true;
            }
            // A plain click ends the selection and its word, row or block gesture; a drag starts
            // the next one.
            selection.selectNone();
            return false;
        },
        "mouseDown(with:)");
    requestRedraw();
}

void MacTerminalView::beginDragSelectionLocked(platform::Point to, const MouseHit& hit)
{
    SelectionService& selection = *this->selection();
    if (press_ && press_->selectsBlock) {
        selection.startBlockSelection(press_->grid);
    } else {
        // An empty character selection at the press's cell.
        selection.collapseTo(press_ ? press_->grid : hit.grid);
        selection.startSelection();
    }
    // The anchor, too, is the boundary nearest the press.
    if (press_)
        selection.collapseTo(selectionPositionLocked(press_->point, MouseHit{press_->grid, 0, 0}));
    selection.dragExtend(selectionPositionLocked(to, hit));
}

void MacTerminalView::dragSelectionLocked(platform::Point to, const MouseHit& hit, bool startNew)
{
    if (startNew)
        beginDragSelectionLocked(to, hit);
    else
        // The moving end follows the pointer, snapping to words or lines in those modes.
        selection()->dragExtend(selectionPositionLocked(to, hit));
}

void MacTerminalView::localMouseDragged(const MouseEvent& event, const MouseHit& hit, int64_t yDisp)
{
    // Until the first drag of the press, a wobble inside the press's cell starts nothing.
    if (!press_->didSelectionDrag && !isSelectionDrag(event.location, hit, yDisp))
        return;
    // The first drag of an Alt press starts a block, whatever was selected before.
    const bool heldPressJustDragged = press_->optionDragIsLocal && !press_->didSelectionDrag;
    const int rows = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            dragSelectionLocked(event.location, hit, heldPressJustDragged || !selection()->active());
            return terminal.rows();
        },
        "mouseDragged(with:)");
    press_->didSelectionDrag = true;
    press_->changedSelection = true;
    lastSelectionDragPoint_ = event.location;
    autoScrollDelta_ = 0;
    updateAutoScroll(hit, yDisp, rows);
    requestRedraw();
}

void MacTerminalView::localMouseUp(const MouseEvent& event)
{
    stopSelectionAutoScroll();
    if (press_->didSelectionDrag || pressWasReported(TerminalMouseButton::left))
        return;
    // A press and release whose drag events never came (a fast flick) still select.
    const bool completed = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const MouseHit hit = calculateMouseHitLocked(event.location);
            const int64_t yDisp = terminal.buffer().yDisp();
            const bool released = releaseHeldOptionPressForDragLocked(event.location, hit, yDisp);
            if (press_->heldOptionPress || !isSelectionDrag(event.location, hit, yDisp))
                return false;
            dragSelectionLocked(event.location, hit, released || !selection()->active());
            return true;
        },
        "mouseUp(with:)");
    if (!completed)
        return;
    press_->wasLocal = true;
    press_->didSelectionDrag = true;
    press_->changedSelection = true;
    requestRedraw();
}

bool MacTerminalView::routeSemanticPromptClick(const MouseHit& hit, ModifierFlags modifiers)
{
    if (!press_ || press_->clickCount != 1 || !press_->wasLocal || press_->didSelectionDrag)
        return false;
    const SemanticPromptClickModifiers promptKeys = promptModifiers(modifiers);
    const bool handled = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const bool activeNow = selection()->active();
            const SemanticPromptPointerSnapshot snapshot(press_->selectionWasActive, false, 1, true,
                                                         activeNow);
            if (activeNow || !terminal.mightRouteSemanticPromptClick(promptKeys, snapshot))
                return false;
            return terminal.handleSemanticPromptClick(hit.grid, promptKeys);
        },
        "routeSemanticPromptClick(at:modifiers:)");
    if (handled)
        requestRedraw();
    return handled;
}

// --- Autoscroll ----------------------------------------------------------------------------------

int MacTerminalView::calcScrollingVelocity(int distance, int rows)
{
    // Lines per step: slow near the edge, a screenful (at least 20 lines) far past it.
    if (distance <= 1)
        return 1;
    if (distance <= 5)
        return 3;
    if (distance <= 9)
        return 10;
    return std::max(rows, 20);
}

void MacTerminalView::updateAutoScroll(const MouseHit& hit, int64_t yDisp, int rows)
{
    const bool active =
        withTerminal([this](Terminal&) { return selection()->active(); }, "mouseDragged(with:)");
    // The row of the pointer within the screen: at or above the first row scrolls towards older
    // lines, below the last towards newer ones (the hit is clamped to the buffer, so while the
    // newest lines show, a drag below starts nothing).
    const int64_t row = hit.grid.row - yDisp;
    if (!active || (row > 0 && row < rows)) {
        stopSelectionAutoScroll();
        return;
    }
    const bool up = row <= 0;
    const int64_t distance = up ? -row : row - rows;
    const int velocity = calcScrollingVelocity(static_cast<int>(std::min<int64_t>(distance, 1000)), rows);
    autoScrollDelta_ = up ? -velocity : velocity;
    startSelectionAutoScrollTimer();
}

void MacTerminalView::startSelectionAutoScrollTimer()
{
    if (selectionAutoScrollTimer_)
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    selectionAutoScrollTimer_ =
        timers().schedule(std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(
                              std::chrono::duration<double>(autoScrollInterval)),
                          true, [weak] {
                              const std::shared_ptr<TerminalView> view = weak.lock();
                              if (auto* mac = static_cast<MacTerminalView*>(view.get()))
                                  mac->scrollingTimerElapsed();
                          });
}

void MacTerminalView::stopSelectionAutoScroll()
{
    if (selectionAutoScrollTimer_)
        selectionAutoScrollTimer_->invalidate();
    selectionAutoScrollTimer_.reset();
    autoScrollDelta_ = 0;
    lastSelectionDragPoint_.reset();
}

void MacTerminalView::scrollingTimerElapsed()
{
    if (autoScrollDelta_ == 0 || !terminal())
        return;
    const int delta = autoScrollDelta_;
    const int target = withTerminal(
        [delta](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const Buffer& buffer = terminal.buffer();
            int64_t top = int64_t(buffer.yDisp()) + delta;
            if (delta > 0)
                top = std::min<int64_t>(top, int64_t(buffer.lines().count()) - terminal.rows());
            return static_cast<int>(std::max<int64_t>(top, 0));
        },
        delta < 0 ? "scrollUp(lines:)" : "scrollDown(lines:)");
    scrollTo(target, true);
    // The text moved under the pointer: the selection follows to what is under it now.
    if (lastSelectionDragPoint_) {
        const platform::Point point = *lastSelectionDragPoint_;
        withTerminal(
            [&](Terminal&) {
                if (selection()->active())
                    selection()->dragExtend(selectionPositionLocked(point, calculateMouseHitLocked(point)));
            },
            "calculateMouseHit(at:)");
    }
    requestRedraw();
}

// --- The primary selection -----------------------------------------------------------------------

void MacTerminalView::pastePrimarySelection()
{
    // As any paste: a paste event for a program that asked for those, else the text.
    if (!host() || uiShutdownState_ != UIShutdownState::active)
        return;
    pasteClipboard(KittyClipboardLocation::primary);
}

} // namespace kestrovan
