// The kitty graphics protocol of one terminal: command intake and dispatch, replies, the image
// store with its quota, placements, deletion, scrolling and trimming, animation and the render
// snapshot.
//
// An engine is a short-lived view over a terminal and its `KittyGraphicsState`, made on the stack
// for one call (the terminal's kitty entry points make one and forward to it). It holds no state of
// its own, so two engines over one terminal see the same images. Every member needs the terminal
// lock held by the caller and runs on the thread that parses output, except the animation timer's
// work item, which takes the lock itself.
//
// The members live in one file per concern:
//   KittyGraphicsIntake.cpp      APC G intake, chunked transfers, dispatch and the query
//   KittyGraphicsReplies.cpp     success and error replies
//   KittyGraphicsStore.cpp       image ids, storing under the quota with eviction, removal, resets
//   KittyGraphicsPlacements.cpp  display, parent chains, the storage generation
//   KittyGraphicsDeletion.cpp    the delete selectors, generic placement removal, orphans
//   KittyGraphicsScrolling.cpp   scrolling inside margins, trimming, clearing a buffer's placements
//   KittyGraphicsAnimation.cpp   frames, playback control, composition, advancing and the timer
//   KittyGraphicsRenderSnapshotBuilder.cpp  the snapshot renderers draw from
#pragma once

#include "Kestrovan/KittyGraphicsControl.h"
#include "Kestrovan/KittyGraphicsPayload.h"
#include "Kestrovan/KittyGraphicsRenderSnapshot.h"
#include "Kestrovan/KittyGraphicsState.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrovan {

class KittyGraphicsEngine
{
public:
    /// Made on the stack by a terminal member, which holds the terminal's lock for the engine's
    /// whole life; the entry points the terminal calls tell the analysis so.
    explicit KittyGraphicsEngine(Terminal& terminal) REQUIRES(terminal.terminalLock());

    // --- Intake and dispatch (KittyGraphicsIntake.cpp) -----------------------------------------

    /// One APC body after its "G": parsed, joined with earlier chunks, run.
    void handleKittyGraphics(std::span<const uint8_t> body);
    /// Runs one complete command; the payload is the still-encoded payload of all its chunks.
    void processKittyGraphics(const KittyGraphicsControl& control, std::span<const uint8_t> base64Payload)
        REQUIRES(terminal_.terminalLock());
    /// The "q" action: loads the payload as a transmission would, stores nothing.
    void handleKittyQuery(const KittyGraphicsControl& control, std::span<const uint8_t> base64Payload)
        REQUIRES(terminal_.terminalLock());

    // --- Replies (KittyGraphicsReplies.cpp) ----------------------------------------------------

    void sendKittyOk(const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                     std::optional<uint32_t> imageNumber, std::optional<uint32_t> placementId,
                     std::optional<uint32_t> frame = std::nullopt) REQUIRES(terminal_.terminalLock());
    void sendKittyError(const KittyGraphicsControl& control, std::string_view message)
        REQUIRES(terminal_.terminalLock());

    // --- Image store (KittyGraphicsStore.cpp) --------------------------------------------------

    /// The id a transmission stores under, its number, and whether it answers.
    struct ResolvedImageId
    {
        uint32_t imageId = 0;
        std::optional<uint32_t> imageNumber;
        bool reply = false;
    };
    /// An image found for the put action.
    struct DisplayedImage
    {
        KittyGraphicsPayload payload;
        uint32_t imageId = 0;
        std::optional<uint32_t> imageNumber;
        bool reply = false;
    };

