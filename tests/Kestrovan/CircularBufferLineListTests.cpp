#include "TestSupport.h"

#include "Kestrovan/CircularBufferLineList.h"
#include "Kestrovan/CircularList.h"
#include "Kestrovan/Diagnostics.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using kestrovan::Attribute;
using kestrovan::BidiPresentationState;
using kestrovan::BufferLine;
using kestrovan::BufferRef;
using kestrovan::CellArena;
using kestrovan::CharacterStyle;
using kestrovan::CharData;
using kestrovan::CircularBufferLineList;
using kestrovan::CircularList;
using kestrovan::LineRingOwner;
using kestrovan::PackedCell;
using kestrovan::TerminalImage;
using Color = kestrovan::Attribute::Color;
using LinePointer = std::shared_ptr<BufferLine>;

using kestrovan::testing::DiagnosticCapture;
using kestrovan::testing::TestImage;

namespace {

// Stands in for the buffer: makes blank lines of its width and counts lines with images.
class FakeOwner : public LineRingOwner
{
public:
    explicit FakeOwner(int cols) : cols_(cols) {}

    LinePointer makeBlankLine(PackedCell packedBlank, bool isWrapped) override
    {
        blankLinesMade += 1;
        auto line = std::make_shared<BufferLine>(cols_, packedBlank, packedBlank, isWrapped,
                                                 BidiPresentationState(), arena_);
        line->setOwningBufferRef(ref_);
        return line;
    }
    const std::shared_ptr<CellArena>& arena() const override { return arena_; }
    const std::shared_ptr<BufferRef>& bufferRef() const override { return ref_; }
    void adjustLinesWithImagesCount(int delta) override { linesWithImages += delta; }

    int blankLinesMade = 0;
    int linesWithImages = 0;

private:
    int cols_;
    std::shared_ptr<CellArena> arena_ = std::make_shared<CellArena>();
    std::shared_ptr<BufferRef> ref_ = std::make_shared<BufferRef>();
};

// A stand-alone line whose first cell is the letter `tag`, so lines can be told apart.
LinePointer tagged(char tag)
{
    auto line = std::make_shared<BufferLine>(3);
    line->set(0, CharData(Attribute(), tag, 1));
    return line;
}

char tagOf(const std::shared_ptr<const BufferLine>& line)
{
    return line ? static_cast<char>(line->packed(0).scalar()) : '-';
}

// The tags of the logical lines, oldest first; '-' for an empty slot.
std::string tags(const CircularBufferLineList& ring)
{
    std::string out;
    for (int i = 0; i < ring.count(); ++i) {
        const char tag = tagOf(ring.lineIfPresent(i));
        out += tag == 0 ? '.' : tag;
    }
    return out;
}

CircularBufferLineList ringOf(const std::string& lines, int maxLength, FakeOwner* owner = nullptr)
{
    CircularBufferLineList ring(maxLength, owner, owner != nullptr);
    for (char tag : lines)
        ring.push(tagged(tag));
    return ring;
}

} // namespace

TEST(CircularBufferLineList, PushingPastCapacityDropsTheOldest)
{
    CircularBufferLineList ring = ringOf("abcde", 4);
    EXPECT_TRUE(ring.isFull());
    EXPECT_EQ(tags(ring), "bcde") << "index 0 is the second line pushed";
    EXPECT_EQ(tagOf(ring[4]), 'b') << "indexes wrap modulo the slot count";
    EXPECT_EQ(tagOf(ring[-1]), 'e');
}

TEST(CircularBufferLineList, RecycleReusesTheOldestLineObject)
{
    FakeOwner owner(3);
    CircularBufferLineList ring = ringOf("abc", 3, &owner);
    BufferLine* oldest = ring[0].get();
    oldest->attachImage(std::make_shared<TestImage>());
    owner.linesWithImages = 1;

    const PackedCell blank = PackedCell::makePaletteBlank(2, PackedCell::WidthState::single, false, 0, 0);
    const LinePointer& recycled = ring.recycle(blank, true, BidiPresentationState());
    EXPECT_EQ(recycled.get(), oldest) << "the same object, now the last line";
    EXPECT_EQ(ring[2].get(), oldest);
    EXPECT_EQ(tags(ring), "bc.");
    EXPECT_EQ(oldest->packed(0), blank);
    EXPECT_TRUE(oldest->isWrapped());
    EXPECT_EQ(owner.linesWithImages, 0) << "the recycled line's images are gone";
}

