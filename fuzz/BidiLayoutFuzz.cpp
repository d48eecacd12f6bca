// Bidirectional layout of whatever screen arbitrary output makes: every row of the screen and its
// scrollback is laid out, and every layout is checked.
//
// Input layout:
//   byte 0   columns: 2 + b % 39
//   byte 1   rows: 1 + b % 10
//   byte 2   the longest paragraph: 1 + b % 8 rows
//   byte 3   the bidi state every line gets: bit 0 explicit, bit 1 autodetect, bit 2 right to left,
//            bit 3 box mirroring; bit 4 set keeps the states the output itself chose instead
//   then     output bytes, fed to the terminal as they are
//
// Checked for every row that gets a layout: both column maps have one entry per column, the
// visual cells cover every column exactly once in visual order, the maps agree with the cells, and
// a layout answered from the caches equals one typeset afresh.
#include "tests/Kestrovan/TerminalTestAccess.h"

#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

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

std::optional<BidiRowLayout> layOut(Terminal& terminal, int64_t row)
{
    std::shared_ptr<TerminalBidi::DeferredParagraph> deferred;
    {
        TerminalLockGuard guard(terminal.terminalLock());
        TerminalBidi::LayoutOutcome outcome = TerminalBidi::collectLayout(
            row, terminal.buffer(), terminal.cols(), terminal, BidiHostPolicy::respectTerminal);
        if (auto* resolved = std::get_if<std::optional<BidiRowLayout>>(&outcome))
            return *resolved;
        deferred = std::get<std::shared_ptr<TerminalBidi::DeferredParagraph>>(outcome);
    }
    TerminalBidi::finish({deferred});
    if (!deferred->result)
        return std::nullopt;
    const auto found = deferred->result->rows.find(row);
    return found == deferred->result->rows.end() ? std::nullopt : std::optional<BidiRowLayout>(found->second);
}

void check(const BidiRowLayout& layout, int cols)
{
    if (int(layout.logicalToVisualCol.size()) != cols || int(layout.visualToLogicalCol.size()) != cols)
        broken("map sizes", long(layout.logicalToVisualCol.size()), cols);
    std::vector<int> covered(size_t(cols), 0);
    int visual = 0;
    for (const BidiCell& cell : layout.visualCells) {
        if (cell.width < 1 || cell.width > 2 || cell.logicalCol < 0 || cell.logicalCol >= cols)
            broken("cell", cell.logicalCol, cell.width);
        for (int j = 0; j < cell.width && cell.logicalCol + j < cols; ++j) {
            ++covered[size_t(cell.logicalCol + j)];
            if (visual + j < cols && layout.visualToLogicalCol[size_t(visual + j)] != cell.logicalCol)
                broken("visual map", visual + j, cell.logicalCol);
            if (visual + j < cols && layout.logicalToVisualCol[size_t(cell.logicalCol + j)] != visual + j)
                broken("logical map", cell.logicalCol + j, visual + j);
        }
        visual += cell.width;
    }
    // A wide character cut by the right margin may reach one column past it.
    if (visual < cols || visual > cols + 1)
        broken("visual width", visual, cols);
    for (int column = 0; column < cols; ++column) {
        if (covered[size_t(column)] != 1)
            broken("column covered", column, covered[size_t(column)]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 2 + data[0] % 39;
    options.rows = 1 + data[1] % 10;
    options.scrollback = 20;
    options.maximumBidiParagraphRows = 1 + data[2] % 8;
    const uint8_t stateBits = data[3];
    auto delegate = std::make_shared<NullDelegate>();
    auto terminal = Terminal::create(delegate, options);
    const TerminalUnsharedScope unshared(terminal->terminalLock());
    terminal->feed(std::span<const uint8_t>(data + 4, size - 4));

    const BidiPresentationState state(
        stateBits & 1 ? BidiSupportMode::explicit_ : BidiSupportMode::implicit, (stateBits & 2) != 0,
        stateBits & 4 ? BidiDirection::rightToLeft : BidiDirection::leftToRight, (stateBits & 8) != 0);
    // Every line in one state, whatever its text: no sequence gives a written line a new state, so
    // the tests' hook writes it.
    Buffer& buffer = TerminalTestAccess::buffer(*terminal);
    const int count = buffer.lines().count();
    if (!(stateBits & 16)) {
        for (int row = 0; row < count; ++row)
            buffer.lines()[row]->setBidiState(state);
    }

    std::vector<std::optional<BidiRowLayout>> cached;
    for (int row = 0; row < count; ++row) {
        cached.push_back(layOut(*terminal, row));
        if (cached.back())
            check(*cached.back(), terminal->cols());
    }
    // Whatever the caches answered, typesetting afresh gives the same layouts.
    TerminalBidi::clearCaches();
    for (int row = 0; row < count; ++row) {
        const std::optional<BidiRowLayout> fresh = layOut(*terminal, row);
        if (fresh != cached[size_t(row)])
            broken("cached layout differs from a fresh one", row, fresh.has_value());
    }
    return 0;
}
