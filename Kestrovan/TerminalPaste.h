// The paste encoder: turns pasted bytes into the bytes a program reads as typed input.
//
// It is stateless. Control bytes that could act on the shell or the terminal become spaces, line
// ends of unbracketed pastes become the carriage return Enter sends, bracketed pastes are wrapped
// in their markers, and pastes that could run a command before the user sees it, or end the
// bracketed-paste protection early, are refused unless the caller allows them.
#pragma once

#include "Kestrovan/TerminalPasteControls.h"

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace kestrovan {

struct TerminalPaste
{
    /// The bytes to send for an accepted paste.
    struct Encoded
    {
        std::vector<uint8_t> bytes;

        friend bool operator==(const Encoded&, const Encoded&) = default;
    };
    /// The paste was judged unsafe and not allowed.
    struct Rejected
    {
        friend bool operator==(const Rejected&, const Rejected&) = default;
    };
    using Result = std::variant<Encoded, Rejected>;

    /// Encodes `paste` for a terminal in bracketed-paste mode or not. `terminalControlBytes` are
    /// the bytes the pseudo-terminal acts on (interrupt, suspend, flow control); they and
    /// `TerminalPasteControls::fixedDisallowedBytes()` become spaces. Unsafe pastes are
    /// rejected unless `allowUnsafe`.
    static Result encode(std::span<const uint8_t> paste, bool bracketed, const ByteSet& terminalControlBytes,
                         bool allowUnsafe);

    /// True when the paste could act before the user sees it: unbracketed with a line feed or a
    /// carriage return, or, bracketed or not, carrying the end marker.
    static bool isUnsafe(std::span<const uint8_t> paste, bool bracketed);
};

} // namespace kestrovan
