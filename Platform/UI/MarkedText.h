// Text an input method is still composing (pre-edit), as the view shows it at the caret before it
// is committed.
//
// Positions count Unicode scalars of `text`. Segments carry the input method's own marking of
// clauses: which are underlined and which one it has selected for conversion.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct MarkedText
{
    enum class Underline
    {
        none,
        single,
        thick,
        doubleLine,
    };

    struct Segment
    {
        size_t start = 0;
        size_t end = 0;
        Underline underline = Underline::none;
        /// The clause the input method is converting, shown highlighted.
        bool selected = false;

        friend bool operator==(const Segment&, const Segment&) = default;
    };

    /// UTF-8; never empty (an empty composition ends the marked text instead).
    std::string text;
    /// The input method's cursor inside the text.
    size_t cursor = 0;
    std::vector<Segment> segments;

    friend bool operator==(const MarkedText&, const MarkedText&) = default;
};

} // namespace platform
