// The print path: runs of printable bytes from the parser become cells of the active buffer.
//
// Two roads. The fast road takes the leading printable-ASCII part of a run straight to the
// buffer's `insertAsciiRun`, without decoding anything. The slow road decodes UTF-8 (carrying an
// incomplete sequence over to the next run in `readingBuffer.putbackBuffer`), applies the invoked
// character set, measures each scalar with the generated width table, joins scalars into the
// grapheme cluster of the cell they belong to, and writes the rest as new cells. Scalars that
// cannot join anything (printable ASCII, CJK, most letters) still go in batches of equal width
// through `insertContentRun`. What joins a batched cell without changing its width (combining
// marks, and on an emoji skin tones and joined emoji) is gathered into that cell's cluster, which
// is interned once and written with the batch; only joins that may widen or narrow a cell, or that
// need the cell's place on the screen, take the scalar-at-a-time road, which gathers a run of
// marks there too.
//
// Malformed UTF-8 never stops printing. A byte that cannot start a sequence prints as the
// character U+0080-U+00FF of the same value (or nothing when that has no width). A sequence cut
// short by a byte that is not a continuation byte ends before that byte: its lead prints the same
// way and decoding resumes at the offending byte, so no valid character after it is lost. Overlong
// forms, surrogates and values above U+10FFFF are consumed whole, their lead printed likewise.
//
// Nothing here allocates per run: the batch arrays are on the stack, and the scalars of a cell
// being joined are gathered in a scratch string that keeps its capacity.
#include "Kestrovan/CharSets.h"
#include "Kestrovan/Generated/UnicodeTables.h"
#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/PrintScalars.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/UnicodeUtil.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kestrovan {

namespace {

using namespace printing;
namespace bits = unicode::grapheme;
using GraphemeJoin = UnicodeUtil::GraphemeJoin;
using WidthState = PackedCell::WidthState;

// Stands for "the last character the fast road placed": a letter without grapheme properties.
constexpr char32_t placedAsciiStandIn = 0x41;
// The most scalars one batch collects; its scratch arrays live on the stack.
constexpr size_t maximumBatch = 256;
// Clusters shorter than this are interned whole (joined one scalar at a time, at every length they
// pass through): real text repeats them (an accented letter, an emoji with a skin tone, a family
// of joined emoji), and the next one then finds them interned already, with no allocation. A
// cluster that grows past it is rare in real text and is how a flood of marks grows: it is grown
// in place, so a cell leaves at most this many shorter copies behind.
constexpr size_t clusterGrowsInPlaceFrom = 8;

// --- Joining -------------------------------------------------------------------------------------

// Appends the scalars a cell holds: its scalar, or its cluster from the arena (nothing for an
// unknown cluster or an inline blank).
void appendCellScalars(std::u32string& out, PackedCell cell, const CellArena& arena)
{
    if (cell.kind() == PackedCell::Kind::scalar) {
        out.push_back(static_cast<char32_t>(cell.content()));
    } else if (cell.kind() == PackedCell::Kind::grapheme) {
        if (const std::u32string* scalars = arena.grapheme(cell.content()))
            out.append(*scalars);
    }
}

// The last scalar of a cell: its scalar, or the last of its cluster; 0 when it has none.
char32_t lastScalar(PackedCell cell, const CellArena& arena)
{
    if (cell.kind() == PackedCell::Kind::scalar)
        return static_cast<char32_t>(cell.content());
    if (cell.kind() == PackedCell::Kind::grapheme) {
        const std::u32string* scalars = arena.grapheme(cell.content());
        if (scalars && !scalars->empty())
            return scalars->back();
    }
    return 0;
}

// Scratch for the scalars of a cell being joined. It keeps its capacity from run to run, so a
// long cluster (stacked marks, an emoji family) costs an allocation once, not on every join.
std::u32string& joinScratch()
{
    thread_local std::u32string scratch;
    scratch.clear();
    return scratch;
}

// The continuation cell of a wide lead: its look, payload, semantic code and protection.
PackedCell continuationOf(PackedCell lead)
{
    constexpr uint64_t shared = PackedCell::attributeMask | PackedCell::payloadMask |
                                PackedCell::semanticMask | PackedCell::protectedBit;
    return PackedCell((lead.rawValue & shared) |
                      (uint64_t(WidthState::continuation) << PackedCell::widthStateShift));
}

// The payload code printed cells carry: the resolved active hyperlink's, else none.
// The payload code of the active hyperlink for the cells about to be printed. A link that OSC 8
// only announced is registered here, the first time text is printed under it; 0 without a link
// or when no code could be had.
uint16_t activePayloadCode(Terminal& terminal)
{
    return terminal.activeHyperlink() ? terminal.resolveActiveHyperlink().value_or(0) : 0;
}

// --- The slow road -------------------------------------------------------------------------------

// One call of the slow road: the byte source, the previous-scalar cache and the steps that use
// them. Lives on the stack for the duration of the run.
class SlowPrint
{
public:
    /// `putback` is the terminal's carry of an incomplete UTF-8 sequence between runs.
    SlowPrint(Terminal& terminal, std::vector<uint8_t>& putback, std::optional<char32_t> previousScalar)
        : terminal_(terminal), putback_(putback), buffer_(terminal.buffer()), arena_(*buffer_.cellArena()),
          payloadCode_(activePayloadCode(terminal)), previous_(previousScalar),
          previousIsStale_(!previousScalar),
          narrowRegionalIndicators_(terminal.options().regionalIndicatorWidth ==
                                    RegionalIndicatorWidth::narrow)
    {}

