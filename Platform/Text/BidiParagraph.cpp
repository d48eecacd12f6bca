#include "BidiParagraph.h"

#include <climits>
#include <unicode/ubidi.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace platform {

namespace {

UBiDiLevel levelFor(BidiBase base)
{
    switch (base) {
    case BidiBase::leftToRight:
        return 0;
    case BidiBase::rightToLeft:
        return 1;
    case BidiBase::autoLeftToRight:
        return UBIDI_DEFAULT_LTR;
    case BidiBase::autoRightToLeft:
        return UBIDI_DEFAULT_RTL;
    }
    return 0;
}

} // namespace

std::shared_ptr<const BidiParagraph> BidiParagraph::make(std::u16string_view text, BidiBase base)
{
    std::u16string own(text.substr(0, std::min<size_t>(text.size(), INT32_MAX)));
    // Paragraph separators would split the text into paragraphs of their own, each with its own
    // direction, and a row across one could not be laid out; as spaces they are neutral whitespace
    // and every index stays where it was.
    for (char16_t& unit : own) {
        if (!U16_IS_SURROGATE(unit) && u_charDirection(unit) == U_BLOCK_SEPARATOR)
            unit = u' ';
    }
    auto paragraph = std::make_shared<BidiParagraph>(Token{}, std::move(own), base);
    return paragraph->paragraph_ ? paragraph : nullptr;
}

BidiParagraph::BidiParagraph(Token, std::u16string text, BidiBase base) : text_(std::move(text))
{
    UErrorCode status = U_ZERO_ERROR;
    UBiDi* bidi = ubidi_openSized(int32_t(text_.size()), 0, &status);
    if (U_FAILURE(status))
        return;
    ubidi_setPara(bidi, reinterpret_cast<const UChar*>(text_.data()), int32_t(text_.size()), levelFor(base),
                  nullptr, &status);
    if (U_FAILURE(status)) {
        ubidi_close(bidi);
        return;
    }
    // With a detected direction the paragraph level says what was found.
    direction_ = (ubidi_getParaLevel(bidi) & 1) ? BidiDirection::rightToLeft : BidiDirection::leftToRight;
    paragraph_ = bidi;
}

BidiParagraph::~BidiParagraph()
{
    if (paragraph_)
        ubidi_close(paragraph_);
}

std::optional<BidiLine> BidiParagraph::line(int32_t start, int32_t limit) const
{
    if (start < 0 || limit > length() || start >= limit)
        return std::nullopt;
    MutexLock lock(mutex_);
    // Everything the caller needs is copied out of ICU before the line object closes, so the
    // result is a plain value that needs neither ICU nor this paragraph afterwards.
    UErrorCode status = U_ZERO_ERROR;
    UBiDi* row = ubidi_openSized(limit - start, 0, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    ubidi_setLine(paragraph_, start, limit, row, &status);
    const int32_t runCount = U_SUCCESS(status) ? ubidi_countRuns(row, &status) : 0;
    const UBiDiLevel* levels = U_SUCCESS(status) ? ubidi_getLevels(row, &status) : nullptr;
    std::optional<BidiLine> result;
    if (U_SUCCESS(status) && levels) {
        std::vector<BidiRun> runs;
        runs.reserve(runCount);
        // Visual runs come left to right; a right-to-left run names its lowest logical index.
        for (int32_t i = 0; i < runCount; ++i) {
            BidiRun run;
            const UBiDiDirection direction = ubidi_getVisualRun(row, i, &run.logicalStart, &run.length);
            run.direction = direction == UBIDI_RTL ? BidiDirection::rightToLeft : BidiDirection::leftToRight;
            runs.push_back(run);
        }
        result.emplace(std::move(runs), std::vector<uint8_t>(levels, levels + (limit - start)));
    }
    ubidi_close(row);
    return result;
}

} // namespace platform
