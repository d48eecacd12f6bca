// The engine's one shared timer queue.
//
// Timers of every terminal in the process (the synchronized-output watchdog among them) run on one
// serial queue with its own thread. The thread carries the queue's label as its name, which is how
// the profiling facility recognises it as the timer thread.
#pragma once

#include "Platform/Dispatch/TimerQueue.h"

#include <string_view>

namespace kestrovan {

class IOTimerQueue
{
public:
    /// The label of the shared queue and the full name of its thread.
    static constexpr std::string_view label = "kestrovan-io-timers";

    /// The process-wide queue, made on first use and kept until the process ends.
    static platform::TimerQueue& shared();
};

} // namespace kestrovan
