// Visual order for screen rows that hold right-to-left text.
//
// The grid stays in logical order; a row that needs reordering gets a `BidiRowLayout` saying which
// logical cell is drawn at which visual column and which glyph text (an Arabic presentation form
// or a mirrored character) a cell shows instead of its own. Soft-wrapped rows form one paragraph
// resolved as a whole, so direction and Arabic joining carry across wrapped rows. The order of
// each row comes from the Unicode bidirectional algorithm (ICU, through `platform::BidiParagraph`)
// run over a probe string of one UTF-16 unit per cell; base direction, Arabic shaping and
// mirroring are this file's own.
//
// The work is split around the terminal lock. Collecting a paragraph reads the buffer and needs
// the lock; typesetting, the costly part, reads only the collected cells and runs after the lock
// is released (`finish`). Results are cached process-wide twice: by line identity (an unchanged
// paragraph costs one lookup) and by content (the same text scrolled to other rows is re-based
// instead of typeset again). Both caches are emptied whole when they reach 256 entries.
//
// The operations live in four files: TerminalBidi.cpp (paragraphs, collecting under the lock,
// the caches), TerminalBidiLayout.cpp (typesetting and the column maps), TerminalBidiShaping.cpp
// (Arabic shaping and mirroring) and TerminalBidiText.cpp (cell text, probe scalars, direction).
#pragma once

#include "Kestrovan/Apple/ArabicShapingData.h"
#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/PackedCell.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace kestrovan {

class Buffer;
class CellArena;
class Terminal;

/// One cell of a row in visual order.
struct BidiCell
{
    /// The cell's lead logical column.
    int logicalCol = 0;
    /// 1, or 2 for a wide character.
    int width = 1;
    /// The glyph text drawn instead of the cell's own; absent draws the cell as stored.
    std::optional<Character> display;

    friend bool operator==(const BidiCell&, const BidiCell&) = default;
};

/// One row's visual order with both column maps.
struct BidiRowLayout
{
    /// The cells from the left edge; together they cover every column once.
    std::vector<BidiCell> visualCells;
    /// Entry c is the visual column at which logical column c is drawn.
    std::vector<int> logicalToVisualCol;
    /// Entry v is the logical column drawn at visual column v; both columns of a wide cell give
    /// its lead column.
    std::vector<int> visualToLogicalCol;
    BidiDirection baseDirection = BidiDirection::leftToRight;
    /// The paragraph revision of an implicit paragraph, or the content generation of an explicit
    /// right-to-left row.
    int64_t paragraphRevision = 0;

    friend bool operator==(const BidiRowLayout&, const BidiRowLayout&) = default;
};

class TerminalBidi
{
public:
    using Joining = BidiJoining;

    /// One cell of a paragraph as the layout reads it.
    struct Cell
    {
        /// Absolute buffer row.
        int64_t row = 0;
        int logicalCol = 0;
        /// 1, or 2 for the lead of a wide character.
        int width = 1;
        /// The cell's first character (a space for blanks and invalid content).
        Character text;

        friend bool operator==(const Cell&, const Cell&) = default;
    };

    /// A closed range of absolute rows.
    struct RowRange
    {
        int64_t first = 0;
        int64_t last = 0;

        friend bool operator==(RowRange, RowRange) = default;
    };

    /// What names one paragraph's layout: its buffer, rows, revision, width and state, and the
    /// render identity of every row (compared by object, so a recycled line never matches).
    struct ParagraphKey
    {
        uintptr_t buffer = 0;
        int64_t firstRow = 0;
        int64_t lastRow = 0;
        int64_t revision = 0;
        int cols = 0;
        BidiPresentationState state;
        std::vector<std::shared_ptr<const BufferLine::RenderIdentity>> lineIdentities;

        friend bool operator==(const ParagraphKey&, const ParagraphKey&) = default;
    };

