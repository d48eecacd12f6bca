// The GPU renderer's memory of the rows it has prepared: one entry per buffer line, kept while the
// line is visible and unchanged, so an unchanged row costs a lookup and a scrolled row only its
// placement.
//
// Entries are keyed by the line's render identity (`TerminalSnapshotRow::sourceIdentityToken`),
// which stays with a line while it scrolls. An entry holds that identity object itself: lines are
// freed and made all the time (a full scrollback at full speed), and a new line's identity must
// never land at the address of one an entry still names, as its generation (which starts at 0
// for every new line) could then match and the old line's glyphs would be drawn for the new one.
// A row is reused while its source generation and its per-row inputs (selection, hover link,
// pictures, bidi layout) are unchanged; everything that changes every row at once is summarised in
// a `CacheSignature`, and a new signature empties the whole cache. One thread at a time (the frame
// builder's).
#pragma once

#include "Kestrovan/Apple/Metal/DrawData.h"
#include "Kestrovan/Apple/Metal/PreparedRow.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

/// The inputs that change a row's look without changing its text.
struct RowCacheInputs
{
    std::optional<SelectedColumns> selection;
    std::optional<LinkMatch::ColumnRange> link;
    std::vector<std::shared_ptr<SnapshotImage>> images;
    bool hasBidiLayout = false;

    /// The inputs of `row`, absolute row `absoluteRow`, in the frame of `context`: the hover link's
    /// range only in the hover modes (with the modifier mode, only while the modifier is held).
    static RowCacheInputs make(const TerminalSnapshotRow& row, int64_t absoluteRow,
                               const SnapshotRenderContext& context);
};

struct RowCacheEntry
{
    /// The line's render identity, held so that its address cannot be taken by another line.
    std::shared_ptr<const BufferLine::RenderIdentity> identity;
    uint64_t sourceGeneration = 0;
    uint64_t revision = 0;
    RowCacheInputs inputs;
    metal::PreparedRow prepared;
    int64_t screenRow = 0;
    /// The placed row (per-frame mode) or its GPU buffers (per-row mode).
    std::optional<RowDrawData> data;
    std::optional<RowDrawBuffers> buffers;

    /// Whether the entry still draws `row` with `inputs` at `screenRow`: the same source
    /// generation and inputs, and for a row with a bidi layout also the same revision and screen
    /// row (its layout may depend on the rows around it).
    bool canReuse(const TerminalSnapshotRow& row, const RowCacheInputs& inputs, int64_t screenRow) const;
};

/// The kitty graphics of a frame as the signature sees them.
struct KittyCacheStamp
{
    int64_t imagesCount = 0;
    int64_t placementsCount = 0;
    uint64_t generation = 0;

    friend bool operator==(const KittyCacheStamp&, const KittyCacheStamp&) = default;
};

/// Everything that changes every row at once.
struct CacheSignature
{
    double scale = 1;
    double cellWidth = 0;
    double cellHeight = 0;
    double viewWidth = 0;
    double viewHeight = 0;
    int rows = 0;
    int cols = 0;
    std::string fontName;
    double fontSize = 0;
    bool isAltBuffer = false;
    KittyCacheStamp kittyStamp;
    BidiHostPolicy bidiHostPolicy = BidiHostPolicy::respectTerminal;
    uint64_t attributeContextIdentity = 0;
    uint64_t glyphFallbackIdentity = 0;
    bool textBlinkVisible = true;
    LinkHighlightMode linkHighlightMode = LinkHighlightMode::hover;
    bool enableOsc8Hyperlinks = true;
    bool linkModifierActive = false;
    bool customBlockGlyphs = true;
    bool antiAliasCustomBlockGlyphs = true;
    double imageScale = 1;

    /// The signature of a frame.
    static CacheSignature make(const TerminalSnapshot& snapshot, const SnapshotRenderContext& context);

    friend bool operator==(const CacheSignature&, const CacheSignature&) = default;
};

/// The visible lines of a snapshot: first and last (inclusive) absolute rows and the display
/// offset.
struct VisibleRowRange
{
    int64_t first = 0;
    int64_t last = 0;
    int64_t yDisp = 0;

    friend bool operator==(const VisibleRowRange&, const VisibleRowRange&) = default;
};

/// None when the snapshot has no lines, no rows or nothing to show.
std::optional<VisibleRowRange> visibleRowRange(const TerminalSnapshot& snapshot);

/// The entries by line identity.
class RowCache
{
public:
    /// Takes the entry of `identity` out of the cache; null when there is none.
    std::unique_ptr<RowCacheEntry> take(const BufferLine::RenderIdentity* identity);
    /// Stores an entry under its identity, replacing one stored there before.
    void store(std::unique_ptr<RowCacheEntry> entry);
    void clear() { entries_.clear(); }
    void reserve(size_t count) { entries_.reserve(count); }
    size_t size() const { return entries_.size(); }
    const RowCacheEntry* find(const BufferLine::RenderIdentity* identity) const;

private:
    std::unordered_map<const BufferLine::RenderIdentity*, std::unique_ptr<RowCacheEntry>> entries_;
};

} // namespace kestrovan
