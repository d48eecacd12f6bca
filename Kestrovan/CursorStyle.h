// The six cursor shapes: blinking or steady block, underline and bar.
//
// Shared by the terminal (DECSCUSR and its options), its snapshots and the views. Hosts store a
// style by its tag name, so the names here are part of the saved settings and never change.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrovan {

/// Stored as its case index; DECSCUSR parameters map onto these in this order.
enum class CursorStyle : uint8_t
{
    blinkBlock,
    steadyBlock,
    blinkUnderline,
    steadyUnderline,
    blinkBar,
    steadyBar,
};

/// Every style in index order.
inline constexpr std::array<CursorStyle, 6> allCursorStyles{
    CursorStyle::blinkBlock,      CursorStyle::steadyBlock, CursorStyle::blinkUnderline,
    CursorStyle::steadyUnderline, CursorStyle::blinkBar,    CursorStyle::steadyBar,
};

/// The case name, for example "blinkBlock".
constexpr std::string_view tagName(CursorStyle style)
{
    switch (style) {
    case CursorStyle::blinkBlock:
        return "blinkBlock";
    case CursorStyle::steadyBlock:
        return "steadyBlock";
    case CursorStyle::blinkUnderline:
        return "blinkUnderline";
    case CursorStyle::steadyUnderline:
        return "steadyUnderline";
    case CursorStyle::blinkBar:
        return "blinkBar";
    case CursorStyle::steadyBar:
        return "steadyBar";
    }
    return "blinkBlock";
}

/// The name shown to users, for example "Blinking Block".
constexpr std::string_view displayName(CursorStyle style)
{
    switch (style) {
    case CursorStyle::blinkBlock:
        return "Blinking Block";
    case CursorStyle::steadyBlock:
        return "Steady Block";
    case CursorStyle::blinkUnderline:
        return "Blinking Underline";
    case CursorStyle::steadyUnderline:
        return "Steady Underline";
    case CursorStyle::blinkBar:
        return "Blinking Bar";
    case CursorStyle::steadyBar:
        return "Steady Bar";
    }
    return "Blinking Block";
}

/// The style whose tag name is exactly `text` (case-sensitive, whole text), else absent.
constexpr std::optional<CursorStyle> cursorStyleFromTagName(std::string_view text)
{
    for (CursorStyle style : allCursorStyles) {
        if (tagName(style) == text)
            return style;
    }
    return std::nullopt;
}

} // namespace kestrovan
