#include "Platform/Graphics/OpaquePixels.h"

namespace platform {

bool packOpaqueRows(const uint8_t* from, ptrdiff_t stride, int width, int rows, uint8_t* packed)
{
    for (int row = 0; row < rows; ++row) {
        const uint8_t* pixel = from + stride * row;
        for (int x = 0; x < width; ++x, pixel += 4, packed += 3) {
            if (pixel[3] != 0xFF)
                return false;
            packed[0] = pixel[0];
            packed[1] = pixel[1];
            packed[2] = pixel[2];
        }
    }
    return true;
}

} // namespace platform
