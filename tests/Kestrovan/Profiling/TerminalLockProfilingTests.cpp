// Profiling of the terminal lock: waits and holds per thread role, and signposts. The profiling
// statistics and the log sink are process-wide, so these tests live in a binary of their own,
// where no thread left behind by another test (a pipeline winding down) can record into them.
#include "Kestrovan/TerminalLock.h"
#include "Kestrovan/TerminalProfiling.h"
#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Log/Log.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace kestrovan;

namespace {

void waitForWaiters(const TerminalLock& lock, int count)
{
    while (lock.waiterCount() < count)
        std::this_thread::yield();
}

} // namespace

class TerminalLockProfilingTest : public testing::Test
{
protected:
    void TearDown() override
    {
        unsetenv("KESTROVAN_PROFILE");
        unsetenv("KESTROVAN_PROFILE_STATS");
        Profiling::rereadSwitchesForTesting();
        TerminalProfiling::reset();
        platform::setLogSink({});
    }
};

TEST_F(TerminalLockProfilingTest, MeasuresWaitsAndHoldsPerThreadRole)
{
    setenv("KESTROVAN_PROFILE_STATS", "1", 1);
    Profiling::rereadSwitchesForTesting();
    TerminalProfiling::reset();

    TerminalLock lock;
    lock.withLock([] {}); // uncontended: a hold, no wait
    lock.lock();
    std::thread timer([&] {
        platform::setCurrentThreadName("kestrovan-io-timers");
        lock.withLock([] {});
    });
    waitForWaiters(lock, 1);
    lock.unlock();
    timer.join();

    std::vector<IntervalSummary> summaries = TerminalProfiling::summaries();
    ASSERT_EQ(summaries.size(), 3u) << TerminalProfiling::report();
    EXPECT_EQ(summaries[0].event, "Lock.Wait");
    EXPECT_EQ(summaries[0].owner, "timer");
    EXPECT_EQ(summaries[0].count, 1) << "only the contended acquisition waited";
    EXPECT_EQ(summaries[1].event, "Lock.Hold");
    EXPECT_EQ(summaries[1].owner, "main");
    EXPECT_EQ(summaries[1].count, 2);
    EXPECT_EQ(summaries[2].event, "Lock.Hold");
    EXPECT_EQ(summaries[2].owner, "timer");
    EXPECT_EQ(summaries[2].count, 1);
}

TEST_F(TerminalLockProfilingTest, EmitsSignpostsNamingTheOwner)
{
    setenv("KESTROVAN_PROFILE", "1", 1);
    Profiling::rereadSwitchesForTesting();
    std::vector<std::string> lines;
    platform::setLogSink([&](const platform::LogRecord& record) { lines.emplace_back(record.message); });

    TerminalLock lock;
    lock.withLock([] {});
    platform::setLogSink({});

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("begin Lock.Hold"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("owner=main"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("end Lock.Hold"), std::string::npos) << lines[1];
    EXPECT_EQ(TerminalProfiling::report(), "") << "signposts alone record nothing";
}
