// How a delivered bell reaches the user: not at all, as the system's alert sound, as a flash of
// the view, or both. The names are what settings store and menus show.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrovan {

enum class BellStyle : uint8_t
{
    none,
    sound,
    visual,
    soundAndVisual,
};

/// Every style in menu order.
inline constexpr std::array<BellStyle, 4> allBellStyles = {
    BellStyle::none,
    BellStyle::sound,
    BellStyle::visual,
    BellStyle::soundAndVisual,
};

/// The name settings store: "none", "sound", "visual", "soundAndVisual".
std::string_view tagName(BellStyle style);
/// The name menus show: "None", "Sound", "Visual", "Sound and Visual".
std::string_view displayName(BellStyle style);
/// The style whose tag name is exactly `tag` (case matters); none for any other text.
std::optional<BellStyle> bellStyleFromTagName(std::string_view tag);

/// Whether the style plays the alert sound, and whether it flashes the view.
constexpr bool playsSound(BellStyle style)
{
    return style == BellStyle::sound || style == BellStyle::soundAndVisual;
}
constexpr bool flashesView(BellStyle style)
{
    return style == BellStyle::visual || style == BellStyle::soundAndVisual;
}

} // namespace kestrovan