    void handleKittyTransmitPayload(const KittyGraphicsControl& control, const KittyGraphicsPayload& payload,
                                    bool display) REQUIRES(terminal_.terminalLock());
    ResolvedImageId resolveKittyImageId(const KittyGraphicsControl& control)
        REQUIRES(terminal_.terminalLock());
    bool storeKittyImage(const KittyGraphicsPayload& payload, uint32_t imageId,
                         std::optional<uint32_t> imageNumber, bool transient)
        REQUIRES(terminal_.terminalLock());
    /// Makes room for `bytes` of pixels and `bookkeeping` bytes of records on the active screen,
    /// evicting other images; false when it cannot.
    bool reserveKittyStorageBytes(int64_t bytes, std::optional<uint32_t> excludingImageId,
                                  int64_t bookkeeping = 0) REQUIRES(terminal_.terminalLock());
    /// The image named by `i`, else by `I`, where it is stored; no side effects.
    std::optional<std::pair<uint32_t, KittyGraphicsImage*>>
    resolveExistingKittyImage(const KittyGraphicsControl& control) REQUIRES(terminal_.terminalLock());
    std::optional<DisplayedImage> resolveKittyImageForDisplay(const KittyGraphicsControl& control)
        REQUIRES(terminal_.terminalLock());
    /// Gives the image a new access tick; null when the active screen does not hold it.
    KittyGraphicsImage* updateKittyImageAccess(uint32_t imageId) REQUIRES(terminal_.terminalLock());
    void removeKittyImage(uint32_t imageId) REQUIRES(terminal_.terminalLock());
    void removeKittyImageNumbers(uint32_t imageId) REQUIRES(terminal_.terminalLock());
    void cleanupUnusedKittyImages(const std::set<uint32_t>& imageIds);
    void cleanupUnusedKittyImages();
    /// Drops every image and placement of both screens and the pending transfer.
    void clearAllKittyImages();
    /// Empties one screen's store; counters that keep tokens unique carry on.
    void resetKittyGraphicsStore(KittyGraphicsScreenState& screen) REQUIRES(terminal_.terminalLock());

    // --- Placements (KittyGraphicsPlacements.cpp) ----------------------------------------------

    /// Where a placement's parent keys put it.
    struct PlacementOrigin
    {
        std::optional<int64_t> col;
        std::optional<int64_t> row;
        bool isRelative = false;
        std::optional<uint32_t> parentPlacementId;
        bool parentPlacementIsAnonymous = false;
        std::optional<std::string> errorMessage;
    };
    /// (row, col).
    using CellPosition = std::pair<int64_t, int64_t>;
    using PositionTable = std::map<KittyPlacementKey, CellPosition>;

    /// Places an image; true when a placement was made (else an error reply was sent, or there
    /// was no image id).
    bool displayKittyImage(const KittyGraphicsPayload& payload, const KittyGraphicsControl& control,
                           std::optional<uint32_t> imageId, std::optional<uint32_t> imageNumber)
        REQUIRES(terminal_.terminalLock());
    PlacementOrigin resolveKittyPlacementOrigin(const KittyGraphicsControl& control)
        REQUIRES(terminal_.terminalLock());
    /// The position of a placement, following its parent chain; none for a missing, foreign-buffer
    /// or cyclic chain.
    std::optional<CellPosition>
    resolveKittyPlacementPosition(const KittyPlacementKey& key, const PositionTable& positions,
                                  PositionTable& resolved, std::set<KittyPlacementKey>& visiting)
        REQUIRES(terminal_.terminalLock());
    /// The same over a screen's state, the placements of the `alternate` buffer being the live ones.
    static std::optional<CellPosition> resolvePlacementPosition(const KittyGraphicsScreenState& current,
                                                                bool alternate, const KittyPlacementKey& key,
                                                                const PositionTable& positions,
                                                                PositionTable& resolved,
                                                                std::set<KittyPlacementKey>& visiting);
    /// Hands out the next storage generation and records it on the active screen.
    uint64_t nextKittyGeneration() REQUIRES(terminal_.terminalLock());
    void updateHasKittyPlacements() REQUIRES(terminal_.terminalLock());
    /// Points the state at the screen of the terminal's current buffer.
    void syncActiveScreen() REQUIRES(terminal_.terminalLock());

    // --- Deletion (KittyGraphicsDeletion.cpp) --------------------------------------------------

    using PlacementPredicate = std::function<bool(const KittyPlacementKey&, const KittyPlacementRecord&)>;

    void handleKittyDelete(const KittyGraphicsControl& control) REQUIRES(terminal_.terminalLock());
    /// Removes every placement the predicate selects; a pass over all placements.
    std::set<KittyPlacementKey> removePlacementRecords(const PlacementPredicate& predicate);
    /// Removes the placements under these keys, with the same effects.
    std::set<KittyPlacementKey> removePlacementKeys(const std::vector<KittyPlacementKey>& keys)
        REQUIRES(terminal_.terminalLock());
    std::set<uint32_t> imageIdsForPlacements(const PlacementPredicate& predicate)
        REQUIRES(terminal_.terminalLock());
    std::set<uint32_t> removeOrphanedKittyPlacements();
    std::set<uint32_t> imageIdsAtCell(int64_t col, int64_t row, std::optional<int64_t> zIndex)
        REQUIRES(terminal_.terminalLock());
    void deletePlacementsVisibleOnScreen() REQUIRES(terminal_.terminalLock());
    void deletePlacementsByImageId(uint32_t imageId, std::optional<uint32_t> placementId)
        REQUIRES(terminal_.terminalLock());
    void deletePlacementsAtCell(int64_t col, int64_t row, std::optional<int64_t> zIndex)
        REQUIRES(terminal_.terminalLock());
    void deletePlacementsInColumn(int64_t col) REQUIRES(terminal_.terminalLock());
    void deletePlacementsInRow(int64_t row) REQUIRES(terminal_.terminalLock());
    void deletePlacementsWithZIndex(int64_t zIndex) REQUIRES(terminal_.terminalLock());
    void deletePlacementsByImageIdRange(int64_t min, int64_t max) REQUIRES(terminal_.terminalLock());
    void removeKittyPlacement(uint32_t imageId, uint32_t placementId) REQUIRES(terminal_.terminalLock());

