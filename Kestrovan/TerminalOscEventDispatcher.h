// Publishes every OSC a terminal receives to observers outside the parse thread.
//
// `publish` runs on the parse thread under the terminal lock. With no observers it does nothing;
// otherwise it copies the event and hands it to a serial delivery queue, which calls each observer
// in registration order. The registration list sits behind its own leaf lock, so observers may come
// and go from any thread. The delivery queue (a thread) is made only when the first event has
// somebody to go to.
#pragma once

#include "Kestrovan/Locked.h"
#include "Kestrovan/Position.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

namespace platform {
class TimerQueue;
}

namespace kestrovan {

/// One OSC as observers see it: its number, a copy of its payload, and the cursor at the time.
struct TerminalOscEvent
{
    int code = 0;
    std::vector<uint8_t> payload;
    Position cursor;

    friend bool operator==(const TerminalOscEvent&, const TerminalOscEvent&) = default;
};

class TerminalOscEventDispatcher;

/// The token of one observer: `cancel()`, or releasing it, ends the observation.
class TerminalOscObservation
{
public:
    ~TerminalOscObservation() { cancel(); }
    TerminalOscObservation(const TerminalOscObservation&) = delete;
    TerminalOscObservation& operator=(const TerminalOscObservation&) = delete;

    void cancel();

private:
    friend class TerminalOscEventDispatcher;
    struct Shared;
    TerminalOscObservation(std::weak_ptr<Shared> dispatcher, uint64_t id)
        : dispatcher_(std::move(dispatcher)), id_(id)
    {}

    std::weak_ptr<Shared> dispatcher_;
    uint64_t id_;
};

class TerminalOscEventDispatcher
{
public:
    using Handler = std::function<void(const TerminalOscEvent&)>;

    /// The label of the serial queue observers are called on.
    static constexpr std::string_view deliveryQueueLabel = "org.morvane.Kestrovan.osc-events";

    TerminalOscEventDispatcher();
    ~TerminalOscEventDispatcher();
    TerminalOscEventDispatcher(const TerminalOscEventDispatcher&) = delete;
    TerminalOscEventDispatcher& operator=(const TerminalOscEventDispatcher&) = delete;

    /// Registers an observer; it stays registered while the returned token lives.
    [[nodiscard]] std::unique_ptr<TerminalOscObservation> observe(Handler handler);
    /// Delivers a copy of the event to every observer, later, on the delivery queue.
    void publish(int code, std::span<const uint8_t> payload, Position cursor);

private:
    using Shared = TerminalOscObservation::Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace kestrovan
