#include "Kestrovan/CellArena.h"
#include "Kestrovan/CellStoragePage.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using kestrovan::Attribute;
using kestrovan::CellArena;
using kestrovan::CellStoragePage;
using kestrovan::Character;
using kestrovan::CharacterStyle;
using kestrovan::CharData;
using kestrovan::ClusterCacheSet;
using kestrovan::PackedCell;
using kestrovan::PackedCellView;
using kestrovan::TinyAtom;
using kestrovan::UnderlineStyle;
using Color = kestrovan::Attribute::Color;
using WidthState = kestrovan::PackedCell::WidthState;

namespace {

Attribute distinctAttribute(uint32_t i)
{
    return Attribute(Color::trueColor(uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)), Color::defaultColor());
}

Color randomColor(std::mt19937& random)
{
    switch (random() % 4) {
    case 0:
        return Color::ansi256(uint8_t(random()));
    case 1:
        return Color::trueColor(uint8_t(random()), uint8_t(random()), uint8_t(random()));
    case 2:
        return Color::defaultColor();
    default:
        return Color::defaultInvertedColor();
    }
}

char32_t randomScalar(std::mt19937& random)
{
    switch (random() % 4) {
    case 0:
        return 0x20 + random() % 0x5F;
    case 1:
        return 0xA0 + random() % (0xD800 - 0xA0);
    case 2:
        return 0xE000 + random() % 0x2000;
    default:
        return 0x10000 + random() % 0x100000;
    }
}

// A cell the arena can represent exactly: a valid scalar or a cluster of two to four, a width
// that agrees with the width state, a semantic code 0-6. Blanks and plain attributes come up
// often enough to exercise the inline kinds.
CharData randomValidCell(std::mt19937& random)
{
    CharData cell;
    const bool plain = random() % 3 == 0;
    cell.attribute =
        plain ? Attribute(Color::defaultColor(), randomColor(random))
              : Attribute(randomColor(random), randomColor(random), CharacterStyle(uint8_t(random())),
                          *kestrovan::underlineStyleFromRaw(uint8_t(random() % 6)));
    if (!plain && random() % 2)
        cell.attribute.underlineColor = randomColor(random);
    switch (random() % 3) {
    case 0:
        cell.code = 0;
        break;
    case 1:
        cell.code = static_cast<int32_t>(randomScalar(random));
        break;
    default: {
        std::u32string cluster;
        const int length = 2 + random() % 3;
        for (int i = 0; i < length; ++i)
            cluster.push_back(randomScalar(random));
        cell.code = static_cast<int32_t>(cluster.front());
        cell.graphemeScalarValues = cluster;
        break;
    }
    }
    cell.widthStateCode = uint8_t(random() % 4);
    cell.width = int8_t(cell.widthStateCode == 0 ? 1 : cell.widthStateCode == 1 ? 2 : 0);
    cell.payload = TinyAtom{uint16_t(random() % 3 == 0 ? random() : 0)};
    cell.semanticContentCode = uint8_t(random() % 7);
    cell.isProtected = random() % 2;
    return cell;
}

PackedCell packOrFail(CellArena& arena, const CharData& cell)
{
    const auto packed = arena.pack(cell);
    EXPECT_TRUE(packed.has_value()) << cell.debugDescription();
    return packed.value_or(PackedCell());
}

} // namespace

TEST(CellArena, UnpackInvertsPackForRandomValidCells)
{
    std::mt19937 random(20240611);
    CellArena arena;
    for (int i = 0; i < 20000; ++i) {
        const CharData cell = randomValidCell(random);
        const std::optional<PackedCell> packed = arena.pack(cell);
        ASSERT_TRUE(packed) << "cell " << i << ": " << cell.debugDescription();
        EXPECT_TRUE(packed->hasValidEncoding());
        const CharData back = arena.unpack(*packed);
        ASSERT_EQ(back, cell) << "cell " << i << ": " << cell.debugDescription() << " raw " << std::hex
                              << packed->rawValue;
    }
}

