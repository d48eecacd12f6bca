// How many diagnostic lines reach the log in a flood, and what the log says about the rest.
//
// A program can make the engine print a line per byte it writes (an unknown sequence over and over),
// and the embedding program's standard error is then swamped. Time is cut into windows of one
// second, counted from the first line of a window: in each window a line is printed only when it
// differs from the lines printed in that window already, and at most `linesPerWindow` lines are
// printed in all. Everything else is counted, and the count rides on the next printed line, so a
// flood of one line shows as one line a second saying how many more there were. Times are monotonic
// nanoseconds, passed in, so the rules can be checked without a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

class DiagnosticsRateLimiter
{
public:
    /// The length of a window.
    static constexpr uint64_t windowNs = 1'000'000'000;
    /// Distinct lines printed at most in one window.
    static constexpr size_t linesPerWindow = 5;

    /// The text to print for `line` arriving at `now`, or nothing when it is to be counted only.
    /// A printed line that follows suppressed ones ends with " (N more suppressed)".
    std::optional<std::string> admit(std::string_view line, uint64_t now);

    /// Lines counted but not yet reported on a printed line.
    uint64_t suppressed() const { return suppressed_; }

private:
    bool windowOpen_ = false;
    uint64_t windowStart_ = 0;
    // The lines printed in the current window; at most `linesPerWindow`.
    std::vector<std::string> printed_;
    uint64_t suppressed_ = 0;
};

} // namespace kestrovan
