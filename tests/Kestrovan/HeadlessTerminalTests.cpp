#include "Kestrovan/ChildProcessTestSupport.h"
#include "Kestrovan/Kestrovan.h"
#include "Kestrovan/SemanticContent.h"
#include "Kestrovan/TerminalHostInput.h"
#include "Platform/Dispatch/SerialQueue.h"

#include <condition_variable>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

using namespace kestrovan;
using kestrovan::testing::childDeadline;
using kestrovan::testing::eventually;

namespace {

// A headless terminal whose end and launch failures the test can wait for.
class Session
{
public:
    explicit Session(bool directDelivery, TerminalOptions options = TerminalOptions::defaults(),
                     bool handleLaunchFailure = false)
    {
        HeadlessTerminal::LaunchFailureHandler onFailure;
        if (handleLaunchFailure) {
            onFailure = [this](const LocalProcessError& error) {
                std::lock_guard guard(mutex_);
                failure_ = error;
                changed_.notify_all();
            };
        }
        headless = HeadlessTerminal::create(nullptr, options, directDelivery, std::move(onFailure),
                                            [this](std::optional<int32_t> code) {
                                                std::lock_guard guard(mutex_);
                                                end_ = code;
                                                changed_.notify_all();
                                            });
    }

    ~Session()
    {
        // Waits for an end handler that is running (it runs under the same lock) and keeps any
        // later one from reaching this object.
        headless->setOnEnd(nullptr);
    }

    void start(const std::string& script) { headless->process()->startProcess("/bin/sh", {"-c", script}); }

    /// The exit code of the child's end; fails the test when none comes.
    std::optional<int32_t> waitForEnd()
    {
        std::unique_lock lock(mutex_);
        const bool ended = changed_.wait_for(lock, childDeadline, [&] { return end_.has_value(); });
        EXPECT_TRUE(ended) << "the child's end was not reported; screen:\n" << screen();
        return ended ? *end_ : std::optional<int32_t>(-999);
    }
    std::optional<LocalProcessError> waitForFailure()
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, childDeadline, [&] { return failure_.has_value(); });
        return failure_;
    }

    std::vector<std::string> rows()
    {
        const auto snapshot = headless->terminalContentSnapshot(TerminalContentRegion::viewport(),
                                                                Terminal::BufferKind::active);
        std::vector<std::string> texts;
        for (const auto& row : snapshot.rows)
            texts.push_back(row.text());
        return texts;
    }
    std::string screen()
    {
        std::string text;
        for (const auto& row : rows())
            text += row + "\n";
        return text;
    }
    bool hasRow(const std::string& text)
    {
        const auto all = rows();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    bool waitForRow(const std::string& text)
    {
        return eventually([&] { return hasRow(text); });
    }

    std::shared_ptr<HeadlessTerminal> headless;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::optional<int32_t>> end_;
    std::optional<LocalProcessError> failure_;
};

// Hands `text` to the terminal as if the child had printed it.
void feed(HeadlessTerminal& headless, std::string_view text)
{
    headless.dataReceived(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Makes every new descriptor fail with EMFILE while it lives.
class DescriptorExhaustion
{
public:
    DescriptorExhaustion()
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
        close(lowestFree);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorExhaustion() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

} // namespace

TEST(HeadlessTerminal, ShowsTheChildsOutputAndReportsItsEnd)
{
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct delivery" : "queued delivery");
        Session hi(direct);
        hi.start("echo hi");
        EXPECT_EQ(hi.waitForEnd(), 0);
        // Everything received has been parsed when a snapshot is taken.
        EXPECT_EQ(hi.rows().at(0), "hi") << hi.screen();

        Session three(direct);
        three.start("exit 3");
        EXPECT_EQ(three.waitForEnd(), 3);

        Session killed(direct);
        killed.start("kill -9 $$");
        EXPECT_EQ(killed.waitForEnd(), std::nullopt) << "a signal leaves no exit code";
    }
}

TEST(HeadlessTerminal, RunsAnInteractiveShell)
{
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct delivery" : "queued delivery");
        Session session(direct);
        session.headless->process()->startProcess("/bin/sh");
        session.headless->send("echo $((6*7))\r");
        // Typed before the shell was ready, the line is echoed by the terminal and the answer may
        // follow the shell's prompt on its row.
        EXPECT_TRUE(eventually([&] {
            for (const auto& row : session.rows())
                if (row.ends_with("42") && row.find("echo") == std::string::npos)
                    return true;
            return false;
        })) << session.screen();
        session.headless->send(std::string_view("exit\r"));
        EXPECT_EQ(session.waitForEnd(), 0);
    }
}