    void run(std::span<const uint8_t> bytes);

private:
    size_t insertScalarBatch(const uint8_t* bytes, size_t available, std::optional<Decoded>& stopper);
    /// A batch's cells: content bits (a scalar, or a cluster interned already), last scalar,
    /// offset of the first byte, and width.
    struct Batch
    {
        std::array<uint32_t, maximumBatch> contents;
        std::array<char32_t, maximumBatch> lastScalars;
        std::array<uint16_t, maximumBatch> starts;
        std::array<uint8_t, maximumBatch> widths;
    };
    size_t gatherJoins(Batch& batch, size_t index, const uint8_t* bytes, size_t available, uint8_t& properties,
                       bool& startsCell);
    void printStepwise(const uint8_t* bytes, size_t length);
    size_t joinMarks(const uint8_t* bytes, size_t available, char32_t mark, uint32_t markLength);
    void printDecoded(const Decoded& decoded);
    void printSingleByte(char32_t value);
    void printScalar(char32_t scalar);
    GraphemeJoin joinWithPrevious(char32_t scalar, uint8_t properties, int width);
    std::optional<char32_t> resolvePreviousScalar();
    /// What became of a scalar offered to the cell before the cursor.
    enum class JoinOutcome : uint8_t
    {
        joined,
        /// A presentation selector that means nothing after that cell: nothing is stored.
        dropped,
        /// It must start a new cell instead.
        refused,
    };
    JoinOutcome joinTarget(char32_t scalar, GraphemeJoin answer, int width);
    bool widenCombinedCell(int lineIndex, int x, PackedCell cell, std::u32string_view scalars);
    std::optional<PackedCell> packJoined(const BufferLine& line, int x, PackedCell cell,
                                         std::u32string_view joined, WidthState state);
    bool writeNewCell(char32_t scalar, int width);
    void remember(char32_t scalar)
    {
        previous_ = scalar;
        previousIsStale_ = false;
    }
    void markRow(int64_t absoluteRow)
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

void SlowPrint::run(std::span<const uint8_t> bytes)
{
    std::vector<uint8_t>& putback = putback_;
    size_t index = 0;

    // Bytes put back by the previous run start a sequence that this run completes: decode that
    // one sequence from the put-back bytes and the first new ones, then go on in the new run.
    if (!putback.empty()) {
        std::array<uint8_t, 4> head{};
        const size_t kept = std::min(putback.size(), head.size());
        std::copy_n(putback.begin(), kept, head.begin());
        const size_t taken = std::min(head.size() - kept, bytes.size());
        std::copy_n(bytes.begin(), taken, head.begin() + kept);
        const Decoded decoded = decodeAt(head.data(), kept + taken);
        if (decoded.kind == Decoded::Kind::incomplete) {
            // Still short: this whole run joins the put-back bytes.
            putback.assign(head.begin(), head.begin() + kept + taken);
            return;
        }
        // Put-back bytes are only ever valid continuations, so the sequence ends in the new run.
        index = decoded.length > kept ? decoded.length - kept : 0;
        putback.clear();
        printDecoded(decoded);
    }

    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    // The run paths refuse in insert mode and under protection; every scalar then goes alone.
    const bool batching = !buffer_.bulkInsertBlocked();
    while (index < length) {
        std::optional<Decoded> stopper;
        if (batching) {
            index += insertScalarBatch(data + index, length - index, stopper);
            // The batch took the whole run, or stopped at its cap without looking further.
            if (index >= length || !stopper)
                continue;
        }
        const Decoded decoded = stopper ? *stopper : decodeAt(data + index, length - index);
        if (decoded.kind == Decoded::Kind::incomplete) {
            // Kept for the next run; the vector keeps its capacity, so this allocates once.
            if (putback.capacity() < 4)
                putback.reserve(4);
            putback.assign(data + index, data + length);
            return;
        }
        if (decoded.kind == Decoded::Kind::scalar && decoded.length > 1 && isPlainMark(decoded.value)) {
            index += joinMarks(data + index, length - index, decoded.value, decoded.length);
            continue;
        }
        printDecoded(decoded);
        index += decoded.length;
    }
}

// Collects up to `maximumBatch` cells that start new cells and writes them in groups of equal
// width; answers how many bytes it consumed (0 when no batch could start here). A scalar may ride
// in a batch when it has a width and joins nothing by itself; plain marks right after one are
// gathered into its cell (`gatherMarks`). The scalar that ended the batch has been decoded
// already: it is left in `stopper` for the caller to print, so that no sequence is decoded twice.
// The loop keeps what it decodes in plain locals: a decoded sequence passed around as a structure
// went through memory, and reading it back whole stalled on the narrower stores that wrote it.
size_t SlowPrint::insertScalarBatch(const uint8_t* bytes, size_t available, std::optional<Decoded>& stopper)
{
    Batch batch;
    // Printable ASCII batches only while no character set translates it.
    const bool asciiBatches = !terminal_.charset();
    const LowScalarClasses& lowClasses = lowScalarClasses();
    size_t count = 0;
    size_t offset = 0;
    char32_t last = 0;
    uint8_t lastProperties = 0;
    while (count < maximumBatch && offset < available) {
        const uint8_t* at = bytes + offset;
        const uint8_t lead = at[0];
        char32_t scalar = lead;
        uint32_t length = 1;
        uint8_t width = 1;
        uint8_t properties = 0;
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F || !asciiBatches) {
                stopper = Decoded{Decoded::Kind::scalar, lead, 1};
                break;
            }
            if (count > 0 && lastProperties == 0) {
                // Printable ASCII after a cell without grapheme properties joins nothing: the
                // whole stretch of it goes in without the tests below.
                size_t end = offset;
                do {
                    batch.contents[count] = uint32_t(bytes[end]) << PackedCell::contentShift;
                    batch.lastScalars[count] = bytes[end];
                    batch.starts[count] = static_cast<uint16_t>(end);
                    batch.widths[count] = 1;
                    ++count;
                    ++end;
                } while (count < maximumBatch && end < available &&
                         static_cast<uint8_t>(bytes[end] - 0x20) < 0x5F);
                last = bytes[end - 1];
                offset = end;
                continue;
            }
        } else {
            length = decodeWellFormed(at, available - offset, scalar);
            if (length == 0) {
                stopper = decodeSequenceAt(at, available - offset);
                break;
            }
            // Scalars below U+1000 are classified by one small table.
            const bool low = scalar < classifiedEnd;
            const uint8_t classes = low ? lowClasses[scalar - 0x80] : 0;
            const uint8_t code = low ? classes & classWidthMask : unicode::widthCode(scalar);
            const bool joins = code < 2 || (low ? (classes & classJoins) != 0 : joinsDespiteWidth(scalar));
            width = static_cast<uint8_t>(code > 0 ? code - 1 : 0);
            if (width == 2 && narrowRegionalIndicators_ && isRegionalIndicator(scalar))
                width = 1;
            properties =
                !low || (classes & classHasProperties) != 0 ? unicode::graphemeProperties(scalar) : 0;
            // Two scalars without grapheme properties never join (regional indicators and
            // modifiers, the exceptions, count as joining above), which spares the full test for
            // most text.
            if (joins || (count > 0 && (lastProperties | properties) != 0 &&
                          graphemeJoin(last, lastProperties, scalar, properties, width) != GraphemeJoin::newCell)) {
                // What joins a cell of this batch joins it here. A control character takes
                // nothing, and the general road drops marks after it.
                bool startsCell = count == 0;
                if (count > 0 && (lastProperties & bits::classMask) != bits::control) {
                    if (const size_t taken =
                            gatherJoins(batch, count - 1, at, available - offset, lastProperties, startsCell)) {
                        offset += taken;
                        last = batch.lastScalars[count - 1];
                        continue;
                    }
                }
                // A scalar with a width that joins nothing starts a cell of the batch.
                if (!startsCell || code < 2) {
                    stopper = Decoded{Decoded::Kind::scalar, scalar, length};
                    break;
                }
            }
        }
        if (count == 0) {
            // A batch only starts where its first scalar begins a new cell.
            if (joinWithPrevious(scalar, properties, width) != GraphemeJoin::newCell) {
                stopper = Decoded{Decoded::Kind::scalar, scalar, length};
                return 0;
            }
        } else if (lead < 0x80 && lastProperties != 0) {
            // Printable ASCII after a cell with grapheme properties (other scalars were tested
            // above): what it joins goes the general road.
            if (graphemeJoin(last, lastProperties, scalar, 0, 1) != GraphemeJoin::newCell) {
                stopper = Decoded{Decoded::Kind::scalar, scalar, length};
                break;
            }
        }
        batch.contents[count] = scalar << PackedCell::contentShift;
        batch.lastScalars[count] = scalar;
        batch.starts[count] = static_cast<uint16_t>(offset);
        batch.widths[count] = width;
        last = scalar;
        lastProperties = properties;
        offset += length;
        ++count;
    }
    if (count == 0)
        return 0;

