// The 64-bit stored form of a cell.
//
// Lines keep their cells as contiguous arrays of these, so fills, scrolls, inserts and compares
// are block moves. Bit layout, least significant first:
//
//   0-1   kind: 0 single scalar, 1 grapheme cluster, 2 blank with palette background,
//         3 blank with true-colour background
//   2-25  content: kind 0 the scalar; kind 1 the grapheme id; kind 2 the palette index in 2-9;
//         kind 3 red 2-9, green 10-17, blue 18-25
//   26-41 attribute id in the arena (kinds 0 and 1; zero for kinds 2 and 3)
//   42-43 width state: 0 single, 1 lead of a wide character, 2 continuation (3 reads as 2)
//   44    protected (DECSCA)
//   45-60 payload code (`TinyAtom`)
//   61-63 semantic content code 0-6
//
// Raw value 0 is the empty cell with the default attribute. Everything here is inline: the
// print path and the line operations touch these fields once per cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>

namespace kestrovan {

struct PackedCell
{
    uint64_t rawValue = 0;

    enum class Kind : uint8_t
    {
        scalar = 0,
        grapheme = 1,
        paletteBlank = 2,
        trueColorBlank = 3
    };
    /// How a cell relates to a wide character; `spacerHead` (3) is never written and reads as a
    /// continuation.
    enum class WidthState : uint8_t
    {
        single = 0,
        lead = 1,
        continuation = 2,
        spacerHead = 3
    };

    static constexpr int contentShift = 2;
    static constexpr int attributeShift = 26;
    static constexpr int widthStateShift = 42;
    static constexpr int protectedShift = 44;
    static constexpr int payloadShift = 45;
    static constexpr int semanticShift = 61;

    static constexpr uint64_t kindMask = 0x3;
    static constexpr uint64_t contentMask = 0xFFFFFFull << contentShift;
    static constexpr uint64_t attributeMask = 0xFFFFull << attributeShift;
    static constexpr uint64_t widthStateMask = 0x3ull << widthStateShift;
    static constexpr uint64_t protectedBit = 1ull << protectedShift;
    static constexpr uint64_t payloadMask = 0xFFFFull << payloadShift;
    static constexpr uint64_t semanticMask = 0x7ull << semanticShift;
    /// Bits 10-25, which must be zero in a kind-2 cell.
    static constexpr uint64_t paletteHighMask = 0xFFFFull << 10;

    constexpr PackedCell() = default;
    constexpr explicit PackedCell(uint64_t raw) : rawValue(raw) {}

    /// A kind-0 cell; the fields are taken as given and masked to their widths.
    static constexpr PackedCell makeScalar(uint32_t scalar, uint16_t attributeID, WidthState widthState,
                                           bool isProtected, uint16_t payloadCode, uint8_t semanticCode)
    {
        return PackedCell(((uint64_t(scalar) << contentShift) & contentMask) |
                          (uint64_t(attributeID) << attributeShift) |
                          fieldBits(widthState, isProtected, payloadCode, semanticCode));
    }
    /// A kind-1 cell naming grapheme id `graphemeID` (1 or more, below 2^24).
    static constexpr PackedCell makeGrapheme(uint32_t graphemeID, uint16_t attributeID, WidthState widthState,
                                             bool isProtected, uint16_t payloadCode, uint8_t semanticCode)
    {
        return PackedCell(uint64_t(Kind::grapheme) | ((uint64_t(graphemeID) << contentShift) & contentMask) |
                          (uint64_t(attributeID) << attributeShift) |
                          fieldBits(widthState, isProtected, payloadCode, semanticCode));
    }
    /// A kind-2 blank whose background is palette entry `index`.
    static constexpr PackedCell makePaletteBlank(uint8_t index, WidthState widthState, bool isProtected,
                                                 uint16_t payloadCode, uint8_t semanticCode)
    {
        return PackedCell(uint64_t(Kind::paletteBlank) | (uint64_t(index) << contentShift) |
                          fieldBits(widthState, isProtected, payloadCode, semanticCode));
    }
    /// A kind-3 blank whose background is the colour (red, green, blue).
    static constexpr PackedCell makeTrueColorBlank(uint8_t red, uint8_t green, uint8_t blue,
                                                   WidthState widthState, bool isProtected,
                                                   uint16_t payloadCode, uint8_t semanticCode)
    {
        const uint64_t rgb = uint64_t(red) | (uint64_t(green) << 8) | (uint64_t(blue) << 16);
        return PackedCell(uint64_t(Kind::trueColorBlank) | (rgb << contentShift) |
                          fieldBits(widthState, isProtected, payloadCode, semanticCode));
    }

