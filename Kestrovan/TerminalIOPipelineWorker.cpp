#include "Kestrovan/TerminalIOPipelineWorker.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/Profiling.h"
#include "Kestrovan/TerminalIOGatherPacing.h"
#include "Kestrovan/TerminalIOPipeline.h"
#include "Platform/Dispatch/ThreadRegistry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <span>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace kestrovan {

namespace {

// Names the worker whose thread this is; 0 on every other thread. Markers come from a counter,
// not from addresses, so a new worker at a freed worker's address is never mistaken for it.
thread_local uint64_t currentWorkerMarker = 0;
std::atomic<uint64_t> nextWorkerMarker{1};

// The gather thread's timer slack, in nanoseconds. Linux lets a sleep overrun by 50 µs by default,
// which would turn the 20 µs naps into about 75 µs; a slack of 1 µs keeps them close to asked.
constexpr unsigned long gatherTimerSlackNs = 1000;

// Sets the marker for the body of a worker thread.
class WorkerThreadScope
{
public:
    explicit WorkerThreadScope(uint64_t marker) { currentWorkerMarker = marker; }
    ~WorkerThreadScope() { currentWorkerMarker = 0; }
};

// Empties a wake pipe: 16-byte reads until one comes back short.
void drainWakePipe(int fd)
{
    uint8_t buffer[16];
    while (read(fd, buffer, sizeof buffer) == static_cast<ssize_t>(sizeof buffer)) {
    }
}

void writeWakeByte(int fd)
{
    const uint8_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(fd, &one, 1);
}

} // namespace

std::shared_ptr<TerminalIOPipelineWorker>
TerminalIOPipelineWorker::create(int fd, std::shared_ptr<TerminalIOPipelineSink> sink)
{
    return std::make_shared<TerminalIOPipelineWorker>(Passkey{}, fd, std::move(sink));
}

TerminalIOPipelineWorker::TerminalIOPipelineWorker(Passkey, int fd,
                                                   std::shared_ptr<TerminalIOPipelineSink> sink)
    : sink_(std::move(sink)), storage_(std::make_unique_for_overwrite<uint8_t[]>(slotCount * slotSize)),
      workerMarker_(nextWorkerMarker.fetch_add(1)), fd_(fd)
{
    const bool controlReady = makePipe(controlReadFd_, controlWriteFd_);
    const bool idleReady = makePipe(idleReadFd_, idleWriteFd_);
    wakePipesReady_ = controlReady && idleReady;
}

TerminalIOPipelineWorker::~TerminalIOPipelineWorker()
{
    closeDescriptorsIfNeeded();
}

bool TerminalIOPipelineWorker::makePipe(int& readFd, int& writeFd)
{
    int ends[2];
    if (pipe(ends) != 0)
        return false;
    readFd = ends[0];
    writeFd = ends[1];
    // Failures of the flag changes are ignored: a wake pipe that blocks or leaks into a child
    // still works, and nothing better could be done about it here.
    for (int end : ends) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
        const int flags = fcntl(end, F_GETFL);
        if (flags >= 0)
            fcntl(end, F_SETFL, flags | O_NONBLOCK);
    }
    return true;
}

void TerminalIOPipelineWorker::start()
{
    bool canRun;
    {
        platform::MutexLock lock(mutex_);
        if (started_)
            return;
        started_ = true;
        remainingThreads_ = 2;
        // The gather thread depends on EAGAIN to tell "nothing more for now" from "more coming";
        // a descriptor that would block could never be coalesced, drained or woken.
        canRun = wakePipesReady_ && fd_ >= 0;
        if (canRun) {
            const int flags = fcntl(fd_, F_GETFL);
            canRun = flags >= 0 && fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
        }
    }
    if (canRun) {
        // The parse thread first: should the gather thread then fail to start, the parse thread
        // alone still sees the gather side done and reports the end of file.
        try {
            std::thread(&TerminalIOPipelineWorker::parseThread, shared_from_this()).detach();
        } catch (const std::system_error&) {
            canRun = false;
        }
    }
    if (canRun) {
        try {
            std::thread(&TerminalIOPipelineWorker::gatherThread, shared_from_this()).detach();
        } catch (const std::system_error&) {
            platform::MutexLock lock(mutex_);
            done_ = true;
            readingEnd_ = ReadingEnd::readError;
            --remainingThreads_;
            condition_.notify_all();
            threadsEnded_.notify_all();
        }
        return;
    }
    // Nothing will ever be read: tell the owner now, the same way a child's end is told.
    {
        platform::MutexLock lock(mutex_);
        done_ = true;
        readingEnd_ = ReadingEnd::readError;
        remainingThreads_ = 0;
        closeDescriptorsLocked();
        condition_.notify_all();
        threadsEnded_.notify_all();
    }
    sink_->reachedEOF();
}

