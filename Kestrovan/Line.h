// Selected text gathered row by row: a `Line` is a list of fragments, each a piece of text with
// the row and column it came from. Text extraction builds these; nothing here reads a buffer.
#pragma once

#include "Kestrovan/Position.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

struct LineFragment
{
    /// The text, or absent when the fragment stands for columns without text.
    std::optional<std::string> text;
    /// The row the text came from.
    int64_t line = 0;
    /// The first column of the fragment.
    int64_t location = 0;
    /// The number of columns the fragment covers.
    int64_t length = 0;

    friend bool operator==(const LineFragment&, const LineFragment&) = default;
};

class Line
{
public:
    std::vector<LineFragment> fragments;
    /// The sum of the fragments' lengths.
    int64_t length = 0;
    std::optional<int64_t> startLine;
    std::optional<int64_t> startLocation;

    /// Appends a fragment and adds its length to the line's.
    void add(LineFragment fragment);

    /// The index of the fragment covering `position` (same row, column within its columns).
    std::optional<size_t> getFragmentIndex(Position position) const;

    /// The fragments' texts joined.
    std::string toString() const;

    const LineFragment& operator[](size_t index) const { return fragments[index]; }

    /// "[]" when empty; otherwise count "/" length ": [" then each text ("\n" shown as the two
    /// characters backslash and n) followed by "][".
    std::string debugDescription() const;
};

} // namespace kestrovan
