// The Sixel decoder: payloads handed straight to a `SixelDcsHandler` in pieces, each result checked
// against the plain reference decoder of the tests, pixel for pixel.
//
// The first input byte picks the limits (bits 0-1: the terminal's own, or one of three small sets
// that make every limit reachable with short inputs) and how the payload is cut (bits 2-7: 0 is one
// piece, otherwise the seed of a run of random piece sizes). The rest is the payload. Besides the
// sanitizers, a delivered bitmap must be the reference's, at least 1 x 1, within `maximumPixels`
// and exactly width x height x 4 bytes; a dropped image must be dropped by the reference too.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"
#include "tests/Kestrovan/SixelReferenceDecoder.h"

#include "Kestrovan/SixelDcsHandler.h"

#include <cstdio>
#include <cstdlib>

namespace {

using namespace kestrovan;

[[noreturn]] void fail(const char* reason)
{
    std::fprintf(stderr, "Sixel decoder: %s\n", reason);
    std::abort();
}

SixelDcsHandler::Limits limitsFor(uint8_t selector)
{
    switch (selector & 0x03) {
    case 0:
        return {};
    case 1:
        return {4096, 4096, 16384};
    case 2:
        return {512, 600, 300};
    default:
        return {64, 36, 1 << 20};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static testing::TerminalFixture fixture(20, 5, 10);
    auto& bitmaps = fixture.delegate->bitmaps;
    bitmaps.clear();

    const SixelDcsHandler::Limits limits = limitsFor(data[0]);
    uint32_t chunkSeed = data[0] >> 2;
    const std::span<const uint8_t> payload(data + 1, size - 1);

    SixelDcsHandler handler(fixture.terminal, limits);
    handler.hook({}, CsiParameters(), 'q');
    size_t at = 0;
    while (at < payload.size()) {
        size_t piece = payload.size() - at;
        if (chunkSeed != 0) {
            chunkSeed ^= chunkSeed << 13;
            chunkSeed ^= chunkSeed >> 17;
            chunkSeed ^= chunkSeed << 5;
            piece = std::min<size_t>(piece, chunkSeed % 64 + 1);
        }
        handler.put(payload.subspan(at, piece));
        at += piece;
    }
    handler.unhook();

    const auto expected =
        testing::SixelReferenceDecoder(payload, limits, fixture.terminal->palette().defaultAnsiColors())
            .decode();
    if (bitmaps.size() > 1)
        fail("more than one image for one string");
    if (bitmaps.empty() != !expected)
        fail(expected ? "an image the reference keeps was dropped" : "an image the reference drops was kept");
    if (expected) {
        const auto& got = bitmaps[0];
        if (got.width < 1 || got.height < 1 ||
            uint64_t(got.width) * uint64_t(got.height) > limits.maximumPixels)
            fail("a bitmap outside the limits");
        if (got.rgba.size() != size_t(got.width) * size_t(got.height) * 4)
            fail("a bitmap whose size is not width x height x 4");
        if (got.width != expected->width || got.height != expected->height || got.rgba != expected->rgba)
            fail("a bitmap that differs from the reference");
    }
    return 0;
}
