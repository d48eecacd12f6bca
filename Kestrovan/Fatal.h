// Stopping the program on a broken invariant.
//
// The engine never throws across its API for a broken invariant: it prints a fixed message on
// standard error and aborts, in every build. `KESTROVAN_ASSERT` is the one invariant check; it
// stays on in release builds because a corrupted screen model is worse than a stopped program.
#pragma once

#include <string_view>

namespace kestrovan {

/// Prints `message` on standard error and aborts the process.
[[noreturn]] void fatal(std::string_view message);

} // namespace kestrovan

#define KESTROVAN_ASSERT(condition, message)                                                                 \
    do {                                                                                                     \
        if (!(condition)) [[unlikely]]                                                                       \
            ::kestrovan::fatal(message);                                                                     \
    } while (0)
