#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"

#include "Platform/GPU/SystemDevice.h"

#include <cstdlib>
#include <cstring>

namespace kestrovan {

bool softwareRenderingAllowed()
{
    const char* value = std::getenv("KESTROVAN_GPU_SOFTWARE");
    return value && std::strcmp(value, "1") == 0;
}

std::shared_ptr<platform::gpu::Device> systemDefaultMetalDevice()
{
    const platform::gpu::SystemDeviceProbe& probe = platform::gpu::systemDeviceProbe();
    if (!probe.device || (probe.isSoftware && !softwareRenderingAllowed()))
        return nullptr;
    return probe.device;
}

std::optional<std::string> softwareOnlyRendererName()
{
    const platform::gpu::SystemDeviceProbe& probe = platform::gpu::systemDeviceProbe();
    if (!probe.device || !probe.isSoftware || softwareRenderingAllowed())
        return std::nullopt;
    return probe.renderer;
}

} // namespace kestrovan
