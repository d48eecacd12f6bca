// The parse loop of `EscapeSequenceParser`, as a template over the listener type.
//
// `parseBorrowed` instantiates it for the `ParserListener` interface (tests, fuzzers, any
// listener); the terminal instantiates it for itself, so that the calls for printed runs, controls
// and CSI sequences, the bulk of real output, go straight to its handlers and can be inlined
// instead of passing through the interface's virtual calls. Both instantiations are the same
// state machine; only the call of the listener differs. Include this header only where the loop
// is instantiated.
#pragma once

#include "Kestrovan/ByteRunScanner.h"
#include "Kestrovan/CsiNumberWord.h"
#include "Kestrovan/EscapeSequenceParser.h"
#include "Kestrovan/PaletteColourSgr.h"
#include "Kestrovan/TrueColourShuffle.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrovan {

namespace parserLoop {

constexpr uint8_t ESC = 0x1B;

inline bool isDigit(uint8_t byte)
{
    return static_cast<unsigned>(byte - '0') < 10u;
}

/// A digit or one of the separators ";" and ":".
inline bool isParameterByte(uint8_t byte)
{
    return static_cast<unsigned>(byte - '0') <= static_cast<unsigned>(';' - '0');
}

/// Where a printable run ends, and whether all of it is printable ASCII (0x20-0x7E).
struct PrintableRun
{
    size_t end;
    bool ascii;
};

#if defined(__SSE2__)
/// The 16 bytes at `data` as bit masks: `c0` marks the C0 controls, `high` DEL and the bytes at
/// or above 0x80.
[[gnu::always_inline]] inline void blockMasks(const uint8_t* data, unsigned& c0, unsigned& high)
{
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    c0 = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block)));
    // The sign bit is "at or above 0x80"; DEL is added to it.
    high = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(block, _mm_cmpeq_epi8(block, _mm_set1_epi8(0x7F)))));
}
#endif

/// The end of a printable run starting at `start` (a byte at or above 0x20). With at least a
/// block left in the chunk the scan goes 16 bytes at a time from the start, so the short runs
/// between escape sequences cost one block; the last partial block is read as the chunk's final
/// 16 bytes, its bytes already scanned masked off. Only a chunk shorter than a block is walked
/// byte by byte. The same blocks tell whether the run is all printable ASCII, which spares the
/// terminal's print path a second pass over it to choose its road.
inline PrintableRun scanPrintableRun(std::span<const uint8_t> bytes, size_t start)
{
    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
#if defined(__SSE2__)
    if (length >= ByteRunScanner::blockSize) {
        // Bits of the bytes at or above 0x7F seen so far, before the end.
        unsigned beyondAscii = 0;
        // The run ends in this block at the first bit of `c0`; `high` marks DEL and 8-bit bytes.
        const auto endIn = [&](size_t base, unsigned c0, unsigned high) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(c0));
            return PrintableRun{base + at, (beyondAscii | (high & ((1u << at) - 1))) == 0};
        };
        const auto load = [&](size_t at, unsigned& c0, unsigned& high) { blockMasks(data + at, c0, high); };
        size_t index = start;
        unsigned c0 = 0;
        unsigned high = 0;
        for (; length - index >= ByteRunScanner::blockSize; index += ByteRunScanner::blockSize) {
            load(index, c0, high);
            if (c0 != 0)
                return endIn(index, c0, high);
            beyondAscii |= high;
        }
        if (index == length)
            return {length, beyondAscii == 0};
        // Fewer than 16 bytes left: the final block overlaps what was scanned.
        const size_t last = length - ByteRunScanner::blockSize;
        load(last, c0, high);
        const unsigned unseen = ~0u << (index - last);
        c0 &= unseen;
        high &= unseen;
        if (c0 != 0)
            return endIn(last, c0, high);
        return {length, (beyondAscii | high) == 0};
    }
#endif
    size_t end = start;
    bool ascii = true;
    for (; end < length && data[end] >= 0x20; ++end)
        ascii = ascii && data[end] < 0x7F;
    return {end, ascii};
}

/// `scanPrintableRun` for a run that mostly ends within 16 bytes, the text of a field after a
/// cursor position: with a block left in the chunk, the first block is scanned inline, and only
/// a longer run is left to the general scan.
[[gnu::always_inline]] inline PrintableRun scanShortPrintableRun(std::span<const uint8_t> bytes, size_t start)
{
#if defined(__SSE2__)
    if (bytes.size() - start >= ByteRunScanner::blockSize) {
        unsigned c0 = 0;
        unsigned high = 0;
        blockMasks(bytes.data() + start, c0, high);
        if (c0 != 0) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(c0));
            return {start + at, (high & ((1u << at) - 1)) == 0};
        }
        // A longer run: the general scan goes on after the block.
        const PrintableRun rest = scanPrintableRun(bytes, start + ByteRunScanner::blockSize);
        return {rest.end, rest.ascii && high == 0};
    }
#endif
    return scanPrintableRun(bytes, start);
}

/// Folds the parameter bytes (digits, ";" and ":") from `index` into the sequence's parameters
/// and answers where they end. The open parameter is accumulated in a register and stored once
/// per separator. A 25th parameter marks the sequence too long; the rest of its parameter bytes
/// are then only skipped.
template <typename Scratch>
[[gnu::always_inline]] inline size_t foldParameterBytes(const uint8_t* data, size_t index, size_t length,
                                                        Scratch& s)
{
    if (!s.parameterLimitExceeded) {
        CsiParameterStorage& pars = s.pars;
        int64_t* open = &pars.storage[static_cast<size_t>(pars.count - 1)];
        int64_t value = *open;
        for (; index < length; ++index) {
            const unsigned digit = static_cast<unsigned>(data[index] - '0');
            if (digit < 10) {
                value = CsiParameterStorage::foldDigit(value, static_cast<int>(digit));
                continue;
            }
            if (digit > static_cast<unsigned>(';' - '0'))
                break;
            *open = value;
            if (!pars.openParameter(data[index] == ':', s.colonMask)) {
                // A 25th parameter: the whole sequence will be dropped.
                s.parameterLimitExceeded = true;
                ++index;
                break;
            }
            open = &pars.storage[static_cast<size_t>(pars.count - 1)];
            value = 0;
        }
        if (!s.parameterLimitExceeded) {
            *open = value;
            return index;
        }
    }
    while (index < length && isParameterByte(data[index]))
        ++index;
    return index;
}

