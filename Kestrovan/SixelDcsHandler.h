// The DCS handler for Sixel images (DCS ... q ... ST).
//
// The decoder belongs to the inline-image subsystem. Until it exists this handler accepts the
// sequence and discards its payload, counting the bytes against `maximumInputBytes` so that an
// endless stream is not even looked at past the limit; nothing is drawn.
#pragma once

#include "Kestrovan/DcsHandler.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrovan {

class Terminal;

class SixelDcsHandler final : public DcsHandler
{
public:
    struct Limits
    {
        size_t maximumInputBytes = 67'108'864;
        size_t maximumPixels = 16'777'216;
        size_t maximumPixelWrites = 67'108'864;
    };

    SixelDcsHandler(std::weak_ptr<Terminal> terminal, Limits limits);

    void hook(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t flag) override;
    void put(std::span<const uint8_t> data) override;
    void unhook() override;

    const Limits& limits() const { return limits_; }
    /// Payload bytes taken so far, at most `maximumInputBytes`.
    size_t inputBytes() const { return inputBytes_; }
    /// True once the payload passed `maximumInputBytes`; the rest is dropped unread.
    bool overflowed() const { return overflowed_; }

private:
    std::weak_ptr<Terminal> terminal_;
    Limits limits_;
    size_t inputBytes_ = 0;
    bool overflowed_ = false;
};

} // namespace kestrovan
