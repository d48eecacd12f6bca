// The keys the renderer's caches use for fonts: by value (the same face at the same size, however
// many font objects stand for it) or by object (this very font object).
//
// Both keep their font alive, so that a font object's identity cannot be reused while it is a key.
#pragma once

#include "Platform/Text/Font.h"

#include <cstddef>
#include <functional>

namespace kestrovan {

/// A font compared by value: equal when both are the same face at the same size.
struct CoreTextFontIdentity
{
    platform::FontRef font;
    size_t coreTextHash = 0;

    explicit CoreTextFontIdentity(platform::FontRef value)
        : font(std::move(value)), coreTextHash(font ? font->valueHash() : 0)
    {}

    friend bool operator==(const CoreTextFontIdentity& a, const CoreTextFontIdentity& b)
    {
        if (!a.font || !b.font)
            return a.font == b.font;
        return a.coreTextHash == b.coreTextHash && a.font->isSameFont(*b.font);
    }
};

/// A font compared by object: equal only for the same font object.
struct RetainedFontIdentity
{
    platform::FontRef font;
    uint64_t identifier = 0;

    explicit RetainedFontIdentity(platform::FontRef value)
        : font(std::move(value)), identifier(font ? font->id() : 0)
    {}

    friend bool operator==(const RetainedFontIdentity& a, const RetainedFontIdentity& b)
    {
        return a.identifier == b.identifier;
    }
};

/// A font object and a drawing scale: the key of the renderer's fonts scaled for drawing.
struct ScaledFontKey
{
    RetainedFontIdentity sourceFont;
    double scale = 1;

    friend bool operator==(const ScaledFontKey& a, const ScaledFontKey& b)
    {
        return a.sourceFont == b.sourceFont && a.scale == b.scale;
    }
};

/// A scale's hash in which +0 and -0, which compare equal, hash alike.
inline size_t scaleHash(double scale)
{
    return std::hash<double>()(scale == 0 ? 0.0 : scale);
}

} // namespace kestrovan

template <> struct std::hash<kestrovan::CoreTextFontIdentity>
{
    size_t operator()(const kestrovan::CoreTextFontIdentity& key) const { return key.coreTextHash; }
};

template <> struct std::hash<kestrovan::RetainedFontIdentity>
{
    size_t operator()(const kestrovan::RetainedFontIdentity& key) const
    {
        return std::hash<uint64_t>()(key.identifier);
    }
};

template <> struct std::hash<kestrovan::ScaledFontKey>
{
    size_t operator()(const kestrovan::ScaledFontKey& key) const
    {
        return std::hash<kestrovan::RetainedFontIdentity>()(key.sourceFont) * 31 +
               kestrovan::scaleHash(key.scale);
    }
};
