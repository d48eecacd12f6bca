// The two threads of a pipeline and the ring they share.
//
// The gather thread reads the pseudo-terminal master into the slot being filled and decides, with
// `TerminalIOGatherPacing`, when the slot is complete (published); the parse thread hands each
// published slot, in order, to the sink and frees it. A small batch that finds the parse thread
// with nothing to do (an echo, a prompt) is handed on by the gather thread itself, which saves the
// keystroke's echo a thread wake-up. Four slots of 64 KiB make the ring: when all
// four are full the gather thread stops reading, the kernel's buffer fills and the child blocks in
// its writes, which is the back-pressure that keeps a fast child from outrunning the parser. Two
// pipes wake the gather thread out of its polls: the control pipe for a drain or a shutdown, the
// idle pipe when the parser ran dry while the gather thread was holding a slot back for it.
//
// Every shared field is guarded by one mutex; the sink is always called without
// them. The threads hold the worker, so it lives until both have ended; the last one to end closes
// the descriptors before anyone waiting can see that the threads are gone.
//
// After the child has exited, its owner drains the pipeline: reading goes on until the descriptor
// reports its end (end of file, or EIO from a pseudo-terminal whose child side has closed and been
// read empty) or a deadline passes. A child's last output may still be on its way through the
// terminal when its exit is noticed, so a read that finds nothing does not end a drain. Once the end
// has come, everything read is handed on, whatever the time; only output cut short by the deadline
// is dropped, and `outcome` counts it.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace kestrovan {

class TerminalIOPipelineSink;
struct TerminalIOGatherPacing;

class TerminalIOPipelineWorker : public std::enable_shared_from_this<TerminalIOPipelineWorker>
{
    struct Passkey
    {};

public:
    static constexpr size_t slotCount = 4;
    static constexpr size_t slotSize = 65536;

    /// The full names of the two threads (Linux shows their first 15 bytes).
    static constexpr const char* gatherThreadName = "kestrovan-io-gather";
    static constexpr const char* parseThreadName = "kestrovan-parse";

    /// `streaming` until a drain or a shutdown is asked for; `draining` carries its deadline.
    struct RunPhase
    {
        enum class Kind
        {
            streaming,
            draining,
            quitting,
        };
        Kind kind = Kind::streaming;
        /// Monotonic uptime in nanoseconds; meaningful in `draining` only.
        uint64_t deadline = 0;

        bool operator==(const RunPhase&) const = default;
    };

    /// How the gather thread stopped reading.
    enum class ReadingEnd
    {
        /// It has not stopped yet.
        stillReading,
        /// The descriptor reported its end: end of file, or EIO once a pseudo-terminal's child
        /// side has closed and everything it wrote has been read.
        endOfOutput,
        /// A read or a poll failed otherwise.
        readError,
        /// A drain's deadline passed before the end came.
        deadline,
        /// The owner shut the worker down.
        shutdown,
    };

    /// How reading ended, and how much of the output was never handed on.
    struct Outcome
    {
        ReadingEnd end = ReadingEnd::stillReading;
        /// Bytes dropped at a drain's deadline: those of the slots still filled when the threads
        /// ended, and those the descriptor still held (as FIONREAD reports) when reading stopped.
        uint64_t droppedBytes = 0;

        bool operator==(const Outcome&) const = default;
    };

    /// A worker for `fd` (owned from now on) delivering to `sink`; creates its wake pipes.
    static std::shared_ptr<TerminalIOPipelineWorker> create(int fd,
                                                            std::shared_ptr<TerminalIOPipelineSink> sink);
    TerminalIOPipelineWorker(Passkey, int fd, std::shared_ptr<TerminalIOPipelineSink> sink);
    /// Closes whatever descriptors are still open.
    ~TerminalIOPipelineWorker();

    TerminalIOPipelineWorker(const TerminalIOPipelineWorker&) = delete;
    TerminalIOPipelineWorker& operator=(const TerminalIOPipelineWorker&) = delete;

    /// Makes the descriptor non-blocking and starts both threads; only the first call counts.
    /// Without wake pipes, with a closed descriptor or one that cannot be made non-blocking, no
    /// thread starts: the descriptors are closed and the sink hears the end of file at once.
    void start() EXCLUDES(mutex_);

    /// Ends both threads as soon as they can: the gather thread reads no more, the parse thread
    /// still hands on what is filled. Never waits; true when the caller is not one of this
    /// worker's threads, and may therefore wait for them (`waitUntilThreadsEnd`).
    bool requestShutdown() EXCLUDES(mutex_);
    /// From `streaming` only: reads on until the descriptor reports its end, or until `deadline`
    /// (monotonic nanoseconds) at the latest, and hands on what it read; then both threads end
    /// without an end of file. Never waits; returns as `requestShutdown` does.
    bool requestDrain(uint64_t deadline) EXCLUDES(mutex_);
    /// After `requestDrain(deadline)` returned true: waits until the threads have ended, or until
    /// the deadline has passed and reading has stopped short of the descriptor's end; the slots
    /// still filled are then abandoned. When the end came in time, it waits on past the deadline
    /// while the parse thread hands on what the ring holds (at most its four slots), giving up
    /// only when it hands on nothing for `stallLimitNs`. Returns the outcome, dropped bytes
    /// included.
    Outcome waitForDrain(uint64_t deadline, uint64_t stallLimitNs) EXCLUDES(mutex_);

    /// Waits until both threads have ended.
    void waitUntilThreadsEnd() EXCLUDES(mutex_);
    /// Waits until both threads have ended or the monotonic clock reaches `deadline`; true when
    /// they have ended.
    bool waitUntilThreadsEnd(uint64_t deadline) EXCLUDES(mutex_);

