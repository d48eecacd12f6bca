// A frame that cannot be drawn (the target gives no drawable) asks for a redraw at once: the render
// owner prepares and draws again, and the latest content appears without further output or input.
// Waiting for a completion would wait for ever, as no frame is in flight to complete.
#include "RecordingFrameTestSupport.h"

#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(MetalFrameSkipTests, ATargetThatRefusesADrawableShowsTheLatestContentWithoutFurtherInput)
{
    testing::RenderOwnerFixture f(10, 3);
    metaltest::AttachedRenderer attached(*f.owner, 10, 3);
    const auto& device = attached.device;
    const auto& target = attached.target;
    const auto& renderer = attached.renderer;
    // The frame driver's part: a redraw request becomes one more frame of the render loop.
    int requested = 0;
    renderer->setRedrawCallback([&] { ++requested; });

    target->surface()->refusals = 1;
    f.feed("hello");
    f.owner->renderPublishedFrame();
    EXPECT_EQ(renderer->completedRenderCount(), 0) << "no drawable, nothing drawn";
    EXPECT_EQ(requested, 1) << "and a redraw asked for at once";

    for (int served = 0; served < requested && served < 5; ++served)
        f.owner->renderPublishedFrame();
    ASSERT_EQ(renderer->completedRenderCount(), 1);
    ASSERT_TRUE(renderer->lastDrawData);
    ASSERT_FALSE(renderer->lastDrawData->rows.empty());
    EXPECT_EQ(renderer->lastDrawData->rows.front().glyphGrayCount, 5u) << "hello";
    EXPECT_EQ(requested, 1) << "a drawn frame asks for nothing more";
    device->signalFences();
    renderer->pollCompletions();
    EXPECT_EQ(requested, 1);
}

} // namespace
} // namespace kestrovan
