// Arbitrary bytes into a whole terminal, cut into chunks, with resizes between chunks.
//
// Input layout:
//   byte 0   columns: 2 + b % 47
//   byte 1   rows: 1 + b % 12
//   byte 2   options: bits 0-2 pick the scrollback (0, 1, 2, 5, 10, 40 or 200 lines; 7 is 0
//            again), bit 3 narrow regional indicators, bit 4 8-bit replies from the start, bit 5
//            line-feed mode from the options, bit 6 the xterm palette instead of the Lab one,
//            bit 7 the differential mode
//   byte 3   chunking: 0 feeds each segment whole, 1 one byte at a time, anything else seeds
//            chunks of 1 ... (b % 32 + 1) bytes
//   the rest the bytes the program writes. The two bytes FF FF followed by two more resize the
//            terminal to (2 + c % 60) x (1 + r % 16) between segments; FF FF never occurs in
//            UTF-8 and is otherwise two stray bytes, so the marker costs the fuzzer little.
//
// After every chunk and every resize the invariants of both buffers are checked: cursor in the
// grid, ring and view positions consistent, region and margins inside the screen, every wide lead
// followed by its continuation and every continuation preceded by its lead, every cell past a
// line's used length equal to its tail blank, valid cell encodings, tab stops as wide as the
// buffer, and the image-line count. In the differential mode a second terminal is fed every
// segment whole, with the same resizes, and the state dumps of the two must be equal.
#include "tests/Kestrovan/TerminalStateDump.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalInnerState.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

using namespace kestrovan;
using namespace kestrovan::testing;

