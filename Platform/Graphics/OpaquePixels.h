// Packing opaque premultiplied pixels to three bytes each, for handing a band of a frame to a
// toolkit that copies an opaque texture where it would blend a translucent one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

/// Copies `rows` rows of `width` pixels of 4 bytes (blue, green, red, alpha) to `packed` as 3 bytes
/// each (blue, green, red), rows packed tightly. Row r is read at `from + r * stride`: a negative
/// stride reads a bottom-up bitmap top row first. Stops and answers false at the first pixel that
/// is not fully opaque (`packed` then holds only part of the rows).
bool packOpaqueRows(const uint8_t* from, ptrdiff_t stride, int width, int rows, uint8_t* packed);

} // namespace platform
