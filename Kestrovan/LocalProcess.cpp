#include "Kestrovan/LocalProcess.h"

#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/LocalProcessProgramSearch.h"
#include "Kestrovan/PseudoTerminalHelpers.h"
#include "Kestrovan/TerminalEnvironment.h"
#include "Kestrovan/TerminalIOPipelineWorker.h"
#include "Platform/Dispatch/ExitMonitor.h"
#include "Platform/Dispatch/ProcessWriter.h"
#include "Platform/Dispatch/SerialQueue.h"
#include "Platform/Dispatch/UtilityPool.h"
#include "Platform/Files/RegularFile.h"
#include "Platform/Log/Log.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <variant>

namespace kestrovan {

namespace {

using Phase = LocalProcessPhase;

/// Where dropped replies are reported: once per stretch of drops, so it cannot be flooded.
const platform::Logger& replyLog()
{
    static const platform::Logger log("org.morvane.Kestrovan", "Replies");
    return log;
}

/// The traffic traces asked for with `debugIO`, failed writes and failed dumps. Traces are not
/// rate-limited as diagnostics are: whoever turns them on wants every line.
const platform::Logger& processLog()
{
    static const platform::Logger log("org.morvane.Kestrovan", "ProcessIO");
    return log;
}

// The writer's own descriptor: a duplicate, so that the reader closing the master never pulls it
// from under a write in progress; close-on-exec, so no later child inherits it.
int32_t duplicateWithCloseOnExec(int32_t descriptor)
{
    return fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
}

// "[104, 105, 10]": the byte values of a trace line.
std::string byteList(std::span<const uint8_t> bytes)
{
    std::string text = "[";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(bytes[i]);
    }
    return text + "]";
}

} // namespace

std::shared_ptr<LocalProcess> LocalProcess::create(const std::shared_ptr<LocalProcessDelegate>& delegate,
                                                   std::shared_ptr<platform::DispatchQueue> dispatchQueue,
                                                   bool directDelivery,
                                                   DuplicateDescriptor duplicateDescriptor)
{
    return std::make_shared<LocalProcess>(Passkey{}, delegate, std::move(dispatchQueue), directDelivery,
                                          std::move(duplicateDescriptor));
}

LocalProcess::LocalProcess(Passkey, const std::shared_ptr<LocalProcessDelegate>& delegate,
                           std::shared_ptr<platform::DispatchQueue> dispatchQueue, bool directDelivery,
                           DuplicateDescriptor duplicateDescriptor)
    : duplicateDescriptor(duplicateDescriptor ? std::move(duplicateDescriptor) : duplicateWithCloseOnExec),
      counters(std::make_shared<Locked<LocalProcessCounters>>()), delegateReference(delegate),
      dispatchQueue(dispatchQueue ? std::move(dispatchQueue)
                                  : std::make_shared<platform::SerialQueue>(defaultDeliveryQueueLabel)),
      directDelivery(directDelivery), writeQueue(std::make_shared<platform::SerialQueue>(writeQueueLabel))
{}

LocalProcess::~LocalProcess()
{
    // Take the whole state, leaving a fresh one behind: whatever deferred work still finds this
    // object (none should, it reaches it weakly) sees an idle process.
    LocalProcessSessionState state =
        session.withLock([](LocalProcessSessionState& value) { return std::exchange(value, {}); });

    // The pipeline's threads may be busy delivering (even waiting for the delivery queue, which
    // may be the thread running this), so they are ended and waited for elsewhere.
    releasePipeline(std::move(state.pipeline));
    if (state.childMonitor)
        state.childMonitor->cancel();

    if (state.reaper) {
        // The child is asked first and forced later. Nothing here waits for it: a reaper thread
        // does, so the child never stays a zombie, and only then lets the writer go, abandoning
        // writes it will never read.
        auto reaper = state.reaper;
        reaper->signal(SIGTERM);
        const auto delay = std::chrono::duration_cast<platform::TimerQueue::Clock::duration>(
            std::chrono::duration<double>(std::max(0.0, state.killEscalationDelay)));
        auto kill = IOTimerQueue::shared().schedule(platform::TimerQueue::Clock::now() + delay,
                                                    [reaper] { reaper->signal(SIGKILL); });
        LocalProcessChildReaper::startThread(
            [reaper, kill, writer = std::move(state.writeChannel)]() mutable {
                reaper->wait();
                // Reaped: the escalation has nothing left to do (and would be refused anyway).
                kill.cancel();
                if (writer)
                    writer->close(platform::ProcessWriter::CloseMode::stop);
            });
    } else if (state.writeChannel) {
        state.writeChannel->close(platform::ProcessWriter::CloseMode::stop);
    }
    // The writer's queue and an own delivery queue go with the last members: each runs what it
    // still holds (write completions, deliveries that now find no process) before its thread ends.
}

