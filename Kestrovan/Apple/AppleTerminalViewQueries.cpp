// The small public surface through which a host reads the terminal behind the view and changes a
// few of its settings: jumps between shell prompts, the two resets, cursor style, palette strategy
// and bidi paragraph limit, the kitty keyboard flags, plain snapshots, and the find operations
// over the search service.
//
// Each operation takes the terminal lock for its work and answers a neutral value before the view
// has a terminal.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalTextExtraction.h"

namespace kestrovan {

namespace {

/// True when a prompt group starts at `row`: its line holds a prompt's first mark (OSC 133 A), or
/// it is the active prompt's start row and holds an opening mark. A row that only continues a
/// prompt (a secondary prompt of the same group) starts none.
bool startsPromptGroup(const Buffer& buffer, int row, std::optional<int> activeStart)
{
    const CircularBufferLineList::ConstLinePointer& line = buffer.lines().lineIfPresent(row);
    if (!line)
        return false;
    for (const SemanticMark& mark : line->semanticMarks()) {
        if (mark.kind == SemanticPromptKind::initial)
            return true;
        if (mark.kind == SemanticPromptKind::secondary && activeStart == row)
            return true;
    }
    return false;
}

} // namespace

// --- Prompt navigation ---------------------------------------------------------------------------

std::optional<int> TerminalView::previousSemanticPromptRow()
{
    if (!terminal_)
        return std::nullopt;
    return withTerminal(
        [](Terminal& terminal) -> std::optional<int> {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.isCurrentBufferAlternate())
                return std::nullopt;
            const Buffer& buffer = terminal.buffer();
            if (buffer.yDisp() < 1)
                return std::nullopt;
            const std::optional<int> activeStart = buffer.findSemanticPromptStartRow();
            for (int row = buffer.yDisp() - 1; row >= 0; --row) {
                if (row >= buffer.lines().count())
                    continue;
                if (startsPromptGroup(buffer, row, activeStart))
                    return row;
            }
            return std::nullopt;
        },
        "previousSemanticPromptRow()");
}

std::optional<int> TerminalView::nextSemanticPromptRow()
{
    if (!terminal_)
        return std::nullopt;
    return withTerminal(
        [](Terminal& terminal) -> std::optional<int> {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.isCurrentBufferAlternate())
                return std::nullopt;
            const Buffer& buffer = terminal.buffer();
            const std::optional<int> activeStart = buffer.findSemanticPromptStartRow();
            for (int row = buffer.yDisp() + 1; row < buffer.lines().count(); ++row) {
                if (startsPromptGroup(buffer, row, activeStart))
                    return row;
            }
            return std::nullopt;
        },
        "nextSemanticPromptRow()");
}

// --- Resets and settings -------------------------------------------------------------------------

void TerminalView::softReset()
{
    // Fed like program output, so the reset is parsed in order with it.
    feedSender_->feed(std::string_view("\x1b[!p"));
}

void TerminalView::resetToInitialState()
{
    feedSender_->feed(std::string_view("\x1b"
                                       "c"));
}

void TerminalView::setCursorStyle(CursorStyle style)
{
    // The terminal tells the view of the new style (`cursorStyleChanged`), which restyles the caret.
    if (terminal_)
        withTerminal(
            [style](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                terminal.setCursorStyle(style);
            },
            "setCursorStyle(_:)");
    requestRedraw();
}

Ansi256PaletteStrategy TerminalView::ansi256PaletteStrategy()
{
    return renderOwner_->ansi256PaletteStrategy();
}

void TerminalView::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy)
{
    renderOwner_->setAnsi256PaletteStrategy(strategy);
    requestRedraw();
}

int TerminalView::maximumBidiParagraphRows()
{
    if (!terminal_)
        return 1;
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.options().maximumBidiParagraphRows;
        },
        "maximumBidiParagraphRows");
}

void TerminalView::setMaximumBidiParagraphRows(int rows)
{
    renderOwner_->setMaximumBidiParagraphRows(rows);
    requestRedraw();
}

KittyKeyboardFlags TerminalView::keyboardEnhancementFlags()
{
    if (!terminal_)
        return KittyKeyboardFlags();
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.keyboardEnhancementFlags();
        },
        "keyboardEnhancementFlags");
}

