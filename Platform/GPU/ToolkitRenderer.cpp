#include "Platform/GPU/ToolkitRenderer.h"

#include "Platform/GPU/SystemDevice.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace platform::gpu {

namespace {

/// Whether the toolkit draws with cairo because the machine has no hardware GL.
bool softwareOnly(const ToolkitRendererFacts& facts)
{
    // Mesa is told to rasterize in software whatever the machine has.
    if (isSoftwareRenderer({}, facts.alwaysSoftware))
        return true;
    // No render node, no hardware GL: GL would be a software rasterizer.
    if (!facts.hasRenderNode)
        return true;
    // A render node without a hardware driver behind it (a virtual GPU without 3D, an unknown
    // device) still ends in a software rasterizer: its name tells.
    const std::string renderer = facts.glRenderer ? facts.glRenderer() : std::string();
    return !renderer.empty() && isSoftwareRenderer(renderer, nullptr);
}

} // namespace

ToolkitRendererChoice toolkitRendererFor(const ToolkitRendererFacts& facts)
{
    // The user's choice stands, whatever it is.
    if ((facts.userRenderer && *facts.userRenderer) || !softwareOnly(facts))
        return {};
    return {"cairo", !facts.softwareGLWanted};
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

ToolkitRendererChoice chooseToolkitRenderer(bool softwareGLWanted)
{
    static const ToolkitRendererChoice chosen = [softwareGLWanted] {
        ToolkitRendererFacts facts;
        facts.userRenderer = std::getenv("GSK_RENDERER");
        facts.alwaysSoftware = std::getenv("LIBGL_ALWAYS_SOFTWARE");
        facts.hasRenderNode = hasUsableRenderNode();
        facts.glRenderer = [] { return systemDeviceProbe().renderer; };
        facts.softwareGLWanted = softwareGLWanted;
        const ToolkitRendererChoice choice = toolkitRendererFor(facts);
        // Before GTK starts no other thread reads the environment.
        if (choice.renderer)
            setenv("GSK_RENDERER", choice.renderer->c_str(), 1);
        if (choice.disableToolkitGL) {
            const char* flags = std::getenv("GDK_DEBUG");
            const std::string value =
                flags && *flags ? std::string(flags) + ",gl-disable" : std::string("gl-disable");
            setenv("GDK_DEBUG", value.c_str(), 1);
        }
        return choice;
    }();
    return chosen;
}

} // namespace platform::gpu
