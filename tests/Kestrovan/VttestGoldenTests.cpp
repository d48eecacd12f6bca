// vttest, the VT100 test program, run on a pseudo-terminal and driven through its menus; every test
// screen it draws is compared with a golden screen under tests/golden/vttest/.
//
// The goldens were each checked by eye against what vttest says the screen should show. Run with
// VESK_UPDATE_GOLDEN=1 to rewrite them after a deliberate change, and review the diff the same way.
// A mismatch leaves the screen we got next to the golden as <name>.actual.txt.
#include "Kestrovan/Portable/HeadlessTerminal.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iomanip>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrovan;

namespace {

constexpr const char* vttestPath = "/usr/bin/vttest";
constexpr auto screenDeadline = std::chrono::seconds(20);

// Every test screen ends with this prompt.
constexpr const char* screenPrompt = "Push <RETURN>";

std::string goldenDirectory()
{
    return std::string(KESTROVAN_TEST_DATA_DIR) + "/../golden/vttest";
}

std::string goldenPath(const std::string& name, const char* suffix = ".txt")
{
    return goldenDirectory() + "/" + name + suffix;
}

// One vttest in a headless terminal of 80 x 24 that lets programs switch to 132 columns, as
// vttest's column tests ask.
class VttestSession
{
public:
    VttestSession()
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 80;
        options.rows = 24;
        headless_ =
            HeadlessTerminal::create(nullptr, options, false, nullptr, [this](std::optional<int32_t> code) {
                std::lock_guard guard(mutex_);
                ended_ = true;
                exitCode_ = code;
                changed_.notify_all();
            });
        const auto& terminal = headless_->terminal();
        // Mode 40, as a user who allows DECCOLM would set it: vttest's 132-column screens need it.
        terminal->terminalLock().withLock([&] { terminal->feed("\x1b[?40h"); });
    }

    /// Starts vttest; the failure when it could not be started.
    std::optional<LocalProcessError> start()
    {
        // A plain C locale: vttest then writes every test character as a single byte.
        return headless_->process()->startProcessChecked(
            vttestPath, {}, std::vector<std::string>{"TERM=xterm-256color", "LANG=C", "LC_ALL=C"});
    }

    void send(const std::string& keys) { headless_->send(std::string_view(keys)); }

    TerminalContentSnapshot snapshot()
    {
        return headless_->terminalContentSnapshot(TerminalContentRegion::viewport(),
                                                  Terminal::BufferKind::active);
    }

    /// DECSCNM: the whole screen in reverse video.
    bool reverseColors()
    {
        const auto& terminal = headless_->terminal();
        return terminal->terminalLock().withLock([&] { return terminal->mode(TerminalMode::reverseColors); });
    }

    pid_t pid() const { return headless_->process()->shellPid(); }

    /// The child's exit code once its end is reported; absent at the deadline or with no code.
    std::optional<int32_t> waitForExit()
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, screenDeadline, [&] { return ended_; }))
            return std::nullopt;
        return exitCode_;
    }

private:
    std::shared_ptr<HeadlessTerminal> headless_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    std::optional<int32_t> exitCode_;
};

// The screen as the golden files hold it: a line with the size, the cursor and the screen-wide
// reverse video, the rows' text, and, when any cell is styled, one line per styled row that gives
// each cell's style bits as a hex digit (1 bold, 2 underline, 4 blink, 8 inverse; '.' for none).
std::string describeScreen(const TerminalContentSnapshot& snapshot, bool reverseColors)
{
    std::ostringstream out;
    const auto& dims = snapshot.inputState.dimensions;
    out << "size " << dims.cols << "x" << dims.rows << ", cursor row "
        << (snapshot.cursorRow - snapshot.capturedRange.lowerBound + 1) << " column "
        << (snapshot.cursorColumn + 1) << (reverseColors ? ", reverse video" : "") << "\n";
    for (const auto& row : snapshot.rows)
        out << row.text() << "\n";
    bool header = false;
    for (size_t index = 0; index < snapshot.rows.size(); ++index) {
        std::string plane;
        size_t last = 0;
        for (const auto& cell : snapshot.rows[index].cells) {
            const unsigned bits = cell.attribute.style.rawValue & 0x0F;
            plane += bits == 0 ? '.' : "0123456789abcdef"[bits];
            if (bits != 0)
                last = plane.size();
        }
        if (last == 0)
            continue;
        if (!header) {
            out << "-- styles\n";
            header = true;
        }
        out << std::setw(2) << index + 1 << " " << plane.substr(0, last) << "\n";
    }
    return out.str();
}

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

