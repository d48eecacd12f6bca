// OpenTypeSubstitutionCheck: a bounded walk of a GSUB table's scripts, language systems, features,
// lookups, subtables and coverage tables.
//
// Reads go through `Reader`, which checks every offset against the table and counts against the
// read budget. A failed read makes the reader fail for good; the walk checks `failed()` in every
// loop and returns, and a failed walk answers nothing whatever it found before.
#include "Kestrovan/Apple/Metal/OpenTypeSubstitutionCheck.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace kestrovan {

namespace OpenTypeSubstitutionCheck {

namespace {

// Features that are off unless a program or the user turns them on, so default text never sees
// them.
constexpr std::array<std::string_view, 60> optionalFeatures = {
    "aalt", "afrc", "c2pc", "c2sc", "case", "cpsp", "dlig", "dnom", "expt", "frac", "fwid", "halt",
    "hist", "hkna", "hlig", "hngl", "hojo", "hwid", "ital", "jp04", "jp78", "jp83", "jp90", "lnum",
    "mgrk", "nalt", "nlck", "numr", "onum", "ordn", "ornm", "palt", "pcap", "pkna", "pnum", "pwid",
    "qwid", "ruby", "salt", "sinf", "smcp", "smpl", "subs", "sups", "swsh", "titl", "tnam", "tnum",
    "trad", "twid", "unic", "valt", "vert", "vhal", "vkna", "vkrn", "vpal", "vrt2", "vrtr", "zero",
};

// The lookup types of GSUB.
enum LookupType : uint16_t
{
    single = 1,
    multiple = 2,
    alternate = 3,
    ligature = 4,
    context = 5,
    chainedContext = 6,
    extension = 7,
    reverseChainingSingle = 8,
};

/// Big-endian reads from the table, each checked against its end and counted against the budget.
class Reader
{
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint16_t u16(uint64_t offset)
    {
        if (!take(offset, 2))
            return 0;
        return uint16_t(bytes_[offset] << 8 | bytes_[offset + 1]);
    }

    uint32_t u32(uint64_t offset)
    {
        if (!take(offset, 4))
            return 0;
        return uint32_t(bytes_[offset]) << 24 | uint32_t(bytes_[offset + 1]) << 16 |
               uint32_t(bytes_[offset + 2]) << 8 | uint32_t(bytes_[offset + 3]);
    }

    /// The four bytes of a tag; empty after a failed read.
    std::string_view tag(uint64_t offset)
    {
        if (!take(offset, 4))
            return {};
        return std::string_view(reinterpret_cast<const char*>(bytes_.data() + offset), 4);
    }

    /// Fails unless `length` bytes from `offset` lie in the table (for records read only in part).
    void require(uint64_t offset, uint64_t length)
    {
        if (!failed_ && offset + length > bytes_.size())
            failed_ = true;
    }

    void fail() { failed_ = true; }
    bool failed() const { return failed_; }
    bool exceededBudget() const { return reads_ > readBudget; }
    uint64_t size() const { return bytes_.size(); }
    uint64_t reads() const { return reads_; }

private:
    bool take(uint64_t offset, uint64_t length)
    {
        if (failed_)
            return false;
        if (++reads_ > readBudget || offset + length > bytes_.size()) {
            failed_ = true;
            return false;
        }
        return true;
    }

    std::span<const uint8_t> bytes_;
    uint64_t reads_ = 0;
    bool failed_ = false;
};

/// A set of 16-bit values (glyph ids, feature and lookup indices), walked in ascending order.
class IndexSet
{
public:
    IndexSet() : present_(65'536, false) {}

    void insert(uint16_t value)
    {
        if (!present_[value]) {
            present_[value] = true;
            values_.push_back(value);
        }
    }
    bool contains(uint16_t value) const { return present_[value]; }

    /// The members in ascending order.
    const std::vector<uint16_t>& sorted()
    {
        std::sort(values_.begin(), values_.end());
        return values_;
    }

private:
    std::vector<bool> present_;
    std::vector<uint16_t> values_;
};

class Walk
{
public:
    Walk(std::span<const uint8_t> gsub, const std::vector<uint16_t>& glyphs, SharedTables sharing)
        : reader_(gsub), readOnce_(sharing == SharedTables::readOnce)
    {
        for (uint16_t glyph : glyphs)
            glyphs_.insert(glyph);
        sortedGlyphs_ = glyphs_.sorted();
    }

