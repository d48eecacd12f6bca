#include "Kestrovan/Apple/TerminalGlyphFallbackProvider.h"

#include "Kestrovan/Apple/TerminalBidiHash.h"

#include <atomic>

namespace kestrovan {

namespace {

uint64_t nextProviderIdentity()
{
    static std::atomic<uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace

TerminalGlyphFallbackProvider::TerminalGlyphFallbackProvider() : objectIdentity_(nextProviderIdentity()) {}

uint64_t TerminalGlyphFallbackProvider::cacheIdentity() const
{
    // The mix is a bijection, so two providers never share the first term; unsigned addition wraps.
    return bidihash::mix(objectIdentity_) + fallbackIdentity();
}

} // namespace kestrovan
