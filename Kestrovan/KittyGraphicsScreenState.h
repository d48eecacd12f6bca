// The images and placements of one screen, with the indexes that keep every lookup and eviction by
// id, number and placement logarithmic, and the byte totals the quota is checked against.
//
// The tables (`imagesById`, `imageNumbers`, `placementsByKey`) may be read freely; they change only
// through the members here, which keep the indexes beside them. Beyond pixels the quota charges a
// fixed cost for each image, extra animation frame and placement (`KittyGraphicsBookkeeping`), so
// what a program can make the store hold stays within the quota plus a small allowance, however
// small its images are. Rows of placements that move with content are kept lazily: dropping the
// oldest line of a full scrollback costs a counter and the removal of what fell off, not a pass
// over every placement.
#pragma once

#include "Kestrovan/KittyGraphicsIdRuns.h"
#include "Kestrovan/KittyGraphicsPayload.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace kestrovan {

/// One full frame of an animated image.
struct KittyGraphicsAnimationFrame
{
    /// width x height x 4 bytes of RGBA.
    KittyPixelBytes rgba;
    /// How long the frame shows; 0 makes playback pass over it.
    uint32_t gapMilliseconds = 0;
};

/// The frames of an animated image, the frame on show and the playback state.
struct KittyGraphicsAnimation
{
    enum class PlaybackState : uint8_t
    {
        stopped,
        /// Plays to the last frame and waits there.
        runningWait,
        /// Loops, endlessly or until `maxLoops` passes are done.
        running,
    };

    std::vector<KittyGraphicsAnimationFrame> frames;
    /// How many frames have a gap other than 0 (playback passes over the others).
    size_t framesWithGap = 0;
    int64_t currentIndex = 0;
    PlaybackState playbackState = PlaybackState::stopped;
    /// 0: endless.
    uint32_t maxLoops = 0;
    uint32_t currentLoop = 0;
    /// When the frame on show began to show (monotonic nanoseconds); absent: from the next advance.
    std::optional<uint64_t> frameShownAtNanoseconds;
};

/// A stored image.
struct KittyGraphicsImage
{
    KittyGraphicsPayload payload;
    /// What the image costs against the quota: its payload bytes plus every further frame.
    int64_t byteSize = 0;
    uint64_t lastAccessTick = 0;
    std::optional<uint32_t> imageNumber;
    /// Changes whenever the pixels on show change; renderers key textures on it.
    uint64_t contentGeneration = 0;
    /// Evicted before every other image (bit 0 of the `N` key).
    bool transient = false;
    std::optional<KittyGraphicsAnimation> animation;
};

/// The key of a placement: the image, the placement id and whether the client gave that id.
struct KittyPlacementKey
{
    uint32_t imageId = 0;
    uint32_t placementId = 0;
    /// True when the id was allocated because the client gave none; such a key never equals a
    /// client key with the same numbers.
    bool isAnonymous = false;

    friend constexpr bool operator==(const KittyPlacementKey&, const KittyPlacementKey&) = default;
    friend constexpr auto operator<=>(const KittyPlacementKey&, const KittyPlacementKey&) = default;
};

/// One placement of an image on the cell grid. `row` is an absolute line of the buffer (scrollback
/// counted), so placements travel with their lines into the scrollback. Dropping the oldest line
/// of a full scrollback moves every such row up by one; the store applies that lazily (see
/// `KittyGraphicsScreenState::rowOf`), and reading the state through the terminal settles it.
struct KittyPlacementRecord
{
    /// Identity for renderer caches; a replaced placement gets a new one.
    uint64_t token = 0;
    uint32_t imageId = 0;
    /// The `p` key as sent, 0 when absent.
    uint32_t clientPlacementId = 0;
    /// `p`, or the id allocated for an anonymous placement.
    uint32_t placementId = 0;
    std::optional<uint32_t> parentImageId;
    std::optional<uint32_t> parentPlacementId;
    bool parentPlacementIsAnonymous = false;
    int64_t parentOffsetH = 0;
    int64_t parentOffsetV = 0;
    int64_t pixelOffsetX = 0;
    int64_t pixelOffsetY = 0;
    int64_t col = 0;
    int64_t row = 0;
    int64_t cols = 1;
    int64_t rows = 1;
    int64_t zIndex = 0;
    /// Shown only through Unicode placeholder cells.
    bool isVirtual = false;
    bool isAlternateBuffer = false;
    int64_t sourceX = 0;
    int64_t sourceY = 0;
    int64_t sourceWidth = 0;
    int64_t sourceHeight = 0;
    /// The tie-break of the drawing order among equal z-indexes.
    uint64_t insertionOrder = 0;

