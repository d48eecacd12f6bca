// The run fast paths must write exactly what writing the same input one cell at a time writes.
// Each scenario builds two identical buffers on seeded random input (wide characters and images
// already on the lines, random margins, scroll regions, auto-wrap and semantic content), prints
// the same runs into both, through `insertAsciiRun` / `insertScalarRun` / `insertMixedRun` in one and
// `insertCharacter` in the other, and compares every packed cell, wrap flag, bidi state, used
// length, the cursor and the scroll position after each run. Where a run path stops early
// (auto-wrap off), the rest goes cell by cell, as the terminal's print path does.
#include "tests/Kestrovan/ScrollingTerminalDouble.h"
#include "tests/Kestrovan/TestSupport.h"

#include "Kestrovan/Buffer.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using kestrovan::BidiDirection;
using kestrovan::BidiPresentationState;
using kestrovan::BidiSupportMode;
using kestrovan::Buffer;
using kestrovan::BufferLine;
using kestrovan::BufferModeMirror;
using kestrovan::PackedCell;
using kestrovan::ScrollingTerminalDouble;
using kestrovan::SemanticContent;
using kestrovan::SemanticPromptKind;
using kestrovan::testing::setBufferMode;
using kestrovan::testing::TestImage;
using WidthState = kestrovan::PackedCell::WidthState;

namespace {

class Random
{
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    bool chance(int percent) { return between(0, 99) < percent; }

private:
    std::mt19937 engine_;
};

SemanticContent randomContent(Random& random)
{
    const int code = random.between(0, 6);
    return SemanticContent::fromCode(uint8_t(code));
}

char32_t narrowScalar(Random& random)
{
    // Latin-1 letters, Latin Extended and Greek: one column each.
    return char32_t(random.chance(50) ? random.between(0xC0, 0x24F) : random.between(0x391, 0x3C9));
}

char32_t wideScalar(Random& random)
{
    return char32_t(random.chance(80) ? random.between(0x4E00, 0x9FFF) : random.between(0xAC00, 0xD7A3));
}

PackedCell cellFor(char32_t scalar, int width, uint16_t styleID, uint16_t payload)
{
    return PackedCell::makeScalar(scalar, styleID, width == 2 ? WidthState::lead : WidthState::single, false,
                                  payload, 0);
}

// Two buffers that receive the same calls, except for the run under test.
struct Twin
{
    ScrollingTerminalDouble fastTerminal;
    ScrollingTerminalDouble slowTerminal;
    std::unique_ptr<Buffer> fast;
    std::unique_ptr<Buffer> slow;

    Twin(int cols, int rows, std::optional<int> scrollback)
    {
        const BidiPresentationState rtl(BidiSupportMode::implicit, false, BidiDirection::rightToLeft, false);
        for (auto* buffer : {&fast, &slow}) {
            *buffer = std::make_unique<Buffer>(cols, rows, 8, scrollback, BidiPresentationState());
            (*buffer)->fillViewportRows();
            // One line with another bidi state, so that wrapping has a state to carry.
            (*buffer)->lines()[rows / 2]->setBidiState(rtl);
        }
        fast->setTerminal(&fastTerminal);
        slow->setTerminal(&slowTerminal);
    }

