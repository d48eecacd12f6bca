// Paths that name something other than a regular file: each is refused at once, with words for
// what it is, and never waited on.
#include "SpecialFiles.h"
#include "TemporaryFolder.h"
#include "WithoutWaiting.h"

#include "Platform/Files/RegularFile.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct Case
{
    Thing thing;
    std::optional<FileFailure> failure; // none: the call succeeds
    std::string reason;                 // the start of the reason given
};

TEST(RegularFileTests, ReadingTakesRegularFilesAndRefusesEverythingElseAtOnce)
{
    const Case cases[] = {
        {Thing::regularFile, std::nullopt, ""},
        {Thing::linkToRegularFile, std::nullopt, ""},
        {Thing::nothing, FileFailure::missing, "No such file"},
        {Thing::fifo, FileFailure::notRegular, "a FIFO, not a regular file"},
        {Thing::directory, FileFailure::notRegular, "a directory, not a regular file"},
        {Thing::linkLoop, FileFailure::failed, "Too many levels of symbolic links"},
        {Thing::socket, FileFailure::notRegular, "a socket, not a regular file"},
    };
    TemporaryFolder folder;
    int index = 0;
    for (const Case& c : cases) {
        const std::string path = folder / ("file" + std::to_string(index++));
        BoundSocket socket;
        plant(c.thing, path, "[Rendering]\ngpu=false\n", socket);
        const auto read =
            withoutWaitingOn<FileResult<std::string>>(path, [&] { return readRegularFile(path, 1024); });
        if (!read)
            continue;
        if (!c.failure) {
            ASSERT_TRUE(read->ok()) << nameOf(c.thing) << ": " << read->error().message();
            EXPECT_EQ(read->value(), "[Rendering]\ngpu=false\n") << nameOf(c.thing);
            continue;
        }
        ASSERT_FALSE(read->ok()) << nameOf(c.thing);
        EXPECT_EQ(read->error().failure, *c.failure) << nameOf(c.thing);
        EXPECT_EQ(read->error().reason.rfind(c.reason, 0), 0u)
            << nameOf(c.thing) << ": " << read->error().reason;
        EXPECT_EQ(read->error().message(), path + ": " + read->error().reason);
    }
}

TEST(RegularFileTests, ADescriptorOfARegularFileBlocksAgainAndAFileOverTheBoundIsRefused)
{
    TemporaryFolder folder;
    std::ofstream(folder / "settings") << std::string(100, 'x');
    const FileResult<FileDescriptor> file = openRegularFileForReading(folder / "settings");
    ASSERT_TRUE(file.ok()) << file.error().message();
    EXPECT_EQ(fcntl(file.value().get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(file.value().get(), F_GETFD) & FD_CLOEXEC, 0);

    EXPECT_TRUE(readRegularFile(folder / "settings", 100).ok()) << "exactly at the bound";
    const FileResult<std::string> over = readRegularFile(folder / "settings", 99);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().failure, FileFailure::tooLarge);
    // A file whose size says nothing (as under /proc) is held to the bound while it is read.
    const FileResult<std::string> proc = readRegularFile("/proc/self/status", 8);
    ASSERT_FALSE(proc.ok());
    EXPECT_EQ(proc.error().failure, FileFailure::tooLarge);
}

TEST(RegularFileTests, WritingTakesRegularFilesAndNeverWaitsForAReader)
{
    const Case cases[] = {
        {Thing::regularFile, std::nullopt, ""},
        {Thing::linkToRegularFile, std::nullopt, ""},
        {Thing::nothing, std::nullopt, ""},
        {Thing::fifo, FileFailure::notRegular, "a FIFO, not a regular file"},
        {Thing::directory, FileFailure::notRegular, "a directory, not a regular file"},
        {Thing::linkLoop, FileFailure::failed, "Too many levels of symbolic links"},
        {Thing::socket, FileFailure::notRegular, "a socket, not a regular file"},
    };
    const std::string line = "log line\n";
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    TemporaryFolder folder;
    int index = 0;
    for (const WriteMode mode : {WriteMode::replace, WriteMode::append}) {
        for (const Case& c : cases) {
            const std::string path = folder / ("file" + std::to_string(index++));
            BoundSocket socket;
            plant(c.thing, path, "old\n", socket);
            const std::string what =
                std::string(nameOf(c.thing)) + (mode == WriteMode::append ? ", appending" : ", replacing");
            const auto failure = withoutWaitingOn<std::optional<FileError>>(
                path, [&] { return writeRegularFile(path, bytes, mode); });
            if (!failure)
                continue;
            if (!c.failure) {
                EXPECT_FALSE(*failure) << what << ": " << (*failure)->message();
                const std::string before =
                    c.thing == Thing::nothing || mode == WriteMode::replace ? "" : "old\n";
                std::ifstream file(path);
                EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), before + line) << what;
                continue;
            }
            ASSERT_TRUE(*failure) << what;
            EXPECT_EQ((*failure)->failure, *c.failure) << what;
            EXPECT_EQ((*failure)->reason.rfind(c.reason, 0), 0u) << what << ": " << (*failure)->reason;
        }
    }

    // A FIFO with a reader waiting at it opens at once; it is still refused, and gets nothing.
    const std::string fifo = folder / "read fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::optional<FileError> refused = writeRegularFile(fifo, bytes, WriteMode::replace);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->failure, FileFailure::notRegular);
    char got = 0;
    EXPECT_EQ(read(reader, &got, 1), 0) << "the writer went without writing";
    close(reader);
}

} // namespace
} // namespace platform