/// The start of a CSI sequence's parameters, read without the sequence state: one or two
/// parameters of up to four digits each and a final byte make the whole sequence, the shape of
/// the cursor positions, line erases, scroll regions and short SGRs full-screen programs send
/// around nearly every field they draw. Anything longer is left to the parameter fold from where
/// the reading stopped.
struct ShortCsi
{
    /// Just after the final byte when the sequence was read whole; otherwise where the reading
    /// stopped, `values` holding the `count` parameters so far, the last one still open.
    size_t end = 0;
    uint8_t finalByte = 0;
    int count = 1;
    int64_t values[2] = {0, 0};
};

/// Reads a `ShortCsi` whose parameters start at `at` (just after "ESC [") into `csi` and answers
/// whether it holds the whole sequence. `csi` is filled in place: a copy of the struct would be
/// read back in wider pieces than it was written in, which the processor cannot forward from its
/// stores.
[[gnu::always_inline]] inline bool readShortCsi(const uint8_t* data, size_t at, size_t length, ShortCsi& csi)
{
    // Away from the chunk's end, each parameter and the byte after it are read as one word, with
    // the byte road's result for every shape: at most four digits are taken, and whatever ends
    // the sequence early stops the reading where that road stops it.
    const auto isFinal = [](unsigned byte) { return byte - 0x40 <= 0x7Eu - 0x40; };
    size_t index = at;
    int parameter = 0;
    if (length - at >= sizeof(uint64_t)) {
        const uint64_t first = csiNumberWord::digitValues(csiNumberWord::load(data + at));
        const unsigned firstDigits = std::min(csiNumberWord::leadingDigits(first), 4u);
        const unsigned afterFirst = data[at + firstDigits];
        csi.values[0] = csiNumberWord::fourDigitValue(first, firstDigits);
        csi.count = 1;
        csi.end = at + firstDigits;
        if (isFinal(afterFirst)) {
            csi.finalByte = static_cast<uint8_t>(afterFirst);
            csi.end += 1;
            return true;
        }
        if (afterFirst != ';')
            return false;
        index = csi.end + 1;
        parameter = 1;
        if (length - index >= sizeof(uint64_t)) {
            const uint64_t second = csiNumberWord::digitValues(csiNumberWord::load(data + index));
            const unsigned secondDigits = std::min(csiNumberWord::leadingDigits(second), 4u);
            const unsigned afterSecond = data[index + secondDigits];
            csi.values[1] = csiNumberWord::fourDigitValue(second, secondDigits);
            csi.count = 2;
            csi.end = index + secondDigits;
            if (!isFinal(afterSecond))
                return false;
            csi.finalByte = static_cast<uint8_t>(afterSecond);
            csi.end += 1;
            return true;
        }
    }
    // Near the chunk's end, byte by byte from the parameter the word road reached.
    for (;; ++parameter) {
        // Four digits at most: up to 9999 no value reaches the fold's saturation (65535), so the
        // fold can go on with a fifth as if it had read the first four itself.
        const size_t digitsEnd = std::min(length, index + 4);
        int64_t value = 0;
        while (index < digitsEnd && isDigit(data[index])) {
            value = value * 10 + (data[index] - '0');
            ++index;
        }
        csi.values[parameter] = value;
        csi.count = parameter + 1;
        csi.end = index;
        if (index == length)
            return false;
        const uint8_t byte = data[index];
        if (byte >= 0x40 && byte <= 0x7E) {
            csi.finalByte = byte;
            csi.end = index + 1;
            return true;
        }
        // A fifth digit, a third parameter, a colon, an intermediate or a control.
        if (byte != ';' || parameter == 1)
            return false;
        ++index;
    }
}

/// The parameters and final byte of a sequence of two numbers of up to four digits each, "8;20r"
/// or "row;colH", when they lie in the eight bytes at `at` (just after "ESC ["): with `finalByte`
/// 0 any final byte ends them, otherwise only `finalByte`. Answers how many bytes they take, the
/// last of them the final, with the two numbers in `first` and `second`, or 0 for any other shape
/// or a chunk ending within the word, which `readShortCsi` then reads. Both numbers come from one
/// word: a ";" neither borrows nor carries between bytes, so the digits after it and the byte that
/// ends them are marked as if read from a word of their own. What this reads, `readShortCsi` reads
/// the same.
[[gnu::always_inline]] inline size_t readTwoParameterWord(const uint8_t* data, size_t at, size_t length,
                                                          uint8_t finalByte, int64_t& first, int64_t& second)
{
    if (length - at < sizeof(uint64_t))
        return 0;
    const uint64_t values = csiNumberWord::digitValues(csiNumberWord::load(data + at));
    const uint64_t marks = csiNumberWord::nonDigitMarks(values);
    // The second mark, cleared with the first when the word holds no more.
    const uint64_t laterMarks = marks & (marks - 1);
    if (laterMarks == 0)
        return 0;
    const unsigned firstDigits = static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
    const unsigned secondEnd = static_cast<unsigned>(__builtin_ctzll(laterMarks)) / 8;
    const unsigned secondDigits = secondEnd - firstDigits - 1;
    const unsigned last = data[at + secondEnd];
    const bool ended = finalByte != 0 ? last == finalByte : last - 0x40 <= 0x7Eu - 0x40;
    if (firstDigits > 4 || secondDigits > 4 || data[at + firstDigits] != ';' || !ended)
        return 0;
    first = csiNumberWord::fourDigitValue(values, firstDigits);
    second = csiNumberWord::fourDigitValue(values >> (8 * (firstDigits + 1)), secondDigits);
    return secondEnd + 1;
}

/// A cursor position of the shape a redraw sends, "row;colH", read by `readTwoParameterWord`.
[[gnu::always_inline]] inline size_t readCursorPositionWord(const uint8_t* data, size_t at, size_t length,
                                                            int64_t& row, int64_t& col)
{
    return readTwoParameterWord(data, at, length, 'H', row, col);
}

/// A sequence `readCsiWord` read whole. Its fields are written by the reading, not before it.
struct CsiWord
{
    int64_t values[2];
    int count;
    uint8_t finalByte;
};

