// The interface of DCS payload handlers (Sixel, DECRQSS, XTGETTCAP and any a host installs).
//
// The parser hooks a handler when a DCS sequence's final byte arrives, hands it the payload in one
// or more slices, and unhooks it at the string terminator. A sequence cancelled before its
// terminator (SUB, a C1 control, a parsing error or a reset) is dropped without `unhook`.
#pragma once

#include "Kestrovan/CsiParameters.h"

#include <cstdint>
#include <span>

namespace kestrovan {

class DcsHandler
{
public:
    virtual ~DcsHandler() = default;

    /// The sequence's intermediates and private markers, its parameters and its final byte. Both
    /// spans are borrowed for the call.
    virtual void hook(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t flag) = 0;
    /// The next slice of payload, borrowed for the call.
    virtual void put(std::span<const uint8_t> data) = 0;
    /// The payload is complete.
    virtual void unhook() = 0;
};

} // namespace kestrovan
