// Kitty image animation under random command sequences: frames with and without gaps, rewritten
// and deleted while playback runs, loops counted and endless, images replaced and the clock moved
// by random steps. Every command and every timer step must come back after bounded work, and the
// animation's bookkeeping must stay true to its frames. Seeded, so a failure names its sequence.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <thread>

namespace kestrovan {
namespace {

using testing::KittyFixture;
using testing::solidRgba;

/// Stops the program, naming the step, when one step of the test does not come back in time: a
/// loop that never advances would otherwise hang the suite without saying where.
class HangWatch
{
public:
    HangWatch()
    {
        watcher_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!done_) {
                const uint64_t seen = steps_;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                if (!changed_.wait_until(lock, deadline, [&] { return done_ || steps_ != seen; })) {
                    std::fprintf(stderr, "A step did not return: %s\n", current_.c_str());
                    std::abort();
                }
            }
        });
    }
    ~HangWatch()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        watcher_.join();
    }
    /// Names the step about to run.
    void begin(std::string step)
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            current_ = std::move(step);
            ++steps_;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string current_;
    uint64_t steps_ = 0;
    bool done_ = false;
    std::thread watcher_;
};

/// Draws numbers the same way on every machine (the standard distributions need not).
struct Dice
{
    std::mt19937 engine;
    explicit Dice(uint32_t seed) : engine(seed) {}
    int below(int n) { return static_cast<int>(engine() % static_cast<uint32_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
};

/// A gap key: 0 (default or unchanged), negative (no gap), or a gap of a few milliseconds.
std::string gapKey(Dice& dice)
{
    switch (dice.below(3)) {
    case 0:
        return "0";
    case 1:
        return "-1";
    default:
        return std::to_string(1 + dice.below(60));
    }
}

/// One random command for image 1, which has `frames` frames; a description of it for failures.
std::string randomCommand(KittyFixture& fixture, Dice& dice, int frames)
{
    const std::string frame = std::to_string(dice.below(frames + 2));
    const uint8_t shade = static_cast<uint8_t>(dice.below(256));
    switch (dice.below(9)) {
    case 0:
    case 1: { // a new frame, on a base frame or a colour
        const std::string keys = "a=f,i=1,q=2,z=" + gapKey(dice) + (dice.chance(50) ? ",c=" + frame : "");
        fixture.transmitRgba(keys, 1, 1, solidRgba(1, shade, 0, 0));
        return keys;
    }
    case 2: { // a frame rewritten, maybe the one on show
        const std::string keys = "a=f,i=1,q=2,r=" + frame + ",z=" + gapKey(dice);
        fixture.transmitRgba(keys, 2, 2, solidRgba(4, 0, shade, 0, static_cast<uint8_t>(dice.below(256))));
        return keys;
    }
    case 3:
    case 4: { // playback control: state, loops, a frame's gap, the frame on show
        std::string keys =
            "a=a,i=1,q=2,s=" + std::to_string(dice.below(4)) + ",v=" + std::to_string(dice.below(4));
        if (dice.chance(60))
            keys += ",r=" + frame + ",z=" + gapKey(dice);
        if (dice.chance(30))
            keys += ",c=" + frame;
        fixture.command(keys);
        return keys;
    }
    case 5: { // a frame deleted, or the image with its last frame
        const std::string keys =
            std::string("a=d,q=2,i=1,d=") + (dice.chance(85) ? "f" : "F") + ",r=" + frame;
        fixture.command(keys);
        return keys;
    }
    case 6: { // one frame composed onto another
        const std::string keys = "a=c,i=1,q=2,r=" + frame + ",c=" + std::to_string(dice.below(frames + 1)) +
                                 ",w=1,h=1,x=" + std::to_string(dice.below(2)) +
                                 ",C=" + std::to_string(dice.below(2));
        fixture.command(keys);
        return keys;
    }
    case 7: { // the image sent again, shown or not, which drops its animation
        const std::string keys = dice.chance(70) ? "a=T,i=1,q=2" : "a=t,i=1,q=2";
        fixture.transmitRgba(keys, 2, 2, solidRgba(4, shade, shade, shade));
        return keys;
    }
    default: { // time passes; the timers that are due run
        const uint64_t step = uint64_t(dice.below(4)) * uint64_t(dice.below(80)) * 1'000'000;
        fixture.clock->now += step;
        fixture.fireDueTimers();
        return "clock +" + std::to_string(step / 1'000'000) + " ms";
    }
    }
}

/// What the store says of image 1, checked against its frames.
void expectTrueBookkeeping(KittyFixture& fixture, const std::string& context)
{
    const auto& images = fixture.screen().imagesById;
    const auto image = images.find(1);
    if (image == images.end() || !image->second.animation)
        return;
    const KittyGraphicsAnimation& animation = *image->second.animation;
    size_t withGap = 0;
    for (const KittyGraphicsAnimationFrame& frame : animation.frames)
        withGap += frame.gapMilliseconds != 0 ? 1 : 0;
    ASSERT_GE(animation.frames.size(), 2u) << context << ": one frame is a still image";
    ASSERT_EQ(animation.framesWithGap, withGap) << context << ": the count of frames with a gap";
    ASSERT_GE(animation.currentIndex, 0) << context;
    ASSERT_LT(animation.currentIndex, static_cast<int64_t>(animation.frames.size())) << context;
}

TEST(KittyAnimationRandom, EveryCommandAndTimerStepEndsAndKeepsTheFramesCounted)
{
    HangWatch watch;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        KittyFixture fixture;
        Dice dice(seed);
        fixture.transmitRgba("a=T,i=1,q=2", 2, 2, solidRgba(4, 255, 255, 255));
        for (int step = 0; step < 250; ++step) {
            const auto& images = fixture.screen().imagesById;
            const auto image = images.find(1);
            const int frames = image == images.end() ? 0
                               : image->second.animation
                                   ? static_cast<int>(image->second.animation->frames.size())
                                   : 1;
            // The seed and the step name the command: the same seed draws the same sequence.
            watch.begin("seed " + std::to_string(seed) + " step " + std::to_string(step));
            const std::string command = randomCommand(fixture, dice, frames);
            expectTrueBookkeeping(fixture, "seed " + std::to_string(seed) + " step " + std::to_string(step) +
                                               " (" + command + ")");
            if (::testing::Test::HasFatalFailure())
                return;
        }
        // However the sequence left playback, a timer step always comes back.
        watch.begin("seed " + std::to_string(seed) + " final timer step");
        fixture.clock->now += 10'000'000'000;
        fixture.fireDueTimers();
    }
}

} // namespace
} // namespace kestrovan