namespace {

[[noreturn]] void broken(const char* buffer, const char* what, long a, long b)
{
    std::fprintf(stderr, "invariant broken in the %s buffer: %s (%ld, %ld)\n", buffer, what, a, b);
    std::abort();
}

void checkBuffer(const Buffer& buffer, const char* name)
{
    const int cols = buffer.cols();
    const int rows = buffer.rows();
    const int count = buffer.lines().count();
    if (buffer.x() < 0 || buffer.x() > cols)
        broken(name, "cursor column outside 0...cols", buffer.x(), cols);
    if (buffer.y() < 0 || buffer.y() >= rows)
        broken(name, "cursor row outside the screen", buffer.y(), rows);
    if (count > 0) {
        if (buffer.yBase() < 0 || buffer.yBase() + rows > count)
            broken(name, "screen outside the ring", buffer.yBase(), count);
        if (buffer.yDisp() < 0 || buffer.yDisp() > buffer.yBase())
            broken(name, "view outside 0...yBase", buffer.yDisp(), buffer.yBase());
        if (count > buffer.getCorrectBufferLength(rows))
            broken(name, "ring longer than rows plus scrollback", count, buffer.getCorrectBufferLength(rows));
    }
    if (buffer.scrollTop() < 0 || buffer.scrollTop() > buffer.scrollBottom() || buffer.scrollBottom() >= rows)
        broken(name, "scroll region outside the screen", buffer.scrollTop(), buffer.scrollBottom());
    if (buffer.marginLeft() < 0 || buffer.marginLeft() > buffer.marginRight() || buffer.marginRight() >= cols)
        broken(name, "margins outside the screen", buffer.marginLeft(), buffer.marginRight());
    if (static_cast<int>(buffer.tabStops().size()) != cols)
        broken(name, "tab stops not as wide as the buffer", static_cast<long>(buffer.tabStops().size()),
               cols);

    const CellArena& arena = *buffer.cellArena();
    int linesWithImages = 0;
    for (int row = 0; row < count; ++row) {
        // A slot not filled yet holds no line to check; a writer fills it with a blank one.
        const CircularBufferLineList::ConstLinePointer stored = buffer.lines().lineIfPresent(row);
        if (!stored)
            continue;
        const BufferLine& line = *stored;
        if (line.hasImages())
            ++linesWithImages;
        const int width = line.count();
        if (width < cols)
            broken(name, "line narrower than the buffer", row, width);
        if (line.usedLength() < 0 || line.usedLength() > width)
            broken(name, "used length outside the line", row, line.usedLength());
        for (int col = 0; col < width; ++col) {
            const PackedCell cell = line.packed(col);
            if (col >= line.usedLength() && cell != line.tailBlankCell())
                broken(name, "cell past the used length differs from the tail blank", row, col);
            if (!cell.hasValidEncoding())
                broken(name, "cell with an invalid encoding", row, col);
            if (cell.kind() == PackedCell::Kind::grapheme && cell.content() > arena.graphemeCount())
                broken(name, "cell naming a cluster the arena never gave", row, col);
            if (cell.kind() <= PackedCell::Kind::grapheme && cell.attributeID() >= arena.attributeCount())
                broken(name, "cell naming an attribute the arena never gave", row, col);
            if (cell.isLead() && (col + 1 >= width || !line.packed(col + 1).isContinuation()))
                broken(name, "lead cell without its continuation", row, col);
            if (cell.isContinuation() && (col == 0 || !line.packed(col - 1).isLead()))
                broken(name, "continuation cell without its lead", row, col);
        }
    }
    if (linesWithImages != buffer.linesWithImagesCount())
        broken(name, "image-line count differs from the lines", linesWithImages,
               buffer.linesWithImagesCount());
}

void checkTerminal(Terminal& terminal)
{
    if (terminal.cols() != terminal.buffer().cols() || terminal.rows() != terminal.buffer().rows())
        broken("active", "active buffer not at the terminal's size", terminal.buffer().cols(),
               terminal.cols());
    if (terminal.innerState().readingBuffer.size() > 3)
        broken("active", "more than three bytes put back", long(terminal.innerState().readingBuffer.size()),
               0);
    if (terminal.innerState().parseDepth != 0)
        broken("active", "parse depth left above 0", terminal.innerState().parseDepth, 0);
    checkBuffer(terminal.buffer(Terminal::BufferKind::normal), "normal");
    checkBuffer(terminal.buffer(Terminal::BufferKind::alt), "alternate");
}

/// A deterministic generator for the chunk lengths.
class SplitMix
{
public:
    explicit SplitMix(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    uint64_t state_;
};

/// One stretch of program output, and the resize that follows it (if any).
struct Segment
{
    std::span<const uint8_t> bytes;
    std::optional<std::pair<int, int>> resizeAfter;
};

std::vector<Segment> segments(std::span<const uint8_t> body)
{
    std::vector<Segment> out;
    size_t start = 0;
    size_t index = 0;
    while (index + 3 < body.size()) {
        if (body[index] == 0xFF && body[index + 1] == 0xFF) {
            out.push_back({body.subspan(start, index - start),
                           std::pair<int, int>(2 + body[index + 2] % 60, 1 + body[index + 3] % 16)});
            index += 4;
            start = index;
            continue;
        }
        ++index;
    }
    out.push_back({body.subspan(start), std::nullopt});
    return out;
}

TerminalOptions optionsFor(uint8_t cols, uint8_t rows, uint8_t flags)
{
    static constexpr int scrollbacks[8] = {0, 1, 2, 5, 10, 40, 200, 0};
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 2 + cols % 47;
    options.rows = 1 + rows % 12;
    options.scrollback = scrollbacks[flags & 7];
    if (flags & 8)
        options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
    if (flags & 32)
        options.convertEol = true;
    if (flags & 64)
        options.ansi256PaletteStrategy = Ansi256PaletteStrategy::xterm;
    return options;
}

/// Feeds every segment through `session`, in chunks chosen by `chunking`, checking after each.
void run(DumpedTerminal& session, const std::vector<Segment>& parts, uint8_t chunking, bool check)
{
    SplitMix random(chunking * 0x100000001ull + 7);
    const size_t longest = size_t(chunking % 32) + 1;
    for (const Segment& part : parts) {
        size_t position = 0;
        while (position < part.bytes.size()) {
            size_t length = part.bytes.size() - position;
            if (chunking == 1)
                length = 1;
            else if (chunking > 1)
                length = std::min<size_t>(length, 1 + random.next() % longest);
            session.feed(part.bytes.subspan(position, length));
            position += length;
            if (check)
                checkTerminal(session.terminal());
        }
        if (part.resizeAfter) {
            session.resize(part.resizeAfter->first, part.resizeAfter->second);
            if (check)
                checkTerminal(session.terminal());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint8_t flags = data[2];
    const uint8_t chunking = data[3];
    const bool differential = (flags & 128) != 0;
    const TerminalOptions options = optionsFor(data[0], data[1], flags);
    const std::vector<Segment> parts = segments(std::span<const uint8_t>(data + 4, size - 4));

    DumpedTerminal chunked(options);
    const TerminalUnsharedScope chunkedUnshared(chunked.terminal().terminalLock());
    if (flags & 16)
        chunked.terminal().feed("\x1b G"); // S8C1T
    run(chunked, parts, chunking, true);

    if (differential) {
        DumpedTerminal whole(options);
        const TerminalUnsharedScope wholeUnshared(whole.terminal().terminalLock());
        if (flags & 16)
            whole.terminal().feed("\x1b G");
        run(whole, parts, 0, false);
        const std::string expected = whole.dump();
        const std::string actual = chunked.dump();
        if (expected != actual) {
            std::fprintf(stderr, "chunked feeding differs from whole feeding (chunking %d)\n%s", chunking,
                         describeDumpDifference(expected, actual).c_str());
            std::abort();
        }
    }
    return 0;
}
