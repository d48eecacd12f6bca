// The slow road's one-character-at-a-time steps: a decoded character written as a new cell or
// joined to the cell before the cursor, which may widen or narrow that cell, wrap it to the next
// line, or grow its cluster in place; and runs of plain marks joined to that cell at once.
#include "Kestrovan/CharSets.h"
#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/PrintSlowRoad.h"
#include "Kestrovan/UnicodeUtil.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>

namespace kestrovan::printing {

namespace {

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

} // namespace

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
    std::u32string& joined = joinScratch();
    const std::optional<JoinSite> site = findJoinSite(joined);
    if (!site)
        return markLength;
    const auto [lineIndex, x, cell] = *site;
    BufferLine& line = *buffer_.lines()[lineIndex];
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
        line.noteWrittenTo(x + 1);
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

// The cell before the cursor that a scalar joins, its scalars appended to `joined`. Without one
// (nothing printed before the cursor, a blank, a cluster the arena lost) the answer is nothing
// and the previous scalar is forgotten, so that what follows is tested as after no character.
std::optional<SlowPrint::JoinSite> SlowPrint::findJoinSite(std::u32string& joined)
{
    const std::optional<Position> target = terminal_.combiningTarget(buffer_);
    if (!target) {
        previous_.reset();
        return std::nullopt;
    }
    const JoinSite site{
        static_cast<int>(target->row), static_cast<int>(target->col),
        buffer_.lines()[static_cast<int>(target->row)]->packed(static_cast<int>(target->col))};
    appendCellScalars(joined, site.cell, arena_);
    return site;
}

// Adds `scalar` to the cell before the cursor, which may widen or narrow it.
SlowPrint::JoinOutcome SlowPrint::joinTarget(char32_t scalar, GraphemeJoin answer, int width)
{
    std::u32string& joined = joinScratch();
    const std::optional<JoinSite> site = findJoinSite(joined);
    if (!site)
        return JoinOutcome::refused;
    const auto [lineIndex, x, cell] = *site;
    BufferLine& line = *buffer_.lines()[lineIndex];
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
    const auto store = [&](WidthState state) REQUIRES(terminal_.terminalLock()) {
        const std::optional<PackedCell> replaced = packJoined(line, x, cell, joined, state);
        if (!replaced)
            return false;
        line.mutableCells()[x] = *replaced;
        line.noteWrittenTo(x + 1);
        line.markContentChanged();
        return true;
    };
    // Widens a one-column cell, or keeps it one column when there is no room.
    const auto widenOrKeep = [&]() REQUIRES(terminal_.terminalLock()) {
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
                if (x + 1 < line.count() && line.packed(x + 1).isContinuation()) {
                    line.mutableCells()[x + 1] = line.packed(x + 1).blanked();
                    line.noteWrittenTo(x + 2);
                }
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
        line.noteWrittenTo(x + 2);
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
        // The wrap below notes the gap this leaves, as for a wide character that arrived wide.
        line.mutableCells()[x] = cell.blanked();
        line.noteWrittenTo(x + 1);
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

} // namespace kestrovan::printing