    template <typename F> void both(F&& f)
    {
        f(*fast);
        f(*slow);
    }
};

// The buffer's cursor, scroll position, line count and image line count, and each line's width,
// wrap flag, used length and images, in a form that prints.
std::string summary(Buffer& buffer)
{
    std::ostringstream out;
    out << "cursor " << buffer.x() << "," << buffer.y() << (buffer.wrapPending() ? " waiting" : "")
        << " yBase " << buffer.yBase() << " yDisp " << buffer.yDisp() << " trimmed "
        << buffer.totalLinesTrimmed() << " lines " << buffer.lines().count() << " image lines "
        << buffer.linesWithImagesCount();
    return out.str();
}

std::string summary(const BufferLine& line)
{
    std::ostringstream out;
    out << "width " << line.count() << " wrapped " << line.isWrapped() << " used " << line.usedLength()
        << " images " << line.hasImages();
    return out.str();
}

::testing::AssertionResult sameState(Buffer& a, Buffer& b)
{
    if (summary(a) != summary(b))
        return ::testing::AssertionFailure() << summary(a) << " vs " << summary(b);
    for (int row = 0; row < a.lines().count(); ++row) {
        const BufferLine& left = *a.lines()[row];
        const BufferLine& right = *b.lines()[row];
        if (summary(left) != summary(right) || left.bidiState() != right.bidiState())
            return ::testing::AssertionFailure()
                   << "row " << row << ": " << summary(left) << " vs " << summary(right);
        for (int col = 0; col < left.count(); ++col) {
            if (left.packed(col) != right.packed(col))
                return ::testing::AssertionFailure()
                       << "row " << row << " col " << col << ": 0x" << std::hex << left.packed(col).rawValue
                       << " vs 0x" << right.packed(col).rawValue;
        }
    }
    return ::testing::AssertionSuccess();
}

// Puts characters, some wide, at random places of both buffers, and images on some lines.
void prefill(Twin& twin, Random& random)
{
    const int cols = twin.fast->cols();
    const int rows = twin.fast->rows();
    const int writes = random.between(0, rows * 3);
    for (int i = 0; i < writes; ++i) {
        const int x = random.between(0, cols - 1);
        const int y = random.between(0, rows - 1);
        const int length = random.between(1, cols);
        const SemanticContent content = randomContent(random);
        std::vector<PackedCell> cells;
        for (int j = 0; j < length; ++j) {
            const bool isWide = random.chance(40);
            cells.push_back(cellFor(isWide ? wideScalar(random) : char32_t(random.between(0x21, 0x7E)),
                                    isWide ? 2 : 1, uint16_t(random.between(0, 3)), 0));
        }
        twin.both([&](Buffer& buffer) {
            setBufferMode(buffer, &BufferModeMirror::wraparound, true);
            buffer.semanticPrompt().setContent(content);
            buffer.setX(x);
            buffer.setY(y);
            for (PackedCell cell : cells)
                buffer.insertCharacter(cell);
        });
    }
    auto image = std::make_shared<TestImage>();
    for (int i = random.between(0, 3); i > 0; --i) {
        const int row = random.between(0, twin.fast->lines().count() - 1);
        twin.both([&](Buffer& buffer) { buffer.attachImage(image, row); });
    }
}

void randomizeModes(Twin& twin, Random& random)
{
    const int cols = twin.fast->cols();
    const int rows = twin.fast->rows();
    const bool marginMode = random.chance(35);
    const int left = random.between(0, cols - 1);
    const int right = random.between(left, cols - 1);
    const bool wraparound = random.chance(75);
    const int top = random.chance(60) ? 0 : random.between(0, rows - 1);
    const int bottom = random.chance(60) ? rows - 1 : random.between(top, rows - 1);
    const SemanticContent content = randomContent(random);
    twin.both([&](Buffer& buffer) {
        setBufferMode(buffer, &BufferModeMirror::marginMode, marginMode);
        buffer.setMarginLeft(marginMode ? left : 0);
        buffer.setMarginRight(marginMode ? right : cols - 1);
        setBufferMode(buffer, &BufferModeMirror::wraparound, wraparound);
        buffer.setScrollTop(top);
        buffer.setScrollBottom(bottom);
        buffer.semanticPrompt().setContent(content);
    });
}

// Prints one run into both buffers: through the run path into `fast` (the rest, if it stopped
// early, cell by cell) and cell by cell into `slow`.
void printRun(Twin& twin, Random& random, std::ostringstream& trace)
{
    const int cols = twin.fast->cols();
    const int kind = random.between(0, 3);
    // One character alone, as pictures drawn in half blocks print between colour changes, often;
    // and the short words and spaces between colour changes (one to three cells store unrolled).
    const int length = random.chance(20)   ? 1
                       : random.chance(15) ? random.between(2, 3)
                                           : random.between(0, cols * 3 + 5);
    const uint16_t styleID = uint16_t(random.between(0, 5));
    const uint16_t payload = uint16_t(random.chance(20) ? random.between(1, 0xFFFF) : 0);

    if (kind == 0) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < length; ++i)
            bytes.push_back(uint8_t(random.between(0x20, 0x7E)));
        trace << " ascii(" << length << ")";
        const size_t written = twin.fast->insertAsciiRun(bytes, styleID, payload);
        ASSERT_LE(written, bytes.size());
        for (size_t i = written; i < bytes.size(); ++i)
            twin.fast->insertCharacter(cellFor(bytes[i], 1, styleID, payload));
        for (uint8_t byte : bytes)
            twin.slow->insertCharacter(cellFor(byte, 1, styleID, payload));
        return;
    }
    if (kind == 3) {
        // Both widths in one run; some wide cells are marked as widened, which the writer only
        // places where they fit without wrapping and otherwise leaves to the one-cell path.
        std::vector<uint32_t> contents;
        std::vector<uint8_t> widths;
        std::vector<PackedCell> cells;
        for (int i = 0; i < length; ++i) {
            const int width = random.chance(40) ? 2 : 1;
            const char32_t scalar = width == 2 ? wideScalar(random) : narrowScalar(random);
            contents.push_back(uint32_t(scalar) << PackedCell::contentShift);
            widths.push_back(
                uint8_t(width == 2 && random.chance(40) ? 2 | Buffer::runCellStaysOnRow : width));
            cells.push_back(cellFor(scalar, width, styleID, payload));
        }
        trace << " mixed(" << length << ")";
        const size_t written = twin.fast->insertMixedRun(contents, widths, styleID, payload);
        ASSERT_LE(written, cells.size());
        for (size_t i = written; i < cells.size(); ++i)
            twin.fast->insertCharacter(cells[i]);
        for (PackedCell cell : cells)
            twin.slow->insertCharacter(cell);
        return;
    }
    const int width = kind;
    std::vector<char32_t> scalars;
    for (int i = 0; i < length; ++i)
        scalars.push_back(width == 2 ? wideScalar(random) : narrowScalar(random));
    trace << " scalars(" << length << "x" << width << ")";
    const size_t written = twin.fast->insertScalarRun(scalars, width, styleID, payload);
    ASSERT_LE(written, scalars.size());
    for (size_t i = written; i < scalars.size(); ++i)
        twin.fast->insertCharacter(cellFor(scalars[i], width, styleID, payload));
    for (char32_t scalar : scalars)
        twin.slow->insertCharacter(cellFor(scalar, width, styleID, payload));
}

} // namespace

