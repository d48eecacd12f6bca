// Kitty image animation against an injected clock: frames and their gaps, playback states and loop
// counts, composition and blending, frame deletion, and the timer with its serials.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace kestrovan {
namespace {

using testing::base64;
using testing::KittyFixture;
using testing::solidRgba;

constexpr uint64_t millisecond = 1'000'000;

/// A placed 1 x 1 red image with a green frame (gap 40, the default) and a blue one (gap 100):
/// frame 1, made from the still image, has gap 0.
KittyFixture animated(bool placed = true)
{
    KittyFixture fixture;
    fixture.transmitRgba(placed ? "a=T,q=2,i=1" : "a=t,q=2,i=1", 1, 1, solidRgba(1, 255, 0, 0));
    fixture.transmitRgba("a=f,q=2,i=1", 1, 1, solidRgba(1, 0, 255, 0));
    fixture.transmitRgba("a=f,q=2,i=1,z=100", 1, 1, solidRgba(1, 0, 0, 255));
    return fixture;
}

/// The colour on show, as "r" / "g" / "b".
std::string onShow(KittyFixture& fixture)
{
    const KittyGraphicsRenderSnapshot snapshot = fixture.t().kittyGraphicsRenderSnapshot();
    const std::vector<uint8_t>& pixel = snapshot.imagesById.at(1).pixels();
    return pixel[0] == 255 ? "r" : pixel[1] == 255 ? "g" : pixel[2] == 255 ? "b" : "?";
}

/// Steps the clock to the earliest armed deadline and fires what is due; the colour on show.
std::string tick(KittyFixture& fixture)
{
    uint64_t earliest = UINT64_MAX;
    for (const auto& item : fixture.clock->items)
        earliest = std::min(earliest, item.deadline);
    if (earliest != UINT64_MAX)
        fixture.clock->now = std::max(fixture.clock->now, earliest);
    fixture.fireDueTimers();
    return onShow(fixture);
}

TEST(KittyAnimation, FramesBuildAnAnimationThatWaitsForPlayback)
{
    KittyFixture fixture = animated();
    const KittyGraphicsImage& image = fixture.screen().imagesById.at(1);
    ASSERT_TRUE(image.animation);
    EXPECT_EQ(image.animation->frames.size(), 3u);
    EXPECT_EQ(image.animation->frames[0].gapMilliseconds, 0u) << "frame 1 came from the still image";
    EXPECT_EQ(image.animation->frames[1].gapMilliseconds, 40u) << "the default gap";
    EXPECT_EQ(image.animation->frames[2].gapMilliseconds, 100u);
    EXPECT_EQ(image.animation->playbackState, KittyGraphicsAnimation::PlaybackState::stopped);
    EXPECT_EQ(image.byteSize, 12);
    EXPECT_EQ(fixture.screen().totalImageBytes, 12);
    EXPECT_TRUE(fixture.clock->items.empty()) << "nothing moves until playback starts";

    // A rewritten frame with z=0 keeps its gap; the answer names the frame.
    fixture.transmitRgba("a=f,i=1,r=2", 1, 1, solidRgba(1, 0, 255, 0));
    EXPECT_EQ(fixture.reply(), "Gi=1,r=2;OK");
    EXPECT_EQ(fixture.screen().imagesById.at(1).animation->frames[1].gapMilliseconds, 40u);
    EXPECT_EQ(fixture.screen().totalImageBytes, 12) << "a rewrite costs nothing more";
}

TEST(KittyAnimation, RunningPlaybackSkipsGaplessFramesAndLoopsAsCounted)
{
    KittyFixture fixture = animated();
    fixture.command("a=a,i=1,s=3");
    EXPECT_EQ(fixture.replies(), std::vector<std::string>()) << "control answers only errors";
    // Frame 1 has no gap: playback passes straight over it.
    EXPECT_EQ(onShow(fixture), "g");
    ASSERT_EQ(fixture.clock->items.size(), 1u);
    EXPECT_EQ(fixture.clock->items.front().deadline, fixture.clock->now + 40 * millisecond);
    EXPECT_EQ(tick(fixture), "b");
    EXPECT_EQ(tick(fixture), "g") << "endless: wraps past frame 1 again";
    EXPECT_EQ(tick(fixture), "b");

    // v=3: two full passes, then the last frame stays and no timer is left.
    KittyFixture counted = animated();
    counted.command("a=a,i=1,s=3,v=3");
    std::string shown = onShow(counted);
    for (int step = 0; step < 6; ++step)
        shown += tick(counted);
    EXPECT_EQ(shown, "gbgbbbb");
    EXPECT_TRUE(counted.clock->items.empty());

    // Stop holds the frame on show.
    KittyFixture stopped = animated();
    stopped.command("a=a,i=1,s=3");
    stopped.command("a=a,i=1,s=1");
    EXPECT_EQ(tick(stopped), "g");
    stopped.clock->now += 1000 * millisecond;
    EXPECT_EQ(tick(stopped), "g");

    // runningWait plays to the last frame and waits there; a new frame continues from there.
    KittyFixture waiting = animated();
    waiting.command("a=a,i=1,s=2");
    EXPECT_EQ(onShow(waiting), "g");
    EXPECT_EQ(tick(waiting), "b");
    EXPECT_EQ(tick(waiting), "b");
    EXPECT_TRUE(waiting.clock->items.empty());
    waiting.transmitRgba("a=f,q=2,i=1,z=10", 1, 1, solidRgba(1, 255, 0, 0));
    EXPECT_EQ(tick(waiting), "r");
}

TEST(KittyAnimation, GapsAndTheCurrentFrameAreControlled)
{
    KittyFixture fixture = animated();
    const uint64_t generation = fixture.screen().imagesById.at(1).contentGeneration;
    fixture.command("a=a,i=1,c=3");
    EXPECT_EQ(onShow(fixture), "b");
    EXPECT_GT(fixture.screen().imagesById.at(1).contentGeneration, generation);

    // All gaps 0: playback never moves.
    fixture.command("a=a,i=1,r=2,z=-1");
    fixture.command("a=a,i=1,r=3,z=-1");
    fixture.command("a=a,i=1,s=3");
    EXPECT_EQ(onShow(fixture), "b");
    EXPECT_TRUE(fixture.clock->items.empty());
    // Give frame 1 a gap: now it is on show in turn.
    fixture.command("a=a,i=1,r=1,z=30");
    EXPECT_EQ(tick(fixture), "r");
}

TEST(KittyAnimation, TimersNeedAPlacementAndStaleOnesDoNothing)
{
    KittyFixture unplaced = animated(false);
    unplaced.command("a=a,i=1,s=3");
    EXPECT_TRUE(unplaced.clock->items.empty()) << "an image no placement shows does not advance";
    EXPECT_EQ(unplaced.screen().imagesById.at(1).animation->currentIndex, 0);

    KittyFixture fixture = animated();
    fixture.command("a=a,i=1,s=3");
    ASSERT_EQ(fixture.clock->items.size(), 1u);
    const uint64_t serial = fixture.t().innerState().kittyAnimationTimerSerial;
    // The alternate screen has no animation: switching there re-arms nothing, which makes the
    // pending item stale.
    fixture.t().feed("\x1b[?1049h");
    EXPECT_GT(fixture.t().innerState().kittyAnimationTimerSerial, serial);
    fixture.clock->now += 1000 * millisecond;
    fixture.fireDueTimers();
    fixture.t().feed("\x1b[?1049l");
    EXPECT_EQ(fixture.screen().imagesById.at(1).animation->currentIndex, 2)
        << "coming back advances once (a late timer does not catch up)";
    EXPECT_EQ(fixture.clock->items.size(), 1u);

    // A stream of commands re-arms one item rather than queueing one each.
    for (int round = 0; round < 50; ++round)
        fixture.command("a=a,i=1,s=3");
    EXPECT_LE(fixture.clock->items.size(), 2u);

    // An item that outlives its terminal does nothing.
    auto items = std::move(fixture.clock->items);
    fixture.terminal.reset();
    for (auto& item : items)
        item.work();
}

TEST(KittyAnimation, CompositionBlendsAndOverwrites)
{
    KittyFixture fixture;
    fixture.transmitRgba("a=t,q=2,i=1", 2, 1, solidRgba(2, 0, 0, 255));
    // Alpha 128 over an opaque pixel: opaque, colours mixed.
    fixture.transmitRgba("a=f,q=2,i=1,r=1,x=1", 1, 1, solidRgba(1, 255, 0, 0, 128));
    EXPECT_EQ(fixture.screen().imagesById.at(1).payload.rgba(),
              (std::vector<uint8_t>{0, 0, 255, 255, 128, 0, 127, 255}));
    // X=1 overwrites.
    fixture.transmitRgba("a=f,q=2,i=1,r=1,X=1", 1, 1, solidRgba(1, 9, 9, 9, 0));
    EXPECT_EQ(fixture.screen().imagesById.at(1).payload.rgba()[3], 0);

    // A new frame on a background colour, then pixel 1 of frame 2 copied onto pixel 0 of frame 1.
    fixture.transmitRgba("a=f,i=1,x=1,Y=287454207", 1, 1, solidRgba(1, 50, 60, 70)); // 0x11223 3FF
    EXPECT_EQ(fixture.reply(), "Gi=1,r=2;OK");
    const auto& frame2 = *fixture.screen().imagesById.at(1).animation->frames[1].rgba;
    EXPECT_EQ(frame2, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0xFF, 50, 60, 70, 255}));
    fixture.command("a=c,i=1,r=2,c=1,X=1,w=1,h=1,C=1");
    EXPECT_EQ(fixture.reply(), "Gi=1;OK");
    EXPECT_EQ(std::vector<uint8_t>(fixture.screen().imagesById.at(1).payload.rgba().begin(),
                                   fixture.screen().imagesById.at(1).payload.rgba().begin() + 4),
              (std::vector<uint8_t>{50, 60, 70, 255}))
        << "frame 1 is the payload";
}

