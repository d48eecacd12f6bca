#include "Kestrovan/Profiling.h"
#include "Kestrovan/ProfilingStats.h"
#include "Kestrovan/TerminalProfiling.h"
#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Log/Log.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace kestrovan;

namespace {

// Sets the two profiling variables (nullptr unsets one) and makes the switches read them again.
void setSwitches(const char* profile, const char* stats)
{
    profile ? setenv("KESTROVAN_PROFILE", profile, 1) : unsetenv("KESTROVAN_PROFILE");
    stats ? setenv("KESTROVAN_PROFILE_STATS", stats, 1) : unsetenv("KESTROVAN_PROFILE_STATS");
    Profiling::rereadSwitchesForTesting();
}

// Collects the lines written to the profiling log.
struct LogCapture
{
    std::mutex mutex;
    std::vector<std::string> lines;

    LogCapture()
    {
        platform::setLogSink([this](const platform::LogRecord& record) {
            if (record.category != "IOProfile")
                return;
            std::lock_guard guard(mutex);
            lines.emplace_back(record.message);
        });
    }
    ~LogCapture() { platform::setLogSink({}); }
};

// Every test starts and ends with profiling off and all statistics empty.
class ProfilingTest : public testing::Test
{
protected:
    void SetUp() override
    {
        setSwitches(nullptr, nullptr);
        TerminalProfiling::reset();
    }
    void TearDown() override
    {
        setSwitches(nullptr, nullptr);
        TerminalProfiling::reset();
    }
};

ProfilingOwner ownerOnThread(const char* threadName, std::optional<ProfilingOwner> mark)
{
    ProfilingOwner seen = ProfilingOwner::main;
    std::thread worker([&] {
        if (threadName)
            platform::setCurrentThreadName(threadName);
        if (mark)
            markCurrentThreadProfilingOwner(*mark);
        seen = currentProfilingOwner();
    });
    worker.join();
    return seen;
}

} // namespace

TEST_F(ProfilingTest, EventsAndOwnersHaveFixedRawValuesAndReportNames)
{
    const char* expectedNames[] = {"IO.Batch",     "IO.Parse",       "Lock.Wait",
                                   "Lock.Hold",    "Frame.Tick",     "Frame.Refresh",
                                   "Frame.Draw",   "Metal.Drawable", "Metal.BuildDrawData",
                                   "Metal.Encode", "Metal.RowBuild", "Row.AttributedString",
                                   "Row.Shape",    "Frame.Resize",   "Metal.RowPlace",
                                   "Row.Plain"};
    for (size_t index = 0; index < allProfilingEvents.size(); ++index) {
        ProfilingEvent event = allProfilingEvents[index];
        EXPECT_EQ(static_cast<size_t>(event), index) << "events iterate in raw-value order";
        EXPECT_EQ(name(event), expectedNames[index]) << "name of event " << index;
        bool lockEvent = event == ProfilingEvent::lockWait || event == ProfilingEvent::lockHold;
        EXPECT_EQ(isOwnerTagged(event), lockEvent) << expectedNames[index];
    }

    for (uint8_t raw = 0; raw < 4; ++raw)
        EXPECT_EQ(static_cast<uint8_t>(*profilingOwnerFromRaw(raw)), raw);
    EXPECT_EQ(profilingOwnerFromRaw(4), std::nullopt) << "only 0-3 are owners";
}

TEST_F(ProfilingTest, SwitchesTurnOnOnlyForExactlyOne)
{
    struct Case
    {
        const char* profile;
        const char* stats;
        bool enabled;
        bool signposts;
        bool recording;
    };
    const Case cases[] = {
        {nullptr, nullptr, false, false, false}, {"1", nullptr, true, true, false},
        {nullptr, "1", true, false, true},       {"1", "1", true, true, true},
        {"true", "yes", false, false, false},    {"01", "1 ", false, false, false},
        {"0", "", false, false, false},
    };
    for (const Case& c : cases) {
        setSwitches(c.profile, c.stats);
        std::string label = std::string("PROFILE=") + (c.profile ? c.profile : "(unset)") +
                            " STATS=" + (c.stats ? c.stats : "(unset)");
        EXPECT_EQ(Profiling::enabled(), c.enabled) << label;
        EXPECT_EQ(Profiling::signpostsEnabled(), c.signposts) << label;
        EXPECT_EQ(ProfilingStats::enabled(), c.recording) << label;
        EXPECT_EQ(TerminalProfiling::isRecording(), c.recording) << label;
    }
}

