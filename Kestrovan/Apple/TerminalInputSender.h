// The road of bytes the user types, from the view (on any thread) to the host (on the main thread).
//
// `TerminalInputSender` holds four replaceable callbacks behind a leaf lock: `registerInput`
// (scans the bytes for a submitted command line, on the sending thread), `notifyUI` (brings the
// caret into view and restarts its blink, main thread), `deliver` (hands the bytes on from a
// thread other than the main one) and `deliverOnMain`. The view installs them at set-up; a host
// bound to a child process replaces the two deliveries so that bytes go straight to the process.
//
// `TerminalInputMainActorDelivery` is the view's default delivery: it keeps batches in arrival
// order and drains them on the main thread, one host call per batch, never merging two. Any number
// of batches sent from other threads between two drains costs one main-thread hop.
#pragma once

#include "Kestrovan/Locked.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace kestrovan {

class TerminalInputSender
{
public:
    /// Receives one batch; the span is valid during the call.
    using BytesCallback = std::function<void(std::span<const uint8_t>)>;

    struct State
    {
        /// Any thread: marks user input (the submission scan).
        BytesCallback registerInput;
        /// Main thread: the caret steps after input.
        std::function<void()> notifyUI;
        /// Called on the sending thread when that is not the main thread.
        BytesCallback deliver;
        /// Called on the main thread.
        BytesCallback deliverOnMain;
    };

    /// Sends `data` to the program: registers it, then delivers it, on the main thread after the
    /// caret steps, from another thread at once with the caret steps posted to the main thread.
    void send(std::span<const uint8_t> data);

    /// Installs `delivery` as both deliveries; the other two callbacks stay.
    void replaceDelivery(BytesCallback delivery);
    /// Replaces all four callbacks.
    void install(State state);

private:
    Locked<State> state_;
};

class TerminalInputMainActorDelivery : public std::enable_shared_from_this<TerminalInputMainActorDelivery>
{
    struct Passkey
    {};

public:
    /// Receives one batch on the main thread.
    using Sink = std::function<void(std::span<const uint8_t>)>;

    static std::shared_ptr<TerminalInputMainActorDelivery> create(Sink sink);
    TerminalInputMainActorDelivery(Passkey, Sink sink) : sink_(std::move(sink)) {}

    /// Keeps a copy of the batch; on the main thread drains at once unless a drain is already
    /// scheduled, elsewhere schedules one drain on the main queue.
    void enqueue(std::span<const uint8_t> batch);
    /// Main thread: hands every waiting batch to the sink in order, including batches that arrive
    /// while the sink runs.
    void drain();

    /// Main-thread hops scheduled so far, for tests and diagnostics.
    uint64_t drainsScheduled() const;

private:
    struct State
    {
        std::vector<std::vector<uint8_t>> pending;
        bool drainScheduled = false;
        uint64_t hopsScheduled = 0;
    };

    Locked<State> state_;
    const Sink sink_;
};

} // namespace kestrovan
