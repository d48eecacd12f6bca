// The view's run-time settings on an idle view: each takes effect at once (colour caches dropped,
// one full redraw, the grid refitted where the setting changes the text's room), and setting a
// value already in place does nothing at all.
//
// Regression: the colour and drawing switches were plain fields, so a change on an idle view asked
// for no frame and dropped no colour cache; nothing showed until the program printed again. The
// opacity, the caret's focus tracking, the suspension of hidden views, the GPU surface kind and
// the optimal frame were missing.

#include "Kestrovan/Apple/View/TerminalViewTestSupport.h"
#include "Kestrovan/Mac/MacTerminalView.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrovan::testing {
namespace {

/// A provider that handles nothing: enough to be a provider of its own.
class EmptyFallbackProvider final : public TerminalGlyphFallbackProvider
{
public:
    std::optional<TerminalGlyphPlacementPolicy> placementPolicy(char32_t) const override
    {
        return std::nullopt;
    }
    GlyphFallbackFontRef fallbackFont(double) const override { return nullptr; }
    uint64_t fallbackIdentity() const override { return 1; }
};

/// The drawn pixels, top row first.
std::vector<uint8_t> pixelsOf(const platform::Bitmap& bitmap)
{
    const uint8_t* data = bitmap.data();
    return std::vector<uint8_t>(data, data + size_t(bitmap.stride()) * size_t(bitmap.height()));
}

struct SettingsFixture : ViewFixture
{
    SettingsFixture()
        : ViewFixture(TerminalOptions::defaults(), {640, 480},
                      [](platform::Size size, TerminalView::Configuration configuration) {
                          return MacTerminalView::create(size, std::move(configuration));
                      })
    {
        host->setFocus(true);
        // Text in palette colours (a bright background, bold red, a dark grey on the default
        // background), block elements and a diagonal, and a right-to-left word.
        feed("plain \x1b[101m  \x1b[m \x1b[1;31mbold\x1b[m \x1b[38;5;236mdim\x1b[m\r\n"
             "\xe2\x96\x88\xe2\x96\x80\xe2\x96\x90\xe2\x96\x8f\xe2\x95\xb1\r\n\xd7\xa9\xd7\x9c\xd7\x95\xd7"
             "\x9d");
        settleFrames();
    }
    MacTerminalView& mac() { return static_cast<MacTerminalView&>(*view); }
    /// Ticks until the link pauses and draws what the frames asked for.
    void settleFrames()
    {
        settle();
        tickUntilPaused();
        while (host->drawIfNeeded()) {
        }
    }
    /// Fills the view's palette cache with entry 1.
    void cachePaletteColor()
    {
        locked([&](Terminal&) { return view->mapColor(Attribute::Color::ansi256(1), true, false, true); });
    }
};

/// What one setting did to an idle view.
struct Observed
{
    int frames = 0;
    uint64_t rowsDrawn = 0;
    bool paletteCacheDropped = false;
    bool pixelsChanged = false;
    TerminalDimensions grid;
};

Observed observe(SettingsFixture& f, const std::function<void(MacTerminalView&)>& change)
{
    f.cachePaletteColor();
    const std::vector<uint8_t> before = pixelsOf(*f.host->bitmap());
    const int frames = f.view->frameDriver()->counters().frames;
    const TerminalFrameDrawer::Counters drawn = f.mac().frameDrawer().counters();
    change(f.mac());
    f.settleFrames();
    Observed observed;
    observed.frames = f.view->frameDriver()->counters().frames - frames;
    observed.rowsDrawn = f.mac().frameDrawer().counters().rowsDrawn - drawn.rowsDrawn;
    observed.paletteCacheDropped = !f.view->colorMapper().hasCachedPaletteColor(1);
    observed.pixelsChanged = pixelsOf(*f.host->bitmap()) != before;
    observed.grid = f.view->terminalDimensions();
    return observed;
}

enum class Effect
{
    /// Colour caches dropped, every row drawn anew in one frame.
    coloursChanged,
    /// Every row drawn anew in one frame; the colour caches stay.
    fullRedraw,
    /// The grid refitted to the room the text has now.
    gridRefitted,
    /// One frame for the caret; no row is drawn anew.
    caretFrame,
    /// Stored, nothing drawn.
    storedOnly,
};

TEST(MacViewSettingsTests, EverySettingTakesEffectOnAnIdleViewAndNothingHappensWhenUnchanged)
{
    using View = MacTerminalView;
    struct Setting
    {
        const char* name;
        /// Makes the change show, where it needs more than the view's content.
        std::function<void(SettingsFixture&)> prepare;
        std::function<void(View&)> change;
        std::function<void(View&)> setAgain;
        std::function<bool(View&)> reads;
        Effect effect;
        /// The drawn frame looks different afterwards (with this view's content).
        bool visible;
    };
    const auto grey = platform::NativeColor::sRGB(0.3, 0.3, 0.3);
    const Setting settings[] = {
        // The bright background of palette 9 collapses onto palette 1.
        {"useBrightColors", nullptr, [](View& v) { v.setUseBrightColors(false); },
         [](View& v) { v.setUseBrightColors(false); }, [](View& v) { return !v.useBrightColors(); },
         Effect::coloursChanged, true},
        {"collapseBrightColorsToBase", nullptr, [](View& v) { v.setCollapseBrightColorsToBase(false); },
         [](View& v) { v.setCollapseBrightColorsToBase(false); },
         [](View& v) { return !v.collapseBrightColorsToBase(); }, Effect::coloursChanged, false},
        // The dark grey text is lifted off the black background.
        {"minimumContrastRatio", nullptr, [](View& v) { v.setMinimumContrastRatio(7); },
         [](View& v) { v.setMinimumContrastRatio(7); }, [](View& v) { return v.minimumContrastRatio() == 7; },
         Effect::coloursChanged, true},
        {"translucentCellBackgrounds", [](SettingsFixture& f) { f.view->setBackgroundOpacity(0.5); },
         [](View& v) { v.setTranslucentCellBackgrounds(true); },
         [](View& v) { v.setTranslucentCellBackgrounds(true); },
         [](View& v) { return v.translucentCellBackgrounds(); }, Effect::coloursChanged, true},
        {"backgroundOpacity", nullptr, [](View& v) { v.setBackgroundOpacity(0.5); },
         [](View& v) { v.setBackgroundOpacity(0.5); }, [](View& v) { return v.backgroundOpacity() == 0.5; },
         Effect::coloursChanged, true},
        // The Hebrew word is laid out left to right.
        {"bidiHostPolicy", nullptr, [](View& v) { v.setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight); },
         [](View& v) { v.setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight); },
         [](View& v) { return v.bidiHostPolicy() == BidiHostPolicy::legacyLeftToRight; }, Effect::fullRedraw,
         true},
        {"customBlockGlyphs", nullptr, [](View& v) { v.setCustomBlockGlyphs(false); },
         [](View& v) { v.setCustomBlockGlyphs(false); }, [](View& v) { return !v.customBlockGlyphs(); },
         Effect::fullRedraw, true},
        // At 1.5 pixels a point the one-eighth block's edge falls inside a pixel.
        {"antiAliasCustomBlockGlyphs", [](SettingsFixture& f) { f.host->setScale(1.5); },
         [](View& v) { v.setAntiAliasCustomBlockGlyphs(true); },
         [](View& v) { v.setAntiAliasCustomBlockGlyphs(true); },
         [](View& v) { return v.antiAliasCustomBlockGlyphs(); }, Effect::fullRedraw, true},
        {"glyphFallbackProvider", nullptr,
         [](View& v) { v.setGlyphFallbackProvider(std::make_shared<EmptyFallbackProvider>()); },
         [](View& v) { v.setGlyphFallbackProvider(v.glyphFallbackProvider()); },
         [](View& v) { return v.glyphFallbackProvider() != nullptr; }, Effect::fullRedraw, false},
        {"selectedTextBackgroundColor", [](SettingsFixture& f) { f.view->selectAll(); },
         [&](View& v) { v.setSelectedTextBackgroundColor(grey); },
         [&](View& v) { v.setSelectedTextBackgroundColor(grey); },
         [&](View& v) { return v.selectedTextBackgroundColor() == grey; }, Effect::fullRedraw, true},
        {"selectedTextForegroundColor", [](SettingsFixture& f) { f.view->selectAll(); },
         [&](View& v) { v.setSelectedTextForegroundColor(grey); },
         [&](View& v) { v.setSelectedTextForegroundColor(grey); },
         [&](View& v) { return v.selectedTextForegroundColor() == grey; }, Effect::fullRedraw, true},
        {"linkColor", nullptr, [&](View& v) { v.setLinkColor(grey); }, [&](View& v) { v.setLinkColor(grey); },
         [&](View& v) { return v.linkColor() == grey; }, Effect::fullRedraw, false},
        {"linkUnderlineColor", nullptr, [&](View& v) { v.setLinkUnderlineColor(grey); },
         [&](View& v) { v.setLinkUnderlineColor(grey); },
         [&](View& v) { return v.linkUnderlineColor() == grey; }, Effect::fullRedraw, false},
        // The legacy scroller takes its width from the text.
        {"scrollerStyle", nullptr, [](View& v) { v.setScrollerStyle(View::ScrollerStyle::legacy); },
         [](View& v) { v.setScrollerStyle(View::ScrollerStyle::legacy); },
         [](View& v) { return v.scrollerStyle() == View::ScrollerStyle::legacy; }, Effect::gridRefitted,
         true},
        {"caretViewTracksFocus", nullptr, [](View& v) { v.setCaretViewTracksFocus(false); },
         [](View& v) { v.setCaretViewTracksFocus(false); }, [](View& v) { return !v.caretViewTracksFocus(); },
         Effect::caretFrame, false},
        {"suspendsRenderingWhenNotVisible", nullptr,
         [](View& v) { v.setSuspendsRenderingWhenNotVisible(false); },
         [](View& v) { v.setSuspendsRenderingWhenNotVisible(false); },
         [](View& v) { return !v.suspendsRenderingWhenNotVisible(); }, Effect::storedOnly, false},
        {"usesMetalLayerSurface", nullptr,
         [](View& v) { v.setUsesMetalLayerSurface(!v.usesMetalLayerSurface()); },
         [](View& v) { v.setUsesMetalLayerSurface(v.usesMetalLayerSurface()); },
         [](View& v) { return v.usesMetalLayerSurface() != View::defaultUsesMetalLayerSurface(); },
         Effect::storedOnly, false},
    };
    for (const Setting& setting : settings) {
        SCOPED_TRACE(setting.name);
        SettingsFixture f;
        if (setting.prepare) {
            setting.prepare(f);
            f.settleFrames();
        }
        const TerminalDimensions grid = f.view->terminalDimensions();
        const int rows = grid.rows;
        const Observed changed = observe(f, setting.change);
        EXPECT_TRUE(setting.reads(f.mac()));
        switch (setting.effect) {
        case Effect::coloursChanged:
        case Effect::fullRedraw:
            EXPECT_EQ(changed.frames, 1);
            EXPECT_EQ(changed.rowsDrawn, uint64_t(rows)) << "every row drawn";
            EXPECT_EQ(changed.paletteCacheDropped, setting.effect == Effect::coloursChanged);
            EXPECT_EQ(changed.grid, grid);
            break;
        case Effect::gridRefitted:
            EXPECT_GE(changed.frames, 1);
            EXPECT_EQ(changed.grid.rows, grid.rows);
            EXPECT_LT(changed.grid.cols, grid.cols) << "the scroller's width is the text's no more";
            break;
        case Effect::caretFrame:
            EXPECT_EQ(changed.frames, 1);
            EXPECT_EQ(changed.rowsDrawn, 0u);
            EXPECT_FALSE(changed.paletteCacheDropped);
            break;
        case Effect::storedOnly:
            EXPECT_EQ(changed.frames, 0);
            EXPECT_EQ(changed.rowsDrawn, 0u);
            EXPECT_FALSE(changed.paletteCacheDropped);
            break;
        }
        if (setting.visible) {
            EXPECT_TRUE(changed.pixelsChanged) << "the change shows";
        }

        // The same value again: no frame, no row, no cache emptied, nothing on screen.
        const uint64_t styleUpdates = f.view->caretView()->styleUpdates();
        const size_t redrawRequests = f.host->redrawRects.size();
        const Observed again = observe(f, setting.setAgain);
        EXPECT_EQ(again.frames, 0);
        EXPECT_EQ(again.rowsDrawn, 0u);
        EXPECT_FALSE(again.paletteCacheDropped);
        EXPECT_FALSE(again.pixelsChanged);
        EXPECT_EQ(again.grid, changed.grid);
        EXPECT_EQ(f.view->caretView()->styleUpdates(), styleUpdates);
        EXPECT_EQ(f.host->redrawRects.size(), redrawRequests);
        EXPECT_TRUE(setting.reads(f.mac()));
    }
}

