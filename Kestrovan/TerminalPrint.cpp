// The print path: runs of printable bytes from the parser become cells of the active buffer.
//
// Two roads. The fast road takes the leading printable-ASCII part of a run straight to the
// buffer's `insertAsciiRun`, without decoding anything. The slow road decodes UTF-8 (carrying an
// incomplete sequence over to the next run in `readingBuffer.putbackBuffer`), applies the invoked
// character set, measures each scalar with the generated width table, joins scalars into the
// grapheme cluster of the cell they belong to, and writes the rest as new cells. Scalars that
// cannot join anything (printable ASCII, CJK, most letters) still go in batches of equal width
// through `insertScalarRun`; only what may join takes the scalar-at-a-time road.
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
#include "Kestrovan/Terminal.h"
#include "Kestrovan/UnicodeUtil.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan {

namespace {

namespace bits = unicode::grapheme;
using GraphemeJoin = UnicodeUtil::GraphemeJoin;
using WidthState = PackedCell::WidthState;

constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t textPresentationSelector = 0xFE0E;
constexpr char32_t emojiPresentationSelector = 0xFE0F;
// Stands for "the last character the fast road placed": a letter without grapheme properties.
constexpr char32_t placedAsciiStandIn = 0x41;
// The most scalars one batch collects; its scratch arrays live on the stack.
constexpr size_t maximumBatch = 256;

constexpr bool isRegionalIndicator(char32_t scalar)
{
    return scalar >= 0x1F1E6 && scalar <= 0x1F1FF;
}

constexpr bool isEmojiModifier(char32_t scalar)
{
    return scalar >= 0x1F3FB && scalar <= 0x1F3FF;
}

bool inRanges(char32_t scalar, std::span<const UnicodeUtil::LH> table)
{
    return UnicodeUtil::bisearch(scalar, table, static_cast<int>(table.size()) - 1);
}

// Scalars with a width that still join the cell before them, so they never ride in a batch:
// variation selectors (also the Mongolian ones and the supplement), the zero-width joiner,
// regional indicators (the second of a pair makes a flag) and skin-tone modifiers.
constexpr bool joinsDespiteWidth(char32_t scalar)
{
    // Ideographs, kana, Hangul and most letters lie between the joiner and the variation
    // selectors, where none of these is: one test answers for them.
    if (scalar > zeroWidthJoiner && scalar < 0xFE00)
        return false;
    return (scalar >= 0xFE00 && scalar <= 0xFE0F) || scalar == zeroWidthJoiner ||
           isRegionalIndicator(scalar) || (scalar >= 0x180B && scalar <= 0x180D) || scalar == 0x180F ||
           (scalar >= 0xE0100 && scalar <= 0xE01EF) || isEmojiModifier(scalar);
}

// --- UTF-8 ---------------------------------------------------------------------------------------

// The length a lead byte announces: 1 for ASCII, 2-4 for a multi-byte lead, 0 for a byte that
// cannot start a sequence (continuation bytes, the overlong leads C0 and C1, and F5-FF).
constexpr std::array<uint8_t, 256> sequenceLengths = [] {
    std::array<uint8_t, 256> lengths{};
    for (int byte = 0; byte < 256; ++byte) {
        if (byte < 0x80)
            lengths[byte] = 1;
        else if (byte >= 0xC2 && byte <= 0xDF)
            lengths[byte] = 2;
        else if (byte >= 0xE0 && byte <= 0xEF)
            lengths[byte] = 3;
        else if (byte >= 0xF0 && byte <= 0xF4)
            lengths[byte] = 4;
    }
    return lengths;
}();

struct Decoded
{
    enum class Kind : uint8_t
    {
        /// A valid scalar.
        scalar,
        /// Bytes that form no scalar; `value` is their first byte, printed as U+0080-U+00FF.
        strayByte,
        /// A sequence whose bytes so far are all valid but that runs past the end.
        incomplete,
    };
    Kind kind = Kind::scalar;
    char32_t value = 0;
    /// Bytes consumed.
    uint32_t length = 1;
};

// Decodes the sequence at `bytes` (at least one byte available), any sequence.
Decoded decodeSequenceAt(const uint8_t* bytes, size_t available)
{
    const uint8_t lead = bytes[0];
    const uint32_t length = sequenceLengths[lead];
    if (length == 1)
        return {Decoded::Kind::scalar, lead, 1};
    if (length == 0)
        return {Decoded::Kind::strayByte, lead, 1};
    char32_t value = lead & (0x7F >> length);
    for (uint32_t index = 1; index < length; ++index) {
        if (index >= available)
            return {Decoded::Kind::incomplete, 0, static_cast<uint32_t>(available)};
        const uint8_t next = bytes[index];
        // A byte that cannot continue the sequence ends it: the lead (with the continuation bytes
        // before this one) is the bad part, and this byte is decoded afresh, so that C3 41 prints
        // both characters instead of swallowing the letter.
        if ((next & 0xC0) != 0x80)
            return {Decoded::Kind::strayByte, lead, index};
        value = (value << 6) | (next & 0x3F);
    }
    // Every byte was a continuation byte, so a bad value is consumed whole.
    static constexpr char32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {Decoded::Kind::strayByte, lead, length};
    return {Decoded::Kind::scalar, value, length};
}

// Decodes the sequence at `bytes` (at least one byte available). Whole, well-formed sequences of
// every length (Latin, Greek and Cyrillic letters and combining marks in two bytes; CJK, kana,
// Hangul and most symbols in three; emoji and mathematical letters in four) are decoded here,
// inline; anything cut short or malformed, with its error handling, by the general decoder.
[[gnu::always_inline]] inline Decoded decodeAt(const uint8_t* bytes, size_t available)
{
    const uint8_t lead = bytes[0];
    if (lead < 0x80)
        return {Decoded::Kind::scalar, lead, 1};
    // C2-DF: the lead alone rules out overlong forms.
    if (lead >= 0xC2 && lead < 0xE0 && available >= 2 && (bytes[1] & 0xC0) == 0x80)
        return {Decoded::Kind::scalar, char32_t(lead & 0x1F) << 6 | (bytes[1] & 0x3F), 2};
    if ((lead & 0xF0) == 0xE0 && available >= 3 && (bytes[1] & 0xC0) == 0x80 && (bytes[2] & 0xC0) == 0x80) {
        const char32_t value =
            char32_t(lead & 0x0F) << 12 | char32_t(bytes[1] & 0x3F) << 6 | (bytes[2] & 0x3F);
        if (value >= 0x800 && (value < 0xD800 || value > 0xDFFF))
            return {Decoded::Kind::scalar, value, 3};
    }
    if ((lead & 0xF8) == 0xF0 && available >= 4 && (bytes[1] & 0xC0) == 0x80 && (bytes[2] & 0xC0) == 0x80 &&
        (bytes[3] & 0xC0) == 0x80) {
        const char32_t value = char32_t(lead & 0x07) << 18 | char32_t(bytes[1] & 0x3F) << 12 |
                               char32_t(bytes[2] & 0x3F) << 6 | (bytes[3] & 0x3F);
        if (value >= 0x10000 && value <= 0x10FFFF)
            return {Decoded::Kind::scalar, value, 4};
    }
    return decodeSequenceAt(bytes, available);
}

// The length of the leading printable-ASCII part (0x20-0x7E). A run of 16 bytes or more is
// tested 16 at a time, its last partial block read as the run's final 16 bytes with the bytes
// already tested masked off; a shorter one byte by byte. DEL and C0 bytes end the part as
// non-ASCII bytes do, since the slow road prints nothing for them while the run path would
// store them as cells.
size_t printableAsciiPrefix(std::span<const uint8_t> bytes)
{
    const size_t length = bytes.size();
#if defined(__SSE2__)
    if (length >= 16) {
        // As signed bytes, printable ASCII is exactly 0x1F < b < 0x7F: 0x80-0xFF are negative.
        const __m128i belowSpace = _mm_set1_epi8(0x1F);
        const __m128i del = _mm_set1_epi8(0x7F);
        const auto badBytes = [&](size_t at) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at));
            const __m128i good = _mm_and_si128(_mm_cmpgt_epi8(block, belowSpace), _mm_cmplt_epi8(block, del));
            return ~static_cast<unsigned>(_mm_movemask_epi8(good)) & 0xFFFFu;
        };
        size_t end = 0;
        for (; length - end >= 16; end += 16) {
            if (const unsigned bad = badBytes(end))
                return end + static_cast<size_t>(__builtin_ctz(bad));
        }
        if (end == length)
            return end;
        const size_t last = length - 16;
        const unsigned bad = badBytes(last) & (~0u << (end - last));
        return bad != 0 ? last + static_cast<size_t>(__builtin_ctz(bad)) : length;
    }
