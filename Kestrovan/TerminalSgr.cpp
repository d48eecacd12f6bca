// Select graphic rendition: folding SGR parameters into the current attribute and its style id.
//
// `cmdCsiM` walks CSI ... m over the canonical key of the current look (`InternedAttributeKey`:
// the colours' tags, the style bits and the underline style packed in two words), so that each
// parameter that needs no other is a mask and an or on a register, both from one table (the short
// SGRs the parse loop reads whole take the same steps), and the result is interned in the cell
// arena by its key, once per sequence, without building an attribute at all: the key is the current look,
// and the attribute is spelled out from it only when read. Printed cells carry the 16-bit
// style id. Erasing, scrolling and insertion fill new cells with the background of the current attribute
// only; that background-only look is recorded here, as a key, and only when the background really
// changed, because most SGR sequences (bold, colours of text) leave it alone; the attribute and its
// two packed cells are built from the key when first read.
#include "Kestrovan/BufferLoneCell.h"
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TrueColourShuffle.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace kestrovan {

namespace {

using Key = InternedAttributeKey;

// The fields of a key's first word: foreground tag, background tag, style bits, underline style.
constexpr uint64_t tagMask = 0x3FFFFFF;
constexpr int backgroundShift = 26;
constexpr int styleShift = 52;
constexpr int underlineStyleShift = 60;
constexpr uint64_t underlineStyleField = uint64_t(0xF) << underlineStyleShift;
// The tag of `defaultInvertedColor`; `defaultColor`'s is 0.
constexpr uint64_t invertedTag = 0x1000000;
// Added to an underline colour's tag in the second word, so that a present default colour is not 0.
constexpr uint64_t underlineColorOffset = 0x4000000;
// What an extended colour form gives when it is incomplete: no tag.
constexpr uint64_t noColor = ~uint64_t(0);

constexpr uint64_t paletteTag(int64_t index)
{
    return 0x2000000 | static_cast<uint64_t>(index);
}

void insertStyle(Key& key, CharacterStyle style)
{
    key.word0 |= uint64_t(style.rawValue) << styleShift;
}

void removeStyle(Key& key, CharacterStyle style)
{
    key.word0 &= ~(uint64_t(style.rawValue) << styleShift);
}

void setUnderlineStyle(Key& key, UnderlineStyle style)
{
    key.word0 = (key.word0 & ~underlineStyleField) | uint64_t(style) << underlineStyleShift;
}

void setForeground(Key& key, uint64_t tag)
{
    key.word0 = (key.word0 & ~tagMask) | tag;
}

void setBackground(Key& key, uint64_t tag)
{
    key.word0 = (key.word0 & ~(tagMask << backgroundShift)) | tag << backgroundShift;
}

uint64_t backgroundTag(const Key& key)
{
    return (key.word0 >> backgroundShift) & tagMask;
}

/// The result of reading an extended colour: its tag (`noColor` when the form was incomplete),
/// and how many parameters after the 38, 48 or 58 it used.
struct ExtendedColor
{
    uint64_t tag = noColor;
    int consumed = 0;
};

/// Whether parameter `index` was ended by ":" (the next one is its sub-parameter). The parser keeps
/// the mask for the first 64 parameters only.
bool followedByColon(uint64_t colonMask, int index)
{
    return index < 64 && ((colonMask >> index) & 1) != 0;
}

[[gnu::always_inline]] inline uint64_t clampComponent(int64_t value)
{
    return static_cast<uint64_t>(std::clamp<int64_t>(value, 0, 255));
}

[[gnu::always_inline]] inline uint64_t trueColorTag(int64_t red, int64_t green, int64_t blue)
{
    return 0x3000000 | clampComponent(red) << 16 | clampComponent(green) << 8 | clampComponent(blue);
}

/// Reads the colour after 38, 48 or 58, starting at `startIndex`. The semicolon form (38;5;n and
/// 38;2;r;g;b) takes a fixed number of parameters; the colon form takes its whole sub-parameter
/// group, with or without the colour-space field of 38:2:cs:r:g:b.
ExtendedColor parseExtendedColor(const CsiParameters& pars, uint64_t colonMask, int startIndex,
                                 bool usesColon)
{
    const int count = pars.count;
    const int s = startIndex;
    if (!usesColon) {
        if (s >= count)
            return {noColor, 0};
        switch (pars[s]) {
        case 5:
            if (s + 1 >= count)
                return {noColor, 1};
            return {paletteTag(static_cast<int64_t>(clampComponent(pars[s + 1]))), 2};
        case 2:
            if (s + 3 >= count)
                return {noColor, 1};
            return {trueColorTag(pars[s + 1], pars[s + 2], pars[s + 3]), 4};
        default:
            return {noColor, 1};
        }
    }

    if (s >= count)
        return {noColor, 0};
    // The group runs on while each element is ended by ':'.
    int length = 1;
    while (s + length < count && followedByColon(colonMask, s + length - 1))
        ++length;
    uint64_t tag = noColor;
    switch (pars[s]) {
    case 5:
        if (length >= 2)
            tag = paletteTag(static_cast<int64_t>(clampComponent(pars[s + 1])));
        break;
    case 2:
        if (length == 4)
            tag = trueColorTag(pars[s + 1], pars[s + 2], pars[s + 3]);
        else if (length >= 5) // s + 1 is the colour space, which we do not use
            tag = trueColorTag(pars[s + 2], pars[s + 3], pars[s + 4]);
        break;
    default:
        break;
    }
    return {tag, length};
}

// A fresh cell's attribute, copied from here: one built in place for each reset is written byte
// by byte and then read back in words, which waits for the bytes to reach memory.
constexpr Attribute freshCellAttribute{};

/// What one SGR parameter that needs no other does to a key, as masks: the first word becomes
/// (word0 & keep0) | set0 and the second word1 & keep1. The short road folds a parameter with
/// three operations and no branch on its value.
struct SgrStep
{
    uint64_t keep0 = ~uint64_t(0);
    uint64_t set0 = 0;
    uint64_t keep1 = ~uint64_t(0);
    /// False for the parameters the step cannot express (the extended colours 38, 48 and 58,
    /// which read those after them) and those SGR does not know, which it reports.
    bool simple = true;

    constexpr void insert(CharacterStyle style) { set0 |= uint64_t(style.rawValue) << styleShift; }
    constexpr void remove(CharacterStyle style)
    {
        keep0 &= ~(uint64_t(style.rawValue) << styleShift);
        set0 &= ~(uint64_t(style.rawValue) << styleShift);
    }
    constexpr void field(uint64_t mask, uint64_t value)
    {
        keep0 &= ~mask;
        set0 = (set0 & ~mask) | value;
    }
    constexpr void underlineStyle(UnderlineStyle style)
    {
        field(underlineStyleField, uint64_t(style) << underlineStyleShift);
    }
    constexpr void foreground(uint64_t tag) { field(tagMask, tag); }
    constexpr void background(uint64_t tag) { field(tagMask << backgroundShift, tag << backgroundShift); }

    /// `key` with this step applied.
    constexpr Key applied(Key key) const { return Key{(key.word0 & keep0) | set0, key.word1 & keep1}; }
};

/// One past the largest parameter a step is kept for: the bright backgrounds end at 107.
constexpr int sgrStepCount = 108;

/// The steps of parameters 0 ..< `sgrStepCount`: what each does alone, without colons.
constexpr std::array<SgrStep, sgrStepCount> sgrSteps = [] {
    std::array<SgrStep, sgrStepCount> steps{};
    for (int value = 0; value < sgrStepCount; ++value) {
        SgrStep& step = steps[static_cast<size_t>(value)];
        switch (value) {
        case 0:
            step.keep0 = 0;
            step.keep1 = 0;
            break;
        case 1:
            step.insert(CharacterStyle::bold);
            break;
        case 2:
            step.insert(CharacterStyle::dim);
            break;
        case 3:
            step.insert(CharacterStyle::italic);
            break;
        case 4:
            step.insert(CharacterStyle::underline);
            step.underlineStyle(UnderlineStyle::single);
            break;
        case 5:
            step.insert(CharacterStyle::blink);
            break;
        case 7:
            step.insert(CharacterStyle::inverse);
            break;
        case 8:
            step.insert(CharacterStyle::invisible);
            break;
        case 9:
            step.insert(CharacterStyle::crossedOut);
            break;
        case 21:
            step.insert(CharacterStyle::underline);
            step.underlineStyle(UnderlineStyle::double_);
            break;
        case 22:
            step.remove(CharacterStyle::bold);
            step.remove(CharacterStyle::dim);
            break;
        case 23:
            step.remove(CharacterStyle::italic);
            break;
        case 24:
            step.remove(CharacterStyle::underline);
            step.underlineStyle(UnderlineStyle::none);
            break;
        case 25:
            step.remove(CharacterStyle::blink);
            break;
        case 27:
            step.remove(CharacterStyle::inverse);
            break;
        case 28:
            step.remove(CharacterStyle::invisible);
            break;
        case 29:
            step.remove(CharacterStyle::crossedOut);
            break;
        case 39:
            step.foreground(0);
            break;
        case 49:
            step.background(0);
            break;
        case 59:
            step.keep1 = 0;
            break;
        default:
            if (value >= 30 && value <= 37)
                step.foreground(paletteTag(value - 30));
            else if (value >= 40 && value <= 47)
                step.background(paletteTag(value - 40));
            else if (value >= 90 && value <= 97)
                step.foreground(paletteTag(value - 90 + 8));
            else if (value >= 100 && value <= 107)
                step.background(paletteTag(value - 100 + 8));
            else
                step.simple = false;
            break;
        }
    }
    return steps;
}();

/// The step of a parameter that needs no other; null for the rest (the extended colours, and
/// parameters SGR does not know).
const SgrStep* sgrStepOf(int64_t value)
{
    if (static_cast<uint64_t>(value) >= sgrStepCount)
        return nullptr;
    const SgrStep& step = sgrSteps[static_cast<size_t>(value)];
    return step.simple ? &step : nullptr;
}

/// Erased cells know only a background, and both default forms erase to the plain default.
uint64_t eraseBackgroundTag(uint64_t tag)
{
    return tag == invertedTag ? 0 : tag;
}

} // namespace

void Terminal::cmdCsiM(const CsiParameters& pars, Collect collect)
{
    // SGR takes no intermediates; CSI > ... m and friends belong to other functions.
    if (!collect.empty() || pars.count == 0)
        return;

    // Fast road for the most common sequence, CSI m / CSI 0 m. The default attribute is always
    // id 0, and it erases to the plain default background.
    if (pars.count == 1 && pars[0] == 0) {
        if (curKey_ == Key())
            return;
        const bool eraseBackgroundChanges = eraseBackgroundTag(backgroundTag(curKey_)) != 0;
        curKey_ = Key();
        curAttrStale_ = true;
        curStyleID_ = 0;
        if (eraseBackgroundChanges) {
            setEraseAttribute(freshCellAttribute);
            rebuildEraseCells(0);
        }
        return;
    }
    applySgrParameters(pars);
}

void Terminal::applySgrParameters(const CsiParameters& pars)
{
    // Kept out of line: building the message would otherwise weigh on every SGR.
    const auto reportUnknown = [&](int64_t value) __attribute__((noinline, cold)) REQUIRES(terminalLock_)
    {
        logInfo("Unknown SGR attribute: " + std::to_string(value) + " " + describeParameters(pars));
    };

    const uint64_t colonMask = parser_->parsColonMask();
    const Key previous = curKey_;
    Key working = previous;
    int i = 0;
    // Leading true colours written with semicolons (38;2;r;g;b and 48;2;r;g;b), all that rainbow
    // text and half-block pictures write, are folded without the switch below; whatever follows
    // them goes through it as before.
    if (colonMask == 0) {
        while (i + 4 < pars.count && pars[i + 1] == 2) {
            const uint64_t tag = trueColorTag(pars[i + 2], pars[i + 3], pars[i + 4]);
            if (pars[i] == 38)
                setForeground(working, tag);
            else if (pars[i] == 48)
                setBackground(working, tag);
            else
                break;
            i += 5;
        }
    }
    while (i < pars.count) {
        const int64_t value = pars[i];
        // A parameter that needs no other is one step of masks; 4 ended by a colon names an
        // underline style in the parameter after it, and the extended colours read theirs.
        if (const SgrStep* simple = sgrStepOf(value);
            simple && !(value == 4 && followedByColon(colonMask, i))) {
            working = simple->applied(working);
            ++i;
            continue;
        }
        int step = 1;
        switch (value) {
        case 4: {
            // 4:n picks the underline style; plain 4 (or an unknown n) is a single underline.
            UnderlineStyle style = UnderlineStyle::single;
            if (followedByColon(colonMask, i) && i + 1 < pars.count) {
                step = 2;
                switch (pars[i + 1]) {
                case 0:
                    style = UnderlineStyle::none;
                    break;
                case 2:
                    style = UnderlineStyle::double_;
                    break;
                case 3:
                    style = UnderlineStyle::curly;
                    break;
                case 4:
                    style = UnderlineStyle::dotted;
                    break;
                case 5: // slow blink
                    style = UnderlineStyle::dashed;
                    break;
                default:
                    break;
                }
            }
            if (style == UnderlineStyle::none)
                removeStyle(working, CharacterStyle::underline);
            else
                insertStyle(working, CharacterStyle::underline);
            setUnderlineStyle(working, style);
            break;
        }
        case 38: // foreground, background and underline colour from the palette or 24-bit
        case 48:
        case 58: {
            const ExtendedColor read =
                parseExtendedColor(pars, colonMask, i + 1, followedByColon(colonMask, i));
            // A truncated form leaves the colour as it was.
            if (read.tag != noColor) {
                if (value == 38)
                    setForeground(working, read.tag);
                else if (value == 48)
                    setBackground(working, read.tag);
                else
                    working.word1 = read.tag + underlineColorOffset;
            }
            step = 1 + std::max(read.consumed, 1);
            break;
        }
        default:
            reportUnknown(value);
            break;
        }
        i += step;
    }

    // Repeating an attribute already in effect (CSI 1 m twice) costs nothing more.
    if (working == previous)
        return;
    adoptSgrLook(working, previous);
}

void Terminal::applyShortSgr(int64_t first, int64_t second, int count)
{
    const int64_t values[2] = {first, second};
    const CsiParameters pars(values, count);
    // A column-switch run takes the whole road; CSI 0 m has its own in `cmdCsiM`.
    if (columnSwitchRun_.isOpen() || (count == 1 && first == 0)) [[unlikely]] {
        dispatchCsi('m', pars, {});
        return;
    }
    // Both steps are looked up before either is applied, so that a parameter the steps cannot
    // express sends the whole sequence to the parameter fold.
    const SgrStep* a = sgrStepOf(first);
    const SgrStep* b = count == 2 ? sgrStepOf(second) : a;
    if (!a || !b) {
        applySgrParameters(pars);
        return;
    }
    const Key previous = curKey_;
    Key working = a->applied(previous);
    if (count == 2)
        working = b->applied(working);
    if (working == previous)
        return;
    adoptSgrLook(working, previous);
}

void Terminal::applyPaletteColour(bool background, uint8_t index)
{
    // A column-switch run keeps SGR, as it does when the sequence is dispatched.
    const Key previous = curKey_;
    Key working = previous;
    if (background)
        setBackground(working, paletteTag(index));
    else
        setForeground(working, paletteTag(index));
    if (working == previous)
        return;
    adoptSgrLook(working, previous);
}

void Terminal::applyTrueColours(uint32_t foreground, uint32_t background)
{
    switchTrueColours(foreground, background);
}

void Terminal::applyTrueColoursAndPrint(uint32_t foreground, uint32_t background,
                                        std::span<const uint8_t> text)
{
    switchTrueColours(foreground, background);
    printAfterTrueColours(text);
}

[[gnu::always_inline]] inline bool Terminal::loneCellCharacter(std::span<const uint8_t> text,
                                                               char32_t& scalar) const
{
    // A half block or a letter of rainbow text: one narrow character that the cell before the
    // cursor cannot join, written where the cursor stands. A two- or three-byte one is known
    // only as the character the lone-character road last found plain (pictures repeat one);
    // anything else, and everything that needs the print roads' care (a column-switch run to
    // end, a translating set, bytes put back, a hyperlink), takes those roads unchanged.
    if (columnSwitchRun_.isOpen() || charsets_.charset() || !readingBuffer_.putbackBuffer.empty() ||
        activeHyperlink()) [[unlikely]]
        return false;
    const uint32_t encoded = text.size() == 1 ? 0
                                              : uint32_t(text[0]) | uint32_t(text[1]) << 8 |
                                                    (text.size() == 3 ? uint32_t(text[2]) << 16 : 0) |
                                                    static_cast<uint32_t>(text.size()) << 24;
    scalar = text.size() == 1 ? char32_t(text[0]) : plainNarrowScalar_;
    return text.size() == 1 ? text[0] < 0x7F : encoded == plainNarrowBytes_;
}

[[gnu::always_inline]] inline void Terminal::printAfterTrueColours(std::span<const uint8_t> text)
{
    Buffer& buffer = *_buffer;
    char32_t scalar = 0;
    if (loneCellCharacter(text, scalar) && buffer.putPlainNarrowScalar(scalar, curStyleID_, 0)) [[likely]] {
        updateRange(buffer.y());
        return;
    }
    bool ascii = true;
    for (const uint8_t byte : text)
        ascii = ascii && byte < 0x7F;
    if (ascii)
        handlePrintableAsciiBorrowed(text);
    else
        handlePrintBorrowed(text);
}

size_t Terminal::applyTrueColourRun(uint32_t foreground, uint32_t background, std::span<const uint8_t> bytes,
                                    size_t at, size_t run)
{
    applyTrueColoursAndPrint(foreground, background, bytes.subspan(at, run));
#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)
    if (parserLoop::hasShuffledTrueColourReader())
        return continueTrueColourRunShuffled(bytes, at + run);
#endif
    return continueTrueColourRunScalar(bytes, at + run);
}

namespace {

struct ScalarTrueColourReader
{
    static parserLoop::TrueColourSgr read(const uint8_t* data, size_t index, size_t length, int firstKind)
    {
        return parserLoop::readTrueColourSgrScalar(data, index, length, firstKind);
    }
};

#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)
struct ShuffledTrueColourReader
{
    [[gnu::target("ssse3")]] static parserLoop::TrueColourSgr read(const uint8_t* data, size_t index,
                                                                   size_t length, int firstKind)
    {
        return parserLoop::readTrueColourSgrShuffledInline(data, index, length, firstKind);
    }
};
#endif

} // namespace

size_t Terminal::continueTrueColourRunScalar(std::span<const uint8_t> bytes, size_t at)
{
    return continueTrueColourRun<ScalarTrueColourReader>(bytes, at);
}

#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)
// Flattened, so that the reader, compiled for SSSE3, is built into the loop.
[[gnu::flatten, gnu::target("ssse3")]] size_t
Terminal::continueTrueColourRunShuffled(std::span<const uint8_t> bytes, size_t at)
{
    return continueTrueColourRun<ShuffledTrueColourReader>(bytes, at);
}
#else
size_t Terminal::continueTrueColourRunShuffled(std::span<const uint8_t> bytes, size_t at)
{
    return continueTrueColourRunScalar(bytes, at);
}
#endif

template <typename Reader> size_t Terminal::continueTrueColourRun(std::span<const uint8_t> bytes, size_t at)
{
    // The sequences after it, each with its character written to the cell at the cursor: what
    // `applyTrueColoursAndPrint` would do for them, with the checks that hold for the whole row
    // made once. Nothing but these writes and the colour switches changes the terminal between
    // two of them; a switch that had to reclaim styles, a character the lone-cell road does not
    // take and anything after a sequence but one to three bytes of text end the run, the last
    // sequence applied the general way.
    Buffer& buffer = *_buffer;
    Buffer::LoneCellRow row;
    if (!buffer.beginLoneCells(row))
        return at;
    const int y = buffer.y();
    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    bool wrote = false;
    for (;;) {
        constexpr uint8_t escape = 0x1B;
        if (length - at < 2 + sizeof(uint64_t) || data[at] != escape || data[at + 1] != '[')
            break;
        const int kind = parserLoop::trueColourIntroducer(data, at + 2);
        if (kind == 0)
            break;
        const parserLoop::TrueColourSgr sgr = Reader::read(data, at + 2, length, kind);
        if (sgr.end == 0)
            break;
        const size_t text = sgr.end;
        const size_t run = parserLoop::shortTextBeforeControl(data, text, length);
        if (run == 0) {
            if (wrote)
                updateRange(y);
            applyTrueColours(sgr.foreground, sgr.background);
            return text;
        }
        const std::span<const uint8_t> character = bytes.subspan(text, run);
        char32_t scalar = 0;
        const bool lone = loneCellCharacter(character, scalar);
        // A style table that had to be reclaimed may have changed more than the look.
        const bool interned = switchTrueColours(sgr.foreground, sgr.background);
        if (!lone || !interned || !buffer.putLoneCell(row, scalar, curStyleID_, 0)) {
            if (wrote)
                updateRange(y);
            printAfterTrueColours(character);
            return text + run;
        }
        wrote = true;
        at = text + run;
    }
    if (wrote)
        updateRange(y);
    return at;
}

[[gnu::always_inline]] inline bool Terminal::switchTrueColours(uint32_t foreground, uint32_t background)
{
    // The colours' tags differ from what the parser gives in the kind bits only.
    constexpr uint32_t kindToTag = 0x2000000;
    const Key previous = curKey_;
    Key working = previous;
    if (foreground != 0)
        setForeground(working, foreground | kindToTag);
    if (background != 0)
        setBackground(working, background | kindToTag);
    if (working == previous)
        return true;
    return adoptSgrLook(working, previous);
}

[[gnu::always_inline]] inline bool Terminal::adoptSgrLook(Key working, Key previous)
{
    CellArena& arena = *_buffer->cellArena();
    // The arena's cache answers nearly every lookup inline; only a full table costs more.
    std::optional<uint16_t> id = arena.intern(working);
    const bool interned = id.has_value();
    if (!id && reclaimCellArena(ArenaTable::styles))
        id = arena.intern(working);
    if (!id) {
        // A full arena cannot name the new look now: printing goes on in the default one until
        // ids are free again.
        working = Key();
        id = 0;
    }
    curKey_ = working;
    curAttrStale_ = true;
    curStyleID_ = *id;

    const uint64_t eraseTag = eraseBackgroundTag(backgroundTag(working));
    if (eraseTag == eraseBackgroundTag(backgroundTag(previous)))
        return interned;
    const Key erase{eraseTag << backgroundShift, 0};
    eraseKey_ = erase;
    if (erase == Key()) {
        // Back to the default background (`CSI 49 m` after a word on a colour of its own): the
        // default look is id 0, known without a lookup. Left stale, the next line feed that
        // scrolls would intern the default attribute the long way.
        setEraseAttribute(freshCellAttribute);
        rebuildEraseCells(0);
        return interned;
    }
    eraseAttributeStale_ = true;
    // The erase look's id is known when it is the current look; otherwise it is interned when an
    // erase first needs it. Pictures drawn in half blocks change the background on every cell and
    // never erase between them, and each interning of a new colour is a miss in the table.
    if (erase == working)
        rebuildEraseCells(curStyleID_);
    else
        eraseCellsStale_ = true;
    return interned;
}

} // namespace kestrovan
