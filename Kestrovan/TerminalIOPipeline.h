// The reader of one child's output: a pseudo-terminal master read in batches by two threads and
// handed, batch by batch, to a delegate.
//
// `TerminalIOPipeline` is what its owner holds; the threads and the ring of slots live in its
// `TerminalIOPipelineWorker`, and every call to the delegate goes through the
// `TerminalIOPipelineSink`, which holds the delegate and the pipeline weakly. Once the owner
// clears the sink (after a drain or a shutdown), or either party is gone, nothing more is
// delivered. The pipeline owns the descriptor from its creation on.
#pragma once

#include "Kestrovan/Locked.h"

#include <cstdint>
#include <memory>
#include <span>

namespace kestrovan {

class TerminalIOPipeline;
class TerminalIOPipelineWorker;

/// Receives a pipeline's output on its threads, one call at a time: on the parse thread, or on the
/// gather thread for a small batch that finds the parse thread idle.
class TerminalIOPipelineDelegate
{
public:
    virtual ~TerminalIOPipelineDelegate() = default;

    /// One batch of output, in order; `bytes` is borrowed and valid only during the call. A slow
    /// answer holds back reading, and in the end the child.
    virtual void pipeline(TerminalIOPipeline& pipeline, std::span<const uint8_t> bytes) = 0;
    /// The child's side is closed and every byte read has been delivered. Not called when the
    /// owner asked for a drain or a shutdown first.
    virtual void pipelineReachedEOF(TerminalIOPipeline& pipeline) = 0;
};

struct TerminalIOPipelineSinkState
{
    std::weak_ptr<TerminalIOPipelineDelegate> delegate;
    std::weak_ptr<TerminalIOPipeline> pipeline;
};

/// The pipeline's way out: forwards to the delegate only while both it and the pipeline exist.
class TerminalIOPipelineSink
{
public:
    explicit TerminalIOPipelineSink(std::weak_ptr<TerminalIOPipelineDelegate> delegate);

    /// Delivers a batch, outside the sink's lock.
    void received(std::span<const uint8_t> bytes);
    /// Delivers the end of file, outside the sink's lock.
    void reachedEOF();
    /// Drops both references, silencing the pipeline for good.
    void clear();

    Locked<TerminalIOPipelineSinkState> state;
};

class TerminalIOPipeline
{
    struct Passkey
    {};

public:
    /// A pipeline reading `fd`, which it owns from now on, for `delegate` (held weakly). Nothing
    /// is read until `start()`.
    static std::shared_ptr<TerminalIOPipeline> create(int fd,
                                                      std::weak_ptr<TerminalIOPipelineDelegate> delegate);
    TerminalIOPipeline(Passkey, int fd, std::weak_ptr<TerminalIOPipelineDelegate> delegate);

    /// Shuts the worker down and, unless called on one of its threads, waits for both threads to
    /// end; then clears the sink.
    ~TerminalIOPipeline();

    TerminalIOPipeline(const TerminalIOPipeline&) = delete;
    TerminalIOPipeline& operator=(const TerminalIOPipeline&) = delete;

    /// Starts the worker's threads (see `TerminalIOPipelineWorker::start`).
    void start();

    const std::shared_ptr<TerminalIOPipelineSink>& sink() const { return sink_; }
    const std::shared_ptr<TerminalIOPipelineWorker>& worker() const { return worker_; }

private:
    std::shared_ptr<TerminalIOPipelineSink> sink_;
    std::shared_ptr<TerminalIOPipelineWorker> worker_;
};

} // namespace kestrovan
