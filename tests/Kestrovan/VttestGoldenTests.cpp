// vttest, the VT100 test program, run on a pseudo-terminal and driven through its menus; every test
// screen it draws is compared with a golden screen under tests/golden/vttest/.
//
// The goldens were each checked by eye against what vttest says the screen should show. Run with
// VESK_UPDATE_GOLDEN=1 to rewrite them after a deliberate change, and review the diff the same way.
// A mismatch leaves the screen we got next to the golden as <name>.actual.txt.
#include "Kestrovan/Portable/ContentSnapshot.h"
#include "Kestrovan/PseudoTerminalHelpers.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalOptions.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrovan;

namespace {

constexpr const char* vttestPath = "/usr/bin/vttest";
constexpr auto screenDeadline = std::chrono::seconds(20);

std::string goldenDirectory()
{
    return std::string(KESTROVAN_TEST_DATA_DIR) + "/../golden/vttest";
}

// Sends the terminal's replies (vttest asks for device attributes) back to the child.
class PtyReplyDelegate : public TerminalDelegate
{
public:
    explicit PtyReplyDelegate(int fd) : fd_(fd) {}
    void send(Terminal&, Bytes data) override
    {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += size_t(n);
        }
    }

private:
    int fd_;
};

// One vttest on an 80 x 24 terminal that lets programs switch to 132 columns.
class VttestSession
{
public:
    ~VttestSession()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
        if (fd_ >= 0)
            close(fd_);
    }

    bool start()
    {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        auto started = PseudoTerminalHelpers::fork(vttestPath, {"vttest"}, {"TERM=xterm", "LANG=C"},
                                                   std::nullopt, size);
        if (!started)
            return false;
        pid_ = started->pid;
        fd_ = started->masterFd;
        delegate_ = std::make_shared<PtyReplyDelegate>(fd_);
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 80;
        options.rows = 24;
        terminal_ = std::make_shared<Terminal>(delegate_, options);
        terminal_->terminalLock.withLock([&] { terminal_->allow80To132 = true; });
        reader_ = std::thread([this] { readLoop(); });
        return true;
    }

    void send(const std::string& keys) { delegate_->send(*terminal_, {(const uint8_t*)keys.data(), keys.size()}); }

    TerminalContentSnapshot snapshot()
    {
        return terminal_->contentSnapshot(TerminalContentRegion::viewport(), Terminal::BufferKind::active);
    }

    bool reverseColors()
    {
        return terminal_->terminalLock.withLock([&] { return terminal_->reverseColors; });
    }

    pid_t pid() const { return pid_; }

    /// Waits for the child to end; its exit status, or absent at the deadline.
    std::optional<int> waitForExit()
    {
        const auto deadline = std::chrono::steady_clock::now() + screenDeadline;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }

private:
    void readLoop()
    {
        uint8_t buffer[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return;
            }
            terminal_->terminalLock.withLock([&] { terminal_->feed(std::span<const uint8_t>(buffer, size_t(n))); });
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::shared_ptr<PtyReplyDelegate> delegate_;
    std::shared_ptr<Terminal> terminal_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
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
        char label[16];
        snprintf(label, sizeof label, "%2zu ", index + 1);
        out << label << plane.substr(0, last) << "\n";
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

} // namespace

