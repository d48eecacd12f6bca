// Sixel images: the bitmaps DCS q strings decode to, as the host receives them through
// `createImageFromBitmap`; the limits that drop an image; and the fast decoder against a plain
// reference on random payloads.
#include "RecordingTerminalDelegate.h"
#include "SixelReferenceDecoder.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

namespace kestrovan::testing {
namespace {

using Limits = SixelDcsHandler::Limits;

std::string dcsSixel(std::string_view payload)
{
    return "\x1bPq" + std::string(payload) + "\x1b\\";
}

/// The bitmap as rows of one letter per pixel, rows joined by "|": R, G, B for the pure colours,
/// g for mid grey, W for the terminal's default colour 15, "." for transparent, "?" otherwise.
std::string picture(const RecordingTerminalDelegate::Bitmap& bitmap, const Terminal& terminal)
{
    const Color& white = terminal.palette().defaultAnsiColors()[15];
    const std::map<std::array<uint8_t, 4>, char> legend = {
        {{255, 0, 0, 255}, 'R'},
        {{0, 255, 0, 255}, 'G'},
        {{0, 0, 255, 255}, 'B'},
        {{127, 127, 127, 255}, 'g'},
        {{uint8_t(white.red() >> 8), uint8_t(white.green() >> 8), uint8_t(white.blue() >> 8), 255}, 'W'},
        {{0, 0, 0, 0}, '.'},
    };
    std::string out;
    for (int y = 0; y < bitmap.height; ++y) {
        if (y > 0)
            out += '|';
        for (int x = 0; x < bitmap.width; ++x) {
            const uint8_t* p = &bitmap.rgba[size_t((y * bitmap.width + x) * 4)];
            const auto found = legend.find({p[0], p[1], p[2], p[3]});
            out += found == legend.end() ? '?' : found->second;
        }
    }
    return out;
}

/// What the host receives for one payload: the picture, or "dropped".
std::string decoded(std::string_view payload)
{
    TerminalFixture fixture;
    fixture.t().feed(dcsSixel(payload));
    const auto& bitmaps = fixture.delegate->bitmaps;
    if (bitmaps.empty())
        return "dropped";
    EXPECT_EQ(bitmaps.size(), 1u);
    EXPECT_EQ(bitmaps[0].rgba.size(), size_t(bitmaps[0].width * bitmaps[0].height * 4));
    return picture(bitmaps[0], fixture.t());
}

/// The same through a handler with its own limits, fed in pieces of `piece` bytes.
bool deliveredWith(std::string_view payload, Limits limits, size_t piece = SIZE_MAX)
{
    TerminalFixture fixture;
    SixelDcsHandler handler(fixture.terminal, limits);
    handler.hook({}, CsiParameters(), 'q');
    for (size_t at = 0; at < payload.size(); at += piece) {
        const std::string_view part = payload.substr(at, piece);
        handler.put({reinterpret_cast<const uint8_t*>(part.data()), part.size()});
    }
    handler.unhook();
    return !fixture.delegate->bitmaps.empty();
}

std::string repeated(std::string_view text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(SixelDcsHandlerTests, PayloadsPaintTheirBitmaps)
{
    const struct
    {
        std::string payload;
        std::string picture;
    } cases[] = {
        {"#0;2;100;0;0#0~~", "RR|RR|RR|RR|RR|RR"},
        {"#0;2;100;0;0#0@", "R"},
        {"~", "W|W|W|W|W|W"},                           // no register chosen: 15, the default colour
        {"#300@", "."},                                 // an undefined register past 255: transparent
        {"#1;2;0;0;100!3@", "BBB"},                     // repeat
        {"#1;2;0;0;100!0@", "B"},                       // a zero repeat is one
        {"#1;2;0;0;100!3\r\n@", "BBB"},                 // skipped bytes keep the repeat
        {"#1;2;0;0;100@-@", "B|.|.|.|.|.|B"},           // next band: 1 x 7
        {"#1;2;0;0;100~-~", repeated("B|", 11) + "B"},  // 1 x 12
        {"#1;2;100;0;0~$#2;2;0;100;0@", "G|R|R|R|R|R"}, // carriage return paints over
        {"#1;2;100;0;0A", ".|R"},                       // as high as the lowest painted bit
        {"#1;2;100;0;0@??", "R.."},                     // blank sixels still widen the image
        {"#1;2;100;0;0\"1;1;50;50@", "R"},              // raster attributes do not enlarge it
        {"#1;1;0;50;100@", "B"},                        // HLS: hue 0 is blue
        {"#1;1;120;50;100@", "R"},
        {"#1;1;240;50;100@", "G"},
        {"#1;1;0;50;0@", "g"},                // no saturation: grey
        {"#1;2;100;0;0@#1;2;0;100;0@", "RG"}, // a redefinition keeps earlier pixels
        {"#2;2;0;0;100#1;2;100;0;0@#2@", "RB"},
        {"#1;2;0;0;100#1;3;100;0;0@", "B"}, // unknown colour system: no change
        {"#1;2;0;0;100@#;@", "B"},          // an empty colour list ends the image
    };
    for (const auto& c : cases)
        EXPECT_EQ(decoded(c.payload), c.picture) << c.payload;
}

TEST(SixelDcsHandlerTests, ImagesThatAreDropped)
{
    const std::string list33 = "#" + repeated("1;", 32) + "1@";
    const std::string list32 = "#" + repeated("1;", 31) + "1@";
    const struct
    {
        std::string payload;
        bool kept;
    } cases[] = {
        {"", false},
        {"???", false},  // nothing painted
        {"#@", false},   // an empty colour list ends the image at once
        {list33, false}, // 33 numbers in a list
        {list32, true},
        {"!99999999999999999999@", false}, // a number past the largest integer
        {"\"1;1;4097;4097@", false},       // raster extent over the pixel limit
        {"\"1;1;4096;4096@", true},
        {"!4097" + repeated("~-!4097", 682) + "^", false}, // 4097 x 4097
    };
    for (const auto& c : cases)
        EXPECT_EQ(decoded(c.payload) != "dropped", c.kept) << c.payload.substr(0, 40);

    // The largest image the limit allows: 4096 x 4096, 64 MiB of RGBA.
    TerminalFixture fixture;
    fixture.t().feed(dcsSixel(repeated("!4096~-", 682) + "!4096N"));
    ASSERT_EQ(fixture.delegate->bitmaps.size(), 1u);
    EXPECT_EQ(fixture.delegate->bitmaps[0].width, 4096);
    EXPECT_EQ(fixture.delegate->bitmaps[0].height, 4096);
}

TEST(SixelDcsHandlerTests, LimitsDropTheImage)
{
    const Limits unlimited;
    EXPECT_TRUE(deliveredWith("@@@@@@@@", Limits{8, 1 << 24, 1 << 26}, 3)) << "input at the limit";
    EXPECT_FALSE(deliveredWith("@@@@@@@@@", Limits{8, 1 << 24, 1 << 26}, 3)) << "input past the limit";
    EXPECT_TRUE(deliveredWith("!2~", Limits{1 << 26, 12, 1 << 26})) << "2 x 6 in 12 pixels";
    EXPECT_FALSE(deliveredWith("!3~", Limits{1 << 26, 12, 1 << 26}));
    EXPECT_TRUE(deliveredWith("~-~", Limits{1 << 26, 12, 1 << 26})) << "1 x 12";
    EXPECT_FALSE(deliveredWith("~-~-@", Limits{1 << 26, 12, 1 << 26}));
    EXPECT_FALSE(deliveredWith("!13?@", Limits{1 << 26, 12, 1 << 26})) << "blank columns count too";
    EXPECT_TRUE(deliveredWith("!3~$!3~", Limits{1 << 26, 1 << 24, 36})) << "36 writes, overdraw counted";
    EXPECT_FALSE(deliveredWith("!3~$!3~@", Limits{1 << 26, 1 << 24, 36}));
    EXPECT_TRUE(deliveredWith("!1000?@", Limits{1 << 26, 1 << 24, 1})) << "blank sixels write nothing";

    // The palette holds at most 65,536 registers; one more drops the image.
    std::string palette;
    for (size_t i = 0; i < SixelDcsHandler::maximumColorRegisters; ++i)
        palette += "#" + std::to_string(i) + ";2;1;2;3";
    EXPECT_TRUE(deliveredWith(palette + "@", unlimited));
    EXPECT_TRUE(deliveredWith(palette + "#7;2;0;0;0@", unlimited)) << "redefining is not a new register";
    EXPECT_FALSE(deliveredWith(palette + "#99999999;2;0;0;0@", unlimited));
}

TEST(SixelDcsHandlerTests, ReachesTheHostThroughTheTerminal)
{
    // Parameters do not change the image; bytes split across feeds join.
    TerminalFixture fixture;
    fixture.t().feed("\x1bP0;1;8q#1;2;100;0;0@@\x1b\\");
    fixture.t().feed("\x1bPq#1;2;100;");
    fixture.t().feed("0;0@");
    fixture.t().feed("-@\x1b");
    fixture.t().feed("\\");
    ASSERT_EQ(fixture.delegate->bitmaps.size(), 2u);
    EXPECT_EQ(picture(fixture.delegate->bitmaps[0], fixture.t()), "RR");
    EXPECT_EQ(picture(fixture.delegate->bitmaps[1], fixture.t()), "R|.|.|.|.|.|R");
    fixture.t().feed("ok");
    EXPECT_EQ(lineText(fixture.buffer().lines().lineOrEmpty(0), 10), "ok") << "the screen is untouched";

    // A cancelled string delivers nothing, and a terminal whose host has gone decodes nothing.
    fixture.t().feed("\x1bPq@@\x18");
    EXPECT_EQ(fixture.delegate->bitmaps.size(), 2u);
    fixture.delegate.reset();
    fixture.t().feed(dcsSixel("#1;2;100;0;0@"));
}

TEST(SixelDcsHandlerTests, MatchesThePlainDecoderOnRandomPayloads)
{
    std::mt19937 random(20240611);
    const auto pick = [&](int n) { return int(random() % uint32_t(n)); };
    const auto number = [&] {
        switch (pick(8)) {
        case 0:
            return std::to_string(pick(3) * 5000);
        case 1:
            return std::to_string(random());
        default:
            return std::to_string(pick(20));
        }
    };
    int delivered = 0;
    for (int round = 0; round < 2000; ++round) {
        // Half the payloads announce a size first, as encoders do, which may be too small, too
        // large or right; the result must not depend on it.
        std::string payload;
        if (pick(2))
            payload = "\"1;1;" + std::to_string(pick(40)) + ";" + std::to_string(pick(40));
        const int tokens = pick(60);
        for (int i = 0; i < tokens; ++i) {
            switch (pick(12)) {
            case 0:
                payload += "#" + number();
                break;
            case 1:
                payload += "#" + number() + ";" + std::to_string(pick(4)) + ";" + number() + ";" + number() +
                           ";" + number();
                break;
            case 2:
                payload += "!" + number();
                break;
            case 3:
                payload += pick(2) ? "$" : "-";
                break;
            case 4:
                payload += "\"" + number() + ";" + number() + ";" + number() + ";" + number();
                break;
            case 5:
                payload += char(pick(256));
                break;
            case 6:
                payload += pick(2) ? ";" : "#;";
                break;
            default:
                payload += char(0x3F + pick(64));
                break;
            }
        }
        const Limits limits =
            pick(4) == 0 ? Limits{size_t(pick(200)), size_t(pick(400)), size_t(pick(400))} : Limits{};
        TerminalFixture fixture;
        SixelDcsHandler handler(fixture.terminal, limits);
        handler.hook({}, CsiParameters(), 'q');
        for (size_t at = 0; at < payload.size(); at += 7)
            handler.put({reinterpret_cast<const uint8_t*>(payload.data()) + at,
                         std::min<size_t>(7, payload.size() - at)});
        handler.unhook();

        const auto bytes = std::span(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
        const auto expected =
            SixelReferenceDecoder(bytes, limits, fixture.t().palette().defaultAnsiColors()).decode();
        const auto& got = fixture.delegate->bitmaps;
        ASSERT_EQ(got.size(), expected ? 1u : 0u) << "round " << round << ": " << payload;
        if (expected) {
            ++delivered;
            ASSERT_EQ(got[0].width, expected->width) << payload;
            ASSERT_EQ(got[0].height, expected->height) << payload;
            ASSERT_EQ(got[0].rgba, expected->rgba) << payload;
        }
    }
    EXPECT_GT(delivered, 500) << "most payloads should make an image, or the comparison says little";
}

} // namespace
} // namespace kestrovan::testing
