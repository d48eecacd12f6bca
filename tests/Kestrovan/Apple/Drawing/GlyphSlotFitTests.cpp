// Glyph slot fit: wide glyphs centred unscaled, oversized ones shrunk with their ink centred on
// the cell (never below 0.1), fallback glyphs narrowed to one cell, and placement policies that
// cover, stretch or fit as icons, with real glyphs of the terminal, CJK and emoji fonts.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/GlyphSlotFit.h"

#include <gtest/gtest.h>

using namespace kestrovan;
using platform::FontRef;
using platform::FontSet;
using platform::GlyphBounds;
using platform::Size;

namespace {

using Placement = TerminalGlyphPlacementPolicy::Placement;

struct Fixture
{
    FontRef terminal = drawing_test::terminalFont(13);
    FontRef cjk = platform::Font::named("Noto Sans CJK JP", 13);
    FontRef emoji = platform::Font::named("Noto Color Emoji", 40);
    FontSet fonts = FontSet::fromNormal(terminal);
    double cellWidth = terminal->advance(*terminal->glyph(U'M'));

    GlyphSlotFitter fitter(Size cell) const { return GlyphSlotFitter(fonts, cell); }
};

TerminalGlyphPlacementPolicy policy(Placement placement)
{
    TerminalGlyphPlacementPolicy made;
    made.placement = placement;
    return made;
}

/// Where the ink's vertical centre lands above the row's bottom edge once the fit is applied.
double inkCentre(const GlyphSlotFitter& fitter, const GlyphSlotFit& fit, const GlyphBounds& bounds)
{
    return fitter.baselineOffset() + fit.dy + fit.scaleY * (bounds.y + bounds.height * 0.5);
}

} // namespace

TEST(GlyphSlotFit, AWideGlyphThatFitsIsCentredByItsAdvanceUnscaled)
{
    Fixture f;
    ASSERT_TRUE(f.cjk) << "Noto Sans CJK (fonts-noto-cjk) is needed";
    const GlyphSlotFitter fitter = f.fitter(Size{f.cellWidth, 17});
    const platform::GlyphId glyph = *f.cjk->glyph(U'中');
    const GlyphSlotFit fit = fitter.glyphSlotFit(*f.cjk, glyph, 2);
    EXPECT_TRUE(fit.isUnscaled());
    EXPECT_DOUBLE_EQ(fit.dx, (2 * f.cellWidth - f.cjk->advance(glyph)) * 0.5);
    EXPECT_EQ(fit.dy, 0);
    // One column, or a cell size not yet measured: left alone.
    EXPECT_EQ(fitter.glyphSlotFit(*f.cjk, glyph, 1), GlyphSlotFit::identity());
    EXPECT_EQ(GlyphSlotFitter(f.fonts, std::nullopt).glyphSlotFit(*f.cjk, glyph, 2),
              GlyphSlotFit::identity());
}

TEST(GlyphSlotFit, AnOversizedGlyphShrinksToItsSlotWithItsInkCentredNeverBelowATenth)
{
    Fixture f;
    ASSERT_TRUE(f.emoji) << "Noto Color Emoji (fonts-noto-color-emoji) is needed";
    const platform::GlyphId glyph = *f.emoji->glyph(U'😀');
    const GlyphBounds bounds = f.emoji->bounds(glyph);
    ASSERT_FALSE(bounds.isEmpty());

    // Three times the cell height, in a slot wide enough: scaled to a third, centred both ways.
    const Size cell{bounds.width / 3, bounds.height / 3};
    const GlyphSlotFitter fitter = f.fitter(cell);
    const GlyphSlotFit third = fitter.glyphSlotFit(*f.emoji, glyph, 2);
    EXPECT_NEAR(third.scaleX, 1.0 / 3, 1e-9);
    EXPECT_EQ(third.scaleX, third.scaleY);
    EXPECT_NEAR(inkCentre(fitter, third, bounds), cell.height * 0.5, 1e-9);
    EXPECT_NEAR(third.dx, (2 * cell.width - f.emoji->advance(glyph) * third.scaleX) * 0.5, 1e-9);

    // Twenty times: a tenth, the floor.
    const GlyphSlotFitter tiny = f.fitter(Size{bounds.width / 20, bounds.height / 20});
    EXPECT_EQ(tiny.glyphSlotFit(*f.emoji, glyph, 2).scaleX, GlyphSlotFitter::minimumScale);
}

TEST(GlyphSlotFit, FallbackGlyphsAreNarrowedToOneCellOnly)
{
    Fixture f;
    ASSERT_TRUE(f.cjk);
    const platform::GlyphId wide = *f.cjk->glyph(U'中');
    const GlyphSlotFitter fitter = f.fitter(Size{f.cellWidth, 17});
    const GlyphSlotFit narrowed = fitter.fallbackGlyphFit(*f.cjk, wide);
    EXPECT_DOUBLE_EQ(narrowed.scaleX, f.cellWidth / f.cjk->advance(wide));
    EXPECT_EQ(narrowed.dx, 0);
    EXPECT_EQ(fitter.fallbackGlyphFit(*f.terminal, *f.terminal->glyph(U'i')), GlyphSlotFit::identity())
        << "a glyph narrower than the cell is left alone";

    EXPECT_TRUE(fitter.isPrimaryFont(*f.terminal));
    EXPECT_TRUE(fitter.isPrimaryFont(*platform::Font::named("JetBrainsMono-Regular", 13)))
        << "the same face and size made apart";
    EXPECT_FALSE(fitter.isPrimaryFont(*f.cjk));
    EXPECT_FALSE(fitter.isPrimaryFont(*f.terminal->withSize(14)));
}