bool TerminalIOPipelineWorker::requestShutdown()
{
    bool neverStarted;
    {
        platform::MutexLock lock(mutex_);
        runPhase_ = RunPhase{RunPhase::Kind::quitting, 0};
        // The byte wakes a gather thread blocked in a poll; the broadcast, a thread on the ring.
        if (controlWriteFd_ >= 0)
            writeWakeByte(controlWriteFd_);
        condition_.notify_all();
        neverStarted = !started_;
    }
    if (neverStarted)
        closeDescriptorsIfNeeded();
    return !isCurrentWorker();
}

bool TerminalIOPipelineWorker::requestDrain(uint64_t deadline)
{
    bool neverStarted;
    {
        platform::MutexLock lock(mutex_);
        // A drain never undoes a shutdown, nor moves an earlier drain's deadline.
        if (runPhase_.kind == RunPhase::Kind::streaming)
            runPhase_ = RunPhase{RunPhase::Kind::draining, deadline};
        if (controlWriteFd_ >= 0)
            writeWakeByte(controlWriteFd_);
        condition_.notify_all();
        neverStarted = !started_;
        if (neverStarted) {
            done_ = true;
            readingEnd_ = ReadingEnd::shutdown;
        }
    }
    if (neverStarted)
        closeDescriptorsIfNeeded();
    return !isCurrentWorker();
}

void TerminalIOPipelineWorker::waitUntilThreadsEnd()
{
    platform::MutexLock lock(mutex_);
    while (remainingThreads_ > 0)
        mutex_.wait(threadsEnded_);
}

bool TerminalIOPipelineWorker::waitUntilThreadsEnd(uint64_t deadline)
{
    platform::MutexLock lock(mutex_);
    while (remainingThreads_ > 0) {
        const uint64_t now = uptimeNanoseconds();
        if (now >= deadline)
            return false;
        waitForThreadsLocked(deadline - now);
    }
    return true;
}

