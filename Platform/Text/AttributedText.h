// Text with runs of attributes: what a row builder hands to shaping and drawing.
//
// `AttributedText<Attributes>` is UTF-16 text cut into runs, each run pointing at one immutable
// `Attributes` value shared by every run (and every row) that looks the same. The attributes are
// the caller's own fixed struct, with the font in a member named `font`; this layer reads only
// that. Appending with the same attributes object as the last run extends that run, so a builder
// that reuses its cached attributes gets one run per change of style, not one per piece.
#pragma once

#include "Platform/Text/ShapedLine.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

template <typename Attributes> class AttributedText
{
public:
    /// `length` UTF-16 units, following the previous run, drawn with `attributes`.
    struct Run
    {
        uint32_t length = 0;
        std::shared_ptr<const Attributes> attributes;
    };

    /// Appends `text` drawn with `attributes`; empty text appends nothing.
    void append(std::u16string_view text, std::shared_ptr<const Attributes> attributes)
    {
        if (text.empty())
            return;
        if (!runs_.empty() && runs_.back().attributes == attributes)
            runs_.back().length += uint32_t(text.size());
        else
            runs_.push_back(Run{uint32_t(text.size()), std::move(attributes)});
        text_.append(text);
    }

    const std::u16string& text() const { return text_; }
    const std::vector<Run>& runs() const { return runs_; }
    bool empty() const { return text_.empty(); }

    void clear()
    {
        text_.clear();
        runs_.clear();
    }

    /// The runs as `ShapedLine::shape` takes them: each run's length and its attributes' font.
    /// A shaped run's `sourceRun` is then an index into `runs()`.
    std::vector<FontRun> fontRuns() const
    {
        std::vector<FontRun> fonts;
        fonts.reserve(runs_.size());
        for (const Run& run : runs_)
            fonts.push_back(FontRun{run.length, run.attributes ? FontRef(run.attributes->font) : FontRef()});
        return fonts;
    }

    /// Shapes the text in its runs' fonts.
    ShapedLine shape() const { return ShapedLine::shape(text_, fontRuns()); }

private:
    std::u16string text_;
    std::vector<Run> runs_;
};

} // namespace platform