TEST(MacViewSettingsTests, OpacityIsClampedAndKeepsTheBackgroundsHue)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct
    {
        double set;
        double reads;
    } cases[] = {{0.5, 0.5}, {1.5, 1}, {-1, 0}, {nan, 1}, {0.25, 0.25}};
    SettingsFixture f;
    const platform::NativeColor background = f.view->nativeBackgroundColor();
    for (const auto& c : cases) {
        f.view->setBackgroundOpacity(c.set);
        EXPECT_EQ(f.view->backgroundOpacity(), c.reads) << c.set;
        const platform::NativeColor now = f.view->nativeBackgroundColor();
        EXPECT_EQ((std::tuple{now.red, now.green, now.blue}),
                  (std::tuple{background.red, background.green, background.blue}));
    }
    // A program's background colour keeps the view's opacity.
    f.feed("\x1b]11;rgb:20/40/60\x1b\\");
    f.settle();
    EXPECT_EQ(f.view->backgroundOpacity(), 0.25);
    EXPECT_NE(f.view->nativeBackgroundColor().red, background.red);
}

TEST(MacViewSettingsTests, HiddenViewsDrawWhileSuspensionIsOffAndStopWhenItIsBackOn)
{
    SettingsFixture f;
    EXPECT_TRUE(f.view->suspendsRenderingWhenNotVisible());
    f.host->setWindowVisible(false);
    f.settle();
    const int frames = f.view->frameDriver()->counters().frames;
    f.feed("output while hidden");
    f.tickUntilPaused();
    EXPECT_EQ(f.view->frameDriver()->counters().frames, frames) << "suspended";
    EXPECT_TRUE(f.view->frameDriver()->isVisibilitySuspended());

    f.view->setSuspendsRenderingWhenNotVisible(false);
    f.settle();
    EXPECT_FALSE(f.view->frameDriver()->isVisibilitySuspended());
    f.tickUntilPaused();
    EXPECT_EQ(f.view->frameDriver()->counters().frames, frames + 1) << "the owed frame, drawn now";

    f.view->setSuspendsRenderingWhenNotVisible(true);
    f.feed("more");
    f.tickUntilPaused();
    EXPECT_EQ(f.view->frameDriver()->counters().frames, frames + 1) << "suspended again";
}

