// The value types of text search: how to search (`SearchOptions`), one match (`SearchResult`) and
// the cells a match covers as a selection (`SearchSelection`).
#pragma once

#include "Kestrovan/Position.h"

#include <cstdint>
#include <string>

namespace kestrovan {

struct SearchOptions
{
    /// Letters match only in the same case; otherwise plain text compares after full Unicode case
    /// folding and a regular expression is compiled case-insensitive.
    bool caseSensitive = false;
    /// The term is an ICU regular expression.
    bool regex = false;
    /// A match must have a blank, punctuation other than "_", or the line's end on each side.
    bool wholeWord = false;

    friend bool operator==(const SearchOptions&, const SearchOptions&) = default;
};

struct SearchResult
{
    /// The term for plain searches, the matched text (UTF-8) for regular expressions.
    std::string term;
    /// Column and buffer row of the match's first cell.
    int64_t col = 0;
    int64_t row = 0;
    /// The match's length in cells, counted across rows in steps of the terminal's width:
    /// (end column - start column) + columns x (end row - start row).
    int64_t size = 0;

    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

struct SearchSelection
{
    Position start;
    Position end;

    friend bool operator==(const SearchSelection&, const SearchSelection&) = default;
};

} // namespace kestrovan
