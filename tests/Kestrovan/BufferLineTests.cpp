#include "TestSupport.h"

#include "Kestrovan/BufferLine.h"
#include "Kestrovan/Diagnostics.h"

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
using kestrovan::Character;
using kestrovan::CharacterStyle;
using kestrovan::CharData;
using kestrovan::PackedCell;
using kestrovan::PromptOriginProvider;
using kestrovan::SemanticMark;
using kestrovan::SemanticPromptKind;
using kestrovan::TerminalImage;
using Color = kestrovan::Attribute::Color;
using WidthState = kestrovan::PackedCell::WidthState;

using kestrovan::testing::DiagnosticCapture;
using kestrovan::testing::TestImage;

namespace {

constexpr uint64_t decoration = BufferLine::decorationChange;
constexpr SemanticPromptKind initial = SemanticPromptKind::initial;
constexpr SemanticPromptKind right = SemanticPromptKind::right;

PackedCell narrow(char32_t scalar)
{
    return PackedCell::makeScalar(scalar, 0, WidthState::single, false, 0, 0);
}

PackedCell lead(char32_t scalar)
{
    return PackedCell::makeScalar(scalar, 0, WidthState::lead, false, 0, 0);
}

PackedCell continuation()
{
    return PackedCell::makeScalar(0, 0, WidthState::continuation, false, 0, 0);
}

// A line written from a pattern, one character per column: letters are narrow cells, 'W' the
// lead and '>' the continuation of a wide character, '.' an empty cell. `shape` is the inverse.
std::shared_ptr<BufferLine> lineFrom(const std::string& pattern)
{
    auto line = std::make_shared<BufferLine>(static_cast<int>(pattern.size()));
    PackedCell* cells = line->mutableCells();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == 'W')
            cells[i] = lead(U'\u4E00');
        else if (pattern[i] == '>')
            cells[i] = continuation();
        else if (pattern[i] != '.')
            cells[i] = narrow(static_cast<char32_t>(pattern[i]));
    }
    line->raiseUsedLength(line->count());
    return line;
}

std::string shape(const BufferLine& line)
{
    std::string out;
    for (int i = 0; i < line.count(); ++i) {
        const PackedCell cell = line.packed(i);
        if (cell.isLead())
            out += 'W';
        else if (cell.isContinuation())
            out += '>';
        else if (cell.scalar() == 0)
            out += '.';
        else
            out += static_cast<char>(cell.scalar());
    }
    return out;
}

class FakePromptOrigins : public PromptOriginProvider
{
public:
    const BufferLine* startLine = nullptr;
    SemanticPromptKind kind = initial;
    int column = 0;
    std::vector<const BufferLine*> movedTo;

    bool isActivePromptOrigin(const BufferLine& line, SemanticPromptKind markKind,
                              int markColumn) const override
    {
        return &line == startLine && markKind == kind && markColumn == column;
    }
    void promptStartLineMoved(BufferLine& to) override
    {
        movedTo.push_back(&to);
        startLine = &to;
    }
};

} // namespace

TEST(BufferLine, ConstructionSetsTheTailBlank)
{
    EXPECT_EQ(BufferLine(8).usedLength(), 0);
    CharData coloured;
    coloured.attribute = Attribute(Color::defaultColor(), Color::ansi256(4));
    const BufferLine blue(6, coloured, true);
    EXPECT_EQ(blue.usedLength(), 0) << "a canonical blank fill counts as unused";
    EXPECT_EQ(blue.tailBlankCell().kind(), PackedCell::Kind::paletteBlank);
    EXPECT_TRUE(blue.isWrapped());

    const BufferLine letters(5, CharData(Attribute(), 'x', 1));
    EXPECT_EQ(letters.usedLength(), 5) << "a fill with a character is used everywhere";
    EXPECT_EQ(letters.debugDescription(), "xxxxx");

    auto arena = std::make_shared<CellArena>();
    const PackedCell blank =
        arena->canonicalBlank(Attribute(Color::defaultColor(), Color::trueColor(1, 2, 3)));
    const BufferLine owned(4, blank, blank, false, BidiPresentationState(), arena);
    EXPECT_EQ(owned.usedLength(), 0);
    const BufferLine mismatched(4, narrow('a'), blank, false, BidiPresentationState(), arena);
    EXPECT_EQ(mismatched.usedLength(), 4) << "a fill that is not the tail blank counts as used";
}

