// What a program's kitty graphics commands can make the terminal hold and do: floods stay within
// the quota plus the bookkeeping allowance, the work of one command does not grow with the store,
// local media and compressed data take only what the image can use, and placement rows stay right
// while the scrollback drops lines under them.
//
// Memory is read from the counting allocation functions of this binary (AllocationCounters.h).
#include "tests/AllocationCounters.h"
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/mman.h>
#include <unistd.h>

namespace kestrovan {
namespace {

using testing::base64;
using testing::KittyFixture;

/// A zlib stream of `bytes` zero bytes, made without holding them.
std::vector<uint8_t> zlibOfZeros(int64_t bytes)
{
    z_stream stream{};
    deflateInit(&stream, Z_BEST_SPEED);
    const std::vector<uint8_t> zeros(1 << 20, 0);
    std::vector<uint8_t> out(1 << 16);
    std::vector<uint8_t> stream_out;
    for (int64_t left = bytes; left >= 0;) {
        const int64_t take = std::min<int64_t>(left, int64_t(zeros.size()));
        left -= take;
        stream.next_in = const_cast<Bytef*>(zeros.data());
        stream.avail_in = uInt(take);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = out.data();
            stream.avail_out = uInt(out.size());
            deflate(&stream, flush);
            stream_out.insert(stream_out.end(), out.data(), out.data() + (out.size() - stream.avail_out));
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH)
            break;
    }
    deflateEnd(&stream);
    return stream_out;
}

std::string pixelOf(int64_t i)
{
    return base64(std::vector<uint8_t>{uint8_t(i), uint8_t(i >> 8), 7, 255});
}

/// 16x16 pixels of RGBA that differ from one `i` to the next.
std::string tile(int64_t i)
{
    std::vector<uint8_t> rgba(16 * 16 * 4, uint8_t(i));
    rgba[0] = uint8_t(i >> 8);
    return base64(rgba);
}

TEST(KittyGraphicsBounds, FloodsStayWithinTheQuotaPlusTheBookkeepingAllowance)
{
    // Before: the quota counted pixels only, so 8,000 one-pixel images, placements or frames under
    // a 64 KiB quota held some 3 MB of records. Now each record costs its bookkeeping, and once
    // the free allowance is spent the quota evicts or refuses.
    constexpr uint32_t quota = 64 << 10;
    constexpr int count = 12000;
    struct Case
    {
        const char* name;
        std::string (*keys)(int i);
        bool carriesPixels;
        const char* lastReply;
    };
    const Case cases[] = {
        {"distinct ids", [](int i) { return "a=t,q=1,f=32,s=1,v=1,i=" + std::to_string(i + 1); }, true, ""},
        {"image numbers", [](int i) { return "a=t,q=1,f=32,s=1,v=1,I=" + std::to_string(i + 1); }, true, ""},
        {"placements of one image", [](int i) { return "a=p,q=1,i=1,C=1,p=" + std::to_string(i + 1); }, false,
         "Gi=1,p=12000;ENOMEM: out of memory"},
        {"frames of one image", [](int) { return std::string("a=f,q=1,i=1,f=32,s=1,v=1"); }, true,
         "Gi=1;ENOSPC: animation frame storage full"},
    };
    for (const Case& c : cases) {
        KittyFixture fixture(80, 24, 100, [](TerminalOptions& options) {
            options.kittyGraphics.storageLimitBytesPerScreen = quota;
        });
        fixture.command("a=t,q=2,i=1,f=32,s=1,v=1", pixelOf(0));
        const int64_t before = counting::bytesHeld();
        for (int i = 0; i < count; ++i)
            fixture.command(c.keys(i), c.carriesPixels ? pixelOf(i) : std::string());
        const std::string last = fixture.reply();
        fixture.delegate->sends.clear();
        fixture.delegate->sends.shrink_to_fit();
        const int64_t grown = counting::bytesHeld() - before;

        EXPECT_EQ(last, c.lastReply) << c.name;
        EXPECT_LE(fixture.screen().chargedBytes(), int64_t{quota}) << c.name;
        EXPECT_LE(grown, int64_t{quota} + KittyGraphicsBookkeeping::allowanceBytes + (64 << 10))
            << c.name << ": the records cost more than they are charged";
    }
}

TEST(KittyGraphicsBounds, WorkPerCommandDoesNotGrowWithTheStore)
{
    // Before: each frame copied the image's whole frame list, each eviction sorted every image,
    // and each advance of the animations listed every placement; the bytes one command allocated
    // grew with the store. Measured here as bytes allocated for 100 commands at two store sizes.
    struct Case
    {
        const char* name;
        /// Fills the store to `size` items.
        void (*fill)(KittyFixture&, int size);
        /// Command `i` of the measured batch.
        std::string (*command)(int i);
    };
    const Case cases[] = {
        {"frames of one image",
         [](KittyFixture& f, int size) {
             f.command("a=t,q=2,i=1,f=32,s=1,v=1", pixelOf(0));
             for (int i = 0; i < size; ++i)
                 f.command("a=f,q=2,i=1,f=32,s=1,v=1", pixelOf(i));
         },
         [](int i) { return "a=f,q=2,i=1,f=32,s=1,v=1;" + pixelOf(i); }},
        {"transmissions that evict",
         [](KittyFixture& f, int size) {
             // 16x16 images, so the pixels alone fill the quota: it holds about 1.5 `size` of them.
             for (int i = 0; i < 2 * size; ++i)
                 f.command("a=t,q=2,f=32,s=16,v=16,i=" + std::to_string(i + 1), tile(i));
         },
         [](int i) { return "a=t,q=2,f=32,s=16,v=16,i=" + std::to_string(900'000 + i) + ";" + tile(i); }},
        {"animation controls beside many placements",
         [](KittyFixture& f, int size) {
             f.command("a=T,q=2,i=1,f=32,s=1,v=1,C=1", pixelOf(0));
             f.command("a=f,q=2,i=1,f=32,s=1,v=1,z=50", pixelOf(1));
             f.command("a=t,q=2,i=2,f=32,s=1,v=1", pixelOf(2));
             for (int i = 0; i < size; ++i)
                 f.command("a=p,q=2,i=2,C=1,p=" + std::to_string(i + 1));
         },
         [](int i) { return std::string(i % 2 ? "a=a,i=1,s=3" : "a=a,i=1,s=1"); }},
    };
    for (const Case& c : cases) {
        int64_t perBatch[2] = {0, 0};
        const int sizes[2] = {1100, 4200};
        for (int which = 0; which < 2; ++which) {
            const int size = sizes[which];
            KittyFixture fixture(80, 24, 100, [&](TerminalOptions& options) {
                options.kittyGraphics.storageLimitBytesPerScreen = uint32_t(size) * 1024;
            });
            c.fill(fixture, size);
            std::string batch;
            for (int i = 0; i < 100; ++i)
                batch += "\x1b_G" + c.command(i) + "\x1b\\";
            counting::startCounting();
            fixture.t().feed(batch);
            counting::stopCounting();
            perBatch[which] = counting::bytesCounted();
        }
        // A store four times as large may cost a little more per command (a deeper tree), not four
        // times as much.
        EXPECT_LT(double(perBatch[1]), 1.5 * double(perBatch[0]))
            << c.name << ": " << perBatch[0] << " bytes for 100 commands at 1,100 items, " << perBatch[1]
            << " at 4,200";
    }
}

/// A sparse file of `bytes` bytes in the temporary directory, removed with the object.
struct SparseFile
{
    std::string path;
    explicit SparseFile(int64_t bytes)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kitty-bounds-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd >= 0) {
            if (::ftruncate(fd, bytes) == 0)
                path = pattern;
            ::close(fd);
        }
    }
    ~SparseFile() { ::unlink(path.c_str()); }
};

/// A sparse shared-memory object of `bytes` bytes; the terminal unlinks it when it reads it.
std::string sparseSharedMemory(int64_t bytes)
{
    const std::string name = "/kitty-bounds-" + std::to_string(::getpid());
    const int fd = ::shm_open(name.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
    if (fd >= 0) {
        if (::ftruncate(fd, bytes) != 0)
            ::shm_unlink(name.c_str());
        ::close(fd);
    }
    return name;
}

TEST(KittyGraphicsBounds, MediaAndInflationTakeOnlyWhatTheImageCanUse)
{
    // Before: a one-pixel image from a sparse 400 MiB file read all of it, a 400 MiB shared-memory
    // object likewise, and a frame inflated its whole stream (up to what its keys claimed) before
    // being refused, or kept bytes it then ignored.
    constexpr int64_t quota = 1'000'000;
    constexpr int64_t fourHundredMiB = 400ll << 20;
    const SparseFile file(fourHundredMiB);
    ASSERT_FALSE(file.path.empty());
    const std::string bomb = base64(zlibOfZeros(100'000'000));
    const std::string surplus = base64(zlibOfZeros(900'000));
    const std::string bigPng =
        base64(platform::encodePng(std::vector<uint8_t>(1500 * 1500 * 4, 0), 1500, 1500));
    struct Case
    {
        const char* name;
        std::string keys;
        std::function<std::string()> payload;
        const char* reply;
        int64_t largestBlock;
    };
    const Case cases[] = {
        {"raw pixels from a sparse 400 MiB file", "a=t,i=2,t=f,f=32,s=1,v=1",
         [&] { return base64(file.path); }, "Gi=2;OK", 64 << 10},
        {"compressed data from a 400 MiB shared-memory object", "a=t,i=2,t=s,o=z,f=32,s=1,v=1",
         [&] { return base64(sparseSharedMemory(fourHundredMiB)); }, "Gi=2;EINVAL: bad payload",
         quota + 4096},
        {"a frame larger than its image, inflating to 100 MB", "a=f,i=1,o=z,f=32,s=5000,v=5000",
         [&] { return bomb; }, "Gi=1;EINVAL: frame dimensions exceed image", 4 << 20},
        {"a frame whose stream inflates far past its one pixel", "a=f,i=1,o=z,f=32,s=1,v=1",
         [&] { return surplus; }, "Gi=1,r=2;OK", 128 << 10},
        {"a PNG frame larger than its image", "a=f,i=1,f=100", [&] { return bigPng; },
         "Gi=1;EINVAL: frame dimensions exceed image", 4 << 20},
    };
    for (const Case& c : cases) {
        KittyFixture fixture(80, 24, 100, [](TerminalOptions& options) {
            options.kittyGraphics.storageLimitBytesPerScreen = uint32_t(quota);
            options.kittyGraphics.localMediaPolicy = KittyGraphicsConfiguration::LocalMediaPolicy::all;
        });
        fixture.command("a=t,q=2,i=1,f=32,s=1,v=1", pixelOf(0));
        const std::string payload = c.payload();
        counting::startCounting();
        fixture.command(c.keys, payload);
        counting::stopCounting();
        EXPECT_EQ(fixture.reply(), c.reply) << c.name;
        EXPECT_LE(int64_t(counting::largestAllocation()), c.largestBlock) << c.name;
    }
}

TEST(KittyGraphicsBounds, RowsFollowDroppedLinesWhereverTheyAreRead)
{
    // The scrollback's oldest lines go while placements sit on them; the rows are read by the
    // render snapshot, a relative placement, a delete by row and the state, with no settling read
    // between the drops and those uses.
    KittyFixture fixture(20, 4, 4); // a ring of 8 lines
    fixture.command("a=t,q=2,i=1,f=32,s=1,v=1", pixelOf(0));
    fixture.command("a=p,q=2,i=1,p=1,r=3,C=1"); // lines 0-2: falls off with the third drop
    fixture.command("a=p,q=2,i=1,p=2,r=6,C=1"); // lines 0-5: survives, above the oldest line
    fixture.t().feed("\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    fixture.command("a=p,q=2,i=1,p=3,r=2,C=1"); // lines 7-8
    fixture.t().feed("\r\n\r\n\r\n\r\n");       // four lines dropped: 7-8 becomes 3-4

    auto viewportRows = [&] {
        std::map<uint32_t, int64_t> rows;
        for (const KittyGraphicsRenderPlacement& placement :
             fixture.t().kittyGraphicsRenderSnapshot().placements)
            rows[placement.placementId] = placement.geometry.row;
        return rows;
    };
    EXPECT_EQ(viewportRows(), (std::map<uint32_t, int64_t>{{2, -8}, {3, -1}}))
        << "the viewport starts at line 4";
    fixture.command("a=p,q=2,i=1,p=9,P=1,Q=3,V=2,H=1");
    EXPECT_EQ(viewportRows(), (std::map<uint32_t, int64_t>{{2, -8}, {3, -1}, {9, 1}}))
        << "two lines below its parent's line 3";

    fixture.command("a=d,d=y,y=1"); // the first screen row is line 4: placement 3, and its child with it
    const KittyGraphicsScreenState& screen = fixture.screen();
    ASSERT_EQ(screen.placementsByKey.size(), 1u);
    EXPECT_EQ(screen.placementsByKey.at({1, 2, false}).row, -4);
    EXPECT_EQ(screen.placementsByKey.at({1, 2, false}).rows, 6);
}

TEST(KittyGraphicsBounds, EvictionFollowsWhetherAnImageIsShownNow)
{
    // Three 2x2 images under a 40-byte quota: one must go. Images 1 and 2 were both shown, 2 more
    // recently; once 2 is shown no more it goes first, although 1 is older.
    const std::string rgb2x2 = base64(std::vector<uint8_t>(12, 9));
    KittyFixture fixture(
        80, 24, 100, [](TerminalOptions& options) { options.kittyGraphics.storageLimitBytesPerScreen = 40; });
    fixture.command("a=T,q=2,i=1,f=24,s=2,v=2", rgb2x2);
    fixture.command("a=T,q=2,i=2,f=24,s=2,v=2", rgb2x2);
    fixture.command("a=d,d=i,i=2");
    fixture.command("a=t,q=2,i=3,f=24,s=2,v=2", rgb2x2);
    EXPECT_EQ(fixture.screen().imagesById.count(1), 1u) << "still shown";
    EXPECT_EQ(fixture.screen().imagesById.count(2), 0u) << "no longer shown, so it goes first";
    EXPECT_EQ(fixture.screen().imagesById.count(3), 1u);
}

} // namespace
} // namespace kestrovan