TEST(CircularBufferLineListDeathTest, MisuseThatCannotBeClampedStopsTheProgram)
{
    CircularBufferLineList notFull = ringOf("ab", 3);
    EXPECT_DEATH(notFull.recycle(PackedCell(), false, BidiPresentationState()), "full ring");
    CircularBufferLineList ownerless(3);
    ownerless.setCount(2);
    EXPECT_DEATH(ownerless[1], "no owner");
    EXPECT_DEATH(ownerless.setCount(4), "above maxLength");
    CircularBufferLineList empty(0);
    EXPECT_DEATH(empty.push(tagged('a')), "no slots");
}

TEST(CircularBufferLineList, EmptySlotsAreFilledByTheOwner)
{
    FakeOwner owner(5);
    CircularBufferLineList ring(4, &owner, true);
    ring.setCount(2);
    const LinePointer& line = ring[1];
    ASSERT_TRUE(line);
    EXPECT_EQ(line->count(), 5);
    EXPECT_TRUE(line->tailBlankCell() == PackedCell() && !line->isWrapped())
        << "a default blank, not wrapped";
    EXPECT_EQ(ring[1].get(), line.get()) << "the blank line stays in its slot";
    EXPECT_EQ(owner.blankLinesMade, 1);
}

TEST(CircularBufferLineList, AConstRingIsReadWithoutFillingItsSlots)
{
    FakeOwner owner(5);
    CircularBufferLineList ring(4, &owner, true);
    ring.setCount(2);
    const CircularBufferLineList& reader = ring;
    EXPECT_FALSE(reader.lineIfPresent(1)) << "an empty slot reads as no line";
    EXPECT_EQ(owner.blankLinesMade, 0) << "reading made no line";
    EXPECT_TRUE(ring[1]) << "the writer's subscript still fills it";
    EXPECT_EQ(reader.lineIfPresent(1).get(), ring[1].get());
}

TEST(CircularBufferLineList, ALiveRingAdoptsTheLinesItTakesIn)
{
    FakeOwner owner(3);
    CircularBufferLineList ring(3, &owner, true);
    auto styled = std::make_shared<BufferLine>(3);
    const CharData bold(Attribute(Color::ansi256(6), Color::defaultColor(), CharacterStyle::bold), 'b', 1);
    styled->set(0, bold);
    styled->attachImage(std::make_shared<TestImage>());
    ring.push(styled);
    EXPECT_EQ(styled->arena(), owner.arena());
    EXPECT_EQ(styled->owningBufferRef(), owner.bufferRef());
    EXPECT_EQ((*styled)[0], bold) << "re-encoded against the buffer's arena";
    EXPECT_EQ(owner.linesWithImages, 1);

    auto stored = tagged('s');
    ring.set(0, stored);
    EXPECT_EQ(stored->arena(), owner.arena());
    auto spliced = tagged('p');
    ring.splice(1, 0, {spliced});
    EXPECT_EQ(spliced->owningBufferRef(), owner.bufferRef());

    // A ring that is not live leaves lines as they are.
    CircularBufferLineList scratch(3, &owner, false);
    auto kept = tagged('k');
    const auto arena = kept->arena();
    scratch.push(kept);
    EXPECT_EQ(kept->arena(), arena);
    EXPECT_EQ(kept->owningBufferRef(), nullptr);
}

TEST(CircularBufferLineList, ResetDropsEveryLineAndItsImageCount)
{
    FakeOwner owner(3);
    CircularBufferLineList ring(4, &owner, true);
    for (int i = 0; i < 3; ++i) {
        auto line = tagged('a' + i);
        if (i != 1)
            line->attachImage(std::make_shared<TestImage>());
        ring.push(line);
    }
    EXPECT_EQ(owner.linesWithImages, 2);
    ring.reset(9);
    EXPECT_EQ(owner.linesWithImages, 0);
    EXPECT_EQ(ring.count(), 0);
    EXPECT_EQ(ring.maxLength(), 9) << "a reset takes the new length";
    ring.setCount(3);
    EXPECT_FALSE(ring.lineIfPresent(2)) << "every slot is empty after a reset";
}

