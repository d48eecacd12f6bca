// The viewport over the buffer's lines: the scroller's thumb size and position, moving the
// viewport (to a row, a scroller position, by pages and by lines), whether the user has scrolled
// away from the live screen, and the scrollback's size.
//
// The viewport's top is the buffer's display offset `yDisp`; the live screen starts at
// maxScroll = line count - rows. Every read and write of the buffer happens under the terminal
// lock; frame requests, the host's `scrolled` and the overlay scroller follow after it is released.
#include "Kestrovan/Apple/AppleTerminalView.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

int maxScrollOf(const Terminal& terminal)
{
    return terminal.buffer().lines().count() - terminal.rows();
}

int clampedRow(int64_t row, const Terminal& terminal)
{
    return static_cast<int>(std::clamp<int64_t>(row, 0, std::max(maxScrollOf(terminal), 0)));
}

} // namespace

// --- Scroller values -------------------------------------------------------------------------------

double TerminalView::scrollThumbsizeLocked()
{
    Terminal& terminal = requireTerminal("scrollThumbsizeLocked()");
    terminal.terminalLock().preconditionLocked();
    if (terminal.isCurrentBufferAlternate())
        return 0;
    const int count = terminal.buffer().lines().count();
    // A knob smaller than a hundredth of the track could not be grabbed.
    const double size = count > 0 ? double(terminal.rows()) / double(count) : 1.0;
    return size <= 0.01 ? 0.01 : size;
}

double TerminalView::scrollThumbsize()
{
    return withTerminal([this](Terminal&) { return scrollThumbsizeLocked(); }, "scrollThumbsize");
}

double TerminalView::scrollPositionLocked()
{
    Terminal& terminal = requireTerminal("scrollPositionLocked()");
    terminal.terminalLock().preconditionLocked();
    const int yDisp = terminal.buffer().yDisp();
    if (terminal.isCurrentBufferAlternate() || yDisp < 1)
        return 0;
    const int maximum = maxScrollOf(terminal);
    if (yDisp >= maximum)
        return 1;
    return double(yDisp) / double(maximum);
}

double TerminalView::scrollPosition()
{
    return withTerminal([this](Terminal&) { return scrollPositionLocked(); }, "scrollPosition");
}

bool TerminalView::canScrollLocked()
{
    Terminal& terminal = requireTerminal("canScrollLocked()");
    terminal.terminalLock().preconditionLocked();
    if (terminal.isCurrentBufferAlternate() || !terminal.buffer().hasScrollback())
        return false;
    return terminal.rows() < terminal.buffer().lines().count();
}

bool TerminalView::canScroll()
{
    return withTerminal([this](Terminal&) { return canScrollLocked(); }, "canScroll");
}

void TerminalView::applyScrollerState(const ScrollerState& state)
{
    if (scroller_)
        scroller_->setState(
            platform::ScrollerState{state.isEnabled, state.doubleValue, state.knobProportion});
}

// --- Moving the viewport -------------------------------------------------------------------------

void TerminalView::updateUserScrollingStateLocked(Terminal& terminal, int row)
{
    terminal.terminalLock().preconditionLocked();
    // Above the live screen the viewport stays on its lines as output scrolls; at it, it follows.
    userScrolling_ = row < std::max(maxScrollOf(terminal), 0);
    terminal.setUserScrolling(userScrolling_);
}

bool TerminalView::moveViewportLocked(Terminal& terminal, int row)
{
    terminal.terminalLock().preconditionLocked();
    const int target = clampedRow(row, terminal);
    updateUserScrollingStateLocked(terminal, target);
    if (!terminal.scrollViewportTo(target))
        return false;
    // Every visible row now shows another line.
    terminal.updateRange(0);
    terminal.updateRange(terminal.rows());
    return true;
}

void TerminalView::scrollTo(int row, bool notifyAccessibility)
{
    const bool moved = withTerminal(
        [this, row](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return moveViewportLocked(terminal, row);
        },
        "scrollTo(row:notifyAccessibility:)");
    if (!moved)
        return;
    setMailboxSuppressAccessibility(!notifyAccessibility);
    requestRedraw();
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
        delegate->scrolled(*this, scrollPosition());
    setMailboxUpdateScroller();
    requestRedraw();
    showOverlayScroller();
}