    std::optional<bool> canChange()
    {
        // Header: version, then the offsets of the script, feature and lookup lists; version 1.1
        // adds a 32-bit feature-variations offset, whose alternate lookups are not examined.
        if (reader_.size() < 4)
            return std::nullopt;
        const uint16_t minorVersion = reader_.u16(2);
        if (minorVersion == 0) {
            if (reader_.size() < 10)
                return std::nullopt;
        } else {
            if (reader_.size() < 14)
                return std::nullopt;
            if (reader_.u32(10) != 0)
                return true;
        }
        const uint64_t scriptList = reader_.u16(4);
        const uint64_t featureList = reader_.u16(6);
        const uint64_t lookupList = reader_.u16(8);

        collectFeatures(scriptList);
        collectLookups(featureList);
        if (reader_.failed())
            return std::nullopt;
        const bool found = anyLookupCanApply(lookupList);
        if (reader_.failed())
            return std::nullopt;
        return found;
    }

    uint64_t reads() const { return reader_.reads(); }
    bool exceededBudget() const { return reader_.exceededBudget(); }

private:
    // Every script record, each script's default language system and every language-system
    // record: the feature indices of all of them.
    void collectFeatures(uint64_t scriptList)
    {
        const uint16_t scriptCount = reader_.u16(scriptList);
        for (uint64_t i = 0; i < scriptCount && !reader_.failed(); ++i) {
            // Script record: 4-byte tag, 16-bit offset from the list.
            const uint64_t script = scriptList + reader_.u16(scriptList + 2 + 6 * i + 4);
            if (!firstVisit(visitedScripts_, script))
                continue;
            const uint16_t defaultLanguageSystem = reader_.u16(script);
            if (defaultLanguageSystem != 0)
                collectLanguageSystem(script + defaultLanguageSystem);
            const uint16_t languageCount = reader_.u16(script + 2);
            for (uint64_t j = 0; j < languageCount && !reader_.failed(); ++j)
                collectLanguageSystem(script + reader_.u16(script + 4 + 6 * j + 4));
        }
    }

    void collectLanguageSystem(uint64_t languageSystem)
    {
        if (reader_.failed() || !firstVisit(visitedLanguageSystems_, languageSystem))
            return;
        // Lookup order (reserved), required feature index, feature index count, indices.
        const uint16_t required = reader_.u16(languageSystem + 2);
        if (required != 0xFFFF)
            featureIndices_.insert(required);
        const uint16_t count = reader_.u16(languageSystem + 4);
        for (uint64_t k = 0; k < count && !reader_.failed(); ++k)
            featureIndices_.insert(reader_.u16(languageSystem + 6 + 2 * k));
    }

    // The lookup indices of every collected feature that is on by default.
    void collectLookups(uint64_t featureList)
    {
        if (reader_.failed())
            return;
        const uint16_t featureCount = reader_.u16(featureList);
        for (uint16_t index : featureIndices_.sorted()) {
            if (reader_.failed())
                return;
            if (index >= featureCount) {
                reader_.fail();
                return;
            }
            // Feature record: 4-byte tag, 16-bit offset from the list.
            const uint64_t record = featureList + 2 + 6 * uint64_t(index);
            const std::string_view tag = reader_.tag(record);
            const uint64_t feature = featureList + reader_.u16(record + 4);
            if (reader_.failed() || isOptionalFeature(tag) || !firstVisit(visitedFeatures_, feature))
                continue;
            const uint16_t lookupCount = reader_.u16(feature + 2);
            for (uint64_t l = 0; l < lookupCount && !reader_.failed(); ++l)
                lookupIndices_.insert(reader_.u16(feature + 4 + 2 * l));
        }
    }

    bool anyLookupCanApply(uint64_t lookupList)
    {
        const uint16_t lookupCount = reader_.u16(lookupList);
        for (uint16_t index : lookupIndices_.sorted()) {
            if (reader_.failed())
                return false;
            if (index >= lookupCount) {
                reader_.fail();
                return false;
            }
            const uint64_t lookup = lookupList + reader_.u16(lookupList + 2 + 2 * uint64_t(index));
            // Type, flag (not needed), subtable count, subtable offsets from the lookup.
            const uint16_t type = reader_.u16(lookup);
            const uint16_t subtableCount = reader_.u16(lookup + 4);
            for (uint64_t s = 0; s < subtableCount && !reader_.failed(); ++s) {
                if (subtableCanApply(type, lookup + reader_.u16(lookup + 6 + 2 * s)))
                    return !reader_.failed();
            }
        }
        return false;
    }

