#include "Kestrovan/TerminalIOPipeline.h"

#include "Kestrovan/TerminalIOPipelineWorker.h"

#include <utility>

namespace kestrovan {

TerminalIOPipelineSink::TerminalIOPipelineSink(std::weak_ptr<TerminalIOPipelineDelegate> delegate)
    : state(TerminalIOPipelineSinkState{std::move(delegate), {}})
{}

void TerminalIOPipelineSink::received(std::span<const uint8_t> bytes)
{
    auto [delegate, pipeline] = state.withLock([](TerminalIOPipelineSinkState& value) {
        return std::make_pair(value.delegate.lock(), value.pipeline.lock());
    });
    if (delegate && pipeline)
        delegate->pipeline(*pipeline, bytes);
}

void TerminalIOPipelineSink::reachedEOF()
{
    auto [delegate, pipeline] = state.withLock([](TerminalIOPipelineSinkState& value) {
        return std::make_pair(value.delegate.lock(), value.pipeline.lock());
    });
    if (delegate && pipeline)
        delegate->pipelineReachedEOF(*pipeline);
}

void TerminalIOPipelineSink::clear()
{
    // Moved out under the lock and released after it: releasing a delegate may run anything.
    TerminalIOPipelineSinkState dropped =
        state.withLock([](TerminalIOPipelineSinkState& value) { return std::exchange(value, {}); });
}

std::shared_ptr<TerminalIOPipeline>
TerminalIOPipeline::create(int fd, std::weak_ptr<TerminalIOPipelineDelegate> delegate)
{
    auto pipeline = std::make_shared<TerminalIOPipeline>(Passkey{}, fd, std::move(delegate));
    pipeline->sink_->state.withLock([&](TerminalIOPipelineSinkState& value) { value.pipeline = pipeline; });
    return pipeline;
}

TerminalIOPipeline::TerminalIOPipeline(Passkey, int fd, std::weak_ptr<TerminalIOPipelineDelegate> delegate)
    : sink_(std::make_shared<TerminalIOPipelineSink>(std::move(delegate))),
      worker_(TerminalIOPipelineWorker::create(fd, sink_))
{}

TerminalIOPipeline::~TerminalIOPipeline()
{
    // On one of the worker's own threads (the delegate let go of the last reference during a
    // callback) there is nothing to wait for: that thread ends on its own after the callback.
    if (worker_->requestShutdown())
        worker_->waitUntilThreadsEnd();
    sink_->clear();
}

void TerminalIOPipeline::start()
{
    worker_->start();
}

} // namespace kestrovan