void TerminalView::scroll(double toPosition)
{
    // A scroller hands positions in 0...1; anything that is not a number moves nothing.
    if (!std::isfinite(toPosition))
        return;
    struct Target
    {
        int row = 0;
        bool differs = false;
    };
    const Target target = withTerminal(
        [toPosition](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const double span = std::max(maxScrollOf(terminal), 0);
            const double scaled = std::trunc(toPosition * span);
            const int row = clampedRow(static_cast<int64_t>(std::clamp(scaled, -1.0, span + 1.0)), terminal);
            return Target{row, row != terminal.buffer().yDisp()};
        },
        "scroll(toPosition:)");
    if (target.differs) {
        scrollTo(target.row, true);
        return;
    }
    withTerminal(
        [this, &target](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            updateUserScrollingStateLocked(terminal, target.row);
        },
        "scroll(toPosition:)");
}

void TerminalView::pageUp()
{
    const std::optional<int> row = withTerminal(
        [](Terminal& terminal) -> std::optional<int> {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.isCurrentBufferAlternate())
                return std::nullopt;
            return std::max(terminal.buffer().yDisp() - terminal.rows(), 0);
        },
        "pageUp()");
    if (!row) {
        // Full-screen programs page themselves: ESC [ 5 ~.
        send(std::string_view("\x1b[5~"));
        return;
    }
    scrollTo(*row, true);
}

void TerminalView::pageDown()
{
    const std::optional<int> row = withTerminal(
        [](Terminal& terminal) -> std::optional<int> {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.isCurrentBufferAlternate())
                return std::nullopt;
            return std::max(std::min(terminal.buffer().yDisp() + terminal.rows(), maxScrollOf(terminal)), 0);
        },
        "pageDown()");
    if (!row) {
        send(std::string_view("\x1b[6~"));
        return;
    }
    scrollTo(*row, true);
}

void TerminalView::scrollUp(int lines)
{
    const int row = withTerminal(
        [lines](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return static_cast<int>(std::max<int64_t>(int64_t(terminal.buffer().yDisp()) - lines, 0));
        },
        "scrollUp(lines:)");
    scrollTo(row, true);
}

void TerminalView::scrollDown(int lines)
{
    const int row = withTerminal(
        [lines](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const int64_t target =
                std::min<int64_t>(int64_t(terminal.buffer().yDisp()) + lines, maxScrollOf(terminal));
            return static_cast<int>(std::max<int64_t>(target, 0));
        },
        "scrollDown(lines:)");
    scrollTo(row, true);
}

void TerminalView::ensureCaretIsVisible()
{
    const std::optional<int> row = withTerminal(
        [](Terminal& terminal) -> std::optional<int> {
            terminal.terminalLock().assumeHeldByCaller();
            // While a program holds synchronized output the screen must not move under it.
            if (terminal.synchronizedOutputActive())
                return std::nullopt;
            const Buffer& buffer = terminal.buffer();
            const int cursorRow = buffer.yBase() + buffer.y();
            if (cursorRow >= buffer.yDisp() && cursorRow < buffer.yDisp() + buffer.rows())
                return std::nullopt;
            return buffer.yBase();
        },
        "ensureCaretIsVisible()");
    if (row)
        scrollTo(*row, true);
}

// --- Scrollback ------------------------------------------------------------------------------------

void TerminalView::changeScrollback(std::optional<int> lines)
{
    withTerminal(
        [lines](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.changeScrollback(lines);
        },
        "changeScrollback(_:)");
    setMailboxUpdateScroller();
    requestRedraw();
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
        delegate->scrolled(*this, scrollPosition());
    requestRedraw();
}

void TerminalView::clearScrollback()
{
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            // The normal screen's history goes, whichever screen is shown.
            terminal.clearScrollback();
        },
        "clearScrollback()");
    setMailboxUpdateScroller();
    requestRedraw();
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
        delegate->scrolled(*this, scrollPosition());
    requestRedraw();
}

} // namespace kestrovan
