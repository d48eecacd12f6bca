// The kitty graphics protocol seen from a program: APC G commands fed to a terminal, the replies
// they get back byte for byte, chunked transfers, and the image store with its quota.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>
#include <random>
#include <set>

namespace kestrovan {
namespace {

using testing::base64;
using testing::KittyFixture;
using testing::solidRgba;

const std::string rgb2x2 = base64(std::vector<uint8_t>(12, 0x40));
const std::string rgba1 = base64(solidRgba(1, 1, 2, 3));

/// One step of the corpus: commands that set the scene, the command under test and the reply body
/// it must get ("" for none).
struct CorpusCase
{
    const char* name;
    std::vector<std::pair<std::string, std::string>> setup;
    std::string keys;
    std::string payload;
    std::string expected;
    uint32_t quota = 10'000'000;
    bool regularFiles = false;
};

std::vector<CorpusCase> corpus()
{
    const std::string image1 = "a=t,i=1,f=24,s=2,v=2,q=2";
    std::vector<std::pair<std::string, std::string>> chain;
    chain.push_back({image1, rgb2x2});
    chain.push_back({"a=p,i=1,p=1,q=2", ""});
    for (int p = 2; p <= 9; ++p)
        chain.push_back({"a=p,i=1,q=2,p=" + std::to_string(p) + ",P=1,Q=" + std::to_string(p - 1), ""});
    return {
        {"transmit and display",
         {},
         "a=T,i=31,f=24,s=1,v=1",
         base64(std::vector<uint8_t>{1, 2, 3}),
         "Gi=31;OK"},
        {"query stores nothing",
         {},
         "a=q,i=31,s=1,v=1,f=24",
         base64(std::vector<uint8_t>{1, 2, 3}),
         "Gi=31;OK"},
        {"id and number",
         {},
         "a=t,i=5,I=7",
         rgba1,
         "Gi=5,I=7;EINVAL: image ID and number are mutually exclusive"},
        {"unsupported action", {}, "a=x,i=1", "", "Gi=1;EINVAL: unsupported action"},
        {"put of a missing image", {}, "a=p,i=9,p=2", "", "Gi=9,p=2;ENOENT: image not found"},
        {"file without a path", {}, "a=t,t=f,i=1", "", "Gi=1;EINVAL: bad payload", 10'000'000, true},
        {"query without an id", {}, "a=q,I=3,s=1,v=1", rgba1, "GI=3;EINVAL: image ID required"},
        {"empty direct payload", {}, "a=t,i=1,f=24,s=1,v=1", "", "Gi=1;EINVAL: invalid data"},
        {"over the quota",
         {},
         "a=t,i=1,f=32,s=10,v=10",
         base64(solidRgba(100, 0, 0, 0)),
         "Gi=1;ENOMEM: out of memory",
         100},
        {"local media off", {}, "a=t,i=1,t=f", base64("/tmp/x"), "Gi=1;EINVAL: unsupported medium"},
        {"short data",
         {},
         "a=t,i=1,f=24,s=2,v=1",
         base64(std::vector<uint8_t>(5, 0)),
         "Gi=1;ENODATA: insufficient data"},
        {"long data",
         {},
         "a=t,i=1,f=24,s=2,v=1",
         base64(std::vector<uint8_t>(7, 0)),
         "Gi=1;EINVAL: invalid data"},
        {"unknown format", {}, "a=t,i=1,f=33,s=1,v=1", rgba1, "Gi=1;EINVAL: unsupported format"},
        {"bad zlib",
         {},
         "a=t,i=1,f=32,s=1,v=1,o=z",
         base64("xxxxxxxxxx"),
         "Gi=1;EINVAL: decompression failed"},
        {"no dimensions", {}, "a=t,i=1,f=32", rgba1, "Gi=1;EINVAL: dimensions required"},
        {"too wide", {}, "a=t,i=1,f=32,s=10001,v=1", rgba1, "Gi=1;EINVAL: dimensions too large"},
        {"a kernel path",
         {},
         "a=t,i=1,t=f",
         base64("/proc/self/status"),
         "Gi=1;EINVAL: bad path",
         10'000'000,
         true},
        {"temporary medium without a trusted directory",
         {},
         "a=t,i=1,t=t",
         base64("/tmp/x"),
         "Gi=1;EINVAL: unsupported medium",
         10'000'000,
         true},
        {"source outside the image",
         {{image1, rgb2x2}},
         "a=p,i=1,x=5",
         "",
         "Gi=1;EINVAL: invalid source rectangle"},
        {"own parent",
         {{image1, rgb2x2}, {"a=p,i=1,p=2,q=2", ""}},
         "a=p,i=1,p=2,P=1,Q=2",
         "",
         "Gi=1,p=2;EINVAL: placement cannot be its own parent"},
        {"virtual with a parent",
         {{image1, rgb2x2}},
         "a=p,i=1,U=1,P=1",
         "",
         "Gi=1;EINVAL: virtual placement cannot refer to a parent"},
        {"no parent image", {{image1, rgb2x2}}, "a=p,i=1,P=99", "", "Gi=1;ENOPARENT: parent image not found"},
        {"parent without placement",
         {{image1, rgb2x2}},
         "a=p,i=1,P=1",
         "",
         "Gi=1;ENOPARENT: parent placement not found"},
        {"broken chain",
         // The replacement of p=1 removes it before its source rectangle fails, leaving p=2 without
         // its parent.
         {{image1, rgb2x2},
          {"a=p,i=1,p=1,q=2", ""},
          {"a=p,i=1,p=2,P=1,Q=1,q=2", ""},
          {"a=p,i=1,p=1,x=9,q=2", ""}},
         "a=p,i=1,p=3,P=1,Q=2",
         "",
         "Gi=1,p=3;ENOENT: parent chain ancestor not found"},
        {"cycle",
         {{image1, rgb2x2}, {"a=p,i=1,p=1,q=2", ""}, {"a=p,i=1,p=2,P=1,Q=1,q=2", ""}},
         "a=p,i=1,p=1,P=1,Q=2",
         "",
         "Gi=1,p=1;ECYCLE: parent chain creates a cycle"},
        {"too deep", chain, "a=p,i=1,p=10,P=1,Q=9", "", "Gi=1,p=10;ETOODEEP: parent chain too deep"},
        {"deep enough", chain, "a=p,i=1,p=10,P=1,Q=8", "", "Gi=1,p=10;OK"},
        {"frame larger than the image",
         {{image1, rgb2x2}},
         "a=f,i=1,f=24,s=3,v=1",
         base64(std::vector<uint8_t>(9, 0)),
         "Gi=1;EINVAL: frame dimensions exceed image"},
        {"no room for a frame",
         {{image1, rgb2x2}},
         "a=f,i=1,f=24,s=2,v=2",
         rgb2x2,
         "Gi=1;ENOSPC: animation frame storage full",
         20},
        {"base frame missing",
         {{image1, rgb2x2}},
         "a=f,i=1,c=5,f=24,s=2,v=2",
         rgb2x2,
         "Gi=1;EINVAL: base frame not found"},
        {"new frame", {{image1, rgb2x2}}, "a=f,i=1,f=24,s=2,v=2", rgb2x2, "Gi=1,r=2;OK"},
        {"source frame missing",
         {{image1, rgb2x2}},
         "a=c,i=1,r=5,c=1",
         "",
         "Gi=1;ENOENT: source frame not found"},
        {"destination frame missing",
         {{image1, rgb2x2}},
         "a=c,i=1,r=1,c=5",
         "",
         "Gi=1;ENOENT: destination frame not found"},
        {"destination outside",
         {{image1, rgb2x2}},
         "a=c,i=1,r=1,c=1,x=5",
         "",
         "Gi=1;EINVAL: destination rectangle out of bounds"},
        {"source outside",
         {{image1, rgb2x2}},
         "a=c,i=1,r=1,c=1,w=1,h=1,x=1,X=5",
         "",
         "Gi=1;EINVAL: source rectangle out of bounds"},
        {"overlap",
         {{image1, rgb2x2}},
         "a=c,i=1,r=1,c=1",
         "",
         "Gi=1;EINVAL: source and destination rectangles overlap"},
        {"disjoint composition", {{image1, rgb2x2}}, "a=c,i=1,r=1,c=1,w=1,h=1,x=1,y=1", "", "Gi=1;OK"},
        {"animation of a missing image", {}, "a=a,i=4,s=3", "", "Gi=4;ENOENT: image not found"},
        // The text exists, but a command without i and I is never answered.
        {"animation without an id", {}, "a=a,s=3", "", ""},
        {"put with a placement", {{image1, rgb2x2}}, "a=p,i=1,p=2", "", "Gi=1,p=2;OK"},
        {"number resolved to a new id", {{image1, rgb2x2}}, "a=t,I=7,f=24,s=2,v=2", rgb2x2, "Gi=2,I=7;OK"},
        {"number error carries only I",
         {},
         "a=t,I=7,f=24,s=2,v=1",
         base64(std::vector<uint8_t>(5, 0)),
         "GI=7;ENODATA: insufficient data"},
        {"quiet 1 keeps errors", {}, "a=p,i=9,q=1", "", "Gi=9;ENOENT: image not found"},
        {"quiet 1 drops success", {}, "a=t,i=1,f=24,s=2,v=2,q=1", rgb2x2, ""},
        {"quiet 7 is 2", {}, "a=p,i=9,q=7", "", ""},
        {"no id, no reply", {}, "a=t,f=24,s=1,v=1", "", ""},
        {"zero id is no id", {}, "a=p,i=0", "", ""},
        {"malformed key drops the command", {}, "a=p,i=9,s=-1", "", ""},
        {"twelve digits skip the item", {}, "a=p,i=9,s=123456789012", "", "Gi=9;ENOENT: image not found"},
        {"negative z is fine, negative x is not", {}, "a=p,i=9,z=-5,x=-5", "", ""},
        {"graphics off", {}, "a=p,i=9", "", "", 0},
    };
}

TEST(KittyGraphicsProtocol, CorpusGetsByteExactRepliesAndReachesEveryErrorText)
{
    std::set<std::string> seen;
    for (const CorpusCase& step : corpus()) {
        KittyFixture fixture(80, 24, 100, [&](TerminalOptions& options) {
            options.kittyGraphics.storageLimitBytesPerScreen = step.quota;
            if (step.regularFiles)
                options.kittyGraphics.localMediaPolicy = KittyGraphicsConfiguration::LocalMediaPolicy::all;
        });
        fixture.delegate->cellSize = CellPixelSize{10, 20};
        for (const auto& [keys, payload] : step.setup)
            fixture.command(keys, payload);
        ASSERT_EQ(fixture.replies(), std::vector<std::string>()) << step.name << ": the setup must be quiet";
        fixture.command(step.keys, step.payload);
        const std::vector<std::string> replies = fixture.replies();
        EXPECT_EQ(replies.size(), step.expected.empty() ? 0u : 1u) << step.name;
        EXPECT_EQ(replies.empty() ? std::string() : replies.front(), step.expected) << step.name;
        if (!step.expected.empty())
            seen.insert(step.expected.substr(step.expected.find(';') + 1));
    }
    // Every text of the subsystem that a program can be sent.
    for (const char* text : {"EINVAL: image ID and number are mutually exclusive",
                             "EINVAL: unsupported action",
                             "ENOENT: image not found",
                             "EINVAL: bad payload",
                             "EINVAL: image ID required",
                             "EINVAL: invalid data",
                             "ENOMEM: out of memory",
                             "EINVAL: unsupported medium",
                             "ENODATA: insufficient data",
                             "EINVAL: unsupported format",
                             "EINVAL: decompression failed",
                             "EINVAL: dimensions required",
                             "EINVAL: dimensions too large",
                             "EINVAL: bad path",
                             "EINVAL: invalid source rectangle",
                             "EINVAL: placement cannot be its own parent",
                             "EINVAL: virtual placement cannot refer to a parent",
                             "ENOPARENT: parent image not found",
                             "ENOPARENT: parent placement not found",
                             "ENOENT: parent chain ancestor not found",
                             "ECYCLE: parent chain creates a cycle",
                             "ETOODEEP: parent chain too deep",
                             "EINVAL: frame dimensions exceed image",
                             "ENOSPC: animation frame storage full",
                             "EINVAL: base frame not found",
                             "ENOENT: source frame not found",
                             "ENOENT: destination frame not found",
                             "EINVAL: destination rectangle out of bounds",
                             "EINVAL: source rectangle out of bounds",
                             "EINVAL: source and destination rectangles overlap",
                             "OK"})
        EXPECT_EQ(seen.count(text), 1u) << "never reached: " << text;
}

TEST(KittyGraphicsProtocol, RepliesUseTheTerminalsIntroducers)
{
    KittyFixture fixture;
    fixture.command("a=T,i=31,f=24,s=1,v=1", base64(std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(fixture.delegate->sends.size(), 1u);
    const std::vector<uint8_t>& seven = fixture.delegate->sends.front();
    EXPECT_EQ(std::string(seven.begin(), seven.end()), "\x1b_Gi=31;OK\x1b\\");

    fixture.delegate->sends.clear();
    fixture.t().feed("\x1b G"); // S8C1T
    fixture.command("a=p,i=31,p=2");
    ASSERT_EQ(fixture.delegate->sends.size(), 1u);
    const std::vector<uint8_t>& eight = fixture.delegate->sends.front();
    EXPECT_EQ(eight,
              (std::vector<uint8_t>{0x9F, 'G', 'i', '=', '3', '1', ',', 'p', '=', '2', ';', 'O', 'K', 0x9C}));
}

TEST(KittyGraphicsProtocol, QueryAndTransmitLeaveTheStoreAsDescribed)
{
    KittyFixture fixture;
    fixture.command("a=q,i=31,s=1,v=1,f=24", base64(std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(fixture.screen().imagesById.empty()) << "a query stores nothing";

    fixture.command("a=T,f=24,s=1,v=1,i=5", base64(std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(fixture.screen().imagesById.count(5), 1u);
    EXPECT_EQ(fixture.screen().imagesById.at(5).payload.rgba(), (std::vector<uint8_t>{1, 2, 3, 255}));
    EXPECT_EQ(fixture.screen().placementsByKey.size(), 1u);
    EXPECT_TRUE(fixture.t().innerState().hasKittyPlacements);

    // A failed retransmission under the same id leaves nothing under it.
    fixture.command("a=t,i=5,f=24,s=1,v=1", "");
    EXPECT_EQ(fixture.screen().imagesById.count(5), 0u);
    EXPECT_TRUE(fixture.screen().placementsByKey.empty());
    EXPECT_FALSE(fixture.t().innerState().hasKittyPlacements);
}

TEST(KittyGraphicsProtocol, ChunkedTransfersAssembleAcrossFeedsAndInterleavedOutput)
{
    // 40 x 30 RGBA in chunks of 400 base64 bytes, each APC cut into random pieces and fed with
    // plain text between the chunks.
    std::vector<uint8_t> pixels(40 * 30 * 4);
    for (size_t index = 0; index < pixels.size(); ++index)
        pixels[index] = static_cast<uint8_t>(index * 7);
    const std::string encoded = base64(pixels);
    std::string stream;
    for (size_t at = 0; at < encoded.size(); at += 400) {
        const bool first = at == 0;
        const bool last = at + 400 >= encoded.size();
        std::string keys = first ? "a=t,i=9,f=32,s=40,v=30," : "";
        keys += last ? "m=0" : "m=1";
        stream += "\x1b_G" + keys + ";" + encoded.substr(at, 400) + "\x1b\\";
        if (!last)
            stream += "text between chunks\r\n";
    }
    KittyFixture fixture(20, 5);
    std::mt19937 random(7);
    for (size_t at = 0; at < stream.size();) {
        const size_t piece = std::min<size_t>(stream.size() - at, 1 + random() % 97);
        fixture.t().feed(std::string_view(stream).substr(at, piece));
        at += piece;
    }
    EXPECT_EQ(fixture.replies(), std::vector<std::string>{"Gi=9;OK"});
    ASSERT_EQ(fixture.screen().imagesById.count(9), 1u);
    EXPECT_EQ(fixture.screen().imagesById.at(9).payload.rgba(), pixels);
    EXPECT_FALSE((*fixture.t().innerState().kittyGraphics).pending.has_value());
}

TEST(KittyGraphicsProtocol, ChunkRulesForIdsQuietLevelsDeletesAndMedia)
{
    KittyFixture fixture;
    fixture.command("a=t,i=9,f=24,s=2,v=2", rgb2x2);
    fixture.replies();
    // The first chunk removes image 9 at once; a later chunk's q=2 silences the whole transfer.
    fixture.command("a=t,i=9,f=24,s=2,v=2,m=1", rgb2x2.substr(0, 8));
    EXPECT_EQ(fixture.screen().imagesById.count(9), 0u);
    fixture.command("m=1,q=2", rgb2x2.substr(8, 4));
    fixture.command("m=0", rgb2x2.substr(12));
    EXPECT_EQ(fixture.replies(), std::vector<std::string>());
    EXPECT_EQ(fixture.screen().imagesById.count(9), 1u);

    // A continuation with i and I together is refused on its own.
    fixture.command("a=t,i=3,f=24,s=2,v=2,m=1", rgb2x2.substr(0, 8));
    fixture.command("i=5,I=7,m=0", rgb2x2.substr(8));
    EXPECT_EQ(fixture.reply(), "Gi=5,I=7;EINVAL: image ID and number are mutually exclusive");
    EXPECT_TRUE((*fixture.t().innerState().kittyGraphics).pending.has_value());

    // A delete between chunks discards the transfer.
    fixture.command("a=d,d=i,i=77");
    EXPECT_FALSE((*fixture.t().innerState().kittyGraphics).pending.has_value());
    fixture.command("m=0", rgb2x2.substr(8));
    EXPECT_EQ(fixture.screen().imagesById.count(3), 0u);

    // m=1 with the file medium is not chunked: the command runs at once.
    fixture.command("a=t,i=4,t=f,m=1", base64("/tmp/nothing"));
    EXPECT_EQ(fixture.reply(), "Gi=4;EINVAL: unsupported medium");
    EXPECT_FALSE((*fixture.t().innerState().kittyGraphics).pending.has_value());
}

TEST(KittyGraphicsProtocol, OversizedTransfersAreDroppedSilently)
{
    KittyFixture fixture;
    fixture.command("a=t,i=2,f=24,s=2,v=2,m=1", "AAAA");
    KittyGraphicsEngine engine = fixture.engine();
    // The transfer may gather up to 68,157,440 payload bytes; a chunk past that ends it without a
    // word.
    // "m=1;" and then that many bytes: built whole, since GCC took inserting them after a
    // four-byte vector for a write past its end (-Warray-bounds).
    constexpr std::string_view keys = "m=1;";
    std::vector<uint8_t> body(keys.size() + kittyGraphicsMaximumBodyBytes - 5, 'A');
    std::copy(keys.begin(), keys.end(), body.begin());
    engine.handleKittyGraphics(body);
    ASSERT_TRUE((*fixture.t().innerState().kittyGraphics).pending.has_value());
    EXPECT_EQ((*fixture.t().innerState().kittyGraphics).pending->base64Payload.size(),
              kittyGraphicsMaximumBodyBytes - 1);
    fixture.command("m=1", "AAAA");
    EXPECT_FALSE((*fixture.t().innerState().kittyGraphics).pending.has_value());
    // A body longer than the limit is ignored whole.
    body.insert(body.end(), 8, 'A');
    engine.handleKittyGraphics(body);
    EXPECT_FALSE((*fixture.t().innerState().kittyGraphics).pending.has_value());
    EXPECT_EQ(fixture.replies(), std::vector<std::string>());
}

TEST(KittyGraphicsStore, QuotaEvictsUnshownImagesFirstAndRefusesWhatCanNeverFit)
{
    // 1000 x 1000 RGB is stored as 4,000,000 bytes of RGBA.
    const std::string fourMillion = base64(std::vector<uint8_t>(3'000'000, 9));
    KittyFixture fixture;
    fixture.command("a=T,i=1,f=24,s=1000,v=1000,q=2", fourMillion); // A, shown
    fixture.command("a=t,i=2,f=24,s=1000,v=1000,q=2", fourMillion); // B, not shown
    fixture.command("a=t,i=3,f=24,s=1000,v=1000,q=2", fourMillion); // C
    EXPECT_EQ(fixture.screen().imagesById.count(1), 1u) << "the shown image stays";
    EXPECT_EQ(fixture.screen().imagesById.count(2), 0u) << "the unshown image is evicted";
    EXPECT_EQ(fixture.screen().imagesById.count(3), 1u);
    EXPECT_EQ(fixture.screen().totalImageBytes, 8'000'000);

    // An image over the whole limit is refused at once, evicting nothing and keeping nothing.
    fixture.command("a=t,i=4,f=24,s=2000,v=1300", base64(std::vector<uint8_t>(3, 0)));
    EXPECT_EQ(fixture.reply(), "Gi=4;ENOMEM: out of memory");
    EXPECT_EQ(fixture.screen().imagesById.size(), 2u);
    EXPECT_EQ(fixture.screen().imagesById.count(4), 0u);

    // A transient image goes before an older ordinary one, even while it is shown.
    KittyFixture transient(80, 24, 100,
                           [](TerminalOptions& o) { o.kittyGraphics.storageLimitBytesPerScreen = 40; });
    transient.command("a=t,i=1,f=24,s=2,v=2,q=2", rgb2x2);
    transient.command("a=T,i=2,f=24,s=2,v=2,N=1,q=2", rgb2x2);
    transient.command("a=t,i=3,f=24,s=2,v=2,q=2", rgb2x2);
    EXPECT_EQ(transient.screen().imagesById.count(1), 1u);
    EXPECT_EQ(transient.screen().imagesById.count(2), 0u);
    EXPECT_EQ(transient.screen().imagesById.count(3), 1u);
}

TEST(KittyGraphicsStore, IdsNumbersTokensAndResets)
{
    KittyFixture fixture;
    fixture.command("a=t,i=1,f=24,s=2,v=2,q=2", rgb2x2);
    fixture.command("a=t,i=2,f=24,s=2,v=2,q=2", rgb2x2);
    fixture.command("a=t,I=3,f=24,s=2,v=2", rgb2x2);
    EXPECT_EQ(fixture.reply(), "Gi=3,I=3;OK") << "the smallest free id";
    fixture.command("a=t,I=7,f=24,s=2,v=2", rgb2x2);
    fixture.command("a=t,I=7,f=24,s=2,v=2", rgb2x2);
    EXPECT_EQ(fixture.replies(), (std::vector<std::string>{"Gi=4,I=7;OK", "Gi=5,I=7;OK"}));
    EXPECT_EQ(fixture.screen().imageNumbers.at(7), 5u) << "the newest image wins the number";
    fixture.command("a=p,I=7");
    EXPECT_EQ(fixture.reply(), "Gi=5,I=7;OK");

    fixture.command("a=t,f=24,s=2,v=2", rgb2x2);
    fixture.command("a=t,f=24,s=2,v=2", rgb2x2);
    EXPECT_EQ(fixture.replies(), std::vector<std::string>()) << "implicit ids never answer";
    EXPECT_EQ(fixture.screen().imagesById.count(2147483648u), 1u);
    EXPECT_EQ(fixture.screen().imagesById.count(2147483649u), 1u);

    const uint64_t lastToken = fixture.screen().placementsByKey.begin()->second.token;
    fixture.t().feed("\x1b[2J"); // ED 2 drops every image
    EXPECT_TRUE(fixture.screen().imagesById.empty());
    EXPECT_FALSE(fixture.t().innerState().hasKittyPlacements);
    fixture.command("a=T,i=1,f=24,s=2,v=2,q=2", rgb2x2);
    EXPECT_GT(fixture.screen().placementsByKey.begin()->second.token, lastToken) << "tokens stay unique";

    // ED 2 and RIS drop every image; the alternate screen keeps its own store.
    fixture.t().feed("\x1b[?1049h");
    fixture.command("a=t,i=8,f=24,s=2,v=2,q=2", rgb2x2);
    EXPECT_EQ((*fixture.t().innerState().kittyGraphics).alternate.imagesById.count(8), 1u);
    EXPECT_EQ((*fixture.t().innerState().kittyGraphics).primary.imagesById.count(8), 0u);
    fixture.t().feed("\x1b[?1049l");
    EXPECT_EQ((*fixture.t().innerState().kittyGraphics).alternate.imagesById.count(8), 0u)
        << "leaving with clearing frees the alternate screen's images";
    fixture.t().feed("\x1b[2J");
    EXPECT_TRUE((*fixture.t().innerState().kittyGraphics).primary.imagesById.empty());
}

} // namespace
} // namespace kestrovan
