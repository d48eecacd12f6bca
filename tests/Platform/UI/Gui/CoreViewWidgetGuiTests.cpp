// The core view widget in a real window on a private X server: what the core draws appears on the
// screen, the keys xdotool types reach the core as the view's key events, and size, scale, focus,
// pointer and scrolling reach it as the view expects.
#include "GuiHarness.h"

#include "Platform/UI/KeyCodes.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

using namespace guitest;
using namespace std::chrono_literals;
using platform::KeyEvent;
using platform::KeyEventType;
using platform::ModifierFlags;
namespace keycode = platform::keycode;
namespace functionkey = platform::functionkey;

namespace {

class CoreViewWidgetGui : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!startGtk())
            GTEST_SKIP() << "no display";
        // Tests that double the scale run on their own, with GDK_SCALE=2.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        if (scaled() != (name.find("Scale2") != std::string::npos))
            GTEST_SKIP() << "runs only with the matching GDK_SCALE";
    }

    static bool scaled()
    {
        const char* scale = std::getenv("GDK_SCALE");
        return scale && std::string(scale) == "2";
    }

    std::vector<KeyEvent> presses(const RecordingCore& core) const
    {
        std::vector<KeyEvent> out;
        for (const auto& key : core.keys)
            if (key.type == KeyEventType::keyDown)
                out.push_back(key);
        return out;
    }
};

} // namespace

TEST_F(CoreViewWidgetGui, ShowsTheFrameTheCoreDrewWithTheOriginAtTheBottomLeft)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 320, 200);
    ASSERT_EQ(core->sizes.size(), 1u);
    EXPECT_EQ(core->sizes.back(), (platform::Size{320, 200}));
    EXPECT_EQ(core->draws.front(), (platform::Rect{0, 0, 320, 200}))
        << "the first frame draws the whole view";

    const Screenshot shot = screenshot(window.xid());
    ASSERT_EQ(shot.width, 320);
    ASSERT_EQ(shot.height, 200);
    EXPECT_EQ(shot.pixel(160, 100), 0xC02020u) << "the frame's colour";
    EXPECT_EQ(shot.pixel(5, 195), 0x20C020u) << "the marker at the y-up origin is at the bottom left";
    EXPECT_EQ(shot.pixel(5, 5), 0xC02020u) << "and not at the top left";

    // A redraw of part of the view reaches the core as that part, y-up.
    const size_t patches = window.view().patchCount();
    core->fill = 0x2020C0;
    window.view().setNeedsDisplayInRect(platform::Rect{100, 50, 40, 30});
    ASSERT_TRUE(spinUntil([&] { return core->draws.size() >= 2; }));
    EXPECT_EQ(core->draws.back(), (platform::Rect{100, 50, 40, 30}));
    const Screenshot after = screenshotWhen(
        window.xid(), [](const Screenshot& shot) { return shot.pixel(120, 200 - 65) == 0x2020C0u; });
    EXPECT_EQ(after.pixel(120, 200 - 65), 0x2020C0u) << "inside the redrawn part";
    EXPECT_EQ(after.pixel(60, 100), 0xC02020u) << "the rest keeps its pixels";
    EXPECT_EQ(window.view().patchCount(), patches + 1) << "GTK is given the changed pixels alone";

    // Drawing the same pixels again gives GTK nothing new; a change to the whole view remakes its
    // bands, and the patches go.
    window.view().setNeedsDisplayInRect(platform::Rect{100, 50, 40, 30});
    ASSERT_TRUE(spinUntil([&] { return core->draws.size() >= 3; }));
    EXPECT_EQ(window.view().patchCount(), patches + 1);
    core->fill = 0x20C0C0;
    window.view().setNeedsDisplay();
    ASSERT_TRUE(spinUntil([&] { return core->draws.size() >= 4; }));
    EXPECT_EQ(screenshotWhen(window.xid(),
                             [](const Screenshot& shot) { return shot.pixel(120, 200 - 65) == 0x20C0C0u; })
                  .pixel(120, 200 - 65),
              0x20C0C0u)
        << "the bands show the new pixels";
    EXPECT_EQ(window.view().patchCount(), 0u);
}

