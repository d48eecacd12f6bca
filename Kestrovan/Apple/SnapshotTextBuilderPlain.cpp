// The plain path: a row of printable ASCII in single cells as one byte per column and runs of
// resolved styles, for renderers that can draw such rows without shaping.
//
// A style is worked out only where the attribute key, the link, the selection or the hidden state
// changes from the previous column; everywhere else the column extends the current run. Adjacent
// runs whose styles draw alike merge even when their attributes differ.
#include "Kestrovan/Apple/SnapshotCellReading.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>

namespace kestrovan {

std::optional<PlainRow> SnapshotTextBuilder::plainRow(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                                      const SnapshotRenderContext& context)
{
    if (row.bidiLayout)
        return std::nullopt;
    const int columns = context.cols;
    if (columns < 0)
        fatal("SnapshotTextBuilder.plainRow: a negative column count");
    const BufferLine& line = *row.line;
    const CellArena& arena = *line.arena();
    const int stored = line.count();
    const std::optional<SelectedColumns> selectedColumns = context.selection.columns(absoluteRow);

    prepareAttributeCache(context, arena);
    PlainRow result;
    result.bytes.reserve(size_t(columns));
    // Most rows change style a few times; one reservation covers them.
    result.runs.reserve(32);
    std::optional<PackedAttributeKey> decodedKey;
    Attribute attribute;
    PackedAttributeKey previousKey;
    bool previousLink = false;
    bool previousSelected = false;
    bool previousHidden = false;
    // The cached style the last run was made from when it took one unchanged; null otherwise.
    const PlainRunStyle* lastBase = nullptr;

    for (int column = 0; column < columns; ++column) {
        const PackedCell cell = stored > 0 ? line.packed(std::min(column, stored - 1)) : PackedCell();
        if (cell.widthState() != PackedCell::WidthState::single || cell.kind() == PackedCell::Kind::grapheme)
            return std::nullopt;
        // Inline blanks count as scalar 0.
        const uint32_t scalar = cell.scalar();
        if (scalar != 0 && (scalar < 0x20 || scalar > 0x7E))
            return std::nullopt;

        const PackedAttributeKey key = detail::attributeKey(cell);
        if (!decodedKey || *decodedKey != key) {
            attribute = detail::decodeAttribute(cell, arena);
            decodedKey = key;
        }
        const bool link = detail::linkState(context, cell, absoluteRow, column, 1);
        const bool selected = selectedColumns && selectedColumns->contains(column);
        // Concealed text is hidden like blinking text in its hidden phase.
        const bool hidden = isHiddenText(attribute.style, context.textBlinkVisible);
        result.bytes.push_back(hidden || scalar == 0 ? uint8_t(0x20) : uint8_t(scalar));

        const bool changed = result.runs.empty() || column == 0 || key != previousKey ||
                             link != previousLink || selected != previousSelected || hidden != previousHidden;
        previousKey = key;
        previousLink = link;
        previousSelected = selected;
        previousHidden = hidden;
        if (!changed) {
            result.runs.back().end = column + 1;
            continue;
        }
        auto cached = plainStyleCache_.find(AttributeCacheKey{key, link});
        if (cached == plainStyleCache_.end())
            cached =
                plainStyleCache_.emplace(AttributeCacheKey{key, link}, plainStyle(attribute, link, context))
                    .first;
        const PlainRunStyle& base = cached->second;
        if (!selected && !hidden) {
            // The common case needs no copy: the cached style is compared, and copied only into
            // a new run. The same cached style as the last run's merges without a comparison.
            if (!result.runs.empty() &&
                (lastBase == &base || sameAttributes(result.runs.back().style, base, context))) {
                result.runs.back().end = column + 1;
            } else {
                result.runs.push_back(PlainRun{column, column + 1, base});
            }
            lastBase = &base;
            continue;
        }
        lastBase = nullptr;
        PlainRunStyle style = base;
        if (selected) {
            const PlainColor text = PlainColor::native(context.selectedTextForegroundColor);
            style.selectionBackground = context.selectionFillColor;
            style.foreground = text;
            style.shapeColor = text;
            if (style.underline)
                style.underline->color = text;
            if (style.strikethrough)
                style.strikethrough = text;
        }
        if (hidden) {
            style.foreground = PlainColor::native(platform::NativeColor::sRGB(0, 0, 0, 0));
            style.underline.reset();
            style.strikethrough.reset();
        }
        if (!result.runs.empty() && sameAttributes(result.runs.back().style, style, context))
            result.runs.back().end = column + 1;
        else
            result.runs.push_back(PlainRun{column, column + 1, std::move(style)});
    }
    return result;
}

} // namespace kestrovan
