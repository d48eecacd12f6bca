// The print path: runs of printable bytes from the parser become cells of the active buffer.
//
// Two roads. The fast road takes the leading printable-ASCII part of a run straight to the
// buffer's `insertAsciiRun`, without decoding anything. The slow road decodes UTF-8 (carrying an
// incomplete sequence over to the next run in `readingBuffer.putbackBuffer`), applies the invoked
// character set, measures each scalar with the generated width table, joins scalars into the
// grapheme cluster of the cell they belong to, and writes the rest as new cells. Scalars that
// start cells (printable ASCII, CJK, most letters, emoji) go in batches through the buffer's
// `insertMixedRun`, narrow and wide together, with whatever joins them gathered into their
// clusters first: combining marks, skin tones and joined emoji, flags, keycaps, presentation
// selectors, and the vowel signs and conjuncts that make a consonant wide (PrintBatch.cpp; runs
// of ASCII with the letters and marks of two bytes, and Devanagari syllables, take loops of their
// own in PrintScriptRuns.cpp). Only what the batch cannot place or join takes the
// scalar-at-a-time steps (PrintJoins.cpp): a join to a cell written by an earlier run, a widened
// cell at the right edge, a text presentation selector narrowing a wide cell, the modes in which
// the run writers refuse.
//
// Text beyond ASCII mostly comes a line at a time, each ended by CR LF: the parser hands such a
// run to `printTextLines`, which takes the lines after it itself while they are that, so that each
// line costs a CR LF and the slow road's batches, not a trip through the parser and the road's
// set-up.
//
// Malformed UTF-8 never stops printing. A byte that cannot start a sequence prints as the
// character U+0080-U+00FF of the same value (or nothing when that has no width). A sequence cut
// short by a byte that is not a continuation byte ends before that byte: its lead prints the same
// way and decoding resumes at the offending byte, so no valid character after it is lost. Overlong
// forms, surrogates and values above U+10FFFF are consumed whole, their lead printed likewise.
//
// Nothing here allocates per run: the batch arrays are on the stack, and the scalars of a cell
// being joined are gathered in a scratch string that keeps its capacity.
#include "Kestrovan/BufferLoneCell.h"
#include "Kestrovan/EscapeSequenceParserLoop.h"
#include "Kestrovan/PrintScalars.h"
#include "Kestrovan/PrintSlowRoad.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <array>

namespace kestrovan {

using namespace printing;

namespace {

// Stands for "the last character the fast road placed": a letter without grapheme properties.
constexpr char32_t placedAsciiStandIn = 0x41;

// The longest printable-ASCII start of a run with more after it that the slow road takes whole
// (one block of its ASCII loop).
constexpr size_t asciiPrefixTakenBySlowRoad = 16;

} // namespace

namespace printing {

void SlowPrint::run(std::span<const uint8_t> bytes)
{
    terminal_.terminalLock().assumeHeldByCaller();
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

} // namespace printing

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
    // instead of joining it to the cell already written. A word or two before it (text mixing
    // scripts) goes there too: that road's batch takes a short stretch of ASCII for less than a
    // run of its own costs, and then writes the line in one call instead of two.
    const size_t leading = ascii < bytes.size() ? ascii - 1 : ascii;
    if (leading == 0 || (ascii < bytes.size() && ascii <= asciiPrefixTakenBySlowRoad))
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
    // Pictures repeat one character cell after cell: the bytes of the last one found plain and
    // narrow are kept with their scalar, and the same bytes again need neither decoding nor the
    // tables. The length is part of the key, so that a shorter run never matches a longer one.
    const uint32_t encoded = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                             (bytes.size() == 3 ? uint32_t(bytes[2]) << 16 : 0) |
                             static_cast<uint32_t>(bytes.size()) << 24;
    char32_t scalar = plainNarrowScalar_;
    if (encoded != plainNarrowBytes_) {
        const Decoded decoded = decodeAt(bytes.data(), bytes.size());
        if (decoded.kind != Decoded::Kind::scalar || decoded.length != bytes.size())
            return false;
        scalar = decoded.value;
        if (unicode::widthCode(scalar) != 2 || unicode::graphemeProperties(scalar) != 0 ||
            joinsDespiteWidth(scalar))
            return false;
        plainNarrowBytes_ = encoded;
        plainNarrowScalar_ = scalar;
    }
    const uint16_t payloadCode = activePayloadCode();
    if (buffer.putPlainNarrowScalar(scalar, curStyleID_, payloadCode)) {
        updateRange(buffer.y());
        return true;
    }
    const uint8_t properties = 0;
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
    if (buffer.insertScalarRun(std::span<const char32_t>(&scalar, 1), 1, curStyleID_, payloadCode) == 0)
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
    const uint16_t payloadCode = activePayloadCode();
    const size_t placed = buffer.insertAsciiRun(bytes.first(ascii), curStyleID_, payloadCode);
    if (buffer.y() != rowBefore || _buffer->yDisp() != displayBefore)
        updateRange(buffer.y());
    // The rest, and whatever the run path refused (insert mode, protection, the edge without
    // auto-wrap), goes the slow way. Any placed ASCII character joins nothing, so a stand-in
    // letter is as good as the real one as the previous scalar.
    if (placed < bytes.size())
        handlePrintSlow(bytes.subspan(placed),
                        placed > 0 ? std::optional<char32_t>(placedAsciiStandIn) : std::nullopt);
}

size_t Terminal::printTextLines(std::span<const uint8_t> bytes, size_t start, size_t end)
{
    handlePrintBorrowed(bytes.subspan(start, end - start));
    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    // Made at the first line after the run, and kept: CR LF changes neither the buffer nor the
    // style or link the cells get.
    std::optional<printing::SlowPrint> print;
    Buffer& buffer = *_buffer;
    // Lines the print road would give the slow road whole, and only while no column-switch run,
    // margins, translating set or sequence carried over could send the controls or the text
    // another way. Plain ASCII lines, lone characters and long ASCII starts are left to the
    // parser, which gives them their roads.
    while (length - end >= 3 && data[end] == '\r' && data[end + 1] == '\n' && data[end + 2] >= 0x20 &&
           !columnSwitchRun_.isOpen() && !modes_[TerminalMode::marginMode] && !charsets_.charset() &&
           readingBuffer_.putbackBuffer.empty()) {
        const parserLoop::PrintableRun run = parserLoop::scanPrintableRun(bytes, end + 2);
        const std::span<const uint8_t> text = bytes.subspan(end + 2, run.end - end - 2);
        if (run.ascii || text.size() <= 3 ||
            printing::printableAsciiPrefix(text) > asciiPrefixTakenBySlowRoad)
            break;
        carriageReturnLineFeed();
        if (!print)
            print.emplace(*this, readingBuffer_.putbackBuffer, std::nullopt);
        print->beginLine(buffer.x() == 0 && !buffer.wrapPending());
        updateRange(buffer.y());
        print->run(text);
        updateRange(buffer.y());
        end = run.end;
    }
    return end;
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
