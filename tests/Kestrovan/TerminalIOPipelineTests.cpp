#include "TestChild/TestStream.h"

#include "Kestrovan/Profiling.h"
#include "Kestrovan/PseudoTerminalHelpers.h"
#include "Kestrovan/TerminalIOPipeline.h"
#include "Kestrovan/TerminalIOPipelineWorker.h"
#include "Platform/Dispatch/ThreadRegistry.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using kestrovan::PseudoTerminalHelpers;
using kestrovan::TerminalIOPipeline;
using kestrovan::TerminalIOPipelineWorker;
using testchild::Checksum;
using testchild::TestStream;

namespace {

// Generous: only a broken pipeline ever waits this long.
constexpr auto patience = 20s;
constexpr size_t slotSize = TerminalIOPipelineWorker::slotSize;

// A delegate that checks every byte against the test stream and can hold the parse thread.
class StreamDelegate : public kestrovan::TerminalIOPipelineDelegate
{
public:
    explicit StreamDelegate(uint64_t seed) : expected_(seed) {}

    void pipeline(TerminalIOPipeline& pipeline, std::span<const uint8_t> bytes) override
    {
        std::function<void(TerminalIOPipeline&)> hook;
        {
            std::unique_lock lock(mutex_);
            ++batches_;
            largestBatch_ = std::max(largestBatch_, bytes.size());
            for (uint8_t byte : bytes) {
                checksum_.add(byte);
                if (byte != expected_.next() && !mismatchAt_)
                    mismatchAt_ = received_;
                ++received_;
            }
            if (eof_)
                deliveredAfterEOF_ = true;
            hook = hook_;
            changed_.notify_all();
            // A stalled consumer: the parse thread stays here until the test lets it go.
            if (stallNext_) {
                stallNext_ = false;
                stalled_ = true;
                changed_.notify_all();
                changed_.wait(lock, [&] { return !stalled_; });
            }
        }
        if (hook)
            hook(pipeline);
    }

    void pipelineReachedEOF(TerminalIOPipeline&) override
    {
        std::lock_guard lock(mutex_);
        eof_ = true;
        receivedAtEOF_ = received_;
        changed_.notify_all();
    }

    void stallNextBatch()
    {
        std::lock_guard lock(mutex_);
        stallNext_ = true;
    }
    bool waitUntilStalled()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return stalled_; });
    }
    void resume()
    {
        std::lock_guard lock(mutex_);
        stalled_ = false;
        changed_.notify_all();
    }
    void setHook(std::function<void(TerminalIOPipeline&)> hook)
    {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    bool waitForEOF()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return eof_; });
    }
    bool waitForBytes(size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return received_ >= count; });
    }

    struct Summary
    {
        size_t received;
        size_t batches;
        size_t largestBatch;
        uint64_t checksum;
        std::optional<size_t> mismatchAt;
        bool eof;
        size_t receivedAtEOF;
        bool deliveredAfterEOF;
    };
    Summary summary()
    {
        std::lock_guard lock(mutex_);
        return {received_,   batches_, largestBatch_,  checksum_.value(),
                mismatchAt_, eof_,     receivedAtEOF_, deliveredAfterEOF_};
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    TestStream expected_;
    Checksum checksum_;
    size_t received_ = 0;
    size_t batches_ = 0;
    size_t largestBatch_ = 0;
    std::optional<size_t> mismatchAt_;
    bool eof_ = false;
    size_t receivedAtEOF_ = 0;
    bool deliveredAfterEOF_ = false;
    bool stallNext_ = false;
    bool stalled_ = false;
    std::function<void(TerminalIOPipeline&)> hook_;
};

// Lets a stalled parse thread go when a test ends early, so that nothing waits for it forever.
class ResumeOnExit
{
public:
    explicit ResumeOnExit(StreamDelegate& delegate) : delegate_(delegate) {}
    ~ResumeOnExit() { delegate_.resume(); }

private:
    StreamDelegate& delegate_;
};

