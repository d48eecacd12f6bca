// One child program (normally the user's shell) on a pseudo-terminal: both roads to and from it.
//
// Output: a `TerminalIOPipeline` reads the master side and every batch goes to the delegate, on
// the delivery queue (the reader waits for it, so a slow consumer holds the child back) or, with
// direct delivery, on the reader's own threads. Input: `send` hands bytes to a serial writer,
// which writes them at once when it is idle and waits for room when the terminal is full. The child's exit is
// noticed by an exit monitor; a reaper thread reaps it, the output is read on until the terminal reports its
// end (or for `drainTimeout` at most, should something else keep the terminal open) and handed on, and only
// then is the end reported. Output a drain had to drop is counted (`lastDrain`) and logged. Releasing the
// last reference tears the child down: SIGTERM, and SIGKILL `killEscalationDelay` later if it is still there,
// and it is always reaped.
//
// One object may run several children, one after the other. Each start opens a new generation;
// deferred work carries the generation it belongs to and is dropped once that is no longer the
// current one. Deferred work reaches the object only through weak references, so none of it keeps
// a released process alive.
#pragma once

#include "Kestrovan/LocalProcessChildReaper.h"
#include "Kestrovan/LocalProcessDelegate.h"
#include "Kestrovan/LocalProcessError.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/TerminalIOPipeline.h"
#include "Kestrovan/TerminalIOPipelineWorker.h"
#include "Kestrovan/TerminalPasteControls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <sys/ioctl.h>
#include <vector>

namespace platform {
class DispatchQueue;
class ExitMonitor;
class ProcessWriter;
class SerialQueue;
} // namespace platform

namespace kestrovan {

enum class LocalProcessPhase
{
    idle,
    starting,
    running,
    terminating,
    exited,
    windingDown,
};

/// How the drain after a child's exit ended: at the terminal's end, or cut short, and the bytes of
/// the child's output that never reached the delegate.
using LocalProcessDrain = TerminalIOPipelineWorker::Outcome;

/// Everything a `LocalProcess` knows about its current child; always reached under its lock.
struct LocalProcessSessionState
{
    /// Incremented by every start and every launch failure.
    uint64_t generation = 0;
    LocalProcessPhase phase = LocalProcessPhase::idle;
    /// The pseudo-terminal master; -1 when none (also once the reader has closed it).
    int32_t childfd = -1;
    int32_t shellPid = 0;
    bool terminateRequestedDuringStart = false;
    std::shared_ptr<LocalProcessChildReaper> reaper;
    std::shared_ptr<TerminalIOPipeline> pipeline;
    std::shared_ptr<platform::ProcessWriter> writeChannel;
    std::shared_ptr<platform::ExitMonitor> childMonitor;
    /// Seconds the output is still read after the child exited, at most.
    double drainTimeout = 0.5;
    /// How the last child's drain ended; `stillReading` before any child has ended.
    LocalProcessDrain lastDrain;
    /// Seconds between SIGTERM and SIGKILL at teardown.
    double killEscalationDelay = 0.5;
    /// Folder for raw output dumps, one file per batch.
    std::optional<std::string> loggingDirectory;
    int logFileCounter = 0;
    bool debugIO = false;
    /// Bytes received, counted only while `debugIO` is on.
    int64_t totalRead = 0;
};

struct LocalProcessCounters
{
    /// Non-empty sends queued so far.
    int64_t sendCount = 0;
    /// Bytes the writer confirmed.
    int64_t totalWritten = 0;
    /// What the terminal's replies still waiting for the writer cost, as `sendReply` counts it.
    size_t pendingReplyBytes = 0;
    /// Replies are being dropped; cleared once every reply still waiting is done.
    bool droppingReplies = false;
};

class LocalProcess : public TerminalIOPipelineDelegate, public std::enable_shared_from_this<LocalProcess>
{
    struct Passkey
    {};

public:
    /// The label of the delivery queue made when the client gives none.
    static constexpr const char* defaultDeliveryQueueLabel = "org.kestrovan.local-process.delivery";
    /// The label of the writer's queue.
    static constexpr const char* writeQueueLabel = "kestrovan-writer";
    /// How much of the terminal's own replies may wait for a child that does not read its input.
    static constexpr size_t maximumPendingReplyBytes = size_t{1} << 20;
    /// What one queued write costs beyond its bytes (its buffer, completion and queue entry),
    /// counted with each reply so that a flood of tiny replies is bounded in memory too.
    static constexpr size_t pendingReplyOverhead = 256;

    using DuplicateDescriptor = std::function<int32_t(int32_t)>;
    using SendCompletion = std::function<void(LocalProcessSendResult)>;

    /// A process for `delegate` (held weakly) that reports on `dispatchQueue`, or on a new serial
    /// queue labelled `defaultDeliveryQueueLabel` when none is given. `duplicateDescriptor` makes
    /// the writer's descriptor from the master; by default `fcntl(F_DUPFD_CLOEXEC)`.
    static std::shared_ptr<LocalProcess>
    create(const std::shared_ptr<LocalProcessDelegate>& delegate,
           std::shared_ptr<platform::DispatchQueue> dispatchQueue = nullptr, bool directDelivery = false,
           DuplicateDescriptor duplicateDescriptor = nullptr);
    LocalProcess(Passkey, const std::shared_ptr<LocalProcessDelegate>& delegate,
                 std::shared_ptr<platform::DispatchQueue> dispatchQueue, bool directDelivery,
                 DuplicateDescriptor duplicateDescriptor);
    /// Tears the child down (see the file comment); returns without waiting for it.
    ~LocalProcess() override;

