// Unicode placeholders of kitty graphics: decoding cells with inheritance, and the pieces of
// virtual placements the visible placeholder cells show.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include "Kestrovan/Portable/KittyPlaceholderDecoder.h"
#include "Kestrovan/Portable/KittyPlaceholderPlacements.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using testing::KittyFixture;
using testing::solidRgba;

constexpr uint32_t P = 0x10EEEE;
// Diacritics of index 0, 1 and 2.
constexpr uint32_t d0 = 0x0305;
constexpr uint32_t d1 = 0x030D;
constexpr uint32_t d2 = 0x030E;

Attribute colored(Attribute::Color fg, std::optional<Attribute::Color> underline = std::nullopt)
{
    Attribute attribute;
    attribute.fg = fg;
    attribute.underlineColor = underline;
    return attribute;
}

/// Decodes one line of cells, each a list of scalars, all with the attribute of its index.
std::vector<std::optional<KittyPlaceholderCell>> decodeLine(const std::vector<std::vector<uint32_t>>& cells,
                                                            const std::vector<Attribute>& attributes)
{
    std::vector<std::optional<KittyPlaceholderCell>> out;
    std::optional<KittyPlaceholderCell> previous;
    std::optional<Attribute> previousAttribute;
    for (size_t col = 0; col < cells.size(); ++col) {
        const auto cell = KittyPlaceholderDecoder::decode(
            cells[col], attributes[col], 0, static_cast<int64_t>(col), previous, previousAttribute);
        out.push_back(cell);
        previous = cell;
        previousAttribute = attributes[col];
    }
    return out;
}

std::string grid(const std::vector<std::optional<KittyPlaceholderCell>>& cells)
{
    std::string out;
    for (const auto& cell : cells)
        out += cell ? std::to_string(cell->placeholderRow) + ":" + std::to_string(cell->placeholderCol) + " "
                    : "- ";
    return out;
}

TEST(KittyPlaceholders, DiacriticTableHasThePublishedList)
{
    const auto& table = KittyPlaceholder::diacriticIndex();
    EXPECT_EQ(table.size(), 297u);
    EXPECT_EQ(table.at(0x0305), 0);
    EXPECT_EQ(table.at(0x034A), 9);
    EXPECT_EQ(table.at(0x1D244), 296);
    EXPECT_EQ(table.count(0x0300), 0u);
}

TEST(KittyPlaceholders, CellsInheritAlongARunAndRestartOnAColourChange)
{
    const Attribute red = colored(Attribute::Color::ansi256(1));
    const Attribute blue = colored(Attribute::Color::ansi256(4));
    EXPECT_EQ(grid(decodeLine({{P, d1, d2}, {P}, {P}, {P}}, {red, red, red, red})), "1:2 1:3 1:4 1:5 ");
    EXPECT_EQ(grid(decodeLine({{P, d1, d0}, {P}, {P}, {P}}, {red, red, blue, blue})), "1:0 1:1 0:0 0:1 ")
        << "a new colour restarts at column 0";
    EXPECT_EQ(grid(decodeLine({{P, d1, d0}, {P, d1}, {P, d2}, {P, 0x0300, d2, 'x'}}, {red, red, red, red})),
              "1:0 1:1 2:0 2:1 ")
        << "a row diacritic continues only its own row; other marks are passed over";
    EXPECT_EQ(grid(decodeLine({{'x'}, {P}, {P, d0, d2}}, {red, red, red})), "- 0:0 0:2 ");

    // The id: 24 bits of foreground and the high byte, which a run inherits.
    const Attribute image300 = colored(Attribute::Color::trueColor(0, 1, 44), Attribute::Color::ansi256(7));
    const auto cells = decodeLine({{P, d0, d0, d2}, {P}, {P, d0, d2}}, {image300, image300, image300});
    EXPECT_EQ(cells[0]->imageId, 2u * (1u << 24) + 300u);
    EXPECT_EQ(cells[0]->msb, 2);
    EXPECT_EQ(cells[0]->placementId, 7u);
    EXPECT_EQ(cells[1]->imageId, 2u * (1u << 24) + 300u) << "inherited high byte";
    EXPECT_EQ(cells[2]->imageId, 2u * (1u << 24) + 300u) << "row and column that continue the run";
    EXPECT_EQ(decodeLine({{P}}, {image300})[0]->imageId, 300u);
    EXPECT_EQ(decodeLine({{P}}, {colored(Attribute::Color::defaultColor())})[0]->imageId, 0u);
    // The decoder of characters agrees with the one of scalars.
    EXPECT_EQ(KittyPlaceholderDecoder::decode(Character(std::u32string{P, d1}), image300, 3, 4, std::nullopt,
                                              std::nullopt)
                  ->placeholderRow,
              1);
}

