#include "Kestrovan/GraphemeBreak.h"

#include "Kestrovan/Generated/UnicodeTables.h"

#include <cstdint>

namespace kestrovan {

namespace {

namespace bits = unicode::grapheme;

constexpr char32_t carriageReturn = 0x0D;
constexpr char32_t lineFeed = 0x0A;
constexpr char32_t zeroWidthJoiner = 0x200D;

bool isRegionalIndicator(char32_t scalar)
{
    return scalar >= 0x1F1E6 && scalar <= 0x1F1FF;
}

// What the scalars since the start of the cluster say about the rules that look further back than
// one scalar: emoji ZWJ sequences, regional-indicator pairs and Indic conjuncts. Carried forward one
// scalar at a time, so segmenting never needs to look back or allocate.
class BreakState
{
public:
    explicit BreakState(char32_t first) { advance(first, unicode::graphemeProperties(first)); }

    /// True when a cluster boundary lies between the scalars seen so far and `next`, whose property
    /// byte is `nextProperties`. The rules are those of UAX #29, in its order.
    bool breaksBefore(char32_t next, uint8_t nextProperties) const
    {
        const uint8_t previousClass = previousProperties_ & bits::classMask;
        const uint8_t nextClass = nextProperties & bits::classMask;
        // GB3: CR × LF.
        if (previous_ == carriageReturn && next == lineFeed) {
            return false;
        }
        // GB4, GB5: break after and before controls (CR and LF are controls too).
        if (previousClass == bits::control || nextClass == bits::control) {
            return true;
        }
        // GB6-GB8: Hangul syllable sequences.
        if (nextClass != 0 && hangulJoins(previousClass, nextClass)) {
            return false;
        }
        // GB9, GB9a: no break before Extend, ZWJ or SpacingMark.
        if ((nextProperties & bits::markMask) != 0) {
            return false;
        }
        // GB9b: no break after Prepend.
        if ((previousProperties_ & bits::prepend) != 0) {
            return false;
        }
        // GB9c: Consonant [Extend Linker]* Linker [Extend Linker]* × Consonant.
        if ((nextProperties & bits::conjunctMask) == bits::conjunctConsonant &&
            conjunct_ == Conjunct::linked) {
            return false;
        }
        // GB11: Extended_Pictographic Extend* ZWJ × Extended_Pictographic.
        if (pictographic_ == Pictographic::afterJoiner && unicode::isExtendedPictographic(next)) {
            return false;
        }
        // GB12, GB13: regional indicators pair up; an odd one before this one makes a flag.
        if (isRegionalIndicator(next) && regionalIndicatorRunIsOdd_) {
            return false;
        }
        // GB999: break everywhere else.
        return true;
    }

    /// Takes `scalar` as the latest scalar seen.
    void advance(char32_t scalar, uint8_t properties)
    {
        const uint8_t conjunctClass = properties & bits::conjunctMask;
        if (conjunctClass == bits::conjunctConsonant) {
            conjunct_ = Conjunct::consonant;
        } else if (conjunct_ != Conjunct::none && conjunctClass == bits::conjunctLinker) {
            conjunct_ = Conjunct::linked;
        } else if (conjunctClass != bits::conjunctExtend) {
            conjunct_ = Conjunct::none;
        }

        // The Extend bits include ZWJ; GB11 needs the two apart.
        const bool isExtend = (properties & bits::markMask) == bits::extend;
        if (unicode::isExtendedPictographic(scalar)) {
            pictographic_ = Pictographic::afterPictograph;
        } else if (pictographic_ == Pictographic::afterPictograph && scalar == zeroWidthJoiner) {
            pictographic_ = Pictographic::afterJoiner;
        } else if (pictographic_ != Pictographic::afterPictograph || !isExtend) {
            pictographic_ = Pictographic::none;
        }

        regionalIndicatorRunIsOdd_ = isRegionalIndicator(scalar) && !regionalIndicatorRunIsOdd_;
        previous_ = scalar;
        previousProperties_ = properties;
    }

private:
    // Where the scalars seen so far stand in an Indic conjunct: after a Consonant followed only by
    // Extend and Linker marks, without (`consonant`) or with (`linked`) a Linker among them.
    enum class Conjunct : uint8_t
    {
        none,
        consonant,
        linked
    };
    // Where they stand in an emoji ZWJ sequence: after an Extended_Pictographic followed only by
    // Extend marks (`afterPictograph`), or after that and a ZWJ (`afterJoiner`).
    enum class Pictographic : uint8_t
    {
        none,
        afterPictograph,
        afterJoiner
    };

    static bool hangulJoins(uint8_t previousClass, uint8_t nextClass)
    {
        switch (previousClass) {
        case bits::hangulL:
            return nextClass == bits::hangulL || nextClass == bits::hangulV || nextClass == bits::hangulLV ||
                   nextClass == bits::hangulLVT;
        case bits::hangulV:
        case bits::hangulLV:
            return nextClass == bits::hangulV || nextClass == bits::hangulT;
        case bits::hangulT:
        case bits::hangulLVT:
            return nextClass == bits::hangulT;
        default:
            return false;
        }
    }

    char32_t previous_ = 0;
    uint8_t previousProperties_ = 0;
    Conjunct conjunct_ = Conjunct::none;
    Pictographic pictographic_ = Pictographic::none;
    bool regionalIndicatorRunIsOdd_ = false;
};

} // namespace

size_t graphemeClusterLength(std::u32string_view text, size_t from)
{
    if (from >= text.size()) {
        return 0;
    }
    BreakState state(text[from]);
    size_t end = from + 1;
    while (end < text.size()) {
        const char32_t scalar = text[end];
        const uint8_t properties = unicode::graphemeProperties(scalar);
        if (state.breaksBefore(scalar, properties)) {
            break;
        }
        state.advance(scalar, properties);
        ++end;
    }
    return end - from;
}

size_t graphemeCount(std::u32string_view text)
{
    size_t count = 0;
    for (size_t position = 0; position < text.size(); position += graphemeClusterLength(text, position)) {
        ++count;
    }
    return count;
}

Character firstCharacter(std::u32string_view text)
{
    const size_t length = graphemeClusterLength(text);
    if (length == 0) {
        return Character();
    }
    return Character(std::u32string(text.substr(0, length)));
}

} // namespace kestrovan