TEST_F(CoreViewWidgetGui, TypedKeysReachTheCoreAsTheViewsKeyEvents)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 320, 200);
    ASSERT_TRUE(window.focus());

    ASSERT_TRUE(xdotool("type --delay 20 'aB1'"));
    ASSERT_TRUE(xdotool("key --delay 20 Return ctrl+c Up F5 shift+Tab BackSpace"));
    ASSERT_TRUE(spinUntil([&] { return presses(*core).size() >= 9; }));
    const auto keys = presses(*core);

    struct Expected
    {
        uint16_t keyCode;
        std::u32string characters;
        std::u32string ignoringModifiers;
        uint32_t flags;
    };
    const std::vector<Expected> expected = {
        {keycode::ansiA, U"a", U"a", 0},
        {keycode::ansiB, U"B", U"B", ModifierFlags::shift},
        {keycode::ansi1, U"1", U"1", 0},
        {keycode::returnKey, U"\r", U"\r", 0},
        {keycode::ansiC, U"\x03", U"c", ModifierFlags::control},
        {keycode::upArrow, U"\uF700", U"\uF700", ModifierFlags::function | ModifierFlags::numericPad},
        {keycode::f5, U"\uF708", U"\uF708", ModifierFlags::function},
        {keycode::tab, U"\t", U"\t", ModifierFlags::shift},
        {keycode::deleteKey, U"\x7f", U"\x7f", 0},
    };
    ASSERT_EQ(keys.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("key " + std::to_string(i));
        EXPECT_EQ(keys[i].keyCode, expected[i].keyCode);
        EXPECT_EQ(keys[i].characters, expected[i].characters);
        EXPECT_EQ(keys[i].charactersIgnoringModifiers, expected[i].ignoringModifiers);
        EXPECT_EQ(keys[i].modifierFlags.raw & ModifierFlags::deviceIndependentMask, expected[i].flags);
        EXPECT_FALSE(keys[i].isARepeat);
    }
    // The modifier keys xdotool pressed came as flag changes with their side.
    const bool sawShiftDown = std::any_of(core->keys.begin(), core->keys.end(), [](const KeyEvent& k) {
        return k.type == KeyEventType::flagsChanged && k.keyCode == keycode::shift &&
               k.modifierFlags.has(ModifierFlags::shift | ModifierFlags::leftShiftSide);
    });
    EXPECT_TRUE(sawShiftDown);

    // Text keys went through the input method, editing keys through the key bindings.
    std::string typed;
    for (const auto& text : core->inserted)
        typed += text;
    EXPECT_EQ(typed, "aB1");
    const std::vector<platform::TextInputCommand> commands = {
        platform::TextInputCommand::insertNewline, platform::TextInputCommand::moveUp,
        platform::TextInputCommand::insertBacktab, platform::TextInputCommand::deleteBackward};
    EXPECT_EQ(core->commands, commands);
}

TEST_F(CoreViewWidgetGui, KeysCarryNumLockAsItIsAfterEachToggle)
{
    // The state is kept between keys: a toggle in between must still show on the next key.
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 200, 100);
    ASSERT_TRUE(window.focus());
    ASSERT_TRUE(xdotool("key --delay 20 a Num_Lock a Num_Lock a"));
    auto letters = [&] {
        std::vector<bool> states;
        for (const KeyEvent& key : presses(*core))
            if (key.keyCode == keycode::ansiA)
                states.push_back(key.numLock);
        return states;
    };
    ASSERT_TRUE(spinUntil([&] { return letters().size() >= 3; }));
    EXPECT_EQ(letters(), (std::vector<bool>{false, true, false}));
}

TEST_F(CoreViewWidgetGui, APressWithoutAReleaseBetweenIsARepeat)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 200, 100);
    ASSERT_TRUE(window.focus());
    // Held past the server's auto-repeat delay (660 ms), the key repeats as presses alone.
    ASSERT_TRUE(xdotool("keydown x sleep 0.9 keyup x keydown x keyup x"));
    ASSERT_TRUE(spinUntil([&] {
        return std::count_if(core->keys.begin(), core->keys.end(),
                             [](const KeyEvent& k) { return k.type == KeyEventType::keyUp; }) >= 2;
    }));
    const auto keys = presses(*core);
    ASSERT_GE(keys.size(), 3u);
    EXPECT_FALSE(keys.front().isARepeat);
    for (size_t i = 1; i + 1 < keys.size(); ++i)
        EXPECT_TRUE(keys[i].isARepeat) << "press " << i << " came while the key was down";
    EXPECT_FALSE(keys.back().isARepeat) << "a press after a release starts anew";
}

