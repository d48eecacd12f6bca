// What the GUI benchmarks share: running the GTK main loop until something happened.
#pragma once

#include <chrono>
#include <functional>
#include <glib.h>

namespace bench {

/// Runs the main loop until `done` returns true or `limit` seconds pass; false on the time limit.
inline bool runUntil(const std::function<bool()>& done, double limit)
{
    using Clock = std::chrono::steady_clock;
    const auto end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
    while (!done()) {
        if (Clock::now() > end)
            return false;
        g_main_context_iteration(nullptr, true);
    }
    return true;
}

} // namespace bench