// What /proc tells about the child's reading: how many reads it finished and whether it is in
// one now. Absent when the kernel does not let us look.
struct ChildReads
{
    uint64_t finished = 0;
    bool waiting = false;
};

std::optional<ChildReads> childReads(pid_t pid)
{
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream io(base + "/io");
    std::ifstream syscall(base + "/syscall");
    ChildReads reads;
    bool found = false;
    for (std::string key; io >> key;) {
        if (key == "syscr:") {
            found = bool(io >> reads.finished);
            break;
        }
        io.ignore(1 << 10, '\n');
    }
    std::string number, fd;
    if (!found || !(syscall >> number >> fd))
        return std::nullopt;
    // read(0, ...): the child waits for a key on its terminal.
    reads.waiting = number == "0" && fd == "0x0";
    return reads;
}

class VttestGolden : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (access(vttestPath, X_OK) != 0)
            GTEST_SKIP() << vttestPath << " is missing; tools/setup installs the vttest package";
        const auto failure = session_.start();
        ASSERT_FALSE(failure) << "vttest did not start: " << failure->description();
    }

    /// Types `keys` and remembers how far the child had read, so the next wait sees a new screen.
    void type(const std::string& keys)
    {
        const auto reads = childReads(session_.pid());
        readsBefore_ = reads ? reads->finished : 0;
        session_.send(keys);
    }

    /// The screen once the child has taken the last keys, drawn a screen showing `marker` and gone
    /// back to waiting for a key: at once when it equals `expected`, otherwise when it has stopped
    /// changing. Absent at the deadline.
    std::optional<std::string> awaitScreen(const std::string& marker,
                                           const std::optional<std::string>& expected = std::nullopt)
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + screenDeadline;
        std::string candidate;
        Clock::time_point candidateSince;
        while (Clock::now() < deadline) {
            const auto snapshot = session_.snapshot();
            std::string text;
            for (const auto& row : snapshot.rows)
                text += row.text() + "\n";
            const auto reads = childReads(session_.pid());
            const bool childReady = !reads || (reads->finished > readsBefore_ && reads->waiting);
            if (childReady && text.find(marker) != std::string::npos) {
                std::string screen = describeScreen(snapshot, session_.reverseColors());
                if (expected && screen == *expected)
                    return screen;
                // Output the child wrote before it began to wait may still be on its way through
                // the reader threads, so a screen counts as drawn only once it stays the same.
                // Without /proc, or when the screen is about to be reported as wrong, wait longer.
                const auto quiet = std::chrono::milliseconds(!reads || expected ? 500 : 50);
                if (screen != candidate) {
                    candidate = std::move(screen);
                    candidateSince = Clock::now();
                } else if (Clock::now() - candidateSince >= quiet) {
                    return candidate;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        last_ = describeScreen(session_.snapshot(), session_.reverseColors());
        return std::nullopt;
    }

    static bool updatingGoldens()
    {
        const char* update = getenv("VESK_UPDATE_GOLDEN");
        return update && std::string(update) == "1";
    }

    /// Compares the screen with its golden file, or rewrites the golden with VESK_UPDATE_GOLDEN=1.
    void expectGolden(const std::string& name, const std::optional<std::string>& golden,
                      const std::string& screen)
    {
        if (updatingGoldens()) {
            writeFile(goldenPath(name), screen);
            return;
        }
        ASSERT_TRUE(golden) << "no golden screen " << goldenPath(name) << "; the screen was:\n" << screen;
        if (*golden != screen) {
            writeFile(goldenPath(name, ".actual.txt"), screen);
            ADD_FAILURE() << "screen " << name << " differs from its golden " << goldenPath(name)
                          << "\nexpected:\n"
                          << *golden << "got:\n"
                          << screen;
        }
    }

    /// Walks down the menus along `path` (the main menu's choice first), checks each screen the
    /// last choice shows against the golden of that name, pressing Return after each, then leaves
    /// every menu and vttest itself.
    void runMenu(const std::vector<std::string>& path, const std::vector<std::string>& screens)
    {
        for (const std::string& choice : path) {
            ASSERT_TRUE(awaitScreen("Enter choice number"))
                << "no menu before choice " << choice << "; the screen was:\n"
                << last_;
            type(choice + "\r");
        }
        for (const std::string& name : screens) {
            const auto golden = updatingGoldens() ? std::nullopt : readFile(goldenPath(name));
            const auto drawn = awaitScreen(screenPrompt, golden);
            ASSERT_TRUE(drawn) << "screen " << name << " never settled showing its prompt; the screen was:\n"
                               << last_;
            expectGolden(name, golden, *drawn);
            type("\r");
        }
        for (size_t level = 0; level < path.size(); ++level) {
            ASSERT_TRUE(awaitScreen("Enter choice number")) << "no menu after the last screen; it was:\n"
                                                            << last_;
            type("0\r");
        }
        EXPECT_EQ(session_.waitForExit(), std::optional<int32_t>(0)) << "vttest did not exit cleanly";
    }

    VttestSession session_;
    uint64_t readsBefore_ = 0;
    std::string last_;
};

} // namespace

