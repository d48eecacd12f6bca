#include "Platform/GPU/Device.h"

namespace platform::gpu {

Device::Device() : releaseQueue_(std::make_shared<ReleaseQueue>()) {}

Device::~Device() = default;

void Device::collectReleased()
{
    for (const auto& [kind, name] : releaseQueue_->take())
        deleteObject(kind, name);
}

} // namespace platform::gpu
