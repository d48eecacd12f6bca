// Whether Vesk gives back what windows, tabs and GPU surfaces took once they are gone: the resident
// set of the real application, driven as a user drives it, before and after many rounds of
//   - windows: a new window (Ctrl+Shift+N), its shell ended, the window closed (Ctrl+Shift+W);
//   - tab switches: two tabs drawing on the GPU, switched with Ctrl+Tab, each switch dropping the
//     GPU surface of the tab that hides and making one for the tab that shows;
//   - GPU toggles: "Use GPU Rendering" off and on again, through the application's action;
// the GPU rounds once with each surface kind (the render-thread texture surface, the default, and
// the GL area with KESTROVAN_METAL_LAYER=0), on Mesa's software rasterizer admitted as a device.
// Each round waits for the state the application reports (its test state dump), never for a time.
// Every measurement prints the resident set at the start (after five warm-up rounds, which fill the
// caches that later rounds only reuse), at the end, and the growth, and fails when it grew by more
// than 10 MB. First, the resident set right after start-up with the GPU choice on and off, with the
// toolkit's renderer left to the application: on a machine without hardware GL the two should
// not differ, since nothing of GL is loaded for a choice that cannot be had.
//
// A program of its own, run by hand on a private X server with a session bus:
//   tools/gui/with-xvfb dbus-run-session -- build/bench/bench_VeskLifecycleMemoryBench
// VESK_MEMORY_WINDOWS, VESK_MEMORY_SWITCHES and VESK_MEMORY_TOGGLES change the round counts
// (100, 200 and 50).
#include "tests/Vesk/Gui/VeskDriver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace veskgui {
namespace {

constexpr long long allowedGrowthKiB = 10 * 1024;
/// Rounds before the start is measured: the first ones fill caches (fonts, glyphs, the toolkit's
/// own, a software GL's compiled shaders) that later rounds only reuse.
constexpr int warmUpRounds = 5;

int rounds(const char* variable, int fallback)
{
    const char* value = std::getenv(variable);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

/// The process's resident set in KiB, read once it has been idle for a moment: a GPU surface that
/// goes hands its freed memory back to the system a quarter of a second later, and a reading
/// taken just before or just after that would show the timing, not what the process keeps.
long long settledResidentKiB(pid_t pid)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t found = status.find("VmRSS:");
    return found == std::string::npos ? -1 : std::atoll(status.c_str() + found + 6);
}

void report(const std::string& what, long long startKiB, long long endKiB)
{
    std::printf("%-52s start %7.1f MB  end %7.1f MB  growth %+6.1f MB\n", what.c_str(), startKiB / 1024.0,
                endKiB / 1024.0, (endKiB - startKiB) / 1024.0);
    std::fflush(stdout);
    EXPECT_LE(endKiB - startKiB, allowedGrowthKiB) << what;
}

/// Failures recorded so far in the running test, so that a round that waited in vain ends the
/// measurement while a growth already reported does not.
int failuresSoFar()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

/// Every pane of every window reports `rendering`.
bool allPanesDraw(const State& state, const char* rendering, size_t panes)
{
    const std::vector<Record> all = state.all("pane");
    if (all.size() != panes)
        return false;
    for (const Record& pane : all)
        if (pane["suspended"] == "0" && pane["rendering"] != rendering)
            return false;
    return true;
}

TEST(VeskLifecycleMemoryBench, StartUpWithTheGpuChoiceOnAndOff)
{
    // The machine as it is, and the toolkit's renderer the application's choice. Without hardware
    // GL the choice must cost nothing; with it, the difference is what the GPU path takes.
    long long resident[2] = {0, 0};
    for (const bool on : {true, false}) {
        TemporaryFolder config;
        execute({"mkdir", "-p", config.path() + "/vesk"});
        writeFile(config.path() + "/vesk/settings.ini",
                  std::string("[Rendering]\ngpu=") + (on ? "true" : "false") + "\n");
        Vesk vesk(LaunchOptions{"", {"GSK_RENDERER", "XDG_CONFIG_HOME=" + config.path()}});
        ASSERT_TRUE(vesk.started());
        vesk.expect([on](const State& s) { return s.app()["gpu-preference"] == (on ? "1" : "0"); },
                    "the choice read");
        resident[on ? 0 : 1] = settledResidentKiB(vesk.pid());
        const std::string log = readFile(vesk.errorLog());
        EXPECT_EQ(log.find(" error: "), std::string::npos) << log;
    }
    std::printf("%-52s on %7.1f MB  off %7.1f MB  difference %+6.1f MB\n", "start-up, GPU choice",
                resident[0] / 1024.0, resident[1] / 1024.0, (resident[0] - resident[1]) / 1024.0);
}

TEST(VeskLifecycleMemoryBench, ClosedWindows)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    const int count = rounds("VESK_MEMORY_WINDOWS", 100);
    long long start = 0;
    for (int round = 0; round < count + warmUpRounds; ++round) {
        if (round == warmUpRounds)
            start = settledResidentKiB(vesk.pid());
        vesk.focus(0);
        vesk.key("ctrl+shift+n");
        vesk.expect(
            [](const State& s) { return s.windows().size() == 2 && s.activePane(1)["running"] == "1"; },
            "a second window with a shell");
        vesk.focus(1);
        vesk.typeLine("exit");
        vesk.expect([](const State& s) { return s.activePane(1)["running"] == "0"; }, "its shell ended");
        vesk.key("ctrl+shift+w");
        vesk.expect([](const State& s) { return s.windows().size() == 1; }, "the window closed");
        if (failuresSoFar() > 0)
            return;
    }
    report(std::to_string(count) + " windows opened, ended and closed", start,
           settledResidentKiB(vesk.pid()));
}

