#include "Kestrovan/PseudoTerminalHelpers.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using kestrovan::PseudoTerminalHelpers;

namespace {

// Everything the child writes, until its side of the terminal closes (EIO on Linux).
std::string readUntilHangUp(int master)
{
    std::string all;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(master, buffer, sizeof buffer);
        if (count > 0)
            all.append(buffer, size_t(count));
        else if (count == 0 || errno != EINTR)
            return all;
    }
}

// The child's "key=value" lines, without the carriage returns the terminal adds.
std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
    }
    return result;
}

int waitForExit(pid_t pid)
{
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

// Restores the calling thread's SIGINT action and signal mask when it goes.
class SignalStateGuard
{
public:
    SignalStateGuard()
    {
        sigaction(SIGINT, nullptr, &action_);
        pthread_sigmask(SIG_SETMASK, nullptr, &mask_);
    }
    ~SignalStateGuard()
    {
        sigaction(SIGINT, &action_, nullptr);
        pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
    }

private:
    struct sigaction action_
    {};
    sigset_t mask_{};
};

} // namespace

TEST(PseudoTerminalHelpers, StartsTheProgramOnANewTerminalWithACleanSlate)
{
    char directory[] = "/tmp/kestrovan-pty-XXXXXX";
    ASSERT_TRUE(mkdtemp(directory));
    winsize size{24, 80, 0, 0};
    std::optional<PseudoTerminalHelpers::StartedProcess> started;
    {
        // An ignored SIGINT and a blocked SIGUSR1 would survive exec; the child must not inherit them.
        SignalStateGuard guard;
        signal(SIGINT, SIG_IGN);
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
        started = PseudoTerminalHelpers::fork(
            KESTROVAN_TEST_CHILD, {"child-name", "report", std::string("cut\0off", 7), "two words"},
            {"TESTCHILD_VALUE=hello", "PATH=/usr/bin:/bin"}, directory, size);
    }
    ASSERT_TRUE(started) << "fork failed: " << std::strerror(errno);
    EXPECT_GT(started->pid, 0);
    EXPECT_TRUE(isatty(started->masterFd));
    // Before, the master came back inheritable (forkpty), and a program started by another thread
    // at that moment could keep the terminal open after this child had gone.
    EXPECT_TRUE(fcntl(started->masterFd, F_GETFD) & FD_CLOEXEC)
        << "the master would leak into other children";

    const auto report = lines(readUntilHangUp(started->masterFd));
    close(started->masterFd);
    const int status = waitForExit(started->pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const std::vector<std::string> expected = {
        std::string("cwd=") + directory,
        "argc=4",
        "arg=child-name",
        "arg=report",
        "arg=cut", // a C string ends at the first NUL
        "arg=two words",
        "env=hello",
        "sigint=default",
        "blocked=none",
        "size=24x80",
        "session=leader",
        "terminals=0,1,2",
    };
    EXPECT_EQ(report, expected);
    rmdir(directory);
}

TEST(PseudoTerminalHelpers, AProgramThatCannotStartFailsTheStartWithTheErrnoOfItsExec)
{
    winsize size{24, 80, 0, 0};
    errno = 0;
    auto started = PseudoTerminalHelpers::fork("/nonexistent/program", {"program"}, {}, std::nullopt, size);
    EXPECT_FALSE(started);
    EXPECT_EQ(errno, ENOENT);

    // A directory that does not exist is ignored: the program still starts.
    started = PseudoTerminalHelpers::fork(KESTROVAN_TEST_CHILD, {"child", "exit", "7"}, {},
                                          "/nonexistent/dir", size);
    ASSERT_TRUE(started);
    readUntilHangUp(started->masterFd);
    close(started->masterFd);
    EXPECT_EQ(WEXITSTATUS(waitForExit(started->pid)), 7);
}

TEST(PseudoTerminalHelpers, SetsTheSizeAndCountsWaitingBytes)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    winsize size{50, 132, 1320, 1000};
    EXPECT_EQ(PseudoTerminalHelpers::setWinSize(master, size), 0);
    winsize seen{};
    ASSERT_EQ(ioctl(slave, TIOCGWINSZ, &seen), 0);
    EXPECT_EQ(seen.ws_row, 50);
    EXPECT_EQ(seen.ws_col, 132);
    EXPECT_EQ(seen.ws_xpixel, 1320);
    EXPECT_EQ(seen.ws_ypixel, 1000);
    close(slave);
    close(master);
    EXPECT_NE(PseudoTerminalHelpers::setWinSize(-1, size), 0);

    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    EXPECT_EQ(write(ends[1], "hello", 5), 5);
    const auto available = PseudoTerminalHelpers::availableBytes(ends[0]);
    EXPECT_EQ(available.status, 0);
    EXPECT_EQ(available.size, 5);
    close(ends[0]);
    close(ends[1]);
    const auto failed = PseudoTerminalHelpers::availableBytes(ends[0]);
    EXPECT_NE(failed.status, 0);
    EXPECT_EQ(failed.size, 0);
}