void TerminalIOPipelineWorker::waitForThreadsLocked(uint64_t nanoseconds)
{
    // Bounded steps keep the arithmetic in range for any deadline, "never" included.
    const uint64_t step = std::min<uint64_t>(nanoseconds, 1'000'000'000);
    mutex_.waitUntil(threadsEnded_, std::chrono::steady_clock::now() + std::chrono::nanoseconds(step));
}

TerminalIOPipelineWorker::Outcome TerminalIOPipelineWorker::waitForDrain(uint64_t deadline,
                                                                         uint64_t stallLimitNs)
{
    platform::MutexLock lock(mutex_);
    // Set once the threads are watched for progress past the deadline.
    std::optional<uint64_t> stallStart;
    uint64_t progressAtStallStart = 0;
    while (remainingThreads_ > 0) {
        const uint64_t now = uptimeNanoseconds();
        if (now < deadline) {
            waitForThreadsLocked(deadline - now);
            continue;
        }
        if (done_ && !endReachedLocked()) {
            abandonRingLocked();
            break;
        }
        // Past the deadline the gather thread stops at its next look at the clock (each of its
        // waits ends by then; only a batch it is handing on itself can hold it longer), or it has
        // reached the end and the ring, at most four slots, is being handed on. Either is waited
        // for as long as it gets anywhere: a consumer that takes nothing for `stallLimitNs` (a
        // delivery queue that never runs) is not waited for.
        const uint64_t progress = batchesHandedOn_ + (done_ ? 1 : 0);
        if (!stallStart || progress != progressAtStallStart) {
            stallStart = now;
            progressAtStallStart = progress;
        } else if (now - *stallStart >= stallLimitNs) {
            abandonRingLocked();
            break;
        }
        waitForThreadsLocked(stallLimitNs - std::min(stallLimitNs, now - *stallStart));
    }
    return Outcome{readingEnd_, droppedBytes_};
}

uint64_t TerminalIOPipelineWorker::uptimeNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t TerminalIOPipelineWorker::uptimeDeadline(double seconds)
{
    const uint64_t now = uptimeNanoseconds();
    if (!(seconds > 0))
        return now;
    const double offset = seconds * 1e9;
    const auto largest = std::numeric_limits<uint64_t>::max();
    if (offset >= static_cast<double>(largest - now))
        return largest;
    return now + static_cast<uint64_t>(offset);
}

bool TerminalIOPipelineWorker::isCurrentWorker() const
{
    return currentWorkerMarker == workerMarker_;
}

TerminalIOPipelineWorker::RunPhase TerminalIOPipelineWorker::runPhase() const
{
    platform::MutexLock lock(mutex_);
    return runPhase_;
}

int TerminalIOPipelineWorker::remainingThreads() const
{
    platform::MutexLock lock(mutex_);
    return remainingThreads_;
}

size_t TerminalIOPipelineWorker::filledSlots() const
{
    platform::MutexLock lock(mutex_);
    return count_;
}

TerminalIOPipelineWorker::Outcome TerminalIOPipelineWorker::outcome() const
{
    platform::MutexLock lock(mutex_);
    return Outcome{readingEnd_, droppedBytes_};
}

void TerminalIOPipelineWorker::closeDescriptorsIfNeeded()
{
    platform::MutexLock lock(mutex_);
    closeDescriptorsLocked();
}

void TerminalIOPipelineWorker::closeDescriptorsLocked()
{
    // Closed under the lock, so that whoever sees the last thread gone also sees the descriptors
    // closed: an owner that waited for the threads may count on the master being released.
    if (descriptorsClosed_)
        return;
    descriptorsClosed_ = true;
    for (int* fd : {&fd_, &controlReadFd_, &controlWriteFd_, &idleReadFd_, &idleWriteFd_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void TerminalIOPipelineWorker::notifyLocked()
{
    // While streaming the only waiter is the one thread on the other side of the ring (owners
    // waiting for the threads use a condition of their own); a drain or a shutdown wakes both.
    if (runPhase_.kind == RunPhase::Kind::streaming)
        condition_.notify_one();
    else
        condition_.notify_all();
}

void TerminalIOPipelineWorker::waitLocked()
{
    // A deadline past what the clock's signed count can hold is no deadline at all.
    if (runPhase_.kind != RunPhase::Kind::draining ||
        runPhase_.deadline > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        mutex_.wait(condition_);
        return;
    }
    const auto deadline = std::chrono::steady_clock::time_point(
        std::chrono::nanoseconds(static_cast<int64_t>(runPhase_.deadline)));
    mutex_.waitUntil(condition_, deadline);
}

bool TerminalIOPipelineWorker::deadlinePassedLocked() const
{
    return runPhase_.kind == RunPhase::Kind::draining && uptimeNanoseconds() >= runPhase_.deadline;
}

bool TerminalIOPipelineWorker::endReachedLocked() const
{
    return done_ && readingEnd_ == ReadingEnd::endOfOutput;
}

void TerminalIOPipelineWorker::abandonRingLocked()
{
    if (abandoned_)
        return;
    // The slot being handed on right now, if any, is not dropped: its bytes are with the consumer.
    abandoned_ = true;
    for (size_t index = delivering_ ? 1 : 0; index < count_; ++index)
        droppedBytes_ += lens_[(tail_ + index) % slotCount];
    condition_.notify_all();
}

void TerminalIOPipelineWorker::threadEnded()
{
    platform::MutexLock lock(mutex_);
    if (--remainingThreads_ == 0)
        closeDescriptorsLocked();
    condition_.notify_all();
    threadsEnded_.notify_all();
}

// The gather thread.

void TerminalIOPipelineWorker::gatherThread()
{
    // It hands small batches on itself (`handOnIfParserIdle`), so it counts as a parse thread.
    markCurrentThreadProfilingOwner(ProfilingOwner::parse);
    platform::setCurrentThreadName(gatherThreadName);
    prctl(PR_SET_TIMERSLACK, gatherTimerSlackNs, 0, 0, 0);
    WorkerThreadScope scope(workerMarker_);

    GatherDescriptors descriptors{};
    {
        // Only the last thread to end closes these, so they stay valid for this thread's life.
        platform::MutexLock lock(mutex_);
        descriptors = {fd_, controlReadFd_, idleReadFd_};
    }
    TerminalIOGatherPacing pacing;
    ReadingEnd end = ReadingEnd::stillReading;
    // One round per slot: wait for room, fill the slot, hand it on, and wait for the descriptor
    // unless the slot came back full (then more is surely waiting).
    for (;;) {
        const std::optional<size_t> slot = waitForFreeSlot(end);
        if (!slot)
            break;
        pacing.beginSlot(uptimeNanoseconds());
        size_t filled = 0;
        const SlotEnd slotEnd = fillSlot(descriptors, storage_.get() + *slot * slotSize, filled, pacing, end);
        if (slotEnd == SlotEnd::idleWait) {
            // Nothing gathered: the same slot is started again once the descriptor has news.
            if (!idleWait(descriptors, pacing, end))
                break;
            continue;
        }
        if (filled > 0) {
            uint8_t* bytes = storage_.get() + *slot * slotSize;
            // A small batch (an echo, a prompt) for a parser with nothing in hand is handed on
            // here: waking the parse thread for it would cost more than the parsing, and on a busy
            // machine it is the wait for that thread that a keystroke's echo would feel. The slot
            // is not published, so it is free again for the next round.
            const bool small = filled < TerminalIOGatherPacing::largeSlotBytes;
            if (!small || !handOnIfParserIdle(std::span<const uint8_t>(bytes, filled)))
                publish(*slot, filled);
            pacing.notePublished(filled);
        }
        if (slotEnd == SlotEnd::publishAndStop)
            break;
        if (filled == slotSize) {
            // A full slot means more is surely waiting: straight on to the next, no new burst.
            pacing.gap = 0;
            continue;
        }
        // A drain waits for the descriptor in the next slot, no longer than its deadline.
        if (runPhase().kind == RunPhase::Kind::draining)
            continue;
        if (!idleWait(descriptors, pacing, end))
            break;
    }

    // Reading that stopped at a deadline leaves what the terminal still holds unread.
    uint64_t unread = 0;
    if (end == ReadingEnd::deadline) {
        int waiting = 0;
        if (ioctl(descriptors.fd, FIONREAD, &waiting) == 0 && waiting > 0)
            unread = static_cast<uint64_t>(waiting);
    }
    {
        platform::MutexLock lock(mutex_);
        done_ = true;
        readingEnd_ = end;
        droppedBytes_ += unread;
        condition_.notify_all();
        // An owner waiting for a drain decides on the end of reading, before the threads end.
        threadsEnded_.notify_all();
    }
    threadEnded();
}

std::optional<size_t> TerminalIOPipelineWorker::waitForFreeSlot(ReadingEnd& end)
{
    platform::MutexLock lock(mutex_);
    for (;;) {
        if (runPhase_.kind == RunPhase::Kind::quitting) {
            end = ReadingEnd::shutdown;
            return std::nullopt;
        }
        if (deadlinePassedLocked()) {
            end = ReadingEnd::deadline;
            return std::nullopt;
        }
        if (count_ < slotCount)
            return head_;
        // The ring is full: read nothing until the parser frees a slot. This is the back-pressure.
        waitLocked();
    }
}

TerminalIOPipelineWorker::SlotEnd TerminalIOPipelineWorker::fillSlot(const GatherDescriptors& descriptors,
                                                                     uint8_t* slot, size_t& filled,
                                                                     TerminalIOGatherPacing& pacing,
                                                                     ReadingEnd& end)
{
    using Action = TerminalIOGatherPacing::Action;
    // A drain's poll reported a hang-up without data: the read after it is the last word.
    bool hungUp = false;
    for (;;) {
        const ssize_t count = read(descriptors.fd, slot + filled, slotSize - filled);
        if (count > 0) {
            filled += static_cast<size_t>(count);
            pacing.noteBytesRead();
            hungUp = false;
            bool deadlinePassed;
            {
                platform::MutexLock lock(mutex_);
                deadlinePassed = deadlinePassedLocked();
            }
            if (deadlinePassed) {
                end = ReadingEnd::deadline;
                return SlotEnd::publishAndStop;
            }
            if (filled == slotSize)
                return SlotEnd::publish;
            continue;
        }
        // End of file (a pipe), or on Linux EIO once the child's side of a pseudo-terminal has
        // closed and everything it wrote has been read: the end either way.
        const int error = count == 0 ? 0 : errno;
        if (count == 0 || error == EIO) {
            end = ReadingEnd::endOfOutput;
            return SlotEnd::publishAndStop;
        }
        if (error == EINTR)
            continue;
        // Any other error ends reading too, after what was read has been handed on.
        if (error != EAGAIN && error != EWOULDBLOCK) {
            end = ReadingEnd::readError;
            return SlotEnd::publishAndStop;
        }
        if (runPhase().kind == RunPhase::Kind::draining) {
            // The child is gone, but what it wrote last may still be on its way through the
            // terminal: nothing to read yet is not the end. What there is goes to the parser
            // meanwhile; an empty slot waits for more, the end, or the deadline.
            if (filled > 0)
                return SlotEnd::publish;
            if (hungUp) {
                end = ReadingEnd::endOfOutput;
                return SlotEnd::publishAndStop;
            }
            switch (drainWait(descriptors, end)) {
            case DrainWait::readable:
                continue;
            case DrainWait::hungUp:
                hungUp = true;
                continue;
            case DrainWait::stop:
                return SlotEnd::publishAndStop;
            }
        }

        switch (pacing.afterEmptyRead(filled, uptimeNanoseconds())) {
        case Action::retry:
            continue;
        case Action::nap: {
            // Short enough to be invisible to a person, long enough for a busy child to write
            // its next chunk; the thread's timer slack keeps it short.
            const timespec nap{0, static_cast<long>(TerminalIOGatherPacing::napNs)};
            nanosleep(&nap, nullptr);
            pacing.noteNap(filled);
            continue;
        }
        case Action::idleWait:
            return SlotEnd::idleWait;
        case Action::publish:
            return SlotEnd::publish;
        case Action::bridge:
            switch (bridgingPoll(descriptors, pacing)) {
            case BridgeOutcome::readAgain:
                continue;
            case BridgeOutcome::publish:
                return SlotEnd::publish;
            case BridgeOutcome::publishAndStop:
                end = ReadingEnd::shutdown;
                return SlotEnd::publishAndStop;
            }
        }
    }
}

TerminalIOPipelineWorker::BridgeOutcome
TerminalIOPipelineWorker::bridgingPoll(const GatherDescriptors& descriptors, TerminalIOGatherPacing& pacing)
{
    if (pacing.bridgeExpired(uptimeNanoseconds()))
        return BridgeOutcome::publish;
    {
        platform::MutexLock lock(mutex_);
        // The parser has nothing queued: holding the slot back would only leave it idle.
        if (count_ == 0)
            return BridgeOutcome::publish;
        bridging_ = true;
    }
    pollfd entries[3] = {
        {descriptors.fd, POLLIN, 0}, {descriptors.controlRead, POLLIN, 0}, {descriptors.idleRead, POLLIN, 0}};
    // The parser is busy with earlier slots: waiting up to 1 ms for more output costs it nothing
    // and hands it a bigger batch next. The idle pipe cuts the wait short if it runs dry.
    const int ready = poll(entries, 3, TerminalIOGatherPacing::bridgePollMs);
    const int pollError = errno;
    {
        platform::MutexLock lock(mutex_);
        bridging_ = false;
    }
    if (ready < 0) {
        if (pollError != EINTR)
            return BridgeOutcome::publish;
        pacing.noteBridgeRead();
        return BridgeOutcome::readAgain;
    }
    if (ready == 0)
        return BridgeOutcome::publish;
    if (entries[1].revents & POLLIN) {
        drainWakePipe(descriptors.controlRead);
        // A shutdown stops reading; a drain reads on (the next empty read waits as a drain does).
        if (runPhase().kind == RunPhase::Kind::quitting)
            return BridgeOutcome::publishAndStop;
        pacing.noteBridgeRead();
        return BridgeOutcome::readAgain;
    }
    if (entries[2].revents & POLLIN) {
        // The parser ran dry while this slot was held back for it: hand it over now.
        drainWakePipe(descriptors.idleRead);
        return BridgeOutcome::publish;
    }
    // A bare hang-up (or error) carries no more data: publish what there is, and the next read
    // reports the end.
    if (!(entries[0].revents & POLLIN))
        return BridgeOutcome::publish;
    pacing.noteBridgeRead();
    return BridgeOutcome::readAgain;
}

bool TerminalIOPipelineWorker::idleWait(const GatherDescriptors& descriptors, TerminalIOGatherPacing& pacing,
                                        ReadingEnd& end)
{
    const uint64_t waitStart = uptimeNanoseconds();
    for (;;) {
        pollfd entries[2] = {{descriptors.fd, POLLIN, 0}, {descriptors.controlRead, POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            end = ReadingEnd::readError;
            return false;
        }
        if (entries[1].revents & POLLIN) {
            drainWakePipe(descriptors.controlRead);
            const RunPhase::Kind phase = runPhase().kind;
            if (phase == RunPhase::Kind::streaming)
                continue;
            if (phase == RunPhase::Kind::quitting) {
                end = ReadingEnd::shutdown;
                return false;
            }
            break; // draining: read on, as a drain does
        }
        // On Linux a pseudo-terminal whose child side has closed reports POLLHUP without POLLIN
        // once everything has been read. An error or an invalid descriptor would report the same
        // way forever, so they end reading too.
        const short results = entries[0].revents;
        if ((results & (POLLHUP | POLLERR | POLLNVAL)) && !(results & POLLIN)) {
            end = results & POLLHUP ? ReadingEnd::endOfOutput : ReadingEnd::readError;
            return false;
        }
        break;
    }
    pacing.gap = uptimeNanoseconds() - waitStart;
    return true;
}

TerminalIOPipelineWorker::DrainWait TerminalIOPipelineWorker::drainWait(const GatherDescriptors& descriptors,
                                                                        ReadingEnd& end)
{
    for (;;) {
        const RunPhase phase = runPhase();
        if (phase.kind == RunPhase::Kind::quitting) {
            end = ReadingEnd::shutdown;
            return DrainWait::stop;
        }
        const uint64_t now = uptimeNanoseconds();
        if (now >= phase.deadline) {
            end = ReadingEnd::deadline;
            return DrainWait::stop;
        }
        // Whole milliseconds, rounded up so that the wait never ends just short of the deadline,
        // and at most a second at a time, so that "never" stays in range.
        const uint64_t left = phase.deadline - now;
        const int timeoutMs = static_cast<int>(std::min<uint64_t>((left + 999'999) / 1'000'000, 1000));
        pollfd entries[2] = {{descriptors.fd, POLLIN, 0}, {descriptors.controlRead, POLLIN, 0}};
        const int ready = poll(entries, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            end = ReadingEnd::readError;
            return DrainWait::stop;
        }
        if (entries[1].revents & POLLIN)
            drainWakePipe(descriptors.controlRead); // a shutdown, seen at the top
        const short results = entries[0].revents;
        if (results & POLLIN)
            return DrainWait::readable;
        if (results & POLLNVAL) {
            end = ReadingEnd::readError;
            return DrainWait::stop;
        }
        if (results & (POLLHUP | POLLERR))
            return DrainWait::hungUp;
    }
}

bool TerminalIOPipelineWorker::handOnIfParserIdle(std::span<const uint8_t> bytes)
{
    {
        platform::MutexLock lock(mutex_);
        // The gather thread is the only one to publish, so while it hands on a batch itself with
        // no slot filled, the parse thread has nothing to deliver and the sink is called by one
        // thread at a time, in order. A drain or a shutdown keeps to the ring's own rules.
        if (count_ != 0 || runPhase_.kind != RunPhase::Kind::streaming)
            return false;
    }
    handOn(bytes);
    platform::MutexLock lock(mutex_);
    ++batchesHandedOn_;
    return true;
}

void TerminalIOPipelineWorker::handOn(std::span<const uint8_t> bytes)
{
    ProfilingInterval interval;
    if (Profiling::enabled()) {
        char message[32];
        std::snprintf(message, sizeof message, "bytes=%zu", bytes.size());
        interval = ProfilingInterval::begin(ProfilingEvent::ioBatch, std::nullopt, message);
    }
    sink_->received(bytes);
    interval.end();
}

void TerminalIOPipelineWorker::publish(size_t slot, size_t length)
{
    platform::MutexLock lock(mutex_);
    lens_[slot] = length;
    head_ = (head_ + 1) % slotCount;
    ++count_;
    notifyLocked();
}

// The parse thread.

void TerminalIOPipelineWorker::parseThread()
{
    markCurrentThreadProfilingOwner(ProfilingOwner::parse);
    platform::setCurrentThreadName(parseThreadName);
    WorkerThreadScope scope(workerMarker_);

    for (;;) {
        size_t slot;
        size_t length;
        {
            platform::MutexLock lock(mutex_);
            bool exit = false;
            bool reportEOF = false;
            for (;;) {
                if (abandoned_) {
                    exit = true;
                    break;
                }
                if (deadlinePassedLocked() && !endReachedLocked()) {
                    // A drain's deadline has passed. The gather thread stops at once; the slots
                    // still filled are handed on only if it stops at the descriptor's end.
                    if (done_) {
                        abandonRingLocked();
                        exit = true;
                        break;
                    }
                    mutex_.wait(condition_);
                    continue;
                }
                if (count_ > 0)
                    break;
                if (done_) {
                    // Everything read has been handed on. An owner that asked for a drain or a
                    // shutdown knows the end already and is not told again.
                    exit = true;
                    reportEOF = runPhase_.kind == RunPhase::Kind::streaming;
                    break;
                }
                waitLocked();
            }
            if (exit) {
                lock.unlock();
                if (reportEOF)
                    sink_->reachedEOF();
                break;
            }
            slot = tail_;
            length = lens_[slot];
            delivering_ = true;
        }
        KESTROVAN_ASSERT(length >= 1 && length <= slotSize,
                         "TerminalIOPipelineWorker: published slot length out of range");

        // The batch is lent straight out of its slot; the gather thread leaves a published slot
        // alone until it is released.
        handOn(std::span<const uint8_t>(storage_.get() + slot * slotSize, length));
        release(slot);
    }
    threadEnded();
}

void TerminalIOPipelineWorker::release(size_t slot)
{
    int wakeFd = -1;
    {
        platform::MutexLock lock(mutex_);
        lens_[slot] = 0;
        tail_ = (tail_ + 1) % slotCount;
        --count_;
        ++batchesHandedOn_;
        delivering_ = false;
        // The gather thread is holding a slot back for a parser that has just run dry.
        if (count_ == 0 && bridging_ && idleWriteFd_ >= 0)
            wakeFd = idleWriteFd_;
        notifyLocked();
    }
    if (wakeFd >= 0)
        writeWakeByte(wakeFd);
}

} // namespace kestrovan
