// A plain Sixel decoder for differential checks of `SixelDcsHandler`: the same rules written the
// slow, obvious way (a byte at a time, one pixel write per bit and repeat, a map for the palette,
// no cached state), so that the handler's fast passes can be compared against it on any input.
#pragma once

#include "Kestrovan/Color.h"
#include "Kestrovan/SixelDcsHandler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace kestrovan::testing {

struct SixelReferenceImage
{
    std::vector<uint8_t> rgba;
    int width = 0;
    int height = 0;
};

class SixelReferenceDecoder
{
public:
    SixelReferenceDecoder(std::span<const uint8_t> data, SixelDcsHandler::Limits limits,
                          const std::vector<Color>& defaults)
        : d(data.begin(), data.end()), maxPixels(int64_t(std::min<size_t>(limits.maximumPixels, INT32_MAX))),
          maxWrites(int64_t(limits.maximumPixelWrites)), defaults(defaults)
    {
        if (data.size() > limits.maximumInputBytes)
            invalid = true;
    }

    /// The image, or nothing when it is dropped.
    std::optional<SixelReferenceImage> decode()
    {
        if (invalid || d.empty())
            return std::nullopt;
        size_t p = 0;
        while (p < d.size() && !invalid) {
            if (d[p] == '#') {
                ++p;
                if (list(p).empty())
                    break;
            } else if (!size(p)) {
                break;
            }
        }
        const int64_t w = std::max(x, maxX), h = maxY;
        if (invalid || w < 1 || h < 1 || w > maxPixels / h)
            return std::nullopt;
        SixelReferenceImage image{std::vector<uint8_t>(size_t(w * h * 4)), int(w), int(h)};
        x = y = 0;
        p = 0;
        int64_t color = 15;
        while (p < d.size()) {
            if (invalid)
                return std::nullopt;
            if (d[p] == '#') {
                ++p;
                const std::vector<int64_t> l = list(p);
                if (l.empty())
                    break;
                color = l[0];
                define(l);
            } else if (!paint(p, color, image)) {
                break;
            }
        }
        if (invalid)
            return std::nullopt;
        return image;
    }

private:
    std::optional<int64_t> number(size_t& p)
    {
        if (p >= d.size() || d[p] < '0' || d[p] > '9')
            return std::nullopt;
        int64_t v = 0;
        for (; p < d.size() && d[p] >= '0' && d[p] <= '9'; ++p) {
            if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, d[p] - '0', &v)) {
                invalid = true;
                p = d.size();
                return std::nullopt;
            }
        }
        return v;
    }

    std::vector<int64_t> list(size_t& p)
    {
        std::vector<int64_t> out;
        for (;;) {
            if (p < d.size() && d[p] == ';' && p != d.size() - 1)
                ++p;
            const auto n = number(p);
            if (!n)
                return out;
            if (out.size() == 32) {
                invalid = true;
                return out;
            }
            out.push_back(*n);
        }
    }

    bool size(size_t& p)
    {
        const size_t start = p;
        int64_t r = 1;
        while (p < d.size() && d[p] != '#' && !invalid) {
            const uint8_t b = d[p++];
            if (b == '$') {
                maxX = std::max(maxX, x), x = 0;
            } else if (b == '-') {
                if (y + 6 > maxPixels)
                    invalid = true;
                else
                    y += 6, maxX = std::max(maxX, x), x = 0;
            } else if (b == '!') {
                if (const auto n = number(p)) {
                    if (*n > maxPixels)
                        invalid = true;
                    else
                        r = std::max<int64_t>(*n, 1);
                }
            } else if (b == '"') {
                const std::vector<int64_t> l = list(p);
                if (l.size() >= 4 && (l[2] > maxPixels || l[3] > maxPixels || l[2] * l[3] > maxPixels))
                    invalid = true;
            } else if (b >= 0x3F && b <= 0x7E) {
                const int bits = b - 0x3F;
                if (x + r > maxPixels) {
                    invalid = true;
                    continue;
                }
                const int n = __builtin_popcount(unsigned(bits));
                if (bits != 0) {
                    if (writes + r * n > maxWrites) {
                        invalid = true;
                        continue;
                    }
                    writes += r * n;
                }
                x += r;
                for (int k = 0; k < 6; ++k) {
                    if (bits & (1 << k)) {
                        if (y + k + 1 > maxPixels)
                            invalid = true;
                        else
                            maxY = std::max(maxY, y + k + 1);
                    }
                }
                const int64_t w = std::max(x, maxX);
                if (w > maxPixels || maxY > maxPixels || w * maxY > maxPixels)
                    invalid = true;
                r = 1;
            }
        }
        return p != start;
    }

    bool paint(size_t& p, int64_t c, SixelReferenceImage& image)
    {
        uint8_t rgba[4] = {0, 0, 0, 0};
        if (const auto found = palette.find(c); found != palette.end()) {
            for (int i = 0; i < 4; ++i)
                rgba[i] = uint8_t(found->second >> (24 - 8 * i));
        } else if (c < int64_t(defaults.size())) {
            const Color& color = defaults[size_t(c)];
            rgba[0] = uint8_t(color.red() >> 8), rgba[1] = uint8_t(color.green() >> 8);
            rgba[2] = uint8_t(color.blue() >> 8), rgba[3] = 255;
        }
        const size_t start = p;
        int64_t r = 1;
        while (p < d.size() && d[p] != '#' && !invalid) {
            const uint8_t b = d[p++];
            if (b == '$') {
                x = 0;
            } else if (b == '-') {
                x = 0, y += 6;
            } else if (b == '!') {
                if (const auto n = number(p))
                    r = std::max<int64_t>(*n, 1);
            } else if (b == '"') {
                list(p);
            } else if (b == '?') {
                x += r, r = 1;
            } else if (b >= 0x40 && b <= 0x7E) {
                for (int64_t i = 0; i < r; ++i, ++x) {
                    for (int k = 0; k < 6; ++k) {
                        if ((b - 0x3F) & (1 << k))
                            std::copy(rgba, rgba + 4, &image.rgba[size_t(((y + k) * image.width + x) * 4)]);
                    }
                }
                r = 1;
            }
        }
        return p != start;
    }

    void define(const std::vector<int64_t>& l)
    {
        if (l.size() < 5)
            return;
        const auto pct = [](int64_t v) { return uint32_t(std::clamp<int64_t>(v, 0, 100) * 255 / 100); };
        uint32_t value;
        if (l[1] == 2) {
            value = pct(l[2]) << 24 | pct(l[3]) << 16 | pct(l[4]) << 8 | 255;
        } else if (l[1] == 1) {
            value = hls(std::clamp<int64_t>(l[2], 0, 360), std::clamp<int64_t>(l[3], 0, 100),
                        std::clamp<int64_t>(l[4], 0, 100))
                        << 8 |
                    255;
        } else {
            return;
        }
        if (!palette.count(l[0]) && palette.size() >= SixelDcsHandler::maximumColorRegisters) {
            invalid = true;
            return;
        }
        palette[l[0]] = value;
    }

    static uint32_t hls(int64_t hue, int64_t lum, int64_t sat)
    {
        const auto byte = [](double v) {
            return uint32_t(std::clamp<int64_t>(int64_t(v), 0, 100) * 255 / 100);
        };
        if (sat == 0)
            return byte(double(lum)) * 0x010101u;
        const int64_t h = (hue + 240) % 360;
        const double half = (1 - std::fabs(2.0 * double(lum) / 100 - 1)) * double(sat) / 2;
        const double mx = double(lum) + half, mn = double(lum) - half, dd = mx - mn;
        const double hd = double(h);
        double rgb[6][3] = {{mx, mn + hd / 60 * dd, mn},         {mn + (120 - hd) / 60 * dd, mx, mn},
                            {mn, mx, mn + (hd - 120) / 60 * dd}, {mn, mn + (240 - hd) / 60 * dd, mx},
                            {mn + (hd - 240) / 60 * dd, mn, mx}, {mx, mn, mn + (360 - hd) / 60 * dd}};
        const double* c = rgb[h / 60];
        return byte(c[0]) << 16 | byte(c[1]) << 8 | byte(c[2]);
    }

    std::vector<uint8_t> d;
    int64_t maxPixels;
    int64_t maxWrites;
    const std::vector<Color>& defaults;
    bool invalid = false;
    int64_t x = 0, y = 0, maxX = 0, maxY = 0, writes = 0;
    std::map<int64_t, uint32_t> palette;
};

} // namespace kestrovan::testing
