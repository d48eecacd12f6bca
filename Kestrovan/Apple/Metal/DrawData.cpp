#include "Kestrovan/Apple/Metal/DrawData.h"

namespace kestrovan {

namespace {

template <typename T> void appendAll(std::vector<T>& to, const std::vector<T>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

} // namespace

void RowDrawData::append(const RowDrawData& other)
{
    appendAll(backgroundCells, other.backgroundCells);
    appendAll(powerlineJoinCells, other.powerlineJoinCells);
    appendAll(glyphCellsGray, other.glyphCellsGray);
    appendAll(glyphCellsColor, other.glyphCellsColor);
    appendAll(decorationCells, other.decorationCells);
    appendAll(belowBackgroundImageDraws, other.belowBackgroundImageDraws);
    appendAll(underImageDraws, other.underImageDraws);
    appendAll(placeholderImageDraws, other.placeholderImageDraws);
    appendAll(overImageDraws, other.overImageDraws);
    appendAll(otherImageDraws, other.otherImageDraws);
}

} // namespace kestrovan