    /// Whether it follows a parent placement.
    bool isRelative() const { return parentImageId.has_value(); }
    /// Whether it moves with the lines it sits on: neither drawn where placeholder cells are nor
    /// where a parent is.
    bool movesWithContent() const { return !isVirtual && !isRelative(); }
    /// The last column and absolute row it covers.
    int64_t lastCol() const { return col + std::max<int64_t>(cols, 1) - 1; }
    int64_t lastRow() const { return row + std::max<int64_t>(rows, 1) - 1; }
    /// Whether it covers a cell.
    bool covers(int64_t column, int64_t line) const
    {
        return column >= col && column <= lastCol() && line >= row && line <= lastRow();
    }

    friend bool operator==(const KittyPlacementRecord&, const KittyPlacementRecord&) = default;
};

/// What the quota charges for bookkeeping, beyond pixel bytes. Each cost is at least what the
/// record and its index entries take on the heap; a screen's first `allowanceBytes` of bookkeeping
/// are free, so a handful of tiny images under a tiny quota behave as if only pixels counted.
struct KittyGraphicsBookkeeping
{
    static constexpr int64_t imageBytes = 512;
    static constexpr int64_t placementBytes = 512;
    static constexpr int64_t frameBytes = 128;
    static constexpr int64_t allowanceBytes = 1 << 20;
};

/// The images and placements of one screen.
struct KittyGraphicsScreenState
{
    std::map<uint32_t, KittyGraphicsImage> imagesById;
    /// A client's image number (`I`) to the id of the newest image sent with it. An entry always
    /// names a stored image whose `imageNumber` is that number.
    std::map<uint32_t, uint32_t> imageNumbers;
    /// The next id tried for an image sent with neither `i` nor `I`.
    uint32_t nextImplicitImageId = 0x8000'0000;
    uint32_t nextPlacementId = 1;
    std::map<KittyPlacementKey, KittyPlacementRecord> placementsByKey;
    /// The sum of the stored images' `byteSize`.
    int64_t totalImageBytes = 0;
    /// The bookkeeping costs of the stored images, their extra frames and the placements.
    int64_t bookkeepingBytes = 0;
    uint64_t nextImageAccessTick = 1;
    /// Changes with every change of images or placements.
    uint64_t generation = 0;
    uint64_t nextToken = 1;
    uint64_t nextInsertionOrder = 1;

    // --- Quota ---------------------------------------------------------------------------------

    /// What the quota counts, with `pixels` and `bookkeeping` more: every pixel byte, and the
    /// bookkeeping past the allowance.
    int64_t chargedBytes(int64_t pixels = 0, int64_t bookkeeping = 0) const;
    /// The image eviction takes next: transient before kept, unshown before shown, least recently
    /// stored or displayed first; never `excluding`.
    std::optional<uint32_t> evictionCandidate(std::optional<uint32_t> excluding) const;

    // --- Images --------------------------------------------------------------------------------

    /// Stores an image under `id`, in place of the one there (whose bytes and costs leave the
    /// totals). Its placements and numbers are the caller's.
    void putImage(uint32_t id, KittyGraphicsImage image);
    /// Takes an image out of the store; absent when there is none.
    std::optional<KittyGraphicsImage> takeImage(uint32_t id);
    /// The stored image with a new access tick; null when there is none.
    KittyGraphicsImage* touchImage(uint32_t id);
    /// Records that an image's animation (its frames and whether it has one) changed in place;
    /// `frameBytesAdded` pixel bytes and `framesAdded` frames (either may be negative) go into the
    /// totals.
    void animationChanged(uint32_t id, int64_t frameBytesAdded, int64_t framesAdded);
    /// The first id at or after `from` (skipping 0, wrapping) that no image uses.
    uint32_t firstFreeImageId(uint32_t from) const { return usedImageIds_.firstFreeFrom(from); }
    /// The ids of stored images that carry an animation.
    const std::set<uint32_t>& animatedImageIds() const { return animatedImageIds_; }
    /// The stored images no placement shows, in eviction order.
    std::vector<uint32_t> unshownImageIds() const;

    // --- Placements ----------------------------------------------------------------------------

