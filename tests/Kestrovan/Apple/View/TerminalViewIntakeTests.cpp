// Output in, frames requested, typed bytes and reports out: the view's senders, keys, mouse
// reports, the control-key table, the wheel budget and the diagnostics counters.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/Apple/WheelReportBudget.h"

#include <chrono>
#include <thread>

namespace kestrovan {
namespace {

using testing::ViewFixture;

TEST(TerminalViewIntakeTests, ABurstOfOutputGivesOneFrameRequestAndNothingTicksWhileIdle)
{
    ViewFixture f;
    f.tickUntilPaused();
    // The immediate tick on resuming comes at most every 16 ms.
    f.timers->advance(std::chrono::milliseconds(20));
    const FrameDriverCounters before = f.view->frameDriver()->counters();
    const uint64_t deliveriesBefore = f.view->frameSignal()->deliveriesPosted();

    // A burst from the parse thread: each feed asks twice, all of it coalesces into one delivery.
    // (The output stays on the screen: a scroll would ask for one more frame, for the scroller.)
    std::thread parser([&] {
        for (int i = 0; i < 200; ++i)
            f.view->feed(std::string_view("ab"));
    });
    parser.join();
    EXPECT_EQ(f.view->frameSignal()->deliveriesPosted() - deliveriesBefore, 1u);
    EXPECT_EQ(f.loop->pendingCount(), 1u);
    f.settle();
    const FrameDriverCounters after = f.view->frameDriver()->counters();
    EXPECT_EQ(after.frames - before.frames, 1) << "one frame, drawn at once on resuming";
    EXPECT_EQ(after.immediateTicks - before.immediateTicks, 1);

    // Eight idle refreshes pause the link; from then on a refresh runs nothing and nothing waits.
    EXPECT_EQ(f.tickUntilPaused(), FrameDriver::idleTicksBeforePause);
    const platform::DisplayLink::Counters paused = f.link().counters();
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(f.link().tick());
    EXPECT_EQ(f.link().counters().ticks, paused.ticks);
    EXPECT_EQ(f.view->frameDriver()->counters().ticks, after.ticks + FrameDriver::idleTicksBeforePause);
    EXPECT_EQ(f.view->frameDriver()->counters().frames, after.frames) << "idle ticks draw nothing";
    EXPECT_EQ(f.loop->pendingCount(), 0u);
    EXPECT_EQ(f.timers->activeCount(), 0u) << "no blink timer without blinking text";
}

TEST(TerminalViewIntakeTests, FeedingCountsBytesAndBatchesAndAnEmptyFeedStillAsksTwice)
{
    ViewFixture f;
    f.view->resetDiagnostics();
    EXPECT_EQ(f.view->diagnostics(), TerminalView::Diagnostics{});
    EXPECT_EQ(f.view->diagnostics().meanBatchBytes(), 0);

    const std::string hundred(100, 'x');
    for (int i = 0; i < 3; ++i)
        f.view->feed(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(hundred.data()), hundred.size()));
    TerminalView::Diagnostics counters = f.view->diagnostics();
    EXPECT_EQ(counters.bytesFed, 300);
    EXPECT_EQ(counters.batches, 3);
    EXPECT_EQ(counters.meanBatchBytes(), 100);
    EXPECT_EQ(counters.metalRowsRebuilt, 0) << "no GPU renderer: its counters stay 0";

    f.settle();
    f.tickUntilPaused();
    const uint64_t deliveries = f.view->frameSignal()->deliveriesPosted();
    f.view->feed(std::span<const uint8_t>());
    EXPECT_EQ(f.view->diagnostics().batches, 4);
    EXPECT_EQ(f.view->diagnostics().bytesFed, 300);
    EXPECT_EQ(f.view->frameSignal()->deliveriesPosted(), deliveries + 1) << "the two requests coalesce";
    EXPECT_TRUE(f.view->frameSignal()->state().pending.contains(FrameDriverSignal::Events::needsFrame));

