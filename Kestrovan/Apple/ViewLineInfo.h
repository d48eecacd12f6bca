// What the row builders give a renderer for one row: segments of attributed text, the cells the
// renderer paints itself, and the plain fast path's bytes and styled runs.
//
// A `ViewLineSegment` holds cells of one width only (narrow and wide cells never share one), so a
// renderer can place its glyphs on a grid of that width; its `utf16ToCellOrdinal` maps each UTF-16
// unit of the text back to the cell it came from. `ViewLineSegmentBuilder` is the open segment the
// attributed-row builder appends to.
#pragma once

#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Kestrovan/Apple/SnapshotTextAttributes.h"
#include "Kestrovan/Apple/TerminalSnapshotRow.h"
#include "Kestrovan/Portable/KittyPlaceholderDecoder.h"
#include "Platform/Text/AttributedText.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrovan {

using SnapshotAttributedText = platform::AttributedText<SnapshotTextAttributes>;

struct ViewLineSegment
{
    /// The visual column of the segment's first cell.
    int column = 0;
    /// 1 or 2: every cell of the segment has this width.
    int columnWidth = 1;
    /// The number of pieces appended.
    int characterCount = 0;
    SnapshotAttributedText attributedString;
    /// For every UTF-16 unit of the text, the index of its cell within the segment.
    std::vector<int> utf16ToCellOrdinal;

    /// The half-open range of cell ordinals the UTF-16 range (`location`, `length`) covers; empty
    /// for a length below 1, and clamped to the map's ends.
    std::pair<int, int> cellOrdinals(int location, int length) const;
};

class ViewLineSegmentBuilder
{
public:
    ViewLineSegmentBuilder(int column, int columnWidth) : column_(column), columnWidth_(columnWidth) {}

    int column() const { return column_; }
    int columnWidth() const { return columnWidth_; }
    /// The pieces appended so far.
    int characterCount() const { return characterCount_; }

    /// Appends `text` with exactly `attributes`, counts one piece, and for each cell length L adds
    /// max(L, 1) entries of the next cell ordinal to the map, advancing the ordinal each time.
    void append(std::u16string_view text, const SnapshotTextAttributesRef& attributes,
                std::span<const int> cellUTF16Lengths);

    /// The finished segment.
    ViewLineSegment build() &&;

private:
    int column_;
    int columnWidth_;
    int characterCount_ = 0;
    int nextOrdinal_ = 0;
    SnapshotAttributedText text_;
    std::vector<int> map_;
};

struct BlockElementRenderItem
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    std::span<const BlockElementRect> rects;
    platform::NativeColor foregroundColor;
};

struct BoxDrawingRenderItem
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    platform::NativeColor foregroundColor;
};

struct PowerlineRenderItem
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    platform::NativeColor foregroundColor;
};

/// One row as the attributed-row builder gives it.
struct ViewLineInfo
{
    std::vector<ViewLineSegment> segments;
    std::vector<std::shared_ptr<SnapshotImage>> images;
    std::vector<KittyPlaceholderCell> kittyPlaceholders;
    std::vector<BlockElementRenderItem> blockElements;
    std::vector<BoxDrawingRenderItem> boxDrawings;
    std::vector<PowerlineRenderItem> powerlineGlyphs;
};

/// A colour of the plain path: a 24-bit true colour kept packed (red in the low byte), or a
/// resolved platform colour.
struct PlainColor
{
    enum class Kind : uint8_t
    {
        rgb,
        color,
    };

    Kind kind = Kind::color;
    uint32_t rgb = 0;
    platform::NativeColor color;

    static PlainColor packed(uint32_t value) { return PlainColor{Kind::rgb, value, {}}; }
    static PlainColor native(const platform::NativeColor& value) { return PlainColor{Kind::color, 0, value}; }

    friend bool operator==(const PlainColor&, const PlainColor&) = default;
};

struct PlainUnderline
{
    PlainColor color;
    /// An `UnderlineStyleNumber`.
    int nsStyle = UnderlineStyleNumber::single;
    UnderlineStyle style = UnderlineStyle::single;

    friend bool operator==(const PlainUnderline&, const PlainUnderline&) = default;
};

struct PlainRunStyle
{
    /// 0 normal, 1 bold, 2 italic, 3 bold italic.
    int fontIndex = 0;
    /// The text colour after dim and contrast adjustment.
    PlainColor foreground;
    /// The text colour before contrast adjustment.
    PlainColor shapeColor;
    PlainColor background;
    bool explicitBackground = false;
    std::optional<platform::NativeColor> selectionBackground;
    std::optional<PlainUnderline> underline;
    std::optional<PlainColor> strikethrough;
};

struct PlainRun
{
    int start = 0;
    /// One past the last column.
    int end = 0;
    PlainRunStyle style;
};

/// A row of printable ASCII: one byte per column and the runs of columns that share a style.
struct PlainRow
{
    std::vector<uint8_t> bytes;
    std::vector<PlainRun> runs;
};

} // namespace kestrovan
