// The terminal's on/off modes: one table keyed by `TerminalMode`, and the copies of some of them
// that the two screen buffers keep for their print paths.
//
// A read is one byte load at a fixed offset (the table is a plain array indexed by the
// enumeration), as cheap as the bool field each mode once was, so the print path reads modes here
// directly. Insert mode, character protection, left/right margin mode and auto-wrap are also read
// by the buffers' bulk print paths, which never reach back into the terminal, and the bidi state is
// the default every new line of either buffer gets. `set` and `setBidiState` write those into both
// attached buffers in the same step, so the terminal's value and the buffers' copies cannot
// disagree, whichever buffer is active and whatever path changed the mode.
//
// What switching a mode does beyond storing it (redraws, reports, delegate calls) belongs to the
// terminal's mode handlers (TerminalModes.cpp); modes that are not on/off (the conformance level,
// the protection mode, the mouse encoding) stay with the terminal and its other state types.
#pragma once

#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrovan {

/// The terminal's on/off modes, named after the fields they once were. The comment says which
/// control switches each.
enum class TerminalMode : uint8_t
{
    applicationKeypad,         ///< DECKPAM / DECKPNM, DECNKM (mode 66)
    applicationCursor,         ///< DECCKM (mode 1)
    reverseColors,             ///< DECSCNM (mode 5)
    cursorHidden,              ///< DECTCEM reset (mode 25)
    originMode,                ///< DECOM (mode 6)
    marginMode,                ///< DECLRMM (mode 69); mirrored into the buffers
    insertMode,                ///< IRM (ANSI mode 4); mirrored into the buffers
    keyboardActionMode,        ///< KAM (ANSI mode 2)
    sendReceiveMode,           ///< SRM (ANSI mode 12)
    backarrowKeyMode,          ///< DECBKM (mode 67)
    characterProtection,       ///< DECSCA / SPA: printed cells are protected; mirrored into the buffers
    wraparound,                ///< DECAWM (mode 7); mirrored into the buffers
    reverseWraparound,         ///< mode 45
    reverseWraparoundExtended, ///< mode 1045
    bracketedPasteMode,        ///< mode 2004
    colorSchemeUpdatesEnabled, ///< mode 2031
    sendFocus,                 ///< mode 1004
    cursorBlink,               ///< mode 12
    allow80To132,              ///< mode 40: DECCOLM may change the width
    noClearOnColumnChange,     ///< DECNCSM (mode 95)
    lineFeedMode,              ///< LNM (ANSI mode 20)
    smoothScroll,              ///< DECSCLM (mode 4)
    bidiArrowKeySwap,          ///< mode 1243
    visibilityReportsEnabled,  ///< mode 2033
    inBandSizeReportsEnabled,  ///< mode 2048
    kittyPasteEventsEnabled,   ///< mode 5522
};

/// How many cases `TerminalMode` has.
inline constexpr size_t terminalModeCount = static_cast<size_t>(TerminalMode::kittyPasteEventsEnabled) + 1;

class TerminalModeSet
{
public:
    /// Every mode off except `sendReceiveMode`, the power-on state before the terminal's first
    /// setup; the bidi state is the default one.
    TerminalModeSet();

    /// The value of one mode.
    bool operator[](TerminalMode mode) const { return values_[static_cast<size_t>(mode)]; }

    /// Stores one mode; a mirrored mode is written into both attached buffers too.
    void set(TerminalMode mode, bool value)
    {
        values_[static_cast<size_t>(mode)] = value;
        if (isMirrored(mode))
            mirrorModesIntoBuffers();
    }

    /// Whether the buffers keep a copy of `mode`.
    static constexpr bool isMirrored(TerminalMode mode)
    {
        return mode == TerminalMode::insertMode || mode == TerminalMode::characterProtection ||
               mode == TerminalMode::marginMode || mode == TerminalMode::wraparound;
    }

    /// The mirrored modes as the buffers keep them.
    BufferModeMirror bufferModeMirror() const;

    /// The bidi presentation state in effect; new lines of both buffers take it.
    const BidiPresentationState& bidiState() const { return bidiState_; }
    /// Stores the state and makes it both attached buffers' default.
    void setBidiState(const BidiPresentationState& state);

    /// The buffers the mirrored modes are kept in. Both get the current mirrored modes and bidi
    /// state at once; whoever replaces a buffer attaches the new pair, and keeps both alive for
    /// as long as they are attached.
    void attachBuffers(Buffer& normal, Buffer& alternate);

private:
    void mirrorModesIntoBuffers();

    std::array<bool, terminalModeCount> values_{};
    BidiPresentationState bidiState_;
    std::array<Buffer*, 2> buffers_{};
};

} // namespace kestrovan