TEST_F(ProfilingTest, ThreadRoleComesFromTheMainThreadThenTheMarkThenTheName)
{
    EXPECT_EQ(currentProfilingOwner(), ProfilingOwner::main) << "tests run on the main thread";
    EXPECT_EQ(ownerOnThread("kestrovan-parse", std::nullopt), ProfilingOwner::parse);
    EXPECT_EQ(ownerOnThread("kestrovan-parse-2", std::nullopt), ProfilingOwner::other)
        << "only the exact name means the parse thread";
    EXPECT_EQ(ownerOnThread("kestrovan-io-timers", std::nullopt), ProfilingOwner::timer);
    EXPECT_EQ(ownerOnThread("kestrovan-io-timers.queue-7", std::nullopt), ProfilingOwner::timer)
        << "a suffix beyond the kernel's 15 bytes still names a timer thread";
    EXPECT_EQ(ownerOnThread("", std::nullopt), ProfilingOwner::other);
    EXPECT_EQ(ownerOnThread(nullptr, std::nullopt), ProfilingOwner::other);
    EXPECT_EQ(ownerOnThread("kestrovan-io-timers", ProfilingOwner::parse), ProfilingOwner::parse)
        << "a marked thread keeps its mark whatever its name";
    EXPECT_EQ(ownerOnThread("anything", ProfilingOwner::main), ProfilingOwner::main);
}

TEST_F(ProfilingTest, StatisticsReportIsTheMarkdownTableByteForByte)
{
    setSwitches(nullptr, "1");
    ASSERT_TRUE(TerminalProfiling::isRecording());
    ProfilingStats& stats = ProfilingStats::shared();

    // Recorded in an order unlike the report's, which goes by event, then owner.
    stats.record(ProfilingEvent::frameDraw, std::nullopt, 123'456'789);
    stats.record(ProfilingEvent::lockHold, ProfilingOwner::timer, 999);
    stats.record(ProfilingEvent::lockHold, ProfilingOwner::main, 7'654'321);
    stats.record(ProfilingEvent::lockHold, ProfilingOwner::main, 1'234'567);
    // Ten samples of 1-10 ms out of order: p50 is index round(9 x 0.5) = 5 (4.5 rounds up), p99
    // and p999 index 9.
    for (uint64_t milliseconds : {7, 3, 10, 1, 9, 2, 8, 4, 6, 5})
        stats.record(ProfilingEvent::ioBatch, std::nullopt, milliseconds * 1'000'000);
    stats.record(ProfilingEvent::lockWait, ProfilingOwner::parse, 2'500'000);
    // Two past the cap: the slot keeps 500,000 samples and counts the rest as dropped.
    for (size_t index = 0; index < ProfilingStats::maximumSamplesPerSlot + 2; ++index)
        stats.record(ProfilingEvent::lockWait, ProfilingOwner::other, 1'000);

    EXPECT_EQ(TerminalProfiling::report(),
              "| Interval | n | p50 ms | p99 ms | p999 ms | max ms | total ms |\n"
              "| --- | --- | --- | --- | --- | --- | --- |\n"
              "| IO.Batch | 10 | 6.000 | 10.000 | 10.000 | 10.000 | 55.0 |\n"
              "| Lock.Wait owner=parse | 1 | 2.500 | 2.500 | 2.500 | 2.500 | 2.5 |\n"
              "| Lock.Wait owner=other (+2 dropped) | 500000 | 0.001 | 0.001 | 0.001 | 0.001 | 500.0 |\n"
              "| Lock.Hold owner=main | 2 | 7.654 | 7.654 | 7.654 | 7.654 | 8.9 |\n"
              "| Lock.Hold owner=timer | 1 | 0.001 | 0.001 | 0.001 | 0.001 | 0.0 |\n"
              "| Frame.Draw | 1 | 123.457 | 123.457 | 123.457 | 123.457 | 123.5 |");
    EXPECT_EQ(TerminalProfiling::report(TerminalProfiling::summaries()), TerminalProfiling::report());
    EXPECT_EQ(ProfilingStats::report({}), "") << "no summaries, no table";

    TerminalProfiling::reset();
    EXPECT_EQ(TerminalProfiling::report(), "") << "reset empties every slot and drop counter";
    stats.record(ProfilingEvent::lockWait, ProfilingOwner::other, 2'500'000);
    EXPECT_EQ(TerminalProfiling::summaries(),
              (std::vector<IntervalSummary>{{"Lock.Wait", "other", 1, 2.5, 2.5, 2.5, 2.5, 2.5, 0}}))
        << "one sample is every percentile, and the drop counter starts again from zero";
}

TEST_F(ProfilingTest, EndedIntervalsKeepTheOwnerOnlyForLockEvents)
{
    setSwitches(nullptr, "1");
    LogCapture log;

    ProfilingInterval draw = ProfilingInterval::begin(ProfilingEvent::frameDraw, ProfilingOwner::parse);
    EXPECT_TRUE(draw.isActive);
    EXPECT_EQ(draw.id, platform::invalidSignpostID) << "no signpost id without signposts";
    draw.end();
    ProfilingInterval::begin(ProfilingEvent::lockWait, ProfilingOwner::timer).end();

    std::vector<IntervalSummary> summaries = TerminalProfiling::summaries();
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[0].event, "Lock.Wait");
    EXPECT_EQ(summaries[0].owner, "timer");
    EXPECT_EQ(summaries[1].event, "Frame.Draw");
    EXPECT_EQ(summaries[1].owner, std::nullopt) << "a frame interval's owner is not kept";
    EXPECT_EQ(summaries[1].count, 1);
    EXPECT_TRUE(log.lines.empty()) << "statistics alone emit no signposts";
}

