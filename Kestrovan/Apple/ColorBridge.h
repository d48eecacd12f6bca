// Conversion between the engine's `Color` and the platform's colour type.
//
// These are the only places the colour model touches platform code, which is why they live here
// and not in the engine: the engine library stays free of the platform layer. Both directions go
// through sRGB; a platform colour with no sRGB form becomes a fixed mid grey rather than an error.
#pragma once

#include "Kestrovan/Color.h"
#include "Platform/Graphics/NativeColor.h"

namespace kestrovan {

/// The grey returned for a platform colour that cannot be converted to sRGB.
inline constexpr uint16_t terminalColorFallbackChannel = 0x8a3d;

/// The platform colour as a `Color`: each sRGB component clamped to 0...1, times 65535, truncated.
/// A colour with no sRGB form gives the grey (0x8a3d, 0x8a3d, 0x8a3d). Never fails.
Color getTerminalColor(const platform::NativeColor& color);

/// An opaque sRGB platform colour with components channel / 65535.
platform::NativeColor makeNativeColor(const Color& color);

/// A `Color` with the channels of `getTerminalColor(color)`.
Color colorFromNativeColor(const platform::NativeColor& color);

/// The platform form of a `Color`, as `makeNativeColor` makes it.
platform::NativeColor nativeColor(const Color& color);

} // namespace kestrovan
