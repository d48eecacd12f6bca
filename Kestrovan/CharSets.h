// The built-in character sets a program can designate into G0-G3 with ESC ( x and its relatives:
// DEC special graphics (line drawing) and the national replacement sets.
//
// A set replaces a few printable ASCII bytes by one Unicode scalar each, so it is a flat table of
// 128 scalars that the print path indexes directly, 0 meaning "print the byte unchanged". The
// tables are constants; sets are handed out as pointers to them, and a null pointer means no
// translation. Designation and invocation (the G slots, SO/SI) belong to the terminal.
#pragma once

#include <array>
#include <cstdint>

namespace kestrovan {

/// One character set: the replacement of each 7-bit byte, 0 where the byte prints unchanged.
struct CharacterMap
{
    std::array<char32_t, 128> replacement{};

    /// The scalar printed for `byte`, or 0 when the set leaves it alone (every byte from 128 up).
    constexpr char32_t lookup(uint32_t byte) const
    {
        return byte < replacement.size() ? replacement[byte] : 0;
    }

    /// True when the set replaces nothing (United States ASCII).
    constexpr bool isEmpty() const
    {
        for (char32_t scalar : replacement) {
            if (scalar != 0)
                return false;
        }
        return true;
    }

    friend constexpr bool operator==(const CharacterMap&, const CharacterMap&) = default;
};

class CharSets
{
public:
    /// The set for each designator byte (the final byte of the designating sequence), null for
    /// bytes that designate nothing. Designators naming the same set share one map.
    static const std::array<const CharacterMap*, 256>& all();

    /// The set the designator names, null when it names none.
    static const CharacterMap* find(uint8_t designator) { return all()[designator]; }
    /// The set the designator names when it replaces anything, else null: United States ASCII
    /// and designators naming no set both translate nothing. A table lookup, since programs such
    /// as `htop` designate ASCII after nearly every field they draw.
    static const CharacterMap* translation(uint8_t designator);
};

} // namespace kestrovan