#endif
    size_t end = 0;
    while (end < length && static_cast<uint8_t>(bytes[end] - 0x20) < 0x5F)
        ++end;
    return end;
}

// --- Joining -------------------------------------------------------------------------------------

bool hangulPairJoins(uint8_t previousClass, uint8_t currentClass)
{
    switch (previousClass) {
    case bits::hangulL:
        return currentClass == bits::hangulL || currentClass == bits::hangulV ||
               currentClass == bits::hangulLV || currentClass == bits::hangulLVT;
    case bits::hangulV:
    case bits::hangulLV:
        return currentClass == bits::hangulV || currentClass == bits::hangulT;
    case bits::hangulT:
    case bits::hangulLVT:
        return currentClass == bits::hangulT;
    default:
        return false;
    }
}

// Whether `scalar` (property byte `current`, display width `width`) joins the cell whose last
// scalar is `previous` (property byte `before`). A pairwise test: rules that look further back
// (emoji ZWJ sequences, flags, Indic conjuncts) answer "append only when the result is still one
// cluster", and the caller checks the whole cluster.
GraphemeJoin graphemeJoin(char32_t previous, uint8_t before, char32_t scalar, uint8_t current, int width)
{
    // Skin-tone modifiers join only the characters they can modify.
    if (isEmojiModifier(scalar))
        return UnicodeUtil::isEmojiModifierBase(previous) ? GraphemeJoin::append : GraphemeJoin::newCell;
    // The common case, two plain characters, answers at once.
    if (current == 0 && before == 0 && width > 0)
        return isRegionalIndicator(scalar) && isRegionalIndicator(previous) ? GraphemeJoin::appendIfOneCluster
                                                                            : GraphemeJoin::newCell;
    if ((before & bits::classMask) == bits::control || (current & bits::classMask) == bits::control)
        return GraphemeJoin::newCell;
    if ((current & bits::markMask) != 0 || (before & bits::prepend) != 0)
        return GraphemeJoin::append;
    if (const uint8_t currentClass = current & bits::classMask; currentClass != 0)
        return hangulPairJoins(before & bits::classMask, currentClass) ? GraphemeJoin::append
                                                                       : GraphemeJoin::newCell;
    if (previous == zeroWidthJoiner)
        return GraphemeJoin::appendIfOneCluster;
    if (isRegionalIndicator(scalar))
        return isRegionalIndicator(previous) ? GraphemeJoin::appendIfOneCluster : GraphemeJoin::newCell;
    if ((current & bits::conjunctMask) == bits::conjunctConsonant) {
        const uint8_t beforeConjunct = before & bits::conjunctMask;
        return beforeConjunct == bits::conjunctLinker || beforeConjunct == bits::conjunctExtend
                   ? GraphemeJoin::appendIfOneCluster
                   : GraphemeJoin::newCell;
    }
    return width == 0 ? GraphemeJoin::appendIfOneCluster : GraphemeJoin::newCell;
}

