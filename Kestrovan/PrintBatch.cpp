// The print batch: scalars that start new cells, collected from the slow road's bytes with what
// joins them and written through the buffer's run writer in one call. Text in most scripts, and
// the marks, emoji sequences, flags and conjuncts joined to it, never leaves the batch; what the
// batch cannot place or join goes to the one-character-at-a-time steps (PrintJoins.cpp).
#include "Kestrovan/Buffer.h"
#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/PrintSlowRoad.h"

#include <algorithm>

namespace kestrovan::printing {

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
            if (count > 0) {
                // Printable ASCII joins the cell before only after a Prepend character or a
                // joiner: what it joins goes the general road. Otherwise it and what follows it
                // go through the script run loops.
                if (lastProperties != 0 && asciiJoins(last, lastProperties)) {
                    stopper = Decoded{Decoded::Kind::scalar, lead, 1};
                    break;
                }
                if (gatherScriptRuns(batch, count, bytes, available, offset, stopper, ScriptRunStart::atAscii,
                                     asciiBatches, last, lastProperties))
                    break;
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
            if (joins ||
                (count > 0 && (lastProperties | properties) != 0 &&
                 graphemeJoin(last, lastProperties, scalar, properties, width) != GraphemeJoin::newCell)) {
                // What joins a cell of this batch joins it here. A control character takes
                // nothing, and the general road drops marks after it.
                bool startsCell = count == 0;
                if (count > 0 && (lastProperties & bits::classMask) != bits::control) {
                    if (const size_t taken = gatherJoins(batch, count - 1, at, available - offset, scalar,
                                                         length, lastProperties, startsCell)) {
                        offset += taken;
                        last = batch.lastScalar(count - 1);
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
        // A batch only starts where its first scalar begins a new cell.
        if (count == 0 && joinWithPrevious(scalar, properties, width) != GraphemeJoin::newCell) {
            stopper = Decoded{Decoded::Kind::scalar, scalar, length};
            return 0;
        }
        batch.setScalarCell(count, scalar, offset, width);
        last = scalar;
        lastProperties = properties;
        offset += length;
        ++count;
        // What follows goes through the script run loops while they take it, unless this cell
        // is Prepend, a control or a Hangul leading consonant, which change what joins them. A
        // cell at the cap gathers no joins: the batch ends.
        const uint8_t hangulOrControl = properties & bits::classMask;
        if (count < maximumBatch && (properties & bits::prepend) == 0 && hangulOrControl != bits::control &&
            hangulOrControl != bits::hangulL) {
            if (gatherScriptRuns(batch, count, bytes, available, offset, stopper,
                                 ScriptRunStart::afterStoredCell, asciiBatches, last, lastProperties))
                break;
        }
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
        remember(batch.lastScalar(written - 1));
    // What the run path would not place (auto-wrap off at the right edge, a region too narrow)
    // goes one character at a time, which knows how to overwrite the last column or drop. The
    // clusters interned for those cells are left to the next reclaim.
    if (written < count)
        printStepwise(bytes + batch.starts[written], offset - batch.starts[written]);
    return offset;
}

// Gathers what joins cell `index` of the batch, whose last scalar has grapheme properties
// `properties`, from `bytes` (which start with `first`, `firstLength` bytes long), as the general road would
// join it one scalar at a time; answers the bytes taken and leaves in `properties` those of the cell's new
// last scalar (0 bytes when it took none, with `startsCell` telling whether the first scalar starts a cell of
// its own instead). It takes plain marks, skin tones, joiners and what they join, flags, presentation
// selectors (one that means nothing after the cell is dropped, as there) and the spacing vowel
// signs and conjuncts that make a consonant wide: a one-column cell they widen is marked for the
// run writer, which places it only where it widens in place. Past the 32-scalar cap what would
// join is dropped, as there. The cluster is interned once, whatever its length: no shorter copies
// are left behind, which is what growing in place avoids on the general road. Left to that road:
// a text presentation selector that narrows a wide cell, scalars not printed at all, and a cluster
// the arena cannot store now (making room would free the clusters this batch interned but has
// not written yet).
[[gnu::always_inline]] inline size_t SlowPrint::gatherJoins(Batch& batch, size_t index, const uint8_t* bytes,
                                                            size_t available, char32_t first,
                                                            uint32_t firstLength, uint8_t& properties,
                                                            bool& startsCell)
{
    startsCell = false;
    bool wide = (batch.widths[index] & ~Buffer::runCellStaysOnRow) == 2;
    bool widened = false;
    // One more than the cap, for the scalar being tested.
    std::array<char32_t, CellArena::maximumGraphemeScalars + 1> cluster;
    size_t size = 1;
    cluster[0] = batch.lastScalar(index);
    const bool scalarCell = batch.isScalarCell(index);
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
    // The first scalar was decoded by the caller; each further one is decoded at the loop's end.
    char32_t next = first;
    uint32_t length = firstLength;
    for (;;) {
        const bool low = next < classifiedEnd;
        const uint8_t classes = low ? lowScalarClasses()[next - 0x80] : 0;
        const uint8_t nextProperties = unicode::graphemeProperties(next);
        // A plain mark is Extend and nothing else, which rules out emoji and letters at once.
        const bool plain =
            low ? (classes & classPlainMark) != 0
                : (nextProperties & (bits::markMask | bits::classMask | bits::prepend)) == bits::extend &&
                      isPlainMarkUncached(next);
        bool dropped = false;
        bool widens = false;
        if (!plain) {
            const uint8_t code = low ? classes & classWidthMask : unicode::widthCode(next);
            if (code == 0)
                break;
            int width = code - 1;
            if (width == 2 && narrowRegionalIndicators_ && isRegionalIndicator(next))
                width = 1;
            const GraphemeJoin answer =
                graphemeJoin(previous, previousProperties, next, nextProperties, width);
            if (answer == GraphemeJoin::newCell) {
                startsCell = taken == 0;
                break;
            }
            if (sequence == Sequence::unknown)
                sequence =
                    unicode::isExtendedPictographic(cluster[0]) ? Sequence::pictograph : Sequence::none;
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
                widens =
                    !wide && (width >= 1 || (low ? (classes & classSpacingSign) != 0 : isSpacingSign(next)));
            }
            if (!dropped)
                sequence =
                    pictograph                                                    ? Sequence::pictograph
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
        if (!dropped) {
            cluster[size++] = next;
            previous = next;
            previousProperties = nextProperties;
            if (widens) {
                wide = true;
                widened = true;
            }
        }
        if (taken >= available || bytes[taken] < 0x80)
            break;
        length = decodeWellFormed(bytes + taken, available - taken, next);
        if (length == 0)
            break;
    }
    if (taken == 0)
        return 0;
    if (size > initialSize) {
        const uint32_t id = arena_.internCluster(std::u32string_view(cluster.data(), size));
        if (id == 0)
            return 0;
        batch.setClusterCell(index, id, cluster[size - 1]);
    }
    if (widened)
        batch.widths[index] = 2 | Buffer::runCellStaysOnRow;
    properties = previousProperties;
    return taken;
}

} // namespace kestrovan::printing
