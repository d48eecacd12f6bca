// Blinking text: cells with the blink style are hidden on every other phase of a 0.7-second
// timer. The timer runs only while blinking cells are visible, the view is in a window, that
// window is active and the user has not asked for less motion; otherwise blinking text is shown
// steadily and nothing wakes. Each phase change redraws only the rows that hold blinking cells.
//
// The blinking rows are buffer rows (ring indexes, the basis of the display offset `yDisp`), as
// the last prepared frame left them in the mailbox or as found here on the viewport.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Attribute.h"
#include "Kestrovan/CellArena.h"

#include <algorithm>
#include <chrono>

namespace kestrovan {

void TerminalView::setupTextBlinking()
{
    if (textBlinkObserving_)
        return;
    // The view hears of the window's activity and of the motion setting from its host
    // (`windowActiveChanged`, `setReduceMotion`) from now on.
    textBlinkObserving_ = true;
    textBlinkApplicationActive_ = !host_ || host_->isWindowActive();
    updateTextBlinkLifecycle(std::nullopt);
}

void TerminalView::stopTextBlinking()
{
    if (textBlinkTimer_) {
        textBlinkTimer_->invalidate();
        textBlinkTimer_.reset();
    }
    textBlinkVisible_ = true;
    textBlinkObserving_ = false;
}

void TerminalView::setReduceMotion(bool value)
{
    reduceMotion_ = value;
    updateTextBlinkLifecycle(std::nullopt);
}

void TerminalView::updateTextBlinkLifecycle(std::optional<std::vector<int64_t>> blinkRows)
{
    const bool rowsGiven = blinkRows.has_value();
    std::vector<int64_t> rows;
    if (blinkRows)
        rows = std::move(*blinkRows);
    else if (terminal_)
        rows = withTerminal([this](Terminal&) { return visibleBlinkRowsLocked(); }, "visibleBlinkRows()");

    const bool inWindow = host_ && host_->hasWindow();
    if (inWindow && textBlinkApplicationActive_ && !reduceMotion_ && !rows.empty()) {
        if (!textBlinkTimer_) {
            textBlinkVisible_ = true;
            std::weak_ptr<TerminalView> weak = weak_from_this();
            textBlinkTimer_ =
                timers_->schedule(std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(
                                      std::chrono::duration<double>(textBlinkInterval)),
                                  true, [weak] {
                                      if (const std::shared_ptr<TerminalView> view = weak.lock())
                                          view->applyTextBlinkTick();
                                  });
        }
        return;
    }
    if (textBlinkTimer_) {
        textBlinkTimer_->invalidate();
        textBlinkTimer_.reset();
    }
    // Stopped blinking always leaves the text shown. A caller that gave the rows (the frame)
    // redraws them itself.
    if (!textBlinkVisible_) {
        textBlinkVisible_ = true;
        if (!rowsGiven)
            invalidateTextBlinkRows(rows);
    }
}

void TerminalView::applyTextBlinkTick()
{
    textBlinkVisible_ = !textBlinkVisible_;
    invalidateTextBlinkRows(mailboxBlinkRows());
}

void TerminalView::invalidateTextBlinkRows(const std::vector<int64_t>& rows)
{
    if (!terminal_)
        return;
    withTerminal(
        [&rows](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const Buffer& buffer = terminal.buffer();
            const int64_t top = buffer.yDisp();
            const int64_t lineCount = buffer.lines().count();
            for (const int64_t row : rows) {
                // The rows were found at an earlier frame: the viewport or the buffer may have
                // changed since. A row is marked only where it still exists and not below the
                // viewport, so no range reaches past the buffer or the screen: a row above the
                // viewport marks only its line, and a row below is marked by the scroll that
                // brings it into view.
                const int64_t screenRow = row - top;
                if (row >= 0 && row < lineCount && screenRow < terminal.rows())
                    terminal.updateRange(static_cast<int>(screenRow));
            }
        },
        "invalidateTextBlinkRows(_:)");
    requestRedraw();
}

std::vector<int64_t> TerminalView::visibleBlinkRowsLocked()
{
    Terminal& terminal = requireTerminal("visibleBlinkRowsLocked(_:)");
    terminal.terminalLock().preconditionLocked();
    std::vector<int64_t> found;
    const Buffer& buffer = terminal.buffer();
    const int first = std::max(buffer.yDisp(), 0);
    const int end = std::min(buffer.yDisp() + terminal.rows(), buffer.lines().count());
    for (int row = first; row < end; ++row) {
        // A slot never written holds no blinking cell; reading it must not create a line.
        const CircularBufferLineList::ConstLinePointer& line = buffer.lines().lineIfPresent(row);
        if (!line)
            continue;
        const CellArena& arena = *line->arena();
        const int columns = std::min(line->count(), terminal.cols());
        for (int column = 0; column < columns; ++column) {
            if (arena.attribute(line->packed(column)).style.contains(CharacterStyle::blink)) {
                found.push_back(row);
                break;
            }
        }
    }
    return found;
}

} // namespace kestrovan