    // The batch may have interned, for cells of its own, the very cluster the general road was
    // growing in place: that one may no longer grow.
    growing_ = {};
    const size_t written = buffer_.insertMixedRun(std::span<const uint32_t>(batch.contents.data(), count),
                                                  std::span<const uint8_t>(batch.widths.data(), count),
                                                  terminal_.curStyleID(), payloadCode_);
    if (written > 0)
        remember(batch.lastScalars[written - 1]);
    // What the run path would not place (auto-wrap off at the right edge, a region too narrow)
    // goes one character at a time, which knows how to overwrite the last column or drop. The
    // clusters interned for those cells are left to the next reclaim.
    if (written < count)
        printStepwise(bytes + batch.starts[written], offset - batch.starts[written]);
    return offset;
}

// Gathers what joins cell `index` of the batch, whose last scalar has grapheme properties
// `properties`, from `bytes`, as the general road would join it one scalar at a time;
// answers the bytes taken and leaves in `properties` those of the cell's new last scalar (0 bytes
// when it took none, with `startsCell` telling whether the first scalar starts a cell of its own
// instead). It takes plain marks, skin tones, joiners and what they join, flags, presentation
// selectors (one that means nothing after the cell is dropped, as there) and the spacing vowel
// signs and conjuncts that make a consonant wide: a one-column cell they widen is marked for the
// run writer, which places it only where it widens in place. Past the 32-scalar cap what would
// join is dropped, as there. The cluster is interned once, whatever its length: no shorter copies
// are left behind, which is what growing in place avoids on the general road. Left to that road:
// a text presentation selector that narrows a wide cell, scalars not printed at all, and a cluster
// the arena cannot store now (making room would free the clusters this batch interned but has
// not written yet).
size_t SlowPrint::gatherJoins(Batch& batch, size_t index, const uint8_t* bytes, size_t available,
                              uint8_t& properties, bool& startsCell)
{
    startsCell = false;
    bool wide = (batch.widths[index] & ~Buffer::runCellStaysOnRow) == 2;
    bool widened = false;
    // One more than the cap, for the scalar being tested.
    std::array<char32_t, CellArena::maximumGraphemeScalars + 1> cluster;
    size_t size = 1;
    cluster[0] = batch.lastScalars[index];
    const bool scalarCell = (batch.contents[index] & PackedCell::kindMask) == uint32_t(PackedCell::Kind::scalar);
    if (!scalarCell) {
        // A cell this batch gathered a cluster for already: a later scalar may still join it
        // (a consonant after a vowel sign is tested against the whole cluster), so its scalars
        // are read back.
        const std::u32string* scalars = arena_.grapheme(batch.contents[index] >> PackedCell::contentShift);
        if (!scalars || scalars->empty() || scalars->size() > CellArena::maximumGraphemeScalars)
            return 0;
        size = scalars->size();
        std::copy(scalars->begin(), scalars->end(), cluster.begin());
    }
    const size_t initialSize = size;
    char32_t previous = cluster[size - 1];
    uint8_t previousProperties = properties;
    // Where the cluster stands in an emoji sequence: after a pictograph and marks, and after its
    // joiner. An emoji following that joiner continues the one cluster, which spares segmenting it
    // all again for each emoji of a family. Plain marks keep a pictograph's state, so it is
    // worked out at the first scalar that is not one.
    enum class Sequence : uint8_t
    {
        unknown,
        none,
        pictograph,
        joiner,
    };
    // A cluster read back is tested in full.
    Sequence sequence = scalarCell ? Sequence::unknown : Sequence::none;
    size_t taken = 0;
    while (taken < available && bytes[taken] >= 0x80) {
        char32_t next = 0;
        const uint32_t length = decodeWellFormed(bytes + taken, available - taken, next);
        if (length == 0)
            break;
        const bool low = next < classifiedEnd;
        const uint8_t classes = low ? lowScalarClasses()[next - 0x80] : 0;
        const bool plain = low ? (classes & classPlainMark) != 0 : isPlainMarkUncached(next);
        const uint8_t nextProperties = unicode::graphemeProperties(next);
        bool dropped = false;
        bool widens = false;
        if (!plain) {
            const uint8_t code = low ? classes & classWidthMask : unicode::widthCode(next);
            if (code == 0)
                break;
            int width = code - 1;
            if (width == 2 && narrowRegionalIndicators_ && isRegionalIndicator(next))
                width = 1;
            const GraphemeJoin answer = graphemeJoin(previous, previousProperties, next, nextProperties, width);
            if (answer == GraphemeJoin::newCell) {
                startsCell = taken == 0;
                break;
            }
            if (sequence == Sequence::unknown)
                sequence = unicode::isExtendedPictographic(cluster[0]) ? Sequence::pictograph : Sequence::none;
            const bool pictograph = unicode::isExtendedPictographic(next);
            cluster[size] = next;
            if (answer == GraphemeJoin::appendIfOneCluster && !(sequence == Sequence::joiner && pictograph) &&
                !staysOneCell(std::u32string_view(cluster.data(), size + 1))) {
                startsCell = taken == 0;
                break;
            }
            if (size == CellArena::maximumGraphemeScalars) {
                dropped = true;
            } else if (next == textPresentationSelector || next == emojiPresentationSelector) {
                // Meaningful only after a character with both presentations; text presentation
                // narrowing a wide cell moves the cursor back, which the general road does.
                if (!inRanges(previous, unicode::emojiVariationRanges))
                    dropped = true;
                else if (next == emojiPresentationSelector)
                    widens = !wide;
                else if (wide)
                    break;
            } else {
                // An emoji after a joiner, the second half of a flag, a conjunct's consonant
                // widen a one-column cell; so does a spacing vowel sign, but not a virama.
                widens = !wide && (width >= 1 || (low ? (classes & classSpacingSign) != 0 : isSpacingSign(next)));
            }
            if (!dropped)
                sequence = pictograph                                                    ? Sequence::pictograph
                           : next == zeroWidthJoiner && sequence == Sequence::pictograph ? Sequence::joiner
                           : (nextProperties & bits::markMask) == bits::extend && sequence == Sequence::pictograph
                               ? Sequence::pictograph
                               : Sequence::none;
        } else {
            // A plain mark past the cap is dropped.
            dropped = size == CellArena::maximumGraphemeScalars;
            if (sequence == Sequence::joiner)
                sequence = Sequence::none;
        }
        taken += length;
        if (dropped)
            continue;
        cluster[size++] = next;
        previous = next;
        previousProperties = nextProperties;
        if (widens) {
            wide = true;
            widened = true;
        }
    }
    if (taken == 0)
        return 0;
    if (size > initialSize) {
        const uint32_t id = arena_.internCluster(std::u32string_view(cluster.data(), size));
        if (id == 0)
            return 0;
        batch.contents[index] = uint32_t(PackedCell::Kind::grapheme) | (id << PackedCell::contentShift);
        batch.lastScalars[index] = cluster[size - 1];
    }
    if (widened)
        batch.widths[index] = 2 | Buffer::runCellStaysOnRow;
    properties = previousProperties;
    return taken;
}

