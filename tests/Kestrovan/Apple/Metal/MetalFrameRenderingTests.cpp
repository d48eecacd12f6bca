// Terminal frames on the recording device: the thirteen layers in their order, what an unchanged,
// a scrolled and a partly selected frame rebuild and upload, atlases that change under a frame,
// and the frame slot with its completion.
#include "RecordingFrameTestSupport.h"

#include "Kestrovan/Apple/Metal/RowCache.h"
#include "Platform/Log/Log.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>

namespace kestrovan {
namespace {

using metaltest::RecordingFrames;

/// The layers a frame set up, in order: each program set with the texture bound first after it
/// ("-" for none), named by the renderer's pipelines and by `textures`.
std::vector<std::string> layers(const RecordingFrames& f, const std::map<uint64_t, std::string>& textures)
{
    const MetalTerminalRenderer& r = *f.renderer;
    const std::map<uint64_t, std::string> programs{
        {r.textPipeline.program->name(), "text"},
        {r.textGrayPipeline.program->name(), "textGray"},
        {r.cellTextPipeline.program->name(), "cellText"},
        {r.cellTextGrayPipeline.program->name(), "cellTextGray"},
        {r.colorPipeline.program->name(), "color"},
        {r.cellColorPipeline.program->name(), "cellColor"},
        {r.cellBackgroundReplacePipeline.program->name(), "cellBackgroundReplace"},
    };
    std::vector<std::string> found;
    bool textured = true;
    for (const std::string& event : f.device->events()) {
        if (event.rfind("pipeline ", 0) == 0) {
            found.push_back(programs.at(std::stoull(event.substr(9))) + " ");
            textured = false;
        } else if (event.rfind("texture ", 0) == 0 && !textured && !found.empty()) {
            const auto name = textures.find(std::stoull(event.substr(8)));
            found.back() += name == textures.end() ? "?" : name->second;
            textured = true;
        }
    }
    for (std::string& layer : found)
        if (layer.back() == ' ')
            layer += "-";
    return found;
}

KittyGraphicsRenderImage kittyImage(uint32_t id)
{
    KittyGraphicsRenderImage image;
    image.imageId = id;
    image.width = 2;
    image.height = 2;
    image.rgba = std::make_shared<const std::vector<uint8_t>>(16, uint8_t(200));
    image.contentGeneration = id;
    return image;
}

KittyGraphicsRenderPlacement placement(uint32_t image, KittyGraphicsCellGeometry cells, int32_t z,
                                       bool isVirtual = false)
{
    KittyGraphicsRenderPlacement made;
    made.token = image;
    made.imageId = image;
    made.geometry = cells;
    made.zIndex = z;
    made.visibleSource = {0, 0, 2, 2};
    made.isVirtual = isVirtual;
    return made;
}

TEST(MetalFrameRenderingTests, TheThirteenLayersInOrderEachSetUpOnce)
{
    RecordingFrames f(20, 4);
    // Two rows of everything a row draws: backgrounds, a Powerline arrow (and its join), text,
    // an emoji, an underline and a placeholder cell of image 7; the cursor is a block on a letter.
    for (int row = 0; row < 2; ++row)
        f.feed("\x1b[44m bg \x1b[0;34m\xee\x82\xb0\x1b[0m text \xf0\x9f\x98\x80 \x1b[4mline\x1b[0m "
               "\x1b[38;5;7m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\x1b[0m\r\n");
    f.feed("\x1b[1;8H\x1b[2 q");
    f.refresh();
    KittyGraphicsRenderSnapshot& kitty = f.snapshot->kitty.renderSnapshot;
    for (uint32_t id : {1u, 2u, 3u, 7u})
        kitty.imagesById[id] = kittyImage(id);
    kitty.placements = {placement(1, {0, 0, 2, 2}, -1'073'741'825), placement(2, {4, 0, 2, 2}, -1),
                        placement(3, {8, 0, 2, 2}, 0), placement(7, {0, 0, 1, 1}, 0, true)};
    const auto picture = platform::NativeImage::fromRGBA(2, 2, std::vector<uint8_t>(16, 255));
    for (int row = 0; row < 2; ++row)
        f.snapshot->rows[size_t(row)]->images.push_back(std::make_shared<SnapshotImage>(picture, 8, 16, 12));
    f.device->clearEvents();
    f.renderer->setPreparedSnapshot(PreparedSnapshot{f.snapshot, *f.snapshot->renderContext});
    f.renderer->render(f.target->acquireDrawableFrame());

    MetalTerminalRenderer& r = *f.renderer;
    std::map<uint64_t, std::string> textures{{r.grayscaleAtlas().texture()->name(), "grey"},
                                             {r.colorAtlas().texture()->name(), "colour"},
                                             {r.imageTextures().texture(picture)->name(), "picture"}};
    for (uint32_t id : {1u, 2u, 3u, 7u})
        textures[r.imageTextures().kittyTexture(id, kitty)->name()] = "kitty" + std::to_string(id);
    EXPECT_EQ(layers(f, textures), (std::vector<std::string>{
                                       "text kitty1",       // 1 placements below the backgrounds
                                       "cellColor -",       // 2 cell backgrounds
                                       "text kitty2",       // 3 placements under the text
                                       "cellColor -",       // 4 Powerline joins
                                       "cellTextGray grey", // 5 grey glyphs
                                       "cellText colour",   // 6 colour glyphs
                                       "cellColor -",       // 7 decorations
                                       "text kitty7",       // 8 placeholder pictures
                                       "text kitty3",       // 9 placements over the text
                                       "text picture",      // 10 pictures on lines
                                       "color -",           // 11 cursor shape
                                       "textGray grey",     // 12 cursor glyph
                                   }));
    // Each row draws its own buffer in a row layer: two draws per layer of both rows.
    EXPECT_EQ(f.events("draw").size(), 10u * 2 + 2);

    // The cursor on the emoji: its glyph comes from the colour atlas, the last layer.
    f.feed("\x1b[1;12H");
    f.device->signalFences();
    r.pollCompletions();
    f.refresh();
    kitty.placements.clear();
    f.device->clearEvents();
    r.setPreparedSnapshot(PreparedSnapshot{f.snapshot, *f.snapshot->renderContext});
    r.render(f.target->acquireDrawableFrame());
    const std::vector<std::string> second = layers(f, textures);
    ASSERT_GE(second.size(), 2u);
    EXPECT_EQ(second[second.size() - 2], "color -");
    EXPECT_EQ(second.back(), "text colour");
}

TEST(MetalFrameRenderingTests, AnUnchangedFrameUploadsNothingAndAScrollRebuildsOneRow)
{
    RecordingFrames f(30, 8);
    for (int line = 0; line < 12; ++line)
        f.feed("line " + std::to_string(line) + (line % 3 == 0 ? " \x1b[42mgreen\x1b[0m" : "") + "\r\n");
    f.feed("\x1b[?25l");
    f.render();
    EXPECT_EQ(f.rowsRebuilt(), 8);

    // Nothing changed: every row from its buffers, no buffer written, no texture uploaded.
    f.device->clearEvents();
    f.render();
    EXPECT_EQ(f.rowsRebuilt(), 8);
    EXPECT_TRUE(f.events("write buffer").empty());
    EXPECT_TRUE(f.events("upload texture").empty());
    EXPECT_FALSE(f.events("draw cells").empty());

    // One line more: the new bottom row is prepared; the others only move.
    f.feed("line 12");
    f.device->clearEvents();
    f.render();
    EXPECT_EQ(f.rowsRebuilt(), 9);
    EXPECT_EQ(f.renderer->rowCache().size(), 8u);

    // With the cursor shown, an unchanged frame writes only the cursor's vertices.
    f.feed("\x1b[?25h");
    f.render();
    f.device->clearEvents();
    f.render();
    EXPECT_EQ(f.events("write buffer").size(), 1u);
}

TEST(MetalFrameRenderingTests, ASelectionRebuildsItsRowsAndAFontSizeEveryRowButKeepsTheGlyphs)
{
    RecordingFrames f(20, 6);
    for (int line = 0; line < 6; ++line)
        f.feed("row " + std::to_string(line) + (line < 5 ? "\r\n" : ""));
    f.render();
    ASSERT_EQ(f.rowsRebuilt(), 6);

    SnapshotSelectionState selection;
    selection.active = true;
    selection.start = Position{2, 2};
    selection.end = Position{5, 3};
    f.render(selection);
    EXPECT_EQ(f.rowsRebuilt(), 6 + 2) << "rows 2 and 3";
    f.render(selection);
    EXPECT_EQ(f.rowsRebuilt(), 8) << "the same selection again";

    const size_t glyphs = f.renderer->glyphStore().glyphBitmapResultCache().drawables.size();
    ASSERT_GT(glyphs, 0u);
    f.view.fonts = testing::terminalFrameFonts(13);
    f.render(selection);
    EXPECT_EQ(f.rowsRebuilt(), 8 + 6);
    EXPECT_GT(f.renderer->glyphStore().glyphBitmapResultCache().drawables.size(), glyphs)
        << "the 12-point glyphs are kept beside the 13-point ones";
}

TEST(MetalFrameRenderingTests, AnAtlasTooSmallForTheFrameRebuildsFiveTimesThenDrawsWithFrozenAtlases)
{
    setenv("KESTROVAN_ATLAS_MAX", "256", 1);
    RecordingFrames f(100, 6);
    unsetenv("KESTROVAN_ATLAS_MAX");
    ASSERT_EQ(f.renderer->grayscaleAtlas().maxSize(), 256);
    // Every printable character in four styles at 24 points: far more than 256 x 256 texels.
    f.view.fonts = testing::terminalFrameFonts(24);
    f.view.cellDimension = platform::Size{15, 32};
    for (const char* style : {"", "\x1b[1m", "\x1b[3m", "\x1b[1;3m"}) {
        f.feed(style);
        for (char c = '!'; c <= '~'; ++c)
            f.feed(std::string_view(&c, 1));
        f.feed("\x1b[0m\r\n");
    }
    std::vector<std::string> messages;
    platform::setLogSink([&](const platform::LogRecord& record) {
        if (record.category == "GPUAtlas" && record.message.find("glyph atlas (") == std::string_view::npos)
            messages.emplace_back(record.message);
    });
    f.render();
    platform::setLogSink({});
    std::vector<std::string> expected;
    for (int pass = 1; pass <= 5; ++pass)
        expected.push_back("glyph atlas changed during frame build; rebuild pass " + std::to_string(pass) +
                           "/5");
    expected.push_back(
        "glyph working set exceeds max atlas capacity; some glyphs will be skipped this frame");
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(f.renderer->profileTotals().atlasInvalidationBuildAttempts, 5);
    EXPECT_FALSE(f.renderer->grayscaleAtlas().frozen) << "thawed once the frame is built";
    EXPECT_EQ(f.renderer->completedRenderCount(), 1) << "and drawn once";
}

TEST(MetalFrameRenderingTests, ASecondRenderWhileAFrameIsInFlightIsServedWhenItCompletes)
{
    RecordingFrames f(10, 3);
    f.feed("hello");
    std::vector<std::string> effects;
    terminalFramePresentedHandler().replace([&] { effects.push_back("presented"); });
    f.renderer->setRedrawCallback([&] {
        // The slot is free by the time the redraw is asked for.
        const bool free = f.renderer->acquireFrameSlot(std::chrono::seconds(0));
        if (free)
            f.renderer->releaseFrameSlot();
        effects.push_back(free ? "redraw, slot free" : "redraw, slot taken");
    });
    f.refresh();
    f.renderer->setPreparedSnapshot(PreparedSnapshot{f.snapshot, *f.snapshot->renderContext});
    f.renderer->render(f.target->acquireDrawableFrame());
    f.renderer->setPreparedSnapshot(PreparedSnapshot{f.snapshot, *f.snapshot->renderContext});
    f.renderer->render(f.target->acquireDrawableFrame());
    EXPECT_EQ(f.renderer->completedRenderCount(), 1);
    EXPECT_TRUE(effects.empty());
    EXPECT_TRUE(f.renderer->hasPreparedSnapshot()) << "the second frame's content waits";

    f.device->signalFences();
    f.renderer->pollCompletions();
    EXPECT_EQ(effects, (std::vector<std::string>{"presented", "redraw, slot free"}));
    f.renderer->pollCompletions();
    EXPECT_EQ(effects.size(), 2u) << "served once";
    terminalFramePresentedHandler().replace(nullptr);
}

} // namespace
} // namespace kestrovan

namespace kestrovan {
namespace {

TEST(MetalFrameRenderingTests, TheCursorBlinksOnlyWhenShownFocusedAndBlinking)
{
    const struct
    {
        const char* what;
        const char* output;
        bool focused;
        bool blinks;
        /// Vertices of the cursor's shape while the blink is in its visible phase.
        size_t shapeVertices;
    } cases[] = {
        {"a blinking block", "\x1b[1 q", true, true, 6},
        {"a steady block", "\x1b[2 q", true, false, 6},
        {"a blinking bar", "\x1b[5 q", true, true, 6},
        {"a hidden cursor", "\x1b[1 q\x1b[?25l", true, false, 0},
        {"an unfocused view: a hollow box", "\x1b[1 q", false, false, 24},
    };
    for (const auto& c : cases) {
        metaltest::RecordingFrames f(10, 3);
        f.feed("ab");
        f.feed(c.output);
        f.view.cursorHasFocus = c.focused;
        f.render();
        EXPECT_EQ(f.renderer->redrawState()->cursorBlinkWanted(), c.blinks) << c.what;
        const auto cursor = [&] {
            return f.renderer->buildCursorDrawData(*f.snapshot, *f.snapshot->renderContext, 1, 8, 16, 0, 0,
                                                   2);
        };
        EXPECT_EQ(cursor().colorVertices.size(), c.shapeVertices) << c.what;
        // In the hidden phase of the blink a blinking cursor is not drawn; a steady or unfocused
        // one is.
        f.renderer->redrawState()->state.withLock(
            [](MetalRedrawState::Fields& fields) { fields.cursorBlinkOn = false; });
        EXPECT_EQ(cursor().colorVertices.empty(), c.blinks || c.shapeVertices == 0) << c.what;
    }
}

} // namespace
} // namespace kestrovan
