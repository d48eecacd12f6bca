// The process's GL device probe: one surfaceless context made on first use and kept.
//
// Making a context costs 20-35 ms, and the application asks again on every focus and tab change,
// so the probe runs once per process and its answer (the device, its renderer's name, whether
// that renderer is a software rasterizer) is cached. Whether a software rasterizer may be used is
// the caller's decision.
#pragma once

#include "Platform/GPU/Device.h"

#include <memory>
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

/// Whether `renderer` (a `GL_RENDERER` string) names a software rasterizer ("llvmpipe",
/// "softpipe", "swrast" or "Software Rasterizer"), or `alwaysSoftware` (the value of
/// `LIBGL_ALWAYS_SOFTWARE`, null when unset) asks Mesa for one.
bool isSoftwareRenderer(std::string_view renderer, const char* alwaysSoftware);

} // namespace platform::gpu
