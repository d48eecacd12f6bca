// A small streaming hasher for the frame values' identities and cache keys.
//
// Values are fed in a fixed order and mixed with a 64-bit multiply-xor step; doubles are fed by
// their bit pattern with -0 folded into +0, so that values equal as numbers hash alike. The hash
// only has to be stable within one run of the program: nothing stores it.
#pragma once

#include "Platform/Graphics/NativeColor.h"

#include <bit>
#include <cstdint>
#include <optional>

namespace kestrovan {

class FrameHasher
{
public:
    void feed(uint64_t value)
    {
        state_ = (state_ ^ value) * 0x9E3779B97F4A7C15ull;
        state_ ^= state_ >> 29;
    }
    void feedByte(uint8_t value) { feed(uint64_t(value)); }
    void feed(double value) { feed(std::bit_cast<uint64_t>(value == 0 ? 0.0 : value)); }
    /// A colour's space and its four components.
    void feed(const platform::NativeColor& color)
    {
        feedByte(static_cast<uint8_t>(color.space));
        feed(color.red);
        feed(color.green);
        feed(color.blue);
        feed(color.alpha);
    }
    /// The byte 0 for an absent colour, else the byte 1 and the colour.
    void feed(const std::optional<platform::NativeColor>& color)
    {
        feedByte(color ? 1 : 0);
        if (color)
            feed(*color);
    }

    uint64_t finish() const
    {
        uint64_t hash = state_;
        hash ^= hash >> 33;
        hash *= 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 33;
        return hash;
    }

private:
    uint64_t state_ = 0xCBF29CE484222325ull;
};

} // namespace kestrovan
