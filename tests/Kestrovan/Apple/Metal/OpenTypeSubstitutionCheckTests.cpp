// The GSUB reader of the plain-font analysis: which substitutions count as default, which tables
// are malformed, and the bounds on its work for tables whose offsets share their parts.
#include "Kestrovan/Apple/Metal/GsubTestTables.h"
#include "Kestrovan/Apple/Metal/OpenTypeSubstitutionCheck.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using namespace metaltest;

// The glyphs asked about: 10 to 20.
const std::vector<uint16_t> asked = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};

Bytes single(const Bytes& coverage)
{
    return subtableWithCoverage(coverage);
}

/// One feature `tag` with one lookup of `type` holding `subtable`.
Bytes oneLookup(const std::string& tag, uint16_t type, const Bytes& subtable)
{
    return gsubTable({0}, {Feature{tag, {0}}}, {Lookup{type, {subtable}}});
}

TEST(OpenTypeSubstitutionCheckTests, AnswersWhetherADefaultSubstitutionCanTouchTheGlyphs)
{
    const Bytes hits = coverageList({3, 15, 400});
    const Bytes misses = coverageList({3, 21, 400});
    const std::optional<bool> none;
    struct Case
    {
        const char* name;
        Bytes table;
        std::optional<bool> canChange;
    };
    const Case cases[] = {
        {"liga over a listed glyph", oneLookup("liga", 1, single(hits)), true},
        {"liga over other glyphs", oneLookup("liga", 1, single(misses)), false},
        {"liga over a range that holds one", oneLookup("liga", 4, single(coverageRanges({{20, 30}}))), true},
        {"liga over ranges around them", oneLookup("liga", 4, single(coverageRanges({{0, 9}, {21, 99}}))),
         false},
        {"calt, on by default", oneLookup("calt", 6, single(hits)), true},
        {"dlig, optional", oneLookup("dlig", 4, single(hits)), false},
        {"ss01, a stylistic set", oneLookup("ss01", 1, single(hits)), false},
        {"cv99, a character variant", oneLookup("cv99", 1, single(hits)), false},
        {"ss0a, not digits", oneLookup("ss0a", 1, single(hits)), true},
        {"smcp, optional", oneLookup("smcp", 1, single(hits)), false},
        {"multiple", oneLookup("liga", 2, single(hits)), true},
        {"alternate", oneLookup("liga", 3, single(hits)), true},
        {"reverse chaining", oneLookup("rclt", 8, single(hits)), true},
        {"context format 1 by its coverage", oneLookup("calt", 5, single(hits)), true},
        {"context format 3, all inputs meet", oneLookup("calt", 5, contextFormat3({hits, hits})), true},
        {"context format 3, one input misses", oneLookup("calt", 5, contextFormat3({hits, misses})), false},
        {"context format 3 without inputs", oneLookup("calt", 5, contextFormat3({})), true},
        {"chained format 2 by its coverage", oneLookup("calt", 6, subtableWithCoverage(misses, 2)), false},
        {"chained format 3, all meet", oneLookup("calt", 6, chainedContextFormat3({hits}, {hits}, {hits})),
         true},
        {"chained format 3, backtrack misses",
         oneLookup("calt", 6, chainedContextFormat3({misses}, {hits}, {})), false},
        {"chained format 3, lookahead misses",
         oneLookup("calt", 6, chainedContextFormat3({}, {hits}, {misses})), false},
        {"extension to a single", oneLookup("liga", 7, extension(1, single(hits))), true},
        {"extension to a single that misses", oneLookup("liga", 7, extension(1, single(misses))), false},
        {"extension of another format", oneLookup("liga", 7, extension(1, single(misses), 2)), true},
        {"extension of an extension", oneLookup("liga", 7, extension(7, extension(1, single(hits)))), none},
        {"an unknown lookup type", oneLookup("liga", 9, single(misses)), true},
        {"the required feature", gsubTable({}, {Feature{"rlig", {0}}}, {Lookup{1, {single(hits)}}}, 0), true},
        {"no features at all", gsubTable({}, {}, {}), false},
        {"a feature index past the list", gsubTable({1}, {Feature{"liga", {0}}}, {Lookup{1, {single(hits)}}}),
         none},
        {"an optional feature index past the list", gsubTable({0, 5}, {Feature{"dlig", {0}}}, {}), none},
        {"a lookup index past the list", gsubTable({0}, {Feature{"liga", {1}}}, {Lookup{1, {single(hits)}}}),
         none},
        {"a range ending before it starts", oneLookup("liga", 1, single(coverageRanges({{30, 25}}))), none},
        {"a coverage of format 3", oneLookup("liga", 1, single(Bytes{0, 3, 0, 0})), none},
        {"a coverage running past the table", oneLookup("liga", 1, single(Bytes{0, 1, 0, 9, 0, 1})), none},
        {"a range record cut short", oneLookup("liga", 1, single(Bytes{0, 2, 0, 1, 0, 40, 0, 50})), none},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(OpenTypeSubstitutionCheck::canChange(asked, test.table), test.canChange);
        EXPECT_EQ(OpenTypeSubstitutionCheck::examine(asked, test.table,
                                                     OpenTypeSubstitutionCheck::SharedTables::readEveryTime)
                      .canChange,
                  test.canChange);
    }
}

