// Select graphic rendition: folding SGR parameters into the current attribute and its style id.
//
// `cmdCsiM` walks CSI ... m into a working copy of `curAttr`, then interns the result once in the
// cell arena so that printed cells carry a 16-bit style id. Erasing, scrolling and insertion fill
// new cells with the background of the current attribute only; that background-only attribute and
// its two packed cells are rebuilt here, and only when the background really changed, because most
// SGR sequences (bold, colours of text) leave it alone and interning is not free.
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <string>

namespace kestrovan {

namespace {

using CellColor = Attribute::Color;

/// The result of reading an extended colour: the colour, if the form was complete, and how many
/// parameters after the 38, 48 or 58 it used.
struct ExtendedColor
{
    std::optional<CellColor> color;
    int consumed = 0;
};

/// Whether parameter `index` was ended by ":" (the next one is its sub-parameter). The parser keeps
/// the mask for the first 64 parameters only.
bool followedByColon(uint64_t colonMask, int index)
{
    return index < 64 && ((colonMask >> index) & 1) != 0;
}

uint8_t clampComponent(int64_t value)
{
    return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255));
}

/// Reads the colour after 38, 48 or 58, starting at `startIndex`. The semicolon form (38;5;n and
/// 38;2;r;g;b) takes a fixed number of parameters; the colon form takes its whole sub-parameter
/// group, with or without the colour-space field of 38:2:cs:r:g:b.
ExtendedColor parseExtendedColor(const CsiParameters& pars, uint64_t colonMask, int startIndex,
                                 bool usesColon)
{
    const int count = pars.count;
    const int s = startIndex;
    if (!usesColon) {
        if (s >= count)
            return {std::nullopt, 0};
        switch (pars[s]) {
        case 5:
            if (s + 1 >= count)
                return {std::nullopt, 1};
            return {CellColor::ansi256(clampComponent(pars[s + 1])), 2};
        case 2:
            if (s + 3 >= count)
                return {std::nullopt, 1};
            return {CellColor::trueColor(clampComponent(pars[s + 1]), clampComponent(pars[s + 2]),
                                         clampComponent(pars[s + 3])),
                    4};
        default:
            return {std::nullopt, 1};
        }
    }

    if (s >= count)
        return {std::nullopt, 0};
    // The group runs on while each element is ended by ':'.
    int length = 1;
    while (s + length < count && followedByColon(colonMask, s + length - 1))
        ++length;
    std::optional<CellColor> color;
    switch (pars[s]) {
    case 5:
        if (length >= 2)
            color = CellColor::ansi256(clampComponent(pars[s + 1]));
        break;
    case 2:
        if (length == 4)
            color = CellColor::trueColor(clampComponent(pars[s + 1]), clampComponent(pars[s + 2]),
                                         clampComponent(pars[s + 3]));
        else if (length >= 5) // s + 1 is the colour space, which we do not use
            color = CellColor::trueColor(clampComponent(pars[s + 2]), clampComponent(pars[s + 3]),
                                         clampComponent(pars[s + 4]));
        break;
    default:
        break;
    }
    return {color, length};
}

/// Erased cells know only a background, and both default forms erase to the plain default.
CellColor eraseBackground(CellColor background)
{
    return background.isDefaultInverted() ? CellColor::defaultColor() : background;
}

bool sameEraseBackground(CellColor a, CellColor b)
{
    return eraseBackground(a) == eraseBackground(b);
}

std::string describeParameters(const CsiParameters& pars)
{
    std::string out = "[";
    for (int i = 0; i < pars.count; ++i) {
        if (i > 0)
            out += ", ";
        out += std::to_string(pars[i]);
    }
    return out + "]";
}

} // namespace