    // --- Scrolling and trimming (KittyGraphicsScrolling.cpp) -----------------------------------

    void scrollKittyPlacementsInMargins(int64_t top, int64_t bottom, int64_t left, int64_t right,
                                        int64_t delta);
    void trimKittyPlacementRows();
    void clearKittyImages(bool isAlternateBuffer) REQUIRES(terminal_.terminalLock());
    void clearKittyImagesOnScreen();

    // --- Animation (KittyGraphicsAnimation.cpp) ------------------------------------------------

    void handleKittyAnimationFrame(const KittyGraphicsControl& control,
                                   std::span<const uint8_t> base64Payload) REQUIRES(terminal_.terminalLock());
    void handleKittyAnimationControl(const KittyGraphicsControl& control) REQUIRES(terminal_.terminalLock());
    void handleKittyAnimationComposition(const KittyGraphicsControl& control)
        REQUIRES(terminal_.terminalLock());
    void deleteKittyAnimationFrame(const KittyGraphicsControl& control, bool freesData)
        REQUIRES(terminal_.terminalLock());
    /// Steps the due animations of the active screen; the earliest next deadline, if any.
    std::optional<uint64_t> kittyGraphicsAdvanceAnimations(uint64_t monotonicNanoseconds);
    /// Advances once and arms the timer for the next deadline.
    void scheduleKittyAnimationTimer();

    // --- Render snapshot (KittyGraphicsRenderSnapshotBuilder.cpp) ------------------------------

    /// The snapshot of the screen of the buffer in use (`alternate` or not) seen from display row
    /// `yDisp`; it only reads the state.
    static KittyGraphicsRenderSnapshot renderSnapshot(const KittyGraphicsState& state, bool alternate,
                                                      int64_t yDisp);

private:
    /// Sends one reply: APC G, the keys, ";", the message, ST.
    static void sendReply(Terminal& terminal, const std::string& keys, std::string_view message)
        REQUIRES(terminal.terminalLock());
    KittyGraphicsScreenState& screen() REQUIRES(terminal_.terminalLock()) { return state_.active(); }
    bool placementReferencesImage(uint32_t imageId) const REQUIRES(terminal_.terminalLock());
    /// The keys of the image's placements with this client placement id (0: the anonymous ones).
    std::vector<KittyPlacementKey> clientPlacementKeys(uint32_t imageId, uint32_t placementId)
        REQUIRES(terminal_.terminalLock());
    /// An image an animation action works on, changed where it is stored: frames are many, and
    /// copying them for each action would make a stream of frames cost the square of its length.
    struct AnimatedImage
    {
        uint32_t id = 0;
        KittyGraphicsImage* image = nullptr;
        /// A still image's one-frame animation, until the action gives it a second frame.
        KittyGraphicsAnimation still;

        KittyGraphicsAnimation& animation() { return image->animation ? *image->animation : still; }
    };
    /// The image an animation action names, or none.
    std::optional<AnimatedImage> findAnimatedKittyImage(const KittyGraphicsControl& control)
        REQUIRES(terminal_.terminalLock());
    /// The same, with the error reply when there is none.
    std::optional<AnimatedImage> resolveAnimatedKittyImage(const KittyGraphicsControl& control)
        REQUIRES(terminal_.terminalLock());
    /// Adds a frame (its bytes and record count in the totals); a still image becomes animated.
    void appendKittyFrame(AnimatedImage& named, KittyGraphicsAnimationFrame frame)
        REQUIRES(terminal_.terminalLock());
    /// Settles the changed image as new content: its payload holds frame 1, and one frame left
    /// makes it a still image again. True when the animation plays, so the caller arms the timer.
    bool storeKittyAnimation(AnimatedImage& changed) REQUIRES(terminal_.terminalLock());

    Terminal& terminal_;
    KittyGraphicsState& state_;
};

} // namespace kestrovan
