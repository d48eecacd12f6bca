// MetalColorSIMDCache: conversion to four floats and the two bounded maps.
#include "Kestrovan/Apple/Metal/MetalColorSIMDCache.h"

#include <functional>

namespace kestrovan {

MetalColorSIMDCache::MetalColorSIMDCache(size_t maxEntries, size_t maxRGBEntries, size_t reserved)
    : maxEntries_(maxEntries), maxRGBEntries_(maxRGBEntries)
{
    entries_.reserve(reserved);
    rgbEntries_.reserve(reserved);
}

size_t MetalColorSIMDCache::ColorHash::operator()(const platform::NativeColor& color) const
{
    // +0 and -0 compare equal and must hash alike; adding 0.0 turns -0 into +0.
    const std::hash<double> component;
    size_t hash = size_t(color.space);
    for (double value : {color.red, color.green, color.blue, color.alpha})
        hash = hash * 1'000'003 + component(value + 0.0);
    return hash;
}

ColorSIMD MetalColorSIMDCache::convert(const platform::NativeColor& color)
{
    const platform::NativeColor device = color.usingSRGB().value_or(color);
    return ColorSIMD{float(device.red), float(device.green), float(device.blue), float(device.alpha)};
}

ColorSIMD MetalColorSIMDCache::lookup(const platform::NativeColor& color)
{
    if (const auto found = entries_.find(color); found != entries_.end())
        return found->second;
    const ColorSIMD converted = convert(color);
    if (entries_.size() >= maxEntries_)
        entries_.clear();
    entries_.emplace(color, converted);
    return converted;
}

ColorSIMD MetalColorSIMDCache::lookupRGB(uint32_t packedRGB)
{
    const uint32_t key = packedRGB & 0xFFFFFF;
    if (const auto found = rgbEntries_.find(key); found != rgbEntries_.end())
        return found->second;
    const ColorSIMD converted = convert(platform::NativeColor::sRGB(
        (key & 0xFF) / 255.0, ((key >> 8) & 0xFF) / 255.0, ((key >> 16) & 0xFF) / 255.0, 1.0));
    if (rgbEntries_.size() >= maxRGBEntries_)
        rgbEntries_.clear();
    rgbEntries_.emplace(key, converted);
    return converted;
}

} // namespace kestrovan
