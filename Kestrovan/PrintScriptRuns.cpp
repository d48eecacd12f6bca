// The print batch's loops for runs of text in the commonest shapes, each scalar taken with a byte
// test and one read of a small table of kinds instead of the batch's general loop (the full
// decoder, two or three table reads, the pairwise join test, a call gathering the joins):
// - printable ASCII, sixteen bytes at a time;
// - letters: the one-column letters of two bytes (Latin, Greek, Cyrillic, Hebrew, Arabic), with
//   the combining marks of two bytes that join them, as accented text arrives decomposed; and
//   the letters and emoji of four bytes, with an emoji's skin tone and the emoji joined to it,
//   and flags;
// - a syllable run of Devanagari and its sister scripts (U+0800-U+0FFF, three bytes a scalar): a
//   letter and the vowel signs, viramas, nuktas and conjunct consonants that join it, with the
//   cell's conjunct state carried along instead of walked back to;
// - characters of three bytes that join nothing: ideographs and kana, box drawing, punctuation,
//   each a cell of its own.
// One loop hands over to the next by the lead byte it stops at, so that text switching script
// every few letters does not go back to the general loop at each switch.
//
// The kinds are worked out from the same tables the general loop reads, for exactly the scalars
// whose join answers depend on nothing but that kind (and the conjunct state); anything else
// (another block, a joiner, a selector, a byte that is not such a sequence) ends the loops and the
// general loop goes on with the cell as they left it, which gives the same cells.
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

// The scalars of U+10000-U+1FFFF the letter loop takes, two bits each (0 for a scalar left to
// the general loop): 1 for letters of one column that are not pictographs (mathematical and
// historic alphabets), 2 for other characters of two columns (historic ideographs), 3 for
// pictographs of two columns (emoji that stand alone). None has grapheme properties or is among
// the scalars that join despite their width, which is what lets the general loop start a cell
// with them that joins nothing but a mark; an emoji's skin tone and a joiner after it, with the
// emoji the joiner joins, are gathered into its cell by the letter loop too.
constexpr unsigned planeOneNarrow = 1;
constexpr unsigned planeOneWide = 2;
constexpr unsigned planeOnePictograph = 3;
using PlaneOneWidths = std::array<uint64_t, 0x10000 / 32>;

PlaneOneWidths makePlaneOneWidths()
{
    PlaneOneWidths widths{};
    for (char32_t scalar = 0x10000; scalar < 0x20000; ++scalar) {
        if (unicode::graphemeProperties(scalar) != 0 || joinsDespiteWidth(scalar))
            continue;
        const uint8_t code = unicode::widthCode(scalar);
        const bool pictograph = unicode::isExtendedPictographic(scalar);
        uint64_t kind = 0;
        if (code == 2 && !pictograph)
            kind = planeOneNarrow;
        else if (code == 3)
            kind = pictograph ? planeOnePictograph : planeOneWide;
        widths[(scalar - 0x10000) / 32] |= kind << (scalar % 32 * 2);
    }
    return widths;
}

unsigned planeOneKind(const PlaneOneWidths& widths, char32_t scalar)
{
    return static_cast<unsigned>(widths[(scalar - 0x10000) / 32] >> (scalar % 32 * 2) & 3);
}

// The scalar of U+10000-U+1FFFF whose four bytes, F0 90-9F and two continuation bytes, were read
// as `quad`; 0 for other bytes.
char32_t planeOneScalar(uint32_t quad)
{
    if ((quad & 0xC0C0F0FF) != 0x808090F0)
        return 0;
    return 0x10000 | char32_t(quad >> 8 & 0x0F) << 12 | char32_t(quad >> 16 & 0x3F) << 6 |
           (quad >> 24 & 0x3F);
}