TEST_F(ProfilingTest, SignpostsAloneEmitSignpostsAndRecordNothing)
{
    setSwitches("1", nullptr);
    LogCapture log;

    ProfilingInterval tick = ProfilingInterval::begin(ProfilingEvent::frameResize, std::nullopt, "cols=80");
    ASSERT_TRUE(tick.isActive);
    ASSERT_NE(tick.id, platform::invalidSignpostID);
    tick.end();

    std::string id = std::to_string(tick.id);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_NE(log.lines[0].find("begin Frame.Resize id=" + id), std::string::npos) << log.lines[0];
    EXPECT_NE(log.lines[0].find("cols=80"), std::string::npos) << log.lines[0];
    EXPECT_NE(log.lines[1].find("end Frame.Resize id=" + id), std::string::npos) << log.lines[1];
    EXPECT_TRUE(TerminalProfiling::summaries().empty());
    EXPECT_EQ(TerminalProfiling::report(), "");
}

TEST_F(ProfilingTest, IntervalsAreInactiveWhileProfilingIsOff)
{
    LogCapture log;
    ProfilingInterval interval =
        ProfilingInterval::begin(ProfilingEvent::lockHold, ProfilingOwner::parse, "x");
    EXPECT_FALSE(interval.isActive);

    // Switching statistics on afterwards does not make the inactive interval count.
    setSwitches(nullptr, "1");
    interval.end();
    EXPECT_EQ(TerminalProfiling::report(), "");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ProfilingTest, CounterReportsListCallSitesByCountLargestFirst)
{
    EXPECT_EQ(TerminalProfiling::hopReport(), "");
    EXPECT_EQ(TerminalProfiling::lockCallerReport(), "");

    ProfilingHopCounter& hops = ProfilingHopCounter::shared();
    hops.record("bell(source:)");
    for (int index = 0; index < 3; ++index) {
        hops.record("setTerminalTitle(source:title:)");
        hops.record("colorChanged(source:idx:)");
    }
    EXPECT_EQ(TerminalProfiling::hopReport(), "| Callback | Main-queue hops |\n"
                                              "| --- | --- |\n"
                                              "| `colorChanged(source:idx:)` | 3 |\n"
                                              "| `setTerminalTitle(source:title:)` | 3 |\n"
                                              "| `bell(source:)` | 1 |\n");

    ProfilingLockCallers& callers = ProfilingLockCallers::shared();
    callers.record("resize(cols:rows:)");
    callers.record("enableOsc8Hyperlinks");
    callers.record("enableOsc8Hyperlinks");
    EXPECT_EQ(TerminalProfiling::lockCallerReport(), "| Call site | Main-thread lock acquisitions |\n"
                                                     "| --- | --- |\n"
                                                     "| `enableOsc8Hyperlinks` | 2 |\n"
                                                     "| `resize(cols:rows:)` | 1 |\n");

    TerminalProfiling::reset();
    EXPECT_EQ(TerminalProfiling::hopReport(), "") << "reset clears the hop counts";
    EXPECT_EQ(TerminalProfiling::lockCallerReport(), "") << "reset clears the lock-caller counts";
}

TEST_F(ProfilingTest, RecordingFromManyThreadsLosesNothing)
{
    setSwitches(nullptr, "1");
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([] {
            for (int index = 0; index < 1000; ++index) {
                ProfilingInterval::begin(ProfilingEvent::ioBatch).end();
                ProfilingHopCounter::shared().record("send(data:)");
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<IntervalSummary> summaries = TerminalProfiling::summaries();
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].count, 4000);
    EXPECT_NE(TerminalProfiling::hopReport().find("| `send(data:)` | 4000 |"), std::string::npos);
}
