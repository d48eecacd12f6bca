// The thread-safe request for frames that every publisher shares with one frame driver.
//
// Any thread publishes event bits; the signal gathers them and schedules at most one delivery at a
// time onto the main queue, where the driver's sink takes the bits. While the driver's display
// link runs, a plain frame request needs no delivery at all: the link's next tick takes it. The one
// exception is an echo: output parsed while the user's input waits for its answer is delivered at
// once, so the driver can draw it without waiting for the tick. After shutdown is requested the
// signal accepts nothing more.
#pragma once

#include "Kestrovan/Locked.h"
#include "Kestrovan/OptionSet.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrovan {

class FrameDriverSignal : public std::enable_shared_from_this<FrameDriverSignal>
{
public:
    struct Events : OptionSet<Events, uint8_t>
    {
        constexpr Events() = default;
        constexpr explicit Events(uint8_t raw) : OptionSet(raw) {}
        constexpr Events(OptionSet set) : OptionSet(set) {}

        /// Content changed; a frame is wanted at the next tick.
        static const Events needsFrame;
        /// Tick now, without waiting for the link.
        static const Events immediateTick;
        /// A link tick arrived off the main thread.
        static const Events linkTick;
        /// Release the driver's resources.
        static const Events shutdown;
        /// Output was parsed into the terminal. Kept only when it answers the user's input (see
        /// `noteUserInput`): the driver then sees the bit and draws the echo at once.
        static const Events outputParsed;
    };

    /// What a delivery runs on the main thread.
    using Sink = std::function<void()>;

    /// The signal's state, for the driver and for tests.
    struct State
    {
        Events pending;
        bool deliveryScheduled = false;
        bool linkRunning = false;
        bool shutdownRequested = false;
        bool sinkConfigured = false;
        /// The user sent input and no output has been parsed since.
        bool inputAwaitingEcho = false;
        Sink sink;
    };

    static std::shared_ptr<FrameDriverSignal> create();

    /// Adds the bits; any thread. Ignored after shutdown.
    void publish(Events events);
    /// Installs the main-thread consumer; a second call stops the program.
    void configure(Sink sink);
    /// The driver's link started or stopped; bits published while it ran are delivered when it
    /// stops.
    void setLinkRunning(bool running);
    /// The user's input went to the program; any thread. The next `outputParsed` is its echo.
    void noteUserInput();
    /// Asks for shutdown once: the pending bits become exactly `shutdown`.
    void requestShutdown();

    /// Takes the pending bits for the driver, clearing them and the scheduled delivery.
    Events takePending();
    /// Forgets everything after the driver shut down; `shutdownRequested` stays, so nothing more
    /// is accepted.
    void clearAfterShutdown();

    /// A copy of the state without the sink, for tests.
    State state() const;
    /// Deliveries posted to the main queue since creation.
    uint64_t deliveriesPosted() const;

protected:
    FrameDriverSignal() = default;

private:
    struct Guarded
    {
        State state;
        uint64_t deliveriesPosted = 0;
    };

    /// Marks a delivery scheduled when one is needed; the caller posts it after unlocking.
    static bool claimDelivery(Guarded& guarded);
    void postDelivery();

    Locked<Guarded> guarded_;
};

inline constexpr FrameDriverSignal::Events FrameDriverSignal::Events::needsFrame{1};
inline constexpr FrameDriverSignal::Events FrameDriverSignal::Events::immediateTick{2};
inline constexpr FrameDriverSignal::Events FrameDriverSignal::Events::linkTick{4};
inline constexpr FrameDriverSignal::Events FrameDriverSignal::Events::shutdown{8};
inline constexpr FrameDriverSignal::Events FrameDriverSignal::Events::outputParsed{16};

} // namespace kestrovan