TEST_F(CoreViewWidgetGui, ADeadKeyShowsMarkedTextAndCommitsTheComposedCharacterOnce)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 200, 100);
    ASSERT_TRUE(window.focus());
    ASSERT_TRUE(mapKeysym("dead_acute"));
    ASSERT_TRUE(xdotool("key dead_acute"));
    ASSERT_TRUE(spinUntil([&] { return !core->marked.empty(); }));
    EXPECT_TRUE(core->inserted.empty()) << "a dead key commits nothing by itself";
    ASSERT_TRUE(xdotool("key e"));
    ASSERT_TRUE(spinUntil([&] { return !core->inserted.empty(); }));
    spinFor(100ms);
    EXPECT_EQ(core->inserted, std::vector<std::string>{"é"});
}

TEST_F(CoreViewWidgetGui, AResizeReachesTheCoreOnceWithTheNewSize)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 320, 200);
    const size_t before = core->sizes.size();
    ASSERT_TRUE(xdotool("windowsize --sync " + std::to_string(window.xid()) + " 500 300"));
    ASSERT_TRUE(spinUntil([&] { return core->sizes.size() > before; }));
    spinFor(200ms);
    ASSERT_EQ(core->sizes.size(), before + 1) << "one size change";
    EXPECT_EQ(core->sizes.back(), (platform::Size{500, 300}));
    ASSERT_TRUE(spinUntil([&] {
        return core->draws.back() == platform::Rect{0, 0, 500, 300};
    })) << "the new size is drawn whole";
}

TEST_F(CoreViewWidgetGui, FocusFollowsTheWindow)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 200, 100);
    ASSERT_TRUE(window.focus());
    EXPECT_EQ(core->focus.back(), true);
    EXPECT_EQ(core->activity.back(), true);

    auto otherCore = std::make_shared<RecordingCore>();
    TestWindow other(otherCore, 200, 100);
    ASSERT_TRUE(other.focus());
    ASSERT_TRUE(spinUntil([&] { return core->activity.back() == false; }))
        << "the first window is no longer active";
    EXPECT_EQ(core->focus.back(), true) << "the view is still its window's focus";
    EXPECT_FALSE(window.view().isWindowActive());

    ASSERT_TRUE(window.focus());
    EXPECT_EQ(core->activity.back(), true);
}

TEST_F(CoreViewWidgetGui, PointerAndScrollEventsArriveInYUpViewCoordinates)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 300, 200);
    ASSERT_TRUE(window.focus());
    const std::string id = std::to_string(window.xid());
    ASSERT_TRUE(xdotool("mousemove --window " + id + " 30 40 click 1 click 1"));
    ASSERT_TRUE(xdotool("mousemove --window " + id + " 60 50 click 3"));
    ASSERT_TRUE(spinUntil([&] {
        return std::count_if(core->mice.begin(), core->mice.end(),
                             [](const auto& m) { return m.type == platform::MouseEventType::up; }) >= 3;
    }));
    std::vector<platform::MouseEvent> clicks;
    for (const auto& m : core->mice)
        if (m.type == platform::MouseEventType::down || m.type == platform::MouseEventType::up)
            clicks.push_back(m);
    ASSERT_EQ(clicks.size(), 6u);
    EXPECT_EQ(clicks[0].location, (platform::Point{30, 160})) << "y counts up from the bottom";
    EXPECT_EQ(clicks[0].buttonNumber, 0);
    EXPECT_EQ(clicks[0].clickCount, 1);
    EXPECT_EQ(clicks[2].clickCount, 2) << "the second click is a double click";
    EXPECT_EQ(clicks[3].clickCount, 2) << "and so is its release";
    EXPECT_EQ(clicks[4].buttonNumber, 1) << "the right button";
    EXPECT_EQ(clicks[4].location, (platform::Point{60, 150}));

    ASSERT_TRUE(xdotool("click 4"));
    ASSERT_TRUE(xdotool("click 5"));
    ASSERT_TRUE(spinUntil([&] { return core->scrolls.size() >= 2; }));
    EXPECT_GT(core->scrolls.front().scrollingDeltaY, 0) << "the wheel rolled away scrolls towards the start";
    EXPECT_LT(core->scrolls.back().scrollingDeltaY, 0);
    EXPECT_FALSE(core->scrolls.front().hasPreciseScrollingDeltas);
    EXPECT_EQ(core->scrolls.front().location, (platform::Point{60, 150}));
}

