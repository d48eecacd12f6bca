#include "Patience.h"

#include "Platform/Dispatch/ExitMonitor.h"
#include "Platform/Dispatch/ManualMainLoop.h"
#include "Platform/Dispatch/SerialQueue.h"

#include <chrono>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::ExitMonitor;
using platform::ManualMainLoop;

namespace {

// A child that exits with `code` at once, or, with no code, waits to be killed.
pid_t startChild(std::optional<int> code)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (code)
            _exit(*code);
        for (;;)
            pause();
    }
    return pid;
}

// True while `pid` is an unreaped child of ours that has ended (a zombie).
bool isUnreapedZombie(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | WNOHANG) == 0 &&
           info.si_pid == pid;
}

struct Report
{
    bool ran = false;
    std::optional<int> status;
    bool onLoopThread = false;
};

// Runs the loop until the monitor's notification has arrived.
bool waitForReport(ManualMainLoop& loop, const Report& report)
{
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (!report.ran && std::chrono::steady_clock::now() < giveUp) {
        loop.waitForWork(100ms);
        loop.runUntilIdle();
    }
    return report.ran;
}

class ExitMonitorTest : public ::testing::TestWithParam<ExitMonitor::Watcher>
{};

} // namespace

TEST_P(ExitMonitorTest, ReportsTheExitWithoutReapingAndReapsOnlyOnRequest)
{
    auto loop = std::make_shared<ManualMainLoop>();
    const pid_t pid = startChild(3);
    ASSERT_GT(pid, 0);
    ExitMonitor monitor(pid, GetParam());
    Report report;
    monitor.notifyOnExit(loop, [&](std::optional<int> status) {
        report = {true, status, loop->isCurrent()};
    });
    ASSERT_TRUE(waitForReport(*loop, report)) << "the exit was never reported";
    EXPECT_TRUE(report.onLoopThread);
    ASSERT_TRUE(report.status);
    EXPECT_TRUE(WIFEXITED(*report.status));
    EXPECT_EQ(WEXITSTATUS(*report.status), 3);

    // Noticing the exit left the child to its owner: still a zombie, still signallable.
    EXPECT_TRUE(isUnreapedZombie(pid));
    EXPECT_FALSE(monitor.hasReaped());
    EXPECT_TRUE(monitor.sendSignal(0)) << "a zombie can still be signalled";

    const auto reaped = monitor.waitAndReap();
    ASSERT_TRUE(reaped);
    EXPECT_EQ(*reaped, *report.status);
    EXPECT_TRUE(monitor.hasReaped());
    EXPECT_FALSE(isUnreapedZombie(pid));
    EXPECT_EQ(monitor.waitAndReap(), reaped) << "a second wait lost the status";
    EXPECT_FALSE(monitor.sendSignal(0)) << "a reaped pid, which may be recycled, was signalled";
}

TEST_P(ExitMonitorTest, ReportsADeathBySignalAndLeavesOtherChildrenAlone)
{
    auto queue = std::make_shared<platform::SerialQueue>("kestrovan-test-exits");
    const pid_t watched = startChild(std::nullopt);
    const pid_t other = startChild(5);
    ASSERT_GT(watched, 0);
    ASSERT_GT(other, 0);

    ExitMonitor monitor(watched, GetParam());
    std::promise<std::optional<int>> reported;
    auto future = reported.get_future();
    monitor.notifyOnExit(queue, [&](std::optional<int> status) { reported.set_value(status); });
    EXPECT_TRUE(monitor.sendSignal(SIGKILL));
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    const auto status = future.get();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGKILL);
    EXPECT_EQ(monitor.waitAndReap(), status);

    // The other child was neither reaped nor had a handler installed for it.
    int otherStatus = 0;
    ASSERT_EQ(waitpid(other, &otherStatus, 0), other) << "someone reaped a child that was not watched";
    EXPECT_EQ(WEXITSTATUS(otherStatus), 5);
    struct sigaction action
    {};
    sigaction(SIGCHLD, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << "a process-wide SIGCHLD handler was installed";
}

TEST_P(ExitMonitorTest, CancelKeepsTheHandlerFromRunning)
{
    auto loop = std::make_shared<ManualMainLoop>();
    const pid_t pid = startChild(std::nullopt);
    ASSERT_GT(pid, 0);
    // Two monitors of one child: the second one's report shows when the first one's would be due.
    ExitMonitor cancelled(pid, GetParam());
    ExitMonitor witness(pid, GetParam());
    bool cancelledRan = false;
    Report report;
    cancelled.notifyOnExit(loop, [&](std::optional<int>) { cancelledRan = true; });
    witness.notifyOnExit(loop, [&](std::optional<int> status) { report = {true, status, true}; });
    cancelled.cancel();
    EXPECT_TRUE(cancelled.sendSignal(SIGTERM)) << "cancelling the notification stopped signalling";
    ASSERT_TRUE(waitForReport(*loop, report));
    std::this_thread::sleep_for(20ms);
    loop->runUntilIdle();
    EXPECT_FALSE(cancelledRan) << "a cancelled monitor reported the exit";
    EXPECT_TRUE(witness.waitAndReap());
}

TEST_P(ExitMonitorTest, AChildReapedElsewhereIsReportedWithoutAStatus)
{
    auto loop = std::make_shared<ManualMainLoop>();
    const pid_t pid = startChild(0);
    ASSERT_GT(pid, 0);
    ExitMonitor monitor(pid, GetParam());
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    Report report;
    monitor.notifyOnExit(loop, [&](std::optional<int> status) { report = {true, status, true}; });
    ASSERT_TRUE(waitForReport(*loop, report));
    EXPECT_FALSE(report.status);
    EXPECT_FALSE(monitor.waitAndReap());
    EXPECT_TRUE(monitor.hasReaped());
    EXPECT_FALSE(monitor.sendSignal(0));
}

INSTANTIATE_TEST_SUITE_P(Watchers, ExitMonitorTest,
                         ::testing::Values(ExitMonitor::Watcher::automatic,
                                           ExitMonitor::Watcher::waitingThread),
                         [](const auto& info) {
                             return info.param == ExitMonitor::Watcher::automatic ? "Pidfd" : "WaitingThread";
                         });

TEST(ExitMonitorDeathTest, ASecondNotificationStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto loop = std::make_shared<ManualMainLoop>();
            ExitMonitor monitor(getpid());
            monitor.notifyOnExit(loop, [](std::optional<int>) {});
            monitor.notifyOnExit(loop, [](std::optional<int>) {});
        },
        "ExitMonitor::notifyOnExit called twice");
}

TEST(ExitMonitor, ConvertsWaitidResultsToWaitStatuses)
{
    EXPECT_EQ(WEXITSTATUS(ExitMonitor::waitStatusFromSignalInfo(CLD_EXITED, 127)), 127);
    EXPECT_TRUE(WIFEXITED(ExitMonitor::waitStatusFromSignalInfo(CLD_EXITED, 0)));
    EXPECT_EQ(WTERMSIG(ExitMonitor::waitStatusFromSignalInfo(CLD_KILLED, SIGTERM)), SIGTERM);
    EXPECT_TRUE(WCOREDUMP(ExitMonitor::waitStatusFromSignalInfo(CLD_DUMPED, SIGSEGV)));
    EXPECT_TRUE(WIFSIGNALED(ExitMonitor::waitStatusFromSignalInfo(CLD_DUMPED, SIGSEGV)));
}
