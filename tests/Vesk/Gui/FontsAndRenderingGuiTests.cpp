// The terminal font from the bundle beside the executable, the system's monospaced font without
// it, and the rendering preference: written to the settings file, followed by every pane in one
// pass, suspended in a hidden tab, and still applied for the session when the settings folder
// cannot be written; on a machine with a GPU device (Mesa's software rasterizer admitted as one)
// the focused window's panes draw with it, and switch back and forth with the preference; and
// GTK's own renderer, cairo on a machine without hardware GL unless the user chose one.
#include "VeskDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace veskgui {
namespace {

TEST(FontsAndRenderingGuiTests, TheBundledFontElseTheSystemsMonospacedFont)
{
    {
        Vesk vesk;
        ASSERT_TRUE(vesk.started());
        EXPECT_EQ(vesk.state().activePane()["font"], "JetBrainsMono-Regular");
    }
    // The executable alone in a folder of its own: no bundle beside it. The fonts the process sees
    // are the tests' own without JetBrains Mono, so only the bundle could have given it.
    TemporaryFolder elsewhere;
    const std::string copy = elsewhere.path() + "/Vesk";
    ASSERT_EQ(execute({"cp", VESK_EXECUTABLE, copy}), 0);
    const char* testFonts = std::getenv("FONTCONFIG_FILE");
    ASSERT_NE(testFonts, nullptr);
    std::istringstream lines(readFile(testFonts));
    std::string withoutJetBrains;
    for (std::string line; std::getline(lines, line);) {
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (lower.find("jetbrains") == std::string::npos)
            withoutJetBrains += line + "\n";
    }
    writeFile(elsewhere.path() + "/fonts.conf", withoutJetBrains);
    Vesk vesk(LaunchOptions{copy, {"FONTCONFIG_FILE=" + elsewhere.path() + "/fonts.conf"}});
    ASSERT_TRUE(vesk.started());
    EXPECT_EQ(vesk.state().activePane()["font"], "DejaVuSansMono") << "the monospace fallback";
}

TEST(FontsAndRenderingGuiTests, TheRenderingPreferenceIsStoredAndEveryPaneFollowsInOnePass)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+d");
    vesk.expect([](const State& s) { return s.panes().size() == 2 && s.activePane()["running"] == "1"; },
                "two panes");
    vesk.key("ctrl+shift+t");
    State before =
        vesk.expect([](const State& s) { return s.tabs().size() == 2 && s.activePane()["running"] == "1"; },
                    "a second tab");
    EXPECT_EQ(before.app()["gpu-preference"], "1") << "on when never chosen";
    for (const Record& pane : before.panes(0, 0))
        EXPECT_EQ(pane["suspended"], "1") << "the hidden tab's panes";

    vesk.activate("app.use-gpu-rendering");
    const State after = vesk.expect(
        [](const State& s) {
            return s.app()["gpu-preference"] == "0" && s.app().number("rendering-passes") == 1;
        },
        "the preference is off after one pass");
    EXPECT_NE(readFile(vesk.settingsPath()).find("[Rendering]\ngpu=false"), std::string::npos)
        << readFile(vesk.settingsPath());
    const std::vector<Record> panesBefore = before.panes();
    const std::vector<Record> panesAfter = after.panes();
    ASSERT_EQ(panesAfter.size(), 3u);
    for (size_t index = 0; index < panesAfter.size(); ++index) {
        EXPECT_EQ(panesAfter[index].number("rendering-applications"),
                  panesBefore[index].number("rendering-applications") + 1)
            << "pane " << index << " applied the change once";
        EXPECT_EQ(panesAfter[index]["rendering"], "cpu");
    }

    vesk.activate("app.use-gpu-rendering");
    vesk.expect(
        [](const State& s) {
            return s.app()["gpu-preference"] == "1" && s.app().number("rendering-passes") == 2;
        },
        "on again");
    EXPECT_NE(readFile(vesk.settingsPath()).find("gpu=true"), std::string::npos);
    EXPECT_EQ(vesk.state().activePane()["rendering"], "cpu")
        << "a software rasterizer is no GPU device unless KESTROVAN_GPU_SOFTWARE=1";
}