TEST(PseudoTerminalHelpers, ReportsTheTerminalsControlCharactersForPaste)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);

    auto bytes = PseudoTerminalHelpers::terminalControlBytesForPaste(master);
    ASSERT_TRUE(bytes);
    // The usual interrupt, end-of-file, erase, kill, suspend, quit and flow-control characters.
    for (int expected : {0x03, 0x04, 0x7f, 0x15, 0x1a, 0x1c, 0x11, 0x13, 0x17, 0x16, 0x12, 0x0f})
        EXPECT_TRUE(bytes->test(size_t(expected))) << "missing 0x" << std::hex << expected;
    for (size_t byte = 0x20; byte < 0x7f; ++byte)
        EXPECT_FALSE(bytes->test(byte)) << "printable byte " << byte << " reported";
    EXPECT_FALSE(bytes->test(0)) << "NUL (a disabled character) reported";

    // A disabled interrupt character and a printable erase character are not reported.
    termios attributes{};
    ASSERT_EQ(tcgetattr(slave, &attributes), 0);
    attributes.c_cc[VINTR] = _POSIX_VDISABLE;
    attributes.c_cc[VERASE] = 'x';
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &attributes), 0);
    bytes = PseudoTerminalHelpers::terminalControlBytesForPaste(master);
    ASSERT_TRUE(bytes);
    EXPECT_FALSE(bytes->test(0x03));
    EXPECT_FALSE(bytes->test(0x7f));
    EXPECT_FALSE(bytes->test('x'));
    EXPECT_TRUE(bytes->test(0x04));
    close(slave);
    close(master);

    EXPECT_FALSE(PseudoTerminalHelpers::terminalControlBytesForPaste(-1));
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    EXPECT_FALSE(PseudoTerminalHelpers::terminalControlBytesForPaste(ends[0]))
        << "a pipe has no terminal attributes";
    close(ends[0]);
    close(ends[1]);
}

TEST(PseudoTerminalHelpers, BuildsNullTerminatedCStringArrays)
{
    auto array = PseudoTerminalHelpers::allocateCStringArray({"one", "", std::string("a\0b", 3)});
    ASSERT_TRUE(array);
    ASSERT_EQ(array->size(), 3u);
    EXPECT_STREQ(array->data()[0], "one");
    EXPECT_STREQ(array->data()[1], "");
    EXPECT_STREQ(array->data()[2], "a");
    EXPECT_EQ(array->data()[3], nullptr);

    auto empty = PseudoTerminalHelpers::allocateCStringArray({});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 0u);
    ASSERT_NE(empty->data(), nullptr);
    EXPECT_EQ(empty->data()[0], nullptr);

    // Moving hands the strings over; the moved-from array owns nothing.
    PseudoTerminalHelpers::CStringArray moved = std::move(*array);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_EQ(array->size(), 0u);
    EXPECT_EQ(array->data(), nullptr);
}
