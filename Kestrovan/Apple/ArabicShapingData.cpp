#include "Kestrovan/Apple/ArabicShapingData.h"

#include <algorithm>

namespace kestrovan {

std::optional<BidiJoining> ArabicShapingData::listedJoining(char32_t scalar)
{
    const auto ranges = unicode::joiningRanges;
    // Everything before the first range (Latin, Greek, Cyrillic, Hebrew...) is answered at once.
    if (ranges.empty() || scalar < ranges.front().lo || scalar > ranges.back().hi)
        return std::nullopt;
    // The first range whose end is at or after the scalar is the only one that can hold it.
    const auto found =
        std::lower_bound(ranges.begin(), ranges.end(), uint32_t(scalar),
                         [](const unicode::JoiningRange& range, uint32_t value) { return range.hi < value; });
    if (found == ranges.end() || found->lo > scalar)
        return std::nullopt;
    return static_cast<BidiJoining>(found->type);
}

std::optional<ArabicPresentationForms> ArabicShapingData::unicode17Forms(char32_t letter)
{
    const auto forms = unicode::arabicLetterForms;
    if (forms.empty() || letter < forms.front().letter || letter > forms.back().letter)
        return std::nullopt;
    const auto found = std::lower_bound(
        forms.begin(), forms.end(), uint32_t(letter),
        [](const unicode::ArabicLetterForms& entry, uint32_t value) { return entry.letter < value; });
    if (found == forms.end() || found->letter != letter)
        return std::nullopt;
    ArabicPresentationForms result;
    result.iso = found->isolated;
    result.fin = found->final;
    // The generator writes 0 for a letter without initial and medial forms; U+0000 is never a form.
    if (found->initial != 0)
        result.ini = found->initial;
    if (found->medial != 0)
        result.med = found->medial;
    return result;
}

} // namespace kestrovan
