// End to end on the fake platform: a real /bin/sh on a pseudo-terminal, its output fed into the
// view on the parse thread, typed input sent through the view's input sender to the process, and
// the pseudo-terminal's size following the view's frame.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/LocalProcess.h"
#include "Kestrovan/LocalProcessDelegate.h"

#include <atomic>
#include <chrono>

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

/// True when a row of the last frame's snapshot reads `wanted` (trailing blanks aside).
bool screenHasRow(ViewFixture& f, const std::string& wanted)
{
    const std::shared_ptr<TerminalSnapshot> snapshot = f.view->renderOwner().snapshot();
    if (!snapshot)
        return false;
    for (const auto& snapshotRow : snapshot->rows) {
        std::string row = snapshotRow->line->translateToString(true);
        while (!row.empty() && (row.back() == ' ' || row.back() == '\0'))
            row.pop_back();
        if (row == wanted)
            return true;
    }
    return false;
}

std::string screen(ViewFixture& f)
{
    std::string text;
    for (const std::string& row : f.view->visibleRowsText(0, f.view->terminalDimensions().rows))
        text += "|" + row + "\n";
    return text;
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

    // Typing waits for the prompt, as a user would: the terminal would echo earlier input before it.
    ASSERT_TRUE(runUntil(f, [&] { return screenHasRow(f, "$"); })) << screen(f);
    f.view->send(std::string_view("echo hi\r"));
    EXPECT_TRUE(runUntil(f, [&] { return screenHasRow(f, "hi"); }))
        << "the shell's answer is on the screen:\n"
        << screen(f);

    const TerminalDimensions initial = f.view->terminalDimensions();
    f.view->send(std::string_view("stty size\r"));
    const std::string before = std::to_string(initial.rows) + " " + std::to_string(initial.cols);
    EXPECT_TRUE(runUntil(f, [&] { return screenHasRow(f, before); })) << before;

    // A new frame size: the view resizes its terminal, the host sets the pseudo-terminal's size.
    const platform::Size cell = *f.view->cellDimension();
    f.delegate->events.clear();
    f.host->resize(platform::Size{cell.width * 52 + 1, cell.height * 17 + 1});
    ASSERT_EQ(f.view->terminalDimensions(), TerminalDimensions(52, 17));
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"size 52x17"});
    winsize size = ShellAdapter::sizeOf(f.view->terminalDimensions());
    ASSERT_TRUE(process->updateWindowSize(size));
    f.view->send(std::string_view("stty size\r"));
    EXPECT_TRUE(runUntil(f, [&] { return screenHasRow(f, "17 52"); })) << "17 52\n" << screen(f);

    f.view->send(std::string_view("exit\r"));
    EXPECT_TRUE(runUntil(f, [&] { return adapter->terminated.load(); }));
}

} // namespace
} // namespace kestrovan