TEST_F(VttestGolden, CursorMovements)
{
    runMenu({"1"}, {
                       "cursor-box-80",
                       "cursor-box-132",
                       "cursor-autowrap-80",
                       "cursor-autowrap-132",
                       "cursor-controls-in-sequences",
                       "cursor-leading-zeros",
                   });
}

TEST_F(VttestGolden, ScreenFeatures)
{
    runMenu({"2"}, {
                       "screen-wraparound",
                       "screen-tab-stops",
                       "screen-132-columns-light",
                       "screen-80-columns-light",
                       "screen-132-columns-dark",
                       "screen-80-columns-dark",
                       "screen-soft-scroll-region",
                       "screen-soft-scroll-full",
                       "screen-jump-scroll-region",
                       "screen-jump-scroll-full",
                       "screen-origin-mode-bottom",
                       "screen-origin-mode-top",
                       "screen-rendition-dark",
                       "screen-rendition-light",
                       "screen-save-restore-cursor",
                   });
}

// The character-set menu asks for a VT220 or later, which our device attributes claim. Its locking
// shift test is left out: it prints bytes 0xA0-0xFF raw, which a UTF-8 terminal cannot take as
// right-half characters. So is its single shift test: the terminal has no single shifts.
TEST_F(VttestGolden, CharacterSets)
{
    // Position 0x5F of the DEC special graphics set stays an underscore: the set maps only
    // 0x60-0x7E.
    runMenu({"3", "8"}, {"charsets-vt100"});
}

TEST_F(VttestGolden, ShiftInShiftOut)
{
    // vttest designates its "ISO Latin-1" with ESC - A; a 96-character designator selects the
    // same map as its 94-character partner, so G1 shows the United Kingdom set (# as a pound sign).
    runMenu({"3", "9"}, {"charsets-shift-in-out"});
}

TEST_F(VttestGolden, InsertDelete)
{
    runMenu({"8"}, {
                       "edit-accordion-80",
                       "edit-accordion-end-80",
                       "edit-insert-mode-80",
                       "edit-delete-character-80",
                       "edit-staggered-delete-80",
                       "edit-staggered-insert-80",
                       "edit-insert-character-80",
                       "edit-accordion-132",
                       "edit-accordion-end-132",
                       "edit-insert-mode-132",
                       "edit-delete-character-132",
                       "edit-staggered-delete-132",
                       "edit-staggered-insert-132",
                       "edit-insert-character-132",
                   });
}
