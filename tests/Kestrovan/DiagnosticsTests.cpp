#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/DiagnosticsRateLimiter.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Log/Log.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrovan;

namespace {

constexpr uint64_t ms = 1'000'000;

// Takes every log record while it lives, and lets the diagnostics read `now` as their clock.
class LogCapture
{
public:
    LogCapture()
    {
        platform::setLogSink([this](const platform::LogRecord& record) {
            records.push_back({std::string(record.subsystem), std::string(record.category), record.level,
                               std::string(record.message)});
        });
        previousClock_ = setDiagnosticClock([this] { return now; });
    }
    ~LogCapture()
    {
        setDiagnosticClock(std::move(previousClock_));
        platform::setLogSink(nullptr);
    }

    struct Record
    {
        std::string subsystem;
        std::string category;
        platform::LogLevel level;
        std::string message;
    };
    std::vector<Record> records;
    uint64_t now = 5'000 * ms;

private:
    std::function<uint64_t()> previousClock_;
};

} // namespace

TEST(DiagnosticsRateLimiter, CapsDistinctLinesAndStartsAWindowWhenTheClockGoesBack)
{
    struct Arrival
    {
        uint64_t at;
        const char* line;
        const char* printed; // nullptr: counted only
    };
    struct Case
    {
        const char* name;
        std::vector<Arrival> arrivals;
    };
    const Case cases[] = {
        {"distinct lines print until the window's cap",
         {{0, "1", "1"},
          {1, "2", "2"},
          {2, "3", "3"},
          {3, "2", nullptr},
          {4, "4", "4 (1 more suppressed)"},
          {5, "5", "5"},
          {6, "6", nullptr},
          {7, "7", nullptr},
          {1000 * ms + 6, "6", "6 (2 more suppressed)"}}},
        {"a clock that goes back opens a window", {{5000 * ms, "A", "A"}, {4000 * ms, "A", "A"}}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        DiagnosticsRateLimiter limiter;
        for (const Arrival& arrival : test.arrivals) {
            SCOPED_TRACE(std::string(arrival.line) + " at " + std::to_string(arrival.at));
            const std::optional<std::string> printed = limiter.admit(arrival.line, arrival.at);
            if (arrival.printed)
                EXPECT_EQ(printed, std::string(arrival.printed));
            else
                EXPECT_EQ(printed, std::nullopt);
        }
    }
}

TEST(Diagnostics, GoToTheLogWithTheModuleTagAndNeverToStandardOutput)
{
    LogCapture log;
    ::testing::internal::CaptureStdout();
    printDiagnostic("Info: a misuse");
    const std::string standardOutput = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(standardOutput, "");
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].subsystem, "org.morvane.Kestrovan");
    EXPECT_EQ(log.records[0].category, "Diagnostics");
    EXPECT_EQ(log.records[0].level, platform::LogLevel::info);
    EXPECT_EQ(log.records[0].message, "Info: a misuse");

    // A sink, where one is set, takes every line instead, unlimited.
    std::vector<std::string> sunk;
    auto previous = setDiagnosticSink([&](std::string_view line) { sunk.emplace_back(line); });
    printDiagnostic("Info: a misuse");
    printDiagnostic("Info: a misuse");
    setDiagnosticSink(std::move(previous));
    EXPECT_EQ(sunk.size(), 2u);
    EXPECT_EQ(log.records.size(), 1u);
}

TEST(Diagnostics, AnUnknownSequenceFloodPrintsOneLineASecondWithACount)
{
    LogCapture log;
    auto terminal = Terminal::create(nullptr, TerminalOptions::defaults());
    terminal->setSilentLog(false);
    // CSI o is no sequence this terminal knows: it reports it and otherwise ignores it.
    auto flood = [&](int count) {
        std::string bytes;
        for (int i = 0; i < count; ++i)
            bytes += "\x1b[7o";
        terminal->terminalLock().withLock([&] { terminal->feed(bytes); });
    };
    flood(10000);
    ASSERT_EQ(log.records.size(), 1u);
    const std::string line = log.records[0].message;
    EXPECT_NE(line.find("Info: "), std::string::npos) << line;

    log.now += 400 * ms;
    flood(10000);
    EXPECT_EQ(log.records.size(), 1u) << "a second line within the second";

    log.now += 600 * ms;
    flood(1);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[1].message, line + " (19999 more suppressed)");
}