void Terminal::cmdCsiM(const CsiParameters& pars, Collect collect)
{
    // SGR takes no intermediates; CSI > ... m and friends belong to other functions.
    if (!collect.empty() || pars.count == 0)
        return;

    const Attribute previous = curAttr;
    CellArena& arena = *_buffer->cellArena();

    // Fast road for the most common sequence, CSI m / CSI 0 m.
    if (pars.count == 1 && pars[0] == 0) {
        if (previous == Attribute())
            return;
        curAttr = Attribute();
        curStyleID = arena.intern(curAttr).value_or(0);
        if (!sameEraseBackground(previous.bg, curAttr.bg)) {
            currentEraseAttribute = Attribute();
            rebuildEraseCells(curStyleID);
        }
        return;
    }

    const uint64_t colonMask = parser->parsColonMask();
    Attribute working = previous;
    int i = 0;
    while (i < pars.count) {
        const int64_t value = pars[i];
        int step = 1;
        switch (value) {
        case 0: // reset everything
            working = Attribute();
            break;
        case 1: // bold
            working.style.insert(CharacterStyle::bold);
            break;
        case 2: // dim (faint)
            working.style.insert(CharacterStyle::dim);
            break;
        case 3: // italic
            working.style.insert(CharacterStyle::italic);
            break;
        case 4: {
            // 4:n picks the underline style; plain 4 (or an unknown n) is a single underline.
            UnderlineStyle style = UnderlineStyle::single;
            if (followedByColon(colonMask, i) && i + 1 < pars.count) {
                step = 2;
                switch (pars[i + 1]) {
                case 0:
                    style = UnderlineStyle::none;
                    break;
                case 2:
                    style = UnderlineStyle::double_;
                    break;
                case 3:
                    style = UnderlineStyle::curly;
                    break;
                case 4:
                    style = UnderlineStyle::dotted;
                    break;
                case 5: // slow blink
                    style = UnderlineStyle::dashed;
                    break;
                default:
                    break;
                }
            }
            if (style == UnderlineStyle::none)
                working.style.remove(CharacterStyle::underline);
            else
                working.style.insert(CharacterStyle::underline);
            working.underlineStyle = style;
            break;
        }
        case 5:
            working.style.insert(CharacterStyle::blink);
            break;
        case 7: // inverse
            working.style.insert(CharacterStyle::inverse);
            break;
        case 8: // invisible (concealed)
            working.style.insert(CharacterStyle::invisible);
            break;
        case 9: // crossed out
            working.style.insert(CharacterStyle::crossedOut);
            break;
        case 21: // doubly underlined, not "bold off"
            working.style.insert(CharacterStyle::underline);
            working.underlineStyle = UnderlineStyle::double_;
            break;
        case 22: // normal intensity: neither bold nor dim
            working.style.remove(CharacterStyle::bold);
            working.style.remove(CharacterStyle::dim);
            break;
        case 23: // not italic
            working.style.remove(CharacterStyle::italic);
            break;
        case 24: // not underlined
            working.style.remove(CharacterStyle::underline);
            working.underlineStyle = UnderlineStyle::none;
            break;
        case 25: // not blinking
            working.style.remove(CharacterStyle::blink);
            break;
        case 27: // not inverse
            working.style.remove(CharacterStyle::inverse);
            break;
        case 28: // visible
            working.style.remove(CharacterStyle::invisible);
            break;
        case 29: // not crossed out
            working.style.remove(CharacterStyle::crossedOut);
            break;
        case 38: // foreground, background and underline colour from the palette or 24-bit
        case 48:
        case 58: {
            const ExtendedColor read =
                parseExtendedColor(pars, colonMask, i + 1, followedByColon(colonMask, i));
            // A truncated form leaves the colour as it was.
            if (read.color) {
                if (value == 38)
                    working.fg = *read.color;
                else if (value == 48)
                    working.bg = *read.color;
                else
                    working.underlineColor = *read.color;
            }
            step = 1 + std::max(read.consumed, 1);
            break;
        }
        case 39: // default foreground
            working.fg = CellColor::defaultColor();
            break;
        case 49: // default background
            working.bg = CellColor::defaultColor();
            break;
        case 59: // default underline colour
            working.underlineColor.reset();
            break;
        default:
            // The eight base colours and their bright forms.
            if (value >= 30 && value <= 37)
                working.fg = CellColor::ansi256(static_cast<uint8_t>(value - 30));
            else if (value >= 40 && value <= 47)
                working.bg = CellColor::ansi256(static_cast<uint8_t>(value - 40));
            else if (value >= 90 && value <= 97)
                working.fg = CellColor::ansi256(static_cast<uint8_t>(value - 90 + 8));
            else if (value >= 100 && value <= 107)
                working.bg = CellColor::ansi256(static_cast<uint8_t>(value - 100 + 8));
            else
                logInfo("Unknown SGR attribute: " + std::to_string(value) + " " + describeParameters(pars));
            break;
        }
        i += step;
    }

    // Repeating an attribute already in effect (CSI 1 m twice) costs nothing more.
    if (working == previous)
        return;

    std::optional<uint16_t> id = arena.intern(working);
    if (!id) {
        // A full arena cannot name the new look: printing goes on in the default one.
        working = Attribute();
        id = 0;
    }
    curAttr = working;
    curStyleID = *id;

    if (sameEraseBackground(previous.bg, curAttr.bg))
        return;
    const Attribute erase(CellColor::defaultColor(), eraseBackground(curAttr.bg));
    const uint16_t eraseID = erase == curAttr ? curStyleID : arena.intern(erase).value_or(0);
    currentEraseAttribute = erase;
    rebuildEraseCells(eraseID);
}

} // namespace kestrovan