// Prints `length` bytes of whole sequences one character at a time.
void SlowPrint::printStepwise(const uint8_t* bytes, size_t length)
{
    size_t index = 0;
    while (index < length) {
        const Decoded decoded = decodeAt(bytes + index, length - index);
        if (decoded.kind == Decoded::Kind::scalar && decoded.length > 1 && isPlainMark(decoded.value)) {
            index += joinMarks(bytes + index, length - index, decoded.value, decoded.length);
            continue;
        }
        printDecoded(decoded);
        index += decoded.length;
    }
}

// Joins the plain mark `mark` (`markLength` bytes at `bytes`) and every plain mark right after it
// to the cell before the cursor, storing the grown cluster once; answers the bytes consumed. One
// mark at a time would store (and intern) every intermediate cluster, the cell being rewritten
// per mark. The outcome is the same: a plain mark always joins a cell that takes marks, never
// changes its width, and marks past the cluster cap are dropped. Without such a cell (or after
// a control character) the first mark prints nothing and the rest take the general road.
size_t SlowPrint::joinMarks(const uint8_t* bytes, size_t available, char32_t mark, uint32_t markLength)
{
    if (joinWithPrevious(mark, unicode::graphemeProperties(mark), 0) != GraphemeJoin::append)
        return markLength;
    const std::optional<Position> target = terminal_.combiningTarget(buffer_);
    if (!target) {
        previous_.reset();
        return markLength;
    }
    const int lineIndex = static_cast<int>(target->row);
    const int x = static_cast<int>(target->col);
    BufferLine& line = *buffer_.lines()[lineIndex];
    const PackedCell cell = line.packed(x);

    std::u32string& joined = joinScratch();
    appendCellScalars(joined, cell, arena_);
    const size_t before = joined.size();
    size_t consumed = 0;
    for (;;) {
        if (joined.size() < CellArena::maximumGraphemeScalars)
            joined.push_back(mark);
        consumed += markLength;
        if (consumed >= available || bytes[consumed] < 0x80)
            break;
        markLength = decodeWellFormed(bytes + consumed, available - consumed, mark);
        if (markLength == 0 || !isPlainMark(mark))
            break;
    }
    // A full cell took none of them: it stays as it was, and so does the previous scalar.
    if (joined.size() == before)
        return consumed;
    markRow(lineIndex);
    const std::optional<PackedCell> replaced =
        packJoined(line, x, cell, joined, cell.isLead() ? WidthState::lead : WidthState::single);
    if (replaced) {
        line.mutableCells()[x] = *replaced;
        line.markContentChanged();
        remember(joined.back());
    }
    return consumed;
}