TEST(BufferLineDeathTest, AFillThatCannotBePackedStopsTheProgram)
{
    CharData bad;
    bad.code = 0xD800;
    EXPECT_DEATH(BufferLine(3, bad), "cannot be packed");
    BufferLine line(3);
    EXPECT_DEATH(line.set(1, bad), "cannot be packed");
    EXPECT_DEATH(line.fill(narrow('a'), 2, 2), "outside the line");
}

TEST(BufferLine, OutOfRangeWritesAreClampedWithADiagnostic)
{
    DiagnosticCapture capture;
    BufferLine line(4);
    line.set(4, CharData(Attribute(), 'z', 1));
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(
        capture.lines[0],
        "BufferLine: You passed an index out of range, adjusting to prevent crash, but you should debug");
    EXPECT_EQ(line[3].code, 'z');
    EXPECT_EQ(line.usedLength(), 4);
    EXPECT_EQ(line[100].code, 'z') << "reads past the end read the last column";

    line.set(-2, CharData(Attribute(), 'a', 1));
    EXPECT_EQ(capture.lines.size(), 2u);
    EXPECT_EQ(line[0].code, 'a');

    line.set(1, CharData(Attribute(), 'b', 1));
    EXPECT_EQ(capture.lines.size(), 2u) << "in-range writes print nothing";
    EXPECT_EQ(line.translateToString(), std::string("ab\0z", 4));
}

TEST(BufferLine, GenerationSeparatesContentFromDecoration)
{
    BufferLine line(4);
    line.setWrapped(false);
    line.setRenderMode(BufferLine::RenderLineMode::single);
    line.setSemanticHardContinuationGroup(std::nullopt);
    EXPECT_EQ(line.generation(), 0u) << "unchanged values count nothing";

    line.set(0, CharData(Attribute(), 'a', 1));
    line.setWrapped(true);
    BidiPresentationState rtl;
    rtl.fallbackDirection = kestrovan::BidiDirection::rightToLeft;
    line.setBidiState(rtl);
    EXPECT_EQ(line.generation(), 3u);

    line.setRenderMode(BufferLine::RenderLineMode::doubleWidth);
    line.setSemanticHardContinuationGroup(7);
    EXPECT_TRUE(line.attachImage(std::make_shared<TestImage>()));
    EXPECT_FALSE(line.attachImage(std::make_shared<TestImage>())) << "the list already exists";
    EXPECT_EQ(line.images()->size(), 2u);
    EXPECT_EQ(line.generation(), 3u + 4 * decoration);
    EXPECT_TRUE(line.clearImages());
    EXPECT_FALSE(line.clearImages());
    EXPECT_EQ(line.generation(), 3u + 5 * decoration);
}

