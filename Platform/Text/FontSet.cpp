#include "FontSet.h"

namespace platform {

// Each style is looked up in the regular font's own family, as a font manager converts a font to
// a trait, so a set is never a mix of families.
FontSet FontSet::fromNormal(const FontRef& normal)
{
    FontSet set;
    if (!normal)
        return set;
    set.normal = normal;
    set.bold = normal->withTraits({true, false});
    set.italic = normal->withTraits({false, true});
    set.boldItalic = normal->withTraits({true, true});
    // `withTraits` gives the font itself back when the family has no such face; for bold italic
    // a bold or an italic face is nearer than the regular one.
    if (set.boldItalic == normal)
        set.boldItalic = set.bold != normal ? set.bold : set.italic;
    return set;
}

const FontRef& FontSet::font(FontTraits traits) const
{
    if (traits.bold)
        return traits.italic ? boldItalic : bold;
    return traits.italic ? italic : normal;
}

bool FontSet::contains(const Font& font) const
{
    for (const FontRef* member : {&normal, &bold, &italic, &boldItalic}) {
        if (*member && (*member)->isSameFont(font))
            return true;
    }
    return false;
}

} // namespace platform
