// Small GSUB tables built byte by byte, for the substitution check's tests and benchmark.
//
// `gsubTable` lays out one script (DFLT) whose default language system lists the given feature
// indices, a feature list and a lookup list; subtables are self-contained byte strings whose
// offsets count from their own start, as in a font.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace metaltest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& bytes, uint32_t value)
{
    bytes.push_back(uint8_t(value >> 8));
    bytes.push_back(uint8_t(value));
}

inline void put32(Bytes& bytes, uint32_t value)
{
    put16(bytes, value >> 16);
    put16(bytes, value & 0xFFFF);
}

inline void putTag(Bytes& bytes, const std::string& tag)
{
    for (size_t i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(i < tag.size() ? tag[i] : ' '));
}

inline void append(Bytes& bytes, const Bytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
}

/// Coverage format 1: a list of glyphs.
inline Bytes coverageList(const std::vector<uint16_t>& glyphs)
{
    Bytes bytes;
    put16(bytes, 1);
    put16(bytes, uint32_t(glyphs.size()));
    for (uint16_t glyph : glyphs)
        put16(bytes, glyph);
    return bytes;
}

/// Coverage format 2: ranges of glyphs, each start and end inclusive.
inline Bytes coverageRanges(const std::vector<std::pair<uint16_t, uint16_t>>& ranges)
{
    Bytes bytes;
    put16(bytes, 2);
    put16(bytes, uint32_t(ranges.size()));
    uint32_t index = 0;
    for (const auto& [start, end] : ranges) {
        put16(bytes, start);
        put16(bytes, end);
        put16(bytes, index);
        index += end >= start ? end - start + 1 : 0;
    }
    return bytes;
}

/// A subtable of `format` whose first offset (at +2) points at `coverage`, as single, multiple,
/// alternate, ligature and reverse-chaining subtables (and context formats 1 and 2) have it.
inline Bytes subtableWithCoverage(const Bytes& coverage, uint16_t format = 1)
{
    Bytes bytes;
    put16(bytes, format);
    put16(bytes, 6);
    put16(bytes, 1);
    append(bytes, coverage);
    return bytes;
}

/// A context subtable of format 3 with one coverage per input glyph.
inline Bytes contextFormat3(const std::vector<Bytes>& coverages)
{
    Bytes bytes;
    put16(bytes, 3);
    put16(bytes, uint32_t(coverages.size()));
    put16(bytes, 0);
    uint32_t at = 6 + 2 * uint32_t(coverages.size());
    for (const Bytes& coverage : coverages) {
        put16(bytes, at);
        at += uint32_t(coverage.size());
    }
    for (const Bytes& coverage : coverages)
        append(bytes, coverage);
    return bytes;
}

/// A chained context subtable of format 3: backtrack, input and lookahead coverages.
inline Bytes chainedContextFormat3(const std::vector<Bytes>& backtrack, const std::vector<Bytes>& input,
                                   const std::vector<Bytes>& lookahead)
{
    const size_t offsets = backtrack.size() + input.size() + lookahead.size();
    Bytes bytes;
    put16(bytes, 3);
    uint32_t at = uint32_t(2 + 2 * 3 + 2 * offsets + 2);
    for (const std::vector<Bytes>* list : {&backtrack, &input, &lookahead}) {
        put16(bytes, uint32_t(list->size()));
        for (const Bytes& coverage : *list) {
            put16(bytes, at);
            at += uint32_t(coverage.size());
        }
    }
    put16(bytes, 0);
    for (const std::vector<Bytes>* list : {&backtrack, &input, &lookahead})
        for (const Bytes& coverage : *list)
            append(bytes, coverage);
    return bytes;
}

/// An extension subtable (format `format`) holding `inner` of type `type`.
inline Bytes extension(uint16_t type, const Bytes& inner, uint16_t format = 1)
{
    Bytes bytes;
    put16(bytes, format);
    put16(bytes, type);
    put32(bytes, 8);
    append(bytes, inner);
    return bytes;
}

struct Feature
{
    std::string tag;
    std::vector<uint16_t> lookups;
};

struct Lookup
{
    uint16_t type = 1;
    std::vector<Bytes> subtables;
};

