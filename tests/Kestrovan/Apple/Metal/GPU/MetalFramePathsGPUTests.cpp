// The GPU renderer's own pictures at scales 1 and 2 (tests/golden/gpu/), and the plain-row fast
// path drawing exactly what the shaping path draws.
#include "GpuFrameTestSupport.h"

#include "Kestrovan/Apple/Drawing/FrameScenes.h"
#include "Kestrovan/Apple/Metal/MetalTestFonts.h"
#include "Platform/Graphics/GoldenImage.h"

#include <gtest/gtest.h>

namespace {

using drawing_test::FrameScene;

TEST(MetalFramePathsGPUTests, TheGPUPathsOwnPicturesAtScalesOneAndTwo)
{
    // The text scene with its cursor, a block on a letter, and the doubled lines, whose stretched
    // rows only the GPU path draws this way.
    const struct
    {
        const char* name;
        int cols;
        int rows;
        void (*feed)(FrameScene&);
    } scenes[] = {
        {"frame-text", 40, 6, drawing_test::feedTextDecorations},
        {"frame-doubled-lines", 24, 5, drawing_test::feedDoubledLines},
    };
    for (const auto& golden : scenes) {
        for (const int scale : {1, 2}) {
            SCOPED_TRACE(golden.name + std::string(" at ") + std::to_string(scale));
            FrameScene scene(golden.cols, golden.rows, scale);
            golden.feed(scene);
            scene.feed("\x1b[2;3H\x1b[2 q");
            scene.refresh();
            const platform::Rect bounds = scene.bounds();
            gpu_frame_test::GpuRenderer gpu({int(bounds.width * scale), int(bounds.height * scale)});
            ASSERT_TRUE(gpu.renderer);
            const gpu_frame_test::Pixels pixels = gpu.draw(scene.snapshot, *scene.snapshot.renderContext);
            graphics_test::expectMatchesGolden(pixels.bitmap(), "../gpu/" + std::string(golden.name) +
                                                                    "-scale" + std::to_string(scale));
        }
    }
}

TEST(MetalFramePathsGPUTests, PlainRowsDrawAsShapedRowsDo)
{
    const platform::FontRef plain = metaltest::testFont("Plain.ttf", 12);
    ASSERT_TRUE(plain);
    gpu_frame_test::Pixels drawn[2];
    size_t shapedRuns[2] = {};
    for (const bool plainPath : {true, false}) {
        FrameScene scene(30, 5, 2);
        scene.view.fonts = kestrovan::FrameFontSet(plain, plain, plain, plain);
        scene.feed("Plain ASCII: {[(<'\"`~|\\/>)]}\r\n");
        scene.feed(
            "\x1b[31mred \x1b[42;30mon green\x1b[0m \x1b[38;2;40;90;200mtrue\x1b[0m \x1b[7mrev\x1b[0m\r\n");
        scene.feed("\x1b[4munder\x1b[0m \x1b[9mstrike\x1b[0m \x1b[4:3mcurly\x1b[0m \x1b[1mbold\x1b[0m\r\n");
        scene.feed("0123456789 !@#$%^&*-_=+;:,.?");
        kestrovan::SnapshotSelectionState selection;
        selection.active = true;
        selection.start = kestrovan::Position{3, 3};
        selection.end = kestrovan::Position{9, 3};
        scene.refresh(selection);
        const platform::Rect bounds = scene.bounds();
        gpu_frame_test::GpuRenderer gpu({int(bounds.width * 2), int(bounds.height * 2)});
        ASSERT_TRUE(gpu.renderer);
        gpu.renderer->plainTextEnabled = plainPath;
        drawn[plainPath ? 0 : 1] = gpu.draw(scene.snapshot, *scene.snapshot.renderContext);
        shapedRuns[plainPath ? 0 : 1] = gpu.renderer->shaperCache().count();
    }
    EXPECT_EQ(shapedRuns[0], 1u) << "only the cursor's character was shaped on the plain path";
    EXPECT_GT(shapedRuns[1], 10u);
    ASSERT_EQ(drawn[0].bgra.size(), drawn[1].bgra.size());
    size_t differing = 0;
    for (size_t i = 0; i < drawn[0].bgra.size(); ++i)
        differing += drawn[0].bgra[i] != drawn[1].bgra[i];
    EXPECT_EQ(differing, 0u);
}

} // namespace