const PlaneOneWidths& planeOneWidths()
{
    static const PlaneOneWidths widths = makePlaneOneWidths();
    return widths;
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

// The state after a scalar of conjunct class `kind & bits::conjunctMask`: a consonant starts a
// conjunct, a linker links one that has started, an extending mark keeps the state, and anything
// else ends it. Read from a word of two bits for each state and class, as the classes come in no
// order in a syllable and a branch on them mispredicts.
constexpr uint32_t conjunctTransitions = [] {
    const auto after = [](Conjunct state, uint8_t conjunctClass) {
        switch (conjunctClass) {
        case bits::conjunctConsonant:
            return Conjunct::consonant;
        case bits::conjunctExtend:
            return state;
        case bits::conjunctLinker:
            return state == Conjunct::none ? Conjunct::none : Conjunct::linked;
        default:
            return Conjunct::none;
        }
    };
    uint32_t table = 0;
    for (unsigned state = 0; state < 3; ++state) {
        for (unsigned conjunctClass = 0; conjunctClass < 4; ++conjunctClass) {
            const auto next = after(static_cast<Conjunct>(state), static_cast<uint8_t>(conjunctClass << 6));
            table |= static_cast<uint32_t>(next) << ((state * 4 + conjunctClass) * 2);
        }
    }
    return table;
}();
static_assert(bits::conjunctMask == 0xC0);

Conjunct conjunctAfter(Conjunct state, uint8_t kind)
{
    const unsigned index = static_cast<unsigned>(state) * 4 + (kind >> 6);
    return static_cast<Conjunct>(conjunctTransitions >> (index * 2) & 3);
}

// The characters of U+1000-U+FFFF the loop of three-byte characters takes, as their width in two
// bits each (0 for a scalar left to the general loop): no grapheme properties and not among the
// scalars that join despite their width, so that the general loop stores such a scalar as a cell
// of its own after any cell these loops leave, and tests nothing else; and Hangul syllables.
// Ideographs, kana, Hangul and fullwidth forms of two columns; box drawing, punctuation and
// symbols of one. Surrogates, which decode from ED A0-BF, are left to the general loop.
using ThreeByteWidths = std::array<uint64_t, 0x10000 / 32>;

ThreeByteWidths makeThreeByteWidths()
{
    ThreeByteWidths widths{};
    for (char32_t scalar = 0x1000; scalar < 0x10000; ++scalar) {
        const uint8_t code = unicode::widthCode(scalar);
        const uint8_t properties = unicode::graphemeProperties(scalar);
        // A Hangul syllable joins only a leading consonant before it, which no cell these loops
        // leave ends in, and only the vowels and trailing consonants after it, which have no
        // width and end the loop.
        const bool syllable = properties == bits::hangulLV || properties == bits::hangulLVT;
        if (code < 2 || (properties != 0 && !syllable) || joinsDespiteWidth(scalar) ||
            (scalar >= 0xD800 && scalar <= 0xDFFF))
            continue;
        widths[scalar / 32] |= uint64_t(code - 1) << (scalar % 32 * 2);
    }
    return widths;
}

const ThreeByteWidths& threeByteWidths()
{
    static const ThreeByteWidths widths = makeThreeByteWidths();
    return widths;
}

// The loops of `gatherScriptRuns`, and the steps between them.
enum class Loop : uint8_t
{
    // Picks the loop for the scalar at the current byte by its lead byte.
    next,
    // The same where a byte of the batch with room in it is known to be there, beyond ASCII.
    beyondAscii,
    ascii,
    letters,
    // A letter of U+0800-U+0FFF not stored yet, and the syllable loop after it.
    syllableStart,
    syllable,
    threeByte,
    done,
    stopped,
};

// The loop for the scalar whose lead byte, beyond ASCII, is `lead`: C2-DF and F0, the letters of
// two bytes and of U+10000-U+1FFFF; E0, U+0800-U+0FFF, where the syllables are; E1-EF, the other
// characters of three bytes. Any other byte ends the loops.
Loop nextLoop(uint8_t lead)
{
    if ((lead >= 0xC2 && lead < 0xE0) || lead == 0xF0)
        return Loop::letters;
    if (lead == 0xE0)
        return Loop::syllableStart;
    if (lead > 0xE0 && lead < 0xF0)
        return Loop::threeByte;
    return Loop::done;
}

} // namespace

