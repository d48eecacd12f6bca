// Kitty placements: turning a put or transmit-and-display command into a placement record on the
// cell grid of the active screen, resolving parent chains of relative placements, moving the
// cursor past the image, and the storage generation that tells renderers something changed.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <cmath>

namespace kestrovan {

namespace {

/// A parent chain holds at most this many placements from the parent up to its root.
constexpr int maximumParentChain = 8;

/// The ceiling of a division, at least 1.
int64_t ceilingAtLeastOne(double numerator, double denominator)
{
    return std::max<int64_t>(1, static_cast<int64_t>(std::ceil(numerator / denominator)));
}

} // namespace

void KittyGraphicsEngine::syncActiveScreen()
{
    state_.activeIsAlternate = terminal_.isCurrentBufferAlternate();
}

uint64_t KittyGraphicsEngine::nextKittyGeneration()
{
    const uint64_t generation = state_.nextGeneration;
    state_.nextGeneration = generation == UINT64_MAX ? 1 : generation + 1;
    // Recorded on the screen state the operation is working on: the core points the state at the
    // alternate screen while it clears it from the normal buffer, and a bump in the middle of that
    // must not switch screens under it.
    screen().generation = generation;
    return generation;
}

void KittyGraphicsEngine::updateHasKittyPlacements()
{
    terminal_.hasKittyPlacements_ =
        !state_.primary.placementsByKey.empty() || !state_.alternate.placementsByKey.empty();
}

bool KittyGraphicsEngine::displayKittyImage(const KittyGraphicsPayload& payload,
                                            const KittyGraphicsControl& control,
                                            std::optional<uint32_t> imageId, std::optional<uint32_t>)
{
    if (!imageId)
        return false;
    syncActiveScreen();
    const bool isVirtual = control.unicodePlaceholder != 0;
    if (isVirtual && (control.parentImageId || control.parentPlacementId)) {
        sendKittyError(control, "EINVAL: virtual placement cannot refer to a parent");
        return false;
    }
    const PlacementOrigin origin = resolveKittyPlacementOrigin(control);
    if (origin.errorMessage) {
        sendKittyError(control, *origin.errorMessage);
        return false;
    }
    if (control.parentImageId && control.parentPlacementId && control.placementId &&
        *control.parentImageId == *imageId && *control.parentPlacementId == *control.placementId) {
        sendKittyError(control, "EINVAL: placement cannot be its own parent");
        return false;
    }
    // The old placement under this client id goes before the checks below, so a command that then
    // fails has still removed it.
    if (control.placementId)
        removeKittyPlacement(*imageId, *control.placementId);

    // The source rectangle, clipped to the image.
    const int64_t imageWidth = payload.width;
    const int64_t imageHeight = payload.height;
    const int64_t sourceX = std::max<int64_t>(0, std::min(control.cropX, imageWidth));
    const int64_t sourceY = std::max<int64_t>(0, std::min(control.cropY, imageHeight));
    const int64_t sourceWidth =
        control.cropWidth > 0 ? std::min(control.cropWidth, imageWidth - sourceX) : imageWidth - sourceX;
    const int64_t sourceHeight =
        control.cropHeight > 0 ? std::min(control.cropHeight, imageHeight - sourceY) : imageHeight - sourceY;
    if (sourceWidth < 1 || sourceHeight < 1) {
        sendKittyError(control, "EINVAL: invalid source rectangle");
        return false;
    }

    // Pixel offsets stay inside the first cell; without a cell size there are none.
    std::optional<CellPixelSize> cell;
    if (const std::shared_ptr<TerminalDelegate> host = terminal_.delegate())
        cell = host->cellSizeInPixels(terminal_);
    int64_t pixelOffsetX = 0;
    int64_t pixelOffsetY = 0;
    if (cell) {
        pixelOffsetX =
            std::min<int64_t>(std::max<int64_t>(0, control.pixelOffsetX), std::max(0, cell->width - 1));
        pixelOffsetY =
            std::min<int64_t>(std::max<int64_t>(0, control.pixelOffsetY), std::max(0, cell->height - 1));
    }

    // The size in cells: given, or derived from the source size keeping its aspect ratio.
    int64_t cols = 0;
    int64_t rows = 0;
    if (control.columns >= 1 && control.rows >= 1) {
        cols = control.columns;
        rows = control.rows;
    } else if (!cell || cell->width < 1 || cell->height < 1) {
        cols = std::max<int64_t>(control.columns, 1);
        rows = std::max<int64_t>(control.rows, 1);
    } else if (control.rows >= 1) {
        const double drawnHeight =
            std::max<double>(1, double(control.rows) * cell->height - double(pixelOffsetY));
        const int64_t scaledWidth =
            ceilingAtLeastOne(double(sourceWidth) * drawnHeight, double(sourceHeight));
        cols = ceilingAtLeastOne(double(scaledWidth + pixelOffsetX), cell->width);
        rows = control.rows;
    } else if (control.columns >= 1) {
        const double drawnWidth =
            std::max<double>(1, double(control.columns) * cell->width - double(pixelOffsetX));
        const int64_t scaledHeight =
            ceilingAtLeastOne(double(sourceHeight) * drawnWidth, double(sourceWidth));
        rows = ceilingAtLeastOne(double(scaledHeight + pixelOffsetY), cell->height);
        cols = control.columns;
    } else {
        cols = ceilingAtLeastOne(double(sourceWidth + pixelOffsetX), cell->width);
        rows = ceilingAtLeastOne(double(sourceHeight + pixelOffsetY), cell->height);
    }

    KittyGraphicsScreenState& current = screen();
    uint32_t placementId = 0;
    if (control.placementId) {
        placementId = *control.placementId;
    } else {
        do {
            placementId = current.nextPlacementId++;
        } while (placementId == 0 || current.placementsByKey.count({*imageId, placementId, true}) != 0);
    }

    // Every placement made here is new (a client key was removed above), and its record counts
    // against the quota; making room may evict other images, never this one.
    if (!reserveKittyStorageBytes(0, *imageId, KittyGraphicsBookkeeping::placementBytes)) {
        sendKittyError(control, "ENOMEM: out of memory");
        return false;
    }

    Buffer& buffer = terminal_.activeBuffer();
    KittyPlacementRecord record;
    record.token = current.nextToken++;
    record.imageId = *imageId;
    record.clientPlacementId = control.placementId.value_or(0);
    record.placementId = placementId;
    record.parentImageId = control.parentImageId;
    record.parentPlacementId = origin.parentPlacementId;
    record.parentPlacementIsAnonymous = origin.parentPlacementIsAnonymous;
    record.parentOffsetH = control.offsetH;
    record.parentOffsetV = control.offsetV;
    record.pixelOffsetX = pixelOffsetX;
    record.pixelOffsetY = pixelOffsetY;
    record.col = origin.col.value_or(buffer.x());
    record.row = origin.row.value_or(int64_t{buffer.y()} + buffer.settledYBase());
    record.cols = cols;
    record.rows = rows;
    record.zIndex = control.zIndex;
    record.isVirtual = isVirtual;
    record.isAlternateBuffer = terminal_.isCurrentBufferAlternate();
    record.sourceX = sourceX;
    record.sourceY = sourceY;
    record.sourceWidth = sourceWidth;
    record.sourceHeight = sourceHeight;
    record.insertionOrder = current.nextInsertionOrder++;
    const KittyPlacementKey key{*imageId, placementId, record.clientPlacementId == 0};
    current.putPlacement(key, record);
    terminal_.hasKittyPlacements_ = true;
    nextKittyGeneration();

    if (const auto image = current.imagesById.find(*imageId);
        image != current.imagesById.end() && image->second.animation &&
        image->second.animation->playbackState != KittyGraphicsAnimation::PlaybackState::stopped)
        scheduleKittyAnimationTimer();

    // The cursor moves past the image: onto its last row just right of it, or to the start of the
    // next line when the image reaches the right edge.
    if (!isVirtual && !origin.isRelative && control.cursorPolicy != 1) {
        const int64_t end = record.col + cols;
        const int64_t lines = rows + (end >= terminal_.cols() ? 1 : 0);
        const int64_t moves = std::min<int64_t>(
            lines - 1, int64_t{terminal_.rows()} +
                           std::max(0, terminal_.buffer().scrollBottom() - terminal_.buffer().y()));
        for (int64_t step = 0; step < moves; ++step)
            terminal_.cmdIndex();
        terminal_.activeBuffer().setX(end < terminal_.cols() ? static_cast<int>(end) : 0);
        terminal_.restrictCursor(true);
    }
    terminal_.updateFullScreen();
    return true;
}

KittyGraphicsEngine::PlacementOrigin
KittyGraphicsEngine::resolveKittyPlacementOrigin(const KittyGraphicsControl& control)
{
    PlacementOrigin origin;
    if (!control.parentImageId)
        return origin;
    auto fail = [&](const char* message) {
        origin.errorMessage = message;
        return origin;
    };
    const uint32_t parentImage = *control.parentImageId;
    KittyGraphicsScreenState& current = screen();
    if (current.imagesById.count(parentImage) == 0)
        return fail("ENOPARENT: parent image not found");

    KittyPlacementKey parentKey;
    if (control.parentPlacementId) {
        parentKey = {parentImage, *control.parentPlacementId, false};
        if (current.placementsByKey.count(parentKey) == 0)
            return fail("ENOPARENT: parent placement not found");
    } else {
        // Without Q: a placement with a client id beats an anonymous one, the smaller client id
        // wins, and otherwise the older placement.
        const std::optional<KittyPlacementKey> best =
            current.defaultParentPlacement(parentImage, terminal_.isCurrentBufferAlternate());
        if (!best)
            return fail("ENOPARENT: parent placement not found");
        parentKey = *best;
    }

    const bool hasSelf = control.imageId && control.placementId;
    const KittyPlacementKey self{control.imageId.value_or(0), control.placementId.value_or(0), false};
    if (hasSelf && parentKey == self)
        return fail("EINVAL: placement cannot be its own parent");

    // Walk from the parent towards its root: at most 8 placements, no loop back to this one, no
    // missing link.
    KittyPlacementKey walk = parentKey;
    int budget = maximumParentChain;
    for (;;) {
        const auto found = current.placementsByKey.find(walk);
        if (found == current.placementsByKey.end() || !found->second.parentImageId ||
            !found->second.parentPlacementId)
            break;
        if (--budget == 0)
            return fail("ETOODEEP: parent chain too deep");
        walk = {*found->second.parentImageId, *found->second.parentPlacementId,
                found->second.parentPlacementIsAnonymous};
        if (hasSelf && walk == self)
            return fail("ECYCLE: parent chain creates a cycle");
        if (current.placementsByKey.count(walk) == 0)
            return fail("ENOENT: parent chain ancestor not found");
    }

    PositionTable resolved;
    std::set<KittyPlacementKey> visiting;
    const std::optional<CellPosition> position =
        resolveKittyPlacementPosition(parentKey, {}, resolved, visiting);
    if (!position)
        return fail("ENOPARENT: parent placement not found");
    origin.row = position->first + control.offsetV;
    origin.col = position->second + control.offsetH;
    origin.isRelative = true;
    origin.parentPlacementId = parentKey.placementId;
    origin.parentPlacementIsAnonymous = parentKey.isAnonymous;
    return origin;
}

std::optional<KittyGraphicsEngine::CellPosition>
KittyGraphicsEngine::resolveKittyPlacementPosition(const KittyPlacementKey& key,
                                                   const PositionTable& positions, PositionTable& resolved,
                                                   std::set<KittyPlacementKey>& visiting)
{
    return resolvePlacementPosition(screen(), terminal_.isCurrentBufferAlternate(), key, positions, resolved,
                                    visiting);
}

std::optional<KittyGraphicsEngine::CellPosition>
KittyGraphicsEngine::resolvePlacementPosition(const KittyGraphicsScreenState& current, bool alternate,
                                              const KittyPlacementKey& key, const PositionTable& positions,
                                              PositionTable& resolved, std::set<KittyPlacementKey>& visiting)
{
    // Walked as a loop rather than by recursion: a chain is at most 8 deep when it is made, but a
    // placement replaced later under its old key can hang a whole chain below another one, and the
    // stack must not grow with what a program builds.
    std::vector<std::pair<KittyPlacementKey, const KittyPlacementRecord*>> chain;
    std::optional<CellPosition> base;
    KittyPlacementKey walk = key;
    bool broken = false;
    for (;;) {
        if (const auto memo = resolved.find(walk); memo != resolved.end()) {
            base = memo->second;
            break;
        }
        const auto found = current.placementsByKey.find(walk);
        if (found == current.placementsByKey.end() || found->second.isAlternateBuffer != alternate ||
            visiting.count(walk) != 0) {
            broken = true;
            break;
        }
        const KittyPlacementRecord& record = found->second;
        visiting.insert(walk);
        chain.emplace_back(walk, &record);
        if (!record.parentImageId || !record.parentPlacementId)
            break;
        walk = {*record.parentImageId, *record.parentPlacementId, record.parentPlacementIsAnonymous};
    }
    for (const auto& link : chain)
        visiting.erase(link.first);
    if (broken)
        return std::nullopt;

    // From the top of the chain down: a root sits where it was placed (or where `positions` puts
    // it), every other placement at its parent's position plus its offsets.
    for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
        const KittyPlacementRecord& record = *link->second;
        CellPosition position{current.rowOf(record), record.col};
        if (record.parentImageId && record.parentPlacementId && base) {
            position = {base->first + record.parentOffsetV, base->second + record.parentOffsetH};
        } else if (!record.isVirtual) {
            if (const auto given = positions.find(link->first); given != positions.end())
                position = given->second;
        }
        resolved[link->first] = position;
        base = position;
    }
    return base;
}

} // namespace kestrovan
