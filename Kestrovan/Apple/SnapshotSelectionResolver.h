// Which columns of a row a frame's selection covers.
//
// The row builders ask this once per row. A linear selection runs from its upper end to its lower
// end through whole rows between; a block selection takes the same columns on every row it spans.
// The two ends are inclusive cells: on the last column the range closes at `cols` so the cell is
// covered, and on any other column it closes at the column itself, as the selection service
// reports ends (the cell after the last selected one).
#pragma once

#include "Kestrovan/Apple/SnapshotStyle.h"

#include <optional>

namespace kestrovan {

/// A half-open range of columns.
struct SelectedColumns
{
    int lower = 0;
    int upper = 0;

    bool contains(int column) const { return lower <= column && column < upper; }
    /// True when the cells `column` ..< `column + width` meet the range.
    bool overlaps(int column, int width) const { return lower < column + width && column < upper; }

    friend bool operator==(SelectedColumns, SelectedColumns) = default;
};

struct SnapshotSelectionResolver
{
    SnapshotStyle style;
    int cols = 0;

    /// The selected columns of buffer row `row`; absent when none.
    std::optional<SelectedColumns> columns(int64_t row) const;
};

} // namespace kestrovan
