// Giving arena ids back: the arena's reclaim, clusters grown in place, snapshot copies following
// both, and the terminal keeping colours and clusters right through floods that fill the tables.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/InternTable.h"
#include "Kestrovan/Utf8.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

namespace kestrovan::testing {
namespace {

using Color = Attribute::Color;
using WidthState = PackedCell::WidthState;

Attribute foreground(uint32_t rgb)
{
    return Attribute(Color::trueColor(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)),
                     Color::defaultColor());
}

std::string trueColourSgr(uint32_t rgb)
{
    return "\x1b[38;2;" + std::to_string((rgb >> 16) & 0xFF) + ";" + std::to_string((rgb >> 8) & 0xFF) + ";" +
           std::to_string(rgb & 0xFF) + "m";
}

// Removal keeps every other value reachable, whatever the probe runs look like: a small table with
// colliding hashes, against a map.
TEST(InternTable, RemovingKeepsTheOtherValuesReachable)
{
    std::mt19937 random(7);
    InternTable table(16);
    std::map<uint32_t, uint64_t> hashes;
    // Few distinct hash tops, so runs are long and wrap around the table's end.
    const auto hashOf = [&](uint32_t value) { return hashes.at(value); };
    for (int round = 0; round < 20000; ++round) {
        const uint32_t value = 1 + random() % 300;
        if (hashes.count(value) && random() % 2) {
            table.remove(hashes[value], value, hashOf);
            hashes.erase(value);
        } else if (!hashes.count(value)) {
            const uint64_t hash = (uint64_t(random() % 8) << 61) | (uint64_t(value) << 20);
            hashes[value] = hash;
            table.insert(hash, value, hashOf);
        }
        if (round % 97 == 0) {
            for (const auto& [known, hash] : hashes)
                ASSERT_EQ(table.find(hash, [&](uint32_t candidate) { return candidate == known; }), known);
            ASSERT_EQ(table.size(), hashes.size());
        }
    }
}

// Interning attributes against a plain map through fills and reclaims: a key must keep its id
// until a reclaim frees it, an id must name the attribute interned, and a full table must refuse
// only new keys.
TEST(CellArenaReclaim, AttributeInterningMatchesAMapThroughFillsAndReclaims)
{
    std::mt19937 random(23);
    CellArena arena(12000);
    std::map<uint32_t, uint16_t> ids;
    // Bit 26 of a pick adds an underline colour, which only the key's second word holds.
    const auto attributeOf = [](uint32_t pick) {
        Attribute attribute(Color::trueColor(uint8_t(pick >> 16), uint8_t(pick >> 8), uint8_t(pick)),
                            pick % 3 ? Color::defaultColor() : Color::ansi256(uint8_t(pick >> 4)),
                            CharacterStyle(uint8_t(pick >> 24 & 3)));
        if (pick >> 26 & 1)
            attribute.underlineColor = Color::ansi256(uint8_t(pick));
        return attribute;
    };
    int reclaims = 0;
    for (int round = 0; round < 150000; ++round) {
        // Half the picks come from a small set, so known keys are met again, in and out of the
        // cache; some differ from others only in the second key word.
        const uint32_t pick =
            random() % 2 ? random() % 3000 ^ (random() % 8 == 0 ? 1u << 26 : 0u) : random() & 0x7FFFFFF;
        const Attribute attribute = attributeOf(pick);
        const std::optional<uint16_t> id = arena.intern(attribute);
        const auto known = ids.find(pick);
        if (known != ids.end()) {
            ASSERT_EQ(id, known->second) << "round " << round;
            continue;
        }
        if (id) {
            ASSERT_EQ(arena.attribute(*id), attribute) << "round " << round;
            ids.emplace(pick, *id);
            continue;
        }
        ASSERT_TRUE(arena.attributeTableFull()) << "round " << round;
        // Cells keep about a third of the attributes.
        CellArenaUsage usage(arena);
        for (auto it = ids.begin(); it != ids.end();) {
            if (random() % 3 == 0) {
                usage.addAttribute(it->second);
                ++it;
            } else {
                it = ids.erase(it);
            }
        }
        arena.reclaimUnused(usage);
        ++reclaims;
    }
    EXPECT_GE(reclaims, 5);
}

TEST(CellArenaReclaim, UnusedIDsAreGivenBackAndReusedUnderANewIdentity)
{
    CellArena arena;
    for (uint32_t i = 1; i <= 65535; ++i)
        ASSERT_EQ(arena.intern(foreground(i)), uint16_t(i));
    ASSERT_TRUE(arena.attributeTableFull());
    const auto kept = arena.intern(std::u32string_view(U"e\u0301"));
    const auto dropped = arena.intern(std::u32string_view(U"a\u0308"));
    ASSERT_TRUE(kept && dropped);

    // Cells use every even id and the first cluster.
    CellArenaUsage usage(arena);
    for (uint32_t i = 2; i <= 65535; i += 2)
        usage.add(PackedCell::makeScalar('x', uint16_t(i), WidthState::single, false, 0, 0));
    usage.add(PackedCell::makeGrapheme(*kept, 0, WidthState::single, false, 0, 0));
    const uint64_t identity = arena.identity();
    const auto snapshot = CellArena::makeSnapshot(arena);
    const CellArena::ReclaimResult result = arena.reclaimUnused(usage);
    EXPECT_EQ(result.attributesFreed, 32768);
    EXPECT_EQ(result.graphemesFreed, 1u);
    EXPECT_NE(arena.identity(), identity) << "a reclaim renews the identity";
    EXPECT_FALSE(snapshot->synchronizeSnapshotPrefix(arena)) << "an older copy must be made again";
    EXPECT_FALSE(snapshot->preservesEncoding(arena));

    for (uint32_t i = 2; i <= 65535; i += 2)
        ASSERT_EQ(arena.intern(foreground(i)), uint16_t(i)) << "ids in use keep their attribute";
    EXPECT_EQ(arena.attribute(uint16_t(3)), Attribute()) << "a freed id reads as the default";
    // New attributes take the freed ids until none is left.
    for (uint32_t i = 0; i < 32768; ++i) {
        const auto id = arena.intern(foreground(0x800000 + i));
        ASSERT_TRUE(id && *id % 2 == 1) << "attribute " << i;
    }
    EXPECT_FALSE(arena.intern(foreground(0x900000)));
    EXPECT_EQ(*arena.grapheme(*kept), U"e\u0301");
    EXPECT_EQ(arena.grapheme(*dropped)->size(), 0u);
    EXPECT_EQ(arena.intern(std::u32string_view(U"o\u0302")), dropped)
        << "the freed cluster id is given again";
    EXPECT_EQ(*arena.grapheme(*arena.intern(std::u32string_view(U"a\u0308"))), U"a\u0308")
        << "a freed cluster is not found under the id it had";

    CellArenaUsage none(arena);
    const uint64_t renewed = arena.identity();
    none.addAttribute(1);
    none.add(PackedCell::makeGrapheme(*kept, 0, WidthState::single, false, 0, 0));
    none.add(PackedCell::makeGrapheme(*dropped, 0, WidthState::single, false, 0, 0));
    CellArena::ReclaimResult second = arena.reclaimUnused(none);
    EXPECT_EQ(second.attributesFreed, 65534);
    EXPECT_NE(arena.identity(), renewed);
    CellArenaUsage all(arena);
    for (int id = 0; id < arena.attributeCount(); ++id)
        all.addAttribute(uint16_t(id));
    for (const uint32_t cluster : {*kept, *dropped})
        all.add(PackedCell::makeGrapheme(cluster, 0, WidthState::single, false, 0, 0));
    const uint64_t unchanged = arena.identity();
    second = arena.reclaimUnused(all);
    EXPECT_EQ(second.attributesFreed, 0);
    EXPECT_EQ(arena.identity(), unchanged) << "a reclaim that frees nothing keeps the identity";
}

// A cluster grown in place, and a freed id given again, are edits of entries a snapshot copy
// already holds: a synchronised copy must read them as the source does.
TEST(CellArenaReclaim, SnapshotCopiesTakeOverEditedEntries)
{
    CellArena source;
    const uint32_t grown = *source.intern(std::u32string_view(U"e\u0301"));
    EXPECT_EQ(source.lastCreatedGrapheme(), grown);
    const uint32_t known = *source.intern(std::u32string_view(U"e\u0301\u0302"));
    EXPECT_EQ(source.intern(std::u32string_view(U"e\u0301")), grown);
    EXPECT_EQ(source.lastCreatedGrapheme(), 0u) << "found, not created";
    const auto snapshot = CellArena::makeSnapshot(source);

    EXPECT_EQ(source.extendGrapheme(grown, U"e\u0301\u0301"), grown);
    EXPECT_EQ(*source.grapheme(grown), U"e\u0301\u0301");
    EXPECT_EQ(source.intern(std::u32string_view(U"e\u0301\u0301")), grown) << "found under its new key";
    EXPECT_EQ(source.intern(std::u32string_view(U"e\u0301")), grown + 2) << "the old key is gone";
    EXPECT_FALSE(snapshot->preservesEncoding(source));
    ASSERT_TRUE(snapshot->synchronizeSnapshotPrefix(source));
    EXPECT_TRUE(snapshot->preservesEncoding(source));
    EXPECT_EQ(*snapshot->grapheme(grown), U"e\u0301\u0301");

    // Growing into a cluster already known gives that id; this one keeps its list.
    EXPECT_EQ(source.extendGrapheme(grown + 2, U"e\u0301\u0302"), known);
    EXPECT_EQ(*source.grapheme(grown + 2), U"e\u0301");

    // After a reclaim a new copy is needed; an id freed by it and given again is an edit the
    // copy takes over.
    CellArenaUsage usage(source);
    usage.add(PackedCell::makeGrapheme(grown, 0, WidthState::single, false, 0, 0));
    source.reclaimUnused(usage);
    EXPECT_FALSE(snapshot->synchronizeSnapshotPrefix(source));
    const auto renewed = CellArena::makeSnapshot(source);
    const uint32_t reused = *source.intern(std::u32string_view(U"z\u0301"));
    EXPECT_LT(reused, grown + 3) << "a freed id";
    ASSERT_TRUE(renewed->synchronizeSnapshotPrefix(source));
    EXPECT_EQ(*renewed->grapheme(reused), U"z\u0301");
    EXPECT_EQ(renewed->unpack(PackedCell::makeGrapheme(grown, 0, WidthState::single, false, 0, 0)).getText(),
              "e\u0301\u0301");

    // A copy that fell behind more edits than the source logs is made again.
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(source.extendGrapheme(grown, i % 2 ? U"e\u0301\u0301" : U"e\u0301\u0301\u0303"), grown);
    EXPECT_FALSE(renewed->synchronizeSnapshotPrefix(source));
}

// Interning against a plain map while clusters of every length the caches in front of the map
// take (and longer) are interned again, grown in place and reclaimed: an id found must always
// name the list looked up, and a list must keep its one id until it is grown or freed.
TEST(CellArenaReclaim, InterningMatchesAMapThroughGrowthAndReclaims)
{
    std::mt19937 random(11);
    CellArena arena;
    std::map<std::u32string, uint32_t> ids;
    const auto randomCluster = [&] {
        std::u32string cluster(1 + random() % 9, U'\0');
        for (char32_t& scalar : cluster)
            scalar = U"e\u0301\u200D\U0001F469"[random() % 4];
        return cluster;
    };
    for (int round = 0; round < 30000; ++round) {
        const std::u32string cluster = randomCluster();
        const uint32_t pick = random() % 100;
        if (pick < 80) {
            const auto id = arena.intern(std::u32string_view(cluster));
            ASSERT_TRUE(id) << "round " << round;
            ASSERT_EQ(*arena.grapheme(*id), cluster) << "round " << round;
            const auto [known, added] = ids.emplace(cluster, *id);
            ASSERT_EQ(known->second, *id) << "round " << round;
        } else if (pick < 97 && !ids.empty()) {
            // Grow the cluster of some id into `cluster` in place.
            auto grown = std::next(ids.begin(), random() % ids.size());
            const uint32_t id = grown->second;
            const auto answer = arena.extendGrapheme(id, cluster);
            ASSERT_TRUE(answer);
            if (const auto known = ids.find(cluster); known != ids.end()) {
                ASSERT_EQ(*answer, known->second) << "round " << round;
            } else {
                ASSERT_EQ(*answer, id) << "round " << round;
                ids.erase(grown);
                ids.emplace(cluster, id);
            }
        } else {
            // Cells keep about half of the clusters.
            CellArenaUsage usage(arena);
            for (auto it = ids.begin(); it != ids.end();) {
                if (random() % 2) {
                    usage.add(PackedCell::makeGrapheme(it->second, 0, WidthState::single, false, 0, 0));
                    ++it;
                } else {
                    it = ids.erase(it);
                }
            }
            arena.reclaimUnused(usage);
        }
    }
}

// The terminal side: a full style table is reclaimed from what the buffers still show.
TEST(TerminalArenaReclaim, NewColoursShowAfterADistinctColourFloodAndAClear)
{
    TerminalFixture fixture(80, 24, 1000);
    Terminal& t = fixture.t();
    std::string flood;
    for (uint32_t i = 0; i < 100000; ++i)
        flood += trueColourSgr(i * 167) + "x";
    t.feed(flood);
    // The last cells printed show their own colours.
    const int lastRow = t.buffer().y();
    const int lastCol = t.buffer().columnAfterPrinted() - 1;
    ASSERT_GE(lastCol, 0);
    EXPECT_EQ(t.getCharData(lastCol, lastRow)->attribute, foreground(99999 * 167));
    EXPECT_EQ(t.getCharData(lastCol - 1, lastRow)->attribute, foreground(99998 * 167));

    t.feed("\x1b[0m\x1b[2J\x1b[3J\x1b[H");
    t.feed("\x1b[31mA\x1b[38;2;1;2;3mB\x1b[1;38;2;250;100;7mC");
    EXPECT_EQ(t.getCharData(0, 0)->attribute, Attribute(Color::ansi256(1), Color::defaultColor()));
    EXPECT_EQ(t.getCharData(1, 0)->attribute, foreground(0x010203));
    EXPECT_EQ(t.getCharData(2, 0)->attribute,
              Attribute(Color::trueColor(250, 100, 7), Color::defaultColor(), CharacterStyle::bold));

    // The alternate screen and a full reset do the same.
    t.feed("\x1b[?1049h\x1b[38;2;9;8;7mD\x1b[?1049l\x1b"
           "c\x1b[38;2;4;5;6mE");
    EXPECT_EQ(t.getCharData(0, 0)->attribute, foreground(0x040506));
}

// A smaller cousin of the 64 MiB comparison with libvterm the flood benchmark runs: random
// true-colour text through a scrollback larger than the style table, every visible cell in the
// colour it was printed with.
TEST(TerminalArenaReclaim, RandomTrueColourTextKeepsEveryVisibleColour)
{
    TerminalFixture fixture(80, 24, 1000);
    Terminal& t = fixture.t();
    std::mt19937 random(42);
    const int cells = 80 * 2000;
    std::vector<uint32_t> colours(cells);
    std::string input;
    for (int i = 0; i < cells; ++i) {
        colours[size_t(i)] = random() & 0xFFFFFF;
        input += trueColourSgr(colours[size_t(i)]);
        input += char('a' + i % 26);
    }
    t.feed(input);
    // 2000 full lines: the last 24 are the screen, the cursor waits at the end of the last.
    for (int row = 0; row < 24; ++row) {
        for (int col = 0; col < 80; ++col) {
            const size_t index = size_t((2000 - 24 + row) * 80 + col);
            ASSERT_EQ(t.getCharData(col, row)->attribute, foreground(colours[index])) << row << "," << col;
        }
    }
    EXPECT_LE(t.cellArena()->attributesInUse(), 65536);
}

TEST(TerminalArenaReclaim, ClustersAreCappedAndStoredOnce)
{
    TerminalFixture fixture(20, 5, 100);
    Terminal& t = fixture.t();
    std::string marks = "e";
    for (int i = 0; i < 100000; ++i)
        marks += "\u0301";
    t.feed(marks);
    const CharData cell = *t.getCharData(0, 0);
    ASSERT_TRUE(cell.graphemeScalarValues);
    EXPECT_EQ(cell.graphemeScalarValues->size(), CellArena::maximumGraphemeScalars);
    EXPECT_EQ(t.buffer().x(), 1) << "the dropped marks print nothing";
    EXPECT_LE(t.cellArena()->graphemesInUse(), 8u) << "short steps are kept, then the cluster grew in place";

    // Across feeds each run may leave one older copy, which a reclaim gives back.
    t.feed("\r\n\U0001F468");
    for (int i = 0; i < 2000; ++i)
        t.feed("\u200D\U0001F469");
    const CharData family = *t.getCharData(0, 1);
    ASSERT_TRUE(family.graphemeScalarValues);
    EXPECT_EQ(family.graphemeScalarValues->size(), CellArena::maximumGraphemeScalars);
    t.feed("x\u0301");
    EXPECT_EQ(*t.getCharData(2, 1)->graphemeScalarValues, U"x\u0301") << "printing goes on after the cap";

    // Many distinct clusters, more than the table holds, the screen showing the latest.
    std::string distinct;
    for (int i = 0; i < 70000; ++i) {
        appendUtf8(distinct, char32_t(0x4E00 + i % 20000));
        appendUtf8(distinct, char32_t(0x300 + i / 20000));
        appendUtf8(distinct, char32_t(0x300 + i % 7));
    }
    t.feed(distinct);
    const int row = t.buffer().y();
    const int col = t.buffer().x() - 2;
    ASSERT_GE(col, 0);
    const int last = 69999;
    EXPECT_EQ(*t.getCharData(col, row)->graphemeScalarValues,
              (std::u32string{char32_t(0x4E00 + last % 20000), char32_t(0x300 + last / 20000),
                              char32_t(0x300 + last % 7)}));
}

} // namespace
} // namespace kestrovan::testing