TEST(KittyAnimation, DeletingFrames)
{
    KittyFixture fixture = animated();
    fixture.command("a=a,i=1,c=3");
    fixture.command("a=d,d=f,i=1,r=2");
    const KittyGraphicsImage& image = fixture.screen().imagesById.at(1);
    ASSERT_TRUE(image.animation);
    EXPECT_EQ(image.animation->frames.size(), 2u);
    EXPECT_EQ(image.animation->currentIndex, 1) << "the frame on show keeps its place";
    EXPECT_EQ(fixture.screen().totalImageBytes, 8);
    fixture.command("a=d,d=f,i=1,r=9"); // the last frame
    EXPECT_FALSE(fixture.screen().imagesById.at(1).animation) << "one frame left: a still image again";
    EXPECT_EQ(onShow(fixture), "r");
    fixture.command("a=d,d=f,i=1");
    EXPECT_EQ(fixture.screen().imagesById.count(1), 1u) << "f never removes an image";
    fixture.command("a=d,d=F,i=1");
    EXPECT_EQ(fixture.screen().imagesById.count(1), 0u);
}

TEST(KittyAnimation, TheSharedTimerQueueDrivesPlayback)
{
    // The real clock and the shared I/O timer queue: the item takes the terminal lock itself.
    auto delegate = std::make_shared<testing::KittyDelegate>();
    std::shared_ptr<Terminal> terminal = Terminal::create(delegate, TerminalOptions::defaults());
    auto feed = [&](const std::string& text) {
        terminal->terminalLock().withLock([&] { terminal->feed(text); });
    };
    feed("\x1b_Ga=T,q=2,i=1,f=32,s=1,v=1;" + base64(solidRgba(1, 255, 0, 0)) + "\x1b\\");
    feed("\x1b_Ga=f,q=2,i=1,f=32,s=1,v=1,z=5;" + base64(solidRgba(1, 0, 255, 0)) + "\x1b\\");
    feed("\x1b_Ga=a,i=1,r=1,z=5,s=3\x1b\\");
    auto generation = [&] {
        return terminal->terminalLock().withLock(
            [&] { return (*terminal->innerState().kittyGraphics).primary.generation; });
    };
    const uint64_t start = generation();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (generation() < start + 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(generation(), start + 5) << "the animation did not advance by itself";
    terminal->terminalLock().withLock([&] { terminal->feed("\x1b_Ga=a,i=1,s=1\x1b\\"); });
}

} // namespace
} // namespace kestrovan