TEST(CellArena, BlanksPackToTheirCanonicalForms)
{
    CellArena arena;
    EXPECT_EQ(packOrFail(arena, CharData()).rawValue, 0u) << "the default blank is raw 0";
    EXPECT_EQ(arena.attributeCount(), 1);

    CharData blank;
    blank.attribute = Attribute(Color::defaultColor(), Color::ansi256(4));
    const PackedCell palette = packOrFail(arena, blank);
    EXPECT_EQ(palette.kind(), PackedCell::Kind::paletteBlank);
    EXPECT_EQ(palette.paletteIndex(), 4);

    blank.attribute = Attribute(Color::defaultColor(), Color::trueColor(1, 2, 3));
    const PackedCell rgb = packOrFail(arena, blank);
    EXPECT_EQ(rgb.kind(), PackedCell::Kind::trueColorBlank);
    EXPECT_EQ(arena.attributeCount(), 1) << "inline blanks add no arena entry";
    EXPECT_EQ(arena.canonicalBlank(blank.attribute), rgb);

    blank.attribute = Attribute(Color::defaultColor(), Color::ansi256(4), CharacterStyle::bold);
    const PackedCell bold = packOrFail(arena, blank);
    EXPECT_EQ(bold.kind(), PackedCell::Kind::scalar);
    EXPECT_EQ(arena.attribute(bold.attributeID()), blank.attribute);
    EXPECT_EQ(arena.canonicalBlank(blank.attribute), bold);

    // The default backgrounds are not inline colours: they take the general road.
    blank.attribute = Attribute::empty;
    EXPECT_EQ(packOrFail(arena, blank).attributeID(), 2);

    // A character, a payload or a wide state on a palette background keeps the arena road or
    // the bits: only scalar 0 goes inline.
    CharData letter(Attribute(Color::defaultColor(), Color::ansi256(4)), 'x', 1);
    EXPECT_EQ(packOrFail(arena, letter).kind(), PackedCell::Kind::scalar);
    CharData linked;
    linked.attribute = Attribute(Color::defaultColor(), Color::ansi256(9));
    linked.payload = TinyAtom{77};
    linked.semanticContentCode = 6;
    const PackedCell linkedPacked = packOrFail(arena, linked);
    EXPECT_EQ(linkedPacked.kind(), PackedCell::Kind::paletteBlank);
    EXPECT_EQ(linkedPacked.payloadCode(), 77);
    EXPECT_EQ(linkedPacked.semanticCode(), 6);
}

TEST(CellArena, PackRefusesCellsItCannotEncode)
{
    CellArena arena;
    CharData cell;
    for (const int32_t code : {-1, 0xD800, 0x110000}) {
        cell.code = code;
        EXPECT_FALSE(arena.pack(cell)) << code;
    }
    cell.code = 'a';
    cell.widthStateCode = 4;
    EXPECT_FALSE(arena.pack(cell));
    cell.widthStateCode = 3;
    EXPECT_EQ(arena.unpack(packOrFail(arena, cell)).width, 0) << "width state 3 reads as a continuation";
    cell.widthStateCode = 0;
    cell.semanticContentCode = 9;
    EXPECT_EQ(packOrFail(arena, cell).semanticCode(), 0) << "an unknown semantic code is stored as none";

    const Attribute plain;
    EXPECT_FALSE(arena.pack(plain, Character(), WidthState::single, 0, 0, false)) << "empty character";
    EXPECT_FALSE(arena.pack(plain, Character(U'a'), WidthState::single, 0, 7, false)) << "semantic code 7";
    EXPECT_FALSE(arena.pack(plain, Character(std::u32string{U'a', char32_t(0xDC00)}), WidthState::single, 0,
                            0, false));
    EXPECT_FALSE(arena.pack(uint16_t(0), std::u32string_view(U"\x110000"), WidthState::single, 0, 0, false));
    EXPECT_FALSE(arena.pack(uint16_t(0), std::u32string_view(), WidthState::single, 0, 0, false));

    const auto blank = arena.pack(Attribute(Color::defaultColor(), Color::ansi256(3)), Character(U'\0'),
                                  WidthState::single, 0, 0, false);
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->kind(), PackedCell::Kind::paletteBlank);
    const auto wide = arena.pack(uint16_t(5), Character(U'\u4E00'), WidthState::lead, 3, 5, true);
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, PackedCell::makeScalar(0x4E00, 5, WidthState::lead, true, 3, 5));
}

