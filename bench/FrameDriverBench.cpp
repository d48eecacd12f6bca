// What an idle terminal costs the frame driver, in wake-ups per second.
//
// A driver on a 60 Hz timer display link, with its main queue run by hand as an application's main
// loop would run it: one frame request, then nothing. "afterFrame" measures the first idle second,
// in which the link ticks until eight idle ticks pause it; "paused" measures a whole idle second
// after that. The counters are per idle second: link ticks, wake-ups of the link's thread, main-
// queue deliveries and main-loop items. Once paused every one of them must be zero, the point of
// pausing; the time column is the wall-clock second itself and says nothing.
#include "Kestrovan/Apple/FrameDriver.h"
#include "Kestrovan/Apple/FrameDriverSignal.h"
#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using namespace kestrovan;
using Clock = std::chrono::steady_clock;

struct Counts
{
    uint64_t linkTicks = 0;
    uint64_t wakeUps = 0;
    int deliveries = 0;
    size_t mainLoopItems = 0;
};

struct IdleDriver
{
    std::shared_ptr<platform::ManualMainLoop> loop = std::make_shared<platform::ManualMainLoop>();
    std::shared_ptr<FrameDriverSignal> signal = FrameDriverSignal::create();
    std::shared_ptr<platform::TimerDisplayLink> link = std::make_shared<platform::TimerDisplayLink>(60.0);
    std::shared_ptr<FrameDriver> driver;
    size_t mainLoopItems = 0;

    IdleDriver()
    {
        platform::MainQueue::install(loop);
        driver = FrameDriver::create(signal, link);
        driver->onTick = [] {};
    }
    ~IdleDriver()
    {
        driver.reset();
        loop->runUntilIdle();
        platform::MainQueue::install(nullptr);
    }

    /// Runs the main loop as an application does, sleeping until work is posted, for `duration`.
    void runFor(Clock::duration duration)
    {
        const Clock::time_point end = Clock::now() + duration;
        for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
            if (loop->waitForWork(end - now))
                mainLoopItems += loop->runUntilIdle();
        }
    }

    Counts counts() const
    {
        return Counts{link->counters().ticks, link->wakeUps(), driver->counters().deliveries, mainLoopItems};
    }
};

void report(benchmark::State& state, const Counts& before, const Counts& after, int64_t seconds)
{
    const double per = double(std::max<int64_t>(seconds, 1));
    state.counters["linkTicksPerIdleSecond"] = double(after.linkTicks - before.linkTicks) / per;
    state.counters["wakeUpsPerIdleSecond"] = double(after.wakeUps - before.wakeUps) / per;
    state.counters["deliveriesPerIdleSecond"] = double(after.deliveries - before.deliveries) / per;
    state.counters["mainLoopItemsPerIdleSecond"] = double(after.mainLoopItems - before.mainLoopItems) / per;
}

void afterFrame(benchmark::State& state)
{
    Counts before;
    Counts after;
    for (auto _ : state) {
        IdleDriver idle;
        before = idle.counts();
        idle.signal->publish(FrameDriverSignal::Events::needsFrame);
        idle.runFor(std::chrono::seconds(1));
        after = idle.counts();
        state.counters["pauses"] = idle.driver->counters().pauses;
    }
    report(state, before, after, 1);
}

void paused(benchmark::State& state)
{
    Counts before;
    Counts after;
    for (auto _ : state) {
        IdleDriver idle;
        idle.signal->publish(FrameDriverSignal::Events::needsFrame);
        // Eight idle ticks at 60 Hz pause the link within about 150 ms.
        idle.runFor(std::chrono::milliseconds(500));
        before = idle.counts();
        idle.runFor(std::chrono::seconds(1));
        after = idle.counts();
    }
    report(state, before, after, 1);
}

BENCHMARK(afterFrame)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(paused)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
