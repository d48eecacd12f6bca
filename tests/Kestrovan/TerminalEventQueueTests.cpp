#include "Kestrovan/TerminalEventQueue.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using kestrovan::TerminalEvent;
using kestrovan::TerminalEventQueue;
using platform::MainQueue;
using platform::ManualMainLoop;

/// A main loop installed as the process's main queue for one test, and the receiver's record.
class TerminalEventQueueTest : public ::testing::Test
{
protected:
    void SetUp() override { MainQueue::install(loop); }
    void TearDown() override { MainQueue::install(nullptr); }

    /// Configures `queue` to record every delivery; inline delivery follows `allowInline`.
    void configureRecording(TerminalEventQueue& queue)
    {
        queue.configure(
            [this](TerminalEvent event) {
                std::lock_guard guard(deliveredMutex);
                delivered.push_back(event);
            },
            [this] { return allowInline; });
    }

    std::vector<TerminalEvent> takeDelivered()
    {
        std::lock_guard guard(deliveredMutex);
        return std::exchange(delivered, {});
    }

    /// Runs `body` on a thread other than the main one and waits for it.
    static void onBackgroundThread(const std::function<void()>& body) { std::thread(body).join(); }

    std::shared_ptr<ManualMainLoop> loop = std::make_shared<ManualMainLoop>();
    bool allowInline = false;
    std::mutex deliveredMutex;
    std::vector<TerminalEvent> delivered;
};

TEST_F(TerminalEventQueueTest, MergesBackgroundPostsIntoOneDrainDeliveredInFixedOrder)
{
    auto queue = TerminalEventQueue::create();
    configureRecording(*queue);

    onBackgroundThread([&] {
        for (int i = 0; i < 3; ++i)
            queue->post(TerminalEvent::bell);
    });
    EXPECT_EQ(loop->pendingCount(), 1u) << "three posts must schedule a single drain";
    EXPECT_TRUE(takeDelivered().empty()) << "nothing may be delivered off the main thread";
    loop->runUntilIdle();
    EXPECT_EQ(takeDelivered(), std::vector{TerminalEvent::bell}) << "three bells merge into one delivery";

    onBackgroundThread([&] {
        queue->post(TerminalEvent::programStatusChanged);
        queue->post(TerminalEvent::bell);
        queue->post(TerminalEvent::mouseModeChanged);
        queue->post(TerminalEvent::bufferActivated);
    });
    EXPECT_EQ(loop->pendingCount(), 1u);
    loop->runUntilIdle();
    EXPECT_EQ(takeDelivered(), (std::vector{TerminalEvent::bufferActivated, TerminalEvent::mouseModeChanged,
                                            TerminalEvent::bell, TerminalEvent::programStatusChanged}))
        << "delivery follows the kinds' order, not the order of posting";

    const auto counts = queue->snapshot();
    EXPECT_EQ(counts.posts, 7);
    EXPECT_EQ(counts.drains, 2);
    EXPECT_EQ(counts.pending, 0u);
    EXPECT_FALSE(counts.drainScheduled);
}

TEST_F(TerminalEventQueueTest, InlineDeliveryTakesPendingBitsAndLeavesTheQueuedDrainEmpty)
{
    auto queue = TerminalEventQueue::create();
    configureRecording(*queue);

    onBackgroundThread([&] { queue->post(TerminalEvent::programStatusChanged); });
    ASSERT_EQ(loop->pendingCount(), 1u);

    allowInline = true;
    queue->post(TerminalEvent::bell);
    EXPECT_EQ(takeDelivered(), (std::vector{TerminalEvent::bell, TerminalEvent::programStatusChanged}))
        << "an inline post delivers at once, with what background posts left pending";

    loop->runUntilIdle();
    EXPECT_TRUE(takeDelivered().empty()) << "the drain queued earlier must find nothing left";

    // With the permission withdrawn, a post on the main thread waits for a drain like any other.
    allowInline = false;
    queue->post(TerminalEvent::mouseModeChanged);
    EXPECT_TRUE(takeDelivered().empty());
    loop->runUntilIdle();
    EXPECT_EQ(takeDelivered(), std::vector{TerminalEvent::mouseModeChanged});
}

TEST_F(TerminalEventQueueTest, ReceiverMayPostAgainAndThatPostWaitsForTheNextDrain)
{
    auto queue = TerminalEventQueue::create();
    std::vector<TerminalEvent> seen;
    queue->configure(
        [&](TerminalEvent event) {
            seen.push_back(event);
            if (event == TerminalEvent::bufferActivated)
                queue->post(TerminalEvent::mouseModeChanged);
        },
        nullptr);

    onBackgroundThread([&] { queue->post(TerminalEvent::bufferActivated); });
    EXPECT_EQ(loop->runOnce(), true);
    EXPECT_EQ(seen, std::vector{TerminalEvent::bufferActivated})
        << "a post from the receiver is not re-entered";
    EXPECT_EQ(loop->pendingCount(), 1u) << "the receiver's post schedules the next drain";
    loop->runUntilIdle();
    EXPECT_EQ(seen, (std::vector{TerminalEvent::bufferActivated, TerminalEvent::mouseModeChanged}));
}

TEST_F(TerminalEventQueueTest, PostsAreLostQuietlyWithoutReceiverOrOnceTheQueueIsReleased)
{
    auto unconfigured = TerminalEventQueue::create();
    onBackgroundThread([&] { unconfigured->post(TerminalEvent::bell); });
    loop->runUntilIdle();
    EXPECT_EQ(unconfigured->snapshot().pending, 0u) << "a drain without a receiver still takes the bits";

    auto queue = TerminalEventQueue::create();
    configureRecording(*queue);
    std::weak_ptr<TerminalEventQueue> weak = queue;
    onBackgroundThread([&] { queue->post(TerminalEvent::bell); });
    queue.reset();
    EXPECT_TRUE(weak.expired()) << "the queued drain must not keep the queue alive";
    loop->runUntilIdle();
    EXPECT_TRUE(takeDelivered().empty());
}

TEST(TerminalEventQueueDeathTest, ConfiguringTwiceStopsTheProgram)
{
    auto queue = TerminalEventQueue::create();
    queue->configure(nullptr, nullptr);
    EXPECT_DEATH(queue->configure(nullptr, nullptr), "configured twice");
}

TEST(TerminalEventQueue, RawValuesAndMasks)
{
    EXPECT_EQ(kestrovan::terminalEventFromRaw(2), TerminalEvent::bell);
    EXPECT_EQ(kestrovan::terminalEventFromRaw(4), std::nullopt) << "raw value 4 has no kind";
    uint32_t all = 0;
    for (TerminalEvent event : kestrovan::allTerminalEvents)
        all |= kestrovan::terminalEventMask(event);
    EXPECT_EQ(all, 0xFu) << "the four kinds take the four lowest bits, one each";
}

} // namespace