GraphemeJoin graphemeJoin(std::optional<char32_t> previous, char32_t scalar, uint8_t current, int width)
{
    if (!previous)
        return GraphemeJoin::newCell;
    return graphemeJoin(*previous, unicode::graphemeProperties(*previous), scalar, current, width);
}

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

// Whether a cell's scalars followed by one more (the last of `joined`) still make one cell. Beyond
// "one extended grapheme cluster" it accepts an Indic conjunct the segmenter would split when the
// cell already holds more than one cluster: a consonant after Consonant (Extend | Linker)* with at
// least one Linker.
bool staysOneCell(std::u32string_view joined)
{
    if (graphemeCount(joined) == 1)
        return true;
    const char32_t appended = joined.back();
    const std::u32string_view before = joined.substr(0, joined.size() - 1);
    const uint8_t conjunct = unicode::graphemeProperties(appended) & bits::conjunctMask;
    if ((conjunct == bits::conjunctLinker || conjunct == bits::conjunctExtend) && graphemeCount(before) >= 2)
        return true;
    if (conjunct != bits::conjunctConsonant)
        return false;
    bool sawLinker = false;
    for (size_t index = before.size(); index-- > 0;) {
        const char32_t scalar = before[index];
        // A scalar whose block has no properties at all cannot be part of a conjunct.
        if (scalar > 0x10FFFF || unicode::detail::graphemeIndex[scalar >> 8] == 0)
            return false;
        const uint8_t kind = unicode::graphemeProperties(scalar) & bits::conjunctMask;
        if (kind == bits::conjunctExtend)
            continue;
        if (kind == bits::conjunctLinker) {
            sawLinker = true;
            continue;
        }
        return kind == bits::conjunctConsonant && sawLinker;
    }
    return false;
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
    /// A decoded sequence, and whether it may ride in a batch: a scalar with a width that joins
    /// nothing by itself (its grapheme properties and width are then filled in).
    struct Classified
    {
        Decoded decoded;
        uint8_t properties = 0;
        uint8_t width = 0;
        bool batchable = false;
    };

    Classified classify(const uint8_t* bytes, size_t available) const;
    size_t insertScalarBatch(const uint8_t* bytes, size_t available, std::optional<Decoded>& stopper);
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
        printDecoded(decoded);
        index += decoded.length;
    }
}

