// The slow print road's per-run state and steps: UTF-8 decoded into scalars that are measured,
// joined into the grapheme cluster of the cell they belong to, and written as cells. This header
// owns `SlowPrint` and the cell helpers its files share: TerminalPrint.cpp drives the road (and
// the fast roads before it), PrintBatch.cpp writes the scalars that start cells in batches, and
// PrintJoins.cpp prints one character at a time and joins scalars to a cell already written.
// Only the print path includes it.
#pragma once

#include "Kestrovan/PrintScalars.h"
#include "Kestrovan/Terminal.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan::printing {

using GraphemeJoin = UnicodeUtil::GraphemeJoin;
using WidthState = PackedCell::WidthState;

// The most scalars one batch collects; its scratch arrays live on the stack.
constexpr size_t maximumBatch = 256;
// Clusters shorter than this are interned whole (joined one scalar at a time, at every length they
// pass through): real text repeats them (an accented letter, an emoji with a skin tone, a family
// of joined emoji), and the next one then finds them interned already, with no allocation. A
// cluster that grows past it is rare in real text and is how a flood of marks grows: it is grown
// in place, so a cell leaves at most this many shorter copies behind.
constexpr size_t clusterGrowsInPlaceFrom = 8;

/// Appends the scalars a cell holds: its scalar, or its cluster from the arena (nothing for an
/// unknown cluster or an inline blank).
void appendCellScalars(std::u32string& out, PackedCell cell, const CellArena& arena);
/// The last scalar of a cell: its scalar, or the last of its cluster; 0 when it has none.
char32_t lastScalar(PackedCell cell, const CellArena& arena);
// One call of the slow road: the byte source, the previous-scalar cache and the steps that use
// them. Lives on the stack for the duration of the run.
class SlowPrint
{
public:
    /// `putback` is the terminal's carry of an incomplete UTF-8 sequence between runs.
    SlowPrint(Terminal& terminal, std::vector<uint8_t>& putback, std::optional<char32_t> previousScalar)
        REQUIRES(terminal.terminalLock())
        : terminal_(terminal), putback_(putback), buffer_(terminal.activeBuffer()),
          arena_(*buffer_.cellArena()), payloadCode_(terminal.activePayloadCode()), previous_(previousScalar),
          previousIsStale_(!previousScalar),
          narrowRegionalIndicators_(terminal.options().regionalIndicatorWidth ==
                                    RegionalIndicatorWidth::narrow)
    {}

    /// Called by the terminal member that made this, under its lock (the constructor requires it).
    void run(std::span<const uint8_t> bytes);
    /// After a line feed moved the cursor: nothing is known of the cell before it, unless the
    /// caller knows there is none (`atLineStart`, the cursor in column 0 with no wrap pending).
    void beginLine(bool atLineStart)
    {
        previous_.reset();
        previousIsStale_ = !atLineStart;
        growing_ = {};
    }

private:
    size_t insertScalarBatch(const uint8_t* bytes, size_t available, std::optional<Decoded>& stopper)
        REQUIRES(terminal_.terminalLock());
    /// A batch's cells: content bits (a scalar, or a cluster interned already), last scalar of a
    /// cluster, offset of the first byte, and width. A cell of one scalar has it in its content
    /// bits alone, which spares a store for most cells.
    struct Batch
    {
        std::array<uint32_t, maximumBatch> contents;
        std::array<char32_t, maximumBatch> clusterLastScalars;
        std::array<uint16_t, maximumBatch> starts;
        std::array<uint8_t, maximumBatch> widths;

