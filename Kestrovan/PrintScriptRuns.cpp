// The print batch's loops for runs of text in the commonest shapes, each scalar taken with a byte
// test and one read of a small table of kinds instead of the batch's general loop (the full
// decoder, two or three table reads, the pairwise join test, a call gathering the joins):
// - a narrow run: printable ASCII and the one-column letters of two bytes (Latin, Greek,
//   Cyrillic, Hebrew, Arabic), with the combining marks of two bytes that join them, as accented
//   text arrives decomposed;
// - a syllable run of Devanagari and its sister scripts (U+0800-U+0FFF, three bytes a scalar): a
//   letter and the vowel signs, viramas, nuktas and conjunct consonants that join it, with the
//   cell's conjunct state carried along instead of walked back to;
// - a wide run: ideographs and kana (three bytes a scalar, two columns), each a cell of its own.
//
// The kinds are worked out from the same tables the general loop reads, for exactly the scalars
// whose join answers depend on nothing but that kind (and the conjunct state); anything else
// (another block, a joiner, a selector, a byte that is not such a sequence) ends the loop and the
// general loop goes on with the cell as this one left it, which gives the same cells.
#include "Kestrovan/Buffer.h"
#include "Kestrovan/PrintSlowRoad.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan::printing {

namespace {

// The kind of a scalar of U+0080-U+07FF for the narrow loop: a letter of one column that joins
// nothing and that nothing but a mark joins (no grapheme properties, no pictograph), or a plain
// mark; 0 for a scalar left to the general loop.
constexpr uint8_t narrowLetter = 1;
constexpr uint8_t narrowMark = 2;
constexpr char32_t narrowEnd = 0x800;

// Indexed by the scalar itself; the entries below U+0080 (what the overlong two-byte forms
// decode to) stay 0.
using NarrowKinds = std::array<uint8_t, narrowEnd>;

NarrowKinds makeNarrowKinds()
{
    NarrowKinds kinds{};
    const LowScalarClasses& classes = lowScalarClasses();
    for (char32_t scalar = 0x80; scalar < narrowEnd; ++scalar) {
        // One column (width code 2) and no other class: no properties, no joining, no mark.
        const uint8_t scalarClasses = classes[scalar - 0x80];
        if (scalarClasses == 2 && !unicode::isExtendedPictographic(scalar))
            kinds[scalar] = narrowLetter;
        else if ((scalarClasses & classPlainMark) != 0)
            kinds[scalar] = narrowMark;
    }
    return kinds;
}

const NarrowKinds& narrowKinds()
{
    static const NarrowKinds kinds = makeNarrowKinds();
    return kinds;
}

// The letters of U+10000-U+1FFFF the narrow loop takes, one bit each: one column, no grapheme
// properties, not a pictograph and not among the scalars that join despite their width, which
// is what lets the general loop start a cell with them that joins nothing but a mark.
using PlaneOneLetters = std::array<uint64_t, 0x10000 / 64>;

PlaneOneLetters makePlaneOneLetters()
{
    PlaneOneLetters letters{};
    for (char32_t scalar = 0x10000; scalar < 0x20000; ++scalar) {
        if (unicode::widthCode(scalar) == 2 && unicode::graphemeProperties(scalar) == 0 &&
            !joinsDespiteWidth(scalar) && !unicode::isExtendedPictographic(scalar))
            letters[(scalar - 0x10000) / 64] |= uint64_t(1) << (scalar % 64);
    }
    return letters;
}

const PlaneOneLetters& planeOneLetters()
{
    static const PlaneOneLetters letters = makePlaneOneLetters();
    return letters;
}

bool isPlaneOneLetter(const PlaneOneLetters& letters, char32_t scalar)
{
    return (letters[(scalar - 0x10000) / 64] >> (scalar % 64) & 1) != 0;
}

// Two and four bytes read at once (little-endian: the first byte lowest), for the tests of a
// whole sequence's lead and continuation bits.
uint32_t loadPair(const uint8_t* bytes)
{
    uint16_t pair;
    std::memcpy(&pair, bytes, sizeof(pair));
    return pair;
}

uint32_t loadQuad(const uint8_t* bytes)
{
    uint32_t quad;
    std::memcpy(&quad, bytes, sizeof(quad));
    return quad;
}

// The join kind of a scalar of U+0800 ..< `classifiedEnd` for the syllable loop; 0 for a scalar
// that loop leaves to the general one. Bits 6-7 hold the scalar's Indic conjunct class, as in the
// grapheme property byte.
constexpr uint8_t syllableStarts = 0x01;
constexpr uint8_t syllableJoins = 0x02;
constexpr uint8_t syllableWidens = 0x04;
constexpr char32_t syllableFirst = 0x800;

using SyllableKinds = std::array<uint8_t, classifiedEnd - syllableFirst>;

SyllableKinds makeSyllableKinds()
{
    SyllableKinds kinds{};
    const LowScalarClasses& classes = lowScalarClasses();
    for (char32_t scalar = syllableFirst; scalar < classifiedEnd; ++scalar) {
        const uint8_t properties = unicode::graphemeProperties(scalar);
        const uint8_t scalarClasses = classes[scalar - 0x80];
        const uint8_t conjunct = properties & bits::conjunctMask;
        const uint8_t code = scalarClasses & classWidthMask;
        // None of these may be a control, a Hangul jamo or Prepend, which change what joins
        // them and what joins after them, nor a pictograph or a scalar that joins by itself.
        if ((properties & (bits::classMask | bits::prepend)) != 0 || (scalarClasses & classJoins) != 0 ||
            unicode::isExtendedPictographic(scalar))
            continue;
        if (code == 2 && (properties & bits::markMask) == 0 &&
            (conjunct == 0 || conjunct == bits::conjunctConsonant)) {
            // A letter of one column: it starts a cell, except that a consonant joins a cell
            // ending in a conjunct's linker.
            kinds[scalar - syllableFirst] = syllableStarts | conjunct;
        } else if (code == 1 && (properties & bits::markMask) != 0) {
            // A mark without a width: it joins the cell before it whatever that holds, and a
            // spacing vowel sign makes the cell two columns wide.
            const bool widens = (scalarClasses & (classPlainMark | classSpacingSign)) == classSpacingSign;
            kinds[scalar - syllableFirst] =
                static_cast<uint8_t>(syllableJoins | (widens ? syllableWidens : 0) | conjunct);
        }
    }
    return kinds;
}

const SyllableKinds& syllableKinds()
{
    static const SyllableKinds kinds = makeSyllableKinds();
    return kinds;
}

// Where a cell stands in an Indic conjunct: whether its scalars end in a consonant followed by
// extending marks and linkers, and whether a linker is among those. A consonant joins the cell
// only after a linker.
enum class Conjunct : uint8_t
{
    none,
    consonant,
    linked,
};

Conjunct conjunctAfter(Conjunct state, uint8_t kind)
{
    switch (kind & bits::conjunctMask) {
    case bits::conjunctConsonant:
        return Conjunct::consonant;
    case bits::conjunctExtend:
        return state;
    case bits::conjunctLinker:
        return state == Conjunct::none ? Conjunct::none : Conjunct::linked;
    default:
        return Conjunct::none;
    }
}

// The wide characters of U+1000-U+FFFF the wide loop takes, one bit each: two columns, no
// grapheme properties, not a pictograph and not among the scalars that join despite their width:
// the general loop stores such a scalar after a cell without grapheme properties as a cell of its
// own and tests nothing else. Ideographs, kana and fullwidth forms; Hangul syllables have
// properties of their own and are left to that loop.
constexpr char32_t wideFirst = 0x1000;
using WideLetters = std::array<uint64_t, 0x10000 / 64>;

WideLetters makeWideLetters()
{
    WideLetters letters{};
    for (char32_t scalar = wideFirst; scalar < 0x10000; ++scalar) {
        if (unicode::widthCode(scalar) == 3 && unicode::graphemeProperties(scalar) == 0 &&
            !joinsDespiteWidth(scalar) && !unicode::isExtendedPictographic(scalar))
            letters[scalar / 64] |= uint64_t(1) << (scalar % 64);
    }
    return letters;
}

const WideLetters& wideLetters()
{
    static const WideLetters letters = makeWideLetters();
    return letters;
}

} // namespace

