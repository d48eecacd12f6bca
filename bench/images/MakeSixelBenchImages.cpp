// Writes the two source pictures of the Sixel decoding benchmark as binary PPM files into the
// directory given as the only argument; the build then encodes them with img2sixel. They are made
// here from a fixed seed, so no picture is kept in the repository.
//   photo-800x600.ppm        a photograph-like scene: sky and ground gradients, soft fractal
//                            texture and sensor noise, so that quantising it needs the whole
//                            palette and dithering touches every pixel.
//   screenshot-1920x1080.ppm a desktop-like screen: flat background, windows with title bars and
//                            lines of text-like glyph strokes in a few colours.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

struct Picture
{
    int width;
    int height;
    std::vector<uint8_t> rgb;

    Picture(int w, int h) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3) {}

    void set(int x, int y, int r, int g, int b)
    {
        uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        p[0] = uint8_t(std::clamp(r, 0, 255));
        p[1] = uint8_t(std::clamp(g, 0, 255));
        p[2] = uint8_t(std::clamp(b, 0, 255));
    }

    void fill(int x0, int y0, int w, int h, int r, int g, int b)
    {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x)
                set(x, y, r, g, b);
    }

    bool write(const std::string& path) const
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file)
            return false;
        std::fprintf(file, "P6\n%d %d\n255\n", width, height);
        const bool ok = std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
        return std::fclose(file) == 0 && ok;
    }
};

/// Smooth value noise on a lattice of `cell` pixels, in 0..1.
class ValueNoise
{
public:
    explicit ValueNoise(uint32_t seed) : random_(seed), lattice_(257 * 257)
    {
        for (float& v : lattice_)
            v = std::uniform_real_distribution<float>(0, 1)(random_);
    }

    float at(float x, float y) const
    {
        const int xi = int(x), yi = int(y);
        const float fx = x - float(xi), fy = y - float(yi);
        const auto v = [&](int i, int j) { return lattice_[size_t(((j & 255) * 257) + (i & 255))]; };
        const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        const float top = v(xi, yi) + (v(xi + 1, yi) - v(xi, yi)) * sx;
        const float bottom = v(xi, yi + 1) + (v(xi + 1, yi + 1) - v(xi, yi + 1)) * sx;
        return top + (bottom - top) * sy;
    }

    float fractal(float x, float y) const
    {
        float sum = 0, amplitude = 0.5f;
        for (int octave = 0; octave < 5; ++octave, x *= 2, y *= 2, amplitude /= 2)
            sum += amplitude * at(x, y);
        return sum;
    }

private:
    std::mt19937 random_;
    std::vector<float> lattice_;
};

Picture photo()
{
    Picture picture(800, 600);
    const ValueNoise noise(7);
    std::mt19937 grain(11);
    std::normal_distribution<float> sensor(0, 6);
    const int horizon = 260;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const float texture = noise.fractal(float(x) / 90, float(y) / 90);
            float r, g, b;
            if (y < horizon + int(40 * noise.fractal(float(x) / 200, 3))) {
                // Sky: blue towards the top, with clouds.
                const float t = float(y) / horizon;
                const float cloud = std::max(0.0f, texture - 0.45f) * 2.5f;
                r = 70 + 120 * t + 150 * cloud;
                g = 120 + 90 * t + 130 * cloud;
                b = 200 + 40 * t + 50 * cloud;
            } else {
                // Ground: fields of green and brown, darker towards the bottom.
                const float t = float(y - horizon) / float(picture.height - horizon);
                const float field = noise.fractal(float(x) / 40 + 50, float(y) / 25);
                r = 60 + 110 * field + 40 * texture - 30 * t;
                g = 90 + 100 * texture + 30 * field - 40 * t;
                b = 30 + 50 * field - 10 * t;
            }
            picture.set(x, y, int(r + sensor(grain)), int(g + sensor(grain)), int(b + sensor(grain)));
        }
    }
    return picture;
}

Picture screenshot()
{
    Picture picture(1920, 1080);
    std::mt19937 random(13);
    const auto pick = [&](int n) { return int(random() % uint32_t(n)); };
    picture.fill(0, 0, 1920, 1080, 38, 50, 72); // desktop
    picture.fill(0, 0, 1920, 32, 28, 28, 30);   // top bar
    const int palette[][3] = {{30, 30, 30}, {200, 60, 60}, {60, 140, 60}, {40, 90, 200}, {150, 90, 20}};
    const struct
    {
        int x, y, w, h;
        bool dark;
    } windows[] = {{60, 80, 1000, 700, false}, {900, 300, 960, 720, true}, {200, 600, 640, 420, false}};
    for (const auto& window : windows) {
        const int bg = window.dark ? 24 : 250;
        picture.fill(window.x + 8, window.y + 8, window.w, window.h, 20, 24, 32); // shadow
        picture.fill(window.x, window.y, window.w, window.h, bg, bg, bg);
        picture.fill(window.x, window.y, window.w, 36, 215, 215, 220); // title bar
        for (int button = 0; button < 3; ++button)
            picture.fill(window.x + window.w - 30 - button * 28, window.y + 10, 16, 16, 180 + button * 20, 80,
                         70);
        // Lines of "text": glyph-sized strokes in a few colours, words separated by spaces.
        for (int line = window.y + 50; line + 14 < window.y + window.h; line += 20) {
            int x = window.x + 12 + pick(3) * 32;
            const int end = window.x + window.w - 20 - pick(window.w / 2);
            while (x < end) {
                const int* colour = window.dark ? palette[1 + pick(4)] : palette[pick(5)];
                const int word = 2 + pick(9);
                for (int glyph = 0; glyph < word && x < end; ++glyph, x += 9) {
                    for (int stroke = 0; stroke < 3; ++stroke) {
                        const int sx = x + pick(6), sy = line + pick(10);
                        picture.fill(sx, sy, 1 + pick(2), 2 + pick(6), colour[0], colour[1], colour[2]);
                    }
                }
                x += 9;
            }
        }
    }
    return picture;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output-directory\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    if (!photo().write(directory + "/photo-800x600.ppm") ||
        !screenshot().write(directory + "/screenshot-1920x1080.ppm")) {
        std::perror("writing the benchmark pictures");
        return 1;
    }
    return 0;
}