TEST(BufferLine, InsertAndDeleteShiftUpToTheMarginAndKeepWideCharactersWhole)
{
    struct Case
    {
        const char* why;
        bool insert;
        const char* before;
        int pos, n, margin;
        const char* after;
    };
    const Case cases[] = {
        // Columns 2-4 move to 5-7, 8-9 stay; the wide character at 7-8 is cut by the margin.
        {"insert: a wide character cut by the margin is blanked", true, "abcdefgW>z", 2, 3, 7, "ab___cde.z"},
        {"insert: the insertion point splits a wide character", true, "abW>...xyz", 3, 2, 9, "ab.__....x"},
        {"insert: a wide character pushed across the margin", true, "abcdeW>hij", 0, 1, 6, "_abcde.hij"},
        {"insert: at least the span to the margin fills it", true, "abcdefghij", 6, 9, 7, "abcdef__ij"},
        {"insert: a cursor past the margin (pending wrap) inserts at it", true, "abcdefghij", 10, 1, 9,
         "abcdefghi_"},
        {"delete: shifts left up to the margin", false, "abcdefghij", 2, 3, 7, "abfgh___ij"},
        {"delete: n past the margin fills from pos to the margin", false, "abcdefghij", 3, 20, 7,
         "abc_____ij"},
        {"delete: the continuation half takes its lead", false, "abW>.fghij", 3, 1, 9, "ab..fghij_"},
        {"delete: a wide character straddling the run's end", false, "abcdW>hij.", 1, 4, 9, "a.hij.____"},
        {"delete: cells past the margin stay, wide ones too", false, "abcdefW>i.", 3, 4, 4, "abc__fW>i."},
    };
    for (const Case& c : cases) {
        auto line = lineFrom(c.before);
        if (c.insert)
            line->insertPackedCells(c.pos, c.n, c.margin, narrow('_'));
        else
            line->deletePackedCells(c.pos, c.n, c.margin, narrow('_'));
        EXPECT_EQ(shape(*line), c.after) << c.why;
        EXPECT_EQ(line->usedLength(), 10) << c.why;
    }
}

TEST(BufferLine, SeamRepairBlanksOnlyTheBrokenHalves)
{
    auto line = lineFrom("aW>d");
    const uint64_t before = line->generation();
    line->repairWideSeam(0);
    line->repairWideSeam(5);
    line->repairWideSeam(1);
    EXPECT_EQ(shape(*line), "aW>d") << "no wide character is split at these columns";
    EXPECT_EQ(line->generation(), before);
    line->repairWideSeam(2);
    EXPECT_EQ(shape(*line), "a..d");
    EXPECT_EQ(line->generation(), before + 1);

    // The look of a blanked half is kept.
    auto arena = std::make_shared<CellArena>();
    const uint16_t red = *arena->intern(Attribute(Color::ansi256(1), Color::defaultColor()));
    BufferLine styled(3, PackedCell(), PackedCell(), false, BidiPresentationState(), arena);
    styled.mutableCells()[0] = PackedCell::makeScalar(0x4E00, red, WidthState::lead, true, 5, 6);
    styled.mutableCells()[1] = PackedCell::makeScalar(0, red, WidthState::continuation, true, 5, 6);
    styled.repairWideSeam(1);
    EXPECT_EQ(styled.packed(0), PackedCell::makeScalar(0, red, WidthState::single, true, 5, 6));
    EXPECT_EQ(styled.packed(1), PackedCell::makeScalar(0, red, WidthState::single, true, 5, 6));

    // The print path's check: overwriting a continuation blanks its lead, overwriting a lead
    // blanks its continuation.
    for (const auto& [before, first, last, after] :
         {std::tuple{"W>c", 1, 1, ".>c"}, {"aW>W>", 2, 3, "a.>W."}, {"aW>W>", 0, 0, "aW>W>"}}) {
        line = lineFrom(before);
        line->repairSeamsForWriteSlow(first, line->packed(first), last, line->packed(last), line->count());
        EXPECT_EQ(shape(*line), after) << "writing " << before << " at " << first << "-" << last;
    }
}

TEST(BufferLine, TrimmedLengthAndContent)
{
    EXPECT_EQ(lineFrom("abc.......")->getTrimmedLength(), 3);
    EXPECT_EQ(lineFrom("........W>")->getTrimmedLength(), 10) << "a wide character at 8-9 of 10";
    EXPECT_EQ(BufferLine(10).getTrimmedLength(), 0);
    EXPECT_FALSE(BufferLine(10).hasAnyContent());

    CharData coloured;
    coloured.attribute = Attribute(Color::defaultColor(), Color::trueColor(9, 9, 9));
    BufferLine blanks(10, coloured);
    EXPECT_EQ(blanks.getTrimmedLength(), 0) << "coloured blanks hold no character";
    EXPECT_TRUE(blanks.hasAnyContent());
    EXPECT_TRUE(blanks.hasContent(9));

    BufferLine styled(5);
    CharData bold;
    bold.attribute = Attribute(Color::defaultColor(), Color::defaultColor(), CharacterStyle::bold);
    styled.set(2, bold);
    EXPECT_TRUE(styled.hasContent(2)) << "a styled empty cell shows";
    EXPECT_FALSE(styled.hasContent(1));
    EXPECT_EQ(styled.getTrimmedLength(), 0);
    EXPECT_TRUE(styled.hasAnyContent());

    // A lead cell in the last column never claims a column past the line.
    auto edge = std::make_shared<BufferLine>(3);
    edge->mutableCells()[2] = lead(U'\u4E00');
    edge->raiseUsedLength(3);
    EXPECT_EQ(edge->getTrimmedLength(), 3);
}

