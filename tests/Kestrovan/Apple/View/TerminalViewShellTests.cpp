// End to end on the fake platform: a real /bin/sh on a pseudo-terminal, its output fed into the
// view on the parse thread, typed input sent through the view's input sender to the process, and
// the pseudo-terminal's size following the view's frame.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/LocalProcess.h"
#include "Kestrovan/LocalProcessDelegate.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;
using testing::ViewFixture;

/// What a local-process view does between its process and its view: output is fed on the parse
/// thread without a copy, the window size is the view's grid.
class ShellAdapter final : public LocalProcessDelegate, public LocalProcessBorrowedDataDelegate
{
public:
    explicit ShellAdapter(std::weak_ptr<TerminalView> view) : view_(std::move(view)) {}

    void dataReceivedBorrowed(std::span<const uint8_t> bytes) override
    {
        if (const std::shared_ptr<TerminalView> view = view_.lock())
            view->feed(bytes);
    }
    void dataReceived(std::span<const uint8_t> slice) override { dataReceivedBorrowed(slice); }
    void processTerminated(LocalProcess&, std::optional<int32_t>) override { terminated = true; }
    winsize getWindowSize() override { return sizeOf(view_.lock()->terminalDimensions()); }

    static winsize sizeOf(TerminalDimensions dimensions)
    {
        winsize size{};
        size.ws_col = static_cast<unsigned short>(dimensions.cols);
        size.ws_row = static_cast<unsigned short>(dimensions.rows);
        return size;
    }

    std::atomic<bool> terminated{false};

private:
    std::weak_ptr<TerminalView> view_;
};

/// Runs the main loop and the tick source until `condition` holds (10 s at most).
bool runUntil(ViewFixture& f, const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        f.loop->waitForWork(20ms);
        f.settle();
        if (f.link().isRunning())
            f.link().tick();
        if (condition())
            return true;
    }
    return false;
}

/// The rows of the last frame's snapshot, trailing blanks aside.
std::vector<std::string> snapshotRows(ViewFixture& f)
{
    std::vector<std::string> rows;
    if (const std::shared_ptr<TerminalSnapshot> snapshot = f.view->renderOwner().snapshot())
        for (const auto& snapshotRow : snapshot->rows) {
            std::string row = snapshotRow->line->translateToString(true);
            while (!row.empty() && (row.back() == ' ' || row.back() == '\0'))
                row.pop_back();
            rows.push_back(std::move(row));
        }
    return rows;
}

/// True when the last frame shows the shell waiting for a line: the caret sits after a "$ "
/// prompt alone on its row and, when `answer` is given, the row above reads `answer`. A line typed
/// before that is echoed by the terminal at once and the shell's prompt and answer land after it
/// ("$ 30 80"), so commands are typed only once this holds.
bool promptedAfter(ViewFixture& f, const std::optional<std::string>& answer = std::nullopt)
{
    const std::shared_ptr<TerminalSnapshot> snapshot = f.view->renderOwner().snapshot();
    if (!snapshot)
        return false;
    const std::vector<std::string> rows = snapshotRows(f);
    const int y = snapshot->y;
    if (y < 0 || y >= int(rows.size()) || rows[size_t(y)] != "$" || snapshot->x != 2)
        return false;
    return !answer || (y > 0 && rows[size_t(y) - 1] == *answer);
}

/// The screen as the terminal holds it, then as the last frame's snapshot shows it.
std::string screen(ViewFixture& f)
{
    std::string text = "terminal:\n";
    for (const std::string& row : f.view->visibleRowsText(0, f.view->terminalDimensions().rows))
        text += "|" + row + "\n";
    text += "last frame:\n";
    for (const std::string& row : snapshotRows(f))
        text += "|" + row + "\n";
    return text;
}

/// Types `command` at the shell's prompt and waits until its answer is followed by a new prompt.
bool run(ViewFixture& f, const std::string& command, const std::string& answer)
{
    f.view->send(std::string_view(command + "\r"));
    return runUntil(f, [&] { return promptedAfter(f, answer); });
}

TEST(TerminalViewShellTests, ARealShellEchoesTypedInputAndFollowsTheFrameSize)
{
    ViewFixture f;
    auto adapter = std::make_shared<ShellAdapter>(f.view);
    std::shared_ptr<LocalProcess> process = LocalProcess::create(adapter, f.loop, true);
    // Typed bytes go straight to the process, on whichever thread sent them.
    f.view->inputSender().replaceDelivery(
        [process](std::span<const uint8_t> bytes) { process->send(bytes); });
    ASSERT_EQ(process->startProcessChecked("/bin/sh", {},
                                           std::vector<std::string>{"TERM=xterm-256color", "PS1=$ ",
                                                                    "PATH=/usr/bin:/bin", "HOME=/tmp"}),
              std::nullopt);

    // Each line is typed at a prompt, as a user would, and its answer is awaited with the next one.
    ASSERT_TRUE(runUntil(f, [&] { return promptedAfter(f); })) << screen(f);
    ASSERT_TRUE(run(f, "echo hi", "hi")) << "the shell's answer is on the screen:\n" << screen(f);

    const TerminalDimensions initial = f.view->terminalDimensions();
    const std::string before = std::to_string(initial.rows) + " " + std::to_string(initial.cols);
    ASSERT_TRUE(run(f, "stty size", before)) << before << "\n" << screen(f);

    // A new frame size: the view resizes its terminal, the host sets the pseudo-terminal's size.
    const platform::Size cell = *f.view->cellDimension();
    f.delegate->events.clear();
    f.host->resize(platform::Size{cell.width * 52 + 1, cell.height * 17 + 1});
    ASSERT_EQ(f.view->terminalDimensions(), TerminalDimensions(52, 17));
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"size 52x17"});
    winsize size = ShellAdapter::sizeOf(f.view->terminalDimensions());
    ASSERT_TRUE(process->updateWindowSize(size));
    EXPECT_TRUE(run(f, "stty size", "17 52")) << "17 52\n" << screen(f);

    f.view->send(std::string_view("exit\r"));
    EXPECT_TRUE(runUntil(f, [&] { return adapter->terminated.load(); })) << screen(f);
}

} // namespace
} // namespace kestrovan