TEST_F(CoreViewWidgetGui, SubviewsSitAtYUpFramesAndTheScrollerReportsClicks)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 300, 200);
    auto childCore = std::make_shared<RecordingCore>();
    childCore->fill = 0x2020C0;
    auto child = window.view().addSubview(childCore);
    child->setFrame(platform::Rect{50, 20, 40, 30});
    auto scroller = window.view().addScroller();
    scroller->setFrame(platform::Rect{300 - 14, 0, 14, 200});
    scroller->setState(platform::ScrollerState{true, 0.0, 0.25});
    scroller->setHidden(false);
    std::vector<std::pair<platform::ScrollerPart, double>> actions;
    std::vector<bool> tracking;
    scroller->onAction = [&](platform::ScrollerPart part, double value) {
        actions.emplace_back(part, value);
    };
    scroller->onTrackingChanged = [&](bool on) { tracking.push_back(on); };
    ASSERT_TRUE(spinUntil([&] { return !childCore->draws.empty(); }));

    const Screenshot shot = screenshotWhen(
        window.xid(), [](const Screenshot& shot) { return shot.pixel(70, 200 - 35) == 0x2020C0u; });
    EXPECT_EQ(shot.pixel(70, 200 - 35), 0x2020C0u)
        << "inside the subview's frame, 20 points above the bottom";
    EXPECT_EQ(shot.pixel(70, 200 - 55), 0xC02020u) << "above it";
    EXPECT_EQ(shot.pixel(52, 200 - 22), 0x20C020u) << "the subview's own origin is its bottom left";

    // A click on the subview passes through to the view under it.
    const std::string id = std::to_string(window.xid());
    ASSERT_TRUE(xdotool("mousemove --window " + id + " 70 165 click 1"));
    ASSERT_TRUE(spinUntil(
        [&] { return !core->mice.empty() && core->mice.back().type == platform::MouseEventType::up; }));
    EXPECT_TRUE(childCore->mice.empty());

    // A click in the track below the knob moves one page towards it: a knob of a quarter of the
    // track goes a third of the way.
    ASSERT_TRUE(xdotool("mousemove --window " + id + " 293 190 click 1"));
    ASSERT_TRUE(spinUntil([&] { return !actions.empty() && tracking.size() >= 2; }));
    EXPECT_EQ(actions.back().first, platform::ScrollerPart::incrementPage);
    EXPECT_NEAR(actions.back().second, 1.0 / 3, 1e-9);
    EXPECT_EQ(tracking, (std::vector<bool>{true, false}));
    EXPECT_NEAR(scroller->state().doubleValue, 1.0 / 3, 1e-9);
}

TEST_F(CoreViewWidgetGui, TheDisplayLinkTicksFromTheFrameClockOnlyWhileRunning)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 200, 100);
    // The view's link is a display link like any other: a frame driver binds to it as one.
    std::shared_ptr<platform::DisplayLink> link = window.view().displayLink();
    int ticks = 0;
    link->setHandler([&] { ++ticks; });
    spinFor(100ms);
    EXPECT_EQ(ticks, 0) << "a new link is paused";
    link->start();
    ASSERT_TRUE(spinUntil([&] { return ticks >= 3; }));
    EXPECT_GT(window.view().displayLink()->lastFrameTimeUs(), 0);
    EXPECT_TRUE(link->ticksOnMainThread());
    link->pause();
    const int paused = ticks;
    spinFor(150ms);
    EXPECT_EQ(ticks, paused);
    EXPECT_EQ(link->counters().starts, 1u);
    EXPECT_EQ(link->counters().stops, 1u);
    link->invalidate();
    link->start();
    spinFor(100ms);
    EXPECT_EQ(ticks, paused) << "an invalidated link never ticks again";
}

TEST_F(CoreViewWidgetGui, AnExpeditedTickRunsTheFrameTheClockHeldBackAfterTheLastOne)
{
    // Right after a frame the window's clock holds the next one back for a refresh interval; an
    // expedited tick finds that waiting cycle and runs it, once. Another link of the window waiting
    // for a frame meanwhile (a neighbour's stream) sits that cycle out and ticks in the next.
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 200, 100);
    std::shared_ptr<platform::gtk::FrameClockDisplayLink> link = window.view().displayLink();
    GdkFrameClock* clock = gtk_widget_get_frame_clock(window.view().widget());
    int frames = 0;
    const gulong counting =
        g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int* count) { ++*count; }), &frames);
    int ticks = 0;
    int64_t linkCycle = 0, neighbourCycle = 0;
    link->setHandler([&] {
        ++ticks;
        linkCycle = gdk_frame_clock_get_frame_counter(clock);
        window.view().setNeedsDisplay();
        link->pause();
    });
    auto neighbour =
        std::dynamic_pointer_cast<platform::gtk::FrameClockDisplayLink>(window.view().makeDisplayLink());
    ASSERT_NE(neighbour, nullptr);
    int neighbourTicks = 0;
    neighbour->setHandler([&] {
        ++neighbourTicks;
        neighbourCycle = gdk_frame_clock_get_frame_counter(clock);
        neighbour->pause();
    });
    link->expediteTick();
    EXPECT_EQ(link->expeditedTicks(), 0u) << "a paused link has no tick to hurry";
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        const int framesBefore = frames;
        neighbour->start();
        link->start();
        link->expediteTick();
        EXPECT_EQ(link->expeditedTicks(), uint64_t(round)) << "the clock's waiting cycle found and moved";
        ASSERT_TRUE(spinUntil([&] { return neighbourTicks == round && frames >= framesBefore + 2; }));
        EXPECT_EQ(ticks, round);
        EXPECT_GT(neighbourCycle, linkCycle) << "the neighbour ticked in a later cycle";
        EXPECT_EQ(neighbour->deferredTicks(), uint64_t(round));
    }
    spinFor(100ms);
    g_signal_handler_disconnect(clock, counting);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(neighbourTicks, 3);
    EXPECT_EQ(frames, 6) << "the expedited frame and the neighbour's, none after";
}

