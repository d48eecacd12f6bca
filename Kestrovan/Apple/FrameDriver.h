// Turns changes of content into at most one frame per display refresh, on the main thread, and
// stops the display link when nothing changes.
//
// The driver consumes the bits its `FrameDriverSignal` gathers from any thread: a frame request
// marks a frame owed and starts the display link, whose ticks run `onTick` whenever a frame is
// owed; eight idle ticks in a row pause the link again, so an idle terminal costs no wake-ups.
// When an owed frame is drawn at once instead of at the next tick is `FramePacing`'s decision: the
// first frame after the link resumes, at most once per 16 ms, and the echo of the user's input,
// also while the link runs. A link that resumes on demand (a window's frame clock) is paused after
// every frame instead and ticks once it is started and the refresh interval it keeps after its
// last frame has passed; for an echo it is asked to tick at once (`expediteTick`). The driver
// also follows whether its view can be seen and suspends ticking while it cannot, telling its host
// through `onVisibilityChanged`.
//
// Everything here runs on the main thread; only the signal is shared with other threads. A link
// that ticks on the main thread (a manual source, a window's frame clock) calls the driver
// directly; one that ticks on its own thread only publishes `linkTick`, which reaches the driver
// through the signal's single coalesced delivery.
#pragma once

#include "Kestrovan/Apple/FrameDriverSignal.h"
#include "Kestrovan/Apple/FramePacing.h"
#include "Platform/Dispatch/DisplayLink.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrovan {

struct FrameDriverCounters
{
    int ticks = 0;
    int frames = 0;
    int idleTicks = 0;
    int pauses = 0;
    int immediateTicks = 0;
    int deliveries = 0;
    /// Echoes for which a link that resumes on demand was asked to tick sooner.
    int expeditedTicks = 0;

    friend bool operator==(const FrameDriverCounters&, const FrameDriverCounters&) = default;
};

class FrameDriver : public std::enable_shared_from_this<FrameDriver>
{
public:
    /// Nanoseconds of a monotonic clock; injected for the 16 ms rule.
    using UptimeClock = std::function<uint64_t()>;

    /// Consecutive idle ticks after which the link pauses.
    static constexpr int idleTicksBeforePause = 8;
    /// The least time between two immediate ticks made on resuming.
    static constexpr uint64_t resumeTickIntervalNs = 16'000'000;

    /// A driver consuming `signal`, ticking from `link` (none yet: it stays idle until `bind`), with
    /// the monotonic clock unless another is given.
    static std::shared_ptr<FrameDriver> create(std::shared_ptr<FrameDriverSignal> signal,
                                               std::shared_ptr<platform::DisplayLink> link = nullptr,
                                               UptimeClock nowUptimeNs = {});
    /// Publishes `shutdown` on the signal as it goes.
    ~FrameDriver();

    FrameDriver(const FrameDriver&) = delete;
    FrameDriver& operator=(const FrameDriver&) = delete;

    /// Run once per tick that finds a frame owed.
    std::function<void()> onTick;
    /// Told the new effective visibility.
    std::function<void(bool)> onVisibilityChanged;

    /// Replaces the tick source (the old one is paused and let go) and resumes when a frame is owed.
    void bind(std::shared_ptr<platform::DisplayLink> link);
    /// The window's state: whether the view has one, and whether it can be seen (not hidden,
    /// minimised or covered). Suspends or resumes ticking and reports a change of visibility.
    void updateVisibility(bool windowAttached, bool windowVisible);
    /// Whether invisibility suspends ticking (on by default).
    void setVisibilitySuspensionEnabled(bool enabled);
    bool visibilitySuspensionEnabled() const { return visibilitySuspensionEnabled_; }

    /// Takes the signal's bits and acts on them; the signal's delivery calls it, and so may the
    /// view right after `requestShutdown` to shut down at once.
    void consumeSignalOnMain();
    /// One tick of the source: runs `onTick` when a frame is owed, else counts towards pausing.
    void sourceDidTick(bool isImmediate);

    const FrameDriverCounters& counters() const { return counters_; }
    /// Starts a new measuring period: every counter back to 0.
    void resetCounters() { counters_ = FrameDriverCounters{}; }
    const std::shared_ptr<FrameDriverSignal>& signal() const { return signal_; }
    bool isRunning() const { return running_; }
    bool isDirty() const { return dirty_; }
    bool isInvalidated() const { return invalidated_; }
    bool isVisibilitySuspended() const { return visibilitySuspended_; }

private:
    FrameDriver(std::shared_ptr<FrameDriverSignal> signal, UptimeClock nowUptimeNs);

    /// Starts the link when a frame is owed and ticking is allowed; true when it is running now.
    bool resumeOnMainIfNeeded();
    /// Draws the owed frame at once when the pacing says so; `linkTicking` tells whether the link's
    /// next tick would take it anyway.
    void tickNowIfDue(bool linkTicking);
    void installHandler();
    /// Stops the link and tells the signal.
    void stopRunning(bool pauseLink);
    void shutdown();
    void applyVisibilityPolicy();

    std::shared_ptr<FrameDriverSignal> signal_;
    std::shared_ptr<platform::DisplayLink> link_;
    UptimeClock nowUptimeNs_;
    bool dirty_ = false;
    bool running_ = false;
    bool invalidated_ = false;
    FramePacing pacing_;
    bool visibilitySuspended_ = false;
    bool visibilitySuspensionEnabled_ = true;
    bool effectivelyVisible_ = true;
    bool lastReportedVisibility_ = true;
    bool windowAttached_ = true;
    int idleTickCount_ = 0;
    FrameDriverCounters counters_;
};

} // namespace kestrovan