TEST(BufferPrintDifferential, RunPathsWriteTheSameCellsAsSingleCells)
{
    constexpr int scenarios = 3000;
    int runs = 0;
    int scrolls = 0;
    for (int scenario = 0; scenario < scenarios; ++scenario) {
        Random random(0x5eed0000u + uint32_t(scenario));
        const int cols = random.between(2, 40);
        const int rows = random.between(1, 8);
        const int history = random.between(0, 3);
        const std::optional<int> scrollback =
            history == 0 ? std::nullopt : std::optional<int>(history == 1 ? 0 : random.between(1, 20));
        Twin twin(cols, rows, scrollback);
        prefill(twin, random);
        ASSERT_TRUE(sameState(*twin.fast, *twin.slow)) << "scenario " << scenario << " after the prefill";

        std::ostringstream trace;
        randomizeModes(twin, random);
        for (int step = random.between(1, 8); step > 0; --step) {
            if (random.chance(30))
                randomizeModes(twin, random);
            // Column `cols` stands for the last column with a wrap pending.
            const int x = random.between(0, cols);
            const int y = random.between(0, rows - 1);
            twin.both([&](Buffer& buffer) {
                buffer.setX(std::min(x, cols - 1));
                buffer.setWrapPending(x == cols);
                buffer.setY(y);
            });
            trace << " at(" << x << "," << y << ")";
            printRun(twin, random, trace);
            runs += 1;
            ASSERT_TRUE(sameState(*twin.fast, *twin.slow))
                << "scenario " << scenario << " (" << cols << "x" << rows << ", margins "
                << twin.fast->marginMode() << " " << twin.fast->marginLeft() << "-"
                << twin.fast->marginRight() << ", wrap " << twin.fast->wraparound() << ", region "
                << twin.fast->scrollTop() << "-" << twin.fast->scrollBottom() << "):" << trace.str();
        }
        scrolls += twin.fastTerminal.scrolledLines;
    }
    // The scenarios must actually reach the interesting places.
    EXPECT_GT(runs, scenarios * 3);
    EXPECT_GT(scrolls, scenarios);
}