TEST(CircularBufferLineList, TrimStartDropsFromTheFront)
{
    CircularBufferLineList ring = ringOf("abcde", 8);
    ring.trimStart(2);
    EXPECT_EQ(tags(ring), "cde");
    EXPECT_EQ(ring.startIndex(), 2);
    ring.trimStart(3);
    EXPECT_EQ(ring.count(), 0);
    EXPECT_EQ(ring.startIndex(), 5) << "past every line";
    ring.push(tagged('f'));
    EXPECT_EQ(tags(ring), "f");
    ring.trimStart(10);
    EXPECT_EQ(ring.count(), 0) << "never below zero";
}

TEST(CircularBufferLineList, ShiftElementsRefusesBadArgumentsWithADiagnostic)
{
    DiagnosticCapture capture;
    CircularBufferLineList ring = ringOf("abcde", 6);
    const std::tuple<int, int, int, const char*> refused[] = {
        {0, 1, 0, "Assertion at start=0 count=1 offset=0: start+offset <= 0"},
        {5, 1, 1, "Assertion at start=5 count=1 offset=1: start >= self.count"},
        {1, -1, 1, "Assertion at start=1 count=-1 offset=1: count < 0"},
        {-1, 1, 3, "Assertion at start=-1 count=1 offset=3: start < 0"},
    };
    for (const auto& [start, count, offset, message] : refused) {
        capture.lines.clear();
        EXPECT_FALSE(ring.shiftElements(start, count, offset));
        EXPECT_EQ(capture.lines, std::vector<std::string>{message});
    }
    EXPECT_EQ(tags(ring), "abcde") << "a refused shift changes nothing";
}

TEST(CircularBufferLineList, ShiftElementsMovesBlocksAndGrowsTheRing)
{
    CircularBufferLineList ring = ringOf("abcde", 6);
    EXPECT_TRUE(ring.shiftElements(2, 2, -1));
    EXPECT_EQ(tags(ring), "acdde") << "moved down; the vacated slot keeps its old line";
    EXPECT_TRUE(ring.shiftElements(1, 2, 1));
    EXPECT_EQ(tags(ring), "accde") << "moved up, back to front";

    // Moving past the end grows the ring; past capacity the oldest lines drop out.
    ring = ringOf("abcd", 5);
    EXPECT_TRUE(ring.shiftElements(2, 2, 1));
    EXPECT_EQ(tags(ring), "abccd");
    EXPECT_TRUE(ring.shiftElements(3, 2, 2));
    EXPECT_EQ(tags(ring), "ccdcd") << "two oldest dropped";
}

TEST(CircularBufferLineList, ShiftUpAndRecycleRotatesARegion)
{
    DiagnosticCapture capture;
    FakeOwner owner(3);
    CircularBufferLineList ring = ringOf("abcde", 6, &owner);
    BufferLine* leaving = ring[1].get();
    leaving->attachImage(std::make_shared<TestImage>());
    owner.linesWithImages = 1;
    EXPECT_TRUE(ring.shiftUpAndRecycle(1, 3, PackedCell(), false, BidiPresentationState()));
    EXPECT_EQ(tags(ring), "acd.e");
    EXPECT_EQ(ring[3].get(), leaving);
    EXPECT_EQ(owner.linesWithImages, 0);

    EXPECT_FALSE(ring.shiftUpAndRecycle(3, 2, PackedCell(), false, BidiPresentationState()));
    EXPECT_FALSE(ring.shiftUpAndRecycle(0, 5, PackedCell(), false, BidiPresentationState()));
    ASSERT_EQ(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines[0], "Assertion at top=3 bottom=2 count=5: bottom < top");
    EXPECT_EQ(capture.lines[1], "Assertion at top=0 bottom=5 count=5: bottom >= self.count");
    EXPECT_EQ(tags(ring), "acd.e");
}