    /// Monotonic uptime in nanoseconds plus `seconds`; now for a non-positive or NaN `seconds`;
    /// the largest value when the sum would pass it.
    static uint64_t uptimeDeadline(double seconds);
    /// Monotonic uptime in nanoseconds.
    static uint64_t uptimeNanoseconds();

    /// True on this worker's gather or parse thread.
    bool isCurrentWorker() const;

    RunPhase runPhase() const EXCLUDES(mutex_);
    /// The number of threads still running: 2 after `start`, counting down as they end.
    int remainingThreads() const EXCLUDES(mutex_);
    /// The number of published slots not yet released by the parse thread, 0 to 4.
    size_t filledSlots() const EXCLUDES(mutex_);
    /// How reading ended so far, and the bytes dropped.
    Outcome outcome() const EXCLUDES(mutex_);

private:
    enum class SlotEnd
    {
        publish,
        publishAndStop,
        idleWait,
    };
    enum class BridgeOutcome
    {
        readAgain,
        publish,
        publishAndStop,
    };
    enum class DrainWait
    {
        readable,
        hungUp,
        stop,
    };
    struct GatherDescriptors
    {
        int fd;
        int controlRead;
        int idleRead;
    };

    static bool makePipe(int& readFd, int& writeFd);
    void closeDescriptorsIfNeeded() EXCLUDES(mutex_);
    void closeDescriptorsLocked() REQUIRES(mutex_);
    void notifyLocked() REQUIRES(mutex_);
    /// Sleeps on the ring's condition, no longer than a drain's deadline.
    void waitLocked() REQUIRES(mutex_);
    /// Sleeps until the threads' count changes, no longer than `nanoseconds` (or a second).
    void waitForThreadsLocked(uint64_t nanoseconds) REQUIRES(mutex_);
    bool deadlinePassedLocked() const REQUIRES(mutex_);
    /// True once the gather thread has ended at the descriptor's end: then nothing is left to wait
    /// for, and what the ring holds is handed on past any deadline.
    bool endReachedLocked() const REQUIRES(mutex_);
    /// Gives up the slots still filled: the parse thread hands on no more, and their bytes count as
    /// dropped. Only the first call counts.
    void abandonRingLocked() REQUIRES(mutex_);

    void gatherThread();
    std::optional<size_t> waitForFreeSlot(ReadingEnd& end) EXCLUDES(mutex_);
    SlotEnd fillSlot(const GatherDescriptors& descriptors, uint8_t* slot, size_t& filled,
                     TerminalIOGatherPacing& pacing, ReadingEnd& end);
    BridgeOutcome bridgingPoll(const GatherDescriptors& descriptors, TerminalIOGatherPacing& pacing);
    bool idleWait(const GatherDescriptors& descriptors, TerminalIOGatherPacing& pacing, ReadingEnd& end);
    DrainWait drainWait(const GatherDescriptors& descriptors, ReadingEnd& end);
    void publish(size_t slot, size_t length) EXCLUDES(mutex_);
    /// Hands `bytes` on at once, on the gather thread, when no slot is filled while streaming;
    /// false, with nothing done, otherwise.
    bool handOnIfParserIdle(std::span<const uint8_t> bytes) EXCLUDES(mutex_);
    /// Calls the sink with one batch, timed when profiling is on.
    void handOn(std::span<const uint8_t> bytes);

    void parseThread();
    void release(size_t slot) EXCLUDES(mutex_);

    void threadEnded() EXCLUDES(mutex_);

    const std::shared_ptr<TerminalIOPipelineSink> sink_;
    const std::unique_ptr<uint8_t[]> storage_;
    const uint64_t workerMarker_;

    mutable platform::Mutex mutex_;
    // The ring's condition: the two threads wait on it for each other.
    std::condition_variable condition_;
    // Owners waiting for the threads to end wait on this one, so that a signal meant for one of
    // the threads can never be taken by them.
    std::condition_variable threadsEnded_;
    int fd_ GUARDED_BY(mutex_) = -1;
    int controlReadFd_ GUARDED_BY(mutex_) = -1;
    int controlWriteFd_ GUARDED_BY(mutex_) = -1;
    int idleReadFd_ GUARDED_BY(mutex_) = -1;
    int idleWriteFd_ GUARDED_BY(mutex_) = -1;
    std::array<size_t, slotCount> lens_ GUARDED_BY(mutex_){};
    size_t head_ GUARDED_BY(mutex_) = 0;
    size_t tail_ GUARDED_BY(mutex_) = 0;
    size_t count_ GUARDED_BY(mutex_) = 0;
    bool bridging_ GUARDED_BY(mutex_) = false;
    bool done_ GUARDED_BY(mutex_) = false;
    ReadingEnd readingEnd_ GUARDED_BY(mutex_) = ReadingEnd::stillReading;
    uint64_t droppedBytes_ GUARDED_BY(mutex_) = 0;
    bool abandoned_ GUARDED_BY(mutex_) = false;
    // The parse thread is handing on the slot at `tail_`.
    bool delivering_ GUARDED_BY(mutex_) = false;
    // Batches handed on in all, by either thread: a drain's owner watches it for progress.
    uint64_t batchesHandedOn_ GUARDED_BY(mutex_) = 0;
    RunPhase runPhase_ GUARDED_BY(mutex_);
    int remainingThreads_ GUARDED_BY(mutex_) = 0;
    bool descriptorsClosed_ GUARDED_BY(mutex_) = false;
    bool started_ GUARDED_BY(mutex_) = false;
    bool wakePipesReady_ GUARDED_BY(mutex_) = false;
};

} // namespace kestrovan