uint64_t streamChecksum(uint64_t seed, size_t count)
{
    TestStream stream(seed);
    Checksum checksum;
    for (size_t i = 0; i < count; ++i)
        checksum.add(stream.next());
    return checksum.value();
}

// Writes `count` bytes of the test stream, blocking, from a thread of its own.
class StreamWriter
{
public:
    StreamWriter(int fd, uint64_t seed, size_t count, size_t skip = 0)
        : thread_([this, fd, seed, count, skip] {
              TestStream stream(seed);
              for (size_t i = 0; i < skip; ++i)
                  stream.next();
              std::vector<uint8_t> chunk;
              size_t left = count;
              while (left > 0) {
                  chunk.resize(std::min<size_t>(left, 20000));
                  for (auto& byte : chunk)
                      byte = stream.next();
                  size_t done = 0;
                  while (done < chunk.size()) {
                      const ssize_t written = write(fd, chunk.data() + done, chunk.size() - done);
                      if (written <= 0)
                          return;
                      done += size_t(written);
                      written_ += size_t(written);
                  }
                  left -= chunk.size();
              }
          })
    {}
    ~StreamWriter() { join(); }

    /// The bytes written so far; all of them once the writer has been joined.
    size_t written() const { return written_; }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<size_t> written_{0};
    std::thread thread_;
};

// The test child on a pseudo-terminal.
PseudoTerminalHelpers::StartedProcess startChild(std::vector<std::string> args)
{
    args.insert(args.begin(), "testchild");
    winsize size{24, 80, 0, 0};
    auto started = PseudoTerminalHelpers::fork(KESTROVAN_TEST_CHILD, args, {}, std::nullopt, size);
    EXPECT_TRUE(started);
    return started.value_or(PseudoTerminalHelpers::StartedProcess{});
}

bool childHasExited(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | WNOHANG) == 0 &&
           info.si_pid == pid;
}