void LocalProcess::releasePipeline(std::shared_ptr<TerminalIOPipeline> pipeline)
{
    if (!pipeline)
        return;
    // Dropping the pipeline shuts its worker down, waits for both threads and clears the sink.
    platform::UtilityPool::shared().async([pipeline = std::move(pipeline)]() mutable { pipeline.reset(); });
}

// --- Properties ----------------------------------------------------------------------------------

int32_t LocalProcess::childfd() const
{
    return session.withLock([](const LocalProcessSessionState& value) { return value.childfd; });
}

int32_t LocalProcess::shellPid() const
{
    return session.withLock([](const LocalProcessSessionState& value) { return value.shellPid; });
}

double LocalProcess::drainTimeout() const
{
    return session.withLock([](const LocalProcessSessionState& value) { return value.drainTimeout; });
}

void LocalProcess::setDrainTimeout(double seconds)
{
    session.withLock([&](LocalProcessSessionState& value) { value.drainTimeout = seconds; });
}

double LocalProcess::killEscalationDelay() const
{
    return session.withLock([](const LocalProcessSessionState& value) { return value.killEscalationDelay; });
}

void LocalProcess::setKillEscalationDelay(double seconds)
{
    session.withLock([&](LocalProcessSessionState& value) { value.killEscalationDelay = seconds; });
}

std::optional<ByteSet> LocalProcess::terminalControlBytesForPaste() const
{
    return session.withLock([](const LocalProcessSessionState& value) -> std::optional<ByteSet> {
        const bool live = value.phase == Phase::running || value.phase == Phase::terminating;
        if (!live || value.childfd < 0)
            return std::nullopt;
        return PseudoTerminalHelpers::terminalControlBytesForPaste(value.childfd);
    });
}

bool LocalProcess::debugIO() const
{
    return session.withLock([](const LocalProcessSessionState& value) { return value.debugIO; });
}

void LocalProcess::setDebugIO(bool on)
{
    session.withLock([&](LocalProcessSessionState& value) { value.debugIO = on; });
}

int64_t LocalProcess::sendCount() const
{
    return counters->withLock([](const LocalProcessCounters& value) { return value.sendCount; });
}

int64_t LocalProcess::total() const
{
    return counters->withLock([](const LocalProcessCounters& value) { return value.totalWritten; });
}

bool LocalProcess::running() const
{
    return session.withLock([](const LocalProcessSessionState& value) {
        return value.phase == Phase::running || value.phase == Phase::terminating ||
               value.phase == Phase::exited;
    });
}

bool LocalProcess::windingDown() const
{
    return session.withLock(
        [](const LocalProcessSessionState& value) { return value.phase == Phase::windingDown; });
}

LocalProcessDrain LocalProcess::lastDrain() const
{
    return session.withLock([](const LocalProcessSessionState& value) { return value.lastDrain; });
}

std::shared_ptr<LocalProcessDelegate> LocalProcess::delegate() const
{
    return delegateReference.withLock(
        [](const std::weak_ptr<LocalProcessDelegate>& value) { return value.lock(); });
}

// --- Sending -------------------------------------------------------------------------------------

void LocalProcess::send(std::span<const uint8_t> data)
{
    send(data, [](LocalProcessSendResult result) {
        if (const auto* error = std::get_if<LocalProcessError>(&result);
            error && error->kind() == LocalProcessError::Case::writeFailed)
            processLog().error("Error writing data to the child, errno=" + std::to_string(error->code()));
    });
}