TEST(BufferLine, TranslateToStringWithAndWithoutSkipping)
{
    const auto line = lineFrom("aW>.b...");
    const std::string nul(1, '\0');
    EXPECT_EQ(line->translateToString(), "a\xE4\xB8\x80" + nul + nul + "b" + nul + nul + nul)
        << "empty cells contribute U+0000";
    EXPECT_EQ(line->translateToString(true), "a\xE4\xB8\x80" + nul + nul + "b");
    EXPECT_EQ(line->translateToString(true, 0, -1, true), "a\xE4\xB8\x80" + nul + "b")
        << "the continuation cell is skipped, the empty cell after it is not";
    EXPECT_EQ(line->translateToString(false, 1, 3, true), "\xE4\xB8\x80");
    EXPECT_EQ(line->translateToString(true, 6, -1, false), "");
    EXPECT_EQ(line->translateToString(true, 6, -1, true), "") << "end below start";
    EXPECT_EQ(BufferLine(4).translateToString(true, 0, -1, true), "");

    const auto text = [](const CharData& data) -> std::optional<std::string> {
        if (data.code == 'a')
            return std::string("<a>");
        return std::nullopt;
    };
    const auto character = [](const CharData& data) -> std::optional<Character> {
        if (data.code == 0)
            return Character(U' ');
        return std::nullopt;
    };
    EXPECT_EQ(line->translateToString(true, 0, -1, true, character, text), "<a>\xE4\xB8\x80 b");
    EXPECT_EQ(line->translateToString(false, 0, -1, false, character, text), "<a>\xE4\xB8\x80  b   ");
}

TEST(BufferLine, RecycleRewritesOnlyTheUsedPrefixWhenTheTailMatches)
{
    // A marker planted in the tail (breaking the tail invariant on purpose) survives the recycle,
    // which shows that only the used prefix is rewritten.
    auto fresh = std::make_shared<BufferLine>(10);
    fresh->mutableCells()[1] = narrow('q');
    fresh->raiseUsedLength(2);
    fresh->mutableCells()[8] = narrow('!');
    fresh->attachImage(std::make_shared<TestImage>());
    const uint64_t generation = fresh->generation();
    EXPECT_TRUE(fresh->recycle(PackedCell(), true, BidiPresentationState()));
    EXPECT_EQ(shape(*fresh), "........!.");
    EXPECT_EQ(fresh->usedLength(), 0);
    EXPECT_EQ(fresh->recycleGeneration(), 1u);
    EXPECT_EQ(fresh->generation(), generation + 1);
    EXPECT_TRUE(fresh->isWrapped());
    EXPECT_FALSE(fresh->hasImages());

    // A different blank rewrites every cell; marks, group, images and line size are reset.
    auto line = lineFrom("abc.......");
    line->setRenderMode(BufferLine::RenderLineMode::doubledTop);
    line->setSemanticMark(initial, 1, 3);
    line->setSemanticHardContinuationGroup(3);
    line->attachImage(std::make_shared<TestImage>());
    line->setEndsWithWideGap(true);
    const PackedCell blue = PackedCell::makePaletteBlank(4, WidthState::single, false, 0, 0);
    EXPECT_TRUE(line->recycle(blue, false, BidiPresentationState()));
    for (int i = 0; i < line->count(); ++i)
        ASSERT_EQ(line->packed(i), blue) << "column " << i;
    EXPECT_EQ(line->tailBlankCell(), blue);
    EXPECT_TRUE(line->semanticMarks().empty());
    EXPECT_FALSE(line->semanticHardContinuationGroup());
    EXPECT_EQ(line->renderMode(), BufferLine::RenderLineMode::single);
    EXPECT_FALSE(line->endsWithWideGap()) << "a new row has no gap";
    EXPECT_FALSE(line->recycle(blue, false, BidiPresentationState())) << "no images the second time";
}

