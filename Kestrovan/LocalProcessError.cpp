#include "Kestrovan/LocalProcessError.h"

#include <cinttypes>
#include <cstdio>

namespace kestrovan {

std::string LocalProcessError::description() const
{
    char text[96];
    switch (case_) {
    case Case::forkFailed:
        std::snprintf(text, sizeof text, "forkFailed(%" PRId32 ")", code_);
        return text;
    case Case::writeChannelFailed:
        std::snprintf(text, sizeof text, "writeChannelFailed(%" PRId32 ")", code_);
        return text;
    case Case::writeFailed:
        std::snprintf(text, sizeof text, "writeFailed(code: %" PRId32 ", bytesWritten: %" PRId64 ")", code_,
                      bytesWritten_);
        return text;
    case Case::alreadyRunning:
        return "alreadyRunning";
    case Case::notRunning:
        return "notRunning";
    }
    return "unknown";
}

} // namespace kestrovan
