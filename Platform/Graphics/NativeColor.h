// The platform's colour type: what views, drawing and the toolkit hand the engine as a colour.
//
// Most colours are plain sRGB components with an alpha, the form GTK and cairo use. A colour can
// also be a paint that has no single sRGB value (a pattern or texture); callers that need
// components ask for the sRGB form and must handle its absence. Components are not clamped: an
// extended-range colour may go below 0 or above 1, and the consumer decides what that means.
#pragma once

#include <optional>

namespace platform {

struct NativeColor
{
    /// The colour space the components are in.
    enum class Space
    {
        /// sRGB components and alpha.
        sRGB,
        /// A pattern or texture paint: the components mean nothing and there is no sRGB form.
        pattern,
    };

    Space space = Space::sRGB;
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    /// An sRGB colour.
    static constexpr NativeColor sRGB(double red, double green, double blue, double alpha = 1.0)
    {
        return NativeColor{Space::sRGB, red, green, blue, alpha};
    }

    /// A paint that cannot be expressed as one sRGB colour.
    static constexpr NativeColor pattern() { return NativeColor{Space::pattern, 0, 0, 0, 1}; }

    /// The colour converted to the sRGB colour space, or nothing when it has no sRGB form.
    std::optional<NativeColor> usingSRGB() const
    {
        if (space != Space::sRGB)
            return std::nullopt;
        return *this;
    }

    friend bool operator==(const NativeColor&, const NativeColor&) = default;
};

} // namespace platform