TEST(CellArena, The65536thDistinctAttributeFallsBackToIdZero)
{
    CellArena arena;
    for (uint32_t i = 1; i <= 65535; ++i) {
        const auto id = arena.intern(distinctAttribute(i));
        ASSERT_TRUE(id) << "attribute " << i;
        ASSERT_EQ(*id, i);
    }
    EXPECT_EQ(arena.attributeCount(), 65536);
    EXPECT_FALSE(arena.intern(distinctAttribute(65536))) << "all 65536 ids are taken";

    CharData cell(distinctAttribute(65536), 'z', 1);
    const PackedCell packed = packOrFail(arena, cell);
    EXPECT_EQ(packed.attributeID(), 0) << "the character is kept with the default look";
    EXPECT_EQ(arena.unpack(packed).code, 'z');
    EXPECT_EQ(arena.unpack(packed).attribute, Attribute());

    // Ids given before keep their meaning, through the map and through the cache.
    EXPECT_EQ(arena.intern(distinctAttribute(1)), 1);
    EXPECT_EQ(arena.intern(distinctAttribute(40000)), 40000);
    cell.attribute = distinctAttribute(65535);
    EXPECT_EQ(arena.unpack(packOrFail(arena, cell)).attribute, distinctAttribute(65535));
    EXPECT_EQ(arena.intern(Attribute()), 0);
}

// SGR interns the key it builds instead of an attribute: every attribute must come back from its
// key, and both roads must give the same ids, in the order attributes first appear, whether the
// answer comes from the cache or from the map behind it.
TEST(CellArena, KeysNameTheirAttributesAndInternAlike)
{
    std::mt19937 random(58);
    CellArena byAttribute;
    CellArena byKey;
    std::vector<Attribute> seen;
    for (int i = 0; i < 20000; ++i) {
        Attribute attribute(randomColor(random), randomColor(random), CharacterStyle(uint8_t(random())),
                            *kestrovan::underlineStyleFromRaw(uint8_t(random() % 6)));
        if (random() % 2)
            attribute.underlineColor = randomColor(random);
        // Now and then one seen before, long enough ago to have left the cache.
        if (!seen.empty() && random() % 4 == 0)
            attribute = seen[random() % seen.size()];
        seen.push_back(attribute);
        const auto key = kestrovan::InternedAttributeKey::of(attribute);
        ASSERT_EQ(key.attribute(), attribute) << "attribute " << i;
        const auto id = byAttribute.intern(attribute);
        ASSERT_TRUE(id);
        ASSERT_EQ(byKey.intern(key), id) << "attribute " << i;
        ASSERT_EQ(byAttribute.attribute(*id), attribute);
        ASSERT_EQ(byKey.attribute(*id), attribute);
    }
    EXPECT_EQ(byAttribute.attributeCount(), byKey.attributeCount());
    EXPECT_EQ(byKey.intern(kestrovan::InternedAttributeKey{}), 0);

    // Clusters too are found again once the map has grown well past its first size.
    CellArena clusters;
    for (char32_t base = U'a'; base <= U'z'; ++base) {
        for (char32_t mark = 0x300; mark < 0x300 + 200; ++mark)
            ASSERT_TRUE(clusters.intern(std::u32string{base, mark}));
    }
    EXPECT_EQ(clusters.graphemeCount(), 26u * 200u);
    EXPECT_EQ(clusters.intern(std::u32string{U'a', char32_t(0x300)}), 1u);
    EXPECT_EQ(clusters.intern(std::u32string{U'z', char32_t(0x300 + 199)}), 26u * 200u);
    EXPECT_EQ(clusters.intern(std::u32string{U'm', char32_t(0x300 + 7)}), 12u * 200u + 8u);
    EXPECT_EQ(clusters.graphemeCount(), 26u * 200u) << "nothing found again is given a new id";
}

