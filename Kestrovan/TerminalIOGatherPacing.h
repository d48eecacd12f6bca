// When the pipeline's gather thread hands a slot on: the coalescing decisions, apart from the
// reading, polling and sleeping that carry them out.
//
// Output that looks interactive (the first 2 ms of a burst, a burst being what follows an idle
// gap of 5 ms or more) is handed on at once, so an echo never waits. Sustained small output is
// gathered with 20 µs naps while the slot is younger than 1 ms, so the parser sees fewer, larger
// batches. A large slot is handed on once 16 immediate retries find nothing more, unless the
// parser is still busy, in which case the gather thread keeps filling it for up to 3 ms (the
// bridging poll). Two large reads in a row after naps mean the output is bulk and naps only cost
// time: they stop for 10 ms. Times are monotonic nanoseconds, passed in, so every rule can be
// checked without a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace kestrovan {

struct TerminalIOGatherPacing
{
    /// An idle gap at least this long starts a new burst.
    static constexpr uint64_t burstGapNs = 5'000'000;
    /// Within this much of a burst's start, output counts as interactive and is never held back.
    static constexpr uint64_t interactiveWindowNs = 2'000'000;
    /// Naps happen only while the slot is younger than this.
    static constexpr uint64_t napWindowNs = 1'000'000;
    /// One nap.
    static constexpr uint64_t napNs = 20'000;
    /// How long naps stay off once output proved to be bulk.
    static constexpr uint64_t holdOffNs = 10'000'000;
    /// The longest a slot is kept filling while the parser is busy.
    static constexpr uint64_t bridgeLimitNs = 3'000'000;
    /// The timeout of one bridging poll, in milliseconds.
    static constexpr int bridgePollMs = 1;
    /// A slot holding at least this many bytes is large.
    static constexpr size_t largeSlotBytes = 1024;
    /// Immediate retries of a large slot before it bridges.
    static constexpr int immediateRetries = 16;

    /// What to do after a read found nothing (EAGAIN) while streaming.
    enum class Action
    {
        /// Read again at once.
        retry,
        /// Sleep `napNs`, call `noteNap`, then read again.
        nap,
        /// Poll for more while the parser is busy (see `bridgeExpired` and `noteBridgeRead`).
        bridge,
        /// Nothing gathered: wait for the descriptor without handing anything on.
        idleWait,
        /// Hand the slot on.
        publish,
    };

    // Kept across slots.
    /// How long the last idle wait lasted; 0 after a full slot; "forever" at thread start.
    uint64_t gap = std::numeric_limits<uint64_t>::max();
    uint64_t burstStart = 0;
    uint64_t holdOffUntil = 0;
    int largeReadStreak = 0;
    bool previousSlotWasBulk = false;

    // Kept for one slot.
    uint64_t slotStart = 0;
    size_t bytesAtLastNap = 0;
    int emptyReads = 0;
    bool napped = false;
    /// The time taken just before the slot's first bridging poll; valid once `bridged` is set.
    uint64_t bridgeStart = 0;
    bool bridged = false;

    /// Starts a new slot at `now`; a long enough gap before it starts a new burst.
    void beginSlot(uint64_t now);
    /// A read returned bytes.
    void noteBytesRead() { emptyReads = 0; }
    /// Decides what follows a read that found nothing, with `filled` bytes in the slot.
    Action afterEmptyRead(size_t filled, uint64_t now);
    /// A nap has just been taken with `filled` bytes in the slot.
    void noteNap(size_t filled);
    /// True when naps are allowed at `now`.
    bool napAllowed(uint64_t now) const;
    /// Before a bridging poll at `now`: true when the slot has bridged long enough and must go.
    bool bridgeExpired(uint64_t now);
    /// A bridging poll started at the time given to `bridgeExpired` led to another read.
    void noteBridgeRead() { bridged = true; }
    /// The slot was handed on with `filled` bytes.
    void notePublished(size_t filled);
};

} // namespace kestrovan