/// A whole CSI sequence of one or two parameters of up to four digits each and a final byte, the
/// shape of nearly every cursor position, line erase, scroll region and short SGR, when all of it
/// lies in the eight bytes at `at` (just after "ESC ["): answers how many bytes it takes, with the
/// parameters in `csi.values` (the second 0 when there is one) and `csi.count` and its final in
/// `csi.finalByte`, or 0 for any other shape or a chunk ending within the word, which the loop
/// then reads the longer way. The parameters come from the one word as `readCursorPositionWord`
/// reads them; what this reads, `readShortCsi` reads the same.
[[gnu::always_inline]] inline size_t readCsiWord(const uint8_t* data, size_t at, size_t length, CsiWord& csi)
{
    if (length - at < sizeof(uint64_t))
        return 0;
    const uint64_t word = csiNumberWord::load(data + at);
    const uint64_t values = csiNumberWord::digitValues(word);
    const uint64_t marks = csiNumberWord::nonDigitMarks(values);
    if (marks == 0)
        return 0;
    const auto isFinal = [](unsigned byte) { return byte - 0x40 <= 0x7Eu - 0x40; };
    const unsigned firstDigits = static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
    const auto afterFirst = static_cast<unsigned>(word >> (8 * firstDigits)) & 0xFF;
    if (firstDigits > 4)
        return 0;
    if (isFinal(afterFirst)) {
        csi.values[0] = csiNumberWord::fourDigitValue(values, firstDigits);
        csi.values[1] = 0;
        csi.count = 1;
        csi.finalByte = static_cast<uint8_t>(afterFirst);
        return firstDigits + 1;
    }
    // The second mark, cleared with the first when the word holds no more. Past a ";" the marks
    // are as good as the first: it neither borrows nor carries. A colour's "38;" or "48;", which
    // brings more parameters, is left at once (as little-endian words, 0x3B3833 and 0x3B3834).
    const uint64_t laterMarks = marks & (marks - 1);
    const auto opener = static_cast<uint32_t>(word) & 0xFFFFFF;
    if (afterFirst != ';' || laterMarks == 0 || opener == 0x3B3833 || opener == 0x3B3834)
        return 0;
    csi.values[0] = csiNumberWord::fourDigitValue(values, firstDigits);
    const unsigned secondEnd = static_cast<unsigned>(__builtin_ctzll(laterMarks)) / 8;
    const unsigned secondDigits = secondEnd - firstDigits - 1;
    const auto afterSecond = static_cast<unsigned>(word >> (8 * secondEnd)) & 0xFF;
    if (secondDigits > 4 || !isFinal(afterSecond))
        return 0;
    csi.values[1] = csiNumberWord::fourDigitValue(values >> (8 * (firstDigits + 1)), secondDigits);
    csi.count = 2;
    csi.finalByte = static_cast<uint8_t>(afterSecond);
    return secondEnd + 1;
}

/// A whole CSI sequence of one or two parameters of up to four digits each and a final byte,
/// "ESC [" included, at `at`, read into `csi` for `dispatchRegionRun`: answers its size, or 0 for
/// anything else or a chunk ending within the word after "ESC [". Two parameters, the shape of the
/// regions and the positions a pager sends, are read by `readTwoParameterWord`, which does without
/// `readCsiWord`'s tests for the other shapes.
[[gnu::always_inline]] inline size_t readRegionRunSequence(const uint8_t* data, size_t at, size_t length,
                                                           CsiWord& csi)
{
    if (length - at < 2 + sizeof(uint64_t) || data[at] != ESC || data[at + 1] != '[')
        return 0;
    if (const size_t size = readTwoParameterWord(data, at + 2, length, 0, csi.values[0], csi.values[1])) {
        csi.count = 2;
        csi.finalByte = data[at + 1 + size];
        return 2 + size;
    }
    const size_t size = readCsiWord(data, at + 2, length, csi);
    return size == 0 ? 0 : 2 + size;
}

} // namespace parserLoop

/// A CSI sequence without intermediates, read whole by the parse loop, whose final is not "m":
/// CUP and EL 0, which full-screen programs send around nearly every field they draw, and DECSTBM,
/// which pagers and editors send around every scroll of part of the screen, go to a listener that
/// takes them directly; every other one is dispatched.
template <typename Listener>
[[gnu::always_inline]] inline void
EscapeSequenceParser::dispatchPlainCsi(uint8_t finalByte, const CsiParameters& pars, Listener& listener)
{
    if constexpr (requires {
                      listener.dispatchCursorPosition(CsiParameters());
                      listener.eraseToEndOfLine();
                      listener.dispatchScrollRegion(CsiParameters());
                  }) {
        if (finalByte == 'H') {
            listener.dispatchCursorPosition(pars);
            return;
        }
        if (finalByte == 'K' && pars.count == 1 && pars.base[0] == 0) {
            listener.eraseToEndOfLine();
            return;
        }
        if (finalByte == 'r') {
            listener.dispatchScrollRegion(pars);
            return;
        }
    }
    listener.dispatchCsi(finalByte, pars, {});
}

/// A cursor position is mostly followed by the text of the field it addresses, and that often by
/// an erase of the rest of the line: a run of printable ASCII right after it goes to a listener
/// that takes it with the position in one call, together with a "CSI K" right after the run. The
/// run is the one the text road's scan would find, so the result is the same as dispatching the
/// three one by one. A screen redraw sends field after field: a cursor position right after the
/// field, read whole, goes on to `dispatchFieldRun`. Anything else after the position is left to
/// the loop.
template <typename Listener>
[[gnu::always_inline]] inline size_t
EscapeSequenceParser::dispatchCursorPositionAndText(const CsiParameters& pars, std::span<const uint8_t> bytes,
                                                    size_t at, Listener& listener)
{
    using namespace parserLoop;
    if constexpr (requires { listener.placeAsciiAtCursorPosition(pars, bytes, TextThen::nothing); }) {
        const uint8_t* data = bytes.data();
        const size_t length = bytes.size();
        if (at < length && data[at] >= 0x20) {
            const PrintableRun run = scanShortPrintableRun(bytes, at);
            if (run.ascii) {
                const bool erase = length - run.end >= 3 && data[run.end] == ESC &&
                                   data[run.end + 1] == '[' && data[run.end + 2] == 'K';
                listener.placeAsciiAtCursorPosition(pars, bytes.subspan(at, run.end - at),
                                                    erase ? TextThen::eraseToEndOfLine : TextThen::nothing);
                const size_t end = erase ? run.end + 3 : run.end;
                if (length - end < 3 || data[end] != ESC || data[end + 1] != '[')
                    return end;
                ShortCsi next;
                if (!readShortCsi(data, end + 2, length, next) || next.finalByte != 'H')
                    return end;
                return dispatchFieldRun(next, bytes, next.end, listener);
            }
        }
    }
    dispatchPlainCsi('H', pars, listener);
    return at;
}

