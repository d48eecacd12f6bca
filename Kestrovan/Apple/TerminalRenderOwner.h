// The one object per terminal view through which every thread touches the emulator for output.
//
// The owner holds the render session (the terminal with its selection and search services), the
// terminal's synchronized-output watchdog and the visibility the frame driver last published. Its
// main work is the feed transaction: output bytes from the parse thread (or text from the host)
// are parsed into the terminal under its lock, with the search's current match dropped and the
// selection cleared when output overwrote its cells; the watchdog is re-armed only after the lock
// is released. The rest is a set of small operations that read or change the terminal under its
// lock for the view.
//
// It also prepares every frame of its view (TerminalRenderOwnerFrames.cpp): a pending resize is
// applied, the session's `TerminalSnapshot` is refreshed under the terminal lock, the changed rows
// and the redraw rectangle are worked out, and the frame goes back to the main thread; on the
// render thread the attached GPU renderer then draws it. The main thread's settings reach the
// preparing thread through the owner's mailbox.
//
// Locks, outermost first: the render-state lock (held for a whole frame preparation and a whole
// GPU render; renderer changes take it too), the session lock (held only to read or swap the
// session reference), the terminal lock, then leaf locks (the mailbox, the pending update). A feed
// never takes the render-state lock, so output keeps flowing while a frame is prepared up to the
// moment preparation needs the terminal lock. A feed never holds the watchdog's lock inside the
// terminal lock: the terminal's end-of-parse step only stores the last (active, generation) pair it
// raised, and the feed hands it to the watchdog afterwards.
#pragma once

#include "Kestrovan/Apple/FrameRenderer.h"
#include "Kestrovan/Apple/SynchronizedOutputWatchdog.h"
#include "Kestrovan/Apple/TerminalRenderMailbox.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/Position.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalChangeReader.h"
#include "Kestrovan/TerminalVisibility.h"
#include "Kestrovan/ViewTerminal.h"
#include "Platform/Sync/Mutex.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

class SearchService;
class SelectionService;

/// One screen row as a host sees it.
struct TerminalVisibleRowSnapshot
{
    /// The screen row.
    int row = 0;
    std::string text;
    bool isWrapped = false;
    BidiPresentationState bidiState;
    /// The width of the cell in each column (the line's last cell stands for columns past its end).
    std::vector<int> cellWidths;

    friend bool operator==(const TerminalVisibleRowSnapshot&, const TerminalVisibleRowSnapshot&) = default;
};

/// The view's state as a host sees it, read under the terminal lock in one go.
struct TerminalViewStateSnapshot
{
    TerminalDimensions dimensions;
    Position cursor;
    int viewportRow = 0;
    bool bracketedPasteMode = false;
    BidiPresentationState currentBidiState;
    bool bidiArrowKeySwap = false;
    CursorStyle cursorStyle = CursorStyle::blinkBlock;
    Ansi256PaletteStrategy ansi256PaletteStrategy = Ansi256PaletteStrategy::base16Lab;
    std::vector<TerminalVisibleRowSnapshot> visibleRows;
};

/// The last watchdog request a terminal raised during a parse.
struct PendingSynchronizedOutputWatchdogUpdate
{
    bool active = false;
    uint64_t generation = 0;

    friend bool operator==(const PendingSynchronizedOutputWatchdogUpdate&,
                           const PendingSynchronizedOutputWatchdogUpdate&) = default;
};

/// The GPU renderer attached to a view, and whether this owner's render-loop step draws it.
struct TerminalRenderState
{
    std::shared_ptr<FrameRenderer> renderer;
    bool needsExternalDraw = false;
};

class TerminalRenderOwner
{
public:
    using PendingUpdateBox = Locked<std::optional<PendingSynchronizedOutputWatchdogUpdate>>;

    /// An owner with no session, a watchdog on the shared I/O timer queue and `potentiallyVisible`.
    TerminalRenderOwner();
    /// The same with the watchdog's timer given (tests drive it by hand).
    explicit TerminalRenderOwner(std::shared_ptr<SynchronizedOutputWatchdog::TimerSource> watchdogTimer);
    /// Invalidates the watchdog.
    ~TerminalRenderOwner();

    TerminalRenderOwner(const TerminalRenderOwner&) = delete;
    TerminalRenderOwner& operator=(const TerminalRenderOwner&) = delete;

    // --- Feed transactions (parse thread or host) ------------------------------------------------

    /// Parses the bytes into the attached terminal; the terminal's synchronized-output state after
    /// the parse, or absent when no terminal is attached (nothing is parsed then).
    std::optional<bool> feed(std::span<const uint8_t> borrowedBytes);
    /// Parses the UTF-8 bytes of `text`.
    std::optional<bool> feed(std::string_view text);

    // --- Session (main thread) -------------------------------------------------------------------

    /// Makes a new session of the three objects; the pending watchdog update survives only when
    /// the terminal is the same object as before.
    void attach(std::shared_ptr<Terminal> terminal, std::shared_ptr<SelectionService> selection,
                std::shared_ptr<SearchService> search);
    /// Scans bytes the user sends for a submitted command line. The caller must not hold the
    /// terminal lock (the program stops).
    void registerUserInput(std::span<const uint8_t> bytes);
    /// Stores the visibility and gives it to the terminal, which reports a change when asked to.
    void setTerminalVisibility(TerminalVisibility visibility);

    // --- Locked accessors: each takes the terminal lock itself -----------------------------------

