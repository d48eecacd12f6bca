// Terminal notifications carried from any thread to the main thread, merged while they wait.
//
// `TerminalEventQueue` owns the hand-over of four kinds of notification (buffer switch, mouse mode
// change, bell, program status) from the thread that raises them, usually the parse thread under
// the terminal lock, to the main thread. Each kind is one bit: kinds posted before the main thread
// gets to them merge, so a burst of bells becomes one delivery, and at most one drain is queued on
// the main queue at any time. It does not own what the receiver does with a notification.
#pragma once

#include "Kestrovan/Locked.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kestrovan {

/// A kind of notification; its mask bit is 1 shifted left by its raw value.
enum class TerminalEvent : uint32_t
{
    bufferActivated = 0,
    mouseModeChanged = 1,
    bell = 2,
    programStatusChanged = 3,
};

/// Every kind, in raw-value order, which is also the order of delivery.
inline constexpr std::array<TerminalEvent, 4> allTerminalEvents = {
    TerminalEvent::bufferActivated,
    TerminalEvent::mouseModeChanged,
    TerminalEvent::bell,
    TerminalEvent::programStatusChanged,
};

/// The kind with raw value `raw`; none for 4 or more.
constexpr std::optional<TerminalEvent> terminalEventFromRaw(uint32_t raw)
{
    if (raw >= allTerminalEvents.size())
        return std::nullopt;
    return static_cast<TerminalEvent>(raw);
}

/// The bit of `event` in a pending mask.
constexpr uint32_t terminalEventMask(TerminalEvent event)
{
    return uint32_t(1) << static_cast<uint32_t>(event);
}

class TerminalEventQueue : public std::enable_shared_from_this<TerminalEventQueue>
{
    struct Passkey
    {};

public:
    /// Receives one kind of notification on the main thread.
    using DrainHandler = std::function<void(TerminalEvent)>;
    /// Asked on the main thread whether a post may be delivered at once.
    using InlinePermission = std::function<bool()>;

    struct State
    {
        /// Mask of posted, undelivered kinds.
        uint32_t pending = 0;
        /// A main-thread drain is queued.
        bool drainScheduled = false;
        /// Number of posts, for diagnostics.
        int64_t posts = 0;
        /// Number of deliveries, inline or queued, for diagnostics.
        int64_t drains = 0;
        bool configured = false;
        DrainHandler onDrain;
        InlinePermission canDeliverInline;
    };

    /// An unconfigured queue. Always shared: the drain queued on the main queue holds it weakly.
    static std::shared_ptr<TerminalEventQueue> create();
    explicit TerminalEventQueue(Passkey) {}

    TerminalEventQueue(const TerminalEventQueue&) = delete;
    TerminalEventQueue& operator=(const TerminalEventQueue&) = delete;

    /// Stores the receiver and the inline permission (either may be empty). A queue is configured
    /// once; a second call stops the program.
    void configure(DrainHandler onDrain, InlinePermission canDeliverInline);

    /// Posts `event` from any thread. On the main thread, when the inline permission says yes, it
    /// is delivered before this returns, together with whatever was pending.
    void post(TerminalEvent event);

    /// A copy of the state, for diagnostics and tests.
    State snapshot() const;

private:
    /// The body of the queued drain: takes everything pending and delivers it.
    void drain();
    /// Calls the receiver once per set bit, in raw-value order, outside the lock.
    void deliver(uint32_t mask);

    Locked<State> state;
};

} // namespace kestrovan