TEST(OpenTypeSubstitutionCheckTests, ReadsTheHeaderOfBothVersions)
{
    const std::optional<bool> none;
    Bytes withVariations = {0, 1, 0, 1, 0, 14, 0, 16, 0, 18, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes withoutVariations = withVariations;
    withoutVariations[13] = 0;
    struct Case
    {
        const char* name;
        Bytes table;
        std::optional<bool> canChange;
    };
    const Case cases[] = {
        {"empty", {}, none},
        {"3 bytes", {0, 1, 0}, none},
        {"version 1.0 in 9 bytes", {0, 1, 0, 0, 0, 10, 0, 10, 0}, none},
        {"version 1.1 in 13 bytes", {0, 1, 0, 1, 0, 14, 0, 14, 0, 14, 0, 0, 0}, none},
        {"version 1.1 with feature variations", withVariations, true},
        {"version 1.1 without feature variations", withoutVariations, false},
        {"a script list past the end", {0, 1, 0, 0, 0, 200, 0, 10, 0, 10, 0, 0}, none},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(OpenTypeSubstitutionCheck::canChange(asked, test.table), test.canChange);
    }
}

TEST(OpenTypeSubstitutionCheckTests, ReadsSharedScriptAndLanguageTablesOnceWithTheSameAnswers)
{
    using OpenTypeSubstitutionCheck::SharedTables;
    struct Case
    {
        std::vector<uint16_t> coverage;
        bool canChange;
    };
    for (const Case& test : {Case{{15}, true}, Case{{500}, false}}) {
        SCOPED_TRACE(testing::Message() << "canChange " << test.canChange);
        // 7.5 x 10^11 reads at every reference; a few tens of thousands read once.
        const Bytes large = sharedOffsetsTable(test.coverage);
        ASSERT_GT(large.size(), 110'000u);
        const OpenTypeSubstitutionCheck::Examination once = OpenTypeSubstitutionCheck::examine(asked, large);
        EXPECT_EQ(once.canChange, test.canChange);
        EXPECT_LT(once.reads, 50'000u) << "each shared table read once, and each record once";
        const OpenTypeSubstitutionCheck::Examination everyTime =
            OpenTypeSubstitutionCheck::examine(asked, large, SharedTables::readEveryTime);
        EXPECT_TRUE(everyTime.exceededBudget);
        EXPECT_EQ(everyTime.canChange, std::nullopt);

        // Small enough to read at every reference within the budget: the same answer.
        const Bytes small = sharedOffsetsTable(test.coverage, 40, 40, 100);
        const OpenTypeSubstitutionCheck::Examination smallEveryTime =
            OpenTypeSubstitutionCheck::examine(asked, small, SharedTables::readEveryTime);
        ASSERT_FALSE(smallEveryTime.exceededBudget);
        EXPECT_GT(smallEveryTime.reads, 100'000u);
        EXPECT_EQ(smallEveryTime.canChange, test.canChange);
        EXPECT_EQ(OpenTypeSubstitutionCheck::examine(asked, small).canChange, test.canChange);
    }
}

TEST(OpenTypeSubstitutionCheckTests, GivesUpPastItsReadBudget)
{
    struct Case
    {
        uint32_t subtables;
        std::optional<bool> canChange;
    };
    // Each subtable reads the shared 30,000-glyph coverage again: 30 of them stay below a million
    // reads, 40 do not.
    for (const Case& test : {Case{30, false}, Case{40, std::nullopt}}) {
        SCOPED_TRACE(testing::Message() << test.subtables << " subtables");
        const OpenTypeSubstitutionCheck::Examination result =
            OpenTypeSubstitutionCheck::examine(asked, sharedCoverageTable(test.subtables));
        EXPECT_EQ(result.canChange, test.canChange);
        EXPECT_LE(result.reads, OpenTypeSubstitutionCheck::readBudget + 1);
    }
}

TEST(OpenTypeSubstitutionCheckTests, KnowsTheOptionalFeatures)
{
    for (const char* tag : {"aalt", "dlig", "zero", "vrtr", "ss01", "ss20", "cv01", "cv99", "tnum", "salt"})
        EXPECT_TRUE(OpenTypeSubstitutionCheck::isOptionalFeature(tag)) << tag;
    for (const char* tag : {"liga", "calt", "ccmp", "locl", "rlig", "kern", "ss0a", "cvxx", "ss  ", "sups "})
        EXPECT_FALSE(OpenTypeSubstitutionCheck::isOptionalFeature(tag)) << tag;
}

} // namespace
} // namespace kestrovan
