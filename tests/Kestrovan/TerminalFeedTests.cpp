// Feeding bytes, the notifications deferred until the outermost feed ends, replies and the update
// range.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/ViewTerminal.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// A terminal that counts its deferred notifications, and lets the tests send replies through the
/// reply forms the terminal's handlers use.
class CountingTerminal : public Terminal
{
public:
    using Terminal::sendResponse;
    using Terminal::Terminal;
    int scrollNotifications = 0;
    std::vector<std::pair<bool, uint64_t>> watchdogCalls;
    void scrollPositionChanged() override { ++scrollNotifications; }
    void applySynchronizedOutputWatchdog(bool active, uint64_t generation) override
    {
        watchdogCalls.emplace_back(active, generation);
    }
};

std::shared_ptr<CountingTerminal> makeCounting(const std::shared_ptr<RecordingTerminalDelegate>& delegate,
                                               int cols = 10, int rows = 3)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = cols;
    options.rows = rows;
    return std::make_shared<CountingTerminal>(delegate, options);
}

TEST(TerminalFeedTests, PendingNotificationsAreDeliveredOnceWhenTheFeedEnds)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = makeCounting(delegate);
    // Output that scrolls and then begins synchronized output raises both notifications.
    terminal->feed("1\n2\n3\n4\x1b[?2026h");
    EXPECT_EQ(terminal->scrollNotifications, 1);
    EXPECT_EQ(terminal->watchdogCalls, (std::vector<std::pair<bool, uint64_t>>{{true, 1}}));
    EXPECT_FALSE(terminal->innerState().hasPendingScrollNotification);
    EXPECT_FALSE(terminal->synchronizedOutput().watchdogDue());
    terminal->feed(std::span<const uint8_t>());
    terminal->feed("");
    EXPECT_EQ(terminal->scrollNotifications, 1) << "each notification is delivered once";
    EXPECT_EQ(terminal->watchdogCalls.size(), 1u);
}

TEST(TerminalFeedTests, ScrollingOutputNotifiesOncePerFeed)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = makeCounting(delegate);
    terminal->feed("1\n2\n3\n4\n5\n6\n");
    EXPECT_EQ(terminal->scrollNotifications, 1) << "four scrolls, one notification when the feed ends";
    // Outside a feed a scroll notifies at once: a picture shown on the last row scrolls the screen.
    const std::vector<std::shared_ptr<TerminalImage>> strips{std::make_shared<TestImage>()};
    terminal->insertImageRows(strips);
    EXPECT_EQ(terminal->scrollNotifications, 2);
}

TEST(TerminalFeedTests, NestedFeedFromACallbackLeavesNotificationsToTheOuterFeed)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = makeCounting(delegate);
    int notificationsSeenInside = -1;
    delegate->onBell = [&](Terminal& source) {
        // The host answers the bell by feeding more output that scrolls.
        source.feed("a\nb\nc\nd\n");
        notificationsSeenInside = terminal->scrollNotifications;
    };
    terminal->feed("x\x07y");
    EXPECT_EQ(notificationsSeenInside, 0) << "the inner feed does not deliver";
    EXPECT_EQ(terminal->scrollNotifications, 1) << "the outer feed delivers once";
    EXPECT_EQ(terminal->innerState().parseDepth, 0);
    EXPECT_EQ(rowText(*terminal, 2), "     y");
}

TEST(TerminalFeedTests, ReleasedDelegateDropsReplies)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = makeCounting(delegate);
    delegate.reset();
    terminal->sendResponse("text");
    terminal->feed("still parsed");
    EXPECT_EQ(rowText(*terminal, 0), "still pars");
}

TEST(TerminalFeedTests, ReplyForms)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = makeCounting(delegate);
    CountingTerminal& t = *terminal;
    const std::vector<uint8_t> csi{0x1B, '['};
    const std::vector<uint8_t> st{0x1B, '\\'};
    t.sendResponse("plain");
    t.sendResponse(std::span<const uint8_t>(csi));
    t.sendResponse(std::span<const uint8_t>(csi), "0n");
    t.sendResponse(std::span<const uint8_t>(csi), std::span<const uint8_t>(st));
    t.sendResponse(t.cc().OSC(), "l", t.cc().ST());
    ASSERT_EQ(delegate->sends.size(), 5u) << "each form sends once";
    EXPECT_EQ(delegate->sent(), "plain\x1b[\x1b[0n\x1b[\x1b\\\x1b]l\x1b\\");

    delegate->sends.clear();
    t.feed("\x1b G"); // S8C1T
    t.sendResponse(t.cc().CSI(), "c");
    t.sendResponse(t.cc().DCS(), "x", t.cc().ST());
    EXPECT_EQ(delegate->sends[0], (std::vector<uint8_t>{0x9B, 'c'}));
    EXPECT_EQ(delegate->sends[1], (std::vector<uint8_t>{0x90, 'x', 0x9C}));
}

// The variable-list form once took any type and dropped what it could not send, with an
// "Info: Do not know how to handle type ..." line, so a reply built with a number in it went out
// short. Such an item is now refused when the call is compiled.
template <typename... Items>
constexpr bool canSendResponse = requires(CountingTerminal& t, const Items&... items)
{
    t.sendResponse(items...);
};
static_assert(canSendResponse<std::span<const uint8_t>, std::string, uint8_t, const char*>);
static_assert(canSendResponse<std::array<uint8_t, 2>, std::string_view, std::vector<uint8_t>>);
static_assert(!canSendResponse<std::span<const uint8_t>, double>, "a number is not an item");
static_assert(!canSendResponse<uint8_t, int, std::string>, "nor is an int, which is not a byte");
static_assert(!canSendResponse<char>, "nor a char, which is text only inside a string");

TEST(TerminalFeedTests, VariableListSendsEveryItemOnce)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = makeCounting(delegate);
    CountingTerminal& t = *terminal;
    DiagnosticCapture capture;
    t.setSilentLog(false);
    t.sendResponse(t.cc().CSI(), std::string("?"), uint8_t('6'), "n");
    ASSERT_EQ(delegate->sends.size(), 1u) << "the whole list is sent once";
    EXPECT_EQ(delegate->sent(), "\x1b[?6n");
    t.sendResponse(uint8_t('a'), std::vector<uint8_t>{'b', 'c'}, Terminal::CC::st7);
    EXPECT_EQ(delegate->sent(), "\x1b[?6nabc\x1b\\");
    EXPECT_TRUE(capture.lines.empty()) << "nothing is reported";
}

TEST(TerminalFeedTests, UpdateRange)
{
    TerminalFixture fixture(10, 5, 10);
    Terminal& t = fixture.t();
    t.updateRange(-1);
    EXPECT_FALSE(t.getUpdateRange()) << "a negative row changes nothing";
    EXPECT_FALSE(t.getScrollInvariantUpdateRange());

    t.updateRange(3, true);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(3, 3));
    EXPECT_FALSE(t.getScrollInvariantUpdateRange()) << "a scrolling mark leaves the absolute range alone";

    t.feed("\n\n\n\n\n\n\n"); // three lines into the scrollback
    t.clearUpdateRange();
    t.updateRange(1);
    t.updateRange(4);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(1, 4));
    EXPECT_EQ(t.getScrollInvariantUpdateRange(), std::make_pair(4, 7)) << "absolute rows count from yDisp";

    t.clearUpdateRange();
    EXPECT_FALSE(t.getUpdateRange());
    t.updateFullScreen();
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 5));
    EXPECT_EQ(t.getScrollInvariantUpdateRange(), std::make_pair(3, 8));
}

} // namespace
} // namespace kestrovan::testing
