// The terminal's kitty graphics state: the images and placements of the primary and the alternate
// screen, the chunked transfer in progress, and the clock and timer the animations run on.
//
// Each screen keeps its own images, image numbers, placements and byte total, so a full-screen
// program on the alternate screen cannot disturb the shell's images. These are plain records: the
// rules that fill them (storage and quota, placement, deletion, scrolling, animation) are
// `KittyGraphicsEngine`'s, and everything here is touched only with the terminal lock held.
#pragma once

#include "Kestrovan/KittyGraphicsControl.h"
#include "Kestrovan/KittyGraphicsPayload.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
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
/// counted), so placements travel with their lines into the scrollback.
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

/// The images and placements of one screen.
struct KittyGraphicsScreenState
{
    std::map<uint32_t, KittyGraphicsImage> imagesById;
    /// A client's image number (`I`) to the id of the newest image sent with it.
    std::map<uint32_t, uint32_t> imageNumbers;
    /// The next id tried for an image sent with neither `i` nor `I`.
    uint32_t nextImplicitImageId = 0x8000'0000;
    uint32_t nextPlacementId = 1;
    std::map<KittyPlacementKey, KittyPlacementRecord> placementsByKey;
    /// The sum of the stored images' `byteSize`.
    int64_t totalImageBytes = 0;
    uint64_t nextImageAccessTick = 1;
    /// Changes with every change of images or placements.
    uint64_t generation = 0;
    uint64_t nextToken = 1;
    uint64_t nextInsertionOrder = 1;
};

/// Where animation time comes from and how its timer is armed; tests inject both.
struct KittyAnimationClock
{
    /// Monotonic nanoseconds.
    std::function<uint64_t()> now;
    /// Runs `work` once at a monotonic deadline, on another thread.
    std::function<void(uint64_t deadlineNanoseconds, std::function<void()> work)> schedule;

    /// The uptime clock and the shared I/O timer queue.
    static KittyAnimationClock system();
};

/// The animation timer that is armed and has not run yet. Its work item runs only while its
/// ticket holds the terminal's current timer serial; re-arming for a deadline no earlier than this
/// one moves the ticket forward instead of queueing another item.
struct KittyArmedAnimationTimer
{
    uint64_t deadlineNanoseconds = 0;
    std::shared_ptr<uint64_t> ticket;
};

/// The kitty graphics state of one terminal.
struct KittyGraphicsState
{
    KittyGraphicsScreenState primary;
    KittyGraphicsScreenState alternate;
    /// True while the alternate screen's state is the one the operations work on.
    bool activeIsAlternate = false;
    /// The next storage generation handed out; never 0.
    uint64_t nextGeneration = 1;
    /// The chunked transfer in progress, shared by both screens.
    std::optional<KittyGraphicsPending> pending;
    KittyAnimationClock animationClock = KittyAnimationClock::system();
    std::optional<KittyArmedAnimationTimer> armedAnimationTimer;

    KittyGraphicsScreenState& active() { return activeIsAlternate ? alternate : primary; }
    const KittyGraphicsScreenState& active() const { return activeIsAlternate ? alternate : primary; }
};

} // namespace kestrovan
