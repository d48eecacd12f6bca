// Arabic shaping and mirroring for the row layout.
//
// Cells are drawn one glyph each, so a font's own contextual shaping cannot join letters across
// cells. Shaping therefore picks, for every Arabic letter of a paragraph, the presentation form
// (isolated, final, initial or medial) its neighbours call for, and forms the lam-alef ligatures.
// Only the first scalar of a cell (its key) takes part in joining; the marks kept in a letter's
// cluster ride along on the chosen form. A cell whose key is itself a mark is transparent and lets
// its neighbours join across it.
#include "Kestrovan/Apple/BidiMirroringData.h"
#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Generated/BidiTables.h"

#include <array>

namespace kestrovan {

namespace {

constexpr char32_t zeroWidthNonJoiner = 0x200C;
constexpr char32_t arabicLam = 0x0644;

bool isScalarValue(char32_t value)
{
    return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

/// The scalar that decides how a cell joins: its first one, a space for an empty text.
char32_t keyScalar(const TerminalBidi::Cell& cell)
{
    return cell.text.isEmpty() ? U' ' : cell.text.firstScalar();
}

bool isTransparent(TerminalBidi::Joining joining)
{
    return joining == TerminalBidi::Joining::transparent;
}

/// A previous letter of these types reaches forward to the next one.
bool joinsForward(TerminalBidi::Joining joining)
{
    return joining == TerminalBidi::Joining::left || joining == TerminalBidi::Joining::dual ||
           joining == TerminalBidi::Joining::causing;
}

/// A letter of these types accepts a join from the letter before it.
bool joinsBackward(TerminalBidi::Joining joining)
{
    return joining == TerminalBidi::Joining::right || joining == TerminalBidi::Joining::dual ||
           joining == TerminalBidi::Joining::causing;
}

/// The key scalar and joining type of every cell, worked out once: the neighbour searches below
/// look at each cell several times.
struct JoiningCell
{
    char32_t key = 0;
    TerminalBidi::Joining joining = TerminalBidi::Joining::none;
};

/// Whether cell `index`, of type `joining`, joins the letter before it. ZWNJ breaks the join;
/// transparent cells (marks on their own) are looked through.
bool joinsPrevious(const std::vector<JoiningCell>& cells, size_t index, TerminalBidi::Joining joining)
{
    for (size_t j = index; j-- > 0;) {
        if (cells[j].key == zeroWidthNonJoiner)
            return false;
        if (isTransparent(cells[j].joining))
            continue;
        return joinsForward(cells[j].joining) && joinsBackward(joining);
    }
    return false;
}

/// The joining type of the first cell after `index` that is not transparent; `none` at a ZWNJ or
/// the paragraph's end.
TerminalBidi::Joining nextJoining(const std::vector<JoiningCell>& cells, size_t index)
{
    for (size_t j = index + 1; j < cells.size(); ++j) {
        if (cells[j].key == zeroWidthNonJoiner)
            return TerminalBidi::Joining::none;
        if (!isTransparent(cells[j].joining))
            return cells[j].joining;
    }
    return TerminalBidi::Joining::none;
}

/// The presentation form followed by every scalar after the first of each given cell: marks
/// stored in the letters' clusters stay on the shaped glyph.
Character withMarks(char32_t form, std::initializer_list<const TerminalBidi::Cell*> from)
{
    Character result(form);
    for (const TerminalBidi::Cell* cell : from) {
        if (cell->text.scalars.size() > 1)
            result.scalars.append(cell->text.scalars, 1);
    }
    return result;
}

// The box-drawing corners, tees and half lines whose mirror is another piece, each pair listed
// once; lookups try both directions. Straight lines, crosses and tees pointing up or down look the
// same mirrored and are not here.
constexpr std::array<std::pair<char32_t, char32_t>, 19> boxMirrorPairs{{
    {0x250C, 0x2510}, {0x2514, 0x2518}, {0x251C, 0x2524}, {0x250F, 0x2513}, {0x2517, 0x251B},
    {0x2523, 0x252B}, {0x2558, 0x255B}, {0x2559, 0x255C}, {0x255F, 0x2562}, {0x2578, 0x257A},
    {0x2554, 0x2557}, {0x255A, 0x255D}, {0x2560, 0x2563}, {0x256D, 0x256E}, {0x2570, 0x256F},
    {0x2552, 0x2555}, {0x2553, 0x2556}, {0x255E, 0x2561}, {0x2574, 0x2576},
}};

} // namespace

TerminalBidi::Joining TerminalBidi::joiningType(char32_t scalar)
{
    if (!isScalarValue(scalar))
        return Joining::none;
    if (const std::optional<Joining> listed = ArabicShapingData::listedJoining(scalar))
        return *listed;
    // Marks and format characters the data does not list are transparent by their category.
    const uint8_t properties = unicode::bidiProperties(scalar);
    if (properties & (unicode::bidiProperty::mark | unicode::bidiProperty::format))
        return Joining::transparent;
    return Joining::none;
}

std::optional<std::pair<char32_t, char32_t>> TerminalBidi::lamAlef(char32_t alef)
{
    switch (alef) {
    case 0x0622: // ALEF WITH MADDA ABOVE
        return std::pair<char32_t, char32_t>(0xFEF5, 0xFEF6);
    case 0x0623: // ALEF WITH HAMZA ABOVE
        return std::pair<char32_t, char32_t>(0xFEF7, 0xFEF8);
    case 0x0625: // ALEF WITH HAMZA BELOW
        return std::pair<char32_t, char32_t>(0xFEF9, 0xFEFA);
    case 0x0627: // ALEF
        return std::pair<char32_t, char32_t>(0xFEFB, 0xFEFC);
    default:
        return std::nullopt;
    }
}

std::vector<std::optional<Character>> TerminalBidi::shapeArabic(const std::vector<Cell>& cells)
{
    std::vector<std::optional<Character>> display(cells.size());
    std::vector<JoiningCell> joining(cells.size());
    for (size_t index = 0; index < cells.size(); ++index) {
        joining[index].key = keyScalar(cells[index]);
        joining[index].joining = joiningType(joining[index].key);
    }
    size_t i = 0;
    while (i < cells.size()) {
        const Cell& cell = cells[i];
        const char32_t key = joining[i].key;
        const Joining type = joining[i].joining;
        if (key == zeroWidthNonJoiner) {
            ++i;
            continue;
        }
        if (type == Joining::none) {
            // A letter that never joins (HAMZA) still shows its isolated form.
            if (const auto forms = ArabicShapingData::unicode17Forms(key))
                display[i] = withMarks(forms->iso, {&cell});
            ++i;
            continue;
        }
        if (type != Joining::right && type != Joining::dual) {
            // Transparent, join-causing (TATWEEL, ZWJ) and left-joining cells keep their glyph.
            ++i;
            continue;
        }
        const bool previous = joinsPrevious(joining, i, type);
        if (key == arabicLam && i + 1 < cells.size()) {
            // Only the very next cell is examined: a mark-only cell between lam and alef keeps
            // them apart.
            if (const auto ligature = lamAlef(joining[i + 1].key)) {
                display[i] = withMarks(previous ? ligature->second : ligature->first, {&cell, &cells[i + 1]});
                // The ligature covers both letters; the alef's column shows blank.
                display[i + 1] = Character(U' ');
                i += 2;
                continue;
            }
        }
        if (const auto forms = ArabicShapingData::unicode17Forms(key)) {
            char32_t form = forms->iso;
            if (type == Joining::right) {
                form = previous ? forms->fin : forms->iso;
            } else {
                const bool next = joinsBackward(nextJoining(joining, i));
                if (previous && next)
                    form = forms->med.value_or(forms->fin);
                else if (previous)
                    form = forms->fin;
                else if (next)
                    form = forms->ini.value_or(forms->iso);
            }
            display[i] = withMarks(form, {&cell});
        }
        ++i;
    }
    return display;
}

std::optional<char32_t> TerminalBidi::boxMirror(char32_t scalar)
{
    for (const auto& [left, right] : boxMirrorPairs) {
        if (scalar == left)
            return right;
        if (scalar == right)
            return left;
    }
    return std::nullopt;
}

std::optional<Character> TerminalBidi::mirroredText(const Character& text, bool boxMirroring)
{
    if (text.scalars.size() != 1)
        return std::nullopt;
    if (const std::optional<char32_t> mirror = BidiMirroringData::unicode17Mirror(text.scalars[0])) {
        if (isScalarValue(*mirror))
            return Character(*mirror);
    }
    if (boxMirroring) {
        if (const std::optional<char32_t> mirror = boxMirror(text.scalars[0]))
            return Character(*mirror);
    }
    return std::nullopt;
}

} // namespace kestrovan