// Called at printable ASCII after a cell whose last scalar has no grapheme properties, with room
// for a cell in the batch. Stores the run of printable ASCII and one-column letters from `offset`
// as cells, joining the plain marks after a letter to its cell, and answers false at the first
// scalar of another kind, or when the batch is full; true when the batch must end here, with
// `stopper` set (a cluster the arena could not store, which the general road joins). Nothing
// here joins what came before: ASCII and such letters join only a Prepend character or a
// joiner, and a plain mark is neither.
bool SlowPrint::gatherNarrowRun(Batch& batch, size_t& count, const uint8_t* bytes, size_t available,
                                size_t& offset, std::optional<Decoded>& stopper, uint8_t& lastProperties)
{
    const NarrowKinds& kinds = narrowKinds();
    const PlaneOneLetters& planeOne = planeOneLetters();
    // The count and the offset live in registers: the batch's byte stores could alias them.
    size_t cells = count;
    size_t end = offset;
    // Ends the stretch. ASCII and these letters have no grapheme properties; a cluster cell here
    // is a letter with marks, whose last mark is looked up.
    const auto finish = [&] {
        offset = end;
        count = cells;
        const bool cluster =
            (batch.contents[cells - 1] & PackedCell::kindMask) == uint32_t(PackedCell::Kind::grapheme);
        lastProperties = cluster ? unicode::graphemeProperties(batch.lastScalars[cells - 1]) : 0;
        return false;
    };
    for (;;) {
#if defined(__SSE2__)
        // Sixteen bytes at a time while the batch has room for them all: every lane is stored,
        // and the cells past the first byte that is not printable ASCII are written over later.
        // Short stretches between words of other scripts mostly end inside the first block,
        // where the byte loop below would mispredict its exit.
        while (available - end >= 16 && maximumBatch - cells >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + end));
            const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8(0x1F)),
                                                    _mm_cmplt_epi8(block, _mm_set1_epi8(0x7F)));
            const unsigned bad = ~static_cast<unsigned>(_mm_movemask_epi8(printable)) & 0xFFFFu;
            const size_t taken = bad != 0 ? static_cast<size_t>(__builtin_ctz(bad)) : 16;
            const __m128i zero = _mm_setzero_si128();
            const __m128i low = _mm_unpacklo_epi8(block, zero);
            const __m128i high = _mm_unpackhi_epi8(block, zero);
            const __m128i scalars0 = _mm_unpacklo_epi16(low, zero);
            const __m128i scalars1 = _mm_unpackhi_epi16(low, zero);
            const __m128i scalars2 = _mm_unpacklo_epi16(high, zero);
            const __m128i scalars3 = _mm_unpackhi_epi16(high, zero);
            auto* lastScalars = reinterpret_cast<__m128i*>(batch.lastScalars.data() + cells);
            auto* contents = reinterpret_cast<__m128i*>(batch.contents.data() + cells);
            _mm_storeu_si128(lastScalars, scalars0);
            _mm_storeu_si128(lastScalars + 1, scalars1);
            _mm_storeu_si128(lastScalars + 2, scalars2);
            _mm_storeu_si128(lastScalars + 3, scalars3);
            _mm_storeu_si128(contents, _mm_slli_epi32(scalars0, PackedCell::contentShift));
            _mm_storeu_si128(contents + 1, _mm_slli_epi32(scalars1, PackedCell::contentShift));
            _mm_storeu_si128(contents + 2, _mm_slli_epi32(scalars2, PackedCell::contentShift));
            _mm_storeu_si128(contents + 3, _mm_slli_epi32(scalars3, PackedCell::contentShift));
            const __m128i first = _mm_set1_epi16(static_cast<int16_t>(end));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.starts.data() + cells),
                             _mm_add_epi16(first, _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.starts.data() + cells + 8),
                             _mm_add_epi16(first, _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(batch.widths.data() + cells), _mm_set1_epi8(1));
            cells += taken;
            end += taken;
            if (taken < 16)
                break;
        }
        if (cells == maximumBatch || end == available) {
            return finish();
        }