    /// True the first time `offset` is met in `visited`, and every time when tables are read at
    /// every reference.
    bool firstVisit(std::unordered_set<uint64_t>& visited, uint64_t offset)
    {
        return !readOnce_ || visited.insert(offset).second;
    }

    bool subtableCanApply(uint16_t type, uint64_t at)
    {
        const uint16_t format = reader_.u16(at);
        switch (type) {
        case single:
        case multiple:
        case alternate:
        case ligature:
        case reverseChainingSingle:
            return coverageIntersects(at + reader_.u16(at + 2));
        case context:
            if (format == 3) {
                // Glyph count, substitution count, then one coverage per input glyph.
                const uint16_t glyphCount = reader_.u16(at + 2);
                for (uint64_t i = 0; i < glyphCount && !reader_.failed(); ++i) {
                    if (!coverageIntersects(at + reader_.u16(at + 6 + 2 * i)))
                        return false;
                }
                return true;
            }
            return coverageIntersects(at + reader_.u16(at + 2));
        case chainedContext:
            if (format == 3) {
                // Backtrack, input and lookahead coverage lists, each a count and its offsets.
                uint64_t list = at + 2;
                for (int part = 0; part < 3 && !reader_.failed(); ++part) {
                    const uint16_t count = reader_.u16(list);
                    for (uint64_t i = 0; i < count && !reader_.failed(); ++i) {
                        if (!coverageIntersects(at + reader_.u16(list + 2 + 2 * i)))
                            return false;
                    }
                    list += 2 + 2 * uint64_t(count);
                }
                return true;
            }
            return coverageIntersects(at + reader_.u16(at + 2));
        case extension: {
            if (format != 1)
                return true;
            const uint16_t extensionType = reader_.u16(at + 2);
            // An extension of an extension is not allowed, and would let a table recurse.
            if (extensionType == extension) {
                reader_.fail();
                return false;
            }
            return subtableCanApply(extensionType, at + reader_.u32(at + 4));
        }
        default:
            // A lookup type this reader does not know may do anything.
            return true;
        }
    }

    bool coverageIntersects(uint64_t at)
    {
        const uint16_t format = reader_.u16(at);
        if (reader_.failed())
            return false;
        if (format == 1) {
            const uint16_t count = reader_.u16(at + 2);
            for (uint64_t i = 0; i < count && !reader_.failed(); ++i) {
                if (glyphs_.contains(reader_.u16(at + 4 + 2 * i)))
                    return !reader_.failed();
            }
            return false;
        }
        if (format == 2) {
            const uint16_t count = reader_.u16(at + 2);
            for (uint64_t i = 0; i < count && !reader_.failed(); ++i) {
                // Range record: start, end, start coverage index (not needed, but must be there).
                const uint64_t record = at + 4 + 6 * i;
                reader_.require(record, 6);
                const uint16_t start = reader_.u16(record);
                const uint16_t end = reader_.u16(record + 2);
                if (end < start) {
                    reader_.fail();
                    return false;
                }
                const auto first = std::lower_bound(sortedGlyphs_.begin(), sortedGlyphs_.end(), start);
                if (first != sortedGlyphs_.end() && *first <= end)
                    return !reader_.failed();
            }
            return false;
        }
        reader_.fail();
        return false;
    }

    Reader reader_;
    bool readOnce_;
    IndexSet glyphs_;
    std::vector<uint16_t> sortedGlyphs_;
    IndexSet featureIndices_;
    IndexSet lookupIndices_;
    std::unordered_set<uint64_t> visitedScripts_;
    std::unordered_set<uint64_t> visitedLanguageSystems_;
    std::unordered_set<uint64_t> visitedFeatures_;
};

bool isDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool isOptionalFeature(std::string_view tag)
{
    if (std::find(optionalFeatures.begin(), optionalFeatures.end(), tag) != optionalFeatures.end())
        return true;
    return tag.size() > 2 && (tag.starts_with("ss") || tag.starts_with("cv")) && isDigits(tag.substr(2));
}

Examination examine(const std::vector<uint16_t>& glyphs, std::span<const uint8_t> gsub, SharedTables sharing)
{
    Walk walk(gsub, glyphs, sharing);
    Examination result;
    result.canChange = walk.canChange();
    result.reads = walk.reads();
    result.exceededBudget = walk.exceededBudget();
    return result;
}

std::optional<bool> canChange(const std::vector<uint16_t>& glyphs, std::span<const uint8_t> gsub)
{
    return examine(glyphs, gsub).canChange;
}

} // namespace OpenTypeSubstitutionCheck

} // namespace kestrovan