void measureGpuRounds(const char* surface, std::vector<std::string> environment)
{
    environment.insert(environment.end(),
                       {"KESTROVAN_GPU_SOFTWARE=1", "LIBGL_ALWAYS_SOFTWARE=1", "LP_NUM_THREADS=2"});
    Vesk vesk(LaunchOptions{"", environment});
    ASSERT_TRUE(vesk.started());
    vesk.focus(0);
    vesk.key("ctrl+shift+t");
    vesk.expect([](const State& s) { return s.tabs().size() == 2 && allPanesDraw(s, "gpu", 2); },
                "two tabs, the shown one on the GPU");

    const int failures = failuresSoFar();
    const int switches = rounds("VESK_MEMORY_SWITCHES", 200);
    long long start = 0;
    for (int round = 0; round < switches + warmUpRounds; ++round) {
        if (round == warmUpRounds)
            start = settledResidentKiB(vesk.pid());
        const long long selected = vesk.state().windows()[0].number("selected");
        vesk.key("ctrl+Tab");
        vesk.expect(
            [selected](const State& s) {
                return s.windows()[0].number("selected") == 1 - selected && allPanesDraw(s, "gpu", 2);
            },
            "the other tab shows, on the GPU");
        if (failuresSoFar() > failures)
            return;
    }
    report(std::string(surface) + ": " + std::to_string(switches) + " tab switches", start,
           settledResidentKiB(vesk.pid()));

    const int reported = failuresSoFar();
    const int toggles = rounds("VESK_MEMORY_TOGGLES", 50);
    for (int round = 0; round < toggles + warmUpRounds; ++round) {
        if (round == warmUpRounds)
            start = settledResidentKiB(vesk.pid());
        vesk.activate("app.use-gpu-rendering");
        vesk.expect(
            [](const State& s) { return s.app()["gpu-preference"] == "0" && allPanesDraw(s, "cpu", 2); },
            "GPU off");
        vesk.activate("app.use-gpu-rendering");
        vesk.expect(
            [](const State& s) { return s.app()["gpu-preference"] == "1" && allPanesDraw(s, "gpu", 2); },
            "GPU on");
        if (failuresSoFar() > reported)
            return;
    }
    report(std::string(surface) + ": " + std::to_string(toggles) + " GPU off/on toggles", start,
           settledResidentKiB(vesk.pid()));
}

TEST(VeskLifecycleMemoryBench, GpuTextureSurface)
{
    measureGpuRounds("texture surface", {});
}

TEST(VeskLifecycleMemoryBench, GpuGLArea)
{
    measureGpuRounds("GL area", {"KESTROVAN_METAL_LAYER=0"});
}

} // namespace
} // namespace veskgui
