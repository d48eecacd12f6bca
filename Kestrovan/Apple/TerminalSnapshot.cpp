#include "Kestrovan/Apple/TerminalSnapshot.h"

#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Profiling.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalLinks.h"
#include "Kestrovan/TerminalLock.h"

#include <algorithm>

namespace kestrovan {

TerminalSnapshot::RefreshResult TerminalSnapshot::refresh(Terminal& terminal, const FrameViewState& viewState,
                                                          const SnapshotSelectionState& selection,
                                                          bool deferBidiTypesetting)
{
    terminal.terminalLock().preconditionLocked();
    // Inside a synchronized-output block the program is still drawing: the previous frame stays.
    if (terminal.synchronizedOutputActive()) {
        ++counters_.skippedForSynchronizedOutput;
        return RefreshResult::skippedForSynchronizedOutput;
    }
    const ProfilingInterval interval = ProfilingInterval::begin(ProfilingEvent::frameRefresh);
    ++counters_.refreshes;
    pendingBidi_.clear();

    const Buffer& buffer = terminal.buffer();
    synchronizeArena(*buffer.cellArena());

    SnapshotStyle newStyle;
    newStyle.selectionActive = selection.active;
    newStyle.selectionStart = selection.start;
    newStyle.selectionEnd = selection.end;
    newStyle.selectionIsBlock = selection.isBlock;
    newStyle.linkHighlightRange = settleLinkHighlight(terminal, viewState);
    newStyle.linkHighlightMode = viewState.linkHighlightMode;
    newStyle.commandActive = viewState.commandActive;
    newStyle.textBlinkVisible = viewState.textBlinkVisible;
    newStyle.enableOsc8Hyperlinks = terminal.options().enableOsc8Hyperlinks;

    const std::vector<Color>& palette = terminal.ansiColors();
    appearanceChanged =
        !previousStyle_ || !newStyle.hasSameValue(*previousStyle_) || palette != previousAnsiColors_;
    const platform::FontRef& normalFont = viewState.fonts.normal();
    const std::optional<uint64_t> fontIdentity =
        normalFont ? std::optional<uint64_t>(normalFont->id()) : std::nullopt;
    const bool bidiSettingsChanged =
        !(previousBidiHostPolicy_ && *previousBidiHostPolicy_ == viewState.bidiHostPolicy &&
          previousBidiFont_ && previousBidiFont_ == fontIdentity);

    firstRow = buffer.yDisp();
    yDisp = buffer.yDisp();
    yBase = buffer.yBase();
    x = buffer.x();
    y = buffer.y();
    cols = buffer.cols();
    rowCount = buffer.rows();
    linesCount = buffer.lines().count();
    linesTop = buffer.linesTop();
    totalLinesTrimmed = buffer.linesTop();
    hasAnyImages = buffer.hasAnyImages();
    isAltBuffer = terminal.isCurrentBufferAlternate();
    cursorHidden = terminal.mode(TerminalMode::cursorHidden);
    cursorStyle = terminal.options().cursorStyle;
    maximumBidiParagraphRows = std::max(terminal.options().maximumBidiParagraphRows, 1);
    style = std::move(newStyle);
    // Assigning into the kept vector reuses its storage: no allocation while the palette size holds.
    ansiColors.assign(palette.begin(), palette.end());

    sizeRows(buffer);
    for (size_t index = 0; index < rows.size(); ++index)
        refreshRow(index, terminal, buffer, viewState, bidiSettingsChanged);

    kitty.renderSnapshot = terminal.kittyGraphicsRenderSnapshot();
    renderContext.emplace(viewState, style, nativeColors(viewState.appearance), cols);
    buildCursor(terminal, buffer, viewState);
    if (!deferBidiTypesetting)
        completePendingBidi();

    previousStyle_ = style;
    previousAnsiColors_.assign(palette.begin(), palette.end());
    previousBidiHostPolicy_ = viewState.bidiHostPolicy;
    previousBidiFont_ = fontIdentity;
    interval.end();
    return RefreshResult::refreshed;
}

void TerminalSnapshot::synchronizeArena(const CellArena& source)
{
    // Copied cells keep the live arena's ids; the snapshot's copy only ever appends what the live
    // arena gained. A switch to the other screen (another arena) needs a new copy.
    if (cellArenaSnapshot_ && cellArenaSnapshot_->synchronizeSnapshotPrefix(source))
        return;
    cellArenaSnapshot_ = CellArena::makeSnapshot(source);
    ++counters_.arenaRebuilds;
}

std::optional<std::vector<LinkMatch::RowRange>>
TerminalSnapshot::settleLinkHighlight(Terminal& terminal, const FrameViewState& viewState)
{
    const std::optional<std::vector<LinkMatch::RowRange>>& highlight = viewState.linkHighlightRange;
    // With OSC 8 links on, the view's highlight stands as it is.
    if (terminal.options().enableOsc8Hyperlinks)
        return highlight;
    if (!highlight || highlight->empty())
        return std::nullopt;
    // Otherwise the text under the highlight may have changed since the pointer found it: the
    // highlight stays only while a link is still found at its first cell.
    const Buffer& buffer = terminal.buffer();
    const LinkMatch::RowRange& first = highlight->front();
    if (first.range.start >= first.range.end || first.row < 0 || first.row >= buffer.lines().count())
        return std::nullopt;
    const BufferLine* line = buffer.lines().lineIfPresent(static_cast<int>(first.row)).get();
    const int width = std::min(line ? line->count() : buffer.cols(), terminal.cols());
    if (first.range.start < 0 || first.range.start >= width)
        return std::nullopt;
    const std::optional<Position> at = resolveLinkLocation(
        terminal, LinkLookupLocation::buffer(Position(first.range.start, first.row)), buffer);
    if (!at)
        return std::nullopt;
    std::optional<LinkMatch> match = explicitLinkMatch(terminal, *at, buffer);
    if (!match)
        match = implicitLinkMatch(terminal, *at, buffer);
    if (!match)
        return std::nullopt;
    return std::move(match->rowRanges);
}

void TerminalSnapshot::sizeRows(const Buffer& buffer)
{
    const size_t visible =
        size_t(std::max(std::min(int64_t(linesCount) - firstRow, int64_t(rowCount)), int64_t(0)));
    while (rows.size() > visible) {
        rowPool_.push_back(std::move(rows.back()));
        rows.pop_back();
    }
    while (rows.size() < visible) {
        if (!rowPool_.empty()) {
            rows.push_back(std::move(rowPool_.back()));
            rowPool_.pop_back();
        } else {
            // A slot that holds no line yet stands for a blank line of the buffer's width.
            const CircularBufferLineList::ConstLinePointer source =
                buffer.lines().lineIfPresent(static_cast<int>(firstRow + int64_t(rows.size())));
            rows.push_back(
                std::make_shared<Row>(source ? source->count() : buffer.cols(), cellArenaSnapshot_));
        }
    }
}

void TerminalSnapshot::refreshRow(size_t index, Terminal& terminal, const Buffer& buffer,
                                  const FrameViewState& viewState, bool bidiSettingsChanged)
{
    const int64_t absolute = firstRow + int64_t(index);
    const BufferLine& source = buffer.lines().lineOrEmpty(static_cast<int>(absolute));
    Row& row = *rows[index];
    const int64_t revision = TerminalBidi::layoutRevision(absolute, buffer, maximumBidiParagraphRows);

    // A row copied before the snapshot made a new copy of the arena is copied again, so that every
    // row of a frame reads its ids through the one current copy.
    const bool copy = !row.isCopyOf(source) || row.line->arena() != cellArenaSnapshot_;
    const bool layOut = copy || bidiSettingsChanged || row.bidiParagraphRevision != revision;
    if (copy) {
        row.copy(source, cellArenaSnapshot_, cols);
        ++counters_.rowsCopied;
    }
    if (layOut) {
        ++counters_.rowsLaidOut;
        // Rows of one paragraph share one deferred job.
        const auto shared =
            std::find_if(pendingBidi_.begin(), pendingBidi_.end(), [&](const PendingBidi& entry) {
                return entry.deferred->firstRow <= absolute && absolute <= entry.deferred->lastRow;
            });
        if (shared != pendingBidi_.end()) {
            row.bidiParagraphRevision = revision;
            std::shared_ptr<TerminalBidi::DeferredParagraph> deferred = shared->deferred;
            pendingBidi_.push_back(PendingBidi{index, absolute, std::move(deferred)});
        } else if (std::shared_ptr<TerminalBidi::DeferredParagraph> deferred =
                       row.layOut(absolute, buffer, cols, terminal, viewState.bidiHostPolicy, revision)) {
            pendingBidi_.push_back(PendingBidi{index, absolute, std::move(deferred)});
        }
    }
    row.refreshImages(source, copy || layOut || appearanceChanged);
}

void TerminalSnapshot::completePendingBidi()
{
    if (pendingBidi_.empty())
        return;
    std::vector<std::shared_ptr<TerminalBidi::DeferredParagraph>> paragraphs;
    paragraphs.reserve(pendingBidi_.size());
    for (const PendingBidi& entry : pendingBidi_)
        paragraphs.push_back(entry.deferred);
    TerminalBidi::finish(paragraphs);
    bool cursorRowChanged = false;
    for (const PendingBidi& entry : pendingBidi_) {
        if (entry.rowIndex >= rows.size())
            continue;
        rows[entry.rowIndex]->completeLayout(entry.absoluteRow, *entry.deferred);
        cursorRowChanged = cursorRowChanged || (cursor && cursor->absoluteRow == entry.absoluteRow);
    }
    if (cursorRowChanged)
        cursor->visualCol = visualColumn(cursor->absoluteRow, cursor->logicalCol);
    pendingBidi_.clear();
}

SnapshotNativeColors TerminalSnapshot::nativeColors(const FrameAppearance& appearance)
{
    if (nativeColorCache_ && nativeColorCache_->appearance == appearance &&
        nativeColorCache_->ansiColors == ansiColors)
        return nativeColorCache_->nativeColors;
    SnapshotNativeColors made = SnapshotNativeColors::make(appearance, ansiColors);
    nativeColorCache_ = NativeColorCache{appearance, ansiColors, made};
    return made;
}

const TerminalSnapshot::Row* TerminalSnapshot::row(int64_t absoluteRow) const
{
    const int64_t index = absoluteRow - firstRow;
    if (index < 0 || index >= int64_t(rows.size()))
        return nullptr;
    return rows[size_t(index)].get();
}

int TerminalSnapshot::visualColumn(int64_t absoluteRow, int logicalCol) const
{
    const Row* cursorRow = row(absoluteRow);
    if (cursorRow && cursorRow->bidiLayout && logicalCol >= 0 &&
        size_t(logicalCol) < cursorRow->bidiLayout->logicalToVisualCol.size())
        return cursorRow->bidiLayout->logicalToVisualCol[size_t(logicalCol)];
    return logicalCol;
}

} // namespace kestrovan