    // Main-thread hops are counted as they run.
    f.settle();
    const int64_t hops = f.view->diagnostics().mainHops;
    f.view->onMain([] {}, "test");
    f.view->onMain([] {}, "test");
    EXPECT_EQ(f.view->diagnostics().mainHops, hops);
    f.settle();
    EXPECT_EQ(f.view->diagnostics().mainHops, hops + 2);
    f.view->resetDiagnostics();
    EXPECT_EQ(f.view->diagnostics(), TerminalView::Diagnostics{});
}

TEST(TerminalViewIntakeTests, OnMainRunsAfterTheCurrentMainThreadWork)
{
    ViewFixture f;
    std::vector<std::string> order;
    f.view->onMain([&] { order.push_back("hop"); }, "test");
    order.push_back("caller");
    EXPECT_EQ(order, (std::vector<std::string>{"caller"}));
    f.settle();
    EXPECT_EQ(order, (std::vector<std::string>{"caller", "hop"}));
}

TEST(TerminalViewIntakeTests, TypedBytesReachTheHostInOrderFromAnyThread)
{
    ViewFixture f;
    // Three threads send numbered batches while the main thread is busy: each batch arrives whole,
    // as its own host call, and each thread's batches keep their order.
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&f, t] {
            for (int i = 0; i < 100; ++i)
                f.view->send(std::string_view(std::to_string(t) + ":" + std::to_string(i) + ";"));
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    f.view->send(std::string_view("main;"));
    f.settle();
    std::vector<std::vector<uint8_t>> sent = f.delegate->sent;
    ASSERT_EQ(sent.size(), 301u);
    std::vector<int> next(3, 0);
    for (const std::vector<uint8_t>& batch : sent) {
        const std::string text(batch.begin(), batch.end());
        if (text == "main;")
            continue;
        const int thread = text[0] - '0';
        EXPECT_EQ(text, std::to_string(thread) + ":" + std::to_string(next[thread]) + ";");
        ++next[thread];
    }
    EXPECT_EQ(next, (std::vector<int>{100, 100, 100}));
    EXPECT_LE(f.loop->pendingCount(), 0u);

    // Bytes from the main thread while nothing is pending go out at once, in order.
    f.delegate->clearSent();
    f.view->send(std::string_view("a"));
    f.view->send(std::string_view("b"));
    EXPECT_EQ(f.delegate->sentText(), "ab");
}

TEST(TerminalViewIntakeTests, TheInputSenderDeliversThroughItsReplacementOnTheSendingThread)
{
    ViewFixture f;
    TerminalInputSender bare;
    bare.send(std::span<const uint8_t>()); // nothing installed: nothing happens

    std::mutex mutex;
    std::vector<std::pair<std::string, bool>> delivered;
    f.view->inputSender().replaceDelivery([&](std::span<const uint8_t> bytes) {
        std::lock_guard<std::mutex> guard(mutex);
        delivered.emplace_back(std::string(bytes.begin(), bytes.end()),
                               platform::MainQueue::shared()->isCurrent());
    });
    f.view->send(std::string_view("on main"));
    std::thread([&] { f.view->send(std::string_view("off main")); }).join();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0], (std::pair<std::string, bool>{"on main", true}));
    EXPECT_EQ(delivered[1], (std::pair<std::string, bool>{"off main", false}));
    f.settle();
    EXPECT_EQ(f.delegate->sentCount(), 0u) << "the default delivery is bypassed";
}

TEST(TerminalViewIntakeTests, CursorKeysFollowApplicationModeAndRightToLeftLines)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.initialBidiArrowKeySwap = true;
    ViewFixture f(options);
    const auto keys = [&] {
        f.delegate->clearSent();
        f.view->sendKeyUp();
        f.view->sendKeyDown();
        f.view->sendKeyRight();
        f.view->sendKeyLeft();
        f.view->sendKeyHome();
        f.view->sendKeyEnd();
        f.settle();
        return f.delegate->sentText();
    };
    EXPECT_EQ(keys(), "\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F");
    f.feed("\x1b[?1h");
    EXPECT_EQ(keys(), "\x1bOA\x1bOB\x1bOC\x1bOD\x1bOH\x1bOF");
    f.feed("\x1b[?1l");

    // On a Hebrew line the paragraph runs right to left: the swap mode turns the arrows around.
    f.feed("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d");
    EXPECT_EQ(keys().substr(6, 6), "\x1b[D\x1b[C");
    f.view->setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    EXPECT_EQ(keys().substr(6, 6), "\x1b[C\x1b[D");
    f.view->setBidiHostPolicy(BidiHostPolicy::respectTerminal);
    f.feed("\x1b[?1243l");
    EXPECT_EQ(keys().substr(6, 6), "\x1b[C\x1b[D");

    // An explicit right-to-left line takes its fallback direction.
    // (BDSM reset: explicit ordering; SCP 2: right to left, both taken by the line the cursor
    // starts.)
    f.feed("\x1b[?1243h\r\n\x1b[8l\x1b[2 kabc");
    f.feed("\x1b[?1h");
    EXPECT_EQ(keys().substr(6, 6), "\x1bOD\x1bOC");
}

