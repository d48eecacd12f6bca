// The attributed row walk: cells in visual order become runs of text in segments of one cell
// width, and the cells a renderer paints itself become items.
#include "Kestrovan/Apple/SnapshotTextBuilder.h"

#include "Kestrovan/Apple/SnapshotCellReading.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/UnicodeUtil.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// Appends UTF-8 text as UTF-16 and answers how many units it added. ASCII, nearly every cell,
/// is copied byte for byte.
int appendUtf16(std::u16string& out, std::string_view utf8)
{
    const size_t before = out.size();
    bool ascii = true;
    for (const char byte : utf8)
        ascii = ascii && static_cast<unsigned char>(byte) < 0x80;
    if (ascii) {
        out.append(utf8.begin(), utf8.end());
    } else {
        for (const char32_t scalar : decodeUtf8(utf8)) {
            if (scalar >= 0x10000) {
                out.push_back(char16_t(0xD800 + ((scalar - 0x10000) >> 10)));
                out.push_back(char16_t(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
            } else {
                out.push_back(char16_t(scalar));
            }
        }
    }
    return static_cast<int>(out.size() - before);
}

/// True when UTF-8 text holds two or more scalars.
bool hasSeveralScalars(std::string_view utf8)
{
    int leads = 0;
    for (const char byte : utf8) {
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80 && ++leads >= 2)
            return true;
    }
    return false;
}

bool isBlockOrBoxScalar(char32_t scalar)
{
    return scalar >= 0x2500 && scalar <= 0x259F;
}

/// Scalars of scripts whose cells are shaped alone in a laid-out bidi row: Arabic and its
/// supplements and presentation forms.
bool isArabicScalar(char32_t s)
{
    return (s >= 0x0600 && s <= 0x06FF) || (s >= 0x0750 && s <= 0x077F) || (s >= 0x0870 && s <= 0x08FF) ||
           (s >= 0xFB50 && s <= 0xFDFF) || (s >= 0xFE70 && s <= 0xFEFC);
}

} // namespace

SnapshotTextBuilder::SnapshotTextBuilder(int trueColorCacheCapacity)
{
    if (trueColorCacheCapacity < 1)
        fatal("SnapshotTextBuilder: the true-colour cache capacity must be at least 1");
}

const SnapshotTextAttributesRef& SnapshotTextBuilder::cellAttributes(PackedAttributeKey key,
                                                                     const Attribute& attribute, bool withUrl,
                                                                     const SnapshotRenderContext& context)
{
    prepareAttributeCache(context);
    SnapshotTextAttributesRef& slot = packedAttributeCache_[AttributeCacheKey{key, withUrl}];
    if (!slot)
        slot = std::make_shared<const SnapshotTextAttributes>(buildAttributes(attribute, withUrl, context));
    return slot;
}

