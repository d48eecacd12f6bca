// Stopping the program on misuse of the dispatch layer.
//
// The platform layer sits below the engine and cannot use the engine's `fatal`; this is its own,
// with the same output, for the few misuses that would otherwise deadlock or lose work silently
// (a queue waiting for itself, work posted with no main queue installed).
#pragma once

#include <string_view>

namespace platform {

/// Prints "Fatal error: " and `message` on standard error and aborts the process.
[[noreturn]] void dispatchFatal(std::string_view message);

} // namespace platform
