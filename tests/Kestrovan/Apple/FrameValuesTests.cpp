#include "Kestrovan/Apple/CoreGraphicsRenderCache.h"
#include "Kestrovan/Apple/FrameCaptureCache.h"
#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/SnapshotSelectionResolver.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using platform::NativeColor;

TEST(FrameValuesTests, SelectedColumnsOfEachRow)
{
    struct Case
    {
        const char* name;
        Position start;
        Position end;
        bool block;
        int64_t row;
        std::optional<SelectedColumns> expected;
    };
    constexpr int cols = 10;
    const Case cases[] = {
        {"backwards on one row", {5, 1}, {2, 1}, false, 1, SelectedColumns{2, 5}},
        {"forwards on one row", {2, 1}, {5, 1}, false, 1, SelectedColumns{2, 5}},
        {"to the last column", {2, 1}, {9, 1}, false, 1, SelectedColumns{2, 10}},
        {"empty", {4, 1}, {4, 1}, false, 1, std::nullopt},
        {"upper row of several", {6, 1}, {3, 3}, false, 1, SelectedColumns{6, 10}},
        {"middle row", {3, 3}, {6, 1}, false, 2, SelectedColumns{0, 10}},
        {"lower row", {6, 1}, {3, 3}, false, 3, SelectedColumns{0, 3}},
        {"outside", {6, 1}, {3, 3}, false, 4, std::nullopt},
        {"block", {7, 1}, {3, 3}, true, 2, SelectedColumns{3, 7}},
        {"block to the last column", {9, 1}, {3, 3}, true, 2, SelectedColumns{3, 10}},
        {"block of no width", {3, 1}, {3, 3}, true, 2, std::nullopt},
    };
    for (const Case& c : cases) {
        SnapshotStyle style;
        style.selectionActive = true;
        style.selectionStart = c.start;
        style.selectionEnd = c.end;
        style.selectionIsBlock = c.block;
        EXPECT_EQ((SnapshotSelectionResolver{style, cols}.columns(c.row)), c.expected) << c.name;
    }
    EXPECT_FALSE((SnapshotSelectionResolver{SnapshotStyle(), cols}.columns(0))) << "inactive";
}

TEST(FrameValuesTests, ColoursPixelsAndTheCaptureCache)
{
    EXPECT_EQ(FrameColor::from(NativeColor::sRGB(1.5, -0.2, 0.5, 0.25)), (FrameColor{1, 0, 0.5, 0.25}));
    const FrameColor pattern = FrameColor::from(NativeColor::pattern());
    EXPECT_NEAR(pattern.red, 0x8a3d / 65535.0, 1e-9) << "a paint without sRGB: its terminal colour";
    EXPECT_EQ(pattern.alpha, 1);
    EXPECT_EQ((FrameColor{0, 0, 0, 1}).hash(), (FrameColor{-0.0, 0, 0, 1}).hash());

    EXPECT_EQ(terminalDevicePixelIndex(10.4, 2, 100), 20);
    EXPECT_EQ(terminalDevicePixelIndex(60, 2, 100), 99);
    EXPECT_EQ(terminalDevicePixelIndex(-3, 2, 100), 0);
    EXPECT_EQ(terminalDevicePixelIndex(std::nan(""), 2, 100), 0);
    EXPECT_EQ(terminalDevicePixelIndex(5, 2, 1), 0);

    FrameCaptureCache cache;
    FrameCaptureColors colors;
    colors.nativeForegroundColor = NativeColor::sRGB(0.9, 0.9, 0.9);
    colors.nativeBackgroundColor = NativeColor::sRGB(0.1, 0.1, 0.1);
    colors.appearanceName = "light";
    const FrameAppearance light = cache.appearance(colors);
    EXPECT_EQ(light.effectiveForegroundColor, (FrameColor{0.9, 0.9, 0.9, 1}));
    colors.reverseColorsActive = true;
    EXPECT_EQ(cache.appearance(colors).effectiveForegroundColor, (FrameColor{0.1, 0.1, 0.1, 1}));
    colors.linkColor = NativeColor::sRGB(0, 0, 1);
    EXPECT_NE(cache.appearance(colors), light) << "a present link colour differs from an absent one";
    const platform::FontSet fontSet{testing::terminalFonts().normal(), testing::terminalFonts().bold(),
                                    testing::terminalFonts().italic(), testing::terminalFonts().boldItalic()};
    EXPECT_EQ(cache.fonts(fontSet), testing::terminalFonts());
    EXPECT_TRUE(testing::terminalFonts().contains(*testing::terminalFonts().normal()->withSize(12)));
}

