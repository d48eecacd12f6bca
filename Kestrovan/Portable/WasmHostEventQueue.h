// The event state of a host that runs the terminal without threads of its own (a WebAssembly
// page, for example): the timers the terminal may ask such a host to run, and the queue in which
// the host keeps what it still has to act on.
//
// A host without a view and without a dispatch layer cannot use the shared timer queue or the
// main-thread event queue; it polls instead. This file only declares the state such a host keeps:
// how it adds, times and drains events is the host's own business and not defined here. The queue
// does no locking, as such a host has a single thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kestrovan {

/// The timers the terminal asks a host to run.
enum class TerminalEventTimer : uint8_t
{
    /// The synchronized-output watchdog, which ends an update a program never finished.
    synchronizedOutput,
    /// The next frame of a kitty animation.
    kittyAnimation,
};

/// One event a host still has to act on: its kind, as the host numbers its events, and its bytes.
struct WasmHostEvent
{
    uint32_t kind = 0;
    std::vector<uint8_t> data;

    friend bool operator==(const WasmHostEvent&, const WasmHostEvent&) = default;
};

class WasmHostEventQueue
{
public:
    /// A clock reading in nanoseconds; only differences between readings mean anything.
    using Clock = std::function<uint64_t()>;

    /// An empty queue named `label` in diagnostics, reading time from `now` (a monotonic clock
    /// when none is given); `epoch` is the clock's reading now.
    WasmHostEventQueue(std::string label, Clock now = Clock());

    /// The events not yet taken, oldest first.
    std::deque<WasmHostEvent> pending;
    /// The bytes of the events in `pending`, together.
    int64_t pendingBytes = 0;
    /// The armed timers: for each, its generation and the clock reading at which it falls due.
    std::map<TerminalEventTimer, std::pair<uint64_t, uint64_t>> timers;
    Clock now;
    /// The clock's reading when the queue was made.
    uint64_t epoch = 0;
    /// Events were dropped because the queue was full.
    bool overflowed = false;

    const std::string& label() const { return label_; }

private:
    std::string label_;
};

} // namespace kestrovan