TEST_F(CoreViewWidgetGui, TheHostsLinkTicksOnceAStartAndAMovedSubviewAsksNoFurtherFrame)
{
    // A frame that moves the caret moves a subview that is shown, or one that is hidden (a program
    // hid the cursor). Neither may keep the window's frame clock going: the next frame would then
    // hold back the next echo by a whole refresh.
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "a hidden subview" : "a shown subview");
        auto core = std::make_shared<RecordingCore>();
        TestWindow window(core, 200, 100);
        auto childCore = std::make_shared<RecordingCore>();
        childCore->fill = 0x2020C0;
        auto child = window.view().addSubview(childCore);
        child->setFrame(platform::Rect{10, 10, 20, 20});
        ASSERT_TRUE(spinUntil([&] { return !childCore->draws.empty(); }));
        child->setHidden(hidden);
        spinFor(100ms);

        std::shared_ptr<platform::DisplayLink> link = window.view().makeDisplayLink();
        ASSERT_NE(link, nullptr);
        EXPECT_TRUE(link->resumesOnDemand());
        GdkFrameClock* clock = gtk_widget_get_frame_clock(window.view().widget());
        int frames = 0;
        const gulong counting = g_signal_connect_swapped(clock, "after-paint",
                                                         G_CALLBACK(+[](int* count) { ++*count; }), &frames);
        // A tick that moves the subview and pauses: the window paints that frame and then stays
        // idle.
        int ticks = 0;
        link->setHandler([&] {
            ++ticks;
            child->setFrame(platform::Rect{40, 10, 20, 20});
            window.view().setNeedsDisplay();
            link->pause();
        });
        link->start();
        ASSERT_TRUE(spinUntil([&] { return frames >= 1; }));
        spinFor(150ms);
        g_signal_handler_disconnect(clock, counting);
        EXPECT_EQ(ticks, 1);
        EXPECT_EQ(frames, 1) << "no frame after the one showing the move";
        const Screenshot shot = screenshot(window.xid());
        EXPECT_EQ(shot.pixel(50, 100 - 25), hidden ? 0xC02020u : 0x2020C0u) << "the subview at its new frame";
        EXPECT_EQ(shot.pixel(20, 100 - 25), 0xC02020u) << "and gone from the old one";

        // Shown again, a hidden subview stands where it was last moved.
        if (hidden) {
            child->setHidden(false);
            ASSERT_TRUE(spinUntil([&] { return screenshot(window.xid()).pixel(50, 100 - 25) == 0x2020C0u; }));
            EXPECT_EQ(screenshot(window.xid()).pixel(20, 100 - 25), 0xC02020u);
        }
    }
}

TEST_F(CoreViewWidgetGui, Scale2DoublesTheBackingPixels)
{
    auto core = std::make_shared<RecordingCore>();
    TestWindow window(core, 160, 100);
    ASSERT_FALSE(core->scales.empty());
    EXPECT_EQ(core->scales.back(), 2.0);
    EXPECT_EQ(core->sizes.back(), (platform::Size{160, 100})) << "sizes stay in points";
    EXPECT_EQ(window.view().backingPixelWidth(), 320);
    EXPECT_EQ(window.view().backingPixelHeight(), 200);
    const Screenshot shot = screenshot(window.xid());
    ASSERT_EQ(shot.width, 320);
    EXPECT_EQ(shot.pixel(10, 195), 0x20C020u) << "the 20x10-point marker covers 40x20 pixels";
    EXPECT_EQ(shot.pixel(38, 182), 0x20C020u);
    EXPECT_EQ(shot.pixel(42, 195), 0xC02020u);
}
