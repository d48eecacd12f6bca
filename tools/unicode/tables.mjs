// Compresses per-code-point values into two-stage tables and writes C++ array initializers.
//
// A two-stage table splits the code space into blocks of 256 code points. Stage one has one byte
// per block (0x110000 / 256 = 4352 entries) naming a distinct block; stage two holds the distinct
// blocks one after another. Values narrower than a byte are packed: with 2-bit values a block is
// 64 bytes and the value of code point c sits at bits 2 * (c % 4) of byte (c % 256) / 4.

import { CODE_POINT_COUNT } from './ucd.mjs';

export const BLOCK_SHIFT = 8;
export const BLOCK_SCALARS = 1 << BLOCK_SHIFT;
export const STAGE_ONE_SIZE = CODE_POINT_COUNT >> BLOCK_SHIFT;

/// Builds a two-stage table from `values` (one number per code point, each below 2^bits).
/// With `zeroBlockFirst` the all-zero block is block 0 whether or not any stage-one entry uses it,
/// so "block 0" always means "nothing set".
export function twoStageTable(values, { bits, zeroBlockFirst }) {
    const perByte = 8 / bits;
    const blockBytes = BLOCK_SCALARS / perByte;
    const blocks = [];
    const known = new Map();
    const intern = (bytes) => {
        const key = Buffer.from(bytes).toString('latin1');
        let index = known.get(key);
        if (index === undefined) {
            index = blocks.length;
            known.set(key, index);
            blocks.push(bytes);
        }
        return index;
    };
    if (zeroBlockFirst) {
        intern(new Uint8Array(blockBytes));
    }
    const index = new Uint8Array(STAGE_ONE_SIZE);
    for (let block = 0; block < STAGE_ONE_SIZE; block++) {
        const bytes = new Uint8Array(blockBytes);
        const base = block << BLOCK_SHIFT;
        for (let offset = 0; offset < BLOCK_SCALARS; offset++) {
            const value = values[base + offset];
            if (value >= 1 << bits) {
                throw new Error(`value ${value} of U+${hex(base + offset)} does not fit in ${bits} bits`);
            }
            bytes[Math.floor(offset / perByte)] |= value << (bits * (offset % perByte));
        }
        index[block] = intern(bytes);
    }
    if (blocks.length > 256) {
        throw new Error(`${blocks.length} distinct blocks do not fit a one-byte stage one`);
    }
    return { index, blocks, blockBytes, bits };
}

/// Reads a value back from a two-stage table, the way the generated C++ does.
export function lookup(table, cp) {
    const perByte = 8 / table.bits;
    const offset = cp & (BLOCK_SCALARS - 1);
    const byte = table.blocks[table.index[cp >> BLOCK_SHIFT]][Math.floor(offset / perByte)];
    return (byte >> (table.bits * (offset % perByte))) & ((1 << table.bits) - 1);
}

/// Upper-case hexadecimal with at least four digits, as the Unicode files write code points.
export function hex(cp) {
    return cp.toString(16).toUpperCase().padStart(4, '0');
}

/// A C++ brace-less initializer list of bytes, wrapped to about 110 columns and indented.
export function byteList(bytes) {
    const lines = [];
    let line = '   ';
    for (const byte of bytes) {
        const item = ` ${byte},`;
        if (line.length + item.length > 110) {
            lines.push(line);
            line = '   ';
        }
        line += item;
    }
    if (line.trim()) {
        lines.push(line);
    }
    return lines.join('\n');
}

/// The C++ initializer of a range array: `{0x0903, 0x0903},` pairs, several per line.
export function rangeList(ranges) {
    const lines = [];
    let line = '   ';
    for (const [lo, hi] of ranges) {
        const item = ` {0x${hex(lo)}, 0x${hex(hi)}},`;
        if (line.length + item.length > 110) {
            lines.push(line);
            line = '   ';
        }
        line += item;
    }
    if (line.trim()) {
        lines.push(line);
    }
    return lines.join('\n');
}

/// The bytes of stage two: the blocks one after another.
export function concatenatedBlocks(table) {
    const out = new Uint8Array(table.blocks.length * table.blockBytes);
    table.blocks.forEach((block, i) => out.set(block, i * table.blockBytes));
    return out;
}