TEST(FrameValuesTests, TheRenderContextResolvesTranslucencyAndAnIdentity)
{
    FrameViewState state = testing::viewState();
    const std::vector<Color> palette(256, Color(0x1000, 0x2000, 0x3000));
    const auto make = [&](const FrameViewState& view, const SnapshotStyle& style = {}) {
        return SnapshotRenderContext(view, style, SnapshotNativeColors::make(view.appearance, palette), 10);
    };
    const SnapshotRenderContext plain = make(state);
    EXPECT_FALSE(plain.translucentCellBackgroundAlpha);
    EXPECT_EQ(plain.selectionFillColor, testing::native(testing::selectionBlue));

    // Two contexts that differ only in the link highlight share their identity.
    SnapshotStyle highlighted;
    highlighted.linkHighlightRange = std::vector<LinkMatch::RowRange>{{0, {0, 3}}};
    EXPECT_EQ(make(state, highlighted).identity, plain.identity);

    state.translucentCellBackgrounds = true;
    EXPECT_FALSE(make(state).translucentCellBackgroundAlpha) << "an opaque background stays opaque";
    state.appearance.effectiveBackgroundColor.alpha = 0.8;
    state.appearance.selectedTextBackgroundColor.alpha = 0.5;
    const SnapshotRenderContext translucent = make(state);
    ASSERT_TRUE(translucent.translucentCellBackgroundAlpha);
    EXPECT_DOUBLE_EQ(*translucent.translucentCellBackgroundAlpha, 0.8);
    // Half the selection colour over the background (alpha 0.8): 0.5 + 0.5 x 0.8 = 0.9 alpha.
    EXPECT_DOUBLE_EQ(translucent.selectionFillColor.alpha, 0.9);
    EXPECT_DOUBLE_EQ(translucent.selectionFillColor.blue, 0.9 * 0.5 / 0.9);
    EXPECT_NE(translucent.identity, plain.identity);
    state = testing::viewState();
    state.minimumContrastRatio = 4.5;
    EXPECT_NE(make(state).identity, plain.identity);
}

TEST(FrameValuesTests, ShortRunsAreShapedOnce)
{
    CoreGraphicsRenderCache cache;
    auto attributes = std::make_shared<SnapshotTextAttributes>();
    attributes->font = testing::terminalFonts().normal();
    SnapshotAttributedText word;
    word.append(u"abc", attributes);
    const auto first = cache.line(word);
    EXPECT_EQ(cache.line(word), first);
    EXPECT_GT(first->glyphs().size(), 0u);

    // The same text in another fallback font object is another line.
    auto fallback = std::make_shared<SnapshotTextAttributes>(*attributes);
    fallback->font = testing::terminalFonts().normal()->withSize(13);
    fallback->glyphPolicy = TerminalGlyphPlacementPolicy{};
    SnapshotAttributedText other;
    other.append(u"abc", fallback);
    EXPECT_NE(cache.line(other), first);
    EXPECT_EQ(cache.size(), 2u);

    SnapshotAttributedText longer;
    longer.append(u"longer than eight", attributes);
    cache.line(longer);
    EXPECT_EQ(cache.size(), 2u) << "long runs are not kept";
    for (int i = 0; cache.size() < CoreGraphicsRenderCache::lineLimit; ++i) {
        SnapshotAttributedText text;
        text.append(std::u16string(1, char16_t(0x4E00 + i)), attributes);
        cache.line(text);
    }
    SnapshotAttributedText last;
    last.append(u"last", attributes);
    cache.line(last);
    EXPECT_EQ(cache.size(), 1u) << "the line past the limit empties the cache first";
}

} // namespace
} // namespace kestrovan
