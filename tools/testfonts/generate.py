"""Writes the small fonts the glyph and plain-font tests load, into DIR/tests/data/fonts/.

    /usr/bin/python3 tools/testfonts/generate.py DIR

Every font has the 95 printable ASCII characters as plain rectangles (the shapes mean nothing; the
tests look at glyph ids, tables and ink boxes), a monospaced advance, and no kerning or
positioning table. They differ in one thing each:

  Plain.ttf            nothing more: every character is one glyph whatever its neighbours
  LigaFI.ttf           "f" "i" becomes one glyph under the standard ligatures (liga)
  DligFI.ttf           the same ligature under the discretionary ligatures (dlig) only
  Ss01FI.ttf           the same ligature under the first stylistic set (ss01) only
  GsubVariations.ttf   a GSUB of version 1.1 with a feature-variations offset
  GsubNineBytes.ttf    a GSUB table of 9 bytes
  GsubBadRange.ttf     a GSUB whose liga coverage has a range ending before it starts
  NoTilde.ttf          no glyph for "~"
  HugeGlyph.ttf        16 units to the em; "H" is 30,000 units square (22,500 pixels at 12
                       points) and "W" 400 units (300 pixels), the rest a few pixels

The output depends only on this file and fontTools (Debian's python3-fonttools): no time stamps.
"""

import os
import struct
import sys

from fontTools.agl import UV2AGL
from fontTools.feaLib.builder import addOpenTypeFeaturesFromString
from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.tables.DefaultTable import DefaultTable

ASCII = [chr(code) for code in range(0x20, 0x7F)]


def glyph_name(character):
    return "space" if character == " " else UV2AGL[ord(character)]


def rectangle(x0, y0, x1, y1):
    pen = TTGlyphPen(None)
    if x1 > x0 and y1 > y0:
        pen.moveTo((x0, y0))
        pen.lineTo((x0, y1))
        pen.lineTo((x1, y1))
        pen.lineTo((x1, y0))
        pen.closePath()
    return pen.glyph(), x0


def build(family, characters=ASCII, units_per_em=1000, extra_glyphs=(), sizes=None):
    """A monospaced TrueType font of `characters`, each a rectangle; `sizes` maps a character to
    its own rectangle in font units."""
    advance = units_per_em * 6 // 10
    names = [".notdef"] + [glyph_name(c) for c in characters] + list(extra_glyphs)
    glyphs = {".notdef": rectangle(advance // 10, 0, advance * 9 // 10, units_per_em * 7 // 10)}
    for index, character in enumerate(characters):
        if sizes and character in sizes:
            glyphs[glyph_name(character)] = rectangle(*sizes[character])
        elif character == " ":
            glyphs["space"] = rectangle(0, 0, 0, 0)
        else:
            # Heights vary a little, so that no two neighbours look alike when drawn.
            top = units_per_em * (50 + index % 20) // 100
            glyphs[glyph_name(character)] = rectangle(advance // 10, 0, advance * 9 // 10, top)
    for name in extra_glyphs:
        glyphs[name] = rectangle(advance // 10, 0, advance * 19 // 10, units_per_em * 7 // 10)

    builder = FontBuilder(units_per_em, isTTF=True)
    # Fixed dates, so that the bytes do not depend on when the generator runs.
    builder.updateHead(created=0, modified=0)
    builder.setupGlyphOrder(names)
    builder.setupCharacterMap({ord(c): glyph_name(c) for c in characters})
    builder.setupGlyf({name: glyph for name, (glyph, _) in glyphs.items()})
    builder.setupHorizontalMetrics({name: (advance, left) for name, (_, left) in glyphs.items()})
    builder.setupHorizontalHeader(ascent=units_per_em * 8 // 10, descent=-(units_per_em * 2 // 10))
    builder.setupNameTable({"familyName": family, "styleName": "Regular",
                            "psName": family.replace(" ", "") + "-Regular"})
    builder.setupOS2(sTypoAscender=units_per_em * 8 // 10, sTypoDescender=-(units_per_em * 2 // 10),
                     usWinAscent=units_per_em * 8 // 10, usWinDescent=units_per_em * 2 // 10)
    builder.setupPost(isFixedPitch=1)
    return builder


def with_features(builder, feature):
    addOpenTypeFeaturesFromString(builder.font, "feature %s { sub f i by f_i; } %s;" % (feature, feature))
    return builder


def with_raw_gsub(builder, data):
    table = DefaultTable("GSUB")
    table.data = data
    builder.font["GSUB"] = table
    return builder


def u16(*values):
    return b"".join(struct.pack(">H", value) for value in values)


def gsub_with_coverage(coverage):
    """A GSUB 1.0: script DFLT whose default language system has feature 0, "liga", with one
    single-substitution lookup over `coverage`."""
    script_list = u16(1) + b"DFLT" + u16(8) + u16(4, 0) + u16(0, 0xFFFF, 1, 0)
    feature_list = u16(1) + b"liga" + u16(8) + u16(0, 1, 0)
    lookup_list = u16(1, 4) + u16(1, 0, 1, 8) + u16(1, 6, 1) + coverage
    script_offset = 10
    feature_offset = script_offset + len(script_list)
    lookup_offset = feature_offset + len(feature_list)
    return u16(1, 0, script_offset, feature_offset, lookup_offset) + script_list + feature_list + lookup_list


def gsub_with_variations():
    """A GSUB 1.1 with empty lists and a feature-variations offset that is not zero."""
    return u16(1, 1, 14, 16, 18) + struct.pack(">I", 20) + u16(0, 0, 0) + u16(0, 0) + struct.pack(">I", 0)


def fonts():
    yield "Plain.ttf", build("Vesk Test Plain")
    yield "LigaFI.ttf", with_features(build("Vesk Test Liga", extra_glyphs=["f_i"]), "liga")
    yield "DligFI.ttf", with_features(build("Vesk Test Dlig", extra_glyphs=["f_i"]), "dlig")
    yield "Ss01FI.ttf", with_features(build("Vesk Test Ss01", extra_glyphs=["f_i"]), "ss01")
    yield "GsubVariations.ttf", with_raw_gsub(build("Vesk Test Variations"), gsub_with_variations())
    yield "GsubNineBytes.ttf", with_raw_gsub(build("Vesk Test Nine"), u16(1, 0, 10, 10) + b"\x00")
    # The range runs from glyph 80 down to 60, around "f" (glyph 71).
    yield "GsubBadRange.ttf", with_raw_gsub(build("Vesk Test Bad Range"), gsub_with_coverage(u16(2, 1, 80, 60, 0)))
    yield "NoTilde.ttf", build("Vesk Test No Tilde", characters=ASCII[:-1])
    yield "HugeGlyph.ttf", build("Vesk Test Huge", units_per_em=16,
                                  sizes={"H": (0, 0, 30000, 30000), "W": (0, 0, 400, 400)})


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: generate.py DIR")
    folder = os.path.join(sys.argv[1], "tests", "data", "fonts")
    os.makedirs(folder, exist_ok=True)
    for name, builder in fonts():
        builder.save(os.path.join(folder, name))


if __name__ == "__main__":
    main()
