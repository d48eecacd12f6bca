#include "Platform/GPU/GpuTypes.h"

namespace platform::gpu {

int bytesPerPixel(TextureFormat format)
{
    return format == TextureFormat::r8 ? 1 : 4;
}

} // namespace platform::gpu
