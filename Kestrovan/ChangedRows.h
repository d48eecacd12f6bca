// The rows of a terminal that changed, and the short memory of them the terminal keeps for its
// readers.
//
// Every row change widens one pending range in the terminal (the print path does that on every
// run, so it stays two comparisons). A reader (a view, a snapshot builder) never clears what
// another reader has not yet seen: when one reader takes its changes, the pending range is sealed
// into `ChangeHistory`, and each reader remembers how many seals it has read. A reader that fell
// so far behind that its seals were forgotten gets the whole screen, which is never wrong, only
// slower to draw.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace kestrovan {

/// Changed screen rows and the same change in absolute rows (counted from the buffer's first
/// line), each an inclusive range, absent when nothing changed.
struct ChangedRows
{
    std::optional<std::pair<int, int>> screen;
    std::optional<std::pair<int, int>> absolute;

    bool empty() const { return !screen && !absolute; }
    /// Widens both ranges to cover `other` as well.
    void widen(const ChangedRows& other)
    {
        widenRange(screen, other.screen);
        widenRange(absolute, other.absolute);
    }
    bool operator==(const ChangedRows&) const = default;

private:
    static void widenRange(std::optional<std::pair<int, int>>& range,
                           const std::optional<std::pair<int, int>>& more)
    {
        if (!more)
            return;
        if (!range) {
            range = more;
            return;
        }
        range->first = std::min(range->first, more->first);
        range->second = std::max(range->second, more->second);
    }
};

/// The last few sealed change ranges, numbered from 1 in the order they were sealed.
class ChangeHistory
{
public:
    /// How many seals are remembered; a reader further behind repaints everything.
    static constexpr uint64_t depth = 16;

    /// Remembers `rows` as the next seal; an empty change is not a seal.
    void seal(const ChangedRows& rows)
    {
        if (rows.empty())
            return;
        sealed_[sealCount_ % depth] = rows;
        ++sealCount_;
    }
    /// The number of seals so far.
    uint64_t sealCount() const { return sealCount_; }
    /// Everything sealed after the first `seen` seals; absent when some of it is forgotten.
    std::optional<ChangedRows> since(uint64_t seen) const
    {
        if (seen > sealCount_ || sealCount_ - seen > depth)
            return std::nullopt;
        ChangedRows out;
        for (uint64_t seal = seen; seal < sealCount_; ++seal)
            out.widen(sealed_[seal % depth]);
        return out;
    }

private:
    std::array<ChangedRows, depth> sealed_{};
    uint64_t sealCount_ = 0;
};

} // namespace kestrovan
