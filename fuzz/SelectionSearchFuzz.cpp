// Selection gestures and searches over terminal contents that arbitrary output made, driven as a
// host drives them through the viewport API and a find bar through the search service.
//
// Input layout:
//   byte 0   columns: 2 + b % 39
//   byte 1   rows: 1 + b % 10
//   byte 2   scrollback: (0, 3, 10, 60)[b % 4]
//   then operations, each one byte (its low 4 bits choose it) followed by its arguments:
//     0 feed: a length byte n, then n bytes of output, through the selection-keeping feed
//     1 selection request: action, column, row and mode bytes (any value; most are refused)
//     2 scroll: a signed byte, relative, or absolute when bit 4 of the operation byte is set
//     3 search step: an options byte (bit 0 case-sensitive, bit 1 regex, bit 2 whole word,
//       bit 3 backwards), a length byte n % 12 and n bytes of term
//     4 find all, as 3 but without a direction: checked against a fresh search service
//     5 shift, pivot or drag extension, or a block start, at a column and buffer row
//     6 resize: columns and rows bytes
//     7 read the selection: its text, its state and the match summary
//
// Checked after each operation: every match lies in the buffer, is not empty, comes in buffer
// order, and the cached search finds exactly what a search with an empty cache finds (so a line
// the output changed is never searched in its old text); every selection span lies in the row.
#include "fuzz/FuzzInput.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Portable/Viewport.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

using namespace kestrovan;

namespace {

class NullDelegate : public TerminalDelegate
{
public:
    void send(Terminal&, std::span<const uint8_t>) override {}
};

[[noreturn]] void broken(const char* what, long a, long b)
{
    std::fprintf(stderr, "invariant broken: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

SearchOptions optionsFrom(uint8_t bits)
{
    return SearchOptions{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
}

void checkMatches(Terminal& terminal, const std::vector<SearchResult>& matches)
{
    const int64_t lines = terminal.buffer().lines().count();
    const SearchResult* previous = nullptr;
    for (const SearchResult& match : matches) {
        if (match.row < 0 || match.row >= lines)
            broken("match row outside the buffer", match.row, lines);
        if (match.col < 0 || match.col > terminal.cols())
            broken("match column outside the row", match.col, terminal.cols());
        if (match.size < 1)
            broken("empty match reported", match.row, match.col);
        if (previous &&
            (match.row < previous->row || (match.row == previous->row && match.col < previous->col)))
            broken("matches out of buffer order", match.row, match.col);
        previous = &match;
    }
}

void checkSelection(Terminal& terminal, SelectionService& selection)
{
    const TerminalSelectionState state = selectionState(terminal, selection);
    for (const TerminalSelectionSpan& span : state.spans) {
        if (span.row < 0 || span.row >= terminal.rows())
            broken("span row off the screen", span.row, terminal.rows());
        if (span.startColumn < 0 || span.startColumn >= span.endColumn || span.endColumn > terminal.cols())
            broken("span columns outside the row", span.startColumn, span.endColumn);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    static const auto delegate = std::make_shared<NullDelegate>();
    FuzzInput input(data, size);
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 2 + input.byte() % 39;
    options.rows = 1 + input.byte() % 10;
    static constexpr int scrollbacks[] = {0, 3, 10, 60};
    options.scrollback = scrollbacks[input.byte() % 4];
    const auto terminal = Terminal::create(delegate, options);
    Terminal& t = *terminal;
    const auto selection = SelectionService::create(terminal, false);
    SearchService search(terminal);
    std::string lastTerm;
    SearchOptions lastOptions;

    for (int operations = 0; !input.empty() && operations < 256; ++operations) {
        const uint8_t operation = input.byte();
        switch (operation & 0x0F) {
        case 0: {
            const std::string bytes = input.bytes(input.byte());
            feedPreservingSelection(
                t, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                *selection);
            break;
        }
        case 1: {
            const uint8_t action = input.byte();
            const uint8_t column = input.byte();
            const uint8_t row = input.byte();
            const uint8_t mode = input.byte();
            updateSelection(t, *selection, action % 6, static_cast<int8_t>(column), static_cast<int8_t>(row),
                            mode % 6);
            break;
        }
        case 2:
            scrollViewport(t, static_cast<int8_t>(input.byte()), (operation & 0x10) != 0);
            break;
        case 3:
        case 4: {
            const uint8_t bits = input.byte();
            lastOptions = optionsFrom(bits);
            lastTerm = input.bytes(input.byte() % 12);
            t.terminalLock().withLock([&] {
                t.terminalLock().assumeHeldByCaller();
                if ((operation & 0x0F) == 3) {
                    search.step(*selection, lastTerm, lastOptions, (bits & 8) == 0);
                    return;
                }
                const std::vector<SearchResult> cached = search.engine.findAll(lastTerm, lastOptions, 64);
                checkMatches(t, cached);
                SearchService fresh(terminal);
                const std::vector<SearchResult> uncached = fresh.engine.findAll(lastTerm, lastOptions, 64);
                // A search whose expression ran out of steps may stop at another line.
                if (!search.engine.lastSearchStopped() && !fresh.engine.lastSearchStopped() &&
                    cached != uncached)
                    broken("the cached search differs from a fresh one", static_cast<long>(cached.size()),
                           static_cast<long>(uncached.size()));
            });
            break;
        }
        case 5: {
            const uint8_t kind = input.byte();
            const Position at(static_cast<int8_t>(input.byte()), input.byte() % 80);
            t.terminalLock().withLock([&] {
                t.terminalLock().assumeHeldByCaller();
                switch (kind % 4) {
                case 0:
                    selection->shiftExtend(at);
                    break;
                case 1:
                    selection->pivotExtend(at);
                    break;
                case 2:
                    selection->dragExtend(at);
                    break;
                default:
                    selection->startBlockSelection(at);
                    break;
                }
            });
            break;
        }
        case 6: {
            const int cols = 2 + input.byte() % 39;
            const int rows = 1 + input.byte() % 10;
            t.terminalLock().withLock([&] {
                t.terminalLock().assumeHeldByCaller();
                t.resize(cols, rows);
                // The owner of a search invalidates it and drops the selection on every resize.
                search.invalidate();
                selection->setActive(false);
            });
            break;
        }
        default: {
            std::string text = selectionText(t, *selection);
            t.terminalLock().withLock([&] {
                t.terminalLock().assumeHeldByCaller();
                const auto [index, total] = search.matchSummary(lastTerm, lastOptions, 16);
                if (index < 0 || index > total || total > 16)
                    broken("summary out of range", index, total);
                text += selection->getSelectedText();
                search.revealTopRow(selection->start().row);
                selection->word(selection->start(), t.buffer());
            });
            break;
        }
        }
        checkSelection(t, *selection);
    }
    return 0;
}
