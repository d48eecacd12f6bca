// The process's GL device probe: one surfaceless context made on first use and kept.
//
// Making a context costs 20-35 ms, and the application asks again on every focus and tab change,
// so the probe runs once per process and its answer (the device, its renderer's name, whether
// that renderer is a software rasterizer) is cached. Whether a software rasterizer may be used is
// the caller's decision. Loading the GL driver alone costs tens of megabytes, so a caller that
// would refuse a software rasterizer asks first whether the machine can have anything else.
#pragma once

#include "Platform/GPU/Device.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::gpu {

struct SystemDeviceProbe
{
    /// The probe's device; null when no GL context could be made at all.
    std::shared_ptr<Device> device;
    /// Its `GL_RENDERER`; empty without a device.
    std::string renderer;
    /// True when the renderer is a software rasterizer.
    bool isSoftware = false;
};

/// The probe, made on first use (thread-safe) and the same ever after.
const SystemDeviceProbe& systemDeviceProbe();
/// How many probes this process has made: 0 before the first use, 1 after.
int systemDeviceProbeCount();

/// Why this machine can have no hardware GL device, found without loading any GL library: Mesa
/// told to rasterize in software (`alwaysSoftware`, the value of `LIBGL_ALWAYS_SOFTWARE`), or no
/// DRM render node this process can open. None when a hardware device may exist.
std::optional<std::string> hardwareGLAbsence(const char* alwaysSoftware, bool hasRenderNode);
/// The same for this process, looked at once (the environment and /dev/dri) and kept.
const std::optional<std::string>& machineHardwareGLAbsence();

/// Whether `renderer` (a `GL_RENDERER` string) names a software rasterizer ("llvmpipe",
/// "softpipe", "swrast" or "Software Rasterizer"), or `alwaysSoftware` (the value of
/// `LIBGL_ALWAYS_SOFTWARE`, null when unset) asks Mesa for one.
bool isSoftwareRenderer(std::string_view renderer, const char* alwaysSoftware);

} // namespace platform::gpu