    /// The layouts of one paragraph by absolute row; no entry for a row that needs none.
    struct ParagraphResult
    {
        std::unordered_map<int64_t, BidiRowLayout> rows;
        BidiDirection baseDirection = BidiDirection::leftToRight;
    };
    using ResultPointer = std::shared_ptr<const ParagraphResult>;

    /// Everything needed to typeset a paragraph without the buffer.
    struct ParagraphJob
    {
        ParagraphKey key;
        RowRange bounds;
        /// The cells of every row, in row order.
        std::vector<Cell> cells;
        /// Per row (index = row - first row): the half-open range of its cells in `cells`.
        std::vector<std::pair<size_t, size_t>> ranges;
        /// Per row: the number of leading columns its cells cover.
        std::vector<int> usedColumns;
        BidiPresentationState state;
        bool hasPotentialRTL = false;
        int64_t revision = 0;
        int cols = 0;
    };

    /// A paragraph typeset now or left for `finish`.
    using ParagraphOutcome = std::variant<ResultPointer, ParagraphJob>;

    /// A paragraph whose typesetting waits for `finish`, shared by every row it covers.
    struct DeferredParagraph
    {
        explicit DeferredParagraph(ParagraphJob job);

        ParagraphJob job;
        /// Set by `finish`; null until then.
        ResultPointer result;
        int64_t firstRow = 0;
        int64_t lastRow = 0;
        int64_t revision = 0;
    };

    /// A row's layout (possibly none), or the paragraph it waits for.
    using LayoutOutcome = std::variant<std::optional<BidiRowLayout>, std::shared_ptr<DeferredParagraph>>;

    /// What names a paragraph's content wherever it stands: a hash of its cells (rows counted from
    /// the first), its row count, width and state.
    struct ParagraphContentKey
    {
        uint64_t contentHash = 0;
        int rowCount = 0;
        int cols = 0;
        BidiPresentationState state;

        friend bool operator==(const ParagraphContentKey&, const ParagraphContentKey&) = default;
    };

    /// A typeset paragraph kept by content: its cells with rows made relative to its first row,
    /// and the result it was typeset into, whose rows count from `firstRow` (shared with the
    /// identity cache rather than copied).
    struct CachedParagraph
    {
        std::vector<Cell> cells;
        ResultPointer result;
        int64_t firstRow = 0;

        /// Whether `cells`, their rows made relative to `firstRow`, are exactly these cells.
        bool matches(const std::vector<Cell>& cells, int64_t firstRow) const;
    };

    /// The cache's size and its content-cache statistics, for tests and benchmarks.
    struct CacheStatistics
    {
        size_t paragraphEntries = 0;
        size_t contentEntries = 0;
        uint64_t contentCacheHits = 0;
        uint64_t contentCacheMisses = 0;
    };

    /// The most entries either cache holds before it is emptied.
    static constexpr size_t cacheLimit = 256;

    // --- Under the terminal lock (TerminalBidi.cpp) -----------------------------------------------

    /// The layout of absolute row `row` for the snapshot refresh, or the paragraph to finish.
    static LayoutOutcome collectLayout(int64_t row, const Buffer& buffer, int cols, const Terminal& terminal,
                                       BidiHostPolicy hostPolicy);
    /// 0 for a row outside the buffer, an explicit row or one whose paragraph has no bounds; else
    /// the paragraph revision of its bounds.
    static int64_t layoutRevision(int64_t row, const Buffer& buffer, int maximumRows);
    /// `rows` widened to whole paragraphs.
    static RowRange renderingDependencyRange(RowRange rows, const Buffer& buffer, int maximumRows);
    /// The paragraph around `row`, from the cache or ready to typeset.
    static ParagraphOutcome collectParagraph(int64_t row, const Buffer& buffer, int cols,
                                             const Terminal& terminal);
    /// An explicit right-to-left row reversed on its own; absent for a row outside the buffer.
    static std::optional<BidiRowLayout> explicitRightToLeftLayout(int64_t row, const Buffer& buffer,
                                                                  int cols);
    /// The soft-wrapped rows around `row`; absent outside the buffer or past `maximumRows` rows.
    static std::optional<RowRange> paragraphBounds(int64_t row, const Buffer& buffer, int maximumRows);
    /// Whether any cell of the line's first `cols` columns holds a right-to-left scalar or RLM.
    static bool mayNeedBidi(const BufferLine& line, int cols);
    /// Appends the row's cells up to its trimmed length; returns the column after the last one.
    static int appendCells(const BufferLine& line, int64_t row, int cols, std::vector<Cell>& cells);
    /// The hash of (render identity, content generation, wrap flag) of the rows in order.
    static int64_t paragraphRevision(RowRange rows, const Buffer& buffer);

