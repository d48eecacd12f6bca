#include "Patience.h"

#include "Platform/Dispatch/ProcessWriter.h"
#include "Platform/Dispatch/SerialQueue.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using platform::ProcessWriter;
using platform::SerialQueue;
using WriteResult = ProcessWriter::WriteResult;

namespace {

// Collects completions from the writer's queue.
class Completions
{
public:
    ProcessWriter::Completion next(int tag)
    {
        return [this, tag](WriteResult result) {
            std::lock_guard lock(mutex_);
            entries_.emplace_back(tag, result);
            changed_.notify_all();
        };
    }

    bool waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return entries_.size() >= count; });
    }

    std::vector<std::pair<int, WriteResult>> entries()
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<int, WriteResult>> entries_;
};

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// Reads a descriptor until end of file.
std::vector<uint8_t> readToEnd(int fd)
{
    std::vector<uint8_t> all;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0)
            all.insert(all.end(), buffer, buffer + count);
        else if (count == 0 || errno != EINTR)
            return all;
    }
}

} // namespace

TEST(ProcessWriter, WritesInOrderThroughAFullPipeAndClosesAfterPendingWrites)
{
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    auto queue = std::make_shared<SerialQueue>("kestrovan-test-writer");
    Completions completions;
    std::vector<uint8_t> expected;
    {
        ProcessWriter writer(ends[1], queue);
        // Far more than a pipe holds, so the writer meets EAGAIN and waits for the reader.
        for (int i = 0; i < 24; ++i) {
            auto bytes = pattern(10000 + i * 997, static_cast<uint8_t>(i));
            expected.insert(expected.end(), bytes.begin(), bytes.end());
            writer.write(std::move(bytes), completions.next(i));
        }
        writer.close(ProcessWriter::CloseMode::finishPending);
        writer.write(pattern(10, 1), completions.next(99));
    }
    // End of file comes only once the writer closed its descriptor, after the queued writes.
    const auto received = readToEnd(ends[0]);
    close(ends[0]);
    EXPECT_EQ(received, expected) << "bytes lost, repeated or reordered";

    ASSERT_TRUE(completions.waitFor(25));
    const auto entries = completions.entries();
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(entries[i].first, i) << "completions out of order";
        EXPECT_EQ(entries[i].second, (WriteResult{0, size_t(10000 + i * 997)})) << "write " << i;
    }
    EXPECT_EQ(entries[24].first, 99);
    EXPECT_EQ(entries[24].second, (WriteResult{ECANCELED, 0})) << "a write after close was not refused";
}

TEST(ProcessWriter, AnIdleWriterWritesOnTheCallersThreadAndABusyOneOnItsQueue)
{
    // A keystroke for an idle writer is in the descriptor, and completed, before `write` returns:
    // no wait for the queue's thread. Behind a write that waits for room, writes keep their order.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    auto queue = std::make_shared<SerialQueue>("kestrovan-test-writer");
    ProcessWriter writer(ends[1], queue);
    bool completedInside = false;
    bool onTheQueue = false;
    writer.write(pattern(1, 7), [&](WriteResult result) {
        completedInside = result == WriteResult{0, 1};
        onTheQueue = queue->isCurrent();
    });
    EXPECT_TRUE(completedInside) << "the completion had not run when write returned";
    EXPECT_TRUE(onTheQueue) << "the completion did not run as one of the queue's items";
    uint8_t byte = 0;
    EXPECT_EQ(read(ends[0], &byte, 1), 1);
    EXPECT_EQ(byte, pattern(1, 7)[0]);

    // More than the pipe holds: the write returns at once, and the rest waits on the queue.
    Completions completions;
    std::vector<uint8_t> expected = pattern(200000, 1);
    writer.write(pattern(200000, 1), completions.next(1));
    const auto small = pattern(10, 2);
    expected.insert(expected.end(), small.begin(), small.end());
    writer.write(pattern(10, 2), completions.next(2));
    writer.close(ProcessWriter::CloseMode::finishPending);
    EXPECT_EQ(readToEnd(ends[0]), expected) << "bytes lost, repeated or reordered";
    ASSERT_TRUE(completions.waitFor(2));
    const auto entries = completions.entries();
    EXPECT_EQ(entries[0], std::make_pair(1, WriteResult{0, 200000}));
    EXPECT_EQ(entries[1], std::make_pair(2, WriteResult{0, 10}));
    close(ends[0]);
}

TEST(ProcessWriter, StopInterruptsAWriteBlockedOnAFullPseudoTerminal)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios attributes{};
    tcgetattr(slave, &attributes);
    cfmakeraw(&attributes);
    tcsetattr(slave, TCSANOW, &attributes);
    const int duplicate = fcntl(master, F_DUPFD_CLOEXEC, 0);

    auto queue = std::make_shared<SerialQueue>("kestrovan-test-writer");
    Completions completions;
    auto writer = std::make_unique<ProcessWriter>(duplicate, queue);
    // Nobody reads the terminal, so this write fills it and then waits for room that never comes.
    writer->write(pattern(1 << 20, 3), completions.next(1));
    writer->write(pattern(100, 4), completions.next(2));

    // Once the queue is stuck in the first write, a sync item behind it cannot run.
    // The item runs once the write is stopped, possibly after this test has returned: it holds
    // its promise itself.
    auto queueFree = std::make_shared<std::promise<void>>();
    auto queueFreeFuture = queueFree->get_future();
    queue->async([queueFree] { queueFree->set_value(); });
    EXPECT_EQ(queueFreeFuture.wait_for(50ms), std::future_status::timeout) << "the write did not block";

    writer->close(ProcessWriter::CloseMode::stop);
    ASSERT_TRUE(completions.waitFor(2)) << "close did not interrupt the blocked write";
    const auto entries = completions.entries();
    EXPECT_EQ(entries[0].second.error, ECANCELED);
    EXPECT_GT(entries[0].second.bytesWritten, 0u) << "the terminal took nothing before it filled";
    EXPECT_LT(entries[0].second.bytesWritten, size_t(1 << 20));
    EXPECT_EQ(entries[1].second, (WriteResult{ECANCELED, 0}));

    // The bytes the writer counted are exactly the bytes the terminal hands its reader. Some may
    // still be on their way through the kernel's buffers, so read until they are all there.
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    size_t received = 0;
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (received < entries[0].second.bytesWritten && std::chrono::steady_clock::now() < giveUp) {
        uint8_t buffer[4096];
        const ssize_t count = read(slave, buffer, sizeof buffer);
        if (count > 0)
            received += size_t(count);
        else
            std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(received, entries[0].second.bytesWritten);

    writer.reset();
    close(slave);
    close(master);
}

TEST(ProcessWriter, ReportsAWriteErrorWithTheBytesThatGotThrough)
{
    // A descriptor opened for reading only: every write fails with EBADF.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    auto queue = std::make_shared<SerialQueue>("kestrovan-test-writer");
    Completions completions;
    ProcessWriter writer(ends[0], queue);
    writer.write(pattern(10, 0), completions.next(1));
    writer.write({}, completions.next(2));
    ASSERT_TRUE(completions.waitFor(2));
    const auto entries = completions.entries();
    EXPECT_EQ(entries[0].second, (WriteResult{EBADF, 0}));
    EXPECT_EQ(entries[1].second, (WriteResult{0, 0})) << "an empty write is not an error";
    close(ends[1]);
}