TEST(MacViewSettingsTests, TheOptimalFrameFitsTheGridAndTheScrollersWidth)
{
    SettingsFixture f;
    const platform::Size cell = *f.view->cellDimension();
    f.view->resize(80, 25);
    EXPECT_EQ(f.view->getOptimalFrameSize(), (platform::Rect{0, 0, cell.width * 80, cell.height * 25}));
    f.mac().setScrollerStyle(MacTerminalView::ScrollerStyle::legacy);
    const TerminalDimensions grid = f.view->terminalDimensions();
    const double scroller = f.host->scrollers.back()->preferredWidth();
    EXPECT_EQ(f.view->getOptimalFrameSize(),
              (platform::Rect{0, 0, cell.width * grid.cols + scroller, cell.height * grid.rows}));
}

TEST(MacViewSettingsTests, TheHostsScrollerStyleOutlastsTheDesktopsSetting)
{
    SettingsFixture f;
    platform::Appearance appearance = f.view->appearance();
    appearance.overlayScrolling = false;
    f.view->appearanceChanged(appearance);
    EXPECT_EQ(f.mac().scrollerStyle(), MacTerminalView::ScrollerStyle::legacy) << "the desktop's";
    f.mac().setScrollerStyle(MacTerminalView::ScrollerStyle::overlay);
    appearance.isDark = !appearance.isDark;
    f.view->appearanceChanged(appearance);
    EXPECT_EQ(f.mac().scrollerStyle(), MacTerminalView::ScrollerStyle::overlay) << "the host's";
}

} // namespace
} // namespace kestrovan::testing
