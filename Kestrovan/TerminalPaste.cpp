#include "Kestrovan/TerminalPaste.h"

#include <algorithm>
#include <array>

namespace kestrovan {

namespace {

// ESC [ 200 ~ and ESC [ 201 ~, which open and close a bracketed paste. The key sequences carry
// the same bytes; the encoder keeps its own copy so that it depends on nothing else.
constexpr std::array<uint8_t, 6> bracketedPasteStart{0x1B, '[', '2', '0', '0', '~'};
constexpr std::array<uint8_t, 6> bracketedPasteEnd{0x1B, '[', '2', '0', '1', '~'};

constexpr uint8_t lineFeed = 0x0A;
constexpr uint8_t carriageReturn = 0x0D;
constexpr uint8_t space = 0x20;

} // namespace

bool TerminalPaste::isUnsafe(std::span<const uint8_t> paste, bool bracketed)
{
    // Without brackets the shell cannot tell a pasted line end from Enter: the line would run
    // as soon as it arrives. A carriage return is what Enter sends, so it counts as much as a
    // line feed does.
    if (!bracketed && std::any_of(paste.begin(), paste.end(),
                                  [](uint8_t byte) { return byte == lineFeed || byte == carriageReturn; }))
        return true;
    // The end marker would close a bracketed paste early and let the rest run as typed; without
    // brackets it is a sequence the program would act on.
    return std::search(paste.begin(), paste.end(), bracketedPasteEnd.begin(), bracketedPasteEnd.end()) !=
           paste.end();
}

TerminalPaste::Result TerminalPaste::encode(std::span<const uint8_t> paste, bool bracketed,
                                            const ByteSet& terminalControlBytes, bool allowUnsafe)
{
    if (!allowUnsafe && isUnsafe(paste, bracketed))
        return Rejected{};

    const ByteSet& fixed = TerminalPasteControls::fixedDisallowedBytes();
    Encoded encoded;
    encoded.bytes.reserve(paste.size() + (bracketed ? 2 * bracketedPasteStart.size() : 0));
    if (bracketed)
        encoded.bytes.insert(encoded.bytes.end(), bracketedPasteStart.begin(), bracketedPasteStart.end());
    for (uint8_t byte : paste) {
        // Every byte maps to exactly one byte, so the paste keeps its length and no filtered byte
        // can join its neighbours into a new sequence.
        if (fixed.test(byte) || terminalControlBytes.test(byte))
            encoded.bytes.push_back(space);
        else if (!bracketed && byte == lineFeed)
            encoded.bytes.push_back(carriageReturn);
        else
            encoded.bytes.push_back(byte);
    }
    if (bracketed)
        encoded.bytes.insert(encoded.bytes.end(), bracketedPasteEnd.begin(), bracketedPasteEnd.end());
    return encoded;
}

} // namespace kestrovan
