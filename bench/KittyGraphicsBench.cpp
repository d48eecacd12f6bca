// Kitty graphics transmission: a 1920 x 1080 image sent to a terminal as raw RGBA and as PNG, in
// one APC string and in chunks of 4096 base64 bytes, and stored. Reports MB/s of payload (the
// base64 bytes of the escape sequences) into the store.
//
// The image is a photograph-like pattern (smooth gradients with fixed-seed noise) so that the PNG
// is of realistic size. Each iteration transmits under the same id, which replaces the image, so
// the store holds one image throughout.
#include "BenchTerminal.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Platform/Image/PngImage.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

constexpr int width = 1920;
constexpr int height = 1080;

std::vector<uint8_t> photoLikeRgba()
{
    std::mt19937 random(20261207);
    std::vector<uint8_t> rgba(size_t{width} * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
            const int noise = int(random() % 9) - 4;
            pixel[0] = uint8_t(std::clamp(x * 255 / width + noise, 0, 255));
            pixel[1] = uint8_t(std::clamp(y * 255 / height + noise, 0, 255));
            pixel[2] = uint8_t(std::clamp((x + y) * 255 / (width + height) - noise, 0, 255));
            pixel[3] = 255;
        }
    }
    return rgba;
}

/// The escape sequences of one transmission, whole or in chunks.
std::string transmission(const std::string& keys, const std::string& payload, bool chunked)
{
    if (!chunked)
        return "\x1b_G" + keys + ";" + payload + "\x1b\\";
    std::string out;
    for (size_t at = 0; at < payload.size(); at += 4096) {
        const bool last = at + 4096 >= payload.size();
        out += "\x1b_G" + (at == 0 ? keys + "," : std::string()) + (last ? "m=0;" : "m=1;");
        out += payload.substr(at, 4096);
        out += "\x1b\\";
    }
    return out;
}

const std::string& rgbaPayload()
{
    static const std::string payload = base64Encode(photoLikeRgba());
    return payload;
}

const std::string& pngPayload()
{
    static const std::string payload = base64Encode(platform::encodePng(photoLikeRgba(), width, height));
    return payload;
}

void transmit(benchmark::State& state, const std::string& keys, const std::string& payload, bool chunked)
{
    const std::string input = transmission(keys, payload, chunked);
    const auto& delegate = bench::quietDelegate();
    std::shared_ptr<Terminal> terminal = Terminal::create(delegate, TerminalOptions::defaults());
    for (auto _ : state) {
        terminal->feed(input);
        benchmark::DoNotOptimize((*terminal->innerState().kittyGraphics).primary.totalImageBytes);
    }
    if ((*terminal->innerState().kittyGraphics).primary.imagesById.size() != 1)
        state.SkipWithError("the image was not stored");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
    state.counters["payloadMB"] = double(payload.size()) / 1e6;
}

void BM_KittyRgbaDirect(benchmark::State& state)
{
    transmit(state, "a=t,q=2,i=1,f=32,s=1920,v=1080", rgbaPayload(), false);
}
void BM_KittyRgbaChunked(benchmark::State& state)
{
    transmit(state, "a=t,q=2,i=1,f=32,s=1920,v=1080", rgbaPayload(), true);
}
void BM_KittyPngDirect(benchmark::State& state)
{
    transmit(state, "a=t,q=2,i=1,f=100", pngPayload(), false);
}
void BM_KittyPngChunked(benchmark::State& state)
{
    transmit(state, "a=t,q=2,i=1,f=100", pngPayload(), true);
}

BENCHMARK(BM_KittyRgbaDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KittyRgbaChunked)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KittyPngDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KittyPngChunked)->Unit(benchmark::kMillisecond);

} // namespace