void SlowPrint::printDecoded(const Decoded& decoded)
{
    if (decoded.kind == Decoded::Kind::scalar && decoded.length > 1)
        printScalar(decoded.value);
    else
        printSingleByte(decoded.value);
}

// A one-byte character (U+0000-U+00FF, stray bytes included): translated by the invoked set when
// below 0x7F, written as one new cell when printable, skipped otherwise (controls, DEL, C1).
void SlowPrint::printSingleByte(char32_t value)
{
    if (value < 0x7F && terminal_.charset()) {
        if (const char32_t mapped = terminal_.charset()->lookup(value)) {
            if (writeNewCell(mapped, 1))
                remember(mapped);
            return;
        }
    }
    if (value >= 0x20 && value < 0x7F) {
        if (writeNewCell(value, 1))
            remember(value);
        return;
    }
    const uint8_t code = unicode::widthCode(value);
    if (code < 2)
        return;
    if (writeNewCell(value, code - 1))
        remember(value);
}

// A decoded multi-byte scalar: measured, then joined to the cell before the cursor or written
// as a new cell.
void SlowPrint::printScalar(char32_t scalar)
{
    const uint8_t code = unicode::widthCode(scalar);
    if (code == 0)
        return;
    int width = code - 1;
    if (width == 2 && narrowRegionalIndicators_ && isRegionalIndicator(scalar))
        width = 1;
    const uint8_t properties = unicode::graphemeProperties(scalar);
    const GraphemeJoin answer = joinWithPrevious(scalar, properties, width);
    if (answer != GraphemeJoin::newCell) {
        switch (joinTarget(scalar, answer, width)) {
        case JoinOutcome::joined:
            remember(scalar);
            return;
        case JoinOutcome::dropped:
            return;
        case JoinOutcome::refused:
            break;
        }
    }
    // A combining mark with nothing to join prints nothing, and is not remembered either: what
    // follows must be tested against what the screen shows, as it would be after a feed boundary.
    if (width == 0)
        return;
    if (writeNewCell(scalar, width))
        remember(scalar);
}

GraphemeJoin SlowPrint::joinWithPrevious(char32_t scalar, uint8_t properties, int width)
{
    if (previousIsStale_) {
        previous_ = resolvePreviousScalar();
        previousIsStale_ = false;
    }
    return graphemeJoin(previous_, scalar, properties, width);
}

