// The hand-over of a keystroke's echo from the pipeline's thread to a main loop asleep in its poll:
// the time from posting to the posted work running on the main thread. Three ways are measured in
// the same run: the main queue the application uses (one GLib source marked ready from the other
// thread), GLib's own way (`g_main_context_invoke`, an idle source added from the other thread),
// and the bare kernel wake-up under both, an eventfd written by one thread and polled by the other.
// Each hand-over starts after a pause of 50-400 µs drawn at random, so the main thread is asleep in
// its poll as it is between two keys. Times are the mean hand-over of a run (manual time); three
// runs give the aggregates.
#include "Platform/Dispatch/GLib/GLibMainQueue.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <glib.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

/// A thread that, each time it is asked, pauses 50-400 µs and then hands over with `post`.
class Poster
{
public:
    explicit Poster(std::function<void()> post) : post_(std::move(post)), thread_([this] { run(); }) {}
    ~Poster()
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        condition_.notify_one();
        thread_.join();
    }

    /// Asks for one hand-over; the time it was made is `postedAt` once the work has run.
    void ask()
    {
        {
            std::lock_guard lock(mutex_);
            ++asked_;
        }
        condition_.notify_one();
    }

    std::atomic<Clock::time_point> postedAt{};

private:
    void run()
    {
        std::mt19937 random(20261209);
        std::uniform_int_distribution<int> pause(50, 400);
        uint64_t done = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                condition_.wait(lock, [&] { return quit_ || asked_ > done; });
                if (quit_)
                    return;
            }
            ++done;
            std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
            postedAt = Clock::now();
            post_();
        }
    }

    std::function<void()> post_;
    std::mutex mutex_;
    std::condition_variable condition_;
    uint64_t asked_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

double secondsSince(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

void BM_MainQueueHandOver(benchmark::State& state)
{
    auto queue = std::make_shared<platform::GLibMainQueue>();
    Clock::time_point ranAt;
    bool ran = false;
    Poster poster([&] {
        queue->async([&] {
            ranAt = Clock::now();
            ran = true;
        });
    });
    for (auto _ : state) {
        ran = false;
        poster.ask();
        while (!ran)
            g_main_context_iteration(nullptr, TRUE);
        state.SetIterationTime(secondsSince(poster.postedAt.load(), ranAt));
    }
}

void BM_GLibInvokeHandOver(benchmark::State& state)
{
    struct Run
    {
        Clock::time_point at;
        bool done = false;
    } run;
    Poster poster([&] {
        g_main_context_invoke(
            nullptr,
            [](gpointer data) {
                auto* ran = static_cast<Run*>(data);
                ran->at = Clock::now();
                ran->done = true;
                return G_SOURCE_REMOVE;
            },
            &run);
    });
    for (auto _ : state) {
        run.done = false;
        poster.ask();
        while (!run.done)
            g_main_context_iteration(nullptr, TRUE);
        state.SetIterationTime(secondsSince(poster.postedAt.load(), run.at));
    }
}

void BM_EventfdHandOver(benchmark::State& state)
{
    const int event = eventfd(0, EFD_CLOEXEC);
    Poster poster([event] {
        const uint64_t one = 1;
        if (write(event, &one, sizeof one) != sizeof one)
            std::abort();
    });
    for (auto _ : state) {
        poster.ask();
        pollfd watched{event, POLLIN, 0};
        while (poll(&watched, 1, -1) != 1) {
        }
        const Clock::time_point woke = Clock::now();
        uint64_t count = 0;
        if (read(event, &count, sizeof count) != sizeof count)
            std::abort();
        state.SetIterationTime(secondsSince(poster.postedAt.load(), woke));
    }
    close(event);
}

} // namespace

BENCHMARK(BM_MainQueueHandOver)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_GLibInvokeHandOver)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
BENCHMARK(BM_EventfdHandOver)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->Repetitions(3)
    ->ReportAggregatesOnly();
