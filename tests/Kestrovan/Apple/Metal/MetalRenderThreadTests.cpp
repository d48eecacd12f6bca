// The GPU renderer driven by the render loop's thread, as a texture-surface view drives it: output
// fed and the renderer replaced on the main thread, frames prepared and drawn on the loop's
// thread, redraws asked for from there. Also run under ThreadSanitizer.
#include "RecordingFrameTestSupport.h"

#include "Kestrovan/Apple/RenderLoop.h"
#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;

/// Waits (polling, with a deadline) for `condition`.
template <typename F> bool waitFor(F condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(MetalRenderThreadTests, TheRenderLoopDrawsTheLatestContentAndTheRendererIsReplacedBetweenFrames)
{
    testing::RenderOwnerFixture f(20, 4);
    metaltest::AttachedRenderer attached(*f.owner, 20, 4);
    const auto& device = attached.device;
    const auto& target = attached.target;
    const auto& renderer = attached.renderer;
    std::shared_ptr<TerminalRenderOwner> owner = f.owner;
    RenderLoop loop([owner] { owner->renderPublishedFrame(); });
    std::atomic<int> redraws = 0;
    renderer->setRedrawCallback([&] {
        ++redraws;
        loop.signal();
    });
    loop.start();

    // A drawable refused now and then, output all the while (forty digits fill two rows).
    for (int i = 0; i < 40; ++i) {
        if (i % 10 == 3)
            f.owner->withRenderState([&] { target->surface()->refusals = 1; });
        f.feed(std::to_string(i % 10));
        loop.signal();
        if (i % 4 == 0)
            f.owner->withRenderState([&] { device->signalFences(); });
    }
    f.feed("\r\nend");
    loop.signal();
    ASSERT_TRUE(waitFor([&] {
        return f.owner->withRenderState([&] {
            device->signalFences();
            return renderer->lastDrawData && renderer->lastDrawData->rows.size() == 4 &&
                   renderer->lastDrawData->rows[2].glyphGrayCount == 3;
        });
    })) << "the last frame shows the last output";
    EXPECT_GT(redraws.load(), 0) << "refused drawables asked for redraws";

    // Replaced on the main thread: the frame in flight completes first.
    ASSERT_TRUE(f.owner->removeMetalRenderer());
    loop.invalidate();
    EXPECT_FALSE(f.owner->hasMetalRenderer());
}

} // namespace
} // namespace kestrovan
