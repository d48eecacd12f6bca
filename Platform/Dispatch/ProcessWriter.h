// The writer of one child process: ordered writes of byte buffers to a descriptor (normally a
// duplicate of the pseudo-terminal master), carried out on a serial queue.
//
// The descriptor is made non-blocking. That flag lives in the open file description, so it is
// shared with the master the descriptor was duplicated from (the reader pipeline sets it too): a
// full pseudo-terminal therefore answers EAGAIN, and the writer waits for room with poll. The wait
// also watches an event descriptor, so `close` with `CloseMode::stop` interrupts a writer stuck on
// a child that stopped reading. Every write calls its completion exactly once, as one of the queue's
// items, with the bytes that got through and an errno (0 on success, ECANCELED for writes given up
// by a stop). A write that finds the queue idle is made on the calling thread in the queue's turn
// (`SerialQueue::inlineTurn`), its completion too when the terminal took everything; only what must
// wait for room goes to the queue's thread.
// On a pipe whose reader is gone a write raises SIGPIPE; a pseudo-terminal raises none.
#pragma once

#include "Platform/Dispatch/SerialQueue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class ProcessWriter
{
public:
    /// The outcome of one write.
    struct WriteResult
    {
        /// 0 when every byte was written, else the errno that ended the write.
        int error = 0;
        size_t bytesWritten = 0;

        bool operator==(const WriteResult&) const = default;
    };
    using Completion = std::function<void(WriteResult)>;

    enum class CloseMode
    {
        /// Writes already queued still run; then the descriptor is closed.
        finishPending,
        /// Writes not yet finished end at once with ECANCELED (a blocked one too); then the
        /// descriptor is closed.
        stop,
    };

    /// Takes ownership of `descriptor` and makes it non-blocking; writes run on `queue`.
    ProcessWriter(int descriptor, std::shared_ptr<SerialQueue> queue);
    /// Closes with `CloseMode::stop` unless closed already; does not wait for the queue.
    ~ProcessWriter();

    ProcessWriter(const ProcessWriter&) = delete;
    ProcessWriter& operator=(const ProcessWriter&) = delete;

    /// Writes `bytes` after every write queued before: at once, on the calling thread, when the
    /// queue is idle and the terminal has room, else on the queue. After `close`, the completion
    /// runs on the queue with ECANCELED and nothing written.
    void write(std::vector<uint8_t> bytes, Completion completion);

    /// Closes the writer; the descriptor itself is closed on the queue, after the queued writes.
    /// Only the first call counts.
    void close(CloseMode mode);

private:
    struct State;
    /// Writes from `written` on without waiting; false when the rest must wait for room, true when
    /// done (everything written, or `error` set).
    static bool writeWithoutWaiting(State& state, const std::vector<uint8_t>& bytes, size_t& written,
                                    int& error);
    /// Writes from `written` on, waiting for room, and completes.
    static void perform(State& state, const std::vector<uint8_t>& bytes, size_t written,
                        const Completion& completion);
    static int waitUntilWritable(State& state);

    std::shared_ptr<State> state_;
    std::shared_ptr<SerialQueue> queue_;
};

} // namespace platform