bool LocalProcess::sendReply(std::span<const uint8_t> data)
{
    const size_t cost = data.size() + pendingReplyOverhead;
    bool beganDropping = false;
    const bool accepted = counters->withLock([&](LocalProcessCounters& value) {
        if (value.droppingReplies || value.pendingReplyBytes >= maximumPendingReplyBytes) {
            beganDropping = !value.droppingReplies;
            value.droppingReplies = true;
            return false;
        }
        value.pendingReplyBytes += cost;
        return true;
    });
    if (beganDropping)
        replyLog().error("the child does not read its input: dropping the terminal's replies while " +
                         std::to_string(maximumPendingReplyBytes) + " bytes of them wait");
    if (!accepted)
        return false;
    // The count goes down when the writer is done with the reply, whether it got through or not;
    // a reply that did not is not reported (the child is going away, and a report per reply
    // would flood the output). The drops end, and the next stretch is logged again, only once
    // the backlog has drained: at the edge of the bound each reply would otherwise start one.
    send(data, [counters = counters, cost](LocalProcessSendResult) {
        counters->withLock([cost](LocalProcessCounters& value) {
            value.pendingReplyBytes -= cost;
            if (value.pendingReplyBytes == 0)
                value.droppingReplies = false;
        });
    });
    return true;
}

size_t LocalProcess::pendingReplyBytes() const
{
    return counters->withLock([](const LocalProcessCounters& value) { return value.pendingReplyBytes; });
}

void LocalProcess::send(std::span<const uint8_t> data, SendCompletion completion)
{
    struct Channel
    {
        std::shared_ptr<platform::ProcessWriter> writer;
        bool debugIO = false;
    };
    const Channel channel = session.withLock([](const LocalProcessSessionState& value) {
        const bool live = value.phase == Phase::running || value.phase == Phase::terminating;
        return live ? Channel{value.writeChannel, value.debugIO} : Channel{};
    });
    // Without a live child, and for nothing to write, the completion runs at once on this thread.
    if (!channel.writer) {
        completion(LocalProcessError::notRunning());
        return;
    }
    if (data.empty()) {
        completion(int64_t{0});
        return;
    }
    const int64_t index = counters->withLock([](LocalProcessCounters& value) { return value.sendCount++; });
    std::vector<uint8_t> bytes(data.begin(), data.end());
    if (channel.debugIO)
        processLog().info("[SEND-" + std::to_string(index) + "] Queuing data to client: " + byteList(bytes) +
                          " ");

    // The completion reaches the counters, not the process: it may run after the process is gone,
    // when the writer gives up the writes that were still queued.
    const int64_t length = static_cast<int64_t>(bytes.size());
    channel.writer->write(
        std::move(bytes), [counters = counters, index, length, debugIO = channel.debugIO,
                           completion = std::move(completion)](platform::ProcessWriter::WriteResult result) {
            const int64_t written =
                result.error == 0 ? length : std::max<int64_t>(0, static_cast<int64_t>(result.bytesWritten));
            const int64_t total = counters->withLock([&](LocalProcessCounters& value) {
                value.totalWritten += written;
                return value.totalWritten;
            });
            if (debugIO)
                processLog().info("[SEND-" + std::to_string(index) +
                                  "] completed bytes=" + std::to_string(total));
            if (result.error == 0)
                completion(written);
            else
                completion(LocalProcessError::writeFailed(result.error, written));
        });
}

// --- Starting ------------------------------------------------------------------------------------

void LocalProcess::startProcess(const std::string& executable, const std::vector<std::string>& args,
                                const std::optional<std::vector<std::string>>& environment,
                                const std::optional<std::string>& execName,
                                const std::optional<std::string>& currentDirectory)
{
    start(executable, args, environment, execName, currentDirectory, true);
}

std::optional<LocalProcessError>
LocalProcess::startProcessChecked(const std::string& executable, const std::vector<std::string>& args,
                                  const std::optional<std::vector<std::string>>& environment,
                                  const std::optional<std::string>& execName,
                                  const std::optional<std::string>& currentDirectory)
{
    return start(executable, args, environment, execName, currentDirectory, false);
}

