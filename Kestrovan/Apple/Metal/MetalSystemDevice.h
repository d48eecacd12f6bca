// The system's default GPU device, and when a GL device counts as one.
//
// The device is the process's one probe (made once and cached, see `platform::gpu::SystemDevice`).
// A software rasterizer (llvmpipe and its kin) counts as no device: on this machine it draws a
// 200 x 50 frame at 3200 x 1700 in 20 ms on 8 threads and 55 ms on 2 cores, where the CPU path
// draws all-new rows in 9 ms and one changed row in 0.15 ms. `KESTROVAN_GPU_SOFTWARE=1` lets it
// count all the same (for tests and for trying the GPU path out).
#pragma once

#include "Platform/GPU/Device.h"

#include <memory>
#include <optional>
#include <string>

namespace kestrovan {

/// The system's default device, or none: none when no GL context can be made, or when the only
/// renderer is a software rasterizer and `KESTROVAN_GPU_SOFTWARE` is not "1". Unless software
/// rasterizers count, a machine that can have no hardware GL (no DRM render node, or Mesa forced to
/// software) has no device, and no GL library is loaded to find that out.
std::shared_ptr<platform::gpu::Device> systemDefaultMetalDevice();

/// Why the system has no default device, in words for the log ("only a software GL renderer
/// (llvmpipe) is available"); none when it has one.
std::optional<std::string> systemDeviceAbsence();

/// Whether software rasterizers count as devices (`KESTROVAN_GPU_SOFTWARE` is "1").
bool softwareRenderingAllowed();

} // namespace kestrovan