TEST(CellArena, CapacitiesAreClampedAndFullTablesFallBack)
{
    CellArena none(-5, -5);
    EXPECT_FALSE(none.intern(distinctAttribute(1)));
    EXPECT_EQ(none.intern(Attribute()), 0);
    EXPECT_FALSE(none.intern(std::u32string_view(U"ab")));

    const CellArena big(1 << 20, 1 << 30);
    EXPECT_EQ(std::pair(big.attributeCapacity(), big.graphemeCapacity()), std::pair(65535, 0xFFFFFF));

    CellArena small(2, 1);
    CharData cluster;
    cluster.setCharacter(Character(U"e\u0301"), 1);
    const PackedCell first = packOrFail(small, cluster);
    EXPECT_EQ(first.kind(), PackedCell::Kind::grapheme);
    cluster.setCharacter(Character(U"a\u0308"), 1);
    const PackedCell fallback = packOrFail(small, cluster);
    EXPECT_EQ(fallback.kind(), PackedCell::Kind::scalar) << "a full grapheme table keeps the first scalar";
    EXPECT_EQ(fallback.scalar(), U'a');

    cluster.graphemeScalarValues = std::u32string{char32_t(0xD800), U'b', U'c'};
    cluster.code = 0xD800;
    EXPECT_EQ(packOrFail(small, cluster).scalar(), U'b') << "the first valid scalar";
    cluster.graphemeScalarValues = std::u32string{char32_t(0xD800), char32_t(0x110000)};
    EXPECT_EQ(packOrFail(small, cluster).scalar(), 0xFFFDu);
}

// A full table answers lookups that miss the cache through a filter of the keys it holds: every
// attribute given an id must still be found with it, and no new one is given.
TEST(CellArena, AFullTableStillFindsEveryAttributeItHolds)
{
    CellArena arena;
    for (uint32_t i = 1; i <= 65535; ++i)
        ASSERT_EQ(arena.intern(distinctAttribute(i)), uint16_t(i)) << "attribute " << i;
    EXPECT_FALSE(arena.intern(distinctAttribute(65536))) << "the table is full";
    // In order, far more keys than the cache holds, so nearly all of these miss it.
    for (uint32_t i = 1; i <= 65535; ++i)
        ASSERT_EQ(arena.intern(distinctAttribute(i)), uint16_t(i)) << "attribute " << i << " once full";
    for (uint32_t i = 65536; i < 65536 + 5000; ++i)
        ASSERT_FALSE(arena.intern(distinctAttribute(i))) << "attribute " << i << " is new";
    EXPECT_EQ(arena.intern(Attribute()), 0);
    EXPECT_EQ(arena.attributeCount(), 65536);
}

TEST(CellArena, ClustersAreInternedOnceAndReadBack)
{
    CellArena arena;
    const auto id = arena.intern(std::u32string_view(U"e\u0301"));
    ASSERT_EQ(id, 1u);
    EXPECT_EQ(arena.intern(std::u32string_view(U"e\u0301")), id);
    EXPECT_FALSE(arena.intern(std::u32string_view())) << "an empty list gets no id";
    for (char32_t s = 0x300; s < 0x300 + 600; ++s)
        ASSERT_TRUE(arena.intern(std::u32string{U'x', s})) << "ids beyond the first 256-slot block";
    EXPECT_EQ(arena.graphemeCount(), 601u);
    ASSERT_NE(arena.grapheme(601), nullptr);
    EXPECT_EQ(*arena.grapheme(601), (std::u32string{U'x', char32_t(0x300 + 599)}));
    EXPECT_EQ(arena.grapheme(0), nullptr);
    EXPECT_EQ(arena.grapheme(602), nullptr);

    const PackedCell cell = PackedCell::makeGrapheme(*id, 0, WidthState::single, false, 0, 0);
    EXPECT_EQ(arena.scalarValues(cell), U"e\u0301");
    EXPECT_EQ(arena.scalarValues(cell, U'\u0302'), U"e\u0301\u0302");
    EXPECT_EQ(arena.text(cell), "e\xCC\x81");
    EXPECT_EQ((PackedCellView{cell, &arena}).getScalarValues(U'!'), U"e\u0301!");

    const PackedCell unknown = PackedCell::makeGrapheme(5000, 0, WidthState::single, false, 0, 0);
    EXPECT_EQ(arena.scalarValues(unknown), U"");
    EXPECT_EQ(arena.scalarValues(unknown, U'a'), U"a");
    EXPECT_EQ(arena.text(unknown), " ");
    EXPECT_EQ(arena.unpack(unknown).code, 0);
    EXPECT_FALSE(arena.unpack(unknown).graphemeScalarValues);
}