std::optional<LocalProcessError>
LocalProcess::start(const std::string& executable, const std::vector<std::string>& args,
                    const std::optional<std::vector<std::string>>& environment,
                    const std::optional<std::string>& execName,
                    const std::optional<std::string>& currentDirectory, bool notify)
{
    // Only an idle process starts: a child still running, or one whose end has not been delivered
    // yet, keeps the phase elsewhere, and that child is left untouched.
    const bool accepted = session.withLock([](LocalProcessSessionState& value) {
        if (value.phase != Phase::idle)
            return false;
        value.phase = Phase::starting;
        return true;
    });
    if (!accepted)
        return LocalProcessError::alreadyRunning();

    // Asked without any lock held: the delegate may well look at this process meanwhile.
    winsize size{};
    if (auto client = delegate())
        size = client->getWindowSize();

    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(execName.value_or(executable));
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> env =
        environment ? *environment : getEnvironmentVariables("xterm-256color", true);

    // A program named without a slash is looked up here, in the child's search path, as the
    // shell would: the child can then only fail to start it for a reason worth an errno.
    const std::variant<std::string, int> path =
        findProgram(executable, searchPathOf(env).value_or(inheritedSearchPath()), currentDirectory);
    if (const int* error = std::get_if<int>(&path)) {
        if (*error == ENOENT)
            return launchFailure(LocalProcessError::programNotFound(executable), notify);
        return launchFailure(LocalProcessError::forkFailed(*error), notify);
    }

    // Builds everything the child needs before the fork, so that the child only makes
    // async-signal-safe calls before `execve`.
    auto started =
        PseudoTerminalHelpers::fork(std::get<std::string>(path), argv, env, currentDirectory, size);
    if (!started)
        return launchFailure(LocalProcessError::forkFailed(errno), notify);
    // The master is close-on-exec: a later child of this program never holds this terminal.
    const int master = started->masterFd;
    const pid_t pid = started->pid;

    const int duplicate = duplicateDescriptor(master);
    if (duplicate < 0) {
        // The child exists but could never be written to: it is killed and reaped at once.
        const int error = errno;
        close(master);
        auto reaper = std::make_shared<LocalProcessChildReaper>(pid);
        reaper->signal(SIGKILL);
        LocalProcessChildReaper::startThread([reaper] { reaper->wait(); });
        return launchFailure(LocalProcessError::writeChannelFailed(error), notify);
    }

    auto writer = std::make_shared<platform::ProcessWriter>(duplicate, writeQueue);
    auto reaper = std::make_shared<LocalProcessChildReaper>(pid);
    struct Started
    {
        uint64_t generation;
        bool terminateNow;
    };
    // The child's generation: everything deferred on its behalf carries it from now on.
    const Started current = session.withLock([&](LocalProcessSessionState& value) {
        const uint64_t generation = ++value.generation;
        const bool terminateNow = value.terminateRequestedDuringStart;
        value.phase = terminateNow ? Phase::terminating : Phase::running;
        value.terminateRequestedDuringStart = false;
        value.childfd = master;
        value.shellPid = pid;
        value.writeChannel = writer;
        value.reaper = reaper;
        return Started{generation, terminateNow};
    });

    // From here the pipeline owns the master and closes it.
    auto pipeline = TerminalIOPipeline::create(master, weak_from_this());
    session.withLock([&](LocalProcessSessionState& value) { value.pipeline = pipeline; });
    pipeline->start();

    // A child that has ended already is noticed at once: it stays a zombie until reaped.
    auto monitor = std::make_shared<platform::ExitMonitor>(pid);
    session.withLock([&](LocalProcessSessionState& value) { value.childMonitor = monitor; });
    std::weak_ptr<LocalProcess> weakSelf = weak_from_this();
    const uint64_t generation = current.generation;
    monitor->notifyOnExit(dispatchQueue, [weakSelf, generation, reaper](std::optional<int>) {
        // Reaping, and then draining for up to `drainTimeout`, must not hold up the delivery
        // queue: the parse thread may be waiting on it with the last output.
        LocalProcessChildReaper::startThread([weakSelf, generation, reaper] {
            const std::optional<int> status = reaper->wait();
            auto self = weakSelf.lock();
            if (!self)
                return;
            auto finished = self->session.withLock([&](LocalProcessSessionState& value) {
                return value.generation == generation ? std::exchange(value.childMonitor, nullptr) : nullptr;
            });
            if (finished)
                finished->cancel();
            self->childDidExit(generation, status);
        });
    });

    // A `terminate()` that came while the child was being made is carried out now, once.
    if (current.terminateNow)
        reaper->signal(SIGTERM);
    return std::nullopt;
}

