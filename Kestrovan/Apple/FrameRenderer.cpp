#include "Kestrovan/Apple/FrameRenderer.h"

#include "Kestrovan/Apple/TerminalSnapshot.h"

namespace kestrovan {

bool RecordingFrameRenderer::acquireFrameSlot(std::chrono::duration<double> timeout)
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
    platform::MutexLock guard(mutex_);
    while (slotTaken_) {
        if (mutex_.waitUntil(slotFreed_, deadline) == std::cv_status::timeout && slotTaken_)
            return false;
    }
    slotTaken_ = true;
    return true;
}

void RecordingFrameRenderer::releaseFrameSlot()
{
    {
        platform::MutexLock guard(mutex_);
        slotTaken_ = false;
    }
    slotFreed_.notify_all();
}

void RecordingFrameRenderer::holdFrameInFlight()
{
    platform::MutexLock guard(mutex_);
    slotTaken_ = true;
}

void RecordingFrameRenderer::completeFrameInFlight()
{
    releaseFrameSlot();
}

void RecordingFrameRenderer::setPreparedSnapshot(std::optional<PreparedSnapshot> prepared)
{
    platform::MutexLock guard(mutex_);
    prepared_ = std::move(prepared);
    ++preparedStores_;
}

bool RecordingFrameRenderer::hasPreparedSnapshot() const
{
    platform::MutexLock guard(mutex_);
    return prepared_.has_value();
}

void RecordingFrameRenderer::render()
{
    recordRender();
    // A presented frame is announced to the process-wide hook, as a GPU renderer does.
    terminalFramePresentedHandler().call();
}

void RecordingFrameRenderer::recordRender()
{
    platform::MutexLock guard(mutex_);
    RenderRecord record;
    if (prepared_ && prepared_->snapshot) {
        record.rowCount = prepared_->snapshot->rows.size();
        if (prepared_->snapshot->cursor)
            record.cursorRow = prepared_->snapshot->cursor->absoluteRow;
        record.contextIdentity = prepared_->context.identity;
    }
    renders_.push_back(record);
}

int RecordingFrameRenderer::completedRenderCount() const
{
    platform::MutexLock guard(mutex_);
    return static_cast<int>(renders_.size());
}

std::vector<RecordingFrameRenderer::RenderRecord> RecordingFrameRenderer::renders() const
{
    platform::MutexLock guard(mutex_);
    return renders_;
}

int RecordingFrameRenderer::preparedSnapshotStores() const
{
    platform::MutexLock guard(mutex_);
    return preparedStores_;
}

} // namespace kestrovan
