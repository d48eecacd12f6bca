// Shaping and bidi ordering of arbitrary UTF-16 from program output: lone surrogates, marks
// without a base, joiners, selectors, separators and controls, cut into font runs anywhere (in
// the middle of a cluster or a surrogate pair). Neither may crash, and both must give well-formed
// results: glyph runs that tile the text in order with every cluster inside its run, and visual
// maps that are permutations of each row.
//
// Input: byte 0 picks the base direction (low two bits) and the number of font runs (next two
// bits, 1 to 4); bytes 1-4 are the run lengths; the rest is the text, two bytes a unit.
#include "Platform/Text/BidiParagraph.h"
#include "Platform/Text/ShapedLine.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace platform;

const FontRef& fuzzFont()
{
    static const FontRef font = Font::monospace(12);
    return font;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5 || !fuzzFont())
        return 0;
    const uint8_t control = data[0];
    std::u16string text;
    for (size_t i = 5; i + 1 < size && text.size() < 512; i += 2)
        text.push_back(char16_t(data[i] | data[i + 1] << 8));

    const size_t runCount = 1 + ((control >> 2) & 3);
    std::vector<FontRun> runs;
    for (size_t i = 0; i < runCount; ++i)
        runs.push_back(FontRun{uint32_t(data[1 + i] % 64), i == 2 ? nullptr : fuzzFont()});

    const ShapedLine line = ShapedLine::shape(text, runs);
    uint32_t textEnd = 0, glyphEnd = 0;
    for (const ShapedRun& run : line.runs()) {
        check(run.textStart >= textEnd && run.textStart < run.textEnd && run.textEnd <= text.size());
        check(run.glyphStart == glyphEnd && run.glyphEnd <= line.glyphs().size());
        for (const ShapedGlyph& glyph : line.glyphs(run))
            check(glyph.cluster >= run.textStart && glyph.cluster < run.textEnd);
        textEnd = run.textEnd;
        glyphEnd = run.glyphEnd;
    }
    check(glyphEnd == line.glyphs().size());

    const auto paragraph = BidiParagraph::make(text, BidiBase(control & 3));
    check(paragraph != nullptr);
    for (int32_t start = 0; start < paragraph->length();) {
        const int32_t limit = std::min<int32_t>(paragraph->length(), start + 1 + data[1 + start % 4] % 80);
        const auto row = paragraph->line(start, limit);
        check(row.has_value() && row->length() == limit - start);
        std::vector<int32_t> order = row->visualToLogical();
        std::sort(order.begin(), order.end());
        for (int32_t i = 0; i < row->length(); ++i)
            check(order[i] == i && row->visualToLogical()[row->logicalToVisual()[i]] == i);
        start = limit;
    }
    return 0;
}
