#include "Platform/GPU/ToolkitRenderer.h"

#include "Platform/GPU/SystemDevice.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace platform::gpu {

std::optional<std::string> toolkitRendererFor(const ToolkitRendererFacts& facts)
{
    // The user's choice stands, whatever it is.
    if (facts.userRenderer && *facts.userRenderer)
        return std::nullopt;
    // Mesa is told to rasterize in software whatever the machine has.
    if (isSoftwareRenderer({}, facts.alwaysSoftware))
        return "cairo";
    // No render node, no hardware GL: GL would be a software rasterizer.
    if (!facts.hasRenderNode)
        return "cairo";
    // A render node without a hardware driver behind it (a virtual GPU without 3D, an unknown
    // device) still ends in a software rasterizer: its name tells.
    const std::string renderer = facts.glRenderer ? facts.glRenderer() : std::string();
    if (!renderer.empty() && isSoftwareRenderer(renderer, nullptr))
        return "cairo";
    return std::nullopt;
}

bool hasUsableRenderNode(const char* directory)
{
    DIR* entries = opendir(directory);
    if (!entries)
        return false;
    bool usable = false;
    while (const dirent* entry = readdir(entries)) {
        if (std::string_view(entry->d_name).rfind("renderD", 0) != 0)
            continue;
        const std::string path = std::string(directory) + "/" + entry->d_name;
        const int descriptor = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (descriptor >= 0) {
            close(descriptor);
            usable = true;
            break;
        }
    }
    closedir(entries);
    return usable;
}

std::optional<std::string> chooseToolkitRenderer()
{
    static const std::optional<std::string> chosen = [] {
        ToolkitRendererFacts facts;
        facts.userRenderer = std::getenv("GSK_RENDERER");
        facts.alwaysSoftware = std::getenv("LIBGL_ALWAYS_SOFTWARE");
        facts.hasRenderNode = hasUsableRenderNode();
        facts.glRenderer = [] { return systemDeviceProbe().renderer; };
        std::optional<std::string> renderer = toolkitRendererFor(facts);
        // Before GTK starts no other thread reads the environment.
        if (renderer)
            setenv("GSK_RENDERER", renderer->c_str(), 1);
        return renderer;
    }();
    return chosen;
}

} // namespace platform::gpu
