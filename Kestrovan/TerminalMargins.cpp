// The left and right margins (DECSLRM), the scroll region (DECSTBM) and the cursor style
// (DECSCUSR).
//
// Margins and region belong to the active buffer; the cursor style lives in the terminal's copy of
// its options, where the host reads it. A region that is not at least two rows high is refused,
// but DECSTBM homes the cursor whether or not it took the new region.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// The cursor style a DECSCUSR parameter selects; absent for values that are ignored.
std::optional<CursorStyle> cursorStyleForParameter(int64_t value, CursorStyle defaultStyle)
{
    switch (value) {
    case 0:
        return defaultStyle;
    case 1:
        return CursorStyle::blinkBlock;
    case 2:
        return CursorStyle::steadyBlock;
    case 3:
        return CursorStyle::blinkUnderline;
    case 4:
        return CursorStyle::steadyUnderline;
    case 5:
        return CursorStyle::blinkBar;
    case 6:
        return CursorStyle::steadyBar;
    default:
        return std::nullopt;
    }
}

/// The region, as first and last screen row, that DECSTBM's parameters ask for on a screen of
/// `rows` rows; false for one the terminal refuses. A bottom of 0 or past the screen means the
/// last row, and a region must span at least two rows.
[[gnu::always_inline]] inline bool scrollRegionFor(const CsiParameters& pars, int rows, int& top, int& bottom)
{
    const int64_t first = std::max<int64_t>(pars.count > 0 ? pars[0] - 1 : 0, 0);
    int64_t last = rows;
    if (pars.count >= 2 && pars[1] != 0 && pars[1] <= rows)
        last = pars[1];
    last -= 1;
    if (first >= last)
        return false;
    top = static_cast<int>(first);
    bottom = static_cast<int>(last);
    return true;
}

} // namespace

void Terminal::cmdSetMargins(const CsiParameters& pars, Collect collect)
{
    if (!collect.empty())
        return;
    Buffer& active = *_buffer;
    const int64_t left = std::max<int64_t>(pars.count > 0 ? pars[0] - 1 : 0, 0);
    // A right margin of 0 (also what "CSI Pl ; s" carries, since an empty parameter reads as 0)
    // means the last column, as a bottom of 0 does for DECSTBM: otherwise it would squeeze the
    // margins into column 0.
    int64_t right = _cols - 1;
    if (pars.count >= 2 && pars[1] > 0)
        right = std::min<int64_t>(pars[1] - 1, _cols - 1);
    active.setMarginLeft(static_cast<int>(std::min(left, right)));
    active.setMarginRight(static_cast<int>(right));
}

void Terminal::cmdSetScrollRegion(const CsiParameters& pars, Collect collect)
{
    if (!collect.empty())
        return;
    Buffer& active = *_buffer;
    int top = 0;
    int bottom = 0;
    if (scrollRegionFor(pars, _rows, top, bottom)) {
        active.setScrollTop(top);
        active.setScrollBottom(bottom);
    }
    // Home, relative to the region when origin mode is on. Without it, `setCursor(0, 0)` in
    // short: pagers and editors set a region around every scroll of part of the screen.
    if (modes_[TerminalMode::originMode]) {
        setCursor(0, 0);
        return;
    }
    const int oldY = active.y();
    active.homeCursor();
    updateRanges(0, oldY);
}

// Here rather than with the other dispatches so that the region's setting is inlined into it.
void Terminal::dispatchScrollRegion(const CsiParameters& pars)
{
    if (columnSwitchRun_.isOpen()) [[unlikely]] {
        dispatchCsi('r', pars, {});
        return;
    }
    cmdSetScrollRegion(pars, {});
}

// The second region replaces the first wherever the terminal takes it, and the first stays where
// only it is taken. Outside origin mode both home the cursor, and the second finds it home
// already, which marks no row the first did not: one homing does for the two. In origin mode the
// home is the region's top, which each region moves.
void Terminal::dispatchScrollRegionPair(const CsiParameters& first, const CsiParameters& second)
{
    if (columnSwitchRun_.isOpen() || modes_[TerminalMode::originMode]) [[unlikely]] {
        dispatchScrollRegion(first);
        dispatchScrollRegion(second);
        return;
    }
    Buffer& active = *_buffer;
    int top = 0;
    int bottom = 0;
    if (scrollRegionFor(second, _rows, top, bottom) || scrollRegionFor(first, _rows, top, bottom)) {
        active.setScrollTop(top);
        active.setScrollBottom(bottom);
    }
    const int oldY = active.y();
    active.homeCursor();
    updateRanges(0, oldY);
}

void Terminal::cmdSetCursorStyle(const CsiParameters& pars, Collect collect)
{
    // DECSCUSR is CSI Ps SP q; other intermediates are not ours.
    if (collect.size() != 1 || collect[0] != ' ')
        return;
    const int64_t value = pars.count > 0 ? pars[0] : 0;
    if (const std::optional<CursorStyle> style = cursorStyleForParameter(value, defaultCursorStyle_))
        setCursorStyle(*style);
}

void Terminal::setCursorStyle(CursorStyle style)
{
    // The host hears of real changes only, so repeated requests do not restart its cursor blink.
    if (_options.cursorStyle == style)
        return;
    _options.cursorStyle = style;
    if (auto host = delegate())
        host->cursorStyleChanged(*this, style);
}

} // namespace kestrovan
