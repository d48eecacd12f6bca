// RasterFontRegistry: interning fonts by value into tokens that are never reused.
#include "Kestrovan/Apple/Metal/RasterFontRegistry.h"

#include "Kestrovan/Fatal.h"

#include <limits>

namespace kestrovan {

RasterFontRegistry::RasterFontRegistry(size_t maxFonts) : maxFonts_(maxFonts)
{
    tokensByFont_.reserve(64);
}

std::optional<uint32_t> RasterFontRegistry::intern(const platform::FontRef& font)
{
    CoreTextFontIdentity identity(font);
    if (const auto found = tokensByFont_.find(identity); found != tokensByFont_.end())
        return found->second;
    if (tokensByFont_.size() >= maxFonts_)
        return std::nullopt;
    if (nextToken_ == std::numeric_limits<uint32_t>::max())
        fatal("RasterFontRegistry: font tokens exhausted");
    const uint32_t token = nextToken_++;
    tokensByFont_.emplace(std::move(identity), token);
    return token;
}

void RasterFontRegistry::removeAll()
{
    tokensByFont_.clear();
}

} // namespace kestrovan