#endif
        while (static_cast<uint8_t>(bytes[end] - 0x20) < 0x5F) {
            batch.setScalarCell(cells, bytes[end], end, 1);
            ++cells;
            ++end;
            if (cells == maximumBatch || end == available) {
                return finish();
            }
        }
        // Letters of two bytes (with the marks joining the cell before them) and of four, until
        // printable ASCII comes again.
        for (;;) {
            if (available - end >= 2 && (loadPair(bytes + end) & 0xC0E0) == 0x80C0) {
                // A lead of C0-DF and a continuation byte: the overlong leads C0 and C1 give
                // scalars below U+0080, whose kind is 0.
                char32_t scalar = char32_t(bytes[end] & 0x1F) << 6 | (bytes[end + 1] & 0x3F);
                const uint8_t kind = kinds[scalar];
                if (kind == narrowLetter) {
                    batch.setScalarCell(cells, scalar, end, 1);
                    ++cells;
                    end += 2;
                } else if (kind == narrowMark) {
                    // The cell before is a letter this loop stored, alone. Past the cap marks are
                    // dropped.
                    std::array<char32_t, CellArena::maximumGraphemeScalars> cluster;
                    cluster[0] = batch.lastScalars[cells - 1];
                    size_t size = 1;
                    const size_t marksStart = end;
                    do {
                        if (size < cluster.size())
                            cluster[size++] = scalar;
                        end += 2;
                        if (available - end < 2 || (loadPair(bytes + end) & 0xC0E0) != 0x80C0)
                            break;
                        scalar = char32_t(bytes[end] & 0x1F) << 6 | (bytes[end + 1] & 0x3F);
                    } while (kinds[scalar] == narrowMark);
                    const uint32_t id = arena_.internCluster(std::u32string_view(cluster.data(), size));
                    if (id == 0) {
                        // The general road joins the marks one at a time; the batch ends before them.
                        offset = marksStart;
                        count = cells;
                        stopper = Decoded{Decoded::Kind::scalar, cluster[1], 2};
                        return true;
                    }
                    batch.contents[cells - 1] =
                        uint32_t(PackedCell::Kind::grapheme) | (id << PackedCell::contentShift);
                    batch.lastScalars[cells - 1] = cluster[size - 1];
                } else {
                    return finish();
                }
            } else if (available - end >= 4 && (loadQuad(bytes + end) & 0xC0C0F0FF) == 0x808090F0) {
                // F0 90-9F and two continuation bytes: a scalar of U+10000-U+1FFFF, which rides
                // here when it is such a letter (mathematical and historic alphabets).
                const char32_t scalar = 0x10000 | char32_t(bytes[end + 1] & 0x0F) << 12 |
                                        char32_t(bytes[end + 2] & 0x3F) << 6 | (bytes[end + 3] & 0x3F);
                if (!isPlaneOneLetter(planeOne, scalar)) {
                    return finish();
                }
                batch.setScalarCell(cells, scalar, end, 1);
                ++cells;
                end += 4;
            } else {
                return finish();
            }
            if (cells == maximumBatch || end == available) {
                return finish();
            }
            if (bytes[end] < 0x80)
                break;
        }
    }
}

