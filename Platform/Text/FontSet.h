// The four faces of terminal text: regular, bold, italic and bold italic, of one family and size.
//
// A `FontSet` is a plain value of four shared immutable fonts. Made from the regular font, it
// looks up the other three in the same family; an italic the family lacks is its upright face
// slanted, and a bold it lacks is the nearest font it has (bold italic falls back to bold, then
// italic), so every slot always holds a font and a renderer never checks for an empty one.
#pragma once

#include "Platform/Text/Font.h"

namespace platform {

struct FontSet
{
    FontRef normal;
    FontRef bold;
    FontRef italic;
    FontRef boldItalic;

    /// The set whose regular face is `normal`, the others found in its family. A null `normal`
    /// gives an empty set.
    static FontSet fromNormal(const FontRef& normal);

    /// The font for a bold and italic choice.
    const FontRef& font(FontTraits traits) const;

    /// True when `font` is the same face and size as one of the four (whatever object it is).
    bool contains(const Font& font) const;

    bool operator==(const FontSet&) const = default;
};

} // namespace platform
