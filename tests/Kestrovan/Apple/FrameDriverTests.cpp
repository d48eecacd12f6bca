#include "Kestrovan/Apple/FrameDriver.h"
#include "Kestrovan/Apple/FrameDriverSignal.h"
#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace kestrovan {
namespace {

using Events = FrameDriverSignal::Events;
using namespace std::chrono_literals;

/// A driver on a manual link and a manual main loop, with a clock the test moves.
struct DriverFixture
{
    std::shared_ptr<platform::ManualMainLoop> loop = std::make_shared<platform::ManualMainLoop>();
    std::shared_ptr<FrameDriverSignal> signal = FrameDriverSignal::create();
    std::shared_ptr<platform::ManualDisplayLink> link = std::make_shared<platform::ManualDisplayLink>();
    uint64_t now = 5'000'000'000;
    std::shared_ptr<FrameDriver> driver;
    int frames = 0;
    std::vector<bool> visibility;

    DriverFixture()
    {
        platform::MainQueue::install(loop);
        driver = FrameDriver::create(signal, link, [this] { return now; });
        driver->onTick = [this] { ++frames; };
        driver->onVisibilityChanged = [this](bool visible) { visibility.push_back(visible); };
    }
    ~DriverFixture()
    {
        driver.reset();
        loop->runUntilIdle();
        platform::MainQueue::install(nullptr);
    }

    /// Publishes a frame request and runs the main loop.
    void request()
    {
        signal->publish(Events::needsFrame);
        loop->runUntilIdle();
    }
    /// Ticks the link until it pauses; the number of ticks it took.
    int tickUntilPaused()
    {
        int ticks = 0;
        while (link->tick())
            ++ticks;
        return ticks;
    }
};

TEST(FrameDriverTests, ABurstOfRequestsFromOtherThreadsGivesOneFrame)
{
    DriverFixture f;
    std::vector<std::thread> publishers;
    for (int t = 0; t < 4; ++t) {
        publishers.emplace_back([&] {
            for (int i = 0; i < 250; ++i)
                f.signal->publish(Events::needsFrame);
        });
    }
    for (std::thread& publisher : publishers)
        publisher.join();
    EXPECT_EQ(f.loop->pendingCount(), 1u) << "one delivery for 1,000 publishes";
    f.loop->runUntilIdle();
    EXPECT_EQ(f.driver->counters().deliveries, 1);
    EXPECT_EQ(f.link->counters().starts, 1u) << "one resume";
    EXPECT_EQ(f.frames, 1) << "one frame, drawn at once";
    EXPECT_EQ(f.driver->counters().immediateTicks, 1);
    EXPECT_TRUE(f.driver->isRunning());
    EXPECT_TRUE(f.signal->state().linkRunning);

    // Seven idle ticks keep the link running; the eighth pauses it.
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(f.link->tick());
    EXPECT_TRUE(f.link->isRunning());
    EXPECT_TRUE(f.link->tick());
    EXPECT_FALSE(f.link->isRunning());
    EXPECT_FALSE(f.signal->state().linkRunning);
    EXPECT_EQ(f.driver->counters(), (FrameDriverCounters{9, 1, 8, 1, 1, 1}));
    EXPECT_FALSE(f.link->tick()) << "a paused link does not tick";
}

TEST(FrameDriverTests, ARunningLinkTakesPlainRequestsWithoutADelivery)
{
    DriverFixture f;
    f.request();
    ASSERT_TRUE(f.link->isRunning());
    f.signal->publish(Events::needsFrame);
    EXPECT_EQ(f.loop->pendingCount(), 0u) << "the link's next tick takes it";
    EXPECT_TRUE(f.link->tick());
    EXPECT_EQ(f.frames, 2);

    f.signal->publish(Events::needsFrame | Events::immediateTick);
    EXPECT_EQ(f.loop->pendingCount(), 1u) << "an immediate tick is delivered";
    f.loop->runUntilIdle();
    EXPECT_EQ(f.frames, 3);

    // A request left for the link is delivered when the link stops before taking it.
    f.signal->publish(Events::needsFrame);
    f.driver->updateVisibility(true, false);
    EXPECT_EQ(f.loop->pendingCount(), 1u);
}

TEST(FrameDriverTests, ParsedOutputIsDeliveredToARunningLinkOnlyAsTheEchoOfInput)
{
    DriverFixture f;
    f.request();
    ASSERT_TRUE(f.link->isRunning());
    const Events parsed = Events::needsFrame | Events::outputParsed;
    f.signal->publish(parsed);
    EXPECT_EQ(f.loop->pendingCount(), 0u) << "output nobody typed for waits for the tick";
    EXPECT_FALSE(f.signal->state().pending.contains(Events::outputParsed));
    EXPECT_TRUE(f.link->tick());
    EXPECT_EQ(f.frames, 2);

    f.signal->noteUserInput();
    f.signal->publish(parsed);
    EXPECT_EQ(f.loop->pendingCount(), 1u) << "the echo is delivered at once";
    f.loop->runUntilIdle();
    EXPECT_EQ(f.frames, 3) << "and drawn without waiting for the tick";
    f.signal->publish(parsed);
    EXPECT_EQ(f.loop->pendingCount(), 0u) << "one input, one echo";
}

TEST(FrameDriverTests, AnImmediateTickOnResumeAtMostEvery16Milliseconds)
{
    DriverFixture f;
    f.request();
    EXPECT_EQ(f.frames, 1);
    EXPECT_EQ(f.tickUntilPaused(), 8);

    f.now += 10'000'000;
    f.request();
    EXPECT_TRUE(f.link->isRunning()) << "resumed";
    EXPECT_EQ(f.frames, 1) << "10 ms after the last immediate tick: left to the link";
    EXPECT_TRUE(f.link->tick());
    EXPECT_EQ(f.frames, 2);
    EXPECT_EQ(f.tickUntilPaused(), 8);

    f.now += 10'000'000;
    f.request();
    EXPECT_EQ(f.frames, 3) << "20 ms after it: drawn at once";
    EXPECT_EQ(f.driver->counters().immediateTicks, 2);
}

/// A manual link that says it resumes on demand, as a window's frame clock does.
class OnDemandLink final : public platform::DisplayLink
{
public:
    void setHandler(Handler handler) override { link.setHandler(std::move(handler)); }
    void start() override { link.start(); }
    void pause() override { link.pause(); }
    bool isRunning() const override { return link.isRunning(); }
    void invalidate() override { link.invalidate(); }
    bool ticksOnMainThread() const override { return true; }
    bool resumesOnDemand() const override { return true; }
    void expediteTick() override { ++expedites; }
    Counters counters() const override { return link.counters(); }