// --- Snapshots -----------------------------------------------------------------------------------

// The snapshots are plain values taken in one go under the lock, for hosts that read the
// terminal without touching it.

std::optional<TerminalInputStateSnapshot> TerminalView::terminalInputStateSnapshot()
{
    if (!terminal_)
        return std::nullopt;
    recordLockCaller("terminalInputStateSnapshot()");
    TerminalLockGuard guard(terminal_->terminalLock());
    return terminal_->inputStateSnapshotLocked();
}

std::optional<TerminalContentSnapshot>
TerminalView::terminalContentSnapshot(const TerminalContentRegion& region, Terminal::BufferKind buffer)
{
    if (!terminal_)
        return std::nullopt;
    recordLockCaller("terminalContentSnapshot(region:buffer:)");
    TerminalLockGuard guard(terminal_->terminalLock());
    return terminal_->contentSnapshotLocked(region, buffer);
}

std::optional<std::vector<uint8_t>> TerminalView::getBufferAsData(Terminal::BufferKind kind,
                                                                  Terminal::TextEncoding encoding)
{
    if (!terminal_)
        return std::nullopt;
    return withTerminal(
        [kind, encoding](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return kestrovan::getBufferAsData(terminal, kind, encoding);
        },
        "getBufferAsData(kind:encoding:)");
}

TerminalViewStateSnapshot TerminalView::terminalStateSnapshot()
{
    return renderOwner_->stateSnapshot();
}

std::vector<std::string> TerminalView::visibleRowsText(int firstRow, int endRow)
{
    return renderOwner_->visibleRowsText(firstRow, endRow);
}

void TerminalView::updateColorScheme(Terminal::TerminalColorScheme scheme, bool notify)
{
    renderOwner_->updateColorScheme(scheme, notify);
}

void TerminalView::notifyColorScheme()
{
    renderOwner_->notifyColorScheme();
}

// --- Search --------------------------------------------------------------------------------------

bool TerminalView::findStep(std::string_view term, const SearchOptions& options, bool scrollToResult,
                            bool forward, const char* caller)
{
    if (!terminal_)
        return false;
    // The step starts from the live selection, so a selection the user made between two steps is
    // where the next one begins; it selects the match, or drops the selection when there is none.
    const std::optional<SearchResult> result = withTerminal(
        [&](Terminal&) -> std::optional<SearchResult> {
            if (!search_ || !selection_)
                return std::nullopt;
            return search_->step(*selection_, term, options, forward);
        },
        caller);
    if (!result)
        return false;
    if (scrollToResult) {
        const std::optional<int64_t> top =
            withTerminal([this, &result](Terminal&) { return search_->revealTopRow(result->row); },
                         "scrollToReveal(row:)");
        if (top)
            scrollTo(static_cast<int>(*top), true);
    }
    return true;
}

bool TerminalView::findNext(std::string_view term, const SearchOptions& options, bool scrollToResult)
{
    return findStep(term, options, scrollToResult, true, "findNext(_:options:scrollToResult:)");
}

bool TerminalView::findPrevious(std::string_view term, const SearchOptions& options, bool scrollToResult)
{
    return findStep(term, options, scrollToResult, false, "findPrevious(_:options:scrollToResult:)");
}

void TerminalView::clearSearch()
{
    // Forgets the term as well, so the next step starts from the selection (or the top) again;
    // the lines read so far stay cached for the next term.
    if (!terminal_)
        return;
    withTerminal(
        [this](Terminal&) {
            if (search_)
                search_->forget();
            if (selection_ && selection_->active())
                selection_->selectNone();
        },
        "clearSearch()");
}

std::pair<int, int> TerminalView::searchMatchSummary(std::string_view term, const SearchOptions& options,
                                                     int limit)
{
    requireMainThread("TerminalView.searchMatchSummary");
    if (!terminal_)
        return {0, 0};
    return withTerminal(
        [&](Terminal&) -> std::pair<int, int> {
            if (!search_)
                return {0, 0};
            return search_->matchSummary(term, options, limit);
        },
        "searchMatchSummary(_:options:limit:)");
}

} // namespace kestrovan