TEST(BufferLine, SemanticMarksStayOnePerKindAndSorted)
{
    BufferLine line(10);
    line.setSemanticMark(right, 8, 1);
    line.setSemanticMark(initial, 4, 1);
    line.setSemanticMark(initial, 2, 2);
    using Marks = std::vector<SemanticMark>;
    EXPECT_EQ(line.semanticMarks(), (Marks{{initial, 2, 2}, {right, 8, 1}}));
    line.marksShift(3, 5, 9);
    EXPECT_EQ(line.semanticMarks(), (Marks{{initial, 2, 2}, {right, 9, 1}}))
        << "left of `from` unchanged, clamped to the right margin";
    line.marksShift(2, -10, 9);
    EXPECT_EQ(line.semanticMarks(), (Marks{{initial, 2, 2}, {right, 2, 1}}))
        << "clamped to `from`; never dropped";

    line.setSemanticMark(SemanticPromptKind::secondary, -3, 0);
    line.marksClampTo(2);
    for (const SemanticMark& mark : line.semanticMarks())
        EXPECT_TRUE(mark.column >= 0 && mark.column <= 1);
    const uint64_t generation = line.generation();
    line.marksClampTo(0);
    EXPECT_TRUE(line.semanticMarks().empty());
    EXPECT_EQ(line.generation(), generation + decoration);
}

TEST(BufferLine, ResizeKeepsThePrefixAndCountsTheRightChange)
{
    auto line = lineFrom("abcd");
    line->setSemanticMark(initial, 3, 1);
    uint64_t generation = line->generation();
    line->resize(6, PackedCell());
    EXPECT_EQ(shape(*line), "abcd..");
    EXPECT_EQ(line->usedLength(), 6);
    EXPECT_EQ(line->generation(), generation + decoration) << "growing with a zero fill";

    generation = line->generation();
    line->resize(8, narrow('+'));
    EXPECT_EQ(shape(*line), "abcd..++");
    EXPECT_EQ(line->generation(), generation + 1);

    generation = line->generation();
    line->resize(6, PackedCell());
    EXPECT_EQ(line->generation(), generation + 1) << "cut off non-zero cells";
    generation = line->generation();
    line->resize(2, PackedCell());
    EXPECT_EQ(shape(*line), "ab");
    EXPECT_EQ(line->semanticMarks()[0].column, 1) << "marks clamped into the new width";
    line->resize(2, PackedCell());
    EXPECT_EQ(line->usedLength(), 2);
}

