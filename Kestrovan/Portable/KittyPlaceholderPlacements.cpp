#include "Kestrovan/Portable/KittyPlaceholderPlacements.h"

#include "Kestrovan/Portable/KittyPlaceholderDecoder.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace kestrovan {

namespace {

/// The pieces one decoded cell shows of one virtual placement.
void emitPieces(const KittyPlaceholderCell& cell, const KittyGraphicsRenderPlacement& placement,
                int64_t viewRow, double cellWidth, double cellHeight,
                std::vector<TerminalKittyPlaceholderPlacement>& out)
{
    const KittyGraphicsPixelRect& source = placement.visibleSource;
    const double boxWidth = cellWidth * double(placement.geometry.columns);
    const double boxHeight = cellHeight * double(placement.geometry.rows);
    const double scale = std::min(boxWidth / double(source.width), boxHeight / double(source.height));
    if (!(scale > 0) || !std::isfinite(scale))
        return;
    // The image fitted into the box keeping its aspect ratio, centred.
    const double drawnWidth = scale * double(source.width);
    const double drawnHeight = scale * double(source.height);
    const double originX = cellWidth * double(cell.col - cell.placeholderCol) +
                           double(placement.pixelOffsetX) + (boxWidth - drawnWidth) / 2;
    const double originY = cellHeight * double(viewRow - cell.placeholderRow) +
                           double(placement.pixelOffsetY) + (boxHeight - drawnHeight) / 2;
    // Clipped to this cell.
    const double left = std::max(originX, cellWidth * double(cell.col));
    const double right = std::min(originX + drawnWidth, cellWidth * double(cell.col + 1));
    const double top = std::max(originY, cellHeight * double(viewRow));
    const double bottom = std::min(originY + drawnHeight, cellHeight * double(viewRow + 1));
    if (right <= left || bottom <= top)
        return;
    TerminalKittyPlaceholderPlacement piece;
    piece.imageId = placement.imageId;
    piece.token = placement.token;
    piece.insertionOrder = placement.insertionOrder;
    piece.destination = {left, top, right - left, bottom - top};
    piece.source = {(left - originX) / scale + double(source.x), (top - originY) / scale + double(source.y),
                    (right - left) / scale, (bottom - top) / scale};
    out.push_back(piece);
}

} // namespace

std::vector<TerminalKittyPlaceholderPlacement>
visibleKittyPlaceholderPlacements(Terminal& terminal, const KittyGraphicsRenderSnapshot& snapshot,
                                  double cellWidth, double cellHeight)
{
    std::vector<TerminalKittyPlaceholderPlacement> out;
    if (!(cellWidth >= 1) || !(cellHeight >= 1))
        return out;
    std::map<uint32_t, std::vector<const KittyGraphicsRenderPlacement*>> virtualByImage;
    for (const KittyGraphicsRenderPlacement& placement : snapshot.placements) {
        if (placement.isVirtual)
            virtualByImage[placement.imageId].push_back(&placement);
    }
    if (virtualByImage.empty())
        return out;

    const Buffer& buffer = terminal.buffer();
    for (int row = 0; row < terminal.rows(); ++row) {
        const int index = buffer.yDisp() + row;
        if (index < 0 || index >= buffer.lines().count())
            continue;
        const BufferLine* line = &buffer.lines().lineOrEmpty(index);
        const int columns = std::min(line->count(), terminal.cols());
        std::optional<KittyPlaceholderCell> previous;
        std::optional<Attribute> previousAttribute;
        for (int col = 0; col < columns; ++col) {
            const CharData data = (*line)[col];
            std::optional<KittyPlaceholderCell> cell;
            if (static_cast<char32_t>(data.code) == KittyPlaceholder::placeholderScalar) {
                std::vector<uint32_t> scalars;
                if (data.graphemeScalarValues)
                    scalars.assign(data.graphemeScalarValues->begin(), data.graphemeScalarValues->end());
                else
                    scalars.push_back(static_cast<uint32_t>(data.code));
                cell = KittyPlaceholderDecoder::decode(scalars, data.attribute, row, col, previous,
                                                       previousAttribute);
            }
            if (!cell) {
                previous.reset();
                previousAttribute.reset();
                continue;
            }
            previous = cell;
            previousAttribute = data.attribute;

            const auto placements = virtualByImage.find(cell->imageId);
            if (placements == virtualByImage.end())
                continue;
            for (const KittyGraphicsRenderPlacement* placement : placements->second) {
                if (cell->placementId != 0 && placement->placementId != cell->placementId)
                    continue;
                if (cell->placeholderCol >= placement->geometry.columns ||
                    cell->placeholderRow >= placement->geometry.rows)
                    continue;
                if (snapshot.imagesById.count(placement->imageId) == 0 ||
                    placement->visibleSource.width <= 0 || placement->visibleSource.height <= 0)
                    continue;
                emitPieces(*cell, *placement, row, cellWidth, cellHeight, out);
            }
        }
    }
    return out;
}

} // namespace kestrovan
