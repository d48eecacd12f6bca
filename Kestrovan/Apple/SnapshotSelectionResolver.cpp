#include "Kestrovan/Apple/SnapshotSelectionResolver.h"

#include <algorithm>

namespace kestrovan {

std::optional<SelectedColumns> SnapshotSelectionResolver::columns(int64_t row) const
{
    if (!style.selectionActive)
        return std::nullopt;
    const Position& start = style.selectionStart;
    const Position& end = style.selectionEnd;
    const int64_t top = std::min<int64_t>(start.row, end.row);
    const int64_t bottom = std::max<int64_t>(start.row, end.row);
    if (row < top || row > bottom)
        return std::nullopt;
    // An end on the last column closes past it; elsewhere the end column is the bound itself.
    const auto closing = [&](int64_t column) { return column == cols - 1 ? column + 1 : column; };

    int64_t lower = 0;
    int64_t upper = 0;
    if (style.selectionIsBlock) {
        if (start.col == end.col)
            return std::nullopt;
        lower = std::min(start.col, end.col);
        upper = closing(std::max(start.col, end.col));
    } else if (start.row == end.row) {
        if (start.col == end.col)
            return std::nullopt;
        if (start.col < end.col) {
            lower = start.col;
            upper = closing(end.col);
        } else {
            lower = end.col;
            upper = start.col;
        }
    } else {
        const Position& upperEnd = start.row < end.row ? start : end;
        const Position& lowerEnd = start.row < end.row ? end : start;
        if (row == upperEnd.row) {
            lower = upperEnd.col;
            upper = cols;
        } else if (row == lowerEnd.row) {
            lower = 0;
            upper = closing(lowerEnd.col);
        } else {
            lower = 0;
            upper = cols;
        }
    }
    lower = std::max<int64_t>(0, std::min<int64_t>(cols, lower));
    upper = std::min<int64_t>(cols, upper);
    if (upper <= lower)
        return std::nullopt;
    return SelectedColumns{static_cast<int>(lower), static_cast<int>(upper)};
}

} // namespace kestrovan