// A start that failed. When the delegate is to hear of it, the process stays `windingDown` until
// the news is delivered, so that no new start can overtake the report of the old one.
LocalProcessError LocalProcess::launchFailure(LocalProcessError error, bool notify)
{
    const uint64_t generation = session.withLock([&](LocalProcessSessionState& value) {
        value.terminateRequestedDuringStart = false;
        value.phase = notify ? Phase::windingDown : Phase::idle;
        return ++value.generation;
    });
    if (notify) {
        reportEndOfGeneration(generation, [error](LocalProcessDelegate& client, LocalProcess& self) {
            client.processFailedToStart(self, error);
        });
    }
    return error;
}

// The last word on a generation, on the delivery queue after every delivery queued there before
// it: the process becomes idle (so it may start again) and only then is the delegate told. A
// report that finds a newer generation, or a process no longer winding down, is dropped.
void LocalProcess::reportEndOfGeneration(uint64_t generation, EndReport report)
{
    dispatchQueue->async([weakSelf = weak_from_this(), generation, report = std::move(report)] {
        auto self = weakSelf.lock();
        if (!self)
            return;
        const bool current = self->session.withLock([&](LocalProcessSessionState& value) {
            if (value.generation != generation || value.phase != Phase::windingDown)
                return false;
            value.phase = Phase::idle;
            return true;
        });
        if (!current)
            return;
        if (auto client = self->delegate())
            report(*client, *self);
    });
}

// --- The child's end -----------------------------------------------------------------------------

// On a reaper thread, once the child of `generation` has been reaped.
void LocalProcess::childDidExit(uint64_t generation, std::optional<int> status)
{
    struct Exited
    {
        bool current = false;
        std::shared_ptr<TerminalIOPipeline> pipeline;
        double drainTimeout = 0;
    };
    const Exited exited = session.withLock([&](LocalProcessSessionState& value) {
        const bool live = value.phase == Phase::running || value.phase == Phase::terminating;
        if (value.generation != generation || !live)
            return Exited{};
        value.phase = Phase::exited;
        value.childfd = -1;
        value.shellPid = 0;
        return Exited{true, value.pipeline, value.drainTimeout};
    });
    if (!exited.current)
        return;

    LocalProcessDrain drain;
    if (exited.pipeline) {
        // What the child wrote before it ended may still sit in the ring, in the terminal, or be
        // on its way through the terminal: all of it is delivered before the end is reported. The
        // drain reads until the terminal reports its end, which comes as soon as nothing holds
        // the child's side open any more; `drainTimeout` bounds the wait for it.
        const uint64_t start = TerminalIOPipelineWorker::uptimeNanoseconds();
        const uint64_t deadline = TerminalIOPipelineWorker::uptimeDeadline(exited.drainTimeout);
        // Past the deadline, a delivery that gets nowhere for as long as the drain could last is
        // given up: a delivery queue that never runs must not keep the end from being reported.
        const uint64_t stallLimit = deadline - std::min(deadline, start);
        const auto& worker = exited.pipeline->worker();
        drain =
            worker->requestDrain(deadline) ? worker->waitForDrain(deadline, stallLimit) : worker->outcome();
        exited.pipeline->sink()->clear();
        if (drain.droppedBytes > 0)
            processLog().error("the drain after the child's exit ended at its deadline: " +
                               std::to_string(drain.droppedBytes) + " bytes of its output were dropped");
    }

    // No code when the status is unknown or a signal ended the child.
    std::optional<int32_t> exitCode;
    if (status && WIFEXITED(*status))
        exitCode = WEXITSTATUS(*status);

    struct WoundDown
    {
        bool current = false;
        std::shared_ptr<TerminalIOPipeline> pipeline;
        std::shared_ptr<LocalProcessChildReaper> reaper;
        std::shared_ptr<platform::ProcessWriter> writer;
    };
    // A teardown while the drain ran has taken the state already; then nothing is reported.
    WoundDown woundDown = session.withLock([&](LocalProcessSessionState& value) {
        if (value.generation != generation || value.phase != Phase::exited)
            return WoundDown{};
        value.phase = Phase::windingDown;
        value.lastDrain = drain;
        return WoundDown{true, std::exchange(value.pipeline, nullptr), std::exchange(value.reaper, nullptr),
                         std::exchange(value.writeChannel, nullptr)};
    });
    if (!woundDown.current)
        return;
    releasePipeline(std::move(woundDown.pipeline));
    // Writes the child will never read are abandoned, a blocked one too.
    if (woundDown.writer)
        woundDown.writer->close(platform::ProcessWriter::CloseMode::stop);

    reportEndOfGeneration(generation, [exitCode](LocalProcessDelegate& client, LocalProcess& self) {
        client.processTerminated(self, exitCode);
    });
}

