// The buffer's print paths under arbitrary input: the bytes are decoded into a sequence of
// operations (ASCII runs, scalar runs of width 1 or 2 with arbitrary scalars, single cells of
// either width holding a scalar or a cluster, cursor moves, margin, region, auto-wrap,
// insert-mode and protection changes, images, scrollback changes) on a small buffer with the
// scrolling terminal double, and the buffer's invariants are checked after every step:
// the cursor and scroll position stay in bounds, wide characters keep their lead and
// continuation halves together, every cell past a line's used length is its tail blank, no
// cell carries an invalid semantic code, and the image-line count matches the lines.
#include "fuzz/FuzzInput.h"
#include "tests/Kestrovan/ScrollingTerminalDouble.h"

#include "Kestrovan/Buffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace kestrovan;

namespace {

class Input : public FuzzInput
{
public:
    using FuzzInput::FuzzInput;

    uint32_t scalar()
    {
        const uint32_t value = uint32_t(byte()) | uint32_t(byte()) << 8 | uint32_t(byte()) << 16;
        return value & 0x1FFFFF;
    }
};

class FuzzImage : public TerminalImage
{
public:
    int pixelWidth() const override { return 1; }
    int pixelHeight() const override { return 1; }
    int col() const override { return 0; }
    void setCol(int) override {}
};

[[noreturn]] void broken(const char* what, int row, int col)
{
    std::fprintf(stderr, "invariant broken: %s at row %d col %d\n", what, row, col);
    std::abort();
}

void checkInvariants(Buffer& buffer)
{
    const int count = buffer.lines().count();
    if (buffer.x() < 0 || buffer.x() > buffer.cols())
        broken("cursor column outside 0...cols", buffer.y(), buffer.x());
    if (buffer.y() < 0 || buffer.y() > buffer.rows() - 1)
        broken("cursor row outside the screen", buffer.y(), buffer.x());
    if (buffer.yBase() < 0 || buffer.yBase() + buffer.rows() > count)
        broken("screen outside the ring", buffer.yBase(), count);
    if (buffer.yDisp() < 0 || buffer.yDisp() > buffer.yBase())
        broken("view outside 0...yBase", buffer.yDisp(), buffer.yBase());

    int linesWithImages = 0;
    for (int row = 0; row < count; ++row) {
        const BufferLine& line = *buffer.lines()[row];
        if (line.hasImages())
            linesWithImages += 1;
        const int width = line.count();
        if (width < buffer.cols())
            broken("line narrower than the buffer", row, width);
        if (line.usedLength() < 0 || line.usedLength() > width)
            broken("used length outside the line", row, line.usedLength());
        for (int col = 0; col < width; ++col) {
            const PackedCell cell = line.packed(col);
            if (col >= line.usedLength() && cell != line.tailBlankCell())
                broken("cell past the used length differs from the tail blank", row, col);
            if (cell.semanticCode() > 6)
                broken("semantic code above 6", row, col);
            if (cell.isLead() && (col + 1 >= width || !line.packed(col + 1).isContinuation()))
                broken("lead cell without its continuation", row, col);
            if (cell.isContinuation() && (col == 0 || !line.packed(col - 1).isLead()))
                broken("continuation cell without its lead", row, col);
        }
    }
    if (linesWithImages != buffer.linesWithImagesCount())
        broken("image-line count differs from the lines", linesWithImages, buffer.linesWithImagesCount());
}

void runOperation(Buffer& buffer, Input& input)
{
    const int cols = buffer.cols();
    const int rows = buffer.rows();
    const uint16_t styleID = uint16_t(input.upTo(7));
    const uint16_t payload = uint16_t(input.byte() < 32 ? input.byte() + 1 : 0);
    switch (input.byte() % 14) {
    case 0:
    case 1: { // ASCII run
        std::vector<uint8_t> bytes(static_cast<size_t>(input.upTo(255)));
        for (uint8_t& b : bytes)
            b = uint8_t(0x20 + input.byte() % 0x5F);
        buffer.insertAsciiRun(bytes, styleID, payload);
        break;
    }
    case 2:
    case 3: { // scalar run of one width, arbitrary scalars
        const int width = 1 + input.byte() % 2;
        std::vector<char32_t> scalars(static_cast<size_t>(input.upTo(100)));
        for (char32_t& scalar : scalars)
            scalar = char32_t(input.scalar());
        if (width == 1 || !(input.byte() & 1)) {
            buffer.insertScalarRun(scalars, width, styleID, payload);
            break;
        }
        // Both widths in one run, some wide cells marked as widened.
        std::vector<uint32_t> contents;
        std::vector<uint8_t> widths;
        for (char32_t scalar : scalars) {
            contents.push_back(uint32_t(scalar) << PackedCell::contentShift);
            const uint8_t flags = input.byte();
            widths.push_back(uint8_t((flags & 1) ? 1 : (flags & 2) ? 2 | Buffer::runCellStaysOnRow : 2));
        }
        buffer.insertMixedRun(contents, widths, styleID, payload);
        break;
    }
    case 4:
    case 5: { // one cell: a scalar or a cluster, narrow or wide
        const uint8_t flags = input.byte();
        const auto widthState = (flags & 1) ? PackedCell::WidthState::lead : PackedCell::WidthState::single;
        PackedCell cell = PackedCell::makeScalar(input.scalar(), styleID, widthState, (flags & 2) != 0,
                                                 payload, flags >> 5);
        if (flags & 4) {
            std::u32string cluster(2 + input.upTo(3), U'a');
            for (char32_t& scalar : cluster)
                scalar = char32_t(input.scalar() % 0x10000 + 1);
            if (std::optional<uint32_t> id = buffer.cellArena()->intern(cluster))
                cell = PackedCell::makeGrapheme(*id, styleID, widthState, (flags & 2) != 0, payload, 0);
        }
        buffer.insertCharacter(cell);
        break;
    }
    case 6: // cursor move, the pending-wrap column included
        buffer.setX(input.upTo(cols));
        buffer.setY(input.upTo(rows - 1));
        break;
    case 7: { // left and right margins
        BufferModeMirror modes = buffer.modeMirror();
        modes.marginMode = input.byte() & 1;
        buffer.setModeMirror(modes);
        const int left = input.upTo(cols - 1);
        buffer.setMarginLeft(left);
        buffer.setMarginRight(left + input.upTo(cols - 1 - left));
        break;
    }
    case 8: { // scroll region
        const int top = input.upTo(rows - 1);
        buffer.setScrollTop(top);
        buffer.setScrollBottom(top + input.upTo(rows - 1 - top));
        break;
    }
    case 9: { // auto-wrap, insert mode, protection, semantic content
        const uint8_t flags = input.byte();
        BufferModeMirror modes = buffer.modeMirror();
        modes.wraparound = flags & 1;
        modes.insertMode = flags & 2;
        modes.characterProtection = flags & 4;
        buffer.setModeMirror(modes);
        buffer.semanticPrompt().setContent(SemanticContent::fromCode(uint8_t(flags >> 4)));
        break;
    }
    case 10:
        buffer.attachImage(std::make_shared<FuzzImage>(), input.upTo(buffer.lines().count()));
        break;
    case 11:
        buffer.clearImagesFromLine(input.upTo(buffer.lines().count()));
        break;
    case 12:
        buffer.clearScrollback();
        break;
    case 13: {
        const int limit = input.upTo(20);
        buffer.changeHistorySize(limit == 20 ? std::nullopt : std::optional<int>(limit));
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    const int cols = 1 + input.upTo(39);
    const int rows = 1 + input.upTo(7);
    const int history = input.upTo(12);
    ScrollingTerminalDouble terminal;
    Buffer buffer(cols, rows, 8, history == 12 ? std::nullopt : std::optional<int>(history),
                  BidiPresentationState());
    buffer.fillViewportRows();
    buffer.setTerminal(&terminal);
    buffer.setModeMirror(BufferModeMirror{.wraparound = true});
    for (int step = 0; step < 256 && !input.empty(); ++step) {
        runOperation(buffer, input);
        checkInvariants(buffer);
    }
    return 0;
}
