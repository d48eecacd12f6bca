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
    const bool softwareAllowed = softwareRenderingAllowed();
    if (!softwareAllowed && platform::gpu::machineHardwareGLAbsence())
        return nullptr;
    const platform::gpu::SystemDeviceProbe& probe = platform::gpu::systemDeviceProbe();
    if (!probe.device || (probe.isSoftware && !softwareAllowed))
        return nullptr;
    return probe.device;
}

std::optional<std::string> systemDeviceAbsence()
{
    const bool softwareAllowed = softwareRenderingAllowed();
    if (!softwareAllowed) {
        if (const std::optional<std::string>& absence = platform::gpu::machineHardwareGLAbsence())
            return absence;
    }
    const platform::gpu::SystemDeviceProbe& probe = platform::gpu::systemDeviceProbe();
    if (!probe.device)
        return "no GL device is available";
    if (probe.isSoftware && !softwareAllowed)
        return "only a software GL renderer (" + probe.renderer + ") is available";
    return std::nullopt;
}

} // namespace kestrovan