TEST(FontsAndRenderingGuiTests, WithADeviceThePreferenceSwitchesThePanesToTheGpuAndBack)
{
    Vesk vesk(LaunchOptions{"", {"KESTROVAN_GPU_SOFTWARE=1", "LIBGL_ALWAYS_SOFTWARE=1", "LP_NUM_THREADS=2"}});
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    const State gpu = vesk.expect([](const State& s) { return s.activePane()["rendering"] == "gpu"; },
                                  "the pane draws on the GPU");
    // And the GPU surface shows the shell's prompt where the terminal lies: a surface left at the
    // view's initial frame, or never placed, leaves the terminal's area without a lit pixel.
    const Record pane = gpu.activePane();
    const std::string area = std::to_string(int(pane.number("cell-width") * 10)) + "x" +
                             std::to_string(int(pane.number("cell-height"))) + "+" +
                             std::to_string(int(pane.number("terminal-x"))) + "+" +
                             std::to_string(int(pane.number("terminal-y")));
    const TemporaryFolder shots;
    const std::string shot = shots.path() + "/gpu-prompt.png";
    const auto brightest = [&] {
        run("import -silent -window " + std::to_string(vesk.xid()) + " '" + shot + "'");
        return run("convert '" + shot + "' -crop " + area +
                   " +repage -colorspace gray -format '%[fx:maxima]' info:");
    };
    EXPECT_TRUE(poll([&] { return std::atof(brightest().c_str()) > 0.25; }, 10s))
        << "the first row of the terminal, " << area << ", stays dark: " << brightest();
    // A split moves the first pane into a new parent: it keeps drawing on the GPU beside the new one.
    vesk.key("ctrl+shift+d");
    vesk.expect(
        [](const State& s) {
            const std::vector<Record> panes = s.panes();
            return panes.size() == 2 && panes[0]["rendering"] == "gpu" && panes[1]["rendering"] == "gpu";
        },
        "both panes on the GPU");

    vesk.activate("app.use-gpu-rendering");
    vesk.expect(
        [](const State& s) {
            const std::vector<Record> panes = s.panes();
            return s.app()["gpu-preference"] == "0" && panes.size() == 2 && panes[0]["rendering"] == "cpu" &&
                   panes[1]["rendering"] == "cpu";
        },
        "both panes on the CPU");
    vesk.activate("app.use-gpu-rendering");
    vesk.expect(
        [](const State& s) {
            const std::vector<Record> panes = s.panes();
            return s.app()["gpu-preference"] == "1" && panes.size() == 2 && panes[0]["rendering"] == "gpu" &&
                   panes[1]["rendering"] == "gpu";
        },
        "both panes on the GPU again");
    EXPECT_EQ(readFile(vesk.errorLog()).find("Kestrovan: GPU renderer rebind failed"), std::string::npos)
        << readFile(vesk.errorLog());
}

TEST(FontsAndRenderingGuiTests, WithoutHardwareGLTheToolkitDrawsWithCairoUnlessTheUserChose)
{
    // LIBGL_ALWAYS_SOFTWARE makes every machine one without hardware GL; a name alone leaves the
    // driver's GSK_RENDERER out.
    const struct
    {
        std::vector<std::string> environment;
        const char* renderer;
    } rows[] = {
        {{"GSK_RENDERER", "LIBGL_ALWAYS_SOFTWARE=1"}, "GskCairoRenderer"},
        {{"GSK_RENDERER=gl", "LIBGL_ALWAYS_SOFTWARE=1"}, "GskGLRenderer"},
        {{"GSK_RENDERER=cairo", "LIBGL_ALWAYS_SOFTWARE=1"}, "GskCairoRenderer"},
    };
    for (const auto& row : rows) {
        Vesk vesk(LaunchOptions{"", row.environment});
        ASSERT_TRUE(vesk.started()) << row.environment[0];
        EXPECT_EQ(vesk.state().windows()[0]["toolkit-renderer"], row.renderer) << row.environment[0];
    }
}

TEST(FontsAndRenderingGuiTests, WithoutHardwareGLTheGpuChoiceLoadsNoGLAndSaysWhyOnceAsInformation)
{
    // Mesa forced to software: no hardware GL on any machine. The choice is on (never written), and
    // the toolkit's renderer is the application's to choose.
    Vesk vesk(LaunchOptions{"", {"GSK_RENDERER", "LIBGL_ALWAYS_SOFTWARE=1"}});
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+t");
    State state =
        vesk.expect([](const State& s) { return s.tabs().size() == 2 && s.activePane()["running"] == "1"; },
                    "a second tab");
    EXPECT_EQ(state.app()["gpu-preference"], "1");
    EXPECT_EQ(state.activePane()["rendering"], "cpu");
    const std::string maps = readFile("/proc/" + std::to_string(vesk.pid()) + "/maps");
    for (const char* driver : {"libEGL_mesa", "libGLX_mesa", "/dri/", "libgallium", "libLLVM"})
        EXPECT_EQ(maps.find(driver), std::string::npos) << driver << " is loaded";
    const std::string log = readFile(vesk.errorLog());
    EXPECT_EQ(log.find(" error: "), std::string::npos) << log;
    const std::string reason = "org.morvane.Kestrovan[GPU] info: Kestrovan: LIBGL_ALWAYS_SOFTWARE asks for a "
                               "software GL renderer; drawing on the CPU\n";
    ASSERT_NE(log.find(reason), std::string::npos) << log;
    EXPECT_EQ(log.find(reason), log.rfind(reason)) << "said once for both panes\n" << log;
}

TEST(FontsAndRenderingGuiTests, AnUnwritableSettingsFolderIsLoggedAndTheChoiceStillApplies)
{
    TemporaryFolder blocked;
    // The settings folder would be inside a file: it can be made by nobody, root included.
    writeFile(blocked.path() + "/not-a-folder", "");
    Vesk vesk(LaunchOptions{"", {"XDG_CONFIG_HOME=" + blocked.path() + "/not-a-folder/config"}});
    ASSERT_TRUE(vesk.started());
    vesk.activate("app.use-gpu-rendering");
    vesk.expect(
        [](const State& s) {
            return s.app()["gpu-preference"] == "0" && s.app().number("rendering-passes") == 1;
        },
        "the choice applies for the session");
    EXPECT_NE(readFile(vesk.errorLog()).find("Couldn't create the settings folder"), std::string::npos)
        << readFile(vesk.errorLog());
}

} // namespace
} // namespace veskgui