// The cache in front of the map packs a short list into one word, 21 bits a value, all ones for
// a missing third, and marks an empty slot with a word no list packs to. Lists of values no
// printed text has, shaped like an empty slot or packing like another list interned before them
// (all ones as a third value; a first value spilling into the second's bits), must each get an
// id of their own and find it again.
TEST(CellArena, ListsShapedLikeAnEmptyCacheSlotGetIds)
{
    CellArena arena;
    ASSERT_NE(arena.internCluster(U"e\u0301"), 0u) << "the cache is made on the first cluster";
    const std::u32string lists[] = {
        std::u32string(2, char32_t(0xFFFFFFFF)),
        std::u32string{U'e', char32_t(0xFFFFFFFF)},
        std::u32string{char32_t(0xFFFFFFFF), U'e', char32_t(0xFFFFFFFF)},
        std::u32string(3, char32_t(0x1FFFFF)),
        std::u32string{U'e', U'x'},
        std::u32string{U'e', U'x', char32_t(0x1FFFFF)},
        std::u32string{U'e', U'y'},
        std::u32string{char32_t(0x200000 | U'e'), U'x'},
    };
    for (const std::u32string& list : lists) {
        const uint32_t id = arena.internCluster(list);
        ASSERT_NE(id, 0u) << list.size() << " scalars";
        ASSERT_NE(arena.grapheme(id), nullptr);
        EXPECT_EQ(*arena.grapheme(id), list);
        EXPECT_EQ(arena.internCluster(list), id) << list.size() << " scalars, again";
    }
}

// The print path's entry for two or three scalars, on an arena that has no cache yet (the first
// cluster makes it) and on a snapshot copy, which has none, answers as the general entry and
// gives no new ids.
TEST(CellArena, TheShortClusterEntryMakesTheCacheAndGivesNoIdsOnACopy)
{
    const std::u32string pair = U"e\u0301";
    const std::u32string triple = U"\u0915\u094D\u0937";
    const auto internShort = [](CellArena& arena, const std::u32string& cluster) {
        return arena.internShortCluster(cluster[0], cluster[1],
                                        cluster.size() == 3 ? cluster[2] : ClusterCacheSet::noScalar);
    };
    CellArena arena;
    const uint32_t pairId = internShort(arena, pair);
    ASSERT_NE(pairId, 0u);
    EXPECT_EQ(arena.lastCreatedGrapheme(), pairId) << "made anew";
    const uint32_t tripleId = internShort(arena, triple);
    ASSERT_NE(tripleId, 0u);
    ASSERT_NE(tripleId, pairId);
    for (const auto& [cluster, id] : {std::pair{pair, pairId}, std::pair{triple, tripleId}}) {
        EXPECT_EQ(*arena.grapheme(id), cluster) << cluster.size() << " scalars";
        EXPECT_EQ(internShort(arena, cluster), id) << cluster.size() << " scalars, from the cache";
        EXPECT_EQ(arena.lastCreatedGrapheme(), 0u) << "found, not made";
        EXPECT_EQ(arena.internCluster(cluster), id) << cluster.size() << " scalars, the general entry";
    }

    const auto copy = CellArena::makeSnapshot(arena);
    for (const std::u32string& cluster : {pair, triple})
        EXPECT_EQ(internShort(*copy, cluster), copy->internCluster(cluster))
            << cluster.size() << " scalars, on a copy";
    EXPECT_EQ(internShort(*copy, U"a\u0308"), 0u) << "a copy gives no new ids";
    EXPECT_EQ(arena.graphemeCount(), 2u);
}

