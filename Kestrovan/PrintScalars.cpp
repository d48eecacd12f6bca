#include "Kestrovan/PrintScalars.h"

#include "Kestrovan/GraphemeBreak.h"

namespace kestrovan::printing {

using GraphemeJoin = UnicodeUtil::GraphemeJoin;

namespace {

// The length a lead byte announces: 1 for ASCII, 2-4 for a multi-byte lead, 0 for a byte that
// cannot start a sequence (continuation bytes, the overlong leads C0 and C1, and F5-FF).
constexpr std::array<uint8_t, 256> sequenceLengths = [] {
    std::array<uint8_t, 256> lengths{};
    for (int byte = 0; byte < 256; ++byte) {
        if (byte < 0x80)
            lengths[byte] = 1;
        else if (byte >= 0xC2 && byte <= 0xDF)
            lengths[byte] = 2;
        else if (byte >= 0xE0 && byte <= 0xEF)
            lengths[byte] = 3;
        else if (byte >= 0xF0 && byte <= 0xF4)
            lengths[byte] = 4;
    }
    return lengths;
}();

} // namespace

bool isPlainMarkUncached(char32_t scalar)
{
    if (unicode::widthCode(scalar) != 1)
        return false;
    const uint8_t properties = unicode::graphemeProperties(scalar);
    if ((properties & (bits::markMask | bits::classMask | bits::prepend)) != bits::extend ||
        joinsDespiteWidth(scalar))
        return false;
    if (scalar < unicode::spacingMarkRanges.front().lo || !inRanges(scalar, unicode::spacingMarkRanges))
        return true;
    return (properties & bits::conjunctMask) == bits::conjunctLinker ||
           inRanges(scalar, unicode::viramaRanges);
}

bool isSpacingSign(char32_t scalar)
{
    return inRanges(scalar, unicode::spacingMarkRanges) &&
           (unicode::graphemeProperties(scalar) & bits::conjunctMask) != bits::conjunctLinker &&
           !inRanges(scalar, unicode::viramaRanges);
}

LowScalarClasses makeLowScalarClasses()
{
    LowScalarClasses table{};
    for (char32_t scalar = 0x80; scalar < classifiedEnd; ++scalar) {
        table[scalar - 0x80] = static_cast<uint8_t>(
            unicode::widthCode(scalar) | (unicode::graphemeProperties(scalar) != 0 ? classHasProperties : 0) |
            (joinsDespiteWidth(scalar) ? classJoins : 0) |
            (isPlainMarkUncached(scalar) ? classPlainMark : 0) |
            (isSpacingSign(scalar) ? classSpacingSign : 0));
    }
    return table;
}

Decoded decodeSequenceAt(const uint8_t* bytes, size_t available)
{
    const uint8_t lead = bytes[0];
    const uint32_t length = sequenceLengths[lead];
    if (length == 1)
        return {Decoded::Kind::scalar, lead, 1};
    if (length == 0)
        return {Decoded::Kind::strayByte, lead, 1};
    char32_t value = lead & (0x7F >> length);
    for (uint32_t index = 1; index < length; ++index) {
        if (index >= available)
            return {Decoded::Kind::incomplete, 0, static_cast<uint32_t>(available)};
        const uint8_t next = bytes[index];
        // A byte that cannot continue the sequence ends it: the lead (with the continuation bytes
        // before this one) is the bad part, and this byte is decoded afresh, so that C3 41 prints
        // both characters instead of swallowing the letter.
        if ((next & 0xC0) != 0x80)
            return {Decoded::Kind::strayByte, lead, index};
        value = (value << 6) | (next & 0x3F);
    }
    // Every byte was a continuation byte, so a bad value is consumed whole.
    static constexpr char32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {Decoded::Kind::strayByte, lead, length};
    return {Decoded::Kind::scalar, value, length};
}

// --- Joining -------------------------------------------------------------------------------------

namespace {

// Whether `before` ends in Consonant (Extend | Linker)* with at least one Linker.
bool continuesConjunct(std::u32string_view before)
{
    bool sawLinker = false;
    for (size_t index = before.size(); index-- > 0;) {
        const char32_t scalar = before[index];
        // A scalar whose block has no properties at all cannot be part of a conjunct.
        if (scalar > 0x10FFFF || unicode::detail::graphemeIndex[scalar >> 8] == 0)
            return false;
        const uint8_t kind = unicode::graphemeProperties(scalar) & bits::conjunctMask;
        if (kind == bits::conjunctExtend)
            continue;
        if (kind == bits::conjunctLinker) {
            sawLinker = true;
            continue;
        }
        return kind == bits::conjunctConsonant && sawLinker;
    }
    return false;
}

} // namespace

// Whether a cell's scalars followed by one more (the last of `joined`) still make one cell. Beyond
// "one extended grapheme cluster" it accepts an Indic conjunct the segmenter would split when the
// cell already holds more than one cluster: a consonant after Consonant (Extend | Linker)* with at
// least one Linker.
bool staysOneCell(std::u32string_view joined)
{
    // Two regional indicators alone are one flag; flags are common enough in text to spare them
    // the segmenter.
    if (joined.size() == 2 && isRegionalIndicator(joined[0]) && isRegionalIndicator(joined[1]))
        return true;
    const char32_t appended = joined.back();
    const std::u32string_view before = joined.substr(0, joined.size() - 1);
    const uint8_t properties = unicode::graphemeProperties(appended);
    const uint8_t conjunct = properties & bits::conjunctMask;
    // The conjunct test is a short walk back, cheaper than segmenting the cluster, and a conjunct
    // it accepts stays one cell whatever the segmenter says: it goes first.
    if (conjunct == bits::conjunctConsonant) {
        if (continuesConjunct(before))
            return true;
        // Otherwise a consonant that is no mark, no Hangul jamo or control, no pictograph and no
        // regional indicator joins only a Prepend character right before it: with none there the
        // segmenter would split it off, which spares segmenting a consonant after a vowel sign.
        if (!before.empty() && (properties & (bits::markMask | bits::classMask)) == 0 &&
            (unicode::graphemeProperties(before.back()) & bits::prepend) == 0 &&
            !unicode::isExtendedPictographic(appended) && !isRegionalIndicator(appended))
            return false;
    }
    if (graphemeCount(joined) == 1)
        return true;
    return (conjunct == bits::conjunctLinker || conjunct == bits::conjunctExtend) &&
           graphemeCount(before) >= 2;
}

} // namespace kestrovan::printing
