// The GPU cursor's blink: the timer on manual main-thread timers, the render thread's wishes
// handed over through a manual main loop, input restarting the phase, and a timer that outlives
// its controller.
#include "Kestrovan/Apple/Metal/MetalCursorBlinkController.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;

class MetalCursorBlinkControllerTests : public testing::Test
{
protected:
    void SetUp() override
    {
        redrawState->state.withLock([this](MetalRedrawState::Fields& fields) {
            fields.callbackConfigured = true;
            fields.callback = [this] { ++redraws; };
        });
    }

    // The view's teardown: the timer stops with the controller's shutdown. A controller dropped
    // without it leaves its timer to stop itself at the next tick, which these timers never
    // reach once the test ends.
    void TearDown() override
    {
        if (controller)
            controller->shutdown();
    }

    /// The render thread's wish for this frame, and the main loop running what it posted.
    void frameWants(bool shouldBlink)
    {
        MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, shouldBlink, *mainLoop);
        mainLoop->runUntilIdle();
    }

    bool visible() const { return redrawState->cursorBlinkOn(); }

    std::shared_ptr<platform::ManualMainThreadTimers> timers =
        std::make_shared<platform::ManualMainThreadTimers>();
    std::shared_ptr<platform::ManualMainLoop> mainLoop = std::make_shared<platform::ManualMainLoop>();
    std::shared_ptr<MetalRedrawState> redrawState = std::make_shared<MetalRedrawState>();
    std::shared_ptr<MetalCursorBlinkController> controller =
        std::make_shared<MetalCursorBlinkController>(redrawState, 0.7, timers);
    int redraws = 0;
};

TEST_F(MetalCursorBlinkControllerTests, BlinksEveryIntervalOnceWantedAndStopsVisibleWhenTheStyleTurnsSteady)
{
    frameWants(true);
    EXPECT_TRUE(controller->isBlinking());
    EXPECT_TRUE(visible());
    timers->advance(699ms);
    EXPECT_TRUE(visible()) << "no flip before a full interval";
    timers->advance(1ms);
    EXPECT_FALSE(visible());
    timers->advance(700ms);
    EXPECT_TRUE(visible());
    timers->advance(700ms);
    EXPECT_FALSE(visible());
    EXPECT_EQ(redraws, 3) << "each flip asks for a redraw";

    // A steady style: the render thread shows the cursor at once, before the main thread runs.
    MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, false, *mainLoop);
    EXPECT_TRUE(visible());
    mainLoop->runUntilIdle();
    EXPECT_FALSE(controller->isBlinking());
    EXPECT_EQ(timers->activeCount(), 0u);
    timers->advance(5s);
    EXPECT_TRUE(visible()) << "a cursor that stopped blinking stays visible";
    EXPECT_EQ(redraws, 3);
}

TEST_F(MetalCursorBlinkControllerTests, HandsOnlyChangesToTheMainThreadAndIgnoresStaleOnes)
{
    MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, false, *mainLoop);
    EXPECT_EQ(mainLoop->pendingCount(), 0u) << "not blinking already";

    // Two frames before the main thread gets to run: the first wish is stale by then.
    MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, true, *mainLoop);
    MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, true, *mainLoop);
    MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, false, *mainLoop);
    EXPECT_EQ(mainLoop->pendingCount(), 2u);
    mainLoop->runUntilIdle();
    EXPECT_FALSE(controller->isBlinking());
    EXPECT_EQ(timers->activeCount(), 0u);

    // Applying blinking that the render thread does not want does nothing; two wanted applies
    // start one timer.
    controller->apply(true);
    EXPECT_FALSE(controller->isBlinking());
    frameWants(true);
    controller->apply(true);
    EXPECT_EQ(timers->activeCount(), 1u);
}

TEST_F(MetalCursorBlinkControllerTests, InputShowsTheCursorAndRestartsThePhase)
{
    frameWants(true);
    timers->advance(700ms);
    ASSERT_FALSE(visible());
    timers->advance(300ms);

    controller->resetAfterInput();
    EXPECT_TRUE(visible());
    EXPECT_EQ(redraws, 2) << "the flip and the input each asked for a redraw";
    EXPECT_EQ(timers->activeCount(), 1u);
    timers->advance(699ms);
    EXPECT_TRUE(visible()) << "a full interval after the input, not after the last flip";
    timers->advance(1ms);
    EXPECT_FALSE(visible());

    // Without blinking, input changes nothing.
    frameWants(false);
    const int before = redraws;
    controller->resetAfterInput();
    EXPECT_FALSE(controller->isBlinking());
    EXPECT_EQ(redraws, before);
}

TEST_F(MetalCursorBlinkControllerTests, ATimerThatOutlivesItsControllerStopsItselfAtItsNextTick)
{
    frameWants(true);
    const std::weak_ptr<MetalCursorBlinkController> weak = controller;
    controller.reset();
    ASSERT_TRUE(weak.expired());
    EXPECT_EQ(timers->activeCount(), 1u);
    timers->advance(700ms);
    EXPECT_EQ(timers->activeCount(), 0u);
    EXPECT_TRUE(visible()) << "the last tick did not flip";
    EXPECT_EQ(redraws, 0);

    // A wish posted for a controller that is gone is dropped.
    MetalCursorBlinkController::updateCursorBlinkTimer(weak, *redrawState, false, *mainLoop);
    EXPECT_EQ(mainLoop->runUntilIdle(), 1u);
}

TEST_F(MetalCursorBlinkControllerTests, ARenderThreadsWishesReachTheMainThreadInOrder)
{
    // The render thread records each frame's wish under the state's lock while the main thread
    // reads the phase; the last wish, steady, wins.
    std::thread renderThread([this] {
        for (int frame = 0; frame < 200; ++frame)
            MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, frame % 3 != 2,
                                                               *mainLoop);
        MetalCursorBlinkController::updateCursorBlinkTimer(controller, *redrawState, false, *mainLoop);
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline &&
           (redrawState->cursorBlinkWanted() || mainLoop->pendingCount() > 0 || controller->isBlinking())) {
        mainLoop->waitForWork(10ms);
        mainLoop->runUntilIdle();
        EXPECT_TRUE(visible() || controller->isBlinking());
    }
    renderThread.join();
    mainLoop->runUntilIdle();
    EXPECT_FALSE(controller->isBlinking());
    EXPECT_EQ(timers->activeCount(), 0u);
    EXPECT_TRUE(visible());
}

TEST(MetalCursorBlinkControllerDeathTest, AnIntervalThatIsNotPositiveStopsTheProgram)
{
    const auto state = std::make_shared<MetalRedrawState>();
    const auto timers = std::make_shared<platform::ManualMainThreadTimers>();
    EXPECT_DEATH(MetalCursorBlinkController(state, 0, timers), "interval must be positive");
    EXPECT_DEATH(MetalCursorBlinkController(state, -0.7, timers), "interval must be positive");
}

} // namespace
} // namespace kestrovan
