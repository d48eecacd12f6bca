// The print batch's loop for syllable runs of the Brahmic scripts and their neighbours (U+0800-
// U+0FFF, three bytes a scalar): a letter and the vowel signs, viramas, nuktas and conjunct
// consonants that join it. Text in Devanagari and its sister scripts is mostly such scalars one
// after another, and each one taken through the batch's general loop pays for the full decoder,
// two or three table reads, the pairwise join test, the whole-cluster test for a consonant and a
// fresh call gathering the joins. Here each scalar takes one byte test, one read of a small table
// of join kinds and a few branches, with the cell's conjunct state carried along instead of
// walked back to.
//
// The kinds are worked out from the same tables the general loop reads, for exactly the scalars
// whose join answers depend on nothing but that kind and the cell's conjunct state; anything else
// (another block, a joiner, a selector, a byte that is not such a sequence) ends the loop and the
// general loop goes on with the cell as this one left it, which gives the same cells.
#include "Kestrovan/Buffer.h"
#include "Kestrovan/PrintSlowRoad.h"

namespace kestrovan::printing {

namespace {

// The join kind of a scalar of U+0800 ..< `classifiedEnd` for the loop below; 0 for a scalar the
// loop leaves to the general one. Bits 6-7 hold the scalar's Indic conjunct class, as in the
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

} // namespace

bool startsSyllableRun(char32_t scalar)
{
    return scalar - syllableFirst < classifiedEnd - syllableFirst &&
           (syllableKinds()[scalar - syllableFirst] & syllableStarts) != 0;
}

// Called right after the batch stored a letter of the kind above as its last cell, alone, with
// `offset` just past it. Gathers that cell's joins and the cells after it while the bytes are
// such scalars, as the general loop would, and answers false; true when the batch must end
// here, with `stopper` set (a cluster the arena could not store, which the general road joins).
bool SlowPrint::gatherSyllableRun(Batch& batch, size_t& count, const uint8_t* bytes, size_t available,
                                  size_t& offset, std::optional<Decoded>& stopper)
{
    const SyllableKinds& kinds = syllableKinds();
    std::array<char32_t, CellArena::maximumGraphemeScalars> cluster;
    cluster[0] = batch.lastScalars[count - 1];
    size_t size = 1;
    Conjunct conjunct = conjunctAfter(Conjunct::none, kinds[cluster[0] - syllableFirst]);
    bool wide = false;
    for (;;) {
        // The next scalar, when it is three bytes in U+0800-U+0FFF with a kind of its own.
        uint8_t kind = 0;
        char32_t next = 0;
        if (available - offset >= 3 && bytes[offset] == 0xE0 && (bytes[offset + 1] & 0xE0) == 0xA0 &&
            (bytes[offset + 2] & 0xC0) == 0x80) {
            next = char32_t(bytes[offset + 1] & 0x1F) << 6 | (bytes[offset + 2] & 0x3F);
            kind = kinds[next];
            next += syllableFirst;
        }
        const bool consonant = (kind & (syllableStarts | bits::conjunctMask)) == (syllableStarts | bits::conjunctConsonant);
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
                return true;
            }
            batch.contents[count - 1] = uint32_t(PackedCell::Kind::grapheme) | (id << PackedCell::contentShift);
            batch.lastScalars[count - 1] = cluster[size - 1];
            if (wide)
                batch.widths[count - 1] = 2 | Buffer::runCellStaysOnRow;
        }
        if ((kind & syllableStarts) == 0 || count == maximumBatch)
            return false;
        batch.contents[count] = next << PackedCell::contentShift;
        batch.lastScalars[count] = next;
        batch.starts[count] = static_cast<uint16_t>(offset);
        batch.widths[count] = 1;
        ++count;
        offset += 3;
        cluster[0] = next;
        size = 1;
        conjunct = conjunctAfter(Conjunct::none, kind);
        wide = false;
        if (count == maximumBatch)
            return false;
    }
}

} // namespace kestrovan::printing
