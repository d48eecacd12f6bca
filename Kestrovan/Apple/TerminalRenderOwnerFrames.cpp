// Frame preparation: the render owner's frame operations and the renderer slot.
//
// Preparing holds the render-state lock throughout, takes the terminal lock only for the resize,
// the snapshot refresh and the changed-row bookkeeping, and finishes the deferred bidi typesetting
// and the hand-over to the renderer after releasing it.
#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/Profiling.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalLock.h"

#include <algorithm>
#include <limits>

namespace kestrovan {

namespace {

/// 0...1: where the viewport stands in the scrollback; 0 on the alternate screen.
double scrollPosition(const Terminal& terminal)
{
    const Buffer& buffer = terminal.buffer();
    if (terminal.isCurrentBufferAlternate() || buffer.yDisp() < 1)
        return 0;
    const int scrollable = buffer.lines().count() - terminal.rows();
    if (buffer.yDisp() >= scrollable)
        return 1;
    return double(buffer.yDisp()) / double(scrollable);
}

ScrollerState scrollerState(const Terminal& terminal)
{
    if (terminal.isCurrentBufferAlternate())
        return ScrollerState{false, 0, 0};
    const Buffer& buffer = terminal.buffer();
    const int lines = buffer.lines().count();
    ScrollerState state;
    state.isEnabled = buffer.hasScrollback() && terminal.rows() < lines;
    state.knobProportion = lines == 0 ? 1.0 : std::max(double(terminal.rows()) / double(lines), 0.01);
    state.doubleValue = scrollPosition(terminal);
    return state;
}

/// The rows of the snapshot whose visible cells carry the blink style, as absolute rows.
std::vector<int64_t> blinkRows(const TerminalSnapshot& snapshot)
{
    std::vector<int64_t> found;
    for (size_t index = 0; index < snapshot.rows.size(); ++index) {
        const BufferLine& line = *snapshot.rows[index]->line;
        const CellArena& arena = *line.arena();
        const int end = std::min(line.count(), snapshot.cols);
        for (int column = 0; column < end; ++column) {
            if (arena.attribute(line.packed(column)).style.contains(CharacterStyle::blink)) {
                found.push_back(snapshot.firstRow + int64_t(index));
                break;
            }
        }
    }
    return found;
}

} // namespace

std::shared_ptr<TerminalSnapshot> TerminalRenderOwner::snapshot() const
{
    const std::shared_ptr<const Session> session = currentSession();
    return session ? session->snapshot : nullptr;
}

std::optional<PreparedFrame> TerminalRenderOwner::prepareFrame(const FramePreparationRequest& request)
{
    platform::MutexLock stateGuard(renderStateMutex_);
    const std::shared_ptr<FrameRenderer> renderer = renderState_.renderer;
    const std::shared_ptr<const Session> session = currentSession();
    if (!session)
        return std::nullopt;
    Terminal& terminal = *session->terminal;
    TerminalSnapshot& snapshot = *session->snapshot;
    const FrameViewState& viewState = request.viewState;

    std::optional<PreparedFrame> frame;
    {
        TerminalLockGuard guard(terminal.terminalLock());
        std::optional<FrameTerminalSize> resizedTo;
        const bool sameSize = request.pendingSize && request.pendingSize->cols == terminal.cols() &&
                              request.pendingSize->rows == terminal.rows();
        if (!request.pendingSize || sameSize) {
            terminal.updatePixelGeometry(viewState.cellPixelWidth, viewState.cellPixelHeight);
        } else {
            const ProfilingInterval interval = ProfilingInterval::begin(ProfilingEvent::frameResize);
            // A resize reflows the text under the selection: it is dropped.
            session->selection->setActive(false);
            std::optional<CellPixelSize> committed;
            if (viewState.cellPixelWidth > 0 && viewState.cellPixelHeight > 0)
                committed = CellPixelSize{viewState.cellPixelWidth, viewState.cellPixelHeight};
            terminal.resize(request.pendingSize->cols, request.pendingSize->rows, committed);
            session->search->invalidate();
            interval.end();
            resizedTo = request.pendingSize;
        }

        MainFrameEffects effects;
        effects.scrollPosition = scrollPosition(terminal);
        if (request.updateScroller)
            effects.scroller = scrollerState(terminal);
        effects.selection = SnapshotSelectionState(session->selection.get());
        effects.resizedTo = resizedTo;

        const TerminalSnapshot::RefreshResult result =
            snapshot.refresh(terminal, viewState, effects.selection, /*deferBidiTypesetting=*/true);
        if (result == TerminalSnapshot::RefreshResult::skippedForSynchronizedOutput) {
            // Nothing is drawn inside a synchronized-output block, but a resize must still reach
            // the main thread (the view's size and the host's size report depend on it).
            if (resizedTo) {
                frame = PreparedFrame{std::move(effects), std::nullopt, renderer != nullptr, snapshot.cursor,
                                      snapshot.rowCount};
            }
        } else {
            const Buffer& buffer = terminal.buffer();
            const std::optional<std::pair<int, int>> updated = session->changes->take(terminal).screen;
            if (!updated) {
                effects.notifyAccessibility = false;
                if (snapshot.appearanceChanged) {
                    snapshot.cgRegion = viewState.viewBounds;
                    snapshot.rangeChanged.reset();
                } else {
                    snapshot.cgRegion.reset();
                    snapshot.rangeChanged.reset();
                    if (viewState.notifyUpdateChanges) {
                        const int row = buffer.yDisp() + buffer.y();
                        snapshot.rangeChanged = TerminalSnapshot::ChangedRange{row, row};
                    }
                }
            } else {
                const auto [start, end] = *updated;
                effects.notifyAccessibility = request.notifyAccessibility;
                // The reported range is never widened; only the redrawn rows are.
                std::optional<TerminalSnapshot::ChangedRange> reported;
                if (viewState.notifyUpdateChanges)
                    reported = TerminalSnapshot::ChangedRange{start, end};
                const int rows = terminal.rows();
                const int yDisp = buffer.yDisp();
                int first = start;
                int last = end;
                const int lineCount = buffer.lines().count();
                if (lineCount > 0 && 0 <= start && start <= end && end < rows) {
                    // A change inside a bidi paragraph can move every row of it.
                    const int64_t lastLine = lineCount - 1;
                    const int64_t lo =
                        std::max<int64_t>(std::min<int64_t>(int64_t(yDisp) + start, lastLine), 0);
                    const int64_t hi = std::max(std::min<int64_t>(int64_t(yDisp) + end, lastLine), lo);
                    const TerminalBidi::RowRange widened = TerminalBidi::renderingDependencyRange(
                        TerminalBidi::RowRange{lo, hi}, buffer, terminal.options().maximumBidiParagraphRows);
                    first = int(std::max<int64_t>(widened.first - yDisp, 0));
                    last = int(std::min<int64_t>(widened.last - yDisp, rows - 1));
                }
                platform::Rect region = viewState.viewBounds;
                if (buffer.yDisp() == buffer.yBase()) {
                    // Rows are laid out from the top of a y-up view: row r spans the band below
                    // viewFrameHeight - r * h. The last row reaches the bottom edge; any other
                    // change also redraws the row below it, where a glyph may overhang.
                    const double h = viewState.cellDimension.height;
                    const double width = viewState.viewBounds.width;
                    const double y0 = viewState.viewFrameHeight - double(last + 1) * h;
                    const double height = y0 + double(last - first + 1) * h;
                    if (last == rows - 1) {
                        region = platform::Rect{0, 0, width, height};
                    } else {
                        const double y = std::max(y0 - h, 0.0);
                        region = platform::Rect{0, y, width, height - y};
                    }
                }
                snapshot.cgRegion = region;
                snapshot.rangeChanged = reported;
            }
            if (snapshot.rangeChanged)
                effects.rangeChanged =
                    FrameChangedRange{snapshot.rangeChanged->start, snapshot.rangeChanged->end};
            frame = PreparedFrame{std::move(effects), snapshot.cgRegion, renderer != nullptr, snapshot.cursor,
                                  snapshot.rowCount};
        }
    }
    if (!frame)
        return std::nullopt;

    // Typesetting deferred by the refresh runs without the terminal lock; the cursor's visual
    // column may move with it.
    snapshot.completePendingBidi();
    frame->cursor = snapshot.cursor;
    std::vector<int64_t> blinking = blinkRows(snapshot);
    mailbox_.state.withLock([&](TerminalRenderMailbox::State& box) { box.blinkRows = blinking; });
    frame->mainEffects.blinkRows = std::move(blinking);
    if (snapshot.renderContext && renderer)
        renderer->setPreparedSnapshot(PreparedSnapshot{session->snapshot, *snapshot.renderContext});
    return frame;
}

std::optional<PreparedFrame> TerminalRenderOwner::renderPublishedFrame()
{
    const std::optional<FramePreparationRequest> request = mailbox_.takeRequest();
    if (!request)
        return std::nullopt;
    std::optional<PreparedFrame> frame = prepareFrame(*request);
    if (!frame)
        return std::nullopt;
    if (frame->needsMetalDisplay) {
        platform::MutexLock stateGuard(renderStateMutex_);
        // The renderer may have been replaced since the frame was prepared; draw only the one
        // this owner is meant to draw.
        if (renderState_.renderer && renderState_.needsExternalDraw)
            renderState_.renderer->render();
    }
    return frame;
}

bool TerminalRenderOwner::refreshMetalSnapshot(const FrameViewState& viewState)
{
    platform::MutexLock stateGuard(renderStateMutex_);
    const std::shared_ptr<const Session> session = currentSession();
    const std::shared_ptr<FrameRenderer> renderer = renderState_.renderer;
    if (!session || !renderer)
        return false;
    TerminalSnapshot& snapshot = *session->snapshot;
    {
        TerminalLockGuard guard(session->terminal->terminalLock());
        snapshot.refresh(*session->terminal, viewState, SnapshotSelectionState(session->selection.get()),
                         /*deferBidiTypesetting=*/false);
    }
    if (!snapshot.renderContext)
        return false;
    renderer->setPreparedSnapshot(PreparedSnapshot{session->snapshot, *snapshot.renderContext});
    return true;
}

void TerminalRenderOwner::discardPreparedMetalSnapshot()
{
    platform::MutexLock stateGuard(renderStateMutex_);
    if (renderState_.renderer)
        renderState_.renderer->setPreparedSnapshot(std::nullopt);
}

bool TerminalRenderOwner::metalHasPreparedSnapshot()
{
    platform::MutexLock stateGuard(renderStateMutex_);
    return renderState_.renderer && renderState_.renderer->hasPreparedSnapshot();
}

bool TerminalRenderOwner::hasMetalRenderer()
{
    platform::MutexLock stateGuard(renderStateMutex_);
    return renderState_.renderer != nullptr;
}

void TerminalRenderOwner::drawAttachedRenderer()
{
    platform::MutexLock stateGuard(renderStateMutex_);
    if (renderState_.renderer)
        renderState_.renderer->render();
}

int TerminalRenderOwner::completedMetalRenders()
{
    platform::MutexLock stateGuard(renderStateMutex_);
    return renderState_.renderer ? renderState_.renderer->completedRenderCount() : 0;
}

bool TerminalRenderOwner::replaceMetalRenderer(std::shared_ptr<FrameRenderer> renderer,
                                               bool needsExternalDraw)
{
    return changeRenderer(std::move(renderer), needsExternalDraw);
}

bool TerminalRenderOwner::removeMetalRenderer()
{
    return changeRenderer(nullptr, false);
}

bool TerminalRenderOwner::changeRenderer(std::shared_ptr<FrameRenderer> renderer, bool needsExternalDraw)
{
    // Preparation takes the terminal lock inside the render-state lock; taking them the other way
    // round here would deadlock against it.
    if (const std::shared_ptr<const Session> session = currentSession();
        session && session->terminal->terminalLock().isHeldByCurrentThread())
        fatal("TerminalRenderOwner: a renderer was changed with the terminal lock held");
    platform::MutexLock stateGuard(renderStateMutex_);
    if (renderState_.renderer) {
        // The old renderer's frame in flight must complete first; its slot is given back at once.
        if (!renderState_.renderer->acquireFrameSlot(rendererWait_))
            return false;
        renderState_.renderer->releaseFrameSlot();
    }
    renderState_.renderer = std::move(renderer);
    renderState_.needsExternalDraw = renderState_.renderer ? needsExternalDraw : false;
    return true;
}

} // namespace kestrovan