    // --- Without the lock (TerminalBidiLayout.cpp) -------------------------------------------------

    /// Typesets every deferred paragraph, once per distinct key, and stores its result.
    static void finish(const std::vector<std::shared_ptr<DeferredParagraph>>& paragraphs);
    /// Typesets one paragraph (or re-bases an equal one from the content cache).
    static ResultPointer finishParagraph(const ParagraphJob& job);
    /// The layouts of a paragraph's rows, worked out from its cells.
    static ParagraphResult buildParagraph(const ParagraphJob& job);

    // --- Cell text and direction (TerminalBidiText.cpp) -------------------------------------------

    /// The character a packed cell shows for the layout (a space for blanks and invalid content).
    static Character cellText(PackedCell cell, const CellArena& arena);
    /// Whether the scalar belongs to a right-to-left script block or is RLE, RLO or RLI.
    static bool isRightToLeftScalar(char32_t scalar);
    /// The base direction the first strong letter (or LRM, RLM) gives; `fallback` without one.
    static BidiDirection detectedBaseDirection(const std::vector<Cell>& cells, BidiDirection fallback);
    /// The one UTF-16 unit that stands for a cell in the typeset string.
    static char16_t probeScalar(const Character& text);

    // --- Shaping and mirroring (TerminalBidiShaping.cpp) ------------------------------------------

    /// One optional replacement per cell: the presentation form each Arabic letter's neighbours
    /// call for, and the four lam-alef ligatures (the alef's cell then shows a space).
    static std::vector<std::optional<Character>> shapeArabic(const std::vector<Cell>& cells);
    /// The joining type of a scalar: the listed type, else transparent for Mn, Me and Cf, else
    /// none.
    static Joining joiningType(char32_t scalar);
    /// The lam-alef ligature pair (isolated, final) for the alef after a lam; absent otherwise.
    static std::optional<std::pair<char32_t, char32_t>> lamAlef(char32_t alef);
    /// The box-drawing piece that mirrors `scalar` (19 pairs, both ways); absent otherwise.
    static std::optional<char32_t> boxMirror(char32_t scalar);
    /// The mirrored text of a cell for a right-to-left run: its Unicode mirror when the text is one
    /// scalar with one, else (with `boxMirroring`) its box-drawing mirror; absent to keep it.
    static std::optional<Character> mirroredText(const Character& text, bool boxMirroring);

    // --- The caches -------------------------------------------------------------------------------

    static CacheStatistics cacheStatistics();
    /// Empties both caches and zeroes the statistics (for tests and cold measurements).
    static void clearCaches();

private:
    static ResultPointer lookUpIdentity(const ParagraphKey& key);
    static void storeIdentity(const ParagraphKey& key, ResultPointer result);
    /// The cached paragraph of equal content and cells, counting a hit or a miss.
    static std::shared_ptr<const CachedParagraph>
    lookUpContent(const ParagraphContentKey& key, const std::vector<Cell>& cells, int64_t firstRow);
    static void storeContent(const ParagraphContentKey& key,
                             std::shared_ptr<const CachedParagraph> paragraph);
    /// A row's layout from its cells in visual order: with a right-to-left base the blank tail
    /// columns `used` ..< `cols` come first (at the left edge), else last.
    static BidiRowLayout assembleRow(std::vector<BidiCell> cells, int used, int cols, BidiDirection direction,
                                     int64_t revision);
};

} // namespace kestrovan