TEST(KittyPlaceholders, VisiblePiecesFitCentreAndClip)
{
    KittyFixture fixture(10, 4, 10);
    // Image 1: 20 x 10 pixels in a virtual placement of 2 x 2 cells of 10 x 10: fitted at half
    // scale... here the box is 20 x 20, so the image is 20 x 10, centred 5 pixels down.
    fixture.transmitRgba("a=T,U=1,q=2,i=1,c=2,r=2", 20, 10, solidRgba(200, 1, 1, 1));
    fixture.transmitRgba("a=T,U=1,q=2,i=2,p=4,c=1,r=1", 10, 10, solidRgba(100, 2, 2, 2));
    fixture.command("a=p,U=1,q=2,i=2,p=5,c=2,r=1");
    // Row 0: image 1 cells (0,0) (0,1) then one beyond its grid; row 1: image 2 naming no
    // placement, then naming placement 4.
    fixture.t().feed("\x1b[H\x1b[38;5;1m\U0010EEEE\u0305\u0305\U0010EEEE\U0010EEEE\r\n");
    fixture.t().feed("\x1b[38;5;2m\U0010EEEE\x1b[58;5;4m\U0010EEEE\u0305\u0305");
    const KittyGraphicsRenderSnapshot snapshot = fixture.t().kittyGraphicsRenderSnapshot();
    const auto pieces = visibleKittyPlaceholderPlacements(fixture.t(), snapshot, 10, 10);
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_EQ(pieces[0].imageId, 1u);
    EXPECT_EQ(pieces[0].destination, (TerminalKittyPlaceholderRect{0, 5, 10, 5})) << "letterboxed at the top";
    EXPECT_EQ(pieces[0].source, (TerminalKittyPlaceholderRect{0, 0, 10, 5}));
    EXPECT_EQ(pieces[1].destination, (TerminalKittyPlaceholderRect{10, 5, 10, 5}));
    EXPECT_EQ(pieces[1].source, (TerminalKittyPlaceholderRect{10, 0, 10, 5}));
    // The third cell of row 0 lies beyond the placement's grid and draws nothing. Row 1 first
    // names no placement: every virtual placement of image 2 covering grid cell (0,0) is drawn.
    EXPECT_EQ(pieces[2].imageId, 2u);
    EXPECT_EQ(pieces[2].destination, (TerminalKittyPlaceholderRect{0, 10, 10, 10}));
    EXPECT_EQ(pieces[3].destination, (TerminalKittyPlaceholderRect{5, 10, 5, 10}))
        << "placement 5 is a 2 x 1 box: the square image is centred in it";
    EXPECT_EQ(pieces[3].source, (TerminalKittyPlaceholderRect{0, 0, 5, 10}));
    EXPECT_EQ(pieces[3].token, snapshot.placements.back().token);
    // The last cell names placement 4 with new colours: no inheritance, its own grid cell (0,0).
    EXPECT_EQ(pieces[4].destination, (TerminalKittyPlaceholderRect{10, 10, 10, 10}));
    EXPECT_TRUE(visibleKittyPlaceholderPlacements(fixture.t(), snapshot, 0.5, 10).empty());

    // Lines scrolled off the view show nothing; scrolled back into view they do again.
    fixture.t().feed("\x1b[0m\r\n\r\n\r\n\r\n\r\n");
    EXPECT_TRUE(
        visibleKittyPlaceholderPlacements(fixture.t(), fixture.t().kittyGraphicsRenderSnapshot(), 10, 10)
            .empty());
    fixture.t().scrollViewportTo(0);
    EXPECT_EQ(
        visibleKittyPlaceholderPlacements(fixture.t(), fixture.t().kittyGraphicsRenderSnapshot(), 10, 10)
            .size(),
        pieces.size());
}

} // namespace
} // namespace kestrovan