int reap(pid_t pid)
{
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

// Waits, without a timing assertion, until `condition` holds; false only when it never does.
template <typename Condition> bool eventually(Condition condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The kernel names of this process's threads.
std::vector<std::string> threadNames()
{
    std::vector<std::string> names;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return names;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    closedir(tasks);
    return names;
}

} // namespace

TEST(TerminalIOPipeline, DeliversSixtyFourMebibytesFromAChildInOrderBeforeTheEndOfFile)
{
    constexpr size_t total = 64u << 20;
    constexpr uint64_t seed = 64;
    auto child = startChild({"write", std::to_string(total), std::to_string(seed)});
    ASSERT_GT(child.pid, 0);
    auto delegate = std::make_shared<StreamDelegate>(seed);
    auto pipeline = TerminalIOPipeline::create(child.masterFd, delegate);
    pipeline->start();

    ASSERT_TRUE(delegate->waitForEOF()) << "no end of file; received " << delegate->summary().received;
    const auto summary = delegate->summary();
    EXPECT_EQ(summary.received, total);
    EXPECT_FALSE(summary.mismatchAt) << "first wrong byte at offset " << summary.mismatchAt.value_or(0);
    EXPECT_EQ(summary.checksum, streamChecksum(seed, total));
    EXPECT_EQ(summary.receivedAtEOF, total) << "the end of file overtook the output";
    EXPECT_LE(summary.largestBatch, slotSize);
    EXPECT_GE(summary.batches, total / slotSize);

    const int status = reap(child.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    pipeline.reset();
    EXPECT_FALSE(delegate->summary().deliveredAfterEOF);
}

TEST(TerminalIOPipeline, AStalledConsumerFillsTheRingAndHoldsTheChildBack)
{
    constexpr size_t total = 8u << 20;
    constexpr uint64_t seed = 8;
    auto child = startChild({"write", std::to_string(total), std::to_string(seed)});
    ASSERT_GT(child.pid, 0);
    auto delegate = std::make_shared<StreamDelegate>(seed);
    delegate->stallNextBatch();
    auto pipeline = TerminalIOPipeline::create(child.masterFd, delegate);
    ResumeOnExit resume(*delegate);
    pipeline->start();
    ASSERT_TRUE(delegate->waitUntilStalled());

    // The batch being parsed still holds its slot: the gather thread fills the other three, then
    // stops reading, the terminal's buffer fills and the child blocks in its writes.
    ASSERT_TRUE(eventually([&] { return pipeline->worker()->filledSlots() == 4; }))
        << "the ring never filled";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pipeline->worker()->filledSlots(), 4u);
    EXPECT_FALSE(childHasExited(child.pid)) << "the child wrote everything while the consumer was stalled";
    EXPECT_LE(delegate->summary().received, slotSize);

    delegate->resume();
    ASSERT_TRUE(delegate->waitForEOF());
    const auto summary = delegate->summary();
    EXPECT_EQ(summary.received, total);
    EXPECT_FALSE(summary.mismatchAt) << "first wrong byte at offset " << summary.mismatchAt.value_or(0);
    EXPECT_LE(summary.largestBatch, slotSize);
    EXPECT_EQ(WEXITSTATUS(reap(child.pid)), 0);
}

TEST(TerminalIOPipeline, AFullRingStopsReading)
{
    // With a pipe the kernel's buffer is exact: once the ring is full and the writer stops, what
    // waits in the pipe stays there until a slot is released.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    constexpr uint64_t seed = 3;
    auto delegate = std::make_shared<StreamDelegate>(seed);
    delegate->stallNextBatch();
    auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
    ResumeOnExit resume(*delegate);
    pipeline->start();

    // Bytes of the stream go out as the pipe takes them. Each attempt writes what fits and
    // returns, so the test never waits on a pipe that a full ring has stopped emptying. The pieces
    // are large enough (and at most a pipe's atomic write) for the first batch to be a slot of
    // its own, which the parse thread stalls in, rather than a small batch the gather thread
    // would hand on itself.
    TestStream stream(seed);
    std::vector<uint8_t> pending;
    size_t offset = 0;
    size_t written = 0;
    auto writeWhatFits = [&] {
        if (offset == pending.size()) {
            pending.resize(4000);
            for (auto& byte : pending)
                byte = stream.next();
            offset = 0;
        }
        const ssize_t result = write(ends[1], pending.data() + offset, pending.size() - offset);
        if (result <= 0)
            return false;
        offset += size_t(result);
        written += size_t(result);
        return true;
    };
    writeWhatFits();
    ASSERT_TRUE(delegate->waitUntilStalled());
    for (size_t round = 0; pipeline->worker()->filledSlots() < 4; ++round) {
        ASSERT_LT(round, 100000u) << "the ring never filled";
        if (!writeWhatFits())
            std::this_thread::sleep_for(1ms);
    }
    const int waiting = PseudoTerminalHelpers::availableBytes(ends[0]).size;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(PseudoTerminalHelpers::availableBytes(ends[0]).size, waiting) << "read from a full ring";
    EXPECT_EQ(pipeline->worker()->filledSlots(), 4u);

    delegate->resume();
    while (written < 300000) {
        if (!writeWhatFits())
            std::this_thread::sleep_for(1ms);
    }
    close(ends[1]);
    ASSERT_TRUE(delegate->waitForEOF());
    const auto summary = delegate->summary();
    EXPECT_EQ(summary.received, written);
    EXPECT_FALSE(summary.mismatchAt);
    EXPECT_EQ(summary.receivedAtEOF, written);
}

TEST(TerminalIOPipeline, OutputLeftByAChildThatHasExitedIsDeliveredBeforeTheEndOfFile)
{
    // The child writes and exits before anything reads: Linux keeps its output for the master,
    // hands it out, and only then answers EIO. (The terminal holds about 20 KiB before it makes a
    // writer wait; this stays well below.)
    constexpr size_t total = 8000;
    constexpr uint64_t seed = 11;
    auto child = startChild({"write", std::to_string(total), std::to_string(seed)});
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(eventually([&] { return childHasExited(child.pid); }))
        << "the child could not write everything";
    EXPECT_EQ(WEXITSTATUS(reap(child.pid)), 0);

    auto delegate = std::make_shared<StreamDelegate>(seed);
    auto pipeline = TerminalIOPipeline::create(child.masterFd, delegate);
    pipeline->start();
    ASSERT_TRUE(delegate->waitForEOF());
    const auto summary = delegate->summary();
    EXPECT_EQ(summary.received, total);
    EXPECT_EQ(summary.receivedAtEOF, total);
    EXPECT_FALSE(summary.mismatchAt);
}

TEST(TerminalIOPipeline, RunsOnNamedThreadsThatKnowTheirWorker)
{
    // A small batch for an idle parser is handed on by the gather thread itself, a slot's worth
    // by the parse thread; either way on a thread of this worker that profiles as parsing.
    struct Case
    {
        size_t size;
        const char* thread;
    };
    const Case cases[] = {{1, "kestrovan-io-gather"}, {4000, "kestrovan-parse"}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.size);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        auto delegate = std::make_shared<StreamDelegate>(1);
        std::string threadName;
        kestrovan::ProfilingOwner owner = kestrovan::ProfilingOwner::other;
        bool knowsWorker = false;
        delegate->setHook([&](TerminalIOPipeline& pipeline) {
            if (!threadName.empty())
                return;
            threadName = platform::currentThreadName();
            owner = kestrovan::currentProfilingOwner();
            knowsWorker = pipeline.worker()->isCurrentWorker();
        });
        auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
        EXPECT_FALSE(pipeline->worker()->isCurrentWorker());
        pipeline->start();
        StreamWriter(ends[1], 1, test.size);
        ASSERT_TRUE(delegate->waitForBytes(test.size));
        // Linux keeps 15 bytes of a thread's name. A batch the gather thread hands on itself may
        // come before the parse thread has named itself.
        auto named = [](const char* name) {
            const auto names = threadNames();
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        EXPECT_TRUE(eventually([&] { return named("kestrovan-io-ga"); })) << "no gather thread";
        EXPECT_TRUE(eventually([&] { return named("kestrovan-parse"); })) << "no parse thread";
        close(ends[1]);
        ASSERT_TRUE(delegate->waitForEOF());
        EXPECT_EQ(threadName, test.thread);
        EXPECT_EQ(owner, kestrovan::ProfilingOwner::parse);
        EXPECT_TRUE(knowsWorker);
    }
}

TEST(TerminalIOPipeline, SmallBatchesHandedOnByTheGatherThreadKeepTheirPlace)
{
    // Pieces of every size, in a varied order: small ones find the parse thread idle or busy with
    // earlier slots, and either way no byte may overtake another.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    constexpr uint64_t seed = 12;
    auto delegate = std::make_shared<StreamDelegate>(seed);
    auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
    pipeline->start();
    const size_t sizes[] = {1, 100, 30000, 7, 900, 65536, 3, 5000, 1023, 1024, 200000, 2};
    size_t total = 0;
    {
        TestStream stream(seed);
        std::vector<uint8_t> piece;
        for (int round = 0; round < 20; ++round) {
            for (size_t size : sizes) {
                piece.resize(size);
                for (auto& byte : piece)
                    byte = stream.next();
                for (size_t done = 0; done < piece.size();) {
                    const ssize_t written = write(ends[1], piece.data() + done, piece.size() - done);
                    ASSERT_GT(written, 0);
                    done += size_t(written);
                }
                total += size;
            }
        }
    }
    close(ends[1]);
    ASSERT_TRUE(delegate->waitForEOF());
    const auto summary = delegate->summary();
    EXPECT_EQ(summary.received, total);
    EXPECT_FALSE(summary.mismatchAt) << "first wrong byte at offset " << summary.mismatchAt.value_or(0);
    EXPECT_EQ(summary.receivedAtEOF, total);
}

TEST(TerminalIOPipeline, ADrainReadsOnUntilTheEndOrItsDeadline)
{
    // A drain reads on through reads that find nothing, until the end of file or its deadline:
    // output written after the drain began is delivered too. (The regression itself, a drain that
    // stopped at the first read finding nothing, is caught without a race by the local process's
    // test of a job that writes after its shell has exited.)
    using End = TerminalIOPipelineWorker::ReadingEnd;
    struct Case
    {
        const char* name;
        size_t before;
        size_t during;
        bool closeWriter;
        double drainSeconds;
        End end;
    };
    const Case cases[] = {
        {"output that comes during the drain, then the end", 40000, 30000, true, 60, End::endOfOutput},
        {"a writer that never closes ends it at the deadline", 40000, 0, false, 0.2, End::deadline},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        constexpr uint64_t seed = 5;
        auto delegate = std::make_shared<StreamDelegate>(seed);
        auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
        pipeline->start();
        StreamWriter(ends[1], seed, test.before);
        auto& worker = *pipeline->worker();
        const uint64_t deadline = TerminalIOPipelineWorker::uptimeDeadline(test.drainSeconds);
        ASSERT_TRUE(worker.requestDrain(deadline));
        EXPECT_EQ(worker.runPhase().kind, TerminalIOPipelineWorker::RunPhase::Kind::draining);
        ASSERT_TRUE(delegate->waitForBytes(test.before));
        StreamWriter(ends[1], seed, test.during, test.before);
        if (test.closeWriter)
            close(ends[1]);

        const auto outcome = worker.waitForDrain(deadline, 20'000'000'000);
        EXPECT_EQ(outcome.end, test.end);
        EXPECT_EQ(outcome.droppedBytes, 0u) << "everything was read before the deadline";
        EXPECT_TRUE(worker.waitUntilThreadsEnd(TerminalIOPipelineWorker::uptimeDeadline(20)));
        const auto summary = delegate->summary();
        EXPECT_EQ(summary.received, test.before + test.during);
        EXPECT_FALSE(summary.mismatchAt);
        EXPECT_FALSE(summary.eof) << "a drain reported an end of file";
        if (!test.closeWriter) {
            // The last thread to end closed the descriptor: the pipe has no reader any more.
            pollfd entry{ends[1], POLLOUT, 0};
            ASSERT_EQ(poll(&entry, 1, 0), 1);
            EXPECT_TRUE(entry.revents & POLLERR);
            close(ends[1]);
        }
    }
}

TEST(TerminalIOPipeline, PastTheDeadlineTheRingIsHandedOnOnlyWhenTheEndCameFirst)
{
    // Before, the slots still filled at the deadline were always abandoned, even when the child's
    // output had been read to its end and only the parser was behind.
    using End = TerminalIOPipelineWorker::ReadingEnd;
    struct Case
    {
        const char* name;
        size_t total;
        bool closeWriter;
    };
    const Case cases[] = {
        // The writer is left writing into a pipe whose reader goes away: it sees EPIPE.
        {"a writer still writing: the filled slots and the pipe's bytes are dropped", 1u << 20, false},
        {"a writer that closed: the ring is delivered after the deadline", 150000, true},
    };
    auto previousSigpipe = signal(SIGPIPE, SIG_IGN);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        constexpr uint64_t seed = 6;
        auto delegate = std::make_shared<StreamDelegate>(seed);
        delegate->stallNextBatch();
        auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
        auto& worker = *pipeline->worker();
        if (test.closeWriter) {
            // The whole output and its end wait in the pipe before reading starts. Written while
            // the reader runs, a slow writer leaves the slots part-filled: the ring is full before
            // the end is read, and the writer blocks on a full pipe for ever.
            ASSERT_GE(fcntl(ends[1], F_SETPIPE_SZ, 1 << 18), static_cast<int>(test.total));
        }
        StreamWriter writer(ends[1], seed, test.total);
        if (test.closeWriter) {
            writer.join();
            close(ends[1]);
        }
        pipeline->start();
        ResumeOnExit resume(*delegate);
        ASSERT_TRUE(delegate->waitUntilStalled());
        if (test.closeWriter) {
            ASSERT_TRUE(eventually([&] { return worker.outcome().end == End::endOfOutput; }));
        } else {
            ASSERT_TRUE(eventually([&] { return worker.filledSlots() == 4; }));
        }
        // A deadline already passed: the gather thread reads no more.
        const uint64_t deadline = TerminalIOPipelineWorker::uptimeDeadline(0);
        EXPECT_TRUE(worker.requestDrain(deadline));
        delegate->resume();
        const auto outcome = worker.waitForDrain(deadline, 20'000'000'000);
        EXPECT_TRUE(worker.waitUntilThreadsEnd(TerminalIOPipelineWorker::uptimeDeadline(20)));
        writer.join();
        const auto summary = delegate->summary();
        EXPECT_FALSE(summary.eof);
        EXPECT_FALSE(summary.mismatchAt);
        if (test.closeWriter) {
            EXPECT_EQ(outcome.end, End::endOfOutput);
            EXPECT_EQ(outcome.droppedBytes, 0u);
            EXPECT_EQ(summary.received, test.total);
        } else {
            EXPECT_EQ(outcome.end, End::deadline);
            EXPECT_EQ(summary.batches, 1u) << "slots were delivered after the deadline";
            // The three waiting slots and what the pipe held when reading stopped are counted
            // (the writer may still have added to the pipe after that).
            EXPECT_GT(outcome.droppedBytes, 0u);
            EXPECT_LE(summary.received + outcome.droppedBytes, writer.written());
            close(ends[1]);
        }
    }
    signal(SIGPIPE, previousSigpipe);
}

TEST(TerminalIOPipeline, ShutdownFromAnyThreadAndFromTheDelegate)
{
    // From the delegate: the parse thread must not wait for itself.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    auto delegate = std::make_shared<StreamDelegate>(2);
    std::optional<bool> mayWait;
    delegate->setHook([&](TerminalIOPipeline& pipeline) {
        if (!mayWait)
            mayWait = pipeline.worker()->requestShutdown();
    });
    auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
    pipeline->start();
    StreamWriter(ends[1], 2, 10);
    ASSERT_TRUE(delegate->waitForBytes(10));
    EXPECT_TRUE(pipeline->worker()->waitUntilThreadsEnd(TerminalIOPipelineWorker::uptimeDeadline(20)));
    EXPECT_EQ(mayWait, false) << "requestShutdown on the parse thread said the caller may wait";
    EXPECT_FALSE(delegate->summary().eof) << "a shutdown reported an end of file";
    // A drain asked for after a shutdown does not undo it.
    pipeline->worker()->requestDrain(TerminalIOPipelineWorker::uptimeDeadline(10));
    EXPECT_EQ(pipeline->worker()->runPhase().kind, TerminalIOPipelineWorker::RunPhase::Kind::quitting);
    close(ends[1]);

    // Releasing the pipeline from another thread waits for both threads, which close the pipe.
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    delegate = std::make_shared<StreamDelegate>(2);
    pipeline = TerminalIOPipeline::create(ends[0], delegate);
    pipeline->start();
    auto worker = pipeline->worker();
    pipeline.reset();
    EXPECT_EQ(worker->remainingThreads(), 0);
    pollfd entry{ends[1], POLLOUT, 0};
    ASSERT_EQ(poll(&entry, 1, 0), 1);
    EXPECT_TRUE(entry.revents & POLLERR) << "the pipe's read end is still open";
    close(ends[1]);

    // The delegate may release the last reference to the pipeline during a callback.
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    delegate = std::make_shared<StreamDelegate>(2);
    pipeline = TerminalIOPipeline::create(ends[0], delegate);
    worker = pipeline->worker();
    auto held = std::make_shared<std::shared_ptr<TerminalIOPipeline>>(pipeline);
    delegate->setHook([held](TerminalIOPipeline&) { held->reset(); });
    pipeline->start();
    pipeline.reset();
    StreamWriter(ends[1], 2, 10);
    EXPECT_TRUE(worker->waitUntilThreadsEnd(TerminalIOPipelineWorker::uptimeDeadline(20)));
    delegate->setHook(nullptr);
    close(ends[1]);
}

TEST(TerminalIOPipeline, AClearedSinkOrAMissingDelegateSilencesThePipeline)
{
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    auto delegate = std::make_shared<StreamDelegate>(4);
    auto pipeline = TerminalIOPipeline::create(ends[0], delegate);
    pipeline->start();
    StreamWriter(ends[1], 4, 100);
    ASSERT_TRUE(delegate->waitForBytes(100));
    pipeline->sink()->clear();
    StreamWriter(ends[1], 4, 100);
    close(ends[1]);
    // The end of file still ends both threads, but nobody hears of it or of the last bytes.
    EXPECT_TRUE(pipeline->worker()->waitUntilThreadsEnd(TerminalIOPipelineWorker::uptimeDeadline(20)));
    EXPECT_EQ(delegate->summary().received, 100u);
    EXPECT_FALSE(delegate->summary().eof);

    // A delegate that is gone is simply not called.
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    pipeline = TerminalIOPipeline::create(ends[0], std::make_shared<StreamDelegate>(4));
    pipeline->start();
    StreamWriter(ends[1], 4, 100);
    close(ends[1]);
    EXPECT_TRUE(pipeline->worker()->waitUntilThreadsEnd(TerminalIOPipelineWorker::uptimeDeadline(20)));
}

TEST(TerminalIOPipeline, ADescriptorThatCannotBeReadEndsAtOnce)
{
    auto delegate = std::make_shared<StreamDelegate>(0);
    auto pipeline = TerminalIOPipeline::create(-1, delegate);
    pipeline->start();
    EXPECT_TRUE(delegate->summary().eof) << "no end of file for a closed descriptor";
    EXPECT_EQ(pipeline->worker()->remainingThreads(), 0);
    pipeline->start(); // a second start does nothing
    EXPECT_EQ(pipeline->worker()->remainingThreads(), 0);

    // Never started, then shut down: the descriptor is closed all the same.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    pipeline = TerminalIOPipeline::create(ends[0], delegate);
    EXPECT_TRUE(pipeline->worker()->requestShutdown());
    pollfd entry{ends[1], POLLOUT, 0};
    ASSERT_EQ(poll(&entry, 1, 0), 1);
    EXPECT_TRUE(entry.revents & POLLERR);
    close(ends[1]);
}

TEST(TerminalIOPipeline, UptimeDeadlinesClampAtBothEnds)
{
    const uint64_t before = TerminalIOPipelineWorker::uptimeNanoseconds();
    EXPECT_GE(TerminalIOPipelineWorker::uptimeDeadline(0), before);
    EXPECT_LT(TerminalIOPipelineWorker::uptimeDeadline(-5), before + 1'000'000'000u);
    EXPECT_LT(TerminalIOPipelineWorker::uptimeDeadline(std::nan("")), before + 1'000'000'000u);
    const uint64_t inOneSecond = TerminalIOPipelineWorker::uptimeDeadline(1);
    EXPECT_GE(inOneSecond, before + 1'000'000'000u);
    EXPECT_EQ(TerminalIOPipelineWorker::uptimeDeadline(1e30), std::numeric_limits<uint64_t>::max());
}
