#include "ShapedLine.h"

#include "Platform/Text/FontFallback.h"

#include <algorithm>
#include <climits>
#include <hb.h>
#include <unicode/ubrk.h>
#include <unicode/utf16.h>

namespace platform {

namespace {

// Per-thread working storage, so that shaping a line allocates only its result: a HarfBuzz
// buffer and a grapheme break iterator (opening one costs far more than a line's shaping).
struct Scratch
{
    hb_buffer_t* buffer = hb_buffer_create();
    UBreakIterator* graphemes = nullptr;
    bool graphemesFailed = false;
    std::vector<uint32_t> boundaries;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch()
    {
        hb_buffer_destroy(buffer);
        if (graphemes)
            ubrk_close(graphemes);
    }
};

Scratch& scratch()
{
    thread_local Scratch perThread;
    return perThread;
}

// Below U+0300 no character joins its neighbour into one grapheme (the combining marks start
// there), so such text breaks between every unit without asking ICU.
bool breaksEverywhere(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x300; });
}

// Fills `scratch.boundaries` with the start of every grapheme cluster and, last, the text's end.
void findClusters(std::u16string_view text, Scratch& work)
{
    std::vector<uint32_t>& boundaries = work.boundaries;
    boundaries.clear();
    const int32_t size = static_cast<int32_t>(text.size());
    if (breaksEverywhere(text)) {
        for (int32_t i = 0; i <= size; ++i)
            boundaries.push_back(uint32_t(i));
        return;
    }
    if (!work.graphemes && !work.graphemesFailed) {
        UErrorCode status = U_ZERO_ERROR;
        work.graphemes = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) {
            work.graphemes = nullptr;
            work.graphemesFailed = true;
        }
    }
    if (work.graphemes) {
        UErrorCode status = U_ZERO_ERROR;
        ubrk_setText(work.graphemes, reinterpret_cast<const UChar*>(text.data()), size, &status);
        if (U_SUCCESS(status)) {
            for (int32_t at = ubrk_first(work.graphemes); at != UBRK_DONE; at = ubrk_next(work.graphemes))
                boundaries.push_back(uint32_t(at));
            if (!boundaries.empty() && boundaries.back() == uint32_t(size))
                return;
            boundaries.clear();
        }
    }
    // Without ICU's iterator: one cluster per code point, which still keeps surrogates together.
    for (int32_t i = 0; i < size;) {
        boundaries.push_back(uint32_t(i));
        U16_FWD_1(text.data(), i, size);
    }
    boundaries.push_back(uint32_t(size));
}

bool isNeutral(hb_script_t script)
{
    return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN ||
           script == HB_SCRIPT_INVALID;
}

hb_script_t scriptOf(std::u16string_view cluster)
{
    UChar32 scalar = 0;
    int32_t at = 0;
    U16_NEXT(cluster.data(), at, int32_t(cluster.size()), scalar);
    return hb_unicode_script(hb_unicode_funcs_get_default(), hb_codepoint_t(scalar));
}

// Printable ASCII in a font that has it needs no fallback lookup: the common case, kept cheap.
FontRef fontForCluster(const FontRef& runFont, std::u16string_view cluster, FontFallback& fallback)
{
    if (cluster.size() == 1 && cluster[0] >= 0x20 && cluster[0] < 0x7F && runFont->hasGlyph(cluster[0]))
        return runFont;
    return fallback.fontFor(runFont, cluster);
}

// A stretch of text shaped in one call: one font, one input run, one script.
struct Segment
{
    FontRef font;
    uint32_t sourceRun = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    hb_script_t script = HB_SCRIPT_INVALID;
    bool isFallback = false;
};

class Shaper
{
public:
    Shaper(std::u16string_view text, std::vector<ShapedRun>& runs, std::vector<ShapedGlyph>& glyphs)
        : text_(text), runs_(runs), glyphs_(glyphs)
    {}

    // Adds one cluster, continuing the open segment when font, input run and script allow.
    void add(const FontRef& font, uint32_t sourceRun, bool isFallback, uint32_t start, uint32_t end)
    {
        const hb_script_t script = scriptOf(text_.substr(start, end - start));
        const bool scriptFits = isNeutral(script) || isNeutral(open_.script) || script == open_.script;
        if (open_.font && open_.font == font && open_.sourceRun == sourceRun && open_.end == start &&
            scriptFits) {
            open_.end = end;
            if (isNeutral(open_.script))
                open_.script = script;
            return;
        }
        flush();
        open_ = Segment{font, sourceRun, start, end, script, isFallback};
    }