// The last scalar of the cell a combining scalar would join, for a run that starts with no
// known previous scalar: a mark at the start of a run joins what an earlier run printed.
std::optional<char32_t> SlowPrint::resolvePreviousScalar()
{
    const std::optional<Position> target = terminal_.combiningTarget(buffer_);
    if (!target)
        return std::nullopt;
    return lastScalar(buffer_.lines()[static_cast<int>(target->row)]->packed(static_cast<int>(target->col)),
                      arena_);
}

// Adds `scalar` to the cell before the cursor, which may widen or narrow it.
SlowPrint::JoinOutcome SlowPrint::joinTarget(char32_t scalar, GraphemeJoin answer, int width)
{
    const std::optional<Position> target = terminal_.combiningTarget(buffer_);
    if (!target) {
        previous_.reset();
        return JoinOutcome::refused;
    }
    const int lineIndex = static_cast<int>(target->row);
    const int x = static_cast<int>(target->col);
    BufferLine& line = *buffer_.lines()[lineIndex];
    const PackedCell cell = line.packed(x);

    std::u32string& joined = joinScratch();
    appendCellScalars(joined, cell, arena_);
    joined.push_back(scalar);
    if (answer == GraphemeJoin::appendIfOneCluster && !staysOneCell(joined))
        return JoinOutcome::refused;
    // A full cell takes nothing more: the scalar is dropped, and the cell's last scalar stays
    // the previous one.
    if (joined.size() > CellArena::maximumGraphemeScalars)
        return JoinOutcome::dropped;

    const bool wasWide = cell.isLead();
    // Marked before anything moves: widening at the right edge may wrap and scroll.
    markRow(lineIndex);
    // Stores the joined content at x with the given width state; false when it cannot be packed.
    const auto store = [&](WidthState state) {
        const std::optional<PackedCell> replaced = packJoined(line, x, cell, joined, state);
        if (!replaced)
            return false;
        line.mutableCells()[x] = *replaced;
        line.markContentChanged();
        return true;
    };
    // Widens a one-column cell, or keeps it one column when there is no room.
    const auto widenOrKeep = [&] {
        return widenCombinedCell(lineIndex, x, cell, joined) || store(WidthState::single);
    };

    bool stored = false;
    if (scalar == textPresentationSelector || scalar == emojiPresentationSelector) {
        // A presentation selector only means something after a character that has both
        // presentations; after anything else it is dropped and the cell stays as it was.
        const char32_t base = joined[joined.size() - 2];
        if (!inRanges(base, unicode::emojiVariationRanges)) {
            // The cell is unchanged, so its last scalar stays the previous one, as a later
            // run would read it from the buffer.
            remember(base);
            return JoinOutcome::dropped;
        }
        if (scalar == emojiPresentationSelector) {
            stored = wasWide ? store(WidthState::lead) : widenOrKeep();
        } else {
            stored = store(WidthState::single);
            if (stored && wasWide) {
                // Text presentation is one column: the right half becomes an empty cell of the
                // same look, and the cursor steps back onto it.
                if (x + 1 < line.count() && line.packed(x + 1).isContinuation())
                    line.mutableCells()[x + 1] = line.packed(x + 1).blanked();
                if (buffer_.wrapPending())
                    buffer_.setWrapPending(false);
                else if (buffer_.x() > 0)
                    buffer_.setX(buffer_.x() - 1);
            }
        }
    } else if (!wasWide && width >= 1) {
        // An emoji after a joiner, the second half of a flag: the cell becomes wide.
        stored = widenOrKeep();
    } else if (width == 0) {
        // A spacing vowel sign makes its consonant wide; a virama or another mark does not.
        if (isSpacingSign(scalar) && !wasWide)
            stored = widenOrKeep();
        else
            stored = store(wasWide ? WidthState::lead : WidthState::single);
    } else {
        stored = store(WidthState::lead);
    }
    return stored ? JoinOutcome::joined : JoinOutcome::refused;
}

// Makes the one-column cell at (`lineIndex`, `x`) a wide cell holding `scalars`. Where the next
// column is free to take the right half, the cell grows in place (in insert mode the rest of the
// line moves right first). At the right limit with auto-wrap on, the character moves to the next
// line as a wide character printed anew would. Otherwise nothing changes and the answer is false.
bool SlowPrint::widenCombinedCell(int lineIndex, int x, PackedCell cell, std::u32string_view scalars)
{
    const int right = buffer_.marginMode() ? buffer_.marginRight() : buffer_.cols() - 1;
    BufferLine& line = *buffer_.lines()[lineIndex];
    const std::optional<PackedCell> wide = packJoined(line, x, cell, scalars, WidthState::lead);
    if (!wide)
        return false;

    if (x + 1 <= right && x + 1 < buffer_.cols() && x + 1 < line.count()) {
        // The right half takes column x + 1. Insert mode pushes what stood there to the right;
        // otherwise it is overwritten, and a wide character it began loses its other half too.
        if (buffer_.insertMode())
            line.insertPackedCells(x + 1, 1, right, PackedCell(cell.rawValue & PackedCell::attributeMask));
        else
            line.repairWideSeam(x + 2);
        PackedCell* cells = line.mutableCells();
        cells[x] = *wide;
        cells[x + 1] = continuationOf(*wide);
        line.raiseUsedLength(x + 2);
        line.markContentChanged();
        // The cursor stood right after the one-column cell; it moves past the new right half,
        // which may leave it waiting to wrap.
        buffer_.placeCursorAfterPrint(x + 2);
        return true;
    }

    // No room on this line: print the wide character again from the last column, which wraps it
    // (and scrolls when needed) exactly as if it had arrived wide. A region narrower than two
    // columns holds it on no line, and the buffer would drop it: the cell stays one column then.
    const int left = buffer_.marginMode() ? buffer_.marginLeft() : 0;
    if (buffer_.wraparound() && x == right && right - left + 1 >= 2 &&
        lineIndex == buffer_.yBase() + buffer_.y()) {
        line.mutableCells()[x] = cell.blanked();
        line.markContentChanged();
        const int oldRow = buffer_.y();
        buffer_.setX(x);
        buffer_.insertCharacter(*wide);
        terminal_.updateRange(oldRow);
        terminal_.updateRange(buffer_.y());
        return true;
    }
    return false;
}