TEST(CellArena, TextAndScalarsByKind)
{
    CellArena arena;
    EXPECT_EQ(arena.text(PackedCell()), std::string(1, '\0'));
    EXPECT_EQ(arena.scalarValues(PackedCell()), std::u32string(1, U'\0')) << "kind 0 gives its scalar, 0 too";
    const PackedCell palette = PackedCell::makePaletteBlank(3, WidthState::single, false, 0, 0);
    EXPECT_EQ(arena.text(palette), std::string(1, '\0'));
    EXPECT_EQ(arena.scalarValues(palette), U"");
    EXPECT_EQ(arena.scalarValues(palette, U'a'), U"a");
    EXPECT_EQ(arena.text(PackedCell::makeScalar(0xD800, 0, WidthState::single, false, 0, 0)), " ");
    EXPECT_EQ(arena.text(PackedCell::makeScalar(0x1F600, 0, WidthState::lead, false, 0, 0)),
              "\xF0\x9F\x98\x80");
}

TEST(CellArena, EncodingValidity)
{
    EXPECT_TRUE(PackedCell().hasValidEncoding());
    EXPECT_FALSE(PackedCell::makeScalar(0xDABC, 0, WidthState::single, false, 0, 0).hasValidEncoding());
    EXPECT_FALSE(PackedCell::makeScalar(0x110000, 0, WidthState::single, false, 0, 0).hasValidEncoding());
    EXPECT_FALSE(PackedCell(1).hasValidEncoding()) << "grapheme id 0";
    EXPECT_FALSE(PackedCell(2 | (1u << 10)).hasValidEncoding()) << "kind 2 with bits 10-25 set";
    EXPECT_TRUE(PackedCell(3 | (0xFFFFFFu << 2)).hasValidEncoding());
    EXPECT_FALSE(PackedCell(uint64_t(7) << 61).hasValidEncoding()) << "semantic code 7";
}

TEST(CellArenaDeathTest, APaletteBlankWithStrayBitsStopsUnpacking)
{
    CellArena arena;
    EXPECT_DEATH(arena.unpack(PackedCell(2 | (1u << 12))), "palette blank");
}

TEST(CellArena, ReplacingContentKeepsTheLook)
{
    CellArena arena;
    const uint16_t red = *arena.intern(Attribute(Color::ansi256(1), Color::defaultColor()));
    const PackedCell cell = PackedCell::makeScalar('e', red, WidthState::single, true, 9, 5);

    const auto combined = arena.replacingContent(cell, U"e\u0301", WidthState::lead);
    ASSERT_TRUE(combined);
    EXPECT_EQ(*combined, PackedCell::makeGrapheme(1, red, WidthState::lead, true, 9, 5));

    const auto single = arena.replacingContent(*combined, U" ", WidthState::single);
    ASSERT_TRUE(single);
    EXPECT_EQ(*single, PackedCell::makeScalar(' ', red, WidthState::single, true, 9, 5));

    // An inline blank has its implied attribute interned.
    const PackedCell blank = PackedCell::makePaletteBlank(4, WidthState::single, false, 0, 0);
    const auto written = arena.replacingContent(blank, U"x", WidthState::single);
    ASSERT_TRUE(written);
    EXPECT_EQ(arena.attribute(written->attributeID()), Attribute(Color::defaultColor(), Color::ansi256(4)));

    EXPECT_FALSE(arena.replacingContent(cell, U"", WidthState::single));
    EXPECT_FALSE(arena.replacingContent(cell, std::u32string(1, char32_t(0xD800)), WidthState::single));
    EXPECT_FALSE(arena.replacingContent(PackedCell(uint64_t(7) << 61), U"a", WidthState::single));
}