    void flush()
    {
        if (!open_.font || open_.start == open_.end) {
            open_ = {};
            return;
        }
        Scratch& work = scratch();
        hb_buffer_t* buffer = work.buffer;
        hb_buffer_clear_contents(buffer);
        // The whole line goes in as context, so that shaping at a segment's edge sees its
        // neighbours (Arabic joining across a font change), but only the segment is shaped.
        hb_buffer_add_utf16(buffer, reinterpret_cast<const uint16_t*>(text_.data()), int(text_.size()),
                            open_.start, int(open_.end - open_.start));
        hb_buffer_set_direction(buffer, HB_DIRECTION_LTR);
        if (!isNeutral(open_.script))
            hb_buffer_set_script(buffer, open_.script);
        hb_buffer_guess_segment_properties(buffer);
        // Joiners and variation selectors leave no glyph behind; marks share their base's cluster.
        hb_buffer_set_flags(buffer, HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES);
        hb_buffer_set_cluster_level(buffer, HB_BUFFER_CLUSTER_LEVEL_MONOTONE_GRAPHEMES);
        hb_shape(open_.font->harfBuzzFont(), buffer, nullptr, 0);

        unsigned count = 0;
        const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
        ShapedRun run;
        run.font = open_.font;
        run.sourceRun = open_.sourceRun;
        run.textStart = open_.start;
        run.textEnd = open_.end;
        run.glyphStart = uint32_t(glyphs_.size());
        run.isFallback = open_.isFallback;
        constexpr double unit = 1.0 / Font::unitsPerPoint;
        // The pen runs on across segments, so the whole line is one row of positions.
        for (unsigned i = 0; i < count; ++i) {
            ShapedGlyph glyph;
            glyph.glyph = infos[i].codepoint;
            glyph.cluster = infos[i].cluster;
            glyph.x = pen_ + positions[i].x_offset * unit;
            glyph.y = positions[i].y_offset * unit;
            glyph.advance = positions[i].x_advance * unit;
            pen_ += glyph.advance;
            glyphs_.push_back(glyph);
        }
        run.glyphEnd = uint32_t(glyphs_.size());
        runs_.push_back(std::move(run));
        open_ = {};
    }

    double pen() const { return pen_; }

private:
    std::u16string_view text_;
    std::vector<ShapedRun>& runs_;
    std::vector<ShapedGlyph>& glyphs_;
    Segment open_;
    double pen_ = 0;
};

} // namespace

ShapedLine ShapedLine::shape(std::u16string_view text, std::span<const FontRun> runs)
{
    return shape(text, runs, FontFallback::shared());
}

ShapedLine ShapedLine::shape(std::u16string_view text, std::span<const FontRun> runs, FontFallback& fallback)
{
    ShapedLine line;
    // HarfBuzz takes lengths as int; no terminal line comes near this.
    text = text.substr(0, std::min<size_t>(text.size(), INT_MAX / 2));
    if (text.empty() || runs.empty())
        return line;
    Scratch& work = scratch();
    findClusters(text, work);
    const std::vector<uint32_t>& boundaries = work.boundaries;
    line.glyphs_.reserve(text.size());

    // Walk the runs in order and, inside each, the grapheme clusters: each cluster is given a font
    // (the run's or a fallback), and the shaper joins neighbours that share font, run and script
    // into one HarfBuzz call.
    Shaper shaper(text, line.runs_, line.glyphs_);
    const uint32_t size = uint32_t(text.size());
    uint32_t runStart = 0;
    size_t boundary = 0;
    for (size_t index = 0; index < runs.size() && runStart < size; ++index) {
        const FontRun& run = runs[index];
        // The last run also takes any text the runs leave over.
        const bool last = index + 1 == runs.size();
        const uint32_t runEnd = last ? size : std::min<uint64_t>(uint64_t(runStart) + run.length, size);
        if (run.font) {
            // Each cluster of the run, cut at the run's edges when a run splits a cluster.
            uint32_t at = runStart;
            while (at < runEnd) {
                while (boundary + 1 < boundaries.size() && boundaries[boundary + 1] <= at)
                    ++boundary;
                const uint32_t clusterEnd = std::min(boundaries[boundary + 1], runEnd);
                const FontRef font = fontForCluster(run.font, text.substr(at, clusterEnd - at), fallback);
                shaper.add(font, uint32_t(index), font != run.font, at, clusterEnd);
                at = clusterEnd;
            }
        }
        runStart = runEnd;
    }
    shaper.flush();
    line.width_ = shaper.pen();
    return line;
}

} // namespace platform
