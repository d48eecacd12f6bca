// The CPU path's reviewed frames drawn by the GPU renderer: the same scenes (terminal, font, cell
// size, colours and scale), compared with tests/golden/drawing/frame-*.png class by class.
#include "GpuFrameTestSupport.h"

#include "Kestrovan/Apple/Drawing/FrameScenes.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using drawing_test::FrameScene;
using gpu_frame_test::GpuRenderer;

struct GoldenScene
{
    const char* golden;
    int cols;
    int rows;
    double scale;
    std::function<void(FrameScene&)> feed;
    /// After the snapshot is refreshed (kitty placements are added to it).
    std::function<void(FrameScene&)> afterRefresh;
    /// The picture shows the caret (the CPU path draws it apart from the frame).
    bool showsCursor = false;
};

TEST(MetalFrameGoldenGPUTests, TheCPUPathsFramesAreDrawnAlike)
{
    const GoldenScene scenes[] = {
        {"frame-text", 40, 6, 2, drawing_test::feedTextDecorations, {}},
        {"frame-doubled-lines", 24, 5, 2, drawing_test::feedDoubledLines, {}},
        {"frame-kitty-layers", 32, 4, 2, drawing_test::feedKittyLayersText,
         [](FrameScene& scene) { drawing_test::addKittyLayers(scene, 1); }},
        {"frame-translucent", 12, 2, 1, drawing_test::setUpTranslucentBackgrounds, {}},
        {"frame-caret-powerline", 24, 2, 2, drawing_test::feedPowerlinePrompt, {}, true},
        {"frame-inline-image", 24, 6, 2, drawing_test::feedInlineImage, {}},
        {"frame-italic-without-italic-faces", 24, 4, 2, drawing_test::feedItalicsWithoutItalicFaces, {}},
    };
    for (const GoldenScene& golden : scenes) {
        SCOPED_TRACE(golden.golden);
        FrameScene scene(golden.cols, golden.rows, golden.scale);
        golden.feed(scene);
        if (!golden.showsCursor)
            scene.feed("\x1b[?25l");
        scene.refresh();
        if (golden.afterRefresh)
            golden.afterRefresh(scene);
        const platform::Rect bounds = scene.bounds();
        GpuRenderer gpu({int(bounds.width * golden.scale), int(bounds.height * golden.scale)});
        ASSERT_TRUE(gpu.renderer);
        const gpu_frame_test::Pixels pixels = gpu.draw(scene.snapshot, *scene.snapshot.renderContext);
        gpu_frame_test::expectMatchesDrawingGolden(
            pixels, golden.golden,
            gpu_frame_test::classify(scene.snapshot, 8 * golden.scale, 16 * golden.scale));
    }
}

} // namespace
