#include "Kestrovan/Portable/WasmHostEventQueue.h"

#include <chrono>

namespace kestrovan {

WasmHostEventQueue::WasmHostEventQueue(std::string label, Clock clock)
    : now(std::move(clock)), label_(std::move(label))
{
    if (!now) {
        now = [] {
            const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
            return static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
        };
    }
    epoch = now();
}

} // namespace kestrovan
