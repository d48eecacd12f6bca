#include "Platform/GPU/SystemDevice.h"

#include "Platform/GPU/EglContext.h"
#include "Platform/GPU/ToolkitRenderer.h"

#include <atomic>
#include <cstdlib>

namespace platform::gpu {

namespace {

std::atomic<int> probesMade{0};

} // namespace

bool isSoftwareRenderer(std::string_view renderer, const char* alwaysSoftware)
{
    // Mesa takes the variable as a boolean; any other value leaves the hardware driver in use.
    if (alwaysSoftware) {
        const std::string_view value(alwaysSoftware);
        for (const char* yes : {"1", "true", "TRUE", "True", "yes", "YES", "y", "Y"})
            if (value == yes)
                return true;
    }
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"})
        if (renderer.find(name) != std::string_view::npos)
            return true;
    return false;
}

std::optional<std::string> hardwareGLAbsence(const char* alwaysSoftware, bool hasRenderNode)
{
    if (isSoftwareRenderer({}, alwaysSoftware))
        return "LIBGL_ALWAYS_SOFTWARE asks for a software GL renderer";
    if (!hasRenderNode)
        return "no GPU render node is available";
    return std::nullopt;
}

const std::optional<std::string>& machineHardwareGLAbsence()
{
    static const std::optional<std::string> absence =
        hardwareGLAbsence(std::getenv("LIBGL_ALWAYS_SOFTWARE"), hasUsableRenderNode());
    return absence;
}

const SystemDeviceProbe& systemDeviceProbe()
{
    // Kept for the whole process and never destroyed: tearing a context down while the process
    // exits would race the driver's own teardown.
    static const SystemDeviceProbe* const probe = [] {
        probesMade.fetch_add(1);
        auto* made = new SystemDeviceProbe;
        made->device = makeEglDevice(GLApi::openGL);
        if (made->device) {
            made->renderer = made->device->info().renderer;
            made->isSoftware = isSoftwareRenderer(made->renderer, std::getenv("LIBGL_ALWAYS_SOFTWARE"));
        }
        return made;
    }();
    return *probe;
}

int systemDeviceProbeCount()
{
    return probesMade.load();
}

} // namespace platform::gpu
