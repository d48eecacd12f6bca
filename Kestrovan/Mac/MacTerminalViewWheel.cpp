// Scroll-wheel routing: each event goes one of three ways, decided once under the terminal lock:
// wheel reports to a program that tracks the mouse, cursor-up and -down keys to a full-screen
// program on the alternate screen that asked for them (mode 1007), or the view's own scrollback,
// with the overlay scroller shown. Shift (unless the program captures it) or Alt keep the wheel
// for the view: the scrollback on the normal screen, nothing on the alternate one.
//
// A wheel's notch moves three lines of the scrollback or sends three cursor keys, and is one report
// to a program tracking the mouse. Touchpad points and the fractions of a notch that
// high-resolution wheels send are gathered into whole lines, so a notch moves the same however
// many events carry it. Reports and keys are rate-limited by the view's wheel budget (6 at once,
// 100 a second); local scrolling is not.
// With KESTROVAN_MOUSE_LOG=1 every decision is logged on standard error.

#include "Kestrovan/Mac/MacTerminalView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrovan {

using platform::ModifierFlags;

namespace {

/// At most this many reports or keys leave for one event.
constexpr int maximumReportsPerEvent = 6;

bool logsMouseInput()
{
    static const bool enabled = [] {
        const char* value = std::getenv("KESTROVAN_MOUSE_LOG");
        return value && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

/// One log line: the event, the remainder after it, the line count and what was done.
void logScroll(const platform::ScrollEvent& event, double remainder, int lines, const char* what)
{
    if (!logsMouseInput())
        return;
    std::fprintf(
        stderr,
        "Kestrovan mouse scroll: deltaY=%g scrollingDeltaY=%g precise=%s accumulated=%g lines=%d %s\n",
        -event.scrollingDeltaY, event.scrollingDeltaY, event.hasPreciseScrollingDeltas ? "true" : "false",
        remainder, lines, what);
}

} // namespace

void MacTerminalView::setScrollSensitivity(double value)
{
    // Below 0.05 the wheel would all but stop; not a number is taken as that floor.
    scrollSensitivity_ = std::isnan(value) ? 0.05 : std::max(value, 0.05);
}

void MacTerminalView::scrollWheel(const platform::ScrollEvent& event)
{
    // Horizontal scrolling is not used; a broken device's non-finite delta moves nothing.
    const double deltaY = event.scrollingDeltaY;
    const std::optional<platform::Size> cell = cellDimension();
    if (deltaY == 0 || !std::isfinite(deltaY) || !cell || !(cell->height > 0) || !terminal() ||
        uiShutdownState_ != UIShutdownState::active)
        return;

    struct Decision
    {
        WheelRoute route = WheelRoute::none;
        int lineCount = 0;
    };
    const Decision decision = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const bool alternate = terminal.isCurrentBufferAlternate();
            Decision result;
            result.lineCount = terminal.buffer().lines().count();
            if (shiftBypassesMouseReportingLocked(terminal, event.modifierFlags) ||
                event.modifierFlags.has(ModifierFlags::option))
                result.route = alternate ? WheelRoute::none : WheelRoute::localScrollback;
            else if (allowMouseReporting && terminal.mouseMode() != MouseMode::off)
                result.route = WheelRoute::mouse;
            else if (alternate)
                result.route = terminal.alternateScrollMode() ? WheelRoute::cursorKeys : WheelRoute::none;
            else
                result.route = WheelRoute::localScrollback;
            return result;
        },
        "scrollWheel(with:)");
    if (decision.route == WheelRoute::none) {
        scrollAccumulator_.reset();
        logScroll(event, 0, 0, "route=none");
        return;
    }

    // Touchpads scroll by points, a cell's height to a line. Wheels scroll by notches: a notch is
    // one report for a program tracking the mouse, and several lines (or cursor keys) otherwise,
    // so a long file does not crawl by one line a notch.
    const bool precise = event.hasPreciseScrollingDeltas;
    const double unit = precise ? cell->height : 1.0;
    const double perNotch = precise || decision.route == WheelRoute::mouse ? 1.0 : double(linesPerWheelNotch);
    const int lines = scrollAccumulator_.takeWholeLines(deltaY * scrollSensitivity_ * perNotch, unit,
                                                        decision.route, decision.lineCount);
    if (lines == 0) {
        logScroll(event, scrollAccumulator_.remainder, 0, wheelRouteName(decision.route));
        return;
    }
    const bool up = lines > 0;
    const int count = std::abs(lines);
    const uint64_t now = timers().uptimeNanoseconds();

    switch (decision.route) {
    case WheelRoute::cursorKeys: {
        logScroll(event, scrollAccumulator_.remainder, lines,
                  up ? "route=alternate key=up" : "route=alternate key=down");
        const int granted = wheelReportBudget.grant(std::min(count, maximumReportsPerEvent), now);
        for (int key = 0; key < granted; ++key)
            up ? sendKeyUp() : sendKeyDown();
        return;
    }
    case WheelRoute::localScrollback: {
        logScroll(event, scrollAccumulator_.remainder, lines,
                  up ? "route=scrollback direction=up" : "route=scrollback direction=down");
        const int target = withTerminal(
            [up, count](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                const int64_t yDisp = terminal.buffer().yDisp();
                const int64_t newest = int64_t(terminal.buffer().lines().count()) - terminal.rows();
                const int64_t top = up ? yDisp - count : std::min<int64_t>(yDisp + count, newest);
                return static_cast<int>(std::max<int64_t>(top, 0));
            },
            up ? "scrollUp(lines:)" : "scrollDown(lines:)");
        scrollTo(target, true);
        showOverlayScroller();
        return;
    }
    case WheelRoute::mouse: {
        logScroll(event, scrollAccumulator_.remainder, lines,
                  up ? "route=mouse button=4" : "route=mouse button=5");
        // A touchpad's lines and a wheel's notches each make a report (several notches arrive in
        // one event when the toolkit merges them).
        const int granted = wheelReportBudget.grant(std::min(count, maximumReportsPerEvent), now);
        platform::MouseEvent pointer;
        pointer.location = event.location;
        pointer.modifierFlags = event.modifierFlags;
        for (int report = 0; report < granted; ++report)
            sendPointerReport(TerminalMouseAction::wheel,
                              up ? TerminalMouseButton::wheelUp : TerminalMouseButton::wheelDown, pointer);
        return;
    }
    case WheelRoute::none:
        return;
    }
}

} // namespace kestrovan
