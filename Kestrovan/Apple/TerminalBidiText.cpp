// What the row layout reads of a cell: its text, whether it can be right to left, the base
// direction its paragraph's letters give, and the one UTF-16 unit that stands for it in the
// string the bidirectional algorithm orders.
#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/Generated/BidiTables.h"
#include "Kestrovan/GraphemeBreak.h"

namespace kestrovan {

namespace {

bool isScalarValue(char32_t value)
{
    return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

constexpr char32_t leftToRightMark = 0x200E;
constexpr char32_t rightToLeftMark = 0x200F;

// Stands for a mark or a supplementary neutral: a neutral that takes its neighbours' direction.
constexpr char16_t middleDot = 0x00B7;
// ARABIC LETTER HAMZA: right to left and non-joining, so the algorithm neither joins nor merges
// the Arabic letters it stands for.
constexpr char16_t nonJoiningArabicLetter = 0x0621;

/// Arabic letters, ZWJ among them, which the probe replaces by a non-joining letter.
bool isArabicLetterForProbe(char32_t scalar)
{
    return (scalar >= 0x0620 && scalar <= 0x064A) || (scalar >= 0x0671 && scalar <= 0x06D5) ||
           (scalar >= 0x06FA && scalar <= 0x06FF) || (scalar >= 0x0750 && scalar <= 0x077F) ||
           (scalar >= 0x0870 && scalar <= 0x088F) || (scalar >= 0x08A0 && scalar <= 0x08D2) ||
           scalar == 0x066E || scalar == 0x066F || scalar == 0x06EE || scalar == 0x06EF || scalar == 0x200D;
}

/// The right-to-left planes outside the BMP (Cypriot to Old Turkic and beyond, Mende Kikakui to
/// the Arabic mathematical letters).
bool isSupplementaryRightToLeft(char32_t scalar)
{
    return (scalar >= 0x10800 && scalar <= 0x10FFF) || (scalar >= 0x1E800 && scalar <= 0x1EFFF);
}

} // namespace

Character TerminalBidi::cellText(PackedCell cell, const CellArena& arena)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar: {
        const char32_t scalar = cell.scalar();
        if (scalar == 0 || !isScalarValue(scalar))
            return Character(U' ');
        return Character(scalar);
    }
    case PackedCell::Kind::grapheme: {
        const std::u32string* cluster = cell.content() == 0 ? nullptr : arena.grapheme(cell.content());
        if (!cluster || cluster->empty() || cluster->front() == 0)
            return Character(U' ');
        for (char32_t scalar : *cluster) {
            if (!isScalarValue(scalar))
                return Character(U' ');
        }
        return firstCharacter(*cluster);
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return Character(U' ');
}

bool TerminalBidi::isRightToLeftScalar(char32_t scalar)
{
    // Hebrew through Arabic Extended-A, the Hebrew and Arabic presentation forms, and the
    // supplementary right-to-left planes; plus the controls that open a right-to-left embedding,
    // override or isolate.
    return (scalar >= 0x0590 && scalar <= 0x08FF) || (scalar >= 0xFB1D && scalar <= 0xFDFF) ||
           (scalar >= 0xFE70 && scalar <= 0xFEFC) || isSupplementaryRightToLeft(scalar) || scalar == 0x202B ||
           scalar == 0x202E || scalar == 0x2067;
}

BidiDirection TerminalBidi::detectedBaseDirection(const std::vector<Cell>& cells, BidiDirection fallback)
{
    for (const Cell& cell : cells) {
        for (char32_t scalar : cell.text.scalars) {
            if (scalar == leftToRightMark)
                return BidiDirection::leftToRight;
            if (scalar == rightToLeftMark)
                return BidiDirection::rightToLeft;
            // Digits, punctuation, marks and spaces are skipped: only a letter decides.
            if (unicode::bidiProperties(scalar) & unicode::bidiProperty::alphabetic)
                return isRightToLeftScalar(scalar) ? BidiDirection::rightToLeft : BidiDirection::leftToRight;
        }
    }
    return fallback;
}

char16_t TerminalBidi::probeScalar(const Character& text)
{
    if (text.isEmpty())
        return u' ';
    const char32_t scalar = text.firstScalar();
    const uint8_t properties = unicode::bidiProperties(scalar);
    // A mark at the start of a cell travels with the cell as a neutral; it must not become a cell
    // of its own kind of direction.
    if (properties & (unicode::bidiProperty::combining | unicode::bidiProperty::mark))
        return middleDot;
    if (isArabicLetterForProbe(scalar))
        return nonJoiningArabicLetter;
    if (scalar < 0x10000)
        return static_cast<char16_t>(scalar);
    // One unit per cell: a supplementary scalar is represented by a mark of its direction.
    return isSupplementaryRightToLeft(scalar) ? char16_t(rightToLeftMark) : middleDot;
}

} // namespace kestrovan