// Every rotation of every region of a full ring, with the ring's start at every slot, so that
// regions lying in consecutive slots and regions wrapping round the slot array both move their
// lines as a model says, and reuse the ring's own line objects.
TEST(CircularBufferLineList, RotatingARegionMatchesAModelWhereverTheRingStarts)
{
    constexpr int size = 6;
    const std::string letters = "abcdefghijkl";
    for (int start = 0; start < size; ++start) {
        for (int top = 0; top < size; ++top) {
            for (int bottom = top; bottom < size; ++bottom) {
                const int height = bottom - top + 1;
                for (int count = 1; count <= height; ++count) {
                    for (const bool towardsTop : {true, false}) {
                        // Pushing `start` extra lines leaves the oldest kept one in slot `start`.
                        CircularBufferLineList ring = ringOf(letters.substr(0, size + start), size);
                        const std::string before = tags(ring);
                        std::vector<BufferLine*> objects;
                        for (int i = 0; i < size; ++i)
                            objects.push_back(ring[i].get());
                        const std::string region = before.substr(static_cast<size_t>(top), height);
                        const std::string blanks(static_cast<size_t>(count), '.');
                        const std::string moved =
                            towardsTop ? region.substr(static_cast<size_t>(count)) + blanks
                                       : blanks + region.substr(0, static_cast<size_t>(height - count));
                        const std::string expected =
                            before.substr(0, static_cast<size_t>(top)) + moved + before.substr(bottom + 1);
                        const bool shiftOne = towardsTop && count == 1;
                        ASSERT_TRUE(shiftOne ? ring.shiftUpAndRecycle(top, bottom, PackedCell(), false,
                                                                      BidiPresentationState())
                                             : ring.rotateAndRecycle(top, bottom, count, towardsTop,
                                                                     PackedCell(), BidiPresentationState()));
                        SCOPED_TRACE("start " + std::to_string(start) + " rows " + std::to_string(top) + "-" +
                                     std::to_string(bottom) + " by " + std::to_string(count) +
                                     (towardsTop ? " up" : " down"));
                        EXPECT_EQ(tags(ring), expected);
                        std::vector<BufferLine*> after;
                        for (int i = 0; i < size; ++i)
                            after.push_back(ring[i].get());
                        // The ring's own line objects, each in the row the rotation takes it to.
                        const auto regionBegin = objects.begin() + top;
                        const auto regionEnd = objects.begin() + bottom + 1;
                        std::rotate(regionBegin, towardsTop ? regionBegin + count : regionEnd - count,
                                    regionEnd);
                        EXPECT_EQ(after, objects)
                            << "the same line objects in their new rows, none made or lost";
                        for (int i = 0; i < size; ++i)
                            EXPECT_EQ(ring[i].use_count(), 1) << "row " << i << " owned once, by the ring";
                    }
                }
            }
        }
    }
}

// Rotations over rows whose slots were never filled: each empty slot gets the owner's blank line
// before its line moves, so that afterwards every row holds a line of its own.
TEST(CircularBufferLineList, RotationsFillTheEmptySlotsTheyMove)
{
    struct Case
    {
        const char* name;
        std::string pushed;
        int count;
        int top;
        int bottom;
        int by;
        bool towardsTop;
        std::string expected;
    };
    const Case cases[] = {
        {"up by one", "abc", 6, 1, 5, 1, true, "ac...."},
        {"up by two", "abc", 6, 1, 5, 2, true, "a....."},
        {"up by two, an empty slot first", "ab", 5, 2, 4, 2, true, "ab..."},
        {"down by one", "ab", 5, 0, 4, 1, false, ".ab.."},
        {"down by two", "abcd", 6, 1, 5, 2, false, "a..bcd"},
        {"up by three, the general rotation", "abcd", 8, 0, 6, 3, true, "d......-"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.name);
        FakeOwner owner(3);
        CircularBufferLineList ring = ringOf(entry.pushed, 8, &owner);
        ring.setCount(entry.count);
        const int empty = entry.count - static_cast<int>(entry.pushed.size());
        ASSERT_TRUE(ring.rotateAndRecycle(entry.top, entry.bottom, entry.by, entry.towardsTop, PackedCell(),
                                          BidiPresentationState()));
        EXPECT_EQ(tags(ring), entry.expected);
        int filled = 0;
        for (int row = entry.top; row <= entry.bottom; ++row) {
            EXPECT_TRUE(ring.lineIfPresent(row)) << "row " << row;
            filled += row >= static_cast<int>(entry.pushed.size()) ? 1 : 0;
        }
        EXPECT_EQ(owner.blankLinesMade, filled) << "one blank line per empty slot in the range";
        EXPECT_LE(filled, empty);
    }
}

