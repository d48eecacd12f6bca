#include "Kestrovan/DiagnosticsRateLimiter.h"

#include <algorithm>

namespace kestrovan {

std::optional<std::string> DiagnosticsRateLimiter::admit(std::string_view line, uint64_t now)
{
    // A window starts with the first line after the last one ended; a clock that went backwards
    // (only an injected one can) starts one too, rather than leaving the limiter shut.
    if (!windowOpen_ || now < windowStart_ || now - windowStart_ >= windowNs) {
        windowOpen_ = true;
        windowStart_ = now;
        printed_.clear();
    }
    const bool repeated = std::find(printed_.begin(), printed_.end(), line) != printed_.end();
    if (repeated || printed_.size() >= linesPerWindow) {
        ++suppressed_;
        return std::nullopt;
    }
    printed_.emplace_back(line);
    std::string text(line);
    if (suppressed_ > 0) {
        text += " (" + std::to_string(suppressed_) + " more suppressed)";
        suppressed_ = 0;
    }
    return text;
}

} // namespace kestrovan
