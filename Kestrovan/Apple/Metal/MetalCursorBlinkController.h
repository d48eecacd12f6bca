// The blinking of the GPU-drawn cursor: a repeating main-thread timer that flips the cursor's
// visible phase and asks for a redraw, and the small lock-guarded state the render thread reads.
//
// The render thread says once per frame whether the cursor should blink
// (`updateCursorBlinkTimer`); only a change is handed to the main thread, where `apply` starts or
// stops the timer. A cursor that stops blinking is always left visible, and input restarts the
// phase so that the cursor stays visible for a full interval after each key. A timer that outlives
// its controller stops itself at its next tick. The redraw callback is never called with the
// state's lock held.
#pragma once

#include "Kestrovan/Locked.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/MainThreadTimers.h"

#include <functional>
#include <memory>

namespace kestrovan {

/// What the render thread and the main thread share about redraws and the cursor's blink.
class MetalRedrawState
{
public:
    struct Fields
    {
        bool pendingRedraw = false;
        /// The cursor is in its visible phase.
        bool cursorBlinkOn = true;
        /// The last frame asked for a blinking cursor.
        bool cursorBlinkWanted = false;
        bool callbackConfigured = false;
        /// Asks for a redraw; called without the lock held.
        std::function<void()> callback;
    };

    Locked<Fields> state;

    /// Render thread: stores whether the frame wants the cursor to blink; true when that changed,
    /// and the main thread must then apply it. Turning blinking off shows the cursor at once.
    bool recordCursorBlinkWanted(bool shouldBlink);
    bool cursorBlinkOn() const;
    bool cursorBlinkWanted() const;
    /// Calls the redraw callback, if any, outside the lock.
    void requestRedraw();
};

/// Whether a blink controller still exists, for a timer that outlives it.
class MetalCursorBlinkLifetime
{
public:
    Locked<bool> active{true};

    bool isActive() const
    {
        return active.withLock([](bool value) { return value; });
    }
};

class MetalCursorBlinkController : public std::enable_shared_from_this<MetalCursorBlinkController>
{
public:
    /// The renderer's blink interval, in seconds.
    static constexpr double rendererInterval = 0.7;

    /// A controller on `redrawState` flipping every `interval` seconds (must be positive), with
    /// its timers from `timers`.
    MetalCursorBlinkController(
        std::shared_ptr<MetalRedrawState> redrawState, double interval,
        std::shared_ptr<platform::MainThreadTimers> timers = platform::MainThreadTimers::system());
    /// Marks the lifetime ended; a running timer stops itself at its next tick (until then it
    /// keeps what its tick holds). The owner's teardown calls `shutdown` first.
    ~MetalCursorBlinkController();
    MetalCursorBlinkController(const MetalCursorBlinkController&) = delete;
    MetalCursorBlinkController& operator=(const MetalCursorBlinkController&) = delete;

    /// Render thread: records the frame's wish and, when it changed, posts `apply` with it to
    /// `mainQueue` (holding `controller` weakly).
    static void updateCursorBlinkTimer(const std::weak_ptr<MetalCursorBlinkController>& controller,
                                       MetalRedrawState& redrawState, bool shouldBlink,
                                       platform::MainQueue& mainQueue);

    /// Main thread: starts blinking (one timer at most) or stops it; ignored when `shouldBlink`
    /// is no longer what the render thread last asked for (a later call follows).
    void apply(bool shouldBlink);
    /// Main thread: stops the timer and leaves the cursor visible.
    void shutdown();
    /// Main thread: while blinking is wanted, shows the cursor, asks for a redraw and starts the
    /// phase again, so the next flip is a full interval away.
    void resetAfterInput();

    bool isBlinking() const { return timer_ != nullptr; }
    double interval() const { return interval_; }

private:
    std::shared_ptr<MetalRedrawState> redrawState_;
    double interval_;
    std::shared_ptr<platform::MainThreadTimers> timers_;
    std::shared_ptr<MetalCursorBlinkLifetime> lifetime_;
    std::shared_ptr<platform::MainThreadTimers::Timer> timer_;
};

} // namespace kestrovan
