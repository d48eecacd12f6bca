// The emulator's byte streams in and out: `feed` hands the child's output to the parser and
// delivers the notifications deferred while parsing; the `sendResponse` family sends replies to
// the child through the delegate. The update range, the rows a renderer must redraw, is kept here
// (marking one row, `updateRange`, is inline in Terminal.h: the print path does it on every run).
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <limits>
#include <tuple>

namespace kestrovan {

// The parse loop for the terminal is instantiated with the handlers it calls, in
// TerminalDispatch.cpp.
extern template void EscapeSequenceParser::parseBorrowedDirect<Terminal>(std::span<const uint8_t>, Terminal&);

void Terminal::feed(std::span<const uint8_t> bytes)
{
    // Output decides which misuse reports the buffers print; with `silentLog` none reach stdout.
    const DiagnosticSilence silence(silentLog_);
    ++parseDepth_;
    parser_->parseBorrowedDirect(bytes, *this);
    --parseDepth_;
    // A feed started from inside a handler or a delegate callback leaves the notifications to the
    // outermost feed, which delivers each of them once however often it was raised.
    if (parseDepth_ != 0)
        return;
    // Between feeds the buffers are always at the grid's size: hosts read them then.
    endColumnSwitchRun();
    if (hasPendingScrollNotification_) {
        hasPendingScrollNotification_ = false;
        scrollPositionChanged();
    }
    if (synchronizedOutput_.takeWatchdogDue())
        applySynchronizedOutputWatchdog(synchronizedOutput_.active(), synchronizedOutput_.generation());
}

void Terminal::feed(std::string_view text)
{
    feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// --- Replies -------------------------------------------------------------------------------------

void Terminal::sendBytes(std::span<const uint8_t> bytes)
{
    // No queueing, splitting or size limit here: the host's writer queue does that.
    if (auto host = delegate())
        host->send(*this, bytes);
}

void Terminal::sendReplyBytes(std::span<const uint8_t> bytes)
{
    // Replies go their own way, so the host can bound them without ever dropping user input.
    if (auto host = delegate())
        host->sendReply(*this, bytes);
}

void Terminal::sendResponse(std::string_view text)
{
    sendReplyBytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Terminal::sendResponse(std::span<const uint8_t> bytes)
{
    sendReplyBytes(bytes);
}

void Terminal::sendResponse(std::span<const uint8_t> bytes, std::string_view text)
{
    std::vector<uint8_t> out(bytes.begin(), bytes.end());
    out.insert(out.end(), text.begin(), text.end());
    sendReplyBytes(out);
}

void Terminal::sendResponse(std::span<const uint8_t> first, std::span<const uint8_t> second)
{
    std::vector<uint8_t> out(first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    sendReplyBytes(out);
}

void Terminal::sendResponse(std::span<const uint8_t> introducer, std::string_view body,
                            std::span<const uint8_t> end)
{
    std::vector<uint8_t> out(introducer.begin(), introducer.end());
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), end.begin(), end.end());
    sendReplyBytes(out);
}

void Terminal::logInfo(std::string_view message) const
{
    if (silentLog_)
        return;
    std::string line = "Info: ";
    line += message;
    printDiagnostic(line);
}

// --- Update range --------------------------------------------------------------------------------

void Terminal::refresh(int startRow, int endRow)
{
    updateRange(startRow);
    updateRange(endRow);
}

void Terminal::updateFullScreen()
{
    const ChangedRows whole = wholeScreenChange();
    std::tie(refreshStart_, refreshEnd_) = *whole.screen;
    std::tie(scrollInvariantRefreshStart_, scrollInvariantRefreshEnd_) = *whole.absolute;
}

void Terminal::clearUpdateRange()
{
    changeHistory_.seal(ChangedRows{getUpdateRange(), getScrollInvariantUpdateRange()});
    refreshStart_ = std::numeric_limits<int>::max();
    refreshEnd_ = -1;
    scrollInvariantRefreshStart_ = std::numeric_limits<int>::max();
    scrollInvariantRefreshEnd_ = -1;
}

ChangedRows Terminal::takeChangesSince(std::optional<uint64_t>& seen)
{
    clearUpdateRange();
    const std::optional<ChangedRows> changes = seen ? changeHistory_.since(*seen) : std::nullopt;
    seen = changeHistory_.sealCount();
    return changes ? *changes : wholeScreenChange();
}

ChangedRows Terminal::rowChange(int y) const
{
    ChangedRows out;
    const int absolute = _buffer->settledYDisp() + y;
    if (absolute >= 0)
        out.absolute = std::pair{absolute, absolute};
    if (y >= 0)
        out.screen = std::pair{y, y};
    return out;
}

// The whole screen ends at `_rows`, one past the last row: readers have always been told so.
ChangedRows Terminal::wholeScreenChange() const
{
    const int top = _buffer->settledYDisp();
    return ChangedRows{std::pair{0, _rows}, std::pair{top, top + _rows}};
}

std::optional<std::pair<int, int>> Terminal::getUpdateRange() const
{
    if (refreshStart_ == std::numeric_limits<int>::max() && refreshEnd_ == -1)
        return std::nullopt;
    return std::pair{refreshStart_, refreshEnd_};
}

std::optional<std::pair<int, int>> Terminal::getScrollInvariantUpdateRange() const
{
    if (scrollInvariantRefreshStart_ == std::numeric_limits<int>::max() && scrollInvariantRefreshEnd_ == -1)
        return std::nullopt;
    return std::pair{scrollInvariantRefreshStart_, scrollInvariantRefreshEnd_};
}

} // namespace kestrovan