// Called right after the batch stored a scalar of three bytes with lead E0 (U+0800-U+0FFF) as its
// last cell, alone, with `offset` just past it and room for another cell. When it is a letter
// that starts a syllable run, gathers that cell's joins and the cells after it while the bytes
// are such scalars, as the general loop would; answers false, or true when the batch must end
// here, with `stopper` set (a cluster the arena could not store, which the general road joins).
bool SlowPrint::gatherSyllableRun(Batch& batch, size_t& countOut, const uint8_t* bytes, size_t available,
                                  size_t& offsetOut, std::optional<Decoded>& stopper)
{
    const SyllableKinds& kinds = syllableKinds();
    if ((kinds[batch.lastScalars[countOut - 1] - syllableFirst] & syllableStarts) == 0)
        return false;
    // The count and the offset live in registers: the batch's byte stores could alias them.
    size_t count = countOut;
    size_t offset = offsetOut;
    const auto end = [&](bool stopped) {
        countOut = count;
        offsetOut = offset;
        return stopped;
    };
    std::array<char32_t, CellArena::maximumGraphemeScalars> cluster;
    cluster[0] = batch.lastScalars[count - 1];
    size_t size = 1;
    Conjunct conjunct = conjunctAfter(Conjunct::none, kinds[cluster[0] - syllableFirst]);
    bool wide = false;
    for (;;) {
        // The next scalar, when it is three bytes in U+0800-U+0FFF with a kind of its own.
        // The table is read whatever the bytes are (the index stays inside it) and the kind kept
        // only for such a sequence, which spares a branch per byte tested.
        uint8_t kind = 0;
        char32_t next = 0;
        if (available - offset >= 3) {
            // The lead and the second byte are read and tested together.
            const uint32_t leadAndSecond = loadPair(bytes + offset);
            const uint8_t third = bytes[offset + 2];
            const bool sequence = ((leadAndSecond & 0xE0FF) == 0xA0E0) & ((third & 0xC0) == 0x80);
            const char32_t index = (leadAndSecond >> 2 & 0x7C0) | (third & 0x3F);
            kind = static_cast<uint8_t>(kinds[index] & -static_cast<uint8_t>(sequence));
            next = index + syllableFirst;
        }
        const bool consonant =
            (kind & (syllableStarts | bits::conjunctMask)) == (syllableStarts | bits::conjunctConsonant);
        if ((kind & syllableJoins) != 0 || (consonant && conjunct == Conjunct::linked)) {
            // It joins the cell; past the cap it is dropped, as the general loop drops it.
            if (size < cluster.size()) {
                cluster[size++] = next;
                conjunct = conjunctAfter(conjunct, kind);
                // A conjunct's consonant widens the cell too.
                wide = wide || (kind & (syllableWidens | syllableStarts)) != 0;
            }
            offset += 3;
            continue;
        }
        // The cell is complete.
        if (size > 1) {
            const uint32_t id = arena_.internCluster(std::u32string_view(cluster.data(), size));
            if (id == 0) {
                // The general road joins the marks one at a time; the batch ends before them.
                offset = batch.starts[count - 1] + 3;
                stopper = Decoded{Decoded::Kind::scalar, cluster[1], 3};
                return end(true);
            }
            batch.contents[count - 1] =
                uint32_t(PackedCell::Kind::grapheme) | (id << PackedCell::contentShift);
            batch.lastScalars[count - 1] = cluster[size - 1];
            if (wide)
                batch.widths[count - 1] = 2 | Buffer::runCellStaysOnRow;
        }
        if ((kind & syllableStarts) == 0 || count == maximumBatch)
            return end(false);
        batch.setScalarCell(count, next, offset, 1);
        ++count;
        offset += 3;
        cluster[0] = next;
        size = 1;
        conjunct = conjunctAfter(Conjunct::none, kind);
        wide = false;
        if (count == maximumBatch)
            return end(false);
    }
}