TEST(BufferLine, CopiesShareOrRepackAgainstTheRightArena)
{
    auto source = lineFrom("aW>b");
    source->setSemanticMark(initial, 0, 4);
    source->setSemanticHardContinuationGroup(4);
    source->attachImage(std::make_shared<TestImage>());
    source->setRenderMode(BufferLine::RenderLineMode::doubleWidth);
    source->setEndsWithWideGap(true);

    const BufferLine copy(*source);
    EXPECT_NE(copy.renderIdentity(), source->renderIdentity());
    EXPECT_NE(copy.storage(), source->storage());
    EXPECT_EQ(shape(copy), "aW>b");
    EXPECT_TRUE(copy.hasImages() && copy.semanticHardContinuationGroup() == 4u &&
                copy.renderMode() == BufferLine::RenderLineMode::doubleWidth && copy.endsWithWideGap())
        << "a copy carries images, group, render mode and wide gap";

    // Into a line with another arena: cells and tail are re-packed; render mode and images stay.
    CharData boldBlank;
    boldBlank.attribute = Attribute(Color::ansi256(3), Color::defaultColor(), CharacterStyle::bold);
    BufferLine styled(4, boldBlank);
    styled.set(0, CharData(boldBlank.attribute, 'x', 1));
    BufferLine target(2);
    target.copyFrom(styled);
    EXPECT_EQ(target.count(), 4) << "the line takes the source's width";
    EXPECT_NE(target.arena(), styled.arena()) << "and keeps its own arena";
    EXPECT_EQ(target.arena()->unpack(target.packed(0)).attribute, boldBlank.attribute);
    EXPECT_EQ(target.arena()->unpack(target.tailBlankCell()).attribute, boldBlank.attribute);
    EXPECT_EQ(target.usedLength(), styled.usedLength());

    BufferLine same(3);
    const uint64_t generation = same.generation();
    same.copyFrom(same);
    EXPECT_EQ(same.generation(), generation + 1) << "copying a line onto itself counts one change";

    auto withImages = lineFrom("xyz");
    withImages->attachImage(std::make_shared<TestImage>());
    withImages->copyFrom(*source);
    EXPECT_TRUE(withImages->hasImages()) << "images are not copied by copyFrom";
    EXPECT_EQ(withImages->renderMode(), BufferLine::RenderLineMode::single);
    EXPECT_EQ(withImages->semanticMarks(), source->semanticMarks());
    EXPECT_TRUE(withImages->endsWithWideGap()) << "the gap goes with the last column";
}

TEST(BufferLine, AdoptingAnArenaReencodesEveryCell)
{
    CharData red(Attribute(Color::ansi256(1), Color::defaultColor()), 'r', 1);
    BufferLine line(3, CharData(Attribute(Color::ansi256(2), Color::ansi256(3)), 0, 1));
    line.set(1, red);
    CharData cluster;
    cluster.setCharacter(Character(U"e\u0301"), 1);
    line.set(2, cluster);
    const auto buffer = std::make_shared<CellArena>();
    ASSERT_TRUE(buffer->intern(Attribute::empty));
    line.adoptArena(buffer);
    EXPECT_EQ(line.arena(), buffer);
    EXPECT_EQ(line[1], red);
    EXPECT_EQ(line[2], cluster);
    EXPECT_EQ(line[0].attribute, Attribute(Color::ansi256(2), Color::ansi256(3)));
    EXPECT_EQ(buffer->unpack(line.tailBlankCell()).attribute, line[0].attribute);
}

TEST(BufferLine, RangeCopiesCarryMarksAndGroups)
{
    auto buffer = std::make_shared<CellArena>();
    const auto make = [&](const char* text) {
        auto line = std::make_shared<BufferLine>(6, PackedCell(), PackedCell(), false,
                                                 BidiPresentationState(), buffer);
        for (int i = 0; text[i]; ++i)
            line->mutableCells()[i] = narrow(static_cast<char32_t>(text[i]));
        line->raiseUsedLength(6);
        return line;
    };
    auto from = make("abcdef");
    auto to = make("uvwxyz");
    from->setSemanticMark(initial, 1, 5);
    from->setSemanticMark(right, 4, 5);
    to->setSemanticMark(initial, 5, 9);
    to->setSemanticMark(SemanticPromptKind::continuation, 3, 9);

    to->copyFrom(*from, 0, 2, 3);
    EXPECT_EQ(shape(*to), "uvabcz");
    ASSERT_EQ(to->semanticMarks().size(), 1u) << "the continuation mark in the destination range went, the "
                                                 "carried initial mark lost to the one here";
    EXPECT_EQ(to->semanticMarks()[0], (SemanticMark{initial, 5, 9}));

    // Within one line, marks in the source range move with the cells.
    from->copyFrom(*from, 3, 0, 3);
    EXPECT_EQ(shape(*from), "defdef");
    ASSERT_EQ(from->semanticMarks().size(), 1u);
    EXPECT_EQ(from->semanticMarks()[0], (SemanticMark{right, 1, 5}));

    // The whole line moves its hard-continuation group, and takes its wide gap.
    from->setSemanticHardContinuationGroup(12);
    from->setEndsWithWideGap(true);
    to->copyFrom(*from, 0, 0, 6);
    EXPECT_EQ(to->semanticHardContinuationGroup(), 12u);
    EXPECT_FALSE(from->semanticHardContinuationGroup());
    EXPECT_TRUE(to->endsWithWideGap());
    from->setEndsWithWideGap(false);
    to->copyFrom(*from, 0, 0, 5);
    EXPECT_EQ(to->semanticHardContinuationGroup(), 12u) << "a partial copy leaves the group alone";
    EXPECT_TRUE(to->endsWithWideGap()) << "and the gap";
}

