// The local media of kitty graphics transmissions: regular files, temporary files and shared
// memory, under the local-media policy, against links, kernel paths, FIFOs and objects that shrink.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include "Kestrovan/KittyGraphicsMedia.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrovan {
namespace {

using testing::base64;
using testing::KittyFixture;
using Policy = KittyGraphicsConfiguration::LocalMediaPolicy;
namespace fs = std::filesystem;

/// A fresh directory for one test, removed afterwards.
struct TemporaryDirectory
{
    fs::path path;
    TemporaryDirectory()
    {
        std::string pattern = (fs::temp_directory_path() / "kitty-media-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() { fs::remove_all(path); }
    fs::path file(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::ofstream out(path / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path / name;
    }
};

std::function<void(TerminalOptions&)> media(Policy policy, std::optional<std::string> trusted = std::nullopt)
{
    return [=](TerminalOptions& options) {
        options.kittyGraphics.localMediaPolicy = policy;
        options.kittyGraphics.trustedTemporaryDirectory = trusted;
    };
}

/// A shared-memory object with the bytes; its name is unique to the process and the call.
std::string makeSharedMemory(const std::vector<uint8_t>& bytes)
{
    static std::atomic<int> counter{0};
    const std::string name = "/kitty-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    return name;
}

bool sharedMemoryExists(const std::string& name)
{
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

TEST(KittyGraphicsMedia, LocalMediaAreOffByDefault)
{
    TemporaryDirectory dir;
    const fs::path file = dir.file("pixels", std::vector<uint8_t>(4, 1));
    KittyFixture fixture;
    for (const char* medium : {"f", "t", "s"}) {
        fixture.command(std::string("a=t,i=1,f=32,s=1,v=1,t=") + medium, base64(file.string()));
        EXPECT_EQ(fixture.reply(), "Gi=1;EINVAL: unsupported medium") << medium;
    }
    EXPECT_TRUE(fs::exists(file));
}

TEST(KittyGraphicsMedia, RegularFilesAreReadAndDangerousPathsRefused)
{
    TemporaryDirectory dir;
    std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    const fs::path file = dir.file("pixels", pixels);
    fs::create_symlink("/dev/null", dir.path / "null-link");
    fs::create_symlink("/proc/self", dir.path / "proc-link");
    fs::create_directory(dir.path / "directory");
    KittyFixture fixture(80, 24, 100, media(Policy::regularFiles));

    fixture.command("a=t,i=1,f=32,s=2,v=1,t=f", base64(file.string()));
    EXPECT_EQ(fixture.reply(), "Gi=1;OK");
    EXPECT_EQ(fixture.screen().imagesById.at(1).payload.rgba(), pixels);
    EXPECT_TRUE(fs::exists(file)) << "a regular file is kept";

    // An offset and a size pick a range; a size past the end is refused.
    fixture.command("a=t,i=2,f=32,s=1,v=1,t=f,O=4,S=4", base64(file.string()));
    EXPECT_EQ(fixture.reply(), "Gi=2;OK");
    EXPECT_EQ(fixture.screen().imagesById.at(2).payload.rgba(), (std::vector<uint8_t>{5, 6, 7, 8}));
    fixture.command("a=t,i=2,f=32,s=1,v=1,t=f,O=6,S=4", base64(file.string()));
    EXPECT_EQ(fixture.reply(), "Gi=2;EINVAL: bad payload");

    const struct
    {
        std::string path;
        const char* reply;
    } refused[] = {
        {(dir.path / "null-link").string(), "Gi=3;EINVAL: bad path"},
        {(dir.path / "proc-link" / "status").string(), "Gi=3;EINVAL: bad path"},
        {"/proc/self/status", "Gi=3;EINVAL: bad path"},
        {"/sys/kernel/mm/transparent_hugepage/enabled", "Gi=3;EINVAL: bad path"},
        {"/dev/zero", "Gi=3;EINVAL: bad path"},
        {(dir.path / "missing").string(), "Gi=3;EINVAL: bad path"},
        {(dir.path / "directory").string(), "Gi=3;EINVAL: bad payload"},
        {std::string("a\0b", 3), "Gi=3;EINVAL: bad path"},
        {"\xff\xfe", "Gi=3;EINVAL: bad path"},
    };
    for (const auto& item : refused) {
        fixture.command("a=t,i=3,f=32,s=1,v=1,t=f", base64(item.path));
        EXPECT_EQ(fixture.reply(), item.reply) << item.path;
    }
    // A payload with a space in it is refused whole.
    for (const std::string& payload : {base64(file.string()) + " ", std::string()}) {
        fixture.command("a=t,i=3,f=32,s=1,v=1,t=f", payload);
        EXPECT_EQ(fixture.reply(), "Gi=3;EINVAL: bad payload");
    }
}

TEST(KittyGraphicsMedia, FilesUnderDevShmAreAllowed)
{
    const std::string name = makeSharedMemory({9, 9, 9, 9});
    KittyFixture fixture(80, 24, 100, media(Policy::regularFiles));
    fixture.command("a=t,i=1,f=32,s=1,v=1,t=f", base64("/dev/shm" + name));
    EXPECT_EQ(fixture.reply(), "Gi=1;OK");
    ::shm_unlink(name.c_str());
}

TEST(KittyGraphicsMedia, AFifoIsRefusedAtOnce)
{
    // Regression: the file was opened before it was checked to be a regular file, so the open of
    // a FIFO waited for a writer forever on the parse thread, with the terminal lock held.
    TemporaryDirectory dir;
    const fs::path fifo = dir.path / "tty-graphics-protocol-fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string shmName = "/kitty-test-fifo-" + std::to_string(::getpid());
    const fs::path shmFifo = fs::path("/dev/shm") / shmName.substr(1);
    const bool haveShmFifo = ::mkfifo(shmFifo.c_str(), 0600) == 0;

    auto run = std::async(std::launch::async, [&] {
        std::vector<std::string> replies;
        KittyFixture fixture(80, 24, 100, media(Policy::all, dir.path.string()));
        fixture.command("a=t,i=1,f=32,s=1,v=1,t=f", base64(fifo.string()));
        replies.push_back(fixture.reply());
        fixture.command("a=t,i=1,f=32,s=1,v=1,t=t", base64(fifo.string()));
        replies.push_back(fixture.reply());
        if (haveShmFifo) {
            fixture.command("a=t,i=1,f=32,s=1,v=1,t=s", base64(shmName));
            replies.push_back(fixture.reply());
        }
        return replies;
    });
    if (run.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Unblock the stuck open so the test can end, then fail.
        for (const fs::path& path : {fifo, shmFifo}) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        run.wait();
        FAIL() << "opening a FIFO blocked";
    }
    const std::vector<std::string> replies = run.get();
    EXPECT_EQ(replies[0], "Gi=1;EINVAL: bad payload");
    EXPECT_EQ(replies[1], "Gi=1;EINVAL: bad payload");
    EXPECT_FALSE(fs::exists(fifo)) << "a temporary file is removed once it was opened";
    if (haveShmFifo) {
        EXPECT_EQ(replies[2], "Gi=1;EINVAL: bad payload");
        ::unlink(shmFifo.c_str());
    }
}

TEST(KittyGraphicsMedia, TemporaryFilesMustBeTrustedAndAreAlwaysRemoved)
{
    TemporaryDirectory dir;
    TemporaryDirectory elsewhere;
    // The trusted directory is named through a detour that standardising takes out.
    KittyFixture fixture(80, 24, 100,
                         media(Policy::temporaryFiles, (dir.path / "." / "sub" / "..").string()));
    const fs::path good = dir.file("tty-graphics-protocol-1", std::vector<uint8_t>{1, 2, 3, 4});
    fixture.command("a=t,i=1,f=32,s=1,v=1,t=t", base64(good.string()));
    EXPECT_EQ(fixture.reply(), "Gi=1;OK");
    EXPECT_FALSE(fs::exists(good));

    // Removed even when its pixels are invalid (too few bytes here).
    const fs::path invalid = dir.file("tty-graphics-protocol-2", std::vector<uint8_t>{1, 2});
    fixture.command("a=t,i=1,f=32,s=1,v=1,t=t", base64(invalid.string()));
    EXPECT_EQ(fixture.reply(), "Gi=1;EINVAL: bad payload");
    EXPECT_FALSE(fs::exists(invalid));

    const fs::path middle = dir.file("x-tty-graphics-protocol", std::vector<uint8_t>{1, 2, 3, 4});
    const fs::path outside = elsewhere.file("tty-graphics-protocol-3", std::vector<uint8_t>{1, 2, 3, 4});
    for (const fs::path& path : {middle, outside}) {
        fixture.command("a=t,i=1,f=32,s=1,v=1,t=t", base64(path.string()));
        EXPECT_EQ(fixture.reply(), "Gi=1;EINVAL: temporary file not in temp dir") << path;
        EXPECT_TRUE(fs::exists(path)) << "a refused file is left alone";
    }
    // Without a trusted directory the medium is not offered at all.
    KittyFixture untrusted(80, 24, 100, media(Policy::temporaryFiles));
    untrusted.command("a=t,i=1,f=32,s=1,v=1,t=t", base64(middle.string()));
    EXPECT_EQ(untrusted.reply(), "Gi=1;EINVAL: unsupported medium");
}

TEST(KittyGraphicsMedia, OpeningRefusesLinksAnywhereOnTheCanonicalPath)
{
    // The canonical path is checked, then opened again; a directory swapped for a link in between
    // must not lead the open elsewhere.
    TemporaryDirectory dir;
    fs::create_directory(dir.path / "real");
    dir.file("real/file", std::vector<uint8_t>{1, 2, 3, 4});
    fs::create_directory_symlink(dir.path / "real", dir.path / "link");
    const int direct = openKittyMediaPath((dir.path / "real" / "file").string());
    EXPECT_GE(direct, 0);
    if (direct >= 0)
        ::close(direct);
    EXPECT_LT(openKittyMediaPath((dir.path / "link" / "file").string()), 0);
}

TEST(KittyGraphicsMedia, SharedMemoryIsCopiedAndUnlinked)
{
    KittyFixture fixture(80, 24, 100, media(Policy::sharedMemory));
    const std::string name = makeSharedMemory({1, 2, 3, 4, 5, 6, 7, 8});
    fixture.command("a=t,i=1,f=32,s=2,v=1,t=s", base64(name));
    EXPECT_EQ(fixture.reply(), "Gi=1;OK");
    EXPECT_EQ(fixture.screen().imagesById.at(1).payload.rgba(),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_FALSE(sharedMemoryExists(name));

    // Too small for the image: refused, and still unlinked.
    const std::string small = makeSharedMemory({1, 2, 3});
    fixture.command("a=t,i=1,f=32,s=1,v=1,t=s", base64(small));
    EXPECT_EQ(fixture.reply(), "Gi=1;EINVAL: bad payload");
    EXPECT_FALSE(sharedMemoryExists(small));

    for (const std::string& bad :
         {std::string("/") + std::string(31, 'a'), std::string("/a/b"), std::string("a")}) {
        fixture.command("a=t,i=1,f=32,s=1,v=1,t=s", base64(bad));
        EXPECT_EQ(fixture.reply(), "Gi=1;EINVAL: bad payload") << bad;
    }
}

TEST(KittyGraphicsMedia, ASharedMemoryObjectThatShrinksGivesAShortReadNotACrash)
{
    // Regression: the object was mapped and copied; when the sender shrank it after the size
    // check, touching the mapping past its new end raised SIGBUS and killed the terminal.
    const std::string name = makeSharedMemory(std::vector<uint8_t>(1 << 20, 7));
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    EXPECT_EQ(copyKittyFileRange(fd, 0, 1 << 20), std::nullopt) << "the range measured before is gone";
    ASSERT_TRUE(copyKittyFileRange(fd, 0, 4096).has_value());
    ::close(fd);
    ::shm_unlink(name.c_str());

    // The same race end to end: another thread shrinks and regrows each object while it is read.
    KittyFixture fixture(80, 24, 100, media(Policy::sharedMemory));
    const int side = 512;
    const size_t bytes = size_t{side} * side * 4;
    for (int round = 0; round < 20; ++round) {
        const std::string object = makeSharedMemory(std::vector<uint8_t>(bytes, 3));
        const int writer = ::shm_open(object.c_str(), O_RDWR, 0);
        ASSERT_GE(writer, 0);
        std::atomic<bool> stop{false};
        std::thread shrinker([&] {
            while (!stop.load()) {
                if (::ftruncate(writer, 16) != 0 || ::ftruncate(writer, static_cast<off_t>(bytes)) != 0)
                    break;
            }
        });
        fixture.command("a=t,i=1,f=32,s=512,v=512,t=s", base64(object));
        stop = true;
        shrinker.join();
        ::close(writer);
        const std::string reply = fixture.reply();
        EXPECT_TRUE(reply == "Gi=1;OK" || reply == "Gi=1;EINVAL: bad payload") << reply;
        ::shm_unlink(object.c_str());
    }
}

TEST(KittyGraphicsMedia, OversizedLocalImagesAreRefusedBeforeDecoding)
{
    TemporaryDirectory dir;
    KittyFixture fixture(80, 24, 100, [&](TerminalOptions& options) {
        options.kittyGraphics.localMediaPolicy = Policy::all;
        options.kittyGraphics.trustedTemporaryDirectory = dir.path.string();
        options.kittyGraphics.storageLimitBytesPerScreen = 1000;
    });
    const fs::path file = dir.file("tty-graphics-protocol-big", std::vector<uint8_t>(2000, 1));
    fixture.command("a=t,i=1,f=32,s=25,v=20,t=t", base64(file.string()));
    EXPECT_EQ(fixture.reply(), "Gi=1;ENOMEM: out of memory");
    EXPECT_FALSE(fs::exists(file)) << "the temporary file still goes";
}

} // namespace
} // namespace kestrovan
