// Stopping the program on a broken invariant.
//
// The engine never throws across its API for a broken invariant: it prints a fixed message on
// standard error and aborts, in every build. `KESTROVAN_ASSERT` is the one invariant check; it
// stays on in release builds because a corrupted screen model is worse than a stopped program.
// Both go through the platform layer's `fatal`, the one every layer of the system shares.
#pragma once

#include "Platform/Log/Fatal.h"

namespace kestrovan {

/// Prints "Fatal error: " and `message` on standard error and aborts the process.
using platform::fatal;

} // namespace kestrovan

#define KESTROVAN_ASSERT(condition, message)                                                                 \
    do {                                                                                                     \
        if (!(condition)) [[unlikely]]                                                                       \
            ::platform::fatal(message);                                                                      \
    } while (0)