TEST(BufferLine, TheActivePromptOriginWinsAndMovesTheStartLine)
{
    auto buffer = std::make_shared<CellArena>();
    FakePromptOrigins origins;
    auto ref = std::make_shared<BufferRef>(nullptr, &origins);
    const auto make = [&] {
        auto line = std::make_shared<BufferLine>(6, PackedCell(), PackedCell(), false,
                                                 BidiPresentationState(), buffer);
        line->setOwningBufferRef(ref);
        return line;
    };
    auto start = make();
    auto other = make();
    start->setSemanticMark(initial, 2, 7);
    other->setSemanticMark(initial, 4, 3);
    origins.startLine = start.get();
    origins.column = 2;

    other->copyFrom(*start, 0, 0, 3);
    ASSERT_EQ(other->semanticMarks().size(), 1u);
    EXPECT_EQ(other->semanticMarks()[0], (SemanticMark{initial, 2, 7}))
        << "the carried origin replaces a stale mark of the same kind";
    ASSERT_EQ(origins.movedTo.size(), 1u);
    EXPECT_EQ(origins.movedTo[0], other.get());

    // Copying a non-origin mark onto the origin line keeps the origin.
    auto third = make();
    third->setSemanticMark(initial, 0, 1);
    other->copyFrom(*third, 0, 0, 1);
    EXPECT_EQ(other->semanticMarks()[0], (SemanticMark{initial, 2, 7}));
    EXPECT_EQ(origins.movedTo.size(), 1u);

    // Once the buffer has gone, no mark counts as the origin and nothing is reported.
    ref->clear();
    third->copyFrom(*other, 2, 3, 1);
    ASSERT_EQ(third->semanticMarks().size(), 1u);
    EXPECT_EQ(third->semanticMarks()[0], (SemanticMark{initial, 0, 1}));
    EXPECT_EQ(origins.movedTo.size(), 1u);
}

TEST(BufferLine, SnapshotCopiesUseTheSnapshotArena)
{
    auto live = lineFrom("abc");
    CharData bold(Attribute(Color::ansi256(1), Color::defaultColor(), CharacterStyle::bold), 'B', 1);
    live->set(1, bold);
    live->setSemanticMark(initial, 0, 1);
    live->setRenderMode(BufferLine::RenderLineMode::doubledDown);
    auto snapshotArena = CellArena::makeSnapshot(*live->arena());

    BufferLine snapshot(1);
    snapshot.setSemanticMark(right, 0, 2);
    snapshot.copyForSnapshot(*live, snapshotArena);
    EXPECT_EQ(snapshot.arena(), snapshotArena);
    EXPECT_EQ(snapshot[1], bold);
    EXPECT_TRUE(snapshot.semanticMarks().empty()) << "snapshot lines carry no marks";
    EXPECT_EQ(snapshot.renderMode(), BufferLine::RenderLineMode::doubledDown);
    const auto page = snapshot.storage();

    live->set(2, CharData(Attribute(), 'Z', 1));
    snapshot.copyForSnapshot(*live, snapshotArena);
    EXPECT_EQ(snapshot.storage(), page) << "same arena and length: the page is reused";
    EXPECT_EQ(snapshot[2].code, 'Z');
}

