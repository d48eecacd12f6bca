#include "Kestrovan/Apple/TerminalSnapshotRow.h"

#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/Utf8.h"

namespace kestrovan {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

/// True for the cells drawn as a space whatever the row resolved: blanks, clusters that name
/// nothing, and scalar 0.
bool drawsAsSpace(PackedCellView view)
{
    const PackedCell cell = view.cell;
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return cell.scalar() == 0;
    case PackedCell::Kind::grapheme: {
        const std::u32string* cluster =
            cell.content() == 0 || !view.arena ? nullptr : view.arena->grapheme(cell.content());
        return !cluster || cluster->empty();
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return true;
}

} // namespace

TerminalSnapshotRow::TerminalSnapshotRow(const std::shared_ptr<BufferLine>& source, bool borrowing,
                                         std::shared_ptr<CellArena> snapshotArena)
{
    if (borrowing) {
        line = source;
        return;
    }
    if (!snapshotArena)
        snapshotArena = CellArena::makeSnapshot(*source->arena());
    // Blank cells (raw 0 is the empty cell with the default attribute) and a new render identity:
    // the first refresh always copies.
    line = std::make_shared<BufferLine>(source->count(), PackedCell(), PackedCell(), false,
                                        BidiPresentationState(), std::move(snapshotArena));
}

TerminalSnapshotRow::TerminalSnapshotRow(int width, std::shared_ptr<CellArena> snapshotArena)
    : line(std::make_shared<BufferLine>(width, PackedCell(), PackedCell(), false, BidiPresentationState(),
                                        std::move(snapshotArena)))
{}

bool TerminalSnapshotRow::isCopyOf(const BufferLine& source) const
{
    return sourceIdentityToken_ && sourceIdentityToken_ == source.renderIdentity() &&
           sourceGeneration == source.generation();
}

void TerminalSnapshotRow::copy(const BufferLine& source, const std::shared_ptr<CellArena>& arena, int cols)
{
    line->copyForSnapshot(source, arena);
    sourceIdentityToken_ = source.renderIdentity();
    sourceGeneration = source.generation();
    resolvedCharacters.clear();
    resolvedText.clear();
    // Cluster text is read from the live arena now, while the lock is held, so drawing never
    // needs it.
    const CellArena& sourceArena = *source.arena();
    const int end = std::min(source.count(), cols);
    for (int column = 0; column < end;) {
        const PackedCell cell = source.packed(column);
        if (cell.kind() == PackedCell::Kind::grapheme) {
            std::string text = sourceArena.text(cell);
            const Character first = firstCharacter(decodeUtf8(text));
            if (first.isEmpty())
                resolvedCharacters.erase(column);
            else
                resolvedCharacters[column] = first;
            resolvedText[column] = std::move(text);
        }
        column += cell.isLead() ? 2 : 1;
    }
}

std::shared_ptr<TerminalBidi::DeferredParagraph>
TerminalSnapshotRow::layOut(int64_t row, const Buffer& buffer, int cols, const Terminal& terminal,
                            BidiHostPolicy hostPolicy, int64_t revision)
{
    bidiParagraphRevision = revision;
    TerminalBidi::LayoutOutcome outcome =
        TerminalBidi::collectLayout(row, buffer, cols, terminal, hostPolicy);
    if (auto* pending = std::get_if<std::shared_ptr<TerminalBidi::DeferredParagraph>>(&outcome))
        return *pending;
    bidiLayout = std::move(std::get<std::optional<BidiRowLayout>>(outcome));
    return nullptr;
}

void TerminalSnapshotRow::completeLayout(int64_t row, const TerminalBidi::DeferredParagraph& paragraph)
{
    bidiLayout.reset();
    if (!paragraph.result)
        return;
    const auto found = paragraph.result->rows.find(row);
    if (found != paragraph.result->rows.end())
        bidiLayout = found->second;
}

bool TerminalSnapshotRow::refreshImages(const BufferLine& source, bool otherChange)
{
    std::vector<std::shared_ptr<SnapshotImage>> copied;
    if (source.images()) {
        for (const std::shared_ptr<TerminalImage>& image : *source.images()) {
            if (const auto drawable = std::dynamic_pointer_cast<SnapshotImageSource>(image)) {
                copied.push_back(std::make_shared<SnapshotImage>(drawable->image(), drawable->pixelWidth(),
                                                                 drawable->pixelHeight(), drawable->col()));
            }
        }
    }
    bool changed = copied.size() != images.size();
    for (size_t i = 0; !changed && i < copied.size(); ++i)
        changed = !copied[i]->isSameAs(*images[i]);
    if (changed)
        images = std::move(copied);
    if (changed || otherChange)
        ++revision;
    return changed;
}

Character TerminalSnapshotRow::character(int column, PackedCellView view) const
{
    if (drawsAsSpace(view))
        return Character(U' ');
    if (const auto found = resolvedCharacters.find(column); found != resolvedCharacters.end())
        return found->second;
    const PackedCell cell = view.cell;
    char32_t scalar = cell.scalar();
    if (cell.kind() == PackedCell::Kind::grapheme)
        scalar = view.arena->grapheme(cell.content())->front();
    return Character(isValidScalar(scalar) ? scalar : replacementCharacter);
}

std::string TerminalSnapshotRow::text(int column, PackedCellView view) const
{
    if (drawsAsSpace(view))
        return " ";
    if (const auto found = resolvedText.find(column); found != resolvedText.end())
        return found->second;
    return character(column, view).utf8();
}

} // namespace kestrovan