    LocalProcess(const LocalProcess&) = delete;
    LocalProcess& operator=(const LocalProcess&) = delete;

    int32_t childfd() const;
    int32_t shellPid() const;
    double drainTimeout() const;
    void setDrainTimeout(double seconds);
    double killEscalationDelay() const;
    void setKillEscalationDelay(double seconds);
    /// The terminal's special characters a paste must not pass raw, while a child runs.
    std::optional<ByteSet> terminalControlBytesForPaste() const;
    bool debugIO() const;
    void setDebugIO(bool on);
    int64_t sendCount() const;
    /// The bytes written to children so far.
    int64_t total() const;

    /// Queues `data` for the child; a failed write is reported with a logged line.
    void send(std::span<const uint8_t> data);
    /// Queues `data` for the child. `completion` runs once: as one of the writer queue's items (on
    /// the calling thread, in the queue's turn, when an idle writer wrote everything at once), or
    /// at once on the calling thread when nothing is to be written (no child, or no bytes).
    void send(std::span<const uint8_t> data, SendCompletion completion);
    /// Queues a reply the terminal made by itself (a device report, a query's answer). Unlike
    /// `send`, which carries what the user types and pastes and never drops it, replies are
    /// bounded: once those still waiting cost `maximumPendingReplyBytes` (a program that asks in a
    /// loop and never reads its input), further replies are dropped until the waiting ones are
    /// done, and the first drop of each such stretch is logged. Answers whether it was queued.
    bool sendReply(std::span<const uint8_t> data);
    /// What the replies still waiting for the writer cost (bytes plus `pendingReplyOverhead` each).
    size_t pendingReplyBytes() const;

    /// True while a child runs, is being terminated, or has exited and its output still drains.
    bool running() const;
    /// True between the end of a child and the delivery of that news.
    bool windingDown() const;
    /// How the drain after the last child's exit ended, and what it dropped; set before the end
    /// is reported.
    LocalProcessDrain lastDrain() const;

    /// Starts `executable` with `args` (after the program name, which is `execName` or else the
    /// executable), in `environment` (by default the terminal's own) and `currentDirectory`.
    /// Failures reach the delegate's `processFailedToStart` on the delivery queue.
    void startProcess(const std::string& executable, const std::vector<std::string>& args = {},
                      const std::optional<std::vector<std::string>>& environment = std::nullopt,
                      const std::optional<std::string>& execName = std::nullopt,
                      const std::optional<std::string>& currentDirectory = std::nullopt);
    /// The same, but a failure is only returned, never reported to the delegate.
    std::optional<LocalProcessError>
    startProcessChecked(const std::string& executable, const std::vector<std::string>& args = {},
                        const std::optional<std::vector<std::string>>& environment = std::nullopt,
                        const std::optional<std::string>& execName = std::nullopt,
                        const std::optional<std::string>& currentDirectory = std::nullopt);

    /// Asks the child to end with SIGTERM; during a start, once the start is done.
    void terminate();
    /// Sets (or, with none, clears) the folder that receives raw output dumps.
    void setHostLogging(const std::optional<std::string>& directory);
    /// Sets the terminal's size while a child runs; true on success.
    bool updateWindowSize(winsize& size);

    // TerminalIOPipelineDelegate
    void pipeline(TerminalIOPipeline& pipeline, std::span<const uint8_t> bytes) override;
    void pipelineReachedEOF(TerminalIOPipeline& pipeline) override;

private:
    std::optional<LocalProcessError> start(const std::string& executable,
                                           const std::vector<std::string>& args,
                                           const std::optional<std::vector<std::string>>& environment,
                                           const std::optional<std::string>& execName,
                                           const std::optional<std::string>& currentDirectory, bool notify);
    LocalProcessError launchFailure(LocalProcessError error, bool notify);
    void childDidExit(uint64_t generation, std::optional<int> status);
    using EndReport = std::function<void(LocalProcessDelegate&, LocalProcess&)>;
    void reportEndOfGeneration(uint64_t generation, EndReport report);
    std::shared_ptr<LocalProcessDelegate> delegate() const;
    static void releasePipeline(std::shared_ptr<TerminalIOPipeline> pipeline);

    Locked<LocalProcessSessionState> session;
    const DuplicateDescriptor duplicateDescriptor;
    // Shared with the writer's completions, which may run after the process is gone.
    const std::shared_ptr<Locked<LocalProcessCounters>> counters;
    Locked<std::weak_ptr<LocalProcessDelegate>> delegateReference;
    const std::shared_ptr<platform::DispatchQueue> dispatchQueue;
    const bool directDelivery;
    const std::shared_ptr<platform::SerialQueue> writeQueue;
};

} // namespace kestrovan