/// The fields of a redraw after its first, each a cursor position read whole, its text and
/// maybe an erase, are taken the same way without going back to the loop (none of these calls
/// resets the parser, and the sequence state stays the ground the loop left), as one run the
/// listener checks its state for once. Out of line, so that the parse loop keeps its registers
/// for its own roads and the run its own for the fields: the position read and the run's state
/// stay in registers from one field to the next.
template <typename Listener>
[[gnu::noinline]] size_t EscapeSequenceParser::dispatchFieldRun(const parserLoop::ShortCsi& position,
                                                                std::span<const uint8_t> bytes, size_t at,
                                                                Listener& listener)
{
    using namespace parserLoop;
    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    int64_t row = position.values[0];
    int64_t col = position.values[1];
    int count = position.count;
    if (at < length && data[at] >= 0x20) {
        auto run = listener.beginAsciiFieldRun();
        do {
            const PrintableRun text = scanShortPrintableRun(bytes, at);
            if (!text.ascii)
                break;
            const bool erase = length - text.end >= 3 && data[text.end] == ESC && data[text.end + 1] == '[' &&
                               data[text.end + 2] == 'K';
            listener.placeAsciiFieldInRun(run, row, col, count, bytes.subspan(at, text.end - at),
                                          erase ? TextThen::eraseToEndOfLine : TextThen::nothing);
            const size_t end = erase ? text.end + 3 : text.end;
            if (length - end < 3 || data[end] != ESC || data[end + 1] != '[') {
                listener.endAsciiFieldRun(run);
                return end;
            }
            // A redraw's position mostly fits in one word; any other shape is read the usual way.
            if (const size_t size = readCursorPositionWord(data, end + 2, length, row, col)) {
                count = 2;
                at = end + 2 + size;
                continue;
            }
            ShortCsi next;
            if (!readShortCsi(data, end + 2, length, next) || next.finalByte != 'H') {
                listener.endAsciiFieldRun(run);
                return end;
            }
            row = next.values[0];
            col = next.values[1];
            count = next.count;
            at = next.end;
        } while (at < length && data[at] >= 0x20);
        listener.endAsciiFieldRun(run);
    }
    const int64_t values[2] = {row, col};
    dispatchPlainCsi('H', CsiParameters(values, count), listener);
    return at;
}

/// A pager or an editor scrolls part of the screen with a region set around every scroll: DECSTBM,
/// a CUP inside the region with mostly some text, an erase or lines inserted or deleted, line
/// feeds (or CR LF), and DECSTBM
/// again, which resets the region and is mostly followed at once by the next region. After a
/// DECSTBM read whole, such traffic is taken here without going back to the loop (none of these
/// calls resets the parser, and the sequence state stays the ground the loop left), and a region
/// set right after another, the reset and the next region, goes to a listener that takes the two
/// in one call. Anything else is left to the loop where it starts. Each sequence is read once: the
/// one read after a region, to see whether it is another, is the next one taken. Out of line, like
/// `dispatchFieldRun`, so that the loop keeps its registers for its own roads.
template <typename Listener>
[[gnu::noinline]] size_t EscapeSequenceParser::dispatchRegionRun(const parserLoop::CsiWord& region,
                                                                 std::span<const uint8_t> bytes, size_t at,
                                                                 Listener& listener)
{
    using namespace parserLoop;
    if constexpr (requires {
                      listener.dispatchScrollRegionPair(CsiParameters(), CsiParameters());
                      listener.lineFeeds(size_t());
                      listener.carriageReturnLineFeed();
                  }) {
        const uint8_t* data = bytes.data();
        const size_t length = bytes.size();
        // The region read last and not yet dispatched.
        CsiWord pending = region;
        // The sequence at `at` when `size` is not 0, read and not yet taken.
        CsiWord next;
        size_t size = readRegionRunSequence(data, at, length, next);
        for (;;) {
            // The region, and the one right after it when another follows read whole.
            if (size != 0 && next.finalByte == 'r') {
                listener.dispatchScrollRegionPair(CsiParameters(pending.values, pending.count),
                                                  CsiParameters(next.values, next.count));
                at += size;
                size = 0;
            } else {
                listener.dispatchScrollRegion(CsiParameters(pending.values, pending.count));
            }
            // Positions with their text or an erase, and line feeds, until the next region.
            for (;;) {
                if (size == 0) {
                    if (at < length && data[at] == '\n') {
                        size_t end = at + 1;
                        while (end < length && data[end] == '\n')
                            ++end;
                        listener.lineFeeds(end - at);
                        at = end;
                    } else if (length - at >= 2 && data[at] == '\r' && data[at + 1] == '\n') {
                        listener.carriageReturnLineFeed();
                        at += 2;
                    }
                    // The reset, with no parameters, is told apart without the word.
                    if (length - at >= 2 + sizeof(uint64_t) && data[at] == ESC && data[at + 1] == '[' &&
                        data[at + 2] == 'r') {
                        pending.values[0] = 0;
                        pending.values[1] = 0;
                        pending.count = 1;
                        at += 3;
                        size = readRegionRunSequence(data, at, length, next);
                        break;
                    }
                    if ((size = readRegionRunSequence(data, at, length, next)) == 0)
                        return at;
                }
                if (next.finalByte == 'r') {
                    pending = next;
                    at += size;
                    size = readRegionRunSequence(data, at, length, next);
                    break;
                }
                if (next.finalByte == 'H') {
                    at = dispatchCursorPositionAndText(CsiParameters(next.values, next.count), bytes,
                                                       at + size, listener);
                } else if (next.finalByte == 'K' || next.finalByte == 'L' || next.finalByte == 'M') {
                    // EL, and IL and DL, an editor's scroll of the lines below the cursor.
                    at += size;
                    dispatchPlainCsi(next.finalByte, CsiParameters(next.values, next.count), listener);
                } else {
                    return at;
                }
                size = 0;
            }
        }
    } else {
        dispatchPlainCsi('r', CsiParameters(region.values, region.count), listener);
        return at;
    }
}

