// Unicode placeholders of kitty graphics: a cell whose character is U+10EEEE names a piece of a
// virtual placement. Its foreground colour encodes the image id, its underline colour the placement
// id, and up to three combining diacritics give the row, the column and the high byte of the id.
//
// A run of placeholder cells may leave the diacritics out: a cell inherits from the one just before
// it on the same line when both have the same colours, and continues its row one column further.
// The decoder is a pure function of one cell and the cell decoded before it.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/Character.h"

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>

namespace kestrovan {

/// One decoded placeholder cell.
struct KittyPlaceholderCell
{
    int64_t row = 0;
    int64_t col = 0;
    uint32_t imageId = 0;
    /// 0 when the cell names no placement (every virtual placement of the image then qualifies).
    uint32_t placementId = 0;
    /// Which cell of the placement's grid this cell shows, from 0.
    int64_t placeholderRow = 0;
    int64_t placeholderCol = 0;
    /// The high byte of the image id, decoded or inherited.
    int64_t msb = 0;

    friend bool operator==(const KittyPlaceholderCell&, const KittyPlaceholderCell&) = default;
};

namespace KittyPlaceholder {

/// The placeholder character.
inline constexpr char32_t placeholderScalar = 0x10EEEE;

/// The row/column diacritics: code point to its index in the published list of 297.
const std::unordered_map<uint32_t, int64_t>& diacriticIndex();

/// The number a cell colour encodes: a palette index, or a 24-bit true colour; 0 for the defaults.
uint32_t colorNumber(const Attribute::Color& color);

} // namespace KittyPlaceholder

class KittyPlaceholderDecoder
{
public:
    /// Decodes a cell's scalars (its character and combining marks); absent when it is no
    /// placeholder. `previous` is the cell decoded just before on the same line, if any.
    static std::optional<KittyPlaceholderCell> decode(std::span<const uint32_t> scalars,
                                                      const Attribute& attribute, int64_t row, int64_t col,
                                                      const std::optional<KittyPlaceholderCell>& previous,
                                                      const std::optional<Attribute>& previousAttribute);
    /// The same for a character.
    static std::optional<KittyPlaceholderCell> decode(const Character& character, const Attribute& attribute,
                                                      int64_t row, int64_t col,
                                                      const std::optional<KittyPlaceholderCell>& previous,
                                                      const std::optional<Attribute>& previousAttribute);
};

} // namespace kestrovan
