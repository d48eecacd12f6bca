// The byte sets the paste encoder works with: the bytes a paste never passes through, and the
// fallback for the pseudo-terminal's special characters when they cannot be read. The terminal's
// delegate answers the latter by default.
#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>

namespace kestrovan {

/// A set of byte values.
using ByteSet = std::bitset<256>;

struct TerminalPasteControls
{
    /// NUL, EOT, ENQ, BS, ESC and DEL: always replaced in a paste.
    static const ByteSet& fixedDisallowedBytes()
    {
        static const ByteSet set = make({0x00, 0x04, 0x05, 0x08, 0x1B, 0x7F});
        return set;
    }
    /// Interrupt, suspend, flow control and the like, as most pseudo-terminals set them up.
    static const ByteSet& approximateTerminalControlBytes()
    {
        static const ByteSet set = make({0x03, 0x0F, 0x11, 0x12, 0x13, 0x15, 0x16, 0x17, 0x1A, 0x1C});
        return set;
    }

private:
    static ByteSet make(std::initializer_list<uint8_t> bytes)
    {
        ByteSet set;
        for (uint8_t byte : bytes)
            set.set(byte);
        return set;
    }
};

} // namespace kestrovan
