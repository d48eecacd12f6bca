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

    std::array<uint64_t, heldWordCount> held{};
    int count = 0;
    std::vector<std::optional<std::string>> linkPayloads;
    std::vector<uint16_t> linkCodes;
    int collectAtCount = 1024;
    int linksUntilCollectRetry = 0;

    /// A bit per atom code, laid out like `held`: code c is bit c % 64 of word c / 64.
    using CodeBits = std::array<uint64_t, heldWordCount>;

    bool isHeld(uint16_t code) const { return (held[code / 64] >> (code % 64)) & 1; }
    /// Records a code as held; code 0 (no payload) is never recorded.
    void insert(TinyAtom atom);
    /// Forgets every held code that `inUse` does not mark and empties the cache slots that named
    /// one. Answers the forgotten codes in ascending order; the caller gives them back to the
    /// atom table.
    std::vector<uint16_t> release(const CodeBits& inUse);
    /// Gives every held code back to the atom table in one locked step and forgets them.
    void releaseAll();

    /// The cache slot of a payload text: its 32-bit FNV-1a hash folded to 0 ..< 1024.
    static size_t slot(std::string_view payload);
    /// The code cached in `slot` for exactly this payload text, if any.
    std::optional<uint16_t> linkCode(std::string_view payload, size_t slot) const;
    /// Caches `code` for the payload text in `slot`, replacing whatever the slot held.
    void setLinkCode(uint16_t code, std::string_view payload, size_t slot);
};

} // namespace kestrovan