TEST(GlyphSlotFit, PoliciesCoverStretchOrFitAsIconsThatNeverGrow)
{
    Fixture f;
    const platform::GlyphId dot = *f.terminal->glyph(U'x');
    const GlyphBounds bounds = f.terminal->bounds(dot);
    const GlyphSlotFitter fitter = f.fitter(Size{30, 60});

    // Cover grows a small glyph until one side fills the area, and centres it.
    const GlyphSlotFit cover = fitter.glyphSlotFit(*f.terminal, dot, 1, policy(Placement::cover));
    EXPECT_NEAR(cover.scaleX, std::min(30 / bounds.width, 60 / bounds.height), 1e-9);
    EXPECT_GT(cover.scaleX, 1);
    EXPECT_NEAR(cover.dx + cover.scaleX * (bounds.x + bounds.width * 0.5), 15, 1e-9) << "centred across";
    EXPECT_NEAR(inkCentre(fitter, cover, bounds), 30, 1e-9) << "centred down";

    // Stretch fills both directions apart.
    const GlyphSlotFit stretch = fitter.glyphSlotFit(*f.terminal, dot, 1, policy(Placement::stretch));
    EXPECT_NEAR(stretch.scaleX * bounds.width, 30, 1e-9);
    EXPECT_NEAR(stretch.scaleY * bounds.height, 60, 1e-9);

    // An icon never grows.
    for (Placement placement : {Placement::icon, Placement::explicitWidth, Placement::grouped})
        EXPECT_TRUE(fitter.glyphSlotFit(*f.terminal, dot, 1, policy(placement)).isUnscaled());

    // Padding shrinks the area: a cover glyph in a cell with a quarter padded off each side.
    TerminalGlyphPlacementPolicy padded = policy(Placement::cover);
    padded.padding = TerminalGlyphPadding{0.25, 0.25, 0.25, 0.25};
    EXPECT_NEAR(fitter.glyphSlotFit(*f.terminal, dot, 1, padded).scaleX, cover.scaleX * 0.5, 1e-9);
}

TEST(GlyphSlotFit, AOneCellIconStandsNoTallerThanTheAscentATwoCellIconUsesTheCell)
{
    Fixture f;
    const platform::GlyphId block = *f.terminal->glyph(U'█');
    const GlyphBounds bounds = f.terminal->bounds(block);
    const double ascent = f.terminal->metrics().ascent;
    // A cell taller than the ascent and so wide that height decides.
    const GlyphSlotFitter fitter = f.fitter(Size{40, bounds.height * 0.9});
    ASSERT_LT(ascent, bounds.height * 0.9);
    const GlyphSlotFit one = fitter.glyphSlotFit(*f.terminal, block, 1, policy(Placement::icon));
    EXPECT_NEAR(one.scaleY * bounds.height, ascent, 1e-9);
    const GlyphSlotFit two = fitter.glyphSlotFit(*f.terminal, block, 2, policy(Placement::icon));
    EXPECT_NEAR(two.scaleY * bounds.height, bounds.height * 0.9, 1e-9);
    // A maximum cell width of 1 makes the two-cell glyph a one-cell icon again.
    TerminalGlyphPlacementPolicy limited = policy(Placement::icon);
    limited.maximumCellWidth = 1;
    EXPECT_EQ(fitter.glyphSlotFit(*f.terminal, block, 2, limited), one);
}

TEST(GlyphSlotFit, GroupedGlyphsAreFittedByTheirWholeGroupsBox)
{
    // The left half of a group: its box is twice its own width, so it is placed as half of the
    // whole group fitted into two cells, not stretched to fill them alone.
    Fixture f;
    const platform::GlyphId glyph = *f.terminal->glyph(U'H');
    const GlyphBounds bounds = f.terminal->bounds(glyph);
    const GlyphSlotFitter fitter = f.fitter(Size{f.cellWidth, 17});
    TerminalGlyphPlacementPolicy grouped = policy(Placement::grouped);
    grouped.relativeBounds = TerminalGlyphRect{0, 0, 0.5, 1};
    const GlyphSlotFit fit = fitter.glyphSlotFit(*f.terminal, glyph, 2, grouped);
    const double boxWidth = bounds.width * 2;
    const double available = 2 * f.cellWidth;
    EXPECT_NEAR(fit.scaleX, std::min({available / boxWidth, 17 / bounds.height, 1.0}), 1e-9);
    EXPECT_NEAR(fit.dx + fit.scaleX * bounds.x, (available - fit.scaleX * boxWidth) * 0.5, 1e-9)
        << "the group's box is centred, and this glyph sits at its left";
}
