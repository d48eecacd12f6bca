// Two colour mixes the row builders and the render context use: dimming a text colour toward its
// background (SGR 2) and compositing a translucent colour over another.
//
// Both work on sRGB components and fall back to the first colour unchanged when a colour has no
// sRGB form, so a pattern paint never breaks a frame. Pure functions, safe from any thread.
#pragma once

#include "Platform/Graphics/NativeColor.h"

namespace kestrovan {

/// The per-channel mean of `color` and `target` with `color`'s alpha; `color` itself when either
/// has no sRGB form.
platform::NativeColor dimmedColor(const platform::NativeColor& color, const platform::NativeColor& target);

/// `top` composited over `bottom` (source-over): `top` itself when either has no sRGB form, when
/// `top` is opaque, or when the result would be fully transparent.
platform::NativeColor compositedColor(const platform::NativeColor& top, const platform::NativeColor& bottom);

} // namespace kestrovan
