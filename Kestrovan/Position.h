// A cell address: a column and a row, ordered in reading order (row first, then column).
//
// Buffers, the selection and the search use it for every cell address; the row is whatever the
// caller counts rows in (screen rows or absolute buffer rows).
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrovan {

struct Position
{
    int64_t col = 0;
    int64_t row = 0;

    enum class compareResult : uint8_t
    {
        before,
        after,
        equal
    };

    constexpr Position() = default;
    constexpr Position(int64_t column, int64_t rowIndex) : col(column), row(rowIndex) {}

    /// `before` when `a` comes first in reading order, `after` when it comes later.
    static constexpr compareResult compare(Position a, Position b)
    {
        if (a.row != b.row)
            return a.row < b.row ? compareResult::before : compareResult::after;
        if (a.col != b.col)
            return a.col < b.col ? compareResult::before : compareResult::after;
        return compareResult::equal;
    }

    /// "col=" column " row=" row.
    std::string debugDescription() const;

    friend constexpr bool operator==(Position, Position) = default;
    friend constexpr std::strong_ordering operator<=>(Position a, Position b)
    {
        if (const auto byRow = a.row <=> b.row; byRow != 0)
            return byRow;
        return a.col <=> b.col;
    }
};

} // namespace kestrovan

template <> struct std::hash<kestrovan::Position>
{
    size_t operator()(kestrovan::Position position) const noexcept
    {
        return std::hash<int64_t>()(position.row) * 0x9E3779B97F4A7C15ull ^
               std::hash<int64_t>()(position.col);
    }
};