template <typename Listener>
void EscapeSequenceParser::parseBorrowedDirect(std::span<const uint8_t> bytes, Listener& listener)
{
    using namespace parserLoop;
    ++parseDepth;
    platform::SignpostID signpost = platform::invalidSignpostID;
    if (profiling_) [[unlikely]]
        signpost = beginParseSignpost();

    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    // The sequence state lives in locals for the chunk: the compiler can keep it out of memory
    // across the listener's virtual calls, and a nested parse started from inside a call works on
    // the stored copy. It is written back at the end of the chunk.
    Scratch s = loadScratch();
    uint64_t seenResetSerial = resetSerial;
    // Start of DCS payload not yet handed to the handler, or -1.
    ptrdiff_t dcsStart = -1;
    size_t i = 0;

    // A listener call may reset the parser (ESC c). The reset state then replaces the loop's own,
    // so that the rest of the chunk, and any sequence it leaves unfinished, continue from it.
    auto adoptReset = [&] {
        if (didResetDuringParse && resetSerial != seenResetSerial) [[unlikely]] {
            seenResetSerial = resetSerial;
            s = loadScratch();
            dcsStart = -1;
        }
    };

    // What follows a reset of the look is mostly the space before the next coloured word: a run
    // of one to three printable ASCII bytes up to a control is the run the text road's scan would
    // find, and is printed without it. Answers where the loop goes on.
    // Like the loop itself, the lambdas that call the listener run under whatever lock the
    // loop's caller holds for it, which the analysis cannot see into a lambda.
    auto printShortTextAfterReset = [&](std::span<const uint8_t> chunk, size_t at, auto& to)
        __attribute__((always_inline)) NO_THREAD_SAFETY_ANALYSIS
    {
        const size_t run = shortTextBeforeControl(data, at, length);
        if (run == 0 || !std::all_of(data + at, data + at + run, [](uint8_t b) { return b < 0x7F; }))
            return at;
        to.handlePrintableAsciiBorrowed(chunk.subspan(at, run));
        adoptReset();
        return at + run;
    };

    if (stringRunOpen_ && (s.state == ParserState::oscString || s.state == ParserState::apcString)) {
        i = s.state == ParserState::oscString ? consumeOscRun(bytes, 0, s, listener)
                                              : consumeApcRun(bytes, 0);
        adoptReset();
    }

    while (i < length) {
        const uint8_t byte = data[i];

        if (s.state == ParserState::ground) {
            // Text: everything at or above 0x20 in ground is printed, DEL and 8-bit C1 included, so
            // C1 controls are never recognised here (they would break UTF-8).
            if (byte >= 0x20) {
                const PrintableRun run = scanPrintableRun(bytes, i);
                const std::span<const uint8_t> text = bytes.subspan(i, run.end - i);
                size_t end = run.end;
                // A listener that has a road for printable ASCII alone is told when it may take it;
                // one with a road for lines of other text, ended by CR LF, goes on with them.
                if constexpr (requires { listener.handlePrintableAsciiBorrowed(text); }) {
                    if (run.ascii)
                        listener.handlePrintableAsciiBorrowed(text);
                    else if constexpr (requires { listener.printTextLines(bytes, i, end); })
                        end = listener.printTextLines(bytes, i, end);
                    else
                        listener.handlePrintBorrowed(text);
                } else {
                    listener.handlePrintBorrowed(text);
                }
                i = end;
                adoptReset();
                continue;
            }
            // ESC [ with parameters and a final byte: the table's clear, clear, parameter and
            // dispatch actions, inlined. Anything else after the parameters (an intermediate, a
            // private marker, a control, the end of the chunk) leaves the sequence in the state the
            // table would have reached, and the loop goes on from there.
            if (byte == ESC) {
                if (i + 1 < length && data[i + 1] == '[') {
                    // Whether the chunk holds a word of parameters for the word road.
                    [[maybe_unused]] bool wordRoad = false;
                    // A whole sequence of one or two short parameters, read from one word, goes to
                    // the listener's road for it without the sequence state: a sequence dispatched
                    // whole leaves that state as the loop found it, ground, and the next sequence
                    // clears what is left in it. Such sequences mostly follow one another, or
                    // come around a few words: the text after an SGR and the sequence right after
                    // a sequence or that text are taken here too, without going back to the loop.
                    // Colour SGRs and any other shape are read the longer way below, from the
                    // "ESC [" the road stopped at; anything else goes back to the loop.
                    if constexpr (requires {
                                      listener.dispatchCursorPosition(CsiParameters());
                                      listener.dispatchSgrReset(CsiParameters());
                                      listener.handlePrintableAsciiBorrowed(bytes);
                                  }) {
                        wordRoad = length - i >= 2 + sizeof(uint64_t);
                        bool backToLoop = false;
                        // The text drawn in the look an SGR set, as the text road takes it.
                        const auto printTextAfterSgr = [&](size_t & at) __attribute__((always_inline))
                        NO_THREAD_SAFETY_ANALYSIS
                        {
                            if (at < length && data[at] >= 0x20 &&
                                !(didResetDuringParse && resetSerial != seenResetSerial)) {
                                const PrintableRun run = scanPrintableRun(bytes, at);
                                if (run.ascii)
                                    listener.handlePrintableAsciiBorrowed(bytes.subspan(at, run.end - at));
                                else
                                    listener.handlePrintBorrowed(bytes.subspan(at, run.end - at));
                                at = run.end;
                                // More coloured words mostly follow on the row: a listener that
                                // takes them itself goes on from here when the text was a word and
                                // the space after it, and the next sequence may be an SGR (its
                                // first byte that is no parameter byte is an "m", or a colour's
                                // parameters fill the word). A reset mostly ends the coloured
                                // text, and is taken on only where CR LF ends the line after it.
                                // Single letters, pictures and fields go on in the loop.
                                if constexpr (requires { listener.continueColouredWords(bytes, at); }) {
                                    if (data[at - 1] == ' ' && length - at >= 2 + sizeof(uint64_t) &&
                                        data[at] == ESC && data[at + 1] == '[') {
                                        const uint64_t word = csiNumberWord::load(data + at + 2);
                                        const uint64_t others =
                                            (word & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull;
                                        bool takeOn = others == 0;
                                        if (!takeOn) {
                                            const unsigned shift =
                                                static_cast<unsigned>(__builtin_ctzll(others)) & 56u;
                                            const bool reset =
                                                shift == 0 || (shift == 8 && (word & 0xFF) == '0');
                                            takeOn = ((word >> shift) & 0xFF) == 'm' &&
                                                     (!reset || ((word >> (shift + 8)) & 0xFFFF) == 0x0A0D);
                                        }
                                        if (takeOn)
                                            at = listener.continueColouredWords(bytes, at);
                                    }
                                }
                            }
                        };
                        CsiWord csi;
                        while (wordRoad) {
                            // CSI 0 m and CSI m, the reset after nearly every coloured word, are
                            // told apart first, without the word.
                            const uint8_t first = data[i + 2];
                            if (first == 'm' || (first == '0' && data[i + 3] == 'm')) {
                                i += first == 'm' ? 3 : 4;
                                _parsColonMask = 0;
                                static constexpr int64_t zero = 0;
                                listener.dispatchSgrReset(CsiParameters(&zero, 1));
                                if (didResetDuringParse && resetSerial != seenResetSerial) [[unlikely]] {
                                    adoptReset();
                                    backToLoop = true;
                                    break;
                                }
                                i = printShortTextAfterReset(bytes, i, listener);
                            } else if (const size_t size = readCsiWord(data, i + 2, length, csi); size == 0) {
                                // A whole 38;5;n m or 48;5;n m, and the text drawn in it.
                                if constexpr (requires { listener.applyPaletteColour(true, uint8_t()); }) {
                                    const uint64_t introducer = colourIntroducerDifference(data, i + 2);
                                    const PaletteColourSgr sgr =
                                        introducer == paletteIntroducerDifference ||
                                                introducer == (paletteIntroducerDifference | ('4' ^ '3'))
                                            ? readPaletteColour(data, i + 2, length,
                                                                introducer != paletteIntroducerDifference)
                                            : PaletteColourSgr();
                                    if (sgr.end == 0)
                                        break;
                                    _parsColonMask = 0;
                                    i = sgr.end;
                                    listener.applyPaletteColour(sgr.background, sgr.index);
                                    printTextAfterSgr(i);
                                } else {
                                    break;
                                }
                            } else {
                                i += 2 + size;
                                const CsiParameters pars(csi.values, csi.count);
                                if (csi.finalByte == 'H') {
                                    i = dispatchCursorPositionAndText(pars, bytes, i, listener);
                                } else if (csi.finalByte != 'm') {
                                    if (csi.finalByte == 'r')
                                        i = dispatchRegionRun(csi, bytes, i, listener);
                                    else
                                        dispatchPlainCsi(csi.finalByte, pars, listener);
                                } else if (csi.count == 1 && csi.values[0] == 0) {
                                    _parsColonMask = 0;
                                    listener.dispatchSgrReset(pars);
                                    if (didResetDuringParse && resetSerial != seenResetSerial) [[unlikely]] {
                                        adoptReset();
                                        backToLoop = true;
                                        break;
                                    }
                                    i = printShortTextAfterReset(bytes, i, listener);
                                } else {
                                    _parsColonMask = 0;
                                    if constexpr (requires {
                                                      listener.applyShortSgr(int64_t(), int64_t(), int());
                                                  })
                                        listener.applyShortSgr(csi.values[0], csi.values[1], csi.count);
                                    else
                                        listener.dispatchCsi('m', pars, {});
                                    printTextAfterSgr(i);
                                }
                            }
                            if (didResetDuringParse && resetSerial != seenResetSerial) [[unlikely]] {
                                adoptReset();
                                backToLoop = true;
                                break;
                            }
                            wordRoad = length - i >= 2 + sizeof(uint64_t);
                            if (!wordRoad || data[i] != ESC || data[i + 1] != '[') {
                                backToLoop = true;
                                break;
                            }
                        }
                        if (backToLoop)
                            continue;
                    }
                    clearSequence(s);
                    // CSI 0 m and CSI m, which coloured output sends after nearly every coloured
                    // word, go to a listener that takes them directly without the parameter fold:
                    // the cleared parameters already are the one 0 the fold would leave.
                    if constexpr (requires {
                                      listener.dispatchSgrReset(CsiParameters());
                                      listener.handlePrintableAsciiBorrowed(bytes);
                                  }) {
                        // The word road above takes both whenever it has a word to read.
                        const size_t end = i + 2 + (i + 2 < length && data[i + 2] == '0');
                        if (!wordRoad && end < length && data[end] == 'm') {
                            s.state = ParserState::ground;
                            _parsColonMask = 0;
                            i = end + 1;
                            listener.dispatchSgrReset(CsiParameters(s.pars));
                            adoptReset();
                            if (s.state == ParserState::ground)
                                i = printShortTextAfterReset(bytes, i, listener);
                            continue;
                        }
                    }
                    s.state = ParserState::csiEntry;
                    i += 2;
                    if (i < length && (isDigit(data[i]) || data[i] == ';')) {
                        s.state = ParserState::csiParam;
                        // What opens the parameters, against "38;2;": 0 for a foreground true colour,
                        // 7 for a background one, and 0x07000000 or 0x07000007 for "38;5;" and "48;5;".
                        const uint64_t introducer = length - i >= sizeof(uint64_t)
                                                        ? colourIntroducerDifference(data, i)
                                                        : ~uint64_t(0);
                        const int colourKind = introducer == 0 ? 1 : introducer == ('4' ^ '3') ? 2 : 0;
                        if (colourKind != 0) {
                            // A listener that takes true colours directly gets a whole sequence
                            // of one or two colour groups without the parameter store; any other
                            // shape is folded as usual.
                            if constexpr (requires {
                                              listener.applyTrueColours(uint32_t(), uint32_t());
                                              listener.applyTrueColourRun(uint32_t(), uint32_t(), bytes,
                                                                          size_t(), size_t());
                                          }) {
                                TrueColourSgr sgr = readTrueColourSgr(data, i, length, colourKind);
                                if (sgr.end != 0) {
                                    s.state = ParserState::ground;
                                    for (;;) {
                                        _parsColonMask = 0;
                                        i = sgr.end;
                                        // The character drawn in these colours mostly follows
                                        // alone, up to the next sequence: a run of one to three
                                        // bytes goes with the colours in one call, without the
                                        // text road's scan.
                                        const size_t run = shortTextBeforeControl(data, i, length);
                                        if (run != 0) {
                                            i = listener.applyTrueColourRun(sgr.foreground, sgr.background,
                                                                            bytes, i, run);
                                        } else {
                                            listener.applyTrueColours(sgr.foreground, sgr.background);
                                        }
                                        if (didResetDuringParse && resetSerial != seenResetSerial)
                                            break;
                                        // Rainbow text and pictures put the next such sequence
                                        // right after: it is read here, without the loop's
                                        // dispatch. The sequence state is still the clear one
                                        // of this sequence's start, and ground, so a sequence
                                        // the reader does not take, like any other bytes, goes
                                        // back to the loop as if this road had not been tried.
                                        if (length - i < 2 + sizeof(uint64_t) || data[i] != ESC ||
                                            data[i + 1] != '[')
                                            break;
                                        const int nextKind = trueColourIntroducer(data, i + 2);
                                        if (nextKind == 0)
                                            break;
                                        sgr = readTrueColourSgr(data, i + 2, length, nextKind);
                                        if (sgr.end == 0)
                                            break;
                                    }
                                    adoptReset();
                                    continue;
                                }
                            }
                            i = foldLeadingTrueColours(data, i, length, s.pars);
                        } else if constexpr (requires { listener.applyPaletteColour(true, uint8_t()); }) {
                            // A whole 38;5;n m or 48;5;n m likewise goes to a listener that takes it.
                            const PaletteColourSgr sgr =
                                introducer == paletteIntroducerDifference ||
                                        introducer == (paletteIntroducerDifference | ('4' ^ '3'))
                                    ? readPaletteColour(data, i, length,
                                                        introducer != paletteIntroducerDifference)
                                    : PaletteColourSgr();
                            if (sgr.end != 0) {
                                s.state = ParserState::ground;
                                _parsColonMask = 0;
                                i = sgr.end;
                                listener.applyPaletteColour(sgr.background, sgr.index);
                                adoptReset();
                                continue;
                            }
                        }
                        // One or two short parameters, the cursor positions and scroll regions of
                        // full-screen programs among them, are read and dispatched without the
                        // sequence state; anything longer is folded on from where the reading
                        // stopped. (True colours the reader above did not take are folded in part
                        // already, so the short reader does not start after them.)
                        if constexpr (requires { listener.dispatchCursorPosition(CsiParameters()); }) {
                            ShortCsi csi;
                            if (colourKind == 0) {
                                if (readShortCsi(data, i, length, csi)) {
                                    s.state = ParserState::ground;
                                    const CsiParameters pars(csi.values, csi.count);
                                    i = csi.end;
                                    if (csi.finalByte == 'H') {
                                        i = dispatchCursorPositionAndText(pars, bytes, i, listener);
                                    } else if (csi.finalByte == 'm') {
                                        _parsColonMask = 0;
                                        listener.dispatchCsi('m', pars, {});
                                    } else {
                                        dispatchPlainCsi(csi.finalByte, pars, listener);
                                    }
                                    adoptReset();
                                    continue;
                                }
                                // The fold goes on with what was read, as if it had read it.
                                for (int index = 0; index < csi.count; ++index)
                                    s.pars.storage[static_cast<size_t>(index)] = csi.values[index];
                                s.pars.count = csi.count;
                                i = csi.end;
                            }
                        }
                        i = foldParameterBytes(data, i, length, s);
                    }
                    if (i < length && data[i] >= 0x40 && data[i] <= 0x7E) {
                        const uint8_t finalByte = data[i];
                        s.state = ParserState::ground;
                        ++i;
                        if (!s.parameterLimitExceeded) {
                            if (finalByte == 'm') {
                                _parsColonMask = s.colonMask;
                                listener.dispatchCsi(finalByte, CsiParameters(s.pars), {});
                            } else if (finalByte == 'H') {
                                i = dispatchCursorPositionAndText(CsiParameters(s.pars), bytes, i, listener);
                            } else {
                                dispatchPlainCsi(finalByte, CsiParameters(s.pars), listener);
                            }
                        }
                        adoptReset();
                    }
                    continue;
                }
            } else if (byte != 0x19) {
                // Every other C0 control in ground executes and stays in ground; 0x19 is the
                // table's parsing error. A listener with a road for CR LF, the end of nearly every
                // line of output, takes the pair in one call.
                if constexpr (requires { listener.carriageReturnLineFeed(); }) {
                    if (byte == '\r' && i + 1 < length && data[i + 1] == '\n') {
                        listener.carriageReturnLineFeed();
                        i += 2;
                        adoptReset();
                        continue;
                    }
                }
                // Line feeds in a row, a pager's or an editor's scroll, go to a listener that takes
                // them together.
                if constexpr (requires { listener.lineFeeds(size_t()); }) {
                    if (byte == '\n') {
                        size_t end = i + 1;
                        while (end < length && data[end] == '\n')
                            ++end;
                        listener.lineFeeds(end - i);
                        i = end;
                        adoptReset();
                        continue;
                    }
                }
                listener.dispatchExecute(byte);
                ++i;
                adoptReset();
                continue;
            }
        }

        // CSI parameters: digits are folded straight into the last parameter and separators open
        // the next one, without a table lookup per byte (the table's "parameter" action, inlined).
        // A colon cannot open a CSI, so in csiEntry it is left to the table (a parsing error).
        if ((s.state == ParserState::csiParam && isParameterByte(byte)) ||
            (s.state == ParserState::csiEntry && (isDigit(byte) || byte == ';'))) {
            s.state = ParserState::csiParam;
            i = foldParameterBytes(data, i, length, s);
            continue;
        }

        const uint8_t entry = table.entry(s.state, byte);
        const auto action = static_cast<ParserAction>(entry >> 4);
        const auto next = static_cast<ParserState>(entry & 0x0F);

        // Leaving a DCS payload other than through its terminator (SUB, the parsing error 0x19)
        // cancels it: the handler gets what arrived so far, as it would have at the end of a
        // chunk, and is then dropped without unhook.
        if (s.state == ParserState::dcsPassthrough && next != ParserState::dcsPassthrough &&
            action != ParserAction::dcsUnhook && !(action == ParserAction::error && byte >= 0xA0))
            [[unlikely]] {
            if (dcsStart >= 0)
                putDcs(bytes.subspan(static_cast<size_t>(dcsStart), i - static_cast<size_t>(dcsStart)));
            dcsStart = -1;
            activeDcsHandler.reset();
        }

        switch (action) {
        case ParserAction::ignore:
            if (s.state == ParserState::oscString) {
                appendIgnoredOscByte(byte);
            } else if (dcsStart >= 0) {
                // DEL inside a DCS payload: hand over what came before it; it splits the payload.
                putDcs(bytes.subspan(static_cast<size_t>(dcsStart), i - static_cast<size_t>(dcsStart)));
                dcsStart = -1;
            }
            s.state = next;
            ++i;
            break;

        case ParserAction::error:
            if (byte >= 0xA0 && (s.state == ParserState::csiIgnore || s.state == ParserState::dcsIgnore)) {
                ++i;
                break;
            }
            if (byte >= 0xA0 && s.state == ParserState::dcsPassthrough) {
                // Payload bytes of a DCS string (for example UTF-8 in a DECRQSS reply).
                if (dcsStart < 0)
                    dcsStart = static_cast<ptrdiff_t>(i);
                ++i;
                break;
            }
            // 0x19, a high byte inside a sequence, DEL in ground: report, forget the sequence and
            // parse what follows from ground.
            reportParsingError(listener, s, i, byte, dcsStart);
            s.state = ParserState::ground;
            ++i;
            break;

        case ParserAction::print:
            // Only ground prints, and the fast path above takes those bytes.
            listener.handlePrintBorrowed(bytes.subspan(i, 1));
            s.state = next;
            ++i;
            break;

        case ParserAction::execute:
            // C0 controls (also inside ESC and CSI sequences, which they do not cancel), SUB, and
            // the C1 controls that do not introduce a sequence (only after ESC: inside a CSI or a
            // string the bytes 0x80-0x9F are not controls).
            listener.dispatchExecute(byte);
            s.state = next;
            ++i;
            break;

        case ParserAction::stringStart:
            if (next == ParserState::apcString)
                startApc();
            else
                startOsc();
            s.state = next;
            ++i;
            break;

        case ParserAction::stringPut:
            // The whole run of payload bytes is taken at once; the loop resumes at its end.
            if (s.state == ParserState::oscString)
                i = consumeOscRun(bytes, i, s, listener);
            else
                i = consumeApcRun(bytes, i);
            break;

        case ParserAction::stringEnd:
            if (s.state == ParserState::oscString)
                endOsc(byte, s, listener);
            else
                endApc(byte, s, listener);
            ++i;
            break;

        case ParserAction::csiDispatch:
            if (!s.parameterLimitExceeded && !s.collect.overflowed) {
                // SGR needs to tell sub-parameters (4:3, 38:2:r:g:b) from parameters.
                if (byte == 'm')
                    _parsColonMask = s.colonMask;
                listener.dispatchCsi(byte, CsiParameters(s.pars), s.collect.span());
            }
            s.state = next;
            ++i;
            break;

        case ParserAction::parameter:
            if (isDigit(byte)) {
                if (!s.parameterLimitExceeded)
                    s.pars.appendDigit(byte - '0');
            } else if (!s.parameterLimitExceeded && !s.pars.openParameter(byte == ':', s.colonMask)) {
                // A 25th parameter: the whole sequence will be dropped.
                s.parameterLimitExceeded = true;
            }
            s.state = next;
            ++i;
            break;

        case ParserAction::collect:
            // Intermediates (0x20-0x2F) and private markers (< = > ?).
            s.collect.append(byte);
            s.state = next;
            ++i;
            break;

        case ParserAction::escDispatch:
            // The byte after ESC inside a program-status OSC: either its ST or a new sequence,
            // in which case the byte is parsed again in `escape` (no ++i).
            if (s.state == ParserState::programStatusEscape) {
                if (finishProgramStatusSt(byte, s, listener))
                    ++i;
                break;
            }
            if (!s.collect.overflowed)
                listener.dispatchEsc(s.collect.span(), byte);
            s.state = next;
            ++i;
            break;

        case ParserAction::clear:
            // ESC, CSI and DCS introducers start a sequence with empty intermediates and one
            // parameter 0.
            clearSequence(s);
            s.state = next;
            ++i;
            break;

        case ParserAction::dcsHook:
            hookDcs(s, byte, listener);
            dcsStart = -1;
            s.state = next;
            ++i;
            break;

        case ParserAction::dcsPut:
            // Payload is handed over in slices of the chunk, not byte by byte: remember where the
            // pending slice starts. The printable bytes after this one are put too and stay in the
            // payload, so the whole run joins the slice without a table lookup per byte; sixel
            // images are megabytes of such bytes. Taking the run here rather than before the table
            // keeps the extra test off the path of every other state.
            if (dcsStart < 0)
                dcsStart = static_cast<ptrdiff_t>(i);
            do {
                ++i;
            } while (i < length && data[i] >= 0x20 && data[i] <= 0x7E);
            break;

        case ParserAction::dcsUnhook:
            if (dcsStart >= 0)
                putDcs(bytes.subspan(static_cast<size_t>(dcsStart), i - static_cast<size_t>(dcsStart)));
            dcsStart = -1;
            unhookDcs();
            if (byte == ESC) {
                // ESC \ then completes as an ESC dispatch of "\", which does nothing.
                clearSequence(s);
                s.state = ParserState::escape;
            } else {
                s.state = ParserState::ground;
            }
            ++i;
            break;
        }
        adoptReset();
    }

    // DCS payload received so far goes to the handler now: the chunk it points into is only borrowed.
    if (s.state == ParserState::dcsPassthrough && dcsStart >= 0) {
        putDcs(bytes.subspan(static_cast<size_t>(dcsStart)));
        adoptReset();
    }
    storeScratch(s);

    // A reset during a nested parse must still be seen by the parse that called it, so the flag
    // only goes down with the outermost parse.
    if (--parseDepth == 0)
        didResetDuringParse = false;
    if (profiling_) [[unlikely]]
        endParseSignpost(signpost);
}

} // namespace kestrovan