void LocalProcess::terminate()
{
    auto reaper =
        session.withLock([](LocalProcessSessionState& value) -> std::shared_ptr<LocalProcessChildReaper> {
            switch (value.phase) {
            case Phase::starting:
                value.terminateRequestedDuringStart = true;
                return nullptr;
            case Phase::running:
                value.phase = Phase::terminating;
                return value.reaper;
            case Phase::terminating:
                // Asked again: SIGTERM again.
                return value.reaper;
            default:
                return nullptr;
            }
        });
    if (reaper)
        reaper->signal(SIGTERM);
}

void LocalProcess::setHostLogging(const std::optional<std::string>& directory)
{
    session.withLock([&](LocalProcessSessionState& value) {
        value.loggingDirectory = directory;
        value.logFileCounter = 0;
    });
}

bool LocalProcess::updateWindowSize(winsize& size)
{
    return session.withLock([&](const LocalProcessSessionState& value) {
        const bool live = value.phase == Phase::running || value.phase == Phase::terminating;
        return live && value.childfd >= 0 && PseudoTerminalHelpers::setWinSize(value.childfd, size) == 0;
    });
}

// --- Output --------------------------------------------------------------------------------------

void LocalProcess::pipeline(TerminalIOPipeline& source, std::span<const uint8_t> bytes)
{
    struct Trace
    {
        bool current = false;
        bool debugIO = false;
        int64_t totalRead = 0;
        std::optional<std::string> dumpPath;
    };
    const Trace trace = session.withLock([&](LocalProcessSessionState& value) {
        if (value.pipeline.get() != &source)
            return Trace{};
        Trace result{true, value.debugIO, 0, std::nullopt};
        if (value.debugIO) {
            value.totalRead += static_cast<int64_t>(bytes.size());
            result.totalRead = value.totalRead;
        }
        if (value.loggingDirectory)
            result.dumpPath = *value.loggingDirectory + "/log-" + std::to_string(value.logFileCounter++);
        return result;
    });
    // Output of a pipeline that is no longer this process's own belongs to an earlier child.
    if (!trace.current)
        return;
    if (trace.debugIO)
        processLog().info("[READ] count=" + std::to_string(bytes.size()) +
                          " received from host total=" + std::to_string(trace.totalRead));
    if (trace.dumpPath) {
        // The reading thread never waits on the dump: a FIFO left at its name is refused.
        if (const auto failure =
                platform::writeRegularFile(*trace.dumpPath, bytes, platform::WriteMode::replace))
            processLog().error("Got error while logging data dump to " + *trace.dumpPath + ": " +
                               failure->reason);
    }

    // Direct delivery stays on this thread; a borrowing client even reads the ring's slot itself.
    if (directDelivery) {
        auto client = delegate();
        if (!client)
            return;
        if (auto* borrowing = dynamic_cast<LocalProcessBorrowedDataDelegate*>(client.get())) {
            borrowing->dataReceivedBorrowed(bytes);
            return;
        }
        client->dataReceived(bytes);
        return;
    }
    // The parse thread waits for the delivery, so a slow consumer holds back reading (and, once
    // the ring is full, the child). The bytes stay in the ring's slot until then: the delegate
    // reads them there, as it would a copy.
    dispatchQueue->sync([&] {
        if (auto client = delegate())
            client->dataReceived(bytes);
    });
}

void LocalProcess::pipelineReachedEOF(TerminalIOPipeline& source)
{
    // The end itself is reported by the exit monitor; this only forgets the descriptor, which the
    // pipeline is about to close.
    session.withLock([&](LocalProcessSessionState& value) {
        if (value.pipeline.get() == &source)
            value.childfd = -1;
    });
}

} // namespace kestrovan