    constexpr Kind kind() const { return static_cast<Kind>(rawValue & kindMask); }
    constexpr bool isBlankKind() const { return (rawValue & 0x2) != 0; }
    /// The 24-bit content field.
    constexpr uint32_t content() const { return uint32_t((rawValue & contentMask) >> contentShift); }
    /// The scalar of a kind-0 cell (0 for the other kinds, whose cells stand for no scalar).
    constexpr uint32_t scalar() const { return kind() == Kind::scalar ? content() : 0; }
    constexpr uint16_t attributeID() const { return uint16_t((rawValue & attributeMask) >> attributeShift); }
    constexpr WidthState widthState() const
    {
        return static_cast<WidthState>((rawValue & widthStateMask) >> widthStateShift);
    }
    constexpr uint8_t widthStateCode() const
    {
        return uint8_t((rawValue & widthStateMask) >> widthStateShift);
    }
    constexpr bool isLead() const { return widthState() == WidthState::lead; }
    /// True for width states 2 and 3: the right half of a wide character.
    constexpr bool isContinuation() const { return widthStateCode() >= 2; }
    /// Display width by width state: 1, 2, 0, 0.
    constexpr int width() const
    {
        const uint8_t state = widthStateCode();
        return state == 0 ? 1 : state == 1 ? 2 : 0;
    }
    constexpr bool isProtected() const { return (rawValue & protectedBit) != 0; }
    constexpr uint16_t payloadCode() const { return uint16_t((rawValue & payloadMask) >> payloadShift); }
    constexpr uint8_t semanticCode() const { return uint8_t(rawValue >> semanticShift); }

    /// Palette index of a kind-2 cell; channels of a kind-3 cell.
    constexpr uint8_t paletteIndex() const { return uint8_t(content() & 0xFF); }
    constexpr uint8_t red() const { return uint8_t(content() & 0xFF); }
    constexpr uint8_t green() const { return uint8_t((content() >> 8) & 0xFF); }
    constexpr uint8_t blue() const { return uint8_t((content() >> 16) & 0xFF); }

    /// Whether the fields form a cell the arena could have produced.
    constexpr bool hasValidEncoding() const
    {
        if (semanticCode() >= 7)
            return false;
        switch (kind()) {
        case Kind::scalar: {
            const uint32_t value = content();
            return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        }
        case Kind::grapheme:
            return content() != 0;
        case Kind::paletteBlank:
            return (rawValue & paletteHighMask) == 0;
        case Kind::trueColorBlank:
            return true;
        }
        return false;
    }

    /// The same cell with its character and width state cleared (bits 0-25 and 42-43) but its
    /// attribute id, protection, payload and semantic code kept: an empty single-width cell
    /// with the same look. Used to blank the surviving half of a split wide character.
    constexpr PackedCell blanked() const
    {
        return PackedCell(rawValue & ~(kindMask | contentMask | widthStateMask));
    }

    constexpr PackedCell withWidthState(WidthState state) const
    {
        return PackedCell((rawValue & ~widthStateMask) | (uint64_t(state) << widthStateShift));
    }
    constexpr PackedCell withSemanticCode(uint8_t code) const
    {
        return PackedCell((rawValue & ~semanticMask) | (uint64_t(code & 0x7) << semanticShift));
    }
    constexpr PackedCell withProtected(bool on) const
    {
        return PackedCell(on ? (rawValue | protectedBit) : (rawValue & ~protectedBit));
    }

    friend constexpr bool operator==(PackedCell, PackedCell) = default;

private:
    static constexpr uint64_t fieldBits(WidthState widthState, bool isProtected, uint16_t payloadCode,
                                        uint8_t semanticCode)
    {
        return (uint64_t(widthState) << widthStateShift) | (isProtected ? protectedBit : 0) |
               (uint64_t(payloadCode) << payloadShift) | (uint64_t(semanticCode & 0x7) << semanticShift);
    }
};

static_assert(sizeof(PackedCell) == 8 && std::is_trivially_copyable_v<PackedCell>,
              "cells are copied as plain 64-bit values");

/// A 32-bit attribute key with equality and hashing of the raw value, for the render model's
/// attribute caches.
struct PackedAttributeKey
{
    uint32_t rawValue = 0;
    friend constexpr bool operator==(PackedAttributeKey, PackedAttributeKey) = default;
};

} // namespace kestrovan

template <> struct std::hash<kestrovan::PackedCell>
{
    size_t operator()(kestrovan::PackedCell cell) const noexcept
    {
        return std::hash<uint64_t>()(cell.rawValue);
    }
};

template <> struct std::hash<kestrovan::PackedAttributeKey>
{
    size_t operator()(kestrovan::PackedAttributeKey key) const noexcept { return key.rawValue; }
};
