// One row of a bidirectional paragraph in visual order: its runs and both index maps.
//
// A `BidiLine` is a plain value worked out from ICU at once, so it outlives its paragraph and
// crosses threads freely. Indexes are UTF-16 units counted from the row's start. Visual position
// v is the v-th unit from the left edge; with one unit per cell, as the terminal's probe string
// has, that is the cell's visual column, so "x from visual positions" is this map.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

enum class BidiDirection : uint8_t
{
    leftToRight,
    rightToLeft
};

/// A stretch of one direction, in visual order: `length` units starting at logical `logicalStart`.
/// A right-to-left run is drawn from its last logical unit to its first.
struct BidiRun
{
    int32_t logicalStart = 0;
    int32_t length = 0;
    BidiDirection direction = BidiDirection::leftToRight;

    bool operator==(const BidiRun&) const = default;
};

class BidiLine
{
public:
    BidiLine(std::vector<BidiRun> runs, std::vector<uint8_t> levels);

    /// Units in the row.
    int32_t length() const { return int32_t(levels_.size()); }
    /// The runs from the left edge to the right.
    const std::vector<BidiRun>& visualRuns() const { return runs_; }
    /// Entry v is the logical index drawn at visual position v.
    const std::vector<int32_t>& visualToLogical() const { return visualToLogical_; }
    /// Entry i is the visual position of logical index i.
    const std::vector<int32_t>& logicalToVisual() const { return logicalToVisual_; }
    /// The embedding level of each logical unit (odd is right to left).
    const std::vector<uint8_t>& levels() const { return levels_; }
    /// True when logical unit `index` lies in a right-to-left run.
    bool isRightToLeft(int32_t index) const { return index >= 0 && index < length() && (levels_[index] & 1); }

private:
    std::vector<BidiRun> runs_;
    std::vector<uint8_t> levels_;
    std::vector<int32_t> visualToLogical_;
    std::vector<int32_t> logicalToVisual_;
};

} // namespace platform