TEST(CircularBufferLineList, SpliceDeletesInsertsAndReportsChanges)
{
    CircularBufferLineList ring = ringOf("abcde", 8);
    std::vector<int> changed;
    ring.splice(1, 2, {tagged('x')}, [&](int index) { changed.push_back(index); });
    EXPECT_EQ(tags(ring), "axde");
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, (std::vector<int>{1, 1, 2, 2, 3}))
        << "moves down (1, 2), moves up (2, 3), the item (1)";

    ring.splice(4, 0, {tagged('y'), tagged('z')});
    EXPECT_EQ(tags(ring), "axdeyz");
    ring.splice(0, 1, {});
    EXPECT_EQ(tags(ring), "xdeyz");
    ring.splice(3, 10, {});
    EXPECT_EQ(tags(ring), "xde") << "a delete count past the end is cut";
}

TEST(CircularBufferLineList, SpliceIntoAFullRingDropsTheOldest)
{
    CircularBufferLineList ring = ringOf("abcde", 5);
    ring.splice(3, 0, {tagged('x')});
    EXPECT_EQ(tags(ring), "bcxde");
    ring.splice(4, 1, {tagged('y'), tagged('z')});
    EXPECT_EQ(tags(ring), "cxdyz");

    // Inserting at the front of a full ring inserts into the part that drops out.
    ring = ringOf("abcde", 5);
    ring.splice(0, 0, {tagged('x'), tagged('y')});
    EXPECT_EQ(tags(ring), "abcde");
    ring.splice(1, 0, {tagged('x'), tagged('y')});
    EXPECT_EQ(tags(ring), "ybcde");
    ring.splice(0, 0, std::vector<LinePointer>(7, tagged('q')));
    EXPECT_EQ(tags(ring), "ybcde") << "more items than the ring holds";
}

TEST(CircularBufferLineList, CapacityChangesRelayTheLinesInOrder)
{
    CircularBufferLineList ring = ringOf("abcdefg", 5);
    EXPECT_EQ(tags(ring), "cdefg");
    ring.setMaxLength(8);
    ring.push(tagged('h'));
    EXPECT_EQ(tags(ring), "cdefgh");
    ring.setMaxLength(4);
    EXPECT_EQ(tags(ring), "efgh") << "the oldest lines drop out";
    EXPECT_TRUE(ring.isFull());
    ring.setCount(2);
    EXPECT_EQ(tags(ring), "ef");
}

TEST(CircularBufferLineList, AHugeCapacityAllocatesOnlyWhatIsUsed)
{
    CircularBufferLineList ring(0x7FFFFFFF);
    for (int i = 0; i < 3000; ++i)
        ring.push(tagged('a' + i % 26));
    EXPECT_LE(ring.slotCount(), 4096);
    ring.trimStart(1000);
    for (int i = 0; i < 3000; ++i)
        ring.push(tagged('a' + (3000 + i) % 26));
    EXPECT_EQ(ring.count(), 5000);
    EXPECT_EQ(ring.slotCount(), 8192) << "grown again after the start had moved";
    for (int i = 0; i < ring.count(); ++i)
        ASSERT_EQ(tagOf(ring[i]), 'a' + (1000 + i) % 26) << "line " << i << " after growth";
}

TEST(CircularList, PushesFillsAndTrims)
{
    CircularList<int> ring(3, [](int index) { return 100 + index; });
    ring.push(1);
    ring.push(2);
    ring.setCount(3);
    EXPECT_EQ(ring[2], 102) << "an empty slot is filled by the factory";
    ring.push(4);
    EXPECT_EQ(ring.count(), 3);
    EXPECT_EQ(ring[0], 2);
    EXPECT_EQ(ring[2], 4);
    ring.trimStart(2);
    EXPECT_EQ(ring.count(), 1);
    EXPECT_EQ(ring[0], 4);
    ring.reset(2);
    EXPECT_EQ(ring.count(), 0);
    EXPECT_EQ(ring.maxLength(), 2);
}