TEST(HeadlessTerminal, AnswersTheChildsQueriesThroughTheWriter)
{
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct delivery" : "queued delivery");
        Session session(direct);
        // The child asks for the primary device attributes and prints the first bytes of the answer
        // in hexadecimal: ESC [ ?
        session.start("stty -icanon -echo min 1 time 0; printf '\\033[c'; head -c 3 | od -An -tx1");
        EXPECT_EQ(session.waitForEnd(), 0);
        EXPECT_TRUE(session.hasRow(" 1b 5b 3f")) << session.screen();
    }
}

TEST(HeadlessTerminal, TellsTheChildItsSizeAndItsChanges)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 100;
    options.rows = 30;
    Session session(false, options);
    const winsize initial = session.headless->getWindowSize();
    EXPECT_EQ(initial.ws_row, 30);
    EXPECT_EQ(initial.ws_col, 100);
    EXPECT_EQ(initial.ws_xpixel, 16);
    EXPECT_EQ(initial.ws_ypixel, 16);

    session.start("stty size; read -r line; stty size");
    ASSERT_TRUE(session.waitForRow("30 100")) << session.screen();
    auto& terminal = *session.headless->terminal();
    terminal.terminalLock().withLock([&] { terminal.resize(120, 40); });
    winsize resized = session.headless->getWindowSize();
    EXPECT_TRUE(session.headless->process()->updateWindowSize(resized));
    session.headless->send("\r");
    EXPECT_EQ(session.waitForEnd(), 0);
    EXPECT_TRUE(session.hasRow("40 120")) << session.screen();
}

TEST(HeadlessTerminal, ShowsOrHandsOverALaunchFailure)
{
    // A program that does not exist is a failed launch the user can read, not a silent end.
    // Taking this path first also matters under the undefined-behaviour sanitizer: its check of a
    // virtual call's target needs a free descriptor the first time it meets a type, which the
    // cases below do not leave it.
    Session missing(false);
    missing.headless->process()->startProcess("/nonexistent/program");
    EXPECT_TRUE(missing.waitForRow("Process launch failed: forkFailed(2)")) << missing.screen();

    // With every descriptor taken, no pseudo-terminal can be opened.
    Session shown(false);
    {
        DescriptorExhaustion exhausted;
        shown.start("echo never");
    }
    EXPECT_TRUE(shown.waitForRow("Process launch failed: forkFailed(24)")) << shown.screen();

    Session handled(false, TerminalOptions::defaults(), true);
    {
        DescriptorExhaustion exhausted;
        handled.start("echo never");
    }
    EXPECT_EQ(handled.waitForFailure(), LocalProcessError::forkFailed(EMFILE));
    EXPECT_FALSE(handled.screen().find("Process launch failed") != std::string::npos) << handled.screen();
}

TEST(HeadlessTerminal, HostInputReachesTheChildAsTheBytesOfItsForm)
{
    // The child puts its terminal in raw mode, asks for application cursor keys and bracketed
    // paste, then prints in hex the next 32 bytes it reads.
    Session session(true);
    session.start("stty raw -echo opost; printf '\\033[?1h\\033[?2004h'; od -An -tx1 -N 32");
    auto& terminal = *session.headless->terminal();
    constexpr uint32_t applicationCursor = 1u << 0;
    constexpr uint32_t bracketedPaste = 1u << 2;
    ASSERT_TRUE(eventually([&] {
        const uint32_t modes = terminal.terminalLock().withLock([&] { return hostInputModes(terminal); });
        return (modes & (applicationCursor | bracketedPaste)) == (applicationCursor | bracketedPaste);
    })) << session.screen();

    terminal.terminalLock().withLock([&] {
        EXPECT_TRUE(sendHostText(terminal, "\u00e9"));                                       // c3 a9
        EXPECT_EQ(sendHostKey(terminal, "ArrowUp", "ArrowUp", 0, 1, std::nullopt, 0, 0), 1); // ESC O A
        EXPECT_TRUE(sendHostTextPaste(terminal, "hi", false)); // ESC [200~ h i ESC [201~
        const uint8_t content[] = {'o', 'k'};
        terminal.completeClipboardRead("c", content); // ESC ] 52;c;b2s= ESC \\ (Base64 of "ok")
    });
    EXPECT_TRUE(session.waitForRow(" c3 a9 1b 4f 41 1b 5b 32 30 30 7e 68 69 1b 5b 32")) << session.screen();
    EXPECT_TRUE(session.waitForRow(" 30 31 7e 1b 5d 35 32 3b 63 3b 62 32 73 3d 1b 5c")) << session.screen();
    // The session's end handler must have run before the session goes.
    EXPECT_EQ(session.waitForEnd(), 0);
}

