#include "Platform/GPU/SystemDevice.h"
#include "Platform/GPU/ToolkitRenderer.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace platform::gpu {
namespace {

TEST(ToolkitRendererTests, CairoWithoutHardwareGLUnlessTheUserChose)
{
    struct Case
    {
        const char* name;
        const char* userRenderer;
        const char* alwaysSoftware;
        bool hasRenderNode;
        const char* glRenderer;
        bool softwareGLWanted;
        ToolkitRendererChoice expected;
        /// Whether the GL renderer's name had to be asked for.
        bool asked;
    };
    const ToolkitRendererChoice cairo{"cairo", true};
    const Case cases[] = {
        {"no render node", nullptr, nullptr, false, "", false, cairo, false},
        {"no render node, but GL on the software rasterizer wanted",
         nullptr,
         nullptr,
         false,
         "",
         true,
         {"cairo", false},
         false},
        {"llvmpipe, and GL on it wanted", nullptr, nullptr, true, "llvmpipe", true, {"cairo", false}, true},
        {"the user's choice stands", "gl", nullptr, false, "", false, {}, false},
        {"the user's cairo stands too", "cairo", nullptr, true, "", false, {}, false},
        {"an empty choice is no choice", "", nullptr, false, "", false, cairo, false},
        {"Mesa forced to software", nullptr, "1", true, "AMD Radeon", false, cairo, false},
        {"Mesa's variable off", nullptr, "0", true, "AMD Radeon", false, {}, true},
        {"a hardware renderer", nullptr, nullptr, true, "Mesa Intel(R) UHD Graphics 620", false, {}, true},
        {"llvmpipe behind a render node", nullptr, nullptr, true, "llvmpipe (LLVM 15.0.6, 256 bits)", false,
         cairo, true},
        {"softpipe", nullptr, nullptr, true, "softpipe", false, cairo, true},
        {"swrast", nullptr, nullptr, true, "Mesa swrast", false, cairo, true},
        {"another software rasterizer", nullptr, nullptr, true, "Software Rasterizer", false, cairo, true},
        {"no GL context at all: GTK's own fallback decides", nullptr, nullptr, true, "", false, {}, true},
    };
    for (const Case& test : cases) {
        bool asked = false;
        ToolkitRendererFacts facts;
        facts.userRenderer = test.userRenderer;
        facts.alwaysSoftware = test.alwaysSoftware;
        facts.hasRenderNode = test.hasRenderNode;
        facts.softwareGLWanted = test.softwareGLWanted;
        facts.glRenderer = [&] {
            asked = true;
            return std::string(test.glRenderer);
        };
        const ToolkitRendererChoice choice = toolkitRendererFor(facts);
        EXPECT_EQ(choice.renderer, test.expected.renderer) << test.name;
        EXPECT_EQ(choice.disableToolkitGL, test.expected.disableToolkitGL) << test.name;
        EXPECT_EQ(asked, test.asked) << test.name << ": the costly probe runs only when needed";
    }
}

TEST(ToolkitRendererTests, ARenderNodeCountsOnlyWhenItCanBeOpened)
{
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("toolkit-renderer-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    auto touch = [&](const char* name, std::filesystem::perms permissions) {
        const std::filesystem::path path = directory / name;
        close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
        std::filesystem::permissions(path, permissions);
    };
    EXPECT_FALSE(hasUsableRenderNode((directory / "missing").c_str())) << "no directory";
    EXPECT_FALSE(hasUsableRenderNode(directory.c_str())) << "empty";
    touch("card0", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(hasUsableRenderNode(directory.c_str())) << "a primary node is no render node";
    // Root opens whatever the permissions say, so the unreadable case only holds for other users.
    if (geteuid() != 0) {
        touch("renderD128", std::filesystem::perms::none);
        EXPECT_FALSE(hasUsableRenderNode(directory.c_str())) << "a render node this user cannot open";
    }
    touch("renderD129", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(hasUsableRenderNode(directory.c_str()));
    std::filesystem::remove_all(directory);
}

TEST(ToolkitRendererTests, NoHardwareGLWithoutARenderNodeOrWithMesaForcedToSoftware)
{
    const struct
    {
        const char* alwaysSoftware;
        bool hasRenderNode;
        std::optional<std::string> expected;
    } cases[] = {
        {nullptr, true, std::nullopt},
        {"0", true, std::nullopt},
        {nullptr, false, "no GPU render node is available"},
        {"0", false, "no GPU render node is available"},
        {"1", true, "LIBGL_ALWAYS_SOFTWARE asks for a software GL renderer"},
        {"true", false, "LIBGL_ALWAYS_SOFTWARE asks for a software GL renderer"},
    };
    for (const auto& test : cases)
        EXPECT_EQ(hardwareGLAbsence(test.alwaysSoftware, test.hasRenderNode), test.expected)
            << (test.alwaysSoftware ? test.alwaysSoftware : "unset") << ", render node "
            << test.hasRenderNode;
}

} // namespace
} // namespace platform::gpu
