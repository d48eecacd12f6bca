#include "BidiLine.h"

#include <numeric>

namespace platform {

BidiLine::BidiLine(std::vector<BidiRun> runs, std::vector<uint8_t> levels)
    : runs_(std::move(runs)), levels_(std::move(levels))
{
    const int32_t count = length();
    visualToLogical_.reserve(count);
    for (const BidiRun& run : runs_) {
        if (run.length <= 0 || run.logicalStart < 0 || run.logicalStart > count - run.length)
            break;
        // A right-to-left run shows its logical units from last to first.
        for (int32_t i = 0; i < run.length; ++i)
            visualToLogical_.push_back(run.direction == BidiDirection::rightToLeft
                                           ? run.logicalStart + run.length - 1 - i
                                           : run.logicalStart + i);
    }
    logicalToVisual_.assign(count, -1);
    bool complete = int32_t(visualToLogical_.size()) == count;
    for (int32_t visual = 0; complete && visual < count; ++visual) {
        int32_t& slot = logicalToVisual_[visualToLogical_[visual]];
        complete = slot < 0;
        slot = visual;
    }
    // Runs that do not cover the row exactly once cannot be drawn; such a row is shown in logical
    // order, as one left-to-right run, rather than with holes or duplicates.
    if (!complete) {
        runs_.assign(count > 0 ? 1 : 0, BidiRun{0, count, BidiDirection::leftToRight});
        visualToLogical_.resize(count);
        std::iota(visualToLogical_.begin(), visualToLogical_.end(), 0);
        logicalToVisual_ = visualToLogical_;
    }
}

} // namespace platform
