// The payload atoms a terminal holds, and the hyperlink being printed.
//
// Cells carry 16-bit payload codes (`TinyAtom`) that stand for values in the process-wide atom
// table, chiefly OSC 8 hyperlink targets. `PayloadState` records which codes this terminal has
// registered and not yet released, so that garbage collection can give back the ones no cell uses
// and teardown can give back all of them; it also keeps a small cache from recent link payloads to
// their codes. `ActiveHyperlink` is the link OSC 8 has opened, registered lazily when the first
// character is printed under it.
#pragma once

#include "Kestrovan/TinyAtom.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

/// `pending(text)`, `resolved(atom)` or `unavailable`.
struct ActiveHyperlink
{
    enum class Case : uint8_t
    {
        /// OSC 8 seen; the payload text is not registered yet.
        pending,
        /// Registered: this code goes into printed cells.
        resolved,
        /// The atom table was full; printed cells get no payload.
        unavailable,
    };

    /// The longest payload (parameters and URI) a link may have. A target this long is no address
    /// a person follows; a longer one is dropped, not cut, so no link ever opens a place the
    /// program did not name.
    static constexpr size_t maximumPayloadBytes = 2048;

    Case kind = Case::unavailable;
    std::string payload;
    TinyAtom atom;

    static ActiveHyperlink pending(std::string text) { return {Case::pending, std::move(text), {}}; }
    static ActiveHyperlink resolved(TinyAtom code) { return {Case::resolved, {}, code}; }
    static ActiveHyperlink unavailable() { return {Case::unavailable, {}, {}}; }

    friend bool operator==(const ActiveHyperlink&, const ActiveHyperlink&) = default;
};

class PayloadState
{
public:
    /// One bit per atom code.
    static constexpr size_t heldWordCount = 1024;
    /// Slots of the payload-to-code cache.
    static constexpr size_t linkSlotCount = 1024;

    /// What one terminal may hold at once, so that one pane cannot take the process-wide table
    /// or grow the whole application: this many codes, and this many bytes of link text.
    static constexpr int maximumHeldCodes = 16384;
    static constexpr size_t maximumHeldTextBytes = size_t(4) << 20;
    /// The last free codes of the process-wide table, left to terminals that hold little of it:
    /// one that holds more makes room among its own or larger holders' links instead of taking
    /// them, so a quiet terminal beside busy ones finds codes without waiting for their locks.
    static constexpr int sharedReserve = 1024;

    std::array<uint64_t, heldWordCount> held{};
    int count = 0;
    /// Bytes of link text behind the held codes, and each held code's share, by code.
    size_t heldTextBytes = 0;
    std::vector<uint16_t> textBytesByCode;
    /// Each slot names a code only; its text is the atom table's, compared there, not a copy.
    std::vector<uint16_t> linkCodes;
    int collectAtCount = 1024;
    int linksUntilCollectRetry = 0;
    /// How often this terminal tried another's lock to take codes from it.
    int holdersTried = 0;

    /// A bit per atom code, laid out like `held`: code c is bit c % 64 of word c / 64.
    using CodeBits = std::array<uint64_t, heldWordCount>;

    bool isHeld(uint16_t code) const { return (held[code / 64] >> (code % 64)) & 1; }
    /// Records a code as held, standing for `textBytes` bytes of link text (at most
    /// `maximumPayloadBytes`); code 0 (no payload) is never recorded.
    void insert(TinyAtom atom, size_t textBytes = 0);
    /// Whether one more code with `textBytes` of text stays within what a terminal may hold.
    bool hasRoomFor(size_t textBytes) const
    {
        return count < maximumHeldCodes && heldTextBytes + textBytes <= maximumHeldTextBytes;
    }
    /// Forgets every held code that `inUse` does not mark and empties the cache slots that named
    /// one. Answers the forgotten codes in ascending order; the caller gives them back to the
    /// atom table.
    std::vector<uint16_t> release(const CodeBits& inUse);
    /// Gives every held code back to the atom table in one locked step and forgets them.
    void releaseAll();

    /// The cache slot of a payload text: its 32-bit FNV-1a hash folded to 0 ..< 1024.
    static size_t slot(std::string_view payload);
    /// The code cached in `slot` for exactly this payload text, if any: the slot's code when the
    /// atom table holds this text under it.
    std::optional<uint16_t> linkCode(std::string_view payload, size_t slot) const;
    /// Caches `code` in `slot`, replacing whatever the slot held. The code must be held and name
    /// the payload text in the atom table.
    void setLinkCode(uint16_t code, size_t slot);
};

} // namespace kestrovan
