#include "Kestrovan/Apple/BellStyle.h"

namespace kestrovan {

std::string_view tagName(BellStyle style)
{
    switch (style) {
    case BellStyle::none:
        return "none";
    case BellStyle::sound:
        return "sound";
    case BellStyle::visual:
        return "visual";
    case BellStyle::soundAndVisual:
        return "soundAndVisual";
    }
    return "sound";
}

std::string_view displayName(BellStyle style)
{
    switch (style) {
    case BellStyle::none:
        return "None";
    case BellStyle::sound:
        return "Sound";
    case BellStyle::visual:
        return "Visual";
    case BellStyle::soundAndVisual:
        return "Sound and Visual";
    }
    return "Sound";
}

std::optional<BellStyle> bellStyleFromTagName(std::string_view tag)
{
    // First match in menu order; tag names are unique, so the order only matters for clarity.
    for (BellStyle style : allBellStyles) {
        if (tagName(style) == tag)
            return style;
    }
    return std::nullopt;
}

} // namespace kestrovan
