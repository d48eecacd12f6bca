// The pane's hold on its shell: a pidfd taken only for an unreaped child, through which no signal
// reaches whoever holds the pid once the shell has been reaped.
#include "Vesk/ShellProcessHandle.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vesk {
namespace {

/// A child that waits for a signal; -1 when fork failed.
pid_t waitingChild()
{
    const pid_t pid = fork();
    if (pid == 0) {
        pause();
        _exit(0);
    }
    return pid;
}

TEST(ShellProcessHandleTests, OnlyAnUnreapedChildOfThisProcessGivesAHandle)
{
    struct Case
    {
        const char* name;
        int pid;
    };
    const pid_t reaped = fork();
    if (reaped == 0)
        _exit(0);
    ASSERT_GT(reaped, 0);
    ASSERT_EQ(waitpid(reaped, nullptr, 0), reaped);
    const Case cases[] = {
        {"pid 0", 0},
        {"a negative pid", -5},
        {"this process's parent, no child of ours", static_cast<int>(getppid())},
        {"init", 1},
        {"a child already reaped", static_cast<int>(reaped)},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(ShellProcessHandle::open(c.pid).has_value()) << c.name;

    const pid_t child = waitingChild();
    ASSERT_GT(child, 0);
    std::optional<ShellProcessHandle> handle = ShellProcessHandle::open(child);
    ASSERT_TRUE(handle.has_value()) << "a running child";
    EXPECT_EQ(handle->pid(), child);
    EXPECT_FALSE(handle->hasEnded());
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
}

TEST(ShellProcessHandleTests, AfterTheReapNoSignalGoesOutThroughTheHandle)
{
    const pid_t child = waitingChild();
    ASSERT_GT(child, 0);
    std::optional<ShellProcessHandle> handle = ShellProcessHandle::open(child);
    ASSERT_TRUE(handle.has_value());
    EXPECT_TRUE(handle->signal(0)) << "the shell runs: a signal reaches it";
    EXPECT_TRUE(handle->signal(SIGTERM));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(handle->hasEnded());
    // The pid is free now and may go to any new process; the handle still names the reaped one.
    EXPECT_FALSE(handle->signal(SIGHUP)) << "a reaped shell gets nothing, and nobody else does either";

    ShellProcessHandle moved = std::move(*handle);
    EXPECT_FALSE(handle->signal(0)) << "a moved-from handle holds nothing";
    EXPECT_TRUE(handle->hasEnded());
    EXPECT_FALSE(moved.signal(0));
}

} // namespace
} // namespace vesk
