#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"

#include "Kestrovan/Apple/TerminalBidiHash.h"

#include <bit>

namespace kestrovan {

namespace {

using bidihash::combine;

/// The bits of a number, with -0.0 folded onto +0.0 so that equal numbers hash alike.
uint64_t numberBits(double value)
{
    return std::bit_cast<uint64_t>(value == 0 ? 0.0 : value);
}

} // namespace

TerminalGlyphRect TerminalGlyphRect::standardized() const
{
    TerminalGlyphRect rect = *this;
    if (rect.width < 0) {
        rect.x += rect.width;
        rect.width = -rect.width;
    }
    if (rect.height < 0) {
        rect.y += rect.height;
        rect.height = -rect.height;
    }
    return rect;
}

bool TerminalGlyphRect::isEqualTo(const TerminalGlyphRect& other) const
{
    const TerminalGlyphRect a = standardized();
    const TerminalGlyphRect b = other.standardized();
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

bool operator==(const TerminalGlyphPlacementPolicy& a, const TerminalGlyphPlacementPolicy& b)
{
    if (a.placement != b.placement || a.maximumCellWidth != b.maximumCellWidth || a.padding != b.padding)
        return false;
    if (a.relativeBounds.has_value() != b.relativeBounds.has_value())
        return false;
    return !a.relativeBounds || a.relativeBounds->isEqualTo(*b.relativeBounds);
}

size_t TerminalGlyphPlacementPolicy::hash() const
{
    uint64_t value = combine(0, uint64_t(placement));
    value = combine(value, maximumCellWidth.has_value());
    value = combine(value, uint64_t(int64_t(maximumCellWidth.value_or(0))));
    value = combine(value, relativeBounds.has_value());
    if (relativeBounds) {
        const TerminalGlyphRect rect = relativeBounds->standardized();
        for (double number : {rect.x, rect.y, rect.width, rect.height})
            value = combine(value, numberBits(number));
    }
    for (double number : {padding.top, padding.left, padding.bottom, padding.right})
        value = combine(value, numberBits(number));
    return size_t(value);
}

} // namespace kestrovan