SlowPrint::Classified SlowPrint::classify(const uint8_t* bytes, size_t available) const
{
    const uint8_t lead = bytes[0];
    if (lead < 0x80) {
        // Printable ASCII batches only while no character set translates it.
        const bool batchable = lead >= 0x20 && lead < 0x7F && !terminal_.charset();
        return {{Decoded::Kind::scalar, lead, 1}, 0, 1, batchable};
    }
    const Decoded decoded = decodeAt(bytes, available);
    if (decoded.kind != Decoded::Kind::scalar)
        return {decoded, 0, 0, false};
    const uint8_t code = unicode::widthCode(decoded.value);
    if (code < 2 || joinsDespiteWidth(decoded.value))
        return {decoded, 0, 0, false};
    return {decoded, unicode::graphemeProperties(decoded.value), static_cast<uint8_t>(code - 1), true};
}

// Collects up to `maximumBatch` scalars that start new cells and writes them in groups of equal
// width; answers how many bytes it consumed (0 when no batch could start here). The scalar that
// ended the batch has been decoded already: it is left in `stopper` for the caller to print, so
// that no sequence is decoded twice.
size_t SlowPrint::insertScalarBatch(const uint8_t* bytes, size_t available, std::optional<Decoded>& stopper)
{
    std::array<char32_t, maximumBatch> scalars;
    std::array<uint8_t, maximumBatch> lengths;
    std::array<uint8_t, maximumBatch> widths;

    size_t count = 0;
    size_t offset = 0;
    char32_t last = 0;
    uint8_t lastProperties = 0;
    while (count < maximumBatch && offset < available) {
        const Classified next = classify(bytes + offset, available - offset);
        if (!next.batchable) {
            stopper = next.decoded;
            break;
        }
        const char32_t scalar = next.decoded.value;
        if (count == 0) {
            // A batch only starts where its first scalar begins a new cell.
            if (joinWithPrevious(scalar, next.properties, next.width) != GraphemeJoin::newCell) {
                stopper = next.decoded;
                return 0;
            }
        } else if ((lastProperties | next.properties) != 0) {
            // Two scalars without grapheme properties never join (regional indicators and
            // modifiers, the exceptions, do not batch), which spares the full test for most text.
            if (graphemeJoin(last, lastProperties, scalar, next.properties, next.width) !=
                GraphemeJoin::newCell) {
                stopper = next.decoded;
                break;
            }
        }
        scalars[count] = scalar;
        lengths[count] = static_cast<uint8_t>(next.decoded.length);
        widths[count] = next.width;
        last = scalar;
        lastProperties = next.properties;
        offset += next.decoded.length;
        ++count;
    }
    if (count == 0)
        return 0;

    const uint16_t styleID = terminal_.curStyleID();
    size_t written = 0;
    while (written < count) {
        size_t end = written + 1;
        while (end < count && widths[end] == widths[written])
            ++end;
        const size_t placed =
            buffer_.insertScalarRun(std::span<const char32_t>(scalars.data() + written, end - written),
                                    widths[written], styleID, payloadCode_);
        if (placed == 0)
            break;
        written += placed;
        remember(scalars[written - 1]);
    }
    // What the run path would not place (auto-wrap off at the right edge, a region too narrow)
    // goes one scalar at a time, which knows how to overwrite the last column or drop.
    for (size_t index = written; index < count; ++index) {
        if (lengths[index] == 1)
            printSingleByte(scalars[index]);
        else
            printScalar(scalars[index]);
    }
    return offset;
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
        const bool spacing =
            inRanges(scalar, unicode::spacingMarkRanges) &&
            (unicode::graphemeProperties(scalar) & bits::conjunctMask) != bits::conjunctLinker &&
            !inRanges(scalar, unicode::viramaRanges);
        if (spacing && !wasWide)
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

// Clusters shorter than this are kept whole at every length they pass through: real text repeats
// them (an accented letter, an emoji with a skin tone, a family of joined emoji), and the next one
// then finds each step interned already, with no allocation. A cluster that grows past it is rare
// in real text and is how a flood of marks grows: it is grown in place, so a cell leaves at most
// this many shorter copies behind.
constexpr size_t clusterGrowsInPlaceFrom = 8;

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
    std::optional<PackedCell> replaced = arena_.replacingContent(cell, joined, state);
    if (replaced && replaced->kind() != PackedCell::Kind::grapheme && joined.size() > 1 &&
        arena_.graphemeTableFull() && terminal_.reclaimCellArena(Terminal::ArenaTable::clusters))
        replaced = arena_.replacingContent(cell, joined, state);
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
    printAsciiRun(bytes, ascii, buffer);
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
