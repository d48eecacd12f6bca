#include "Platform/Log/Fatal.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void fatal(std::string_view message)
{
    // Straight to standard error, not through the log sink: a test's sink or a broken logger must
    // not swallow the last words of a program that is about to stop.
    std::fprintf(stderr, "Fatal error: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace platform