// Called right after the batch stored a wide scalar of three bytes without grapheme properties
// as its last cell, alone, with `offset` just past it and room for another cell. Stores the
// scalars after it while they are such wide characters (`wideLetters`), each a cell of its own as
// the general loop would store it; anything else, a mark joining the last of them included, is
// left to that loop, which finds the last cell as plain as the first.
void SlowPrint::gatherWideRun(Batch& batch, size_t& countOut, const uint8_t* bytes, size_t available,
                              size_t& offsetOut)
{
    const WideLetters& letters = wideLetters();
    // The count and the offset live in registers: the batch's byte stores could alias them.
    size_t count = countOut;
    size_t offset = offsetOut;
    while (count < maximumBatch && available - offset >= 3) {
        // E0-EF and two continuation bytes (the lead and the second byte tested as one pair).
        // The table holds no scalar below U+1000, which is all lead E0 gives, its overlong forms
        // included; nor surrogates, which decode from ED A0-BF.
        const uint32_t leadAndSecond = loadPair(bytes + offset);
        const uint8_t third = bytes[offset + 2];
        if ((leadAndSecond & 0xC0F0) != 0x80E0 || (third & 0xC0) != 0x80)
            break;
        const char32_t scalar =
            char32_t(leadAndSecond & 0x0F) << 12 | char32_t(leadAndSecond >> 8 & 0x3F) << 6 | (third & 0x3F);
        if ((letters[scalar / 64] >> (scalar % 64) & 1) == 0)
            break;
        batch.setScalarCell(count, scalar, offset, 2);
        ++count;
        offset += 3;
    }
    countOut = count;
    offsetOut = offset;
}

} // namespace kestrovan::printing