TEST(HeadlessTerminal, NotesASubmittedCommandLineInTheInputItSends)
{
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct delivery" : "queued delivery");
        auto queue = std::make_shared<platform::SerialQueue>("test-delivery");
        auto headless =
            HeadlessTerminal::create(queue, TerminalOptions::defaults(), direct, nullptr, nullptr);
        auto& terminal = *headless->terminal();
        // A shell with shell integration: prompt start, then the command line begins.
        feed(*headless, "\x1b]133;A\x07$ \x1b]133;B\x07");
        auto state = [&] {
            return terminal.terminalLock().withLock(
                [&] { return terminal.buffer().semanticPrompt().input(); });
        };
        ASSERT_EQ(state(), SemanticInputState::armed);

        headless->send("ls");
        queue->sync([] {});
        EXPECT_EQ(state(), SemanticInputState::armed) << "no Enter yet";
        headless->send("\r");
        queue->sync([] {});
        EXPECT_EQ(state(), SemanticInputState::submitted);
    }
}

TEST(HeadlessTerminal, ScansInputAtOnceUnlessTheDeliveryQueueHasOutputToParseFirst)
{
    // Queued delivery used to scan every send on the queue's thread, waking it for each keystroke.
    // An idle queue now lends its turn and the scan is done when `send` returns; a busy one still
    // scans only after the output queued before the input.
    struct Case
    {
        const char* name;
        bool direct;
        bool queueBusy;
        SemanticInputState rightAfterSend;
    };
    const Case cases[] = {
        {"direct delivery", true, false, SemanticInputState::submitted},
        {"queued delivery, idle queue", false, false, SemanticInputState::submitted},
        {"queued delivery, busy queue", false, true, SemanticInputState::idle},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto queue = std::make_shared<platform::SerialQueue>("test-delivery");
        auto headless =
            HeadlessTerminal::create(queue, TerminalOptions::defaults(), test.direct, nullptr, nullptr);
        auto& terminal = *headless->terminal();
        auto state = [&] {
            return terminal.terminalLock().withLock(
                [&] { return terminal.buffer().semanticPrompt().input(); });
        };
        std::promise<void> release;
        std::promise<void> running;
        if (test.queueBusy) {
            // Output still to be parsed: the prompt, behind an item that holds the queue.
            queue->async([opened = release.get_future().share(), &running] {
                running.set_value();
                opened.wait();
            });
            running.get_future().wait();
            queue->async([&] { feed(*headless, "\x1b]133;A\x07$ \x1b]133;B\x07"); });
        } else {
            feed(*headless, "\x1b]133;A\x07$ \x1b]133;B\x07");
        }

        headless->send("ls\r");
        EXPECT_EQ(state(), test.rightAfterSend);
        if (test.queueBusy)
            release.set_value();
        queue->sync([] {});
        EXPECT_EQ(state(), SemanticInputState::submitted) << "the scan came before the prompt was parsed";
    }
}

TEST(HeadlessTerminal, KeepsWhatTheTerminalReportsToItsHost)
{
    Session session(false);
    auto& terminal = *session.headless->terminal();
    feed(*session.headless, "\x1b]7;file://localhost/tmp/place\x07");
    EXPECT_EQ(session.headless->dir(),
              terminal.terminalLock().withLock([&] { return terminal.hostCurrentDirectory(); }));
    EXPECT_TRUE(session.headless->dir().has_value());

    const auto input = session.headless->terminalInputStateSnapshot();
    EXPECT_EQ(input.dimensions.cols, terminal.cols());
    EXPECT_EQ(input.dimensions.rows, terminal.rows());
}
