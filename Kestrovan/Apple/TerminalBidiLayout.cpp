// Typesetting the collected paragraphs, without the terminal lock: base direction, the visual
// order of each row from the bidirectional algorithm, Arabic shaping and mirroring, and the column
// maps. Reads only the collected cells and the process-wide caches.
#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Apple/TerminalBidiHash.h"
#include "Platform/Text/BidiParagraph.h"

#include <algorithm>

namespace kestrovan {

namespace {

using bidihash::combine;
using bidihash::mix;

struct KeyHash
{
    // The key's hash skips the line identities, which the revision already reflects.
    size_t operator()(const TerminalBidi::ParagraphKey& key) const
    {
        uint64_t hash = combine(key.buffer, uint64_t(key.firstRow));
        hash = combine(hash, uint64_t(key.lastRow));
        return size_t(combine(hash, uint64_t(key.revision)));
    }
};

/// A hash of the cells as they would stand at any rows: their rows counted from `firstRow`. Only a
/// key to narrow the content cache's search (a hit compares the cells themselves), so each value is
/// folded in with one multiply and the result is mixed once at the end.
uint64_t contentHash(const std::vector<TerminalBidi::Cell>& cells, int64_t firstRow)
{
    uint64_t hash = cells.size();
    const auto fold = [&hash](uint64_t value) { hash = (hash ^ value) * 0x100000001B3ull; };
    for (const TerminalBidi::Cell& cell : cells) {
        fold(uint64_t(cell.row - firstRow) << 40 | uint64_t(uint32_t(cell.logicalCol)) << 8 |
             uint64_t(cell.width));
        for (char32_t scalar : cell.text.scalars)
            fold(scalar);
    }
    return mix(hash);
}

/// The layouts of a cached paragraph moved to the job's rows and revision.
TerminalBidi::ResultPointer rebase(const TerminalBidi::CachedParagraph& cached, TerminalBidi::RowRange bounds,
                                   int64_t revision)
{
    auto result = std::make_shared<TerminalBidi::ParagraphResult>();
    result->baseDirection = cached.result->baseDirection;
    for (const auto& [row, cachedLayout] : cached.result->rows) {
        BidiRowLayout layout = cachedLayout;
        layout.paragraphRevision = revision;
        result->rows.emplace(bounds.first + (row - cached.firstRow), std::move(layout));
    }
    return result;
}

struct VisualOrder
{
    /// Indexes into the row's cells (counted from the row's first cell), from the left edge.
    std::vector<int> order;
    /// Per cell (in logical order): whether it lies in a right-to-left run.
    std::vector<bool> rtl;
};

/// The visual order of the row's cells `lo` ..< `hi` of the paragraph, one unit per cell; absent
/// when the algorithm gives no complete order.
std::optional<VisualOrder> computeVisualOrder(const platform::BidiParagraph& paragraph, size_t lo, size_t hi)
{
    VisualOrder result;
    if (lo == hi)
        return result;
    const std::optional<platform::BidiLine> line = paragraph.line(int32_t(lo), int32_t(hi));
    const size_t count = hi - lo;
    if (!line || size_t(line->length()) != count)
        return std::nullopt;
    // The probe string has one unit per cell, so the visual position of a unit is the visual slot
    // of its cell: the line's visual-to-logical map is the order. It must name every cell once.
    std::vector<bool> seen(count, false);
    result.order.reserve(count);
    for (const int32_t logical : line->visualToLogical()) {
        if (logical < 0 || size_t(logical) >= count || seen[size_t(logical)])
            return std::nullopt;
        seen[size_t(logical)] = true;
        result.order.push_back(int(logical));
    }
    result.rtl.resize(count);
    for (size_t i = 0; i < count; ++i)
        result.rtl[i] = line->isRightToLeft(int32_t(i));
    return result;
}

} // namespace

void TerminalBidi::finish(const std::vector<std::shared_ptr<DeferredParagraph>>& paragraphs)
{
    // Rows of one paragraph share its deferred job, and equal jobs are typeset once per call.
    std::unordered_map<ParagraphKey, ResultPointer, KeyHash> finished;
    for (const std::shared_ptr<DeferredParagraph>& paragraph : paragraphs) {
        if (!paragraph)
            continue;
        const auto found = finished.find(paragraph->job.key);
        if (found != finished.end()) {
            paragraph->result = found->second;
            continue;
        }
        paragraph->result = finishParagraph(paragraph->job);
        finished.emplace(paragraph->job.key, paragraph->result);
    }
}

TerminalBidi::ResultPointer TerminalBidi::finishParagraph(const ParagraphJob& job)
{
    const int rowCount = int(job.bounds.last - job.bounds.first + 1);
    const ParagraphContentKey contentKey{contentHash(job.cells, job.bounds.first), rowCount, job.cols,
                                         job.state};
    // The same text elsewhere (scrolled, or drawn again after a buffer switch) is re-based, not
    // typeset again.
    if (const std::shared_ptr<const CachedParagraph> cached =
            lookUpContent(contentKey, job.cells, job.bounds.first)) {
        ResultPointer result = rebase(*cached, job.bounds, job.revision);
        storeIdentity(job.key, result);
        return result;
    }
    auto result = std::make_shared<const ParagraphResult>(buildParagraph(job));
    auto cached = std::make_shared<CachedParagraph>();
    cached->result = result;
    cached->firstRow = job.bounds.first;
    cached->cells = job.cells;
    for (Cell& cell : cached->cells)
        cell.row -= job.bounds.first;
    storeContent(contentKey, std::move(cached));
    storeIdentity(job.key, result);
    return result;
}

TerminalBidi::ParagraphResult TerminalBidi::buildParagraph(const ParagraphJob& job)
{
    ParagraphResult result;
    const BidiPresentationState& state = job.state;
    const BidiDirection direction = state.autodetectDirection
                                        ? detectedBaseDirection(job.cells, state.fallbackDirection)
                                        : state.fallbackDirection;
    result.baseDirection = direction;
    if (!job.hasPotentialRTL && direction == BidiDirection::leftToRight)
        return result;

    // One unit per cell, so string indexes are cell indexes; the direction is decided already.
    std::shared_ptr<const platform::BidiParagraph> paragraph;
    if (!job.cells.empty()) {
        std::u16string probe;
        probe.reserve(job.cells.size());
        for (const Cell& cell : job.cells)
            probe.push_back(probeScalar(cell.text));
        paragraph = platform::BidiParagraph::make(probe, direction == BidiDirection::rightToLeft
                                                             ? platform::BidiBase::rightToLeft
                                                             : platform::BidiBase::leftToRight);
    }
    // Shaped over the whole paragraph, so letters join across soft-wrapped row ends.
    std::vector<std::optional<Character>> display = shapeArabic(job.cells);

    std::vector<BidiCell> visual;
    for (size_t index = 0; index < job.ranges.size(); ++index) {
        const auto [lo, hi] = job.ranges[index];
        std::optional<VisualOrder> order;
        if (lo == hi)
            order = VisualOrder();
        else if (paragraph)
            order = computeVisualOrder(*paragraph, lo, hi);
        if (!order)
            continue;
        visual.clear();
        visual.reserve(hi - lo);
        for (const int position : order->order) {
            const size_t cellIndex = lo + size_t(position);
            const Cell& cell = job.cells[cellIndex];
            std::optional<Character>& shown = display[cellIndex];
            // Only cells of right-to-left runs mirror, and only when shaping left them alone.
            if (!shown && order->rtl[size_t(position)])
                shown = mirroredText(cell.text, state.boxMirroring);
            visual.push_back(BidiCell{cell.logicalCol, cell.width, std::move(shown)});
        }
        const int used = std::min(index < job.usedColumns.size() ? job.usedColumns[index] : 0, job.cols);
        result.rows.emplace(job.bounds.first + int64_t(index),
                            assembleRow(std::move(visual), used, job.cols, direction, job.revision));
        visual = {};
    }
    return result;
}

} // namespace kestrovan