TEST(BufferLineDeathTest, ASnapshotArenaMustPreserveTheSourceEncoding)
{
    auto live = lineFrom("abc");
    BufferLine snapshot(3);
    EXPECT_DEATH(snapshot.copyForSnapshot(*live, std::make_shared<CellArena>()), "does not preserve");
    auto snapshotArena = CellArena::makeSnapshot(*live->arena());
    snapshot.copyForSnapshot(*live, snapshotArena);
    live->set(0, CharData(Attribute(Color::ansi256(9), Color::defaultColor()), 'n', 1));
    EXPECT_DEATH(snapshot.copyForSnapshot(*live, snapshotArena), "does not preserve")
        << "the source gained an attribute the snapshot arena has not synchronised";
}

TEST(BufferLine, FillAndReplaceRaiseTheUsedLength)
{
    BufferLine line(8);
    line.fill(narrow('-'), 2, 3);
    EXPECT_EQ(shape(line), "..---...");
    EXPECT_EQ(line.usedLength(), 5);
    line.replacePackedCells(6, 20, narrow('+'));
    EXPECT_EQ(shape(line), "..---.++");
    EXPECT_EQ(line.usedLength(), 8);
    line.replaceCells(-3, 1, CharData(Attribute(), '<', 1));
    EXPECT_EQ(shape(line), "<.---.++");
    line.fill(CharData(Attribute(), '=', 1));
    EXPECT_EQ(shape(line), "========");
    EXPECT_EQ(line.getData().size(), 8u);
    EXPECT_EQ(line.getData()[7].code, '=');
}

// Erasing to the end of a line writes only the used cells when the fill is the tail blank and
// lowers the used length; the cells must come out as the plain fill leaves them, and every cell
// from the used length on must still equal the tail blank.
TEST(BufferLine, EraseToEndMatchesThePlainFill)
{
    auto arena = std::make_shared<CellArena>();
    const PackedCell tail = PackedCell();
    const PackedCell blue = arena->canonicalBlank(Attribute(Color::defaultColor(), Color::ansi256(4)));
    const PackedCell lead = PackedCell::makeScalar(0x4E00, 0, WidthState::lead, false, 0, 0);
    const PackedCell continuation = PackedCell::makeScalar(0, 0, WidthState::continuation, false, 0, 0);
    struct Case
    {
        const char* why;
        int written;
        int start;
        PackedCell fill;
    };
    const Case cases[] = {
        {"the right side is blank already", 3, 5, tail},
        {"the erase starts at the used length", 4, 4, tail},
        {"the erase cuts the used cells", 7, 2, tail},
        {"the whole line", 10, 0, tail},
        {"a start before the line", 6, -3, tail},
        {"a start past the line", 6, 12, tail},
        {"a coloured erase on a blank right side", 3, 5, blue},
        {"a coloured erase cutting the used cells", 7, 2, blue},
    };
    for (const Case& c : cases) {
        BufferLine erased(10, tail, tail, false, BidiPresentationState(), arena);
        erased.replacePackedCells(0, 1, lead);
        erased.replacePackedCells(1, 2, continuation);
        for (int col = 2; col < c.written; ++col)
            erased.replacePackedCells(col, col + 1, narrow(U'a' + static_cast<char32_t>(col)));
        BufferLine plain(10, tail, tail, false, BidiPresentationState(), arena);
        plain.copyFrom(erased);
        const uint64_t generation = erased.generation();

        erased.eraseToEnd(c.start, c.fill);
        plain.replacePackedCells(c.start, plain.count(), c.fill);
        for (int col = 0; col < 10; ++col)
            EXPECT_EQ(erased.cells()[col], plain.cells()[col]) << c.why << ", column " << col;
        for (int col = erased.usedLength(); col < 10; ++col)
            EXPECT_EQ(erased.cells()[col], erased.tailBlankCell()) << c.why << ", tail column " << col;
        const bool changes = c.start < 10 && (c.fill != tail || std::max(c.start, 0) < c.written);
        EXPECT_EQ(erased.generation() != generation, changes) << c.why;
    }
}