        /// Stores cell `index` as `scalar` alone, `width` columns, starting at byte `start`.
        void setScalarCell(size_t index, char32_t scalar, size_t start, uint8_t width)
        {
            contents[index] = scalar << PackedCell::contentShift;
            starts[index] = static_cast<uint16_t>(start);
            widths[index] = width;
        }
        /// Makes cell `index` the cluster of id `id`, whose last scalar is `last`.
        void setClusterCell(size_t index, uint32_t id, char32_t last)
        {
            contents[index] = uint32_t(PackedCell::Kind::grapheme) | (id << PackedCell::contentShift);
            clusterLastScalars[index] = last;
        }
        /// Whether cell `index` holds one scalar.
        bool isScalarCell(size_t index) const
        {
            return (contents[index] & PackedCell::kindMask) == uint32_t(PackedCell::Kind::scalar);
        }
        /// The last scalar of cell `index`.
        char32_t lastScalar(size_t index) const
        {
            return isScalarCell(index) ? contents[index] >> PackedCell::contentShift
                                       : clusterLastScalars[index];
        }
    };
    size_t gatherJoins(Batch& batch, size_t index, const uint8_t* bytes, size_t available, char32_t first,
                       uint32_t firstLength, uint8_t& properties, bool& startsCell)
        REQUIRES(terminal_.terminalLock());
    /// Where the script run loops start: at printable ASCII that joins nothing before it, or
    /// right after the batch stored a scalar as a cell of its own.
    enum class ScriptRunStart : uint8_t
    {
        atAscii,
        afterStoredCell,
    };
    bool gatherScriptRuns(Batch& batch, size_t& count, const uint8_t* bytes, size_t available, size_t& offset,
                          std::optional<Decoded>& stopper, ScriptRunStart start, bool asciiBatches,
                          char32_t& last, uint8_t& lastProperties) REQUIRES(terminal_.terminalLock());
    void printStepwise(const uint8_t* bytes, size_t length) REQUIRES(terminal_.terminalLock());
    size_t joinMarks(const uint8_t* bytes, size_t available, char32_t mark, uint32_t markLength)
        REQUIRES(terminal_.terminalLock());
    void printDecoded(const Decoded& decoded) REQUIRES(terminal_.terminalLock());
    void printSingleByte(char32_t value) REQUIRES(terminal_.terminalLock());
    void printScalar(char32_t scalar) REQUIRES(terminal_.terminalLock());
    GraphemeJoin joinWithPrevious(char32_t scalar, uint8_t properties, int width)
        REQUIRES(terminal_.terminalLock());
    std::optional<char32_t> resolvePreviousScalar() REQUIRES(terminal_.terminalLock());
    /// What became of a scalar offered to the cell before the cursor.
    enum class JoinOutcome : uint8_t
    {
        joined,
        /// A presentation selector that means nothing after that cell: nothing is stored.
        dropped,
        /// It must start a new cell instead.
        refused,
    };
    JoinOutcome joinTarget(char32_t scalar, GraphemeJoin answer, int width)
        REQUIRES(terminal_.terminalLock());
    /// Where a scalar joins: the line's index in the ring, the column and the cell there.
    struct JoinSite
    {
        int lineIndex;
        int x;
        PackedCell cell;
    };
    std::optional<JoinSite> findJoinSite(std::u32string& joined) REQUIRES(terminal_.terminalLock());
    bool widenCombinedCell(int lineIndex, int x, PackedCell cell, std::u32string_view scalars)
        REQUIRES(terminal_.terminalLock());
    std::optional<PackedCell> packJoined(const BufferLine& line, int x, PackedCell cell,
                                         std::u32string_view joined, WidthState state)
        REQUIRES(terminal_.terminalLock());
    bool writeNewCell(char32_t scalar, int width) REQUIRES(terminal_.terminalLock());
    void remember(char32_t scalar) REQUIRES(terminal_.terminalLock())
    {
        previous_ = scalar;
        previousIsStale_ = false;
    }
    void markRow(int64_t absoluteRow) REQUIRES(terminal_.terminalLock())
    {
        terminal_.updateRange(static_cast<int>(absoluteRow - buffer_.yBase()));
    }

    Terminal& terminal_;
    std::vector<uint8_t>& putback_;
    Buffer& buffer_;
    CellArena& arena_;
    const uint16_t payloadCode_;
    // The last scalar written, or nothing; while stale it is read from the buffer when needed.
    std::optional<char32_t> previous_;
    bool previousIsStale_;
    const bool narrowRegionalIndicators_;
    // The cluster this run last gave anew to the cell it joined a scalar to. Nothing else can
    // hold it yet (the run does nothing but print), so the next scalar for the same cell grows
    // it in place instead of storing the whole cluster again beside the old copy.
    struct GrowingCluster
    {
        const BufferLine* line = nullptr;
        int x = -1;
        uint32_t id = 0;
    };
    GrowingCluster growing_;
};

} // namespace kestrovan::printing