/// A GSUB 1.0 table: script DFLT with a default language system of `featureIndices` (and
/// `requiredFeature`, 0xFFFF for none), `features` and `lookups`.
inline Bytes gsubTable(const std::vector<uint16_t>& featureIndices, const std::vector<Feature>& features,
                       const std::vector<Lookup>& lookups, uint16_t requiredFeature = 0xFFFF)
{
    Bytes scripts;
    put16(scripts, 1);
    putTag(scripts, "DFLT");
    put16(scripts, 8);
    put16(scripts, 4); // default language system, right after this script table's header
    put16(scripts, 0);
    put16(scripts, 0);
    put16(scripts, requiredFeature);
    put16(scripts, uint32_t(featureIndices.size()));
    for (uint16_t index : featureIndices)
        put16(scripts, index);

    Bytes featureList;
    put16(featureList, uint32_t(features.size()));
    uint32_t at = 2 + 6 * uint32_t(features.size());
    for (const Feature& feature : features) {
        putTag(featureList, feature.tag);
        put16(featureList, at);
        at += 4 + 2 * uint32_t(feature.lookups.size());
    }
    for (const Feature& feature : features) {
        put16(featureList, 0);
        put16(featureList, uint32_t(feature.lookups.size()));
        for (uint16_t lookup : feature.lookups)
            put16(featureList, lookup);
    }

    Bytes lookupList;
    put16(lookupList, uint32_t(lookups.size()));
    at = 2 + 2 * uint32_t(lookups.size());
    for (const Lookup& lookup : lookups) {
        put16(lookupList, at);
        at += 6 + 2 * uint32_t(lookup.subtables.size());
        for (const Bytes& subtable : lookup.subtables)
            at += uint32_t(subtable.size());
    }
    for (const Lookup& lookup : lookups) {
        put16(lookupList, lookup.type);
        put16(lookupList, 0);
        put16(lookupList, uint32_t(lookup.subtables.size()));
        uint32_t subtableAt = 6 + 2 * uint32_t(lookup.subtables.size());
        for (const Bytes& subtable : lookup.subtables) {
            put16(lookupList, subtableAt);
            subtableAt += uint32_t(subtable.size());
        }
        for (const Bytes& subtable : lookup.subtables)
            append(lookupList, subtable);
    }

    Bytes table;
    put16(table, 1);
    put16(table, 0);
    put16(table, 10);
    put16(table, 10 + uint32_t(scripts.size()));
    put16(table, 10 + uint32_t(scripts.size() + featureList.size()));
    append(table, scripts);
    append(table, featureList);
    append(table, lookupList);
    return table;
}

/// A table whose lists share their tables: `scriptCount` script records on one script table of
/// `languageCount` language-system records on one language system of `featureIndexCount` feature
/// indices, all of feature 0, "liga", with one single substitution over `coverage`. With 5,000,
/// 5,000 and 30,000 it is about 120 KB, and walked without remembering what it has read it would
/// take about 7.5 x 10^11 reads.
inline Bytes sharedOffsetsTable(const std::vector<uint16_t>& coverage, uint32_t scriptCount = 5000,
                                uint32_t languageCount = 5000, uint32_t featureIndexCount = 30000)
{
    Bytes scripts;
    put16(scripts, scriptCount);
    const uint32_t script = 2 + 6 * scriptCount;
    for (uint32_t i = 0; i < scriptCount; ++i) {
        putTag(scripts, "latn");
        put16(scripts, script);
    }
    put16(scripts, 0);
    put16(scripts, languageCount);
    // Language-system offsets count from the script table.
    const uint32_t languageSystem = 4 + 6 * languageCount;
    for (uint32_t i = 0; i < languageCount; ++i) {
        putTag(scripts, "ENG ");
        put16(scripts, languageSystem);
    }
    put16(scripts, 0);
    put16(scripts, 0xFFFF);
    put16(scripts, featureIndexCount);
    for (uint32_t i = 0; i < featureIndexCount; ++i)
        put16(scripts, 0);
    // The script list is the table's last part: its own tables lie beyond 16-bit offsets from
    // the header. The feature and lookup lists come from a small table of the same layout.
    const Bytes small =
        gsubTable({}, {Feature{"liga", {0}}}, {Lookup{1, {subtableWithCoverage(coverageList(coverage))}}});
    const uint32_t smallFeatureList = uint32_t(small[6]) << 8 | small[7];
    const uint32_t smallLookupList = uint32_t(small[8]) << 8 | small[9];
    const uint32_t listsSize = uint32_t(small.size()) - smallFeatureList;
    Bytes table;
    put16(table, 1);
    put16(table, 0);
    put16(table, 10 + listsSize);
    put16(table, 10);
    put16(table, 10 + smallLookupList - smallFeatureList);
    table.insert(table.end(), small.begin() + smallFeatureList, small.end());
    append(table, scripts);
    return table;
}

/// A liga lookup of `subtableCount` single substitutions that all share one coverage of 30,000
/// glyphs from 1,000 up: each subtable reads the whole coverage, about 30,000 reads apiece.
inline Bytes sharedCoverageTable(uint32_t subtableCount)
{
    std::vector<uint16_t> glyphs;
    for (uint32_t glyph = 1000; glyph < 31000; ++glyph)
        glyphs.push_back(uint16_t(glyph));
    const Bytes coverage = coverageList(glyphs);
    Bytes lookup;
    put16(lookup, 1);
    put16(lookup, 0);
    put16(lookup, subtableCount);
    const uint32_t firstSubtable = 6 + 2 * subtableCount;
    for (uint32_t i = 0; i < subtableCount; ++i)
        put16(lookup, firstSubtable + 6 * i);
    const uint32_t coverageAt = firstSubtable + 6 * subtableCount;
    for (uint32_t i = 0; i < subtableCount; ++i) {
        put16(lookup, 1);
        put16(lookup, coverageAt - (firstSubtable + 6 * i));
        put16(lookup, 1);
    }
    append(lookup, coverage);

    Bytes table = gsubTable({0}, {Feature{"liga", {0}}}, {});
    // The empty lookup list ends the table: give it one lookup, placed after it.
    table.resize(table.size() - 2);
    put16(table, 1);
    put16(table, 4);
    append(table, lookup);
    return table;
}

} // namespace metaltest