TEST(TerminalViewIntakeTests, MouseReportsAreEncodedAndGoStraightToTheHost)
{
    ViewFixture f;
    using A = TerminalMouseAction;
    using B = TerminalMouseButton;
    const auto report = [&](A action, B button, MouseReportModifiers modifiers = {}, int col = 0,
                            int row = 0) {
        const MouseReport event{action, button, modifiers, col, row, col, row};
        f.delegate->clearSent();
        const bool sent = f.view->sendMouseReport(event);
        EXPECT_EQ(sent, f.delegate->sentCount() == 1);
        return f.delegate->sentText();
    };
    const MouseReportModifiers all =
        MouseReportModifiers::shift | MouseReportModifiers::meta | MouseReportModifiers::control;
    // SGR encoding, so that the codes read plainly.
    f.feed("\x1b[?1000h\x1b[?1006h");
    EXPECT_EQ(report(A::press, B::left, {}, 2, 3), "\x1b[<0;3;4M");
    EXPECT_EQ(report(A::press, B::left, all, 2, 3), "\x1b[<28;3;4M") << "shift 4, meta 8, control 16";
    EXPECT_EQ(report(A::release, B::right), "\x1b[<2;1;1m") << "a release names its button";
    EXPECT_EQ(report(A::wheel, B::wheelUp), "\x1b[<64;1;1M") << "wheel up";
    EXPECT_EQ(report(A::wheel, B::wheelRight), "\x1b[<67;1;1M");
    EXPECT_EQ(report(A::move, B::left), "") << "vt200 reports no drags";
    EXPECT_EQ(report(A::press, B::none), "") << "no button to press";
    f.feed("\x1b[?1002h");
    EXPECT_EQ(report(A::move, B::left), "\x1b[<32;1;1M");
    f.view->allowMouseReporting = false;
    EXPECT_EQ(report(A::press, B::left), "") << "the host's switch is off";
    f.view->allowMouseReporting = true;
    f.feed("\x1b[?1002l\x1b[?9h");
    EXPECT_EQ(report(A::press, B::left, all, 2, 3), "\x1b[<0;3;4M") << "x10 reports no modifiers";
    // Reports are not typing: the caret's blink is left alone.
    EXPECT_EQ(f.view->caretView()->blinkResets(), 0u);
    f.view->send(std::string_view("x"));
    f.settle();
    EXPECT_EQ(f.view->caretView()->blinkResets(), 1u);
}

TEST(TerminalViewIntakeTests, ControlKeyTable)
{
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> table = {
        {"A", {0x01}}, {"z", {0x1A}}, {"a", {0x01}}, {"Z", {0x1A}},    {"\\", {0x1C}},
        {"4", {0x1C}}, {"_", {0x1F}}, {"/", {0x1F}}, {"7", {0x1F}},    {"]", {0x1D}},
        {"5", {0x1D}}, {"[", {0x1B}}, {"3", {0x1B}}, {"^", {0x1E}},    {"6", {0x1E}},
        {" ", {0x00}}, {"@", {0x00}}, {"2", {0x00}}, {"?", {0x7F}},    {"8", {0x7F}},
        {"1", {}},     {"ab", {}},    {"", {}},      {"\xc3\xa9", {}}, {"!", {}},
    };
    for (const auto& [characters, bytes] : table)
        EXPECT_EQ(TerminalView::applyControlToEventCharacters(characters), bytes) << "'" << characters << "'";
}

TEST(TerminalViewIntakeTests, WheelReportBudget)
{
    constexpr uint64_t ms = 1'000'000;
    WheelReportBudget budget = WheelReportBudget::startingAt(1000 * ms);
    EXPECT_EQ(budget.grant(0, 1000 * ms), 0);
    EXPECT_EQ(budget.grant(10, 1000 * ms), 6) << "a full bucket holds 6";
    EXPECT_EQ(budget.grant(10, 1010 * ms), 1) << "10 ms refill one token";
    EXPECT_EQ(budget.grant(10, 2010 * ms), 6) << "a second refills to the cap, no more";
    EXPECT_EQ(budget.grant(3, 2000 * ms), 0) << "a clock reading before the stamp refills nothing";
    EXPECT_EQ(budget.stampNanoseconds, 2010 * ms);
    EXPECT_EQ(budget.grant(3, 2040 * ms), 3);
}

TEST(TerminalViewIntakeTests, ProgramStatusAndSelectionHelpers)
{
    ViewFixture f;
    // OSC 7501 records reach the host once per drain, from the stored copy.
    f.feed("\x1b]7501;id=build:state=working\x07");
    EXPECT_EQ(f.view->programStatusRecords().size(), 1u);
    EXPECT_EQ(f.delegate->events.back(), "status 1");
    const size_t reports = f.delegate->events.size();
    f.view->clearProgramStatus("nothing-here");
    f.settle();
    EXPECT_EQ(f.delegate->events.size(), reports) << "an unknown id reports nothing";
    f.view->programStatusProcessExited();
    f.settle();
    EXPECT_EQ(f.delegate->events.back(), "status 0") << "a working record goes when the process ends";

    f.feed("hello");
    EXPECT_FALSE(f.view->selectionActive());
    EXPECT_EQ(f.view->getSelection(), std::nullopt);
    f.view->selectAll();
    EXPECT_TRUE(f.view->selectionActive());
    EXPECT_NE(f.view->getSelection()->find("hello"), std::string::npos);
    f.view->selectNone();
    EXPECT_FALSE(f.view->selectionActive());
}

} // namespace
} // namespace kestrovan
