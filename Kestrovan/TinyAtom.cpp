#include "Kestrovan/TinyAtom.h"

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

namespace kestrovan {

uint32_t FreeAtomCodes::take()
{
    if (head >= codes.size())
        return noCode;
    const uint16_t code = codes[head];
    head += 1;
    // Erasing the taken prefix on every take would make each take O(n); cutting it off only
    // once it outweighs the live part keeps takes cheap and the array bounded.
    if (head > 64 && head * 2 > codes.size()) {
        codes.erase(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(head));
        head = 0;
    }
    return code;
}

struct TinyAtom::State
{
    platform::Mutex mutex;
    // Entry 0 exists from the start and stays empty, so `map[code]` needs no offset. An entry
    // holds a value even when that value is an empty `std::any`; only release empties it.
    std::vector<std::optional<std::any>> map GUARDED_BY(mutex) = std::vector<std::optional<std::any>>(1);
    uint16_t lastUsed GUARDED_BY(mutex) = 0;
    FreeAtomCodes free GUARDED_BY(mutex);
    /// Codes naming a value now; `TinyAtom::freeCodes` mirrors what is left for readers without
    /// the lock.
    int liveCodes GUARDED_BY(mutex) = 0;

    void countLive(int change) REQUIRES(mutex)
    {
        liveCodes += change;
        freeCodes.store(maximumCode - liveCodes, std::memory_order_relaxed);
    }

    /// Whether the code named a value, now released.
    bool releaseLocked(uint16_t code) REQUIRES(mutex)
    {
        if (code >= map.size() || !map[code])
            return false;
        map[code].reset();
        free.codes.push_back(code);
        return true;
    }
};

namespace {

TinyAtom::State& table()
{
    static TinyAtom::State state;
    return state;
}

} // namespace

std::optional<TinyAtom> TinyAtom::lookup(std::any value)
{
    State& state = table();
    platform::MutexLock guard(state.mutex);
    // Released codes go out again before new ones, so a long session that keeps opening and
    // collecting hyperlinks does not run through the 16-bit space.
    const uint32_t reused = state.free.take();
    if (reused != FreeAtomCodes::noCode) {
        state.map[reused] = std::move(value);
        state.countLive(1);
        return TinyAtom{static_cast<uint16_t>(reused)};
    }
    if (state.lastUsed >= maximumCode)
        return std::nullopt;
    state.lastUsed += 1;
    state.map.emplace_back(std::move(value));
    state.countLive(1);
    return TinyAtom{state.lastUsed};
}

std::optional<std::any> TinyAtom::target() const
{
    if (code == 0)
        return std::nullopt;
    State& state = table();
    platform::MutexLock guard(state.mutex);
    if (code >= state.map.size())
        return std::nullopt;
    return state.map[code];
}

bool TinyAtom::holdsText(uint16_t code, std::string_view text)
{
    if (code == 0)
        return false;
    State& state = table();
    platform::MutexLock guard(state.mutex);
    if (code >= state.map.size() || !state.map[code])
        return false;
    const std::string* stored = std::any_cast<std::string>(&*state.map[code]);
    return stored && *stored == text;
}

void TinyAtom::release(uint16_t code)
{
    State& state = table();
    platform::MutexLock guard(state.mutex);
    if (state.releaseLocked(code))
        state.countLive(-1);
}

void TinyAtom::release(std::span<const uint16_t> codes)
{
    State& state = table();
    platform::MutexLock guard(state.mutex);
    int released = 0;
    for (uint16_t code : codes)
        released += state.releaseLocked(code);
    state.countLive(-released);
}

void TinyAtom::resetForTesting()
{
    State& state = table();
    platform::MutexLock guard(state.mutex);
    state.map.assign(1, std::nullopt);
    state.lastUsed = 0;
    state.free = FreeAtomCodes();
    state.countLive(-state.liveCodes);
}

} // namespace kestrovan