TEST(CellArena, SnapshotCopiesDecodeTheSourceAndFollowItsGrowth)
{
    CellArena source;
    CharData bold(Attribute(Color::ansi256(2), Color::defaultColor(), CharacterStyle::bold), 'b', 1);
    CharData cluster;
    cluster.setCharacter(Character(U"e\u0301"), 1);
    const PackedCell boldCell = packOrFail(source, bold);
    const PackedCell clusterCell = packOrFail(source, cluster);

    const auto snapshot = CellArena::makeSnapshot(source);
    EXPECT_TRUE(snapshot->isSnapshotCopy());
    EXPECT_EQ(snapshot->snapshotSourceIdentity(), source.identity()) << "the copy names its source";
    EXPECT_TRUE(snapshot->preservesEncoding(source));
    EXPECT_EQ(snapshot->unpack(boldCell), bold);
    EXPECT_EQ(snapshot->unpack(clusterCell), cluster);

    // A snapshot gives no new ids: a new cluster packs as its first scalar.
    CharData other;
    other.setCharacter(Character(U"a\u0308"), 1);
    const PackedCell fallback = packOrFail(*snapshot, other);
    EXPECT_EQ(fallback.kind(), PackedCell::Kind::scalar);
    EXPECT_EQ(fallback.scalar(), U'a');
    EXPECT_FALSE(snapshot->intern(Attribute::empty));
    EXPECT_EQ(snapshot->intern(Attribute()), 0);

    // The source grows; the copy falls behind until it is synchronised.
    CharData italic(Attribute(Color::trueColor(1, 2, 3), Color::ansi256(7), CharacterStyle::italic), 'i', 1);
    const PackedCell italicCell = packOrFail(source, italic);
    const PackedCell otherCell = packOrFail(source, other);
    EXPECT_FALSE(snapshot->preservesEncoding(source));
    EXPECT_TRUE(snapshot->synchronizeSnapshotPrefix(source));
    EXPECT_TRUE(snapshot->preservesEncoding(source));
    EXPECT_EQ(snapshot->unpack(italicCell), italic);
    EXPECT_EQ(snapshot->unpack(otherCell), other);
    EXPECT_TRUE(snapshot->synchronizeSnapshotPrefix(source)) << "nothing new is fine";

    // Another arena, or an arena that is not a snapshot, is refused.
    CellArena foreign;
    packOrFail(foreign, italic);
    EXPECT_FALSE(snapshot->synchronizeSnapshotPrefix(foreign));
    EXPECT_FALSE(snapshot->preservesEncoding(foreign));
    EXPECT_FALSE(source.synchronizeSnapshotPrefix(source));
    EXPECT_FALSE(source.preservesEncoding(source));

    // A copy ahead of its source (the source is an older arena than the copy) is refused.
    const auto later = CellArena::makeSnapshot(source);
    const auto chained = CellArena::makeSnapshot(*later);
    EXPECT_FALSE(chained->synchronizeSnapshotPrefix(source)) << "a snapshot of a snapshot names the copy";
}

TEST(CellStoragePage, CopiesWithinAPageSurviveOverlap)
{
    auto arena = std::make_shared<CellArena>();
    CellStoragePage page(10, PackedCell(), arena);
    for (int i = 0; i < 10; ++i)
        page[i] = PackedCell::makeScalar('0' + i, 0, WidthState::single, false, 0, 0);
    const auto text = [&] {
        std::string out;
        for (int i = 0; i < 10; ++i)
            out += char(page[i].scalar());
        return out;
    };
    page.copyCells(page, 2, 4, 5);
    EXPECT_EQ(text(), "0123234569") << "copy to the right";
    page.copyCells(page, 4, 1, 5);
    EXPECT_EQ(text(), "0234564569") << "copy to the left";
    page.copyCells(page, 0, 0, 0);
    page.copyCells(page, 0, 9, -3);
    EXPECT_EQ(page[9].scalar(), U'9') << "counts below 1 copy nothing";
}

TEST(CellStoragePage, CopiesAcrossArenasRepackTheCells)
{
    auto first = std::make_shared<CellArena>();
    auto second = std::make_shared<CellArena>();
    ASSERT_TRUE(second->intern(distinctAttribute(99)));
    CellStoragePage from(4, PackedCell(), first);
    CharData bold(Attribute(Color::ansi256(5), Color::defaultColor(), CharacterStyle::bold), 'q', 1);
    CharData cluster;
    cluster.setCharacter(Character(U"o\u0308"), 1);
    from[1] = packOrFail(*first, bold);
    from[2] = packOrFail(*first, cluster);
    CellStoragePage to(4, PackedCell(), second);
    to.copyCells(from, 0, 0, 4);
    EXPECT_NE(to[1], from[1]) << "the ids differ between the arenas";
    EXPECT_EQ(second->unpack(to[1]), bold);
    EXPECT_EQ(second->unpack(to[2]), cluster);

    const CellStoragePage copy(from);
    EXPECT_EQ(copy.arena(), first);
    EXPECT_EQ(copy[2], from[2]);
}