namespace {

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
        ASSERT_TRUE(session_.start()) << "vttest did not start: " << strerror(errno);
    }

    /// Types `keys` and remembers how far the child had read, so the next wait sees a new screen.
    void type(const std::string& keys)
    {
        const auto reads = childReads(session_.pid());
        readsBefore_ = reads ? reads->finished : 0;
        session_.send(keys);
    }

    /// The screen once the child has taken the last keys, drawn a screen showing `marker`, gone
    /// back to waiting for a key, and the screen has stopped changing. Absent at the deadline.
    std::optional<std::string> awaitScreen(const std::string& marker)
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
            // Without /proc the screen must stay still for longer before it counts as drawn.
            const auto quiet = std::chrono::milliseconds(reads ? 40 : 300);
            if (childReady && text.find(marker) != std::string::npos) {
                std::string screen = describeScreen(snapshot, session_.reverseColors());
                if (screen != candidate) {
                    candidate = std::move(screen);
                    candidateSince = Clock::now();
                } else if (Clock::now() - candidateSince >= quiet) {
                    return candidate;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        last_ = describeScreen(session_.snapshot(), session_.reverseColors());
        return std::nullopt;
    }

    /// Compares the screen with its golden file, or rewrites the golden with VESK_UPDATE_GOLDEN=1.
    void expectGolden(const std::string& name, const std::string& screen)
    {
        const std::string path = goldenDirectory() + "/" + name + ".txt";
        const char* update = getenv("VESK_UPDATE_GOLDEN");
        if (update && std::string(update) == "1") {
            writeFile(path, screen);
            return;
        }
        const auto golden = readFile(path);
        ASSERT_TRUE(golden) << "no golden screen " << path << "; the screen was:\n" << screen;
        if (*golden != screen) {
            writeFile(goldenDirectory() + "/" + name + ".actual.txt", screen);
            ADD_FAILURE() << "screen " << name << " differs from its golden " << path << "\nexpected:\n"
                          << *golden << "got:\n"
                          << screen;
        }
    }

    struct Screen
    {
        /// The golden file's name.
        std::string name;
        /// Text that shows the screen is drawn (its prompt, mostly).
        std::string marker;
    };

    /// Walks down the menus along `path` (the main menu's choice first), checks each screen the
    /// last choice shows, pressing Return after each, then leaves every menu and vttest itself.
    void runMenu(const std::vector<std::string>& path, const std::vector<Screen>& screens)
    {
        for (const std::string& choice : path) {
            ASSERT_TRUE(awaitScreen("Enter choice number")) << "no menu before choice " << choice
                                                            << "; the screen was:\n"
                                                            << last_;
            type(choice + "\r");
        }
        for (const Screen& screen : screens) {
            const auto drawn = awaitScreen(screen.marker);
            ASSERT_TRUE(drawn) << "screen " << screen.name << " never settled showing \"" << screen.marker
                               << "\"; the screen was:\n"
                               << last_;
            expectGolden(screen.name, *drawn);
            type("\r");
        }
        for (size_t level = 0; level < path.size(); ++level) {
            ASSERT_TRUE(awaitScreen("Enter choice number")) << "no menu after the last screen; it was:\n"
                                                            << last_;
            type("0\r");
        }
        const auto status = session_.waitForExit();
        ASSERT_TRUE(status) << "vttest did not exit";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "vttest ended with status " << *status;
    }

    VttestSession session_;
    uint64_t readsBefore_ = 0;
    std::string last_;
};

} // namespace

TEST_F(VttestGolden, CursorMovements)
{
    runMenu({"1"}, {
                     {"cursor-box-80", "Push <RETURN>"},
                     {"cursor-box-132", "Push <RETURN>"},
                     {"cursor-autowrap-80", "Push <RETURN>"},
                     {"cursor-autowrap-132", "Push <RETURN>"},
                     {"cursor-controls-in-sequences", "Push <RETURN>"},
                     {"cursor-leading-zeros", "Push <RETURN>"},
                 });
}

TEST_F(VttestGolden, ScreenFeatures)
{
    runMenu({"2"}, {
                     {"screen-wraparound", "Push <RETURN>"},
                     {"screen-tab-stops", "Push <RETURN>"},
                     {"screen-132-columns-light", "Push <RETURN>"},
                     {"screen-80-columns-light", "Push <RETURN>"},
                     {"screen-132-columns-dark", "Push <RETURN>"},
                     {"screen-80-columns-dark", "Push <RETURN>"},
                     {"screen-soft-scroll-region", "Push <RETURN>"},
                     {"screen-soft-scroll-full", "Push <RETURN>"},
                     {"screen-jump-scroll-region", "Push <RETURN>"},
                     {"screen-jump-scroll-full", "Push <RETURN>"},
                     {"screen-origin-mode-bottom", "Push <RETURN>"},
                     {"screen-origin-mode-top", "Push <RETURN>"},
                     {"screen-rendition-dark", "Push <RETURN>"},
                     {"screen-rendition-light", "Push <RETURN>"},
                     {"screen-save-restore-cursor", "Push <RETURN>"},
                 });
}

TEST_F(VttestGolden, CharacterSets)
{
    runMenu({"3", "8"}, {{"charsets-vt100", "Push <RETURN>"}});
}

TEST_F(VttestGolden, ShiftInShiftOut)
{
    runMenu({"3", "9"}, {{"charsets-shift-in-out", "Push <RETURN>"}});
}

TEST_F(VttestGolden, InsertDelete)
{
    runMenu({"8"}, {
                     {"edit-accordion-80", "Push <RETURN>"},
                     {"edit-accordion-end-80", "Push <RETURN>"},
                     {"edit-insert-mode-80", "Push <RETURN>"},
                     {"edit-delete-character-80", "Push <RETURN>"},
                     {"edit-staggered-delete-80", "Push <RETURN>"},
                     {"edit-staggered-insert-80", "Push <RETURN>"},
                     {"edit-insert-character-80", "Push <RETURN>"},
                     {"edit-accordion-132", "Push <RETURN>"},
                     {"edit-accordion-end-132", "Push <RETURN>"},
                     {"edit-insert-mode-132", "Push <RETURN>"},
                     {"edit-delete-character-132", "Push <RETURN>"},
                     {"edit-staggered-delete-132", "Push <RETURN>"},
                     {"edit-staggered-insert-132", "Push <RETURN>"},
                     {"edit-insert-character-132", "Push <RETURN>"},
                 });
}
