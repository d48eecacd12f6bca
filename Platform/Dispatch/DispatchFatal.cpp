#include "Platform/Dispatch/DispatchFatal.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void dispatchFatal(std::string_view message)
{
    std::fprintf(stderr, "Fatal error: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace platform
