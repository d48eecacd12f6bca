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
    case Case::programNotFound: {
        // The text is shown in the terminal as if a program had printed it: the name's control
        // characters (C0, DEL, and C1 in their UTF-8 form) must not act there.
        std::string name = program_;
        for (size_t at = 0; at < name.size(); ++at) {
            const auto byte = static_cast<unsigned char>(name[at]);
            const bool c1 = byte == 0xc2 && at + 1 < name.size() &&
                            static_cast<unsigned char>(name[at + 1]) >= 0x80 &&
                            static_cast<unsigned char>(name[at + 1]) <= 0x9f;
            if (c1)
                name.replace(at, 2, "?");
            else if (byte < 0x20 || byte == 0x7f)
                name[at] = '?';
        }
        return name + ": not found";
    }
    }
    return "unknown";
}

} // namespace kestrovan