    /// Whether any placement shows the image.
    bool hasPlacements(uint32_t imageId) const;
    /// The keys of the image's placements.
    std::vector<KittyPlacementKey> placementKeysOf(uint32_t imageId) const;
    /// The keys of the placements of images `first` to `last`.
    std::vector<KittyPlacementKey> placementKeysOfImages(uint32_t first, uint32_t last) const;
    /// Stores a placement under `key`, in place of the one there; `record.row` is the exact row.
    void putPlacement(const KittyPlacementKey& key, KittyPlacementRecord record);
    /// Removes a placement; false when there is none under the key.
    bool erasePlacement(const KittyPlacementKey& key);
    /// The placement of image `parentImageId` a relative placement without `Q` attaches to, among
    /// those of the given buffer: the smallest client placement id, else the oldest anonymous one.
    std::optional<KittyPlacementKey> defaultParentPlacement(uint32_t parentImageId,
                                                            bool alternateBuffer) const;
    /// Placements whose parent is gone: those whose parent key is missing, and those that name
    /// only a parent image that has no placement with a client id left.
    std::set<KittyPlacementKey> orphanedPlacements() const;

    // --- Rows ----------------------------------------------------------------------------------

    /// The exact row of a placement of this screen.
    int64_t rowOf(const KittyPlacementRecord& record) const
    {
        return record.movesWithContent() ? record.row - pendingRowTrims_ : record.row;
    }
    /// Changes the rows and source of a placement that moves with content; `row` is exact.
    void movePlacement(const KittyPlacementKey& key, int64_t row, int64_t rows, int64_t sourceY,
                       int64_t sourceHeight);
    /// The oldest line of the buffer is gone: every row that moves with content is one less. Gives
    /// the keys of those whose last row was that line (the caller removes them), and whether any
    /// row moved at all.
    std::pair<std::vector<KittyPlacementKey>, bool> dropOldestLine();
    /// Writes the rows that dropped lines left behind into the records, so `row` is exact.
    void settleRows();

    /// Empties images, numbers, placements and totals; counters that keep tokens unique carry on.
    void clearStore();

private:
    /// Eviction order: kept (not transient) after transient, shown after unshown, then by access
    /// tick; the id completes the key.
    using EvictionKey = std::tuple<bool, bool, uint64_t, uint32_t>;
    static EvictionKey evictionKey(uint32_t id, const KittyGraphicsImage& image, bool shown)
    {
        return {!image.transient, shown, image.lastAccessTick, id};
    }
    static int64_t bookkeepingOf(const KittyGraphicsImage& image);
    /// Moves an image between the shown and unshown parts of the eviction order.
    void setShown(uint32_t imageId, bool shown);
    /// The line a placement's last row sits on counted from this screen's first line, unchanged
    /// by dropped lines: the key of the trimming index.
    int64_t anchorOfLastRow(const KittyPlacementRecord& record) const
    {
        return record.row + std::max<int64_t>(record.rows, 1) - 1 + settledRowTrims_;
    }
    void indexPlacement(const KittyPlacementKey& key, const KittyPlacementRecord& record);
    void unindexPlacement(const KittyPlacementKey& key, const KittyPlacementRecord& record);
    static std::optional<KittyPlacementKey> parentKeyOf(const KittyPlacementRecord& record);

    KittyImageIdRuns usedImageIds_;
    std::set<EvictionKey> evictionOrder_;
    std::set<uint32_t> animatedImageIds_;
    /// (image id, placement id) of every placement with a client id.
    std::set<std::pair<uint32_t, uint32_t>> clientPlacements_;
    /// (image id, insertion order, placement id) of every anonymous placement.
    std::set<std::tuple<uint32_t, uint64_t, uint32_t>> anonymousPlacements_;
    /// The children of each parent key, for children that name their parent placement.
    std::map<KittyPlacementKey, std::set<KittyPlacementKey>> childrenByParent_;
    /// Parent keys that have children but no placement any more.
    std::set<KittyPlacementKey> missingParents_;
    /// Children that name only their parent image.
    std::set<KittyPlacementKey> imageLevelChildren_;
    /// (anchor of the last row, key) of every placement that moves with content.
    std::set<std::pair<int64_t, KittyPlacementKey>> movingByLastRow_;
    /// Lines dropped from the buffer that the stored rows of moving placements do not show yet.
    int64_t pendingRowTrims_ = 0;
    /// Lines dropped and written into the stored rows.
    int64_t settledRowTrims_ = 0;
};

} // namespace kestrovan
