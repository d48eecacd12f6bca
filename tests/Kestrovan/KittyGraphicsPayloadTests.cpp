// The keys of APC G commands, and the decoding of their payloads: base64, zlib, raw RGB and RGBA,
// and PNG.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include "Kestrovan/KittyGraphicsControl.h"
#include "Kestrovan/KittyGraphicsPayload.h"
#include "Kestrovan/KittyGraphicsZlib.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using testing::base64;
using testing::zlibCompress;

std::optional<KittyGraphicsControl> keys(std::string_view text)
{
    const auto parsed = parseKittyGraphicsControl(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    if (!parsed)
        return std::nullopt;
    return parsed->first;
}

std::span<const uint8_t> bytesOf(const std::string& text)
{
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(KittyGraphicsControl, KeysParseAsTheProtocolSays)
{
    const std::string body = "a=T,f=24,s=1,v=1;AAAA;x";
    const auto parsed = parseKittyGraphicsControl(bytesOf(body));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->first.action, 'T');
    EXPECT_EQ(parsed->first.format, 24);
    EXPECT_EQ(std::string(parsed->second.begin(), parsed->second.end()), "AAAA;x")
        << "split at the first ';'";

    const KittyGraphicsControl defaults = *keys("");
    EXPECT_EQ(defaults, KittyGraphicsControl());
    EXPECT_EQ(defaults.action, 't');
    EXPECT_EQ(defaults.format, 32);
    EXPECT_EQ(defaults.transmission, 'd');

    EXPECT_EQ(keys("a=116")->action, 't') << "a number names a character";
    EXPECT_EQ(keys("a=300")->action, 't') << "a code of 256 or more is absent";
    EXPECT_EQ(keys("i=0")->imageId, std::nullopt);
    EXPECT_EQ(keys("i=5,i=6")->imageId, 6u) << "a later item replaces an earlier one";
    EXPECT_EQ(keys("z=-5")->zIndex, -5);
    EXPECT_EQ(keys("H=-2147483648")->offsetH, -2147483648LL);
    EXPECT_EQ(keys("s=4294967295")->width, 4294967295LL);
    EXPECT_EQ(keys("s=-0")->width, 0) << "minus zero reads as 0";
    EXPECT_EQ(keys("s=+7")->width, 7);
    EXPECT_EQ(keys("q=7")->suppressResponses, 2);
    EXPECT_EQ(keys("q=1")->suppressResponses, 1);
    EXPECT_EQ(keys("m=1")->more, 1);
    EXPECT_EQ(keys("m=1,t=f")->more, 0) << "only the direct medium is chunked";
    EXPECT_EQ(keys("N=3")->usage, 3u);
    EXPECT_EQ(keys("o=z")->compression, uint8_t{'z'});
    EXPECT_EQ(keys("d=A")->deleteMode, uint8_t{'A'});

    // Skipped items leave the keys alone.
    for (const char* skipped : {"ab=5", "9=5", "s=", "s", "s=123456789012", "=5", ",,"})
        EXPECT_EQ(keys(skipped), KittyGraphicsControl()) << skipped;
    EXPECT_EQ(keys("s=12,")->width, 12) << "a trailing ',' is fine";

    // A malformed value drops the whole command.
    for (const char* dropped :
         {"s=-1", "s=12x", "x=-5", "z=2147483648", "s=4294967296", "s=1-", "s=--1", "i=\xff\xff"})
        EXPECT_EQ(keys(dropped), std::nullopt) << dropped;
}

TEST(KittyGraphicsPayload, DirectMediumDecodesRawFormatsAndNamesEachFailure)
{
    const KittyGraphicsConfiguration configuration;
    auto load = [&](std::string_view keyText, const std::string& payload) {
        return loadKittyPayload(*keys(keyText), bytesOf(payload), configuration);
    };
    const std::string rgb = base64(std::vector<uint8_t>{10, 20, 30, 40, 50, 60});
    const KittyPayloadResult decoded = load("f=24,s=2,v=1", rgb);
    ASSERT_TRUE(decoded.payload);
    EXPECT_EQ(decoded.payload->rgba(), (std::vector<uint8_t>{10, 20, 30, 255, 40, 50, 60, 255}));
    EXPECT_EQ(load("f=0,s=1,v=1", base64(std::vector<uint8_t>{1, 2, 3, 4})).payload->rgba(),
              (std::vector<uint8_t>{1, 2, 3, 4}))
        << "format 0 reads as 32";

    const struct
    {
        const char* keys;
        std::string payload;
        const char* error;
    } failures[] = {
        {"f=24,s=2,v=1", "", "EINVAL: invalid data"},
        {"f=24,s=2,v=1", "AAA", "EINVAL: invalid data"},
        {"f=24,s=2,v=1", "AA\nA", "EINVAL: invalid data"},
        {"f=25,s=2,v=1", rgb, "EINVAL: unsupported format"},
        {"f=32", rgb, "EINVAL: dimensions required"},
        {"f=32,s=10001,v=1", rgb, "EINVAL: dimensions too large"},
        {"f=24,s=2,v=1,o=x", rgb, "EINVAL: unsupported format"},
        {"f=24,s=2,v=1,o=z", rgb, "EINVAL: decompression failed"},
        {"f=24,s=2,v=1", base64(std::vector<uint8_t>(5, 0)), "ENODATA: insufficient data"},
        {"f=24,s=2,v=1", base64(std::vector<uint8_t>(7, 0)), "EINVAL: invalid data"},
        {"f=100", base64("not a png"), "EINVAL: invalid data"},
    };
    for (const auto& failure : failures) {
        const KittyPayloadResult result = load(failure.keys, failure.payload);
        EXPECT_FALSE(result.payload) << failure.keys;
        EXPECT_EQ(result.error, std::string(failure.error)) << failure.keys << " " << failure.payload;
    }
    // An animation frame may carry extra bytes; they are ignored.
    const KittyPayloadResult frame = load("a=f,f=24,s=2,v=1", base64(std::vector<uint8_t>(7, 5)));
    ASSERT_TRUE(frame.payload);
    EXPECT_EQ(frame.payload->rgba().size(), 8u);
}

TEST(KittyGraphicsPayload, ZlibFramingLimitsAndChecksum)
{
    std::vector<uint8_t> pixels(3 * 4 * 4);
    for (size_t index = 0; index < pixels.size(); ++index)
        pixels[index] = static_cast<uint8_t>(index);
    const std::vector<uint8_t> stream = zlibCompress(pixels);
    EXPECT_EQ(decompressZlib(stream, 1 << 20), pixels);
    EXPECT_EQ(decompressZlib(stream, static_cast<int64_t>(pixels.size())), pixels) << "exactly at the limit";
    EXPECT_EQ(decompressZlib(stream, static_cast<int64_t>(pixels.size()) - 1), std::nullopt)
        << "past the limit";
    EXPECT_EQ(decompressZlib(stream, 0), std::nullopt);

    std::vector<uint8_t> badChecksum = stream;
    badChecksum.back() ^= 1;
    std::vector<uint8_t> dictionary = stream;
    // FDICT set, and the check bits (the low five) made valid again.
    dictionary[1] = static_cast<uint8_t>((dictionary[1] | 0x20) & 0xE0);
    dictionary[1] =
        static_cast<uint8_t>(dictionary[1] + (31 - (dictionary[0] * 256 + dictionary[1]) % 31) % 31);
    std::vector<uint8_t> wrongMethod = stream;
    wrongMethod[0] = 0x79;
    const std::vector<uint8_t> truncated(stream.begin(), stream.end() - 6);
    for (const auto& bad : {badChecksum, dictionary, wrongMethod, truncated, std::vector<uint8_t>(5, 0x78)})
        EXPECT_EQ(decompressZlib(bad, 1 << 20), std::nullopt);
    EXPECT_EQ(decompressZlib(zlibCompress({}), 1 << 20), std::nullopt) << "empty output is a failure";

    // Large outputs grow from the first buffer by doubling.
    const std::vector<uint8_t> large(3'000'000, 42);
    EXPECT_EQ(decompressZlib(zlibCompress(large), 400'000'000), large);

    // Through the loader: the limit is the expected image size, not the quota.
    KittyGraphicsConfiguration configuration;
    const std::string payload = base64(zlibCompress(pixels));
    const auto exact = loadKittyPayload(*keys("f=32,s=3,v=4,o=z"), bytesOf(payload), configuration);
    ASSERT_TRUE(exact.payload);
    EXPECT_EQ(exact.payload->rgba(), pixels);
    const auto smaller = loadKittyPayload(*keys("f=32,s=3,v=3,o=z"), bytesOf(payload), configuration);
    EXPECT_EQ(smaller.error, std::string("EINVAL: decompression failed"));
}

TEST(KittyGraphicsPayload, PngDecodesToStraightAlphaAndBadHeadersAreRefusedBeforeDecoding)
{
    const std::vector<uint8_t> rgba = {128, 0, 0, 128, 0, 255, 0, 255, 1, 2, 3, 0, 40, 50, 60, 70};
    const std::vector<uint8_t> png = platform::encodePng(rgba, 2, 2);
    const auto decoded = decodePngToRgba(png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 2);
    EXPECT_EQ(decoded->height, 2);
    EXPECT_EQ(decoded->rgba(), rgba) << "semi-transparent pixels keep straight alpha";

    KittyGraphicsConfiguration configuration;
    const auto loaded = loadKittyPayload(*keys("f=100"), bytesOf(base64(png)), configuration);
    ASSERT_TRUE(loaded.payload) << loaded.error.value_or("");
    EXPECT_EQ(loaded.payload->width, 2) << "the image's own size";

    auto withHeader = [&](uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType) {
        std::vector<uint8_t> copy = png;
        for (int shift = 0; shift < 4; ++shift) {
            copy[16 + shift] = static_cast<uint8_t>(width >> (24 - 8 * shift));
            copy[20 + shift] = static_cast<uint8_t>(height >> (24 - 8 * shift));
        }
        copy[24] = depth;
        copy[25] = colorType;
        return copy;
    };
    EXPECT_TRUE(validateKittyPNGHeader(withHeader(10000, 10000, 8, 6)));
    EXPECT_FALSE(validateKittyPNGHeader(withHeader(10001, 1, 8, 6)));
    EXPECT_FALSE(validateKittyPNGHeader(withHeader(1, 0, 8, 6)));
    EXPECT_FALSE(validateKittyPNGHeader(withHeader(1, 1, 4, 2))) << "RGB needs 8 or 16 bits";
    EXPECT_FALSE(validateKittyPNGHeader(withHeader(1, 1, 16, 3))) << "palettes stop at 8 bits";
    EXPECT_FALSE(validateKittyPNGHeader(withHeader(1, 1, 8, 5)));
    EXPECT_FALSE(validateKittyPNGHeader(std::vector<uint8_t>(png.begin(), png.begin() + 32)));
    // A header that lies about the size does not decode (its checksum and data disagree).
    EXPECT_FALSE(decodePngToRgba(withHeader(3, 2, 8, 6)));
    EXPECT_FALSE(decodePngToRgba(std::vector<uint8_t>(png.begin(), png.end() - 20))) << "cut short";

    // Against a quota, a PNG whose header is too big is refused as out of memory without decoding.
    const auto big = loadKittyPayload(*keys("f=100"), bytesOf(base64(withHeader(5000, 5000, 8, 6))),
                                      configuration, 10'000'000);
    EXPECT_EQ(big.error, std::string("ENOMEM: out of memory"));
}

TEST(KittyGraphicsPayload, EveryPngLayoutBecomesRgba)
{
    // Grey, grey with alpha, palette with transparency and 16-bit RGB, written by hand with zlib.
    auto chunk = [](std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
        const uint32_t length = static_cast<uint32_t>(data.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(length >> shift));
        std::vector<uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        out.insert(out.end(), body.begin(), body.end());
        const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(crc >> shift));
    };
    auto build = [&](uint8_t depth, uint8_t colorType, const std::vector<uint8_t>& row,
                     const std::vector<std::pair<const char*, std::vector<uint8_t>>>& extra) {
        std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        chunk(out, "IHDR", {0, 0, 0, 2, 0, 0, 0, 1, depth, colorType, 0, 0, 0});
        for (const auto& [type, data] : extra)
            chunk(out, type, data);
        std::vector<uint8_t> raw = {0};
        raw.insert(raw.end(), row.begin(), row.end());
        chunk(out, "IDAT", zlibCompress(raw));
        chunk(out, "IEND", {});
        return out;
    };
    const struct
    {
        const char* name;
        std::vector<uint8_t> png;
        std::vector<uint8_t> rgba;
    } cases[] = {
        {"grey", build(8, 0, {0, 200}, {}), {0, 0, 0, 255, 200, 200, 200, 255}},
        {"grey 1-bit", build(1, 0, {0x40}, {}), {0, 0, 0, 255, 255, 255, 255, 255}},
        {"grey and alpha", build(8, 4, {9, 10, 11, 12}, {}), {9, 9, 9, 10, 11, 11, 11, 12}},
        {"palette",
         build(8, 3, {1, 0}, {{"PLTE", {1, 2, 3, 4, 5, 6}}, {"tRNS", {7}}}),
         {4, 5, 6, 255, 1, 2, 3, 7}},
        {"16-bit RGB",
         build(16, 2, {0xFF, 0xFF, 0, 0, 0x80, 0x80, 0, 0, 0, 0, 0, 0}, {}),
         {255, 0, 128, 255, 0, 0, 0, 255}},
    };
    for (const auto& item : cases) {
        const auto decoded = decodePngToRgba(item.png);
        ASSERT_TRUE(decoded) << item.name;
        EXPECT_EQ(decoded->rgba(), item.rgba) << item.name;
    }
}

} // namespace
} // namespace kestrovan
