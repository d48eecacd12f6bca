// The cursor of a frame: where it stands, the cell under it and how the caret draws that cell.
#include "Kestrovan/Apple/GlyphFallbackResolver.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// The character the caret shows for a cell: its scalar, or a cluster's first scalar from the
/// live arena; a space for blanks, empty clusters and values that are no scalar.
Character caretCharacter(PackedCell cell, const CellArena& arena)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar: {
        const char32_t scalar = cell.scalar();
        return Character(scalar != 0 && isValidScalar(scalar) ? scalar : U' ');
    }
    case PackedCell::Kind::grapheme: {
        const std::u32string* cluster = cell.content() == 0 ? nullptr : arena.grapheme(cell.content());
        if (!cluster || cluster->empty() || !isValidScalar(cluster->front()))
            return Character(U' ');
        return Character(cluster->front());
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return Character(U' ');
}

uint32_t caretCode(PackedCell cell, const CellArena& arena)
{
    if (cell.kind() == PackedCell::Kind::scalar)
        return cell.scalar();
    if (cell.kind() == PackedCell::Kind::grapheme) {
        const std::u32string* cluster = cell.content() == 0 ? nullptr : arena.grapheme(cell.content());
        return cluster && !cluster->empty() ? uint32_t(cluster->front()) : 0;
    }
    return 0;
}

} // namespace

void TerminalSnapshot::buildCursor(Terminal& terminal, const Buffer& buffer, const FrameViewState& viewState)
{
    cursor.reset();
    const int64_t absolute = int64_t(buffer.yBase()) + buffer.y();
    if (absolute < 0 || absolute >= buffer.lines().count())
        return;
    const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(absolute));
    if (line.count() == 0)
        return;
    const SnapshotRenderContext& context = *renderContext;

    SnapshotCursor made;
    made.absoluteRow = absolute;
    made.screenRow = absolute - buffer.yDisp();
    // A cursor past the end of a shorter line (after a resize, or in the pending-wrap column)
    // stands on the line's last cell.
    made.logicalCol = std::clamp(buffer.x(), 0, line.count() - 1);
    const PackedCell cell = line.packed(made.logicalCol);
    const CellArena& arena = *line.arena();
    CaretRenderData& data = made.renderData;
    data.cellAttribute = arena.attribute(cell);
    // A concealed cell stays concealed under a block caret too.
    const bool concealed = data.cellAttribute.style.contains(CharacterStyle::invisible);
    data.character = concealed ? Character(U' ') : caretCharacter(cell, arena);
    data.code = concealed ? 0 : caretCode(cell, arena);
    data.width = static_cast<uint8_t>(cell.width());
    data.attributes =
        attributedValue(data.cellAttribute, context.caretColor, context.caretTextColor, context);
    if (!data.attributes.font)
        data.attributes.font = context.fonts.normal();
    if (data.attributes.font && context.glyphFallbackProvider) {
        const double normalSize = context.fonts.normal() ? context.fonts.normal()->pointSize() : 0;
        if (std::optional<GlyphFallbackSelection> fallback =
                GlyphFallbackResolver::selection(data.character, TextGlyphFallbackFont(data.attributes.font),
                                                 context.glyphFallbackProvider.get(), normalSize)) {
            if (platform::FontRef drawing = fallback->font->drawingFont())
                data.attributes.font = std::move(drawing);
            data.attributes.glyphFallbackFont = fallback->font;
            data.attributes.glyphPolicy = fallback->policy;
        }
    }
    data.cursorColor = context.caretColor;
    data.textColor = context.caretTextColor;
    data.textBlinkVisible = viewState.textBlinkVisible;
    data.customBlockGlyphs = viewState.customBlockGlyphs;
    data.normalFont = viewState.fonts.normal();
    made.columnWidth = cell.isLead() ? 2 : 1;
    made.renderMode = line.renderMode();
    made.hidden = terminal.mode(TerminalMode::cursorHidden);
    cursor = std::move(made);
    cursor->visualCol = visualColumn(absolute, cursor->logicalCol);
}

} // namespace kestrovan