    platform::ManualDisplayLink link;
    int expedites = 0;
};

TEST(FrameDriverTests, OnlyAnEchoAsksALinkThatResumesOnDemandToTickSooner)
{
    enum class Step
    {
        output, // a batch of output nobody typed for, parsed off the main thread
        echo,   // the user's input, then the output answering it
        tick,   // the link's clock ticks (when it runs)
        hide,
        show,
    };
    struct Case
    {
        const char* name;
        std::vector<Step> steps;
        int expedites;
        int frames;
    };
    using enum Step;
    const std::vector<Case> cases = {
        {"an echo after an idle pause", {echo, tick}, 1, 1},
        {"an echo while the link waits for its tick", {output, echo, tick}, 1, 1},
        {"two echoes before the tick", {echo, echo, tick}, 2, 1},
        {"an echo right after a frame", {output, tick, echo, tick}, 1, 2},
        {"a flood of output, a frame per tick",
         {output, output, tick, output, tick, output, output, tick},
         0,
         3},
        {"one echo amid a flood", {output, tick, output, echo, tick, output, tick}, 1, 3},
        {"output after an echo, before its frame, asks again", {echo, output, tick, output, tick}, 2, 2},
        {"an echo while hidden is hurried once shown", {hide, echo, tick, show, tick}, 1, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        DriverFixture f;
        auto link = std::make_shared<OnDemandLink>();
        f.driver->bind(link);
        for (Step step : test.steps) {
            switch (step) {
            case output:
                f.signal->publish(Events::needsFrame | Events::outputParsed);
                break;
            case echo:
                f.signal->noteUserInput();
                f.signal->publish(Events::needsFrame | Events::outputParsed);
                break;
            case tick:
                link->link.tick();
                break;
            case hide:
                f.driver->updateVisibility(true, false);
                break;
            case show:
                f.driver->updateVisibility(true, true);
                break;
            }
            f.loop->runUntilIdle();
        }
        EXPECT_EQ(link->expedites, test.expedites);
        EXPECT_EQ(f.driver->counters().expeditedTicks, test.expedites);
        EXPECT_EQ(f.frames, test.frames);
        EXPECT_EQ(f.driver->counters().immediateTicks, 0) << "every frame at the link's tick";
        EXPECT_FALSE(link->isRunning()) << "paused once nothing is owed";
    }
}

TEST(FrameDriverTests, ALinkThatResumesOnDemandRunsOnlyWhileAFrameIsOwed)
{
    DriverFixture f;
    auto link = std::make_shared<OnDemandLink>();
    f.driver->bind(link);
    f.request();
    EXPECT_TRUE(link->isRunning());
    EXPECT_EQ(f.frames, 0) << "no frame before the link's tick, however long since the last";
    EXPECT_TRUE(link->link.tick());
    EXPECT_EQ(f.frames, 1);
    EXPECT_FALSE(link->isRunning()) << "paused with the frame";
    EXPECT_FALSE(f.signal->state().linkRunning);

    // A request made while the frame is drawn starts the link again for the next one.
    f.driver->onTick = [&f] {
        ++f.frames;
        if (f.frames == 2)
            f.signal->publish(Events::needsFrame);
    };
    f.request();
    EXPECT_TRUE(link->link.tick());
    EXPECT_EQ(f.frames, 2);
    f.loop->runUntilIdle();
    EXPECT_TRUE(link->isRunning());
    EXPECT_TRUE(link->link.tick());
    EXPECT_EQ(f.frames, 3);
    EXPECT_FALSE(link->isRunning());

    // A frame owed while the view cannot be seen starts the link when it can again.
    f.driver->updateVisibility(true, false);
    f.request();
    EXPECT_FALSE(link->isRunning());
    f.driver->updateVisibility(true, true);
    EXPECT_TRUE(link->isRunning());
    EXPECT_TRUE(link->link.tick());
    EXPECT_EQ(f.frames, 4);
    EXPECT_FALSE(link->isRunning());
    EXPECT_EQ(f.driver->counters().immediateTicks, 0);
    EXPECT_EQ(link->counters().starts, link->counters().stops);
}

TEST(FrameDriverTests, VisibilitySuspendsTicking)
{
    DriverFixture f;
    f.request();
    f.driver->updateVisibility(true, false);
    EXPECT_EQ(f.visibility, std::vector<bool>{false});
    EXPECT_FALSE(f.link->isRunning());
    f.driver->updateVisibility(true, false);
    EXPECT_EQ(f.visibility, std::vector<bool>{false}) << "reported once";

    f.request();
    EXPECT_FALSE(f.link->isRunning()) << "no ticking while hidden";
    EXPECT_EQ(f.frames, 1);
    f.now += 20'000'000;
    f.driver->updateVisibility(true, true);
    EXPECT_EQ(f.visibility, (std::vector<bool>{false, true}));
    EXPECT_TRUE(f.link->isRunning());
    EXPECT_EQ(f.frames, 2) << "the frame owed while hidden is drawn on return";

    f.driver->updateVisibility(false, true);
    EXPECT_EQ(f.visibility, (std::vector<bool>{false, true, false})) << "no window, not visible";
    f.driver->setVisibilitySuspensionEnabled(false);
    f.request();
    EXPECT_TRUE(f.link->isRunning()) << "suspension switched off";
}

TEST(FrameDriverTests, ShutdownIsFinal)
{
    DriverFixture f;
    f.request();
    f.signal->requestShutdown();
    f.loop->runUntilIdle();
    EXPECT_TRUE(f.driver->isInvalidated());
    EXPECT_FALSE(f.link->isRunning());
    EXPECT_FALSE(f.link->tick());
    const FrameDriverCounters before = f.driver->counters();

    f.signal->publish(Events::needsFrame | Events::immediateTick);
    EXPECT_EQ(f.loop->pendingCount(), 0u);
    EXPECT_TRUE(f.signal->state().pending.isEmpty()) << "publishes after shutdown are ignored";
    f.driver->consumeSignalOnMain();
    EXPECT_EQ(f.driver->counters(), before);
    EXPECT_EQ(f.frames, 1);
}

TEST(FrameDriverDeathTest, ConfiguringTheSignalTwiceStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto signal = FrameDriverSignal::create();
            signal->configure([] {});
            signal->configure([] {});
        },
        "FrameDriverSignal.configure\\(sink:\\) called twice");
}