    TerminalDimensions dimensions();
    /// The display text of screen rows `rows` (clamped to 0 ... rows; rows past the buffer skipped).
    std::vector<std::string> visibleRowsText(int firstRow, int endRow);
    TerminalViewStateSnapshot stateSnapshot();
    void updateColorScheme(Terminal::TerminalColorScheme scheme, bool notify);
    void notifyColorScheme();
    Ansi256PaletteStrategy ansi256PaletteStrategy();
    void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy);
    /// Stores max(`rows`, 1) and redraws the whole screen.
    void setMaximumBidiParagraphRows(int rows);

    /// The callback a view installs as its `ViewTerminal`'s watchdog handler: it keeps the last
    /// (active, generation) pair for the feed that is running. It holds only the pending-update
    /// box, so it may outlive the owner.
    ViewTerminal::SynchronizedOutputWatchdogHandler synchronizedOutputWatchdogHandler() const;

    SynchronizedOutputWatchdog& synchronizedOutputWatchdog() { return watchdog_; }
    TerminalVisibility publishedVisibility() const;
    /// The pending watchdog update, for tests.
    std::optional<PendingSynchronizedOutputWatchdogUpdate> pendingSynchronizedOutputWatchdogUpdate() const;

    // --- Frames (TerminalRenderOwnerFrames.cpp) --------------------------------------------------

    /// The hand-over of view settings to the thread that prepares frames.
    TerminalRenderMailbox& mailbox() { return mailbox_; }
    /// The render-loop step: prepares a frame from the mailbox and, with an attached renderer this
    /// owner draws, draws it; the frame for the main thread's part (its effects and the cursor
    /// it drew), or absent when there was no frame.
    std::optional<PreparedFrame> renderPublishedFrame() EXCLUDES(renderStateMutex_);
    /// Prepares one frame; absent without a session, and for a frame inside a synchronized-output
    /// block that applied no resize.
    std::optional<PreparedFrame> prepareFrame(const FramePreparationRequest& request)
        EXCLUDES(renderStateMutex_);
    /// Refreshes the snapshot for an immediate GPU draw, without consuming the changed rows or a
    /// pending size; whether the renderer got a frame to draw.
    bool refreshMetalSnapshot(const FrameViewState& viewState) EXCLUDES(renderStateMutex_);
    /// Drops the snapshot waiting in the renderer.
    void discardPreparedMetalSnapshot() EXCLUDES(renderStateMutex_);
    bool metalHasPreparedSnapshot() EXCLUDES(renderStateMutex_);
    int completedMetalRenders() EXCLUDES(renderStateMutex_);
    /// True while a GPU renderer is attached.
    bool hasMetalRenderer() EXCLUDES(renderStateMutex_);
    /// Draws the attached renderer's prepared snapshot now, under the render-state lock; nothing
    /// without a renderer.
    void drawAttachedRenderer() EXCLUDES(renderStateMutex_);
    /// Attaches a renderer after its predecessor's frame in flight completed (up to 5 seconds;
    /// false and no change on time-out). The caller must not hold the terminal lock (the program
    /// stops), as preparation takes the terminal lock inside the render-state lock.
    bool replaceMetalRenderer(std::shared_ptr<FrameRenderer> renderer, bool needsExternalDraw)
        EXCLUDES(renderStateMutex_);
    bool removeMetalRenderer() EXCLUDES(renderStateMutex_);
    /// The session's snapshot, for tests and the CPU draw path (which reads it under the
    /// render-state lock); null without a session.
    std::shared_ptr<TerminalSnapshot> snapshot() const;
    /// Runs `body` with the render-state lock held, as the CPU draw path does while it reads the
    /// snapshot.
    template <typename F> decltype(auto) withRenderState(F&& body) EXCLUDES(renderStateMutex_)
    {
        platform::MutexLock guard(renderStateMutex_);
        return body();
    }

    /// How long a renderer change waits for the frame in flight: 5 seconds, shorter in tests.
    void setRendererWait(std::chrono::duration<double> wait) { rendererWait_ = wait; }

private:
    /// The session objects; strong references that never change after the session is made.
    struct Session
    {
        std::shared_ptr<Terminal> terminal;
        std::shared_ptr<SelectionService> selection;
        std::shared_ptr<SearchService> search;
        /// The frame snapshot of this session; touched only under the terminal lock, or under the
        /// render-state lock after preparation released the terminal lock.
        std::shared_ptr<TerminalSnapshot> snapshot;
        /// The rows changed since this session's last frame; touched only under the terminal lock.
        std::shared_ptr<TerminalChangeReader> changes;
    };

    std::shared_ptr<const Session> currentSession() const;
    std::optional<bool> feedTransaction(std::span<const uint8_t> bytes);
    /// Gives the published visibility to the session's terminal.
    void publishVisibility(const Session& session);
    /// The renderer change shared by replace and remove.
    bool changeRenderer(std::shared_ptr<FrameRenderer> renderer, bool needsExternalDraw)
        EXCLUDES(renderStateMutex_);

    SynchronizedOutputWatchdog watchdog_;
    Locked<std::shared_ptr<const Session>> session_;
    Locked<TerminalVisibility> publishedVisibility_{TerminalVisibility::potentiallyVisible};
    std::shared_ptr<PendingUpdateBox> pendingUpdate_ = std::make_shared<PendingUpdateBox>();
    TerminalRenderMailbox mailbox_;
    // Outermost of the owner's locks: frame preparation and GPU renders hold it throughout.
    platform::Mutex renderStateMutex_;
    TerminalRenderState renderState_ GUARDED_BY(renderStateMutex_);
    std::chrono::duration<double> rendererWait_{5.0};
};

} // namespace kestrovan