// Called with room for a cell in the batch, at printable ASCII that joins nothing before it
// (`ScriptRunStart::atAscii`), or right after the batch stored a scalar as a cell of its own that
// is neither Prepend nor a control (`afterStoredCell`). Takes the scalars from `offset` on while
// one of the loops takes them, and answers false at the first scalar none takes, or when the batch
// is full; true when the batch must end here, with `stopper` set (a cluster the arena could not
// store, which the general road joins). Leaves in `last` and `lastProperties` the last scalar of
// the last cell and its grapheme properties, for the general loop to go on with.
//
// Each loop stops at a scalar it does not take, and the next one is picked by that scalar's lead
// byte, without the general loop's decoding and tests in between. Each starts cells only where
// the general loop would: the cell before is one these loops stored, or the one the caller named,
// and its last scalar is never Prepend, a control or a joiner, after which printable ASCII and
// letters, ideographs and emoji without grapheme properties start a cell. So does a consonant:
// only the syllable loop leaves a cell ending in a linker, and it takes the consonant after it
// itself. A plain mark joins whatever cell is before it; the letter loop takes one only when that
// cell is a lone scalar, which needs nothing read back.
bool SlowPrint::gatherScriptRuns(Batch& batch, size_t& countOut, const uint8_t* bytes, size_t available,
                                 size_t& offsetOut, std::optional<Decoded>& stopper, ScriptRunStart start,
                                 bool asciiBatches, char32_t& last, uint8_t& lastProperties)
{
    const NarrowKinds& narrow = narrowKinds();
    const PlaneOneWidths& planeOne = planeOneWidths();
    const SyllableKinds& syllables = syllableKinds();
    const ThreeByteWidths& threeByte = threeByteWidths();
    // The count and the offset live in registers: the batch's byte stores could alias them.
    size_t cells = countOut;
    size_t end = offsetOut;
    // The id of the cluster of the `size` scalars, two or more, gathered at `scalars`; 0 when the
    // arena could not store it. The short ones, nearly all, skip the arena's checks of the list.
    const auto intern = [&](const char32_t* scalars, size_t size) __attribute__((always_inline))
    {
        if (size > 3)
            return arena_.internCluster(std::u32string_view(scalars, size));
        // Two or three: the last scalar is read either way and made `noScalar` for two (all of
        // its bits set, as a scalar of text has none beyond them), without a branch on the size.
        const char32_t third =
            scalars[size - 1] | static_cast<char32_t>(3 - size) * ClusterCacheSet::noScalar;
        return arena_.internShortCluster(scalars[0], scalars[1], third);
    };
    // A flag at `end`, whose first half `first` was read: two regional indicators make one cell of
    // two columns, unless the cell before ends in one, which the second half of a flag joins, or
    // they are one column wide. Answers false, taking nothing, where the general loop goes on.
    const auto gatherFlag = [&](char32_t first) {
        if (!isRegionalIndicator(first) || narrowRegionalIndicators_ ||
            isRegionalIndicator(batch.lastScalar(cells - 1)) || available - end < 8)
            return false;
        const char32_t pair[2] = {first, planeOneScalar(loadQuad(bytes + end + 4))};
        if (!isRegionalIndicator(pair[1]))
            return false;
        const uint32_t id = arena_.internShortCluster(pair[0], pair[1], ClusterCacheSet::noScalar);
        if (id == 0)
            return false;
        batch.setScalarCell(cells, pair[1], end, 2);
        batch.setClusterCell(cells, id, pair[1]);
        ++cells;
        end += 8;
        return true;
    };
    // What joins the emoji `first` just stored at `end`: a skin tone after an emoji it modifies, and
    // a joiner followed by an emoji of the table, as often as they come. Anything else (a
    // selector, a joiner before anything else, a cluster at the cap) ends the cell here, and the
    // general loop reads it back to go on. Answers false when the arena could not store the
    // cluster, with `stopper` set to what the general road joins instead, the batch ending before it.
    const auto gatherEmojiSequence = [&](char32_t first) {
        std::array<char32_t, CellArena::maximumGraphemeScalars> cluster;
        cluster[0] = first;
        size_t size = 1;
        const size_t sequenceStart = end;
        for (;;) {
            if (available - end >= 4 && size < cluster.size()) {
                const char32_t scalar = planeOneScalar(loadQuad(bytes + end));
                if (isEmojiModifier(scalar)) {
                    if (!UnicodeUtil::isEmojiModifierBase(cluster[size - 1]))
                        break;
                    cluster[size++] = scalar;
                    end += 4;
                    continue;
                }
            }
            // E2 80 8D, the joiner, and an emoji.
            if (available - end < 7 || size + 2 > cluster.size() ||
                (loadQuad(bytes + end) & 0xFFFFFF) != 0x8D80E2)
                break;
            const char32_t joined = planeOneScalar(loadQuad(bytes + end + 3));
            if (joined == 0 || planeOneKind(planeOne, joined) != planeOnePictograph)
                break;
            cluster[size++] = zeroWidthJoiner;
            cluster[size++] = joined;
            end += 7;
        }
        if (size == 1)
            return true;
        const uint32_t id = intern(cluster.data(), size);
        if (id == 0) {
            end = sequenceStart;
            stopper = Decoded{Decoded::Kind::scalar, cluster[1], cluster[1] == zeroWidthJoiner ? 3u : 4u};
            return false;
        }
        batch.setClusterCell(cells - 1, id, cluster[size - 1]);
        return true;
    };
    // The kind of the letter that starts the syllable loop's first cell.
    uint8_t startKind = 0;
    Loop loop = Loop::next;
    if (start == ScriptRunStart::atAscii) {
        loop = Loop::ascii;
    } else if (const char32_t stored = batch.lastScalar(cells - 1);
               stored - syllableFirst < classifiedEnd - syllableFirst) {
        // A letter of Devanagari or a script near it: its syllable goes on in the syllable loop.
        startKind = syllables[stored - syllableFirst];
        if ((startKind & syllableStarts) != 0)
            loop = Loop::syllable;
    }
    for (;;) {
        switch (loop) {
        case Loop::next: {
            if (cells == maximumBatch || end == available) {
                loop = Loop::done;
                break;
            }
            // Printable ASCII, or a lead byte picking a loop (`nextLoop`). Anything else, a control
            // or a byte that cannot lead a sequence, ends the loops.
            uint8_t lead = bytes[end];
            if (lead < 0x80) {
                if (static_cast<uint8_t>(lead - 0x20) >= 0x5F || !asciiBatches) {
                    loop = Loop::done;
                    break;
                }
                // A lone byte before a sequence (the space between words of other scripts) is
                // stored here, and the lead after it picks the next loop straight away. Longer
                // stretches, and a byte that would fill the batch, go to the ASCII loop.
                if (available - end < 2 || bytes[end + 1] < 0x80 || cells + 1 == maximumBatch) {
                    loop = Loop::ascii;
                    break;
                }
                batch.setScalarCell(cells, lead, end, 1);
                ++cells;
                ++end;
                lead = bytes[end];
            }
            loop = nextLoop(lead);
            break;
        }
        case Loop::beyondAscii:
            loop = nextLoop(bytes[end]);
            break;

        // Printable ASCII.
        case Loop::ascii: {
            // A lone byte before a sequence (the space between words of other scripts) is stored
            // without the block below, which would take only it after setting up for sixteen.
            if (available - end < 2 || bytes[end + 1] >= 0x80) {
                batch.setScalarCell(cells, bytes[end], end, 1);
                ++cells;
                ++end;
                if (end == available || cells == maximumBatch)
                    loop = Loop::done;
                else
                    loop = Loop::beyondAscii;
                break;
            }
            loop = Loop::next;
#if defined(__SSE2__)
            // Sixteen bytes at a time while the batch has room for them all: every lane is
            // stored, and the cells past the first byte that is not printable ASCII are written
            // over later. Short stretches between words of other scripts mostly end inside the
            // first block, where the byte loop below would mispredict its exit.
            while (available - end >= 16 && maximumBatch - cells >= 16) {
                const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + end));
                const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8(0x1F)),
                                                        _mm_cmplt_epi8(block, _mm_set1_epi8(0x7F)));
                const unsigned bad = ~static_cast<unsigned>(_mm_movemask_epi8(printable)) & 0xFFFFu;
                const size_t taken = bad != 0 ? static_cast<size_t>(__builtin_ctz(bad)) : 16;
                if (taken <= 4) {
                    // A short word costs less stored a cell at a time than spread over the
                    // block's sixteen lanes.
                    for (size_t i = 0; i < taken; ++i)
                        batch.setScalarCell(cells + i, bytes[end + i], end + i, 1);
                    cells += taken;
                    end += taken;
                    break;
                }
                const __m128i zero = _mm_setzero_si128();
                const __m128i low = _mm_unpacklo_epi8(block, zero);
                const __m128i high = _mm_unpackhi_epi8(block, zero);
                const __m128i scalars0 = _mm_unpacklo_epi16(low, zero);
                const __m128i scalars1 = _mm_unpackhi_epi16(low, zero);
                const __m128i scalars2 = _mm_unpacklo_epi16(high, zero);
                const __m128i scalars3 = _mm_unpackhi_epi16(high, zero);
                auto* contents = reinterpret_cast<__m128i*>(batch.contents.data() + cells);
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
            if (cells == maximumBatch || end == available)
                break;
#endif
            while (static_cast<uint8_t>(bytes[end] - 0x20) < 0x5F) {
                batch.setScalarCell(cells, bytes[end], end, 1);
                ++cells;
                ++end;
                if (cells == maximumBatch || end == available)
                    break;
            }
            break;
        }

        // Letters of two bytes, with the marks joining the cell before them, and of four.
        case Loop::letters: {
            const size_t from = end;
            for (;;) {
                if (available - end >= 2 && (loadPair(bytes + end) & 0xC0E0) == 0x80C0) {
                    // A lead of C0-DF and a continuation byte: the overlong leads C0 and C1 give
                    // scalars below U+0080, whose kind is 0.
                    char32_t scalar = char32_t(bytes[end] & 0x1F) << 6 | (bytes[end + 1] & 0x3F);
                    const uint8_t kind = narrow[scalar];
                    if (kind == narrowLetter) {
                        batch.setScalarCell(cells, scalar, end, 1);
                        ++cells;
                        end += 2;
                    } else if (kind == narrowMark) {
                        // The cell before must be a lone scalar. Past the cap marks are dropped.
                        if (!batch.isScalarCell(cells - 1))
                            break;
                        std::array<char32_t, CellArena::maximumGraphemeScalars> cluster;
                        cluster[0] = batch.contents[cells - 1] >> PackedCell::contentShift;
                        size_t size = 1;
                        const size_t marksStart = end;
                        do {
                            if (size < cluster.size())
                                cluster[size++] = scalar;
                            end += 2;
                            if (available - end < 2 || (loadPair(bytes + end) & 0xC0E0) != 0x80C0)
                                break;
                            scalar = char32_t(bytes[end] & 0x1F) << 6 | (bytes[end + 1] & 0x3F);
                        } while (narrow[scalar] == narrowMark);
                        const uint32_t id = intern(cluster.data(), size);
                        if (id == 0) {
                            // The general road joins the marks one at a time; the batch ends
                            // before them.
                            end = marksStart;
                            stopper = Decoded{Decoded::Kind::scalar, cluster[1], 2};
                            loop = Loop::stopped;
                            break;
                        }
                        batch.setClusterCell(cells - 1, id, cluster[size - 1]);
                    } else {
                        break;
                    }
                } else if (const char32_t scalar =
                               available - end >= 4 ? planeOneScalar(loadQuad(bytes + end)) : 0) {
                    // A scalar of U+10000-U+1FFFF, which rides here when the table gives it a kind,
                    // and as a flag's first half.
                    const unsigned kind = planeOneKind(planeOne, scalar);
                    if (kind == 0) {
                        if (!gatherFlag(scalar))
                            break;
                    } else {
                        batch.setScalarCell(cells, scalar, end, kind == planeOneNarrow ? 1 : 2);
                        ++cells;
                        end += 4;
                        if (kind == planeOnePictograph && !gatherEmojiSequence(scalar)) {
                            loop = Loop::stopped;
                            break;
                        }
                    }
                } else {
                    break;
                }
                if (cells == maximumBatch || end == available || bytes[end] < 0x80)
                    break;
            }
            if (loop != Loop::stopped)
                loop = end != from ? Loop::next : Loop::done;
            break;
        }

        case Loop::syllableStart: {
            if (available - end < 3) {
                loop = Loop::done;
                break;
            }
            // E0 A0-BF and a continuation byte, the lead and the second byte tested as one pair.
            const uint32_t leadAndSecond = loadPair(bytes + end);
            const uint8_t third = bytes[end + 2];
            const char32_t index = (leadAndSecond >> 2 & 0x7C0) | (third & 0x3F);
            if ((leadAndSecond & 0xE0FF) != 0xA0E0 || (third & 0xC0) != 0x80 ||
                (syllables[index] & syllableStarts) == 0) {
                loop = Loop::done;
                break;
            }
            startKind = syllables[index];
            batch.setScalarCell(cells, index + syllableFirst, end, 1);
            ++cells;
            end += 3;
            // A cell at the cap gathers no joins: the batch ends before them.
            loop = cells < maximumBatch ? Loop::syllable : Loop::done;
            break;
        }

        // The cell of the letter just stored, with the vowel signs, viramas, nuktas and conjunct
        // consonants that join it, and the syllables after it.
        case Loop::syllable: {
            loop = Loop::next;
            std::array<char32_t, CellArena::maximumGraphemeScalars> cluster;
            // The cell holds the letter alone.
            cluster[0] = batch.contents[cells - 1] >> PackedCell::contentShift;
            size_t size = 1;
            Conjunct conjunct = conjunctAfter(Conjunct::none, startKind);
            bool wideCell = false;
            for (;;) {
                // The next scalar, when it is three bytes in U+0800-U+0FFF with a kind of its
                // own. The table is read whatever the bytes are (the index stays inside it) and
                // the kind kept only for such a sequence, which spares a branch per byte tested.
                uint8_t kind = 0;
                char32_t next = 0;
                if (available - end >= 4) {
                    // The three bytes read and tested as one word, with the byte after them.
                    const uint32_t quad = loadQuad(bytes + end);
                    const bool sequence = (quad & 0xC0E0FF) == 0x80A0E0;
                    const char32_t index = (quad >> 2 & 0x7C0) | (quad >> 16 & 0x3F);
                    kind = static_cast<uint8_t>(syllables[index] & -static_cast<uint8_t>(sequence));
                    next = index + syllableFirst;
                } else if (available - end == 3) {
                    // The lead and the second byte are read and tested together.
                    const uint32_t leadAndSecond = loadPair(bytes + end);
                    const uint8_t third = bytes[end + 2];
                    const bool sequence = ((leadAndSecond & 0xE0FF) == 0xA0E0) & ((third & 0xC0) == 0x80);
                    const char32_t index = (leadAndSecond >> 2 & 0x7C0) | (third & 0x3F);
                    kind = static_cast<uint8_t>(syllables[index] & -static_cast<uint8_t>(sequence));
                    next = index + syllableFirst;
                }
                const bool consonant = (kind & (syllableStarts | bits::conjunctMask)) ==
                                       (syllableStarts | bits::conjunctConsonant);
                if ((kind & syllableJoins) != 0 || (consonant && conjunct == Conjunct::linked)) {
                    // It joins the cell; past the cap it is dropped, as the general loop drops it.
                    if (size < cluster.size()) {
                        cluster[size++] = next;
                        conjunct = conjunctAfter(conjunct, kind);
                        // A conjunct's consonant widens the cell too.
                        wideCell = wideCell || (kind & (syllableWidens | syllableStarts)) != 0;
                    }
                    end += 3;
                    continue;
                }
                // The cell is complete.
                if (size > 1) {
                    const uint32_t id = intern(cluster.data(), size);
                    if (id == 0) {
                        // The general road joins the marks one at a time; the batch ends before them.
                        end = batch.starts[cells - 1] + 3;
                        stopper = Decoded{Decoded::Kind::scalar, cluster[1], 3};
                        loop = Loop::stopped;
                        break;
                    }
                    batch.setClusterCell(cells - 1, id, cluster[size - 1]);
                    // Stored either way: whether a vowel sign widened the cell is as random as
                    // the text.
                    batch.widths[cells - 1] = wideCell ? 2 | Buffer::runCellStaysOnRow : 1;
                }
                if ((kind & syllableStarts) == 0 || cells == maximumBatch)
                    break;
                batch.setScalarCell(cells, next, end, 1);
                ++cells;
                end += 3;
                cluster[0] = next;
                size = 1;
                conjunct = conjunctAfter(Conjunct::none, kind);
                wideCell = false;
                if (cells == maximumBatch)
                    break;
            }
            break;
        }

        // Characters of three bytes without grapheme properties (`threeByteWidths`): ideographs,
        // kana, box drawing, punctuation; each a cell of its own.
        case Loop::threeByte: {
            const size_t from = end;
            while (cells < maximumBatch && available - end >= 3) {
                // E0-EF and two continuation bytes (the lead and the second byte tested as one
                // pair). The table holds no scalar below U+1000, which is all lead E0 gives, its
                // overlong forms included; nor surrogates, which decode from ED A0-BF.
                const uint32_t leadAndSecond = loadPair(bytes + end);
                const uint8_t third = bytes[end + 2];
                if ((leadAndSecond & 0xC0F0) != 0x80E0 || (third & 0xC0) != 0x80)
                    break;
                const char32_t scalar = char32_t(leadAndSecond & 0x0F) << 12 |
                                        char32_t(leadAndSecond >> 8 & 0x3F) << 6 | (third & 0x3F);
                const auto width = static_cast<uint8_t>(threeByte[scalar / 32] >> (scalar % 32 * 2) & 3);
                if (width == 0)
                    break;
                batch.setScalarCell(cells, scalar, end, width);
                ++cells;
                end += 3;
            }
            loop = end != from ? Loop::next : Loop::done;
            break;
        }

        case Loop::done:
        case Loop::stopped:
            countOut = cells;
            offsetOut = end;
            last = batch.lastScalar(cells - 1);
            lastProperties = unicode::graphemeProperties(last);
            return loop == Loop::stopped;
        }
    }
}

} // namespace kestrovan::printing
