// What the render owner asks of a GPU renderer, and a recording stand-in that implements it.
//
// The owner hands a renderer the frame to draw as a prepared snapshot (the session's snapshot
// with its render context), asks it to draw on the render thread, and waits for its one frame in
// flight before replacing or removing it. The GPU renderer implements this interface; until it
// exists, `RecordingFrameRenderer` stands in for it: it draws nothing and records what it was
// given, so the frame road can be driven and checked end to end.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Platform/Sync/Mutex.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

class TerminalSnapshot;

/// The frame a renderer draws next: the snapshot and the render context resolved with it.
struct PreparedSnapshot
{
    std::shared_ptr<TerminalSnapshot> snapshot;
    SnapshotRenderContext context;
};

class FrameRenderer
{
public:
    virtual ~FrameRenderer() = default;

    /// Waits up to `timeout` for the frame in flight to complete and takes its slot; false on
    /// time-out.
    virtual bool acquireFrameSlot(std::chrono::duration<double> timeout) = 0;
    /// Gives the slot taken by `acquireFrameSlot` back.
    virtual void releaseFrameSlot() = 0;
    /// Replaces the prepared snapshot (absent clears it).
    virtual void setPreparedSnapshot(std::optional<PreparedSnapshot> prepared) = 0;
    virtual bool hasPreparedSnapshot() const = 0;
    /// Draws the prepared snapshot into the renderer's own surface. Called with the owner's
    /// render-state lock held, so the snapshot cannot change meanwhile.
    virtual void render() = 0;
    /// Frames drawn to completion so far.
    virtual int completedRenderCount() const = 0;
};

/// A renderer that draws nothing: it records each render with the rows and cursor row it was
/// given and calls the frame-presented hook, and lets a test hold its frame in flight to see a
/// replacement wait or time out.
class RecordingFrameRenderer final : public FrameRenderer
{
public:
    /// One `render` call as seen by the renderer.
    struct RenderRecord
    {
        size_t rowCount = 0;
        std::optional<int64_t> cursorRow;
        uint64_t contextIdentity = 0;
    };

    bool acquireFrameSlot(std::chrono::duration<double> timeout) override;
    void releaseFrameSlot() override;
    void setPreparedSnapshot(std::optional<PreparedSnapshot> prepared) override;
    bool hasPreparedSnapshot() const override;
    void render() override;
    int completedRenderCount() const override;

    /// Keeps a frame in flight (as a GPU still drawing would) until `completeFrameInFlight`.
    void holdFrameInFlight();
    void completeFrameInFlight();
    std::vector<RenderRecord> renders() const;
    /// How many times a prepared snapshot was stored (absent ones included).
    int preparedSnapshotStores() const;

private:
    void recordRender();

    mutable platform::Mutex mutex_;
    std::condition_variable slotFreed_;
    bool slotTaken_ GUARDED_BY(mutex_) = false;
    std::optional<PreparedSnapshot> prepared_ GUARDED_BY(mutex_);
    std::vector<RenderRecord> renders_ GUARDED_BY(mutex_);
    int preparedStores_ GUARDED_BY(mutex_) = 0;
};

} // namespace kestrovan
