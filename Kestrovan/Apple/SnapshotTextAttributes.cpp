#include "Kestrovan/Apple/SnapshotTextAttributes.h"

#include "Kestrovan/Apple/FrameHasher.h"

namespace kestrovan {

int underlineStyleNumber(UnderlineStyle style)
{
    switch (style) {
    case UnderlineStyle::double_:
        return UnderlineStyleNumber::double_;
    case UnderlineStyle::dotted:
        return UnderlineStyleNumber::dotted;
    case UnderlineStyle::dashed:
        return UnderlineStyleNumber::dashed;
    case UnderlineStyle::none:
    case UnderlineStyle::single:
    case UnderlineStyle::curly:
        break;
    }
    return UnderlineStyleNumber::single;
}

size_t SnapshotTextAttributes::hash() const
{
    FrameHasher hasher;
    hasher.feed(reinterpret_cast<uintptr_t>(font.get()));
    hasher.feed(foregroundColor);
    hasher.feed(backgroundColor);
    hasher.feed(shapeColor);
    hasher.feedByte(explicitBackground ? 1 : 0);
    hasher.feed(underlineColor);
    hasher.feed(uint64_t(underlineStyle));
    hasher.feed(uint64_t(kestrovanUnderlineStyle ? 1 + int(*kestrovanUnderlineStyle) : 0));
    hasher.feed(strikethroughColor);
    hasher.feed(uint64_t(strikethroughStyle));
    hasher.feed(selectionBackgroundColor);
    hasher.feed(uint64_t(glyphPolicy ? glyphPolicy->hash() : 0));
    hasher.feed(reinterpret_cast<uintptr_t>(glyphFallbackFont.get()));
    return static_cast<size_t>(hasher.finish());
}

} // namespace kestrovan