// The cell at (`line`, `x`) holding `joined`, its scalars and one more. The cluster this run gave
// that cell grows in place; otherwise the joined list is interned, and a full cluster table is
// first reclaimed. A cluster that cannot be stored falls back to its first scalar.
std::optional<PackedCell> SlowPrint::packJoined(const BufferLine& line, int x, PackedCell cell,
                                                std::u32string_view joined, WidthState state)
{
    if (cell.kind() == PackedCell::Kind::grapheme && growing_.id != 0 && cell.content() == growing_.id &&
        growing_.line == &line && growing_.x == x) {
        if (const std::optional<uint32_t> id = arena_.extendGrapheme(growing_.id, joined)) {
            // Grown into a cluster already known: other cells may hold that one.
            if (*id != growing_.id)
                growing_ = {};
            return PackedCell::makeGrapheme(*id, cell.attributeID(), state, cell.isProtected(),
                                            cell.payloadCode(), cell.semanticCode());
        }
    }
    growing_ = {};
    std::optional<PackedCell> replaced;
    if (!cell.isBlankKind() && cell.semanticCode() <= 6 && joined.size() > 1 &&
        std::all_of(joined.begin(), joined.end(), [](char32_t scalar) { return isValidScalar(scalar); })) {
        // A cell with an attribute id of its own, as printed text has: the cluster goes straight
        // to the arena's table, and the cell keeps its look, payload, protection and semantic
        // code. A cluster the table cannot take falls back to its first scalar.
        uint32_t id = arena_.internCluster(joined);
        if (id == 0 && arena_.graphemeTableFull() &&
            terminal_.reclaimCellArena(Terminal::ArenaTable::clusters))
            id = arena_.internCluster(joined);
        replaced = id != 0
                       ? PackedCell::makeGrapheme(id, cell.attributeID(), state, cell.isProtected(),
                                                  cell.payloadCode(), cell.semanticCode())
                       : PackedCell::makeScalar(joined.front(), cell.attributeID(), state, cell.isProtected(),
                                                cell.payloadCode(), cell.semanticCode());
    } else {
        replaced = arena_.replacingContent(cell, joined, state);
        if (replaced && replaced->kind() != PackedCell::Kind::grapheme && joined.size() > 1 &&
            arena_.graphemeTableFull() && terminal_.reclaimCellArena(Terminal::ArenaTable::clusters))
            replaced = arena_.replacingContent(cell, joined, state);
    }
    if (replaced && replaced->kind() == PackedCell::Kind::grapheme &&
        joined.size() >= clusterGrowsInPlaceFrom && replaced->content() == arena_.lastCreatedGrapheme())
        growing_ = {&line, x, replaced->content()};
    return replaced;
}

// Writes a new cell at the cursor; answers false when the buffer drops it, which it does to a wide
// character that fits nowhere: at the right limit without auto-wrap, or in a region narrower than
// two columns. A dropped character is not remembered as the previous scalar.
bool SlowPrint::writeNewCell(char32_t scalar, int width)
{
    if (width == 2 && buffer_.dropsWideCharacter())
        return false;
    const PackedCell cell =
        PackedCell::makeScalar(scalar, terminal_.curStyleID(),
                               width == 2 ? WidthState::lead : WidthState::single, false, payloadCode_, 0);
    buffer_.insertCharacter(cell);
    return true;
}

} // namespace

// --- The roads -----------------------------------------------------------------------------------

void Terminal::handlePrintBorrowed(std::span<const uint8_t> bytes, Buffer& buffer)
{
    // A translating set or a pending sequence needs every byte looked at.
    if (charsets_.charset() || !readingBuffer_.putbackBuffer.empty() || bytes.empty()) {
        handlePrintSlow(bytes, std::nullopt);
        return;
    }
    const size_t ascii = printableAsciiPrefix(bytes);
    if (ascii == 0) {
        if (bytes.size() > 3 || !printLoneScalar(bytes, buffer))
            handlePrintSlow(bytes, std::nullopt);
        return;
    }
    // When non-ASCII follows, the last ASCII character goes with it to the slow road: what
    // follows is often a mark joining it, which that road's batch gathers with the letter
    // instead of joining it to the cell already written.
    const size_t leading = ascii < bytes.size() ? ascii - 1 : ascii;
    if (leading == 0)
        handlePrintSlow(bytes, std::nullopt);
    else
        printAsciiRun(bytes, leading, buffer);
}

