// The progress a program reports with OSC 9;4, as the terminal hands it to its host.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrovan {

/// The state of a progress report; the raw values are the ones the sequence carries.
enum class ProgressReportState : uint8_t
{
    remove = 0,
    set = 1,
    error = 2,
    indeterminate = 3,
    pause = 4,
};

/// The state with the given raw value; any value but 0-4 names none.
constexpr std::optional<ProgressReportState> progressReportStateFromRaw(int64_t rawValue)
{
    if (rawValue < 0 || rawValue > 4)
        return std::nullopt;
    return static_cast<ProgressReportState>(rawValue);
}

struct ProgressReport
{
    ProgressReportState state = ProgressReportState::remove;
    /// The percentage, when the report gives one.
    std::optional<uint8_t> progress;

    friend constexpr bool operator==(const ProgressReport&, const ProgressReport&) = default;
};

} // namespace kestrovan
