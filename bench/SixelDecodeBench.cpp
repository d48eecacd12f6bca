// Sixel decoding throughput against libsixel, on the same two images in the same run:
// - photo: an 800x600 photograph-like picture, 256 colours with dithering, so nearly every sixel
//   byte is distinct and each band is redrawn once per colour;
// - screenshot: a 1920x1080 desktop-like picture, flat areas in long repeats and thin text strokes.
// Both are made by the build (bench/images) and encoded by img2sixel, so what is decoded is what a
// program using libsixel sends.
//
// Measured:
// - Handler: the DCS q handler alone (`hook`, one `put` of the payload, `unhook`), delivering the
//   RGBA bitmap to a host that keeps it.
// - Feed: the whole DCS string fed to a terminal: the parser's DCS passthrough and the handler.
// - Libsixel: `sixel_decode_raw` on the same string. It produces palette indexes, one byte per
//   pixel, where we produce four bytes of RGBA, so it is the stricter yardstick.
// Rates are bytes of Sixel data and pixels per second; main prints our rate over libsixel's.
#include "BenchRatio.h"

#include "Kestrovan/SixelDcsHandler.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sixel.h>
#include <string>
#include <vector>

namespace {

using namespace kestrovan;

struct SixelImage
{
    /// The whole DCS string as img2sixel wrote it.
    std::string dcs;
    /// The payload between the "q" and the string terminator.
    std::string payload;
};

SixelImage load(const char* name)
{
    const std::string path = std::string(KESTROVAN_SIXEL_BENCH_DIR) + "/" + name;
    std::ifstream file(path, std::ios::binary);
    SixelImage image;
    image.dcs.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    const size_t q = image.dcs.find('q');
    const size_t st = image.dcs.rfind("\x1b\\");
    if (image.dcs.compare(0, 2, "\x1bP") != 0 || q == std::string::npos || st == std::string::npos ||
        st < q) {
        std::fprintf(stderr, "%s is not a 7-bit Sixel string\n", path.c_str());
        std::exit(1);
    }
    image.payload = image.dcs.substr(q + 1, st - q - 1);
    return image;
}

const SixelImage& photo()
{
    static const SixelImage image = load("photo-800x600.six");
    return image;
}

const SixelImage& screenshot()
{
    static const SixelImage image = load("screenshot-1920x1080.six");
    return image;
}

/// A host that takes each bitmap over, as a view making an image of it would.
class BitmapHost : public TerminalDelegate
{
public:
    std::vector<uint8_t> last;
    int width = 0;
    int height = 0;

    void send(Terminal&, Bytes) override {}
    void createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int w, int h) override
    {
        last.swap(bytes);
        width = w;
        height = h;
    }
};

void report(benchmark::State& state, const SixelImage& image, int64_t pixels)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.dcs.size()));
    state.counters["pixels_per_second"] =
        benchmark::Counter(double(pixels) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void handler(benchmark::State& state, const SixelImage& image)
{
    auto host = std::make_shared<BitmapHost>();
    auto terminal = Terminal::create(host);
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.payload.data());
    for (auto _ : state) {
        SixelDcsHandler decoder(terminal, SixelDcsHandler::Limits{});
        decoder.hook({}, CsiParameters(), 'q');
        decoder.put({bytes, image.payload.size()});
        decoder.unhook();
        benchmark::DoNotOptimize(host->last.data());
    }
    if (host->width == 0)
        state.SkipWithError("the image was not decoded");
    report(state, image, int64_t(host->width) * host->height);
}

void feed(benchmark::State& state, const SixelImage& image)
{
    auto host = std::make_shared<BitmapHost>();
    auto terminal = Terminal::create(host);
    for (auto _ : state) {
        terminal->feed(image.dcs);
        benchmark::DoNotOptimize(host->last.data());
    }
    if (host->width == 0)
        state.SkipWithError("the image was not decoded");
    report(state, image, int64_t(host->width) * host->height);
}

void libsixel(benchmark::State& state, const SixelImage& image)
{
    std::vector<unsigned char> input(image.dcs.begin(), image.dcs.end());
    sixel_allocator_t* allocator = nullptr;
    if (SIXEL_FAILED(sixel_allocator_new(&allocator, nullptr, nullptr, nullptr, nullptr))) {
        state.SkipWithError("no libsixel allocator");
        return;
    }
    int width = 0;
    int height = 0;
    for (auto _ : state) {
        unsigned char* pixels = nullptr;
        unsigned char* palette = nullptr;
        int colors = 0;
        if (SIXEL_FAILED(sixel_decode_raw(input.data(), int(input.size()), &pixels, &width, &height, &palette,
                                          &colors, allocator))) {
            state.SkipWithError("libsixel could not decode the image");
            break;
        }
        benchmark::DoNotOptimize(pixels);
        sixel_allocator_free(allocator, pixels);
        sixel_allocator_free(allocator, palette);
    }
    sixel_allocator_unref(allocator);
    report(state, image, int64_t(width) * height);
}

BENCHMARK_CAPTURE(handler, photo, photo())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feed, photo, photo())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libsixel, photo, photo())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(handler, screenshot, screenshot())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feed, screenshot, screenshot())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(libsixel, screenshot, screenshot())->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // With --benchmark_repetitions the medians are compared, else the single runs.
    const auto timeOf = [&](const std::string& name) {
        for (const std::string& key : {name + "_median", name}) {
            if (const auto found = reporter.timePerIteration.find(key);
                found != reporter.timePerIteration.end())
                return found->second;
        }
        return 0.0;
    };
    for (const char* image : {"photo", "screenshot"}) {
        const double peer = timeOf(std::string("libsixel/") + image);
        for (const char* ours : {"handler", "feed"}) {
            const double time = timeOf(std::string(ours) + "/" + image);
            if (peer > 0 && time > 0)
                std::printf("%s/%s: %.2fx libsixel's speed\n", ours, image, peer / time);
        }
    }
    benchmark::Shutdown();
    return 0;
}
