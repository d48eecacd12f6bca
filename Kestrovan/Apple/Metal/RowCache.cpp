#include "Kestrovan/Apple/Metal/RowCache.h"

#include <algorithm>

namespace kestrovan {

RowCacheInputs RowCacheInputs::make(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                    const SnapshotRenderContext& context)
{
    RowCacheInputs inputs;
    inputs.selection = context.selection.columns(absoluteRow);
    // The always-on modes underline every link without a hover range; the hover modes give the
    // row the range of the link under the pointer (with the modifier mode, while it is held).
    const bool usesHover =
        context.linkHighlightMode == LinkHighlightMode::hover ||
        (context.linkHighlightMode == LinkHighlightMode::hoverWithModifier && context.commandActive);
    if (usesHover && context.linkHighlightRange) {
        const auto& ranges = *context.linkHighlightRange;
        const auto found = std::find_if(ranges.begin(), ranges.end(), [&](const LinkMatch::RowRange& range) {
            return range.row == absoluteRow;
        });
        if (found != ranges.end())
            inputs.link = found->range;
    }
    inputs.images = row.images;
    inputs.hasBidiLayout = row.bidiLayout.has_value();
    return inputs;
}

bool RowCacheEntry::canReuse(const TerminalSnapshotRow& row, const RowCacheInputs& other,
                             int64_t atScreenRow) const
{
    if (sourceGeneration != row.sourceGeneration || inputs.selection != other.selection ||
        inputs.link != other.link || inputs.hasBidiLayout != other.hasBidiLayout ||
        inputs.images.size() != other.images.size())
        return false;
    for (size_t i = 0; i < inputs.images.size(); ++i) {
        const auto& a = inputs.images[i];
        const auto& b = other.images[i];
        if (a != b && !(a && b && a->isSameAs(*b)))
            return false;
    }
    // A bidi layout may depend on its neighbours: such a row is kept only where it was.
    if (other.hasBidiLayout && (revision != row.revision || screenRow != atScreenRow))
        return false;
    return true;
}

CacheSignature CacheSignature::make(const TerminalSnapshot& snapshot, const SnapshotRenderContext& context)
{
    CacheSignature signature;
    signature.scale = context.renderingScale;
    signature.cellWidth = context.cellDimension.width;
    signature.cellHeight = context.cellDimension.height;
    signature.viewWidth = context.viewBounds.width;
    signature.viewHeight = context.viewBounds.height;
    signature.rows = snapshot.rowCount;
    signature.cols = snapshot.cols;
    if (const platform::FontRef& font = context.fonts.normal()) {
        signature.fontName = font->postScriptName();
        signature.fontSize = font->pointSize();
    }
    signature.isAltBuffer = snapshot.isAltBuffer;
    const KittyGraphicsRenderSnapshot& kitty = snapshot.kitty.renderSnapshot;
    signature.kittyStamp = KittyCacheStamp{int64_t(kitty.imagesById.size()), int64_t(kitty.placements.size()),
                                           kitty.storageGeneration};
    signature.bidiHostPolicy = context.bidiHostPolicy;
    signature.attributeContextIdentity = context.identity;
    signature.glyphFallbackIdentity =
        context.glyphFallbackProvider ? context.glyphFallbackProvider->cacheIdentity() : 0;
    signature.textBlinkVisible = context.textBlinkVisible;
    signature.linkHighlightMode = context.linkHighlightMode;
    signature.enableOsc8Hyperlinks = context.enableOsc8Hyperlinks;
    signature.linkModifierActive = (context.linkHighlightMode == LinkHighlightMode::hoverWithModifier ||
                                    context.linkHighlightMode == LinkHighlightMode::alwaysWithModifier) &&
                                   context.commandActive;
    signature.customBlockGlyphs = context.customBlockGlyphs;
    signature.antiAliasCustomBlockGlyphs = context.antiAliasCustomBlockGlyphs;
    signature.imageScale = context.imageScale;
    return signature;
}

std::optional<VisibleRowRange> visibleRowRange(const TerminalSnapshot& snapshot)
{
    if (snapshot.linesCount < 1 || snapshot.rowCount < 1 || snapshot.rows.empty())
        return std::nullopt;
    const int64_t shown = std::min<int64_t>(int64_t(snapshot.rows.size()), snapshot.rowCount);
    const int64_t last = std::min<int64_t>(snapshot.firstRow + shown - 1, int64_t(snapshot.linesCount) - 1);
    if (last < snapshot.firstRow)
        return std::nullopt;
    return VisibleRowRange{snapshot.firstRow, last, snapshot.yDisp};
}

std::unique_ptr<RowCacheEntry> RowCache::take(const BufferLine::RenderIdentity* identity)
{
    const auto found = entries_.find(identity);
    if (found == entries_.end())
        return nullptr;
    std::unique_ptr<RowCacheEntry> entry = std::move(found->second);
    entries_.erase(found);
    return entry;
}

void RowCache::store(std::unique_ptr<RowCacheEntry> entry)
{
    const BufferLine::RenderIdentity* key = entry->identity.get();
    entries_[key] = std::move(entry);
}

const RowCacheEntry* RowCache::find(const BufferLine::RenderIdentity* identity) const
{
    const auto found = entries_.find(identity);
    return found == entries_.end() ? nullptr : found->second.get();
}

} // namespace kestrovan
