// Lines pushed through a full scrollback as fast as they come, a frame every ten lines: each GPU
// frame shows what the CPU path draws from the same snapshot. Rows are reused from the row cache
// while they scroll and lines are made and dropped all the time, so a cached row ever drawn for
// the wrong line shows up as a glyph where another one belongs.
#include "GpuFrameTestSupport.h"

#include "Kestrovan/Apple/Drawing/FrameDrawingTestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

using drawing_test::FrameScene;

TEST(MetalScrollbackGPUTests, TwoThousandLinesThroughAFullScrollbackDrawAsTheCPUPathDraws)
{
    FrameScene scene(80, 24, 1);
    scene.terminal = kestrovan::testing::TerminalFixture(80, 24, 50);
    const platform::Rect bounds = scene.bounds();
    gpu_frame_test::GpuRenderer gpu({int(bounds.width), int(bounds.height)});
    ASSERT_TRUE(gpu.renderer);
    int frames = 0;
    for (int line = 1; line <= 2000; ++line) {
        char text[64];
        std::snprintf(text, sizeof text, "%s%05d %s line %d of the numbered lines\r\n",
                      line % 7 ? "" : "\x1b[1m", line, line % 3 ? "plain" : "\x1b[4munderlined\x1b[24m",
                      line);
        scene.feed(text);
        if (line % 10 != 0)
            continue;
        scene.feed("\x1b[0m\x1b[?25l");
        scene.refresh();
        ++frames;
        const gpu_frame_test::Pixels drawn = gpu.draw(scene.snapshot, *scene.snapshot.renderContext);
        const gpu_frame_test::Pixels expected = gpu_frame_test::Pixels::of(scene.shown().bitmap);
        const gpu_frame_test::FrameDifference difference =
            gpu_frame_test::compare(drawn, expected, gpu_frame_test::classify(scene.snapshot, 8, 16), false);
        ASSERT_EQ(difference.exactMismatches, 0)
            << "frame " << frames << ", first at " << difference.firstExactMismatch;
        ASSERT_EQ(difference.glyphBeyond24, 0) << "frame " << frames;
        ASSERT_LE(difference.glyphBeyond2, difference.glyphPixels / 1000) << "frame " << frames;
    }
    EXPECT_EQ(frames, 200);
    EXPECT_EQ(gpu.renderer->completedRenderCount(), 200);
    EXPECT_EQ(gpu.renderer->rowCache().size(), 24u);
}

} // namespace
