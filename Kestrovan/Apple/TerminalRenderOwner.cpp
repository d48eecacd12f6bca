#include "Kestrovan/Apple/TerminalRenderOwner.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalLock.h"

#include <algorithm>

namespace kestrovan {

TerminalRenderOwner::TerminalRenderOwner() = default;

TerminalRenderOwner::TerminalRenderOwner(
    std::shared_ptr<SynchronizedOutputWatchdog::TimerSource> watchdogTimer)
    : watchdog_(std::move(watchdogTimer))
{}

TerminalRenderOwner::~TerminalRenderOwner()
{
    watchdog_.invalidate();
}

std::shared_ptr<const TerminalRenderOwner::Session> TerminalRenderOwner::currentSession() const
{
    // The session lock is held only for the copy; everything after works on the copy.
    return session_.withLock([](const std::shared_ptr<const Session>& session) { return session; });
}

// --- Feed transactions -----------------------------------------------------------------------------

std::optional<bool> TerminalRenderOwner::feed(std::span<const uint8_t> borrowedBytes)
{
    return feedTransaction(borrowedBytes);
}

std::optional<bool> TerminalRenderOwner::feed(std::string_view text)
{
    return feedTransaction(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<bool> TerminalRenderOwner::feedTransaction(std::span<const uint8_t> bytes)
{
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return std::nullopt;
    Terminal& terminal = *session->terminal;
    bool active = false;
    double timeoutSeconds = 0;
    std::optional<PendingSynchronizedOutputWatchdogUpdate> update;
    {
        TerminalLockGuard guard(terminal.terminalLock());
        // Output may move the lines a match or a continuing search names. The search's line cache
        // stays: each entry checks its lines when it is read, so only changed lines are read again.
        session->search->invalidateForOutput();
        const std::optional<SelectionService::SelectedContentSnapshot> selected =
            session->selection->captureSelectedContent();
        // The terminal's feed runs the end-of-parse step: at depth zero it delivers a pending
        // scroll notification and the last watchdog change, which our handler stores below.
        terminal.feed(bytes);
        if (selected)
            session->selection->clearIfSelectedContentChanged(*selected);
        active = terminal.synchronizedOutputActive();
        timeoutSeconds = terminal.synchronizedOutputTimeoutSeconds();
        update =
            pendingUpdate_->withLock([](std::optional<PendingSynchronizedOutputWatchdogUpdate>& pending) {
                return std::exchange(pending, {});
            });
    }
    // The watchdog's timer takes the terminal lock; arming it only now keeps its lock out of ours.
    if (update)
        watchdog_.update(update->active, update->generation, timeoutSeconds);
    return active;
}

ViewTerminal::SynchronizedOutputWatchdogHandler TerminalRenderOwner::synchronizedOutputWatchdogHandler() const
{
    // Several changes in one parse leave only the last pair: the watchdog is armed once per feed.
    std::shared_ptr<PendingUpdateBox> box = pendingUpdate_;
    return [box](bool active, uint64_t generation) {
        box->withLock([&](std::optional<PendingSynchronizedOutputWatchdogUpdate>& pending) {
            pending = PendingSynchronizedOutputWatchdogUpdate{active, generation};
        });
    };
}

// --- Session ---------------------------------------------------------------------------------------

void TerminalRenderOwner::attach(std::shared_ptr<Terminal> terminal,
                                 std::shared_ptr<SelectionService> selection,
                                 std::shared_ptr<SearchService> search)
{
    // Every session starts with an empty snapshot: its first refresh copies every row.
    auto next = std::make_shared<const Session>(
        Session{std::move(terminal), std::move(selection), std::move(search),
                std::make_shared<TerminalSnapshot>(), std::make_shared<TerminalChangeReader>()});
    const std::shared_ptr<const Session> previous = session_.withLock(
        [&](std::shared_ptr<const Session>& session) { return std::exchange(session, next); });
    // A request another terminal raised must not arm this one's watchdog.
    if (!previous || previous->terminal != next->terminal)
        pendingUpdate_->withLock(
            [](std::optional<PendingSynchronizedOutputWatchdogUpdate>& pending) { pending.reset(); });
    watchdog_.attach(next->terminal);
    publishVisibility(*next);
}

void TerminalRenderOwner::publishVisibility(const Session& session)
{
    const TerminalVisibility visibility = publishedVisibility();
    TerminalLockGuard guard(session.terminal->terminalLock());
    // The terminal reports a change itself when the program asked for visibility reports.
    session.terminal->setTerminalVisibility(visibility);
}

void TerminalRenderOwner::setTerminalVisibility(TerminalVisibility visibility)
{
    publishedVisibility_.withLock([&](TerminalVisibility& published) { published = visibility; });
    if (const std::shared_ptr<const Session> session = currentSession())
        publishVisibility(*session);
}

TerminalVisibility TerminalRenderOwner::publishedVisibility() const
{
    return publishedVisibility_.withLock([](const TerminalVisibility& published) { return published; });
}

std::optional<PendingSynchronizedOutputWatchdogUpdate>
TerminalRenderOwner::pendingSynchronizedOutputWatchdogUpdate() const
{
    return pendingUpdate_->withLock(
        [](const std::optional<PendingSynchronizedOutputWatchdogUpdate>& pending) { return pending; });
}

void TerminalRenderOwner::registerUserInput(std::span<const uint8_t> bytes)
{
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return;
    Terminal& terminal = *session->terminal;
    // The lock is not re-entrant; taking it below would otherwise deadlock silently.
    if (terminal.terminalLock().isHeldByCurrentThread())
        fatal("TerminalRenderOwner.registerUserInput: called with the terminal lock held");
    TerminalLockGuard guard(terminal.terminalLock());
    terminal.registerUserInput(bytes);
}

// --- Locked accessors ------------------------------------------------------------------------------

TerminalDimensions TerminalRenderOwner::dimensions()
{
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return {};
    const Terminal& terminal = *session->terminal;
    TerminalLockGuard guard(terminal.terminalLock());
    return TerminalDimensions{terminal.cols(), terminal.rows()};
}

std::vector<std::string> TerminalRenderOwner::visibleRowsText(int firstRow, int endRow)
{
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return {};
    const Terminal& terminal = *session->terminal;
    TerminalLockGuard guard(terminal.terminalLock());
    const int lower = std::clamp(firstRow, 0, terminal.rows());
    const int upper = std::clamp(endRow, 0, terminal.rows());
    std::vector<std::string> texts;
    const Buffer& buffer = terminal.buffer();
    for (int row = lower; row < upper; ++row) {
        const int line = buffer.yDisp() + row;
        if (line < 0 || line >= buffer.lines().count())
            continue;
        texts.push_back(displayText(buffer, line, terminal.cols()));
    }
    return texts;
}

TerminalViewStateSnapshot TerminalRenderOwner::stateSnapshot()
{
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return {};
    const Terminal& terminal = *session->terminal;
    TerminalLockGuard guard(terminal.terminalLock());
    const Buffer& buffer = terminal.buffer();
    TerminalViewStateSnapshot snapshot;
    snapshot.dimensions = TerminalDimensions{terminal.cols(), terminal.rows()};
    snapshot.cursor = Position(buffer.x(), buffer.y());
    snapshot.viewportRow = buffer.yDisp();
    snapshot.bracketedPasteMode = terminal.mode(TerminalMode::bracketedPasteMode);
    snapshot.currentBidiState = terminal.currentBidiState();
    snapshot.bidiArrowKeySwap = terminal.mode(TerminalMode::bidiArrowKeySwap);
    snapshot.cursorStyle = terminal.options().cursorStyle;
    snapshot.ansi256PaletteStrategy = terminal.options().ansi256PaletteStrategy;
    for (int row = 0; row < terminal.rows(); ++row) {
        const int index = buffer.yDisp() + row;
        if (index < 0 || index >= buffer.lines().count())
            continue;
        const BufferLine* line = buffer.lines().lineIfPresent(index).get();
        TerminalVisibleRowSnapshot visible;
        visible.row = row;
        visible.text = displayText(buffer, index, terminal.cols());
        if (line) {
            visible.isWrapped = line->isWrapped();
            visible.bidiState = line->bidiState();
            visible.cellWidths.reserve(static_cast<size_t>(std::max(terminal.cols(), 0)));
            for (int column = 0; column < terminal.cols() && line->count() > 0; ++column)
                visible.cellWidths.push_back(line->getWidth(std::min(column, line->count() - 1)));
        } else {
            // A slot never written shows a blank line of single cells.
            visible.cellWidths.assign(static_cast<size_t>(std::max(terminal.cols(), 0)), 1);
        }
        snapshot.visibleRows.push_back(std::move(visible));
    }
    return snapshot;
}

void TerminalRenderOwner::updateColorScheme(Terminal::TerminalColorScheme scheme, bool notify)
{
    if (const std::shared_ptr<const Session> session = currentSession()) {
        TerminalLockGuard guard(session->terminal->terminalLock());
        session->terminal->updateColorScheme(scheme, notify);
    }
}

void TerminalRenderOwner::notifyColorScheme()
{
    if (const std::shared_ptr<const Session> session = currentSession()) {
        TerminalLockGuard guard(session->terminal->terminalLock());
        session->terminal->notifyColorScheme();
    }
}

Ansi256PaletteStrategy TerminalRenderOwner::ansi256PaletteStrategy()
{
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return Ansi256PaletteStrategy::base16Lab;
    TerminalLockGuard guard(session->terminal->terminalLock());
    return session->terminal->options().ansi256PaletteStrategy;
}

void TerminalRenderOwner::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy)
{
    if (const std::shared_ptr<const Session> session = currentSession()) {
        TerminalLockGuard guard(session->terminal->terminalLock());
        // The terminal rebuilds its palette (and tells its host) only when the strategy changes;
        // the screen is redrawn either way.
        session->terminal->setAnsi256PaletteStrategy(strategy);
        session->terminal->updateFullScreen();
    }
}

void TerminalRenderOwner::setMaximumBidiParagraphRows(int rows)
{
    if (const std::shared_ptr<const Session> session = currentSession()) {
        Terminal& terminal = *session->terminal;
        TerminalLockGuard guard(terminal.terminalLock());
        TerminalOptions options = terminal.options();
        options.maximumBidiParagraphRows = std::max(rows, 1);
        terminal.setOptions(options);
        terminal.updateFullScreen();
    }
}

} // namespace kestrovan