TEST(FrameDriverTests, ATimerLinkSleepsOncePaused)
{
    // A link on its own thread reaches the driver through the signal: ticks while there is work,
    // then nothing at all.
    auto loop = std::make_shared<platform::ManualMainLoop>();
    platform::MainQueue::install(loop);
    auto signal = FrameDriverSignal::create();
    auto link = std::make_shared<platform::TimerDisplayLink>(1000.0);
    int frames = 0;
    auto driver = FrameDriver::create(signal, link);
    driver->onTick = [&] { ++frames; };
    signal->publish(Events::needsFrame);
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (driver->counters().pauses == 0 && std::chrono::steady_clock::now() < giveUp) {
        loop->waitForWork(10ms);
        loop->runUntilIdle();
    }
    EXPECT_EQ(driver->counters().pauses, 1);
    EXPECT_EQ(frames, 1);
    EXPECT_GE(driver->counters().idleTicks, 8);
    EXPECT_FALSE(link->isRunning());
    // Let the thread settle into its sleep (the pause itself wakes it once), then watch it.
    std::this_thread::sleep_for(20ms);
    const uint64_t wakeUps = link->wakeUps();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(link->wakeUps(), wakeUps) << "a paused link wakes nobody";
    driver.reset();
    loop->runUntilIdle();
    platform::MainQueue::install(nullptr);
}

} // namespace
} // namespace kestrovan