ViewLineInfo SnapshotTextBuilder::buildAttributedString(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                                        const SnapshotRenderContext& context)
{
    ViewLineInfo info;
    const std::optional<SelectedColumns> selectedColumns = context.selection.columns(absoluteRow);
    const BufferLine& line = *row.line;
    const CellArena& arena = *line.arena();
    const int stored = line.count();
    const std::optional<BidiRowLayout>& layout = row.bidiLayout;
    prepareAttributeCache(context, arena);

    std::optional<ViewLineSegmentBuilder> segment;
    SnapshotTextAttributesRef pendingAttributes;
    pendingText_.clear();
    pendingLengths_.clear();

    // What the previous cell decided, for run joining.
    struct Signature
    {
        PackedAttributeKey key;
        bool withUrl = false;
        bool selected = false;
        bool hidden = false;
        bool shapeGlyph = false;
        std::optional<GlyphFallbackSelection> fallback;
    };
    std::optional<Signature> previous;
    Attribute attribute;
    std::optional<PackedAttributeKey> decodedKey;
    SnapshotTextAttributesRef cellAttrs;
    std::optional<KittyPlaceholderCell> previousPlaceholder;
    std::optional<Attribute> previousPlaceholderAttribute;

    const auto flush = [&] {
        if (!pendingText_.empty() && pendingAttributes && segment)
            segment->append(pendingText_, pendingAttributes, pendingLengths_);
        pendingText_.clear();
        pendingLengths_.clear();
    };
    const auto closeSegment = [&] {
        if (segment && segment->characterCount() > 0)
            info.segments.push_back(std::move(*segment).build());
        segment.reset();
    };

    int visual = 0;
    const auto visit = [&](int logical, const std::optional<Character>* display) {
        const PackedCell cell = stored > 0 ? line.packed(std::clamp(logical, 0, stored - 1)) : PackedCell();
        const int width = cell.isLead() ? 2 : 1;
        const PackedAttributeKey key = detail::attributeKey(cell);
        if (!decodedKey || *decodedKey != key) {
            attribute = detail::decodeAttribute(cell, arena);
            decodedKey = key;
        }
        const bool withUrl = detail::linkState(context, cell, absoluteRow, logical, width);
        const bool first = !previous;
        if (first || previous->key != key || previous->withUrl != withUrl)
            cellAttrs = cellAttributes(key, attribute, withUrl, context);

        if (!segment || segment->columnWidth() != width) {
            flush();
            closeSegment();
            segment.emplace(visual, width);
        }

        const bool selected = selectedColumns && selectedColumns->overlaps(logical, width);
        // Concealed text (SGR 8) is hidden like blinking text in its hidden phase: the background
        // stays, nothing of the text or its decorations is drawn.
        const bool hidden = isHiddenText(attribute.style, context.textBlinkVisible);
        const bool displayed = display && display->has_value();
        const Character character =
            displayed ? **display : row.character(logical, PackedCellView{cell, &arena});
        const std::string text =
            displayed ? character.utf8() : row.text(logical, PackedCellView{cell, &arena});
        const char32_t scalar = character.firstScalar();
        const bool powerline = PowerlineRenderer::glyph(scalar).has_value();
        const bool shapeGlyph = !context.customBlockGlyphs && context.minimumContrastRatio > 1.0 &&
                                (isBlockOrBoxScalar(scalar) || powerline);
        std::optional<GlyphFallbackSelection> fallback;
        if (context.glyphFallbackProvider && !hidden &&
            (!context.customBlockGlyphs || !(powerline || isBlockOrBoxScalar(scalar))))
            fallback = resolveGlyphFallback(
                character, cellAttrs->font ? cellAttrs->font : context.fonts.normal(), context);

        const bool sameFallback = previous && (previous->fallback.has_value() == fallback.has_value()) &&
                                  (!fallback || (previous->fallback->font == fallback->font &&
                                                 previous->fallback->policy == fallback->policy));
        const bool joins = pendingAttributes && !first && previous->key == key &&
                           previous->withUrl == withUrl && previous->selected == selected &&
                           previous->hidden == hidden && previous->shapeGlyph == shapeGlyph && sameFallback;
        if (!joins) {
            flush();
            if (!shapeGlyph && !selected && !hidden && !fallback) {
                pendingAttributes = cellAttrs;
            } else {
                // A per-cell override: one copy of the cached attributes for the whole run.
                SnapshotTextAttributes run = *cellAttrs;
                if (shapeGlyph)
                    run.foregroundColor = run.shapeColor;
                if (selected) {
                    run.selectionBackgroundColor = context.selectionFillColor;
                    run.foregroundColor = context.selectedTextForegroundColor;
                    run.shapeColor = context.selectedTextForegroundColor;
                    if (run.underlineColor)
                        run.underlineColor = context.selectedTextForegroundColor;
                    if (run.strikethroughColor)
                        run.strikethroughColor = context.selectedTextForegroundColor;
                }
                if (hidden) {
                    run.foregroundColor = platform::NativeColor::sRGB(0, 0, 0, 0);
                    run.underlineColor.reset();
                    run.underlineStyle = UnderlineStyleNumber::none;
                    run.kestrovanUnderlineStyle.reset();
                    run.strikethroughColor.reset();
                    run.strikethroughStyle = 0;
                }
                if (fallback) {
                    if (platform::FontRef drawing = fallback->font->drawingFont())
                        run.font = std::move(drawing);
                    run.glyphFallbackFont = fallback->font;
                    run.glyphPolicy = fallback->policy;
                }
                pendingAttributes = std::make_shared<const SnapshotTextAttributes>(std::move(run));
            }
        }
        previous = Signature{key, withUrl, selected, hidden, shapeGlyph, fallback};

        // Cells the renderer paints itself. Hidden cells never become items, but a placeholder
        // cell stays one whatever its style, since it stands for a piece of an image.
        const int cellLengths[1] = {1};
        const auto appendSpaceForItem = [&] {
            flush();
            segment->append(u" ", pendingAttributes, cellLengths);
        };
        bool item = false;
        if (!hidden && context.customBlockGlyphs) {
            const platform::NativeColor shape = pendingAttributes->shapeColor;
            if (powerline) {
                info.powerlineGlyphs.push_back(PowerlineRenderItem{visual, width, uint32_t(scalar), shape});
                item = true;
            } else if (scalar >= 0x2500 && scalar <= 0x257F) {
                info.boxDrawings.push_back(BoxDrawingRenderItem{visual, width, uint32_t(scalar), shape});
                item = true;
            } else if (const auto rects = BlockElementMapping::rects(uint32_t(scalar))) {
                info.blockElements.push_back(
                    BlockElementRenderItem{visual, width, uint32_t(scalar), *rects, shape});
                item = true;
            }
        }
        if (item) {
            previousPlaceholder.reset();
            appendSpaceForItem();
            visual += width;
            return;
        }
        if (scalar == KittyPlaceholder::placeholderScalar) {
            // The placeholder's diacritics are the rest of its cluster.
            std::optional<KittyPlaceholderCell> placeholder =
                KittyPlaceholderDecoder::decode(Character(decodeUtf8(text)), attribute, absoluteRow, visual,
                                                previousPlaceholder, previousPlaceholderAttribute);
            if (placeholder) {
                info.kittyPlaceholders.push_back(*placeholder);
                previousPlaceholder = std::move(placeholder);
                previousPlaceholderAttribute = attribute;
                appendSpaceForItem();
                visual += width;
                return;
            }
        }
        previousPlaceholder.reset();
        previousPlaceholderAttribute.reset();

        if (hidden) {
            pendingText_.push_back(u' ');
            pendingLengths_.push_back(1);
        } else if (layout && (hasSeveralScalars(text) || isArabicScalar(scalar))) {
            // A cluster or an Arabic letter in a reordered row is shaped on its own, so that the
            // shaper cannot join it with its logical neighbours drawn elsewhere.
            flush();
            closeSegment();
            segment.emplace(visual, width);
            SnapshotTextAttributesRef isolated = pendingAttributes;
            if (!fallback) {
                SnapshotTextAttributes own = *pendingAttributes;
                own.font = resolvedFont(character, own.font ? own.font : context.fonts.normal());
                isolated = std::make_shared<const SnapshotTextAttributes>(std::move(own));
            }
            std::u16string units16;
            const int units = appendUtf16(units16, text);
            const int lengths[1] = {units};
            segment->append(units16, isolated, lengths);
            closeSegment();
        } else {
            int units = appendUtf16(pendingText_, text);
            if (!fallback && character.scalars.size() == 1 && scalar >= 0x100 &&
                UnicodeUtil::prefersTextPresentation(text)) {
                pendingText_.push_back(u'\uFE0E');
                ++units;
            }
            pendingLengths_.push_back(units);
        }
        visual += width;
    };

    if (layout) {
        for (const BidiCell& cell : layout->visualCells)
            visit(cell.logicalCol, &cell.display);
    } else {
        for (int column = 0; column < context.cols;) {
            const PackedCell cell = stored > 0 ? line.packed(std::min(column, stored - 1)) : PackedCell();
            visit(column, nullptr);
            column += cell.isLead() ? 2 : 1;
        }
    }
    flush();
    closeSegment();
    info.images = row.images;
    return info;
}

} // namespace kestrovan