TEST(CellStoragePageDeathTest, ARawCopyNeedsAnArenaThatPreservesTheEncoding)
{
    auto arena = std::make_shared<CellArena>();
    CellStoragePage page(3, PackedCell(), arena);
    const auto snapshot = CellArena::makeSnapshot(*arena);
    const CellStoragePage raw(page, snapshot);
    EXPECT_EQ(raw.arena(), snapshot);
    EXPECT_DEATH(CellStoragePage(page, std::make_shared<CellArena>()), "does not preserve");
    EXPECT_DEATH(page.copyCells(page, 2, 0, 2), "outside the page");
}

// Short clusters are found through a cache of five slots per place in front of the map. Far more
// clusters than the cache has places, interned again in another order, must each give back the
// id they were given first (a cache that answered for the wrong cluster, or kept a stale id,
// would not); and a cluster grown in place must no longer be found under its old list.
TEST(CellArena, ShortClustersKeepTheirIdsWhenTheCacheOverflows)
{
    // Cluster i has the prefix i / `sharing`: the clusters sharing one differ in their third
    // scalar, or (with `pairs`) the first of them has none.
    struct Case
    {
        const char* name;
        int count;
        int sharing;
        bool pairs;
    };
    const Case cases[] = {
        {"letters with a mark", 20000, 1, true},
        {"conjuncts on one consonant", 20000, 4, false},
        {"a mark alone and with another", 30000, 2, true},
        {"one letter and mark under many others", 20000, 20000, true},
    };
    // The print path's entry for two or three scalars and the general one must agree, on a
    // cluster the cache holds and on one it has dropped, whichever made it.
    const auto intern = [](CellArena& arena, const std::u32string& cluster, bool shortEntry) {
        if (!shortEntry)
            return arena.internCluster(cluster);
        return arena.internShortCluster(cluster[0], cluster[1],
                                        cluster.size() == 3 ? cluster[2] : ClusterCacheSet::noScalar);
    };
    for (const Case& c : cases) {
        CellArena arena;
        std::mt19937 random(7);
        std::vector<std::u32string> clusters;
        std::vector<uint32_t> ids;
        for (int i = 0; i < c.count; ++i) {
            const int prefix = i / c.sharing;
            const int member = i % c.sharing;
            std::u32string cluster{char32_t(0x4E00 + prefix / 48), char32_t(0x300 + prefix % 48)};
            if (!(c.pairs && member == 0))
                cluster.push_back(char32_t(0x900 + member));
            const uint32_t id = intern(arena, cluster, i % 2 == 1);
            ASSERT_NE(id, 0u) << c.name << " " << i;
            clusters.push_back(cluster);
            ids.push_back(id);
        }
        std::vector<size_t> order(clusters.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        for (int pass = 0; pass < 2; ++pass) {
            std::shuffle(order.begin(), order.end(), random);
            for (size_t i : order) {
                ASSERT_EQ(intern(arena, clusters[i], (i + pass) % 3 == 0), ids[i])
                    << c.name << " " << i << " pass " << pass;
                ASSERT_EQ(*arena.grapheme(ids[i]), clusters[i]) << c.name << " " << i;
            }
        }
        EXPECT_EQ(arena.graphemeCount(), uint32_t(c.count)) << c.name;

        // Grown in place, the first cluster's id names the longer list; its old list is new again.
        const std::u32string grown = clusters[0] + U'\u0323';
        ASSERT_EQ(arena.extendGrapheme(ids[0], grown), std::optional<uint32_t>(ids[0])) << c.name;
        EXPECT_EQ(arena.internCluster(grown), ids[0]) << c.name;
        const uint32_t again = arena.internCluster(clusters[0]);
        EXPECT_NE(again, ids[0]) << c.name << ": the old list still finds the grown id";
        EXPECT_EQ(*arena.grapheme(again), clusters[0]) << c.name;
    }
}