// A run of one two- or three-byte character that takes a column and starts a cell of its own:
// half blocks and box drawing between colour changes, one cell per sequence in pictures. It
// goes to the run writer directly, after the same test against the cell before the cursor that
// the slow road makes; anything else (a sequence cut short, a mark, a character that may join,
// a character the run writer will not place) is left to the slow road, unchanged.
bool Terminal::printLoneScalar(std::span<const uint8_t> bytes, Buffer& buffer)
{
    if (bytes.size() < 2 || buffer.bulkInsertBlocked())
        return false;
    const Decoded decoded = decodeAt(bytes.data(), bytes.size());
    if (decoded.kind != Decoded::Kind::scalar || decoded.length != bytes.size())
        return false;
    const char32_t scalar = decoded.value;
    const uint8_t properties = unicode::graphemeProperties(scalar);
    if (unicode::widthCode(scalar) != 2 || properties != 0 || joinsDespiteWidth(scalar))
        return false;
    if (const std::optional<Position> target = combiningTarget(buffer)) {
        const char32_t previous =
            lastScalar(buffer.lines()[static_cast<int>(target->row)]->packed(static_cast<int>(target->col)),
                       *buffer.cellArena());
        if (graphemeJoin(previous, unicode::graphemeProperties(previous), scalar, properties, 1) !=
            GraphemeJoin::newCell)
            return false;
    }
    const int rowBefore = buffer.y();
    const int displayBefore = _buffer->yDisp();
    updateRange(rowBefore);
    if (buffer.insertScalarRun(std::span<const char32_t>(&scalar, 1), 1, curStyleID_,
                               activePayloadCode(*this)) == 0)
        return false;
    if (buffer.y() != rowBefore || _buffer->yDisp() != displayBefore)
        updateRange(buffer.y());
    return true;
}

void Terminal::printAsciiRun(std::span<const uint8_t> bytes, size_t ascii, Buffer& buffer)
{
    // The row before and after: the run may wrap onto later rows (a scroll marks its own rows).
    // Most runs stay on their row with the view unmoved, where marking it again changes nothing.
    const int rowBefore = buffer.y();
    const int displayBefore = _buffer->yDisp();
    updateRange(rowBefore);
    const size_t placed = buffer.insertAsciiRun(bytes.first(ascii), curStyleID_, activePayloadCode(*this));
    if (buffer.y() != rowBefore || _buffer->yDisp() != displayBefore)
        updateRange(buffer.y());
    // The rest, and whatever the run path refused (insert mode, protection, the edge without
    // auto-wrap), goes the slow way. Any placed ASCII character joins nothing, so a stand-in
    // letter is as good as the real one as the previous scalar.
    if (placed < bytes.size())
        handlePrintSlow(bytes.subspan(placed),
                        placed > 0 ? std::optional<char32_t>(placedAsciiStandIn) : std::nullopt);
}

void Terminal::handlePrintSlow(std::span<const uint8_t> bytes, std::optional<char32_t> previousScalar)
{
    updateRange(_buffer->y());
    SlowPrint(*this, readingBuffer_.putbackBuffer, previousScalar).run(bytes);
    updateRange(_buffer->y());
}

// Empty cells, inline blanks and clusters the arena no longer has are no target: a mark after
// them has nothing to combine with.
std::optional<Position> Terminal::combiningTarget(Buffer& buffer)
{
    const int x = buffer.columnAfterPrinted();
    if (x <= 0)
        return std::nullopt;
    const int row = buffer.yBase() + buffer.y();
    if (row < 0 || row >= buffer.lines().count())
        return std::nullopt;
    const BufferLine& line = *buffer.lines()[row];
    if (line.count() < 1)
        return std::nullopt;
    // From the column before the cursor (the cursor's own while a wrap is pending), left over the
    // right halves of wide characters to the character itself.
    int col = std::min(x - 1, line.count() - 1);
    while (col > 0 && line.packed(col).isContinuation())
        --col;
    const PackedCell cell = line.packed(col);
    if (cell.isContinuation())
        return std::nullopt;
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        if (cell.content() == 0)
            return std::nullopt;
        break;
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = buffer.cellArena()->grapheme(cell.content());
        if (!scalars || scalars->empty())
            return std::nullopt;
        break;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        return std::nullopt;
    }
    return Position(col, row);
}

std::optional<std::u32string> Terminal::combinedGraphemeScalars(PackedCell cell, char32_t appending)
{
    std::u32string joined;
    appendCellScalars(joined, cell, *cellArena_);
    joined.push_back(appending);
    if (!staysOneCell(joined))
        return std::nullopt;
    return joined;
}

// --- Conveniences for hosts ----------------------------------------------------------------------

// Built through the setters, so the width state follows the width and a width that does not fit
// a cell stops the program as it does there.
CharData Terminal::makeCharData(const Attribute& attribute, int32_t code, int size)
{
    CharData data(attribute, 0, 1);
    data.setValue(code, size);
    return data;
}

CharData Terminal::makeCharData(const Attribute& attribute, const Character& character, int size)
{
    CharData data(attribute, 0, 1);
    data.setCharacter(character, size);
    return data;
}

CharData Terminal::makeCharData(const Attribute& attribute, char32_t scalar, int size)
{
    return makeCharData(attribute, static_cast<int32_t>(scalar), size);
}

void Terminal::updateCharData(CharData& data, int32_t code, int size)
{
    data.setValue(code, size);
}

void Terminal::updateCharData(CharData& data, const Character& character, int size)
{
    data.setCharacter(character, size);
}

} // namespace kestrovan
