// ISO 2022 style character sets: the control functions that designate sets into the slots G0-G3
// and invoke one slot as the set the print path translates printable ASCII through. The slots
// themselves are a `CharsetSlots`.
#include "Kestrovan/CharSets.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

void Terminal::setgLevel(uint8_t level)
{
    charsets_.invoke(level);
}

void Terminal::setgCharset(uint8_t slot, const CharacterMap* set)
{
    charsets_.designate(slot, set);
}

void Terminal::selectCharset(uint8_t intermediate, uint8_t final)
{
    // United States ASCII replaces nothing: it is stored as no translation, so ASCII keeps its
    // fast road.
    const CharacterMap* set = CharSets::translation(final);
    // The 96-character designators select the same maps as their 94-character partners.
    switch (intermediate) {
    case '(':
        setgCharset(0, set);
        return;
    case ')':
    case '-':
        setgCharset(1, set);
        return;
    case '*':
    case '.':
        setgCharset(2, set);
        return;
    case '+':
    case '/':
        setgCharset(3, set);
        return;
    default:
        return;
    }
}

} // namespace kestrovan
