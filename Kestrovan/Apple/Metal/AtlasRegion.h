// Where a glyph's own pixels lie in a glyph atlas, in texels, never counting the gutter around them.
#pragma once

#include <cstdint>

namespace kestrovan {

struct AtlasRegion
{
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;

    friend bool operator==(const AtlasRegion&, const AtlasRegion&) = default;
};

} // namespace kestrovan
