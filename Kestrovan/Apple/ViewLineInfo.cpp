#include "Kestrovan/Apple/ViewLineInfo.h"

#include <algorithm>

namespace kestrovan {

std::pair<int, int> ViewLineSegment::cellOrdinals(int location, int length) const
{
    if (length < 1)
        return {0, 0};
    const int count = static_cast<int>(utf16ToCellOrdinal.size());
    const auto at = [&](int index) { return std::max(utf16ToCellOrdinal[size_t(index)], 0); };
    int lower = 0;
    if (location >= 0 && location < count)
        lower = utf16ToCellOrdinal[size_t(location)];
    else if (count > 0)
        lower = at(count - 1);
    const long last = long(location) + length - 1;
    int upper = 0;
    if (last >= 0 && last < count)
        upper = at(int(last));
    else if (count > 0)
        upper = at(count - 1);
    upper = std::max(upper, lower);
    return {lower, upper + 1};
}

void ViewLineSegmentBuilder::append(std::u16string_view text, const SnapshotTextAttributesRef& attributes,
                                    std::span<const int> cellUTF16Lengths)
{
    text_.append(text, attributes);
    ++characterCount_;
    for (const int length : cellUTF16Lengths) {
        map_.insert(map_.end(), size_t(std::max(length, 1)), nextOrdinal_);
        ++nextOrdinal_;
    }
}

ViewLineSegment ViewLineSegmentBuilder::build() &&
{
    ViewLineSegment segment;
    segment.column = column_;
    segment.columnWidth = columnWidth_;
    segment.characterCount = characterCount_;
    segment.attributedString = std::move(text_);
    segment.utf16ToCellOrdinal = std::move(map_);
    return segment;
}

} // namespace kestrovan
