// Per-buffer interning of what does not fit in a packed cell: attributes to 16-bit ids and
// grapheme clusters of several scalars to 24-bit ids; and the packing of cells against it.
//
// Between reclaims an id, once given, keeps its meaning: that is what lets the render model keep
// snapshot copies of an arena and refresh them by appending what the source gained since
// (`synchronizeSnapshotPrefix`). When a table fills, its owner counts the ids every cell it keeps
// still uses (`CellArenaUsage`) and gives the others back (`reclaimUnused`); freed ids are given
// again to new attributes and clusters. A reclaim renews the arena's identity, so a snapshot
// copy can no longer be extended as a prefix and is rebuilt instead: it never reads a reused id
// as its old meaning. Interning an attribute seen recently costs one multiply-xor hash and one
// compare against a direct-mapped cache; the hash map is only consulted on a miss. Blank cells
// whose only property is a palette or true-colour background are packed inline and never touch
// the arena.
//
// An arena does no locking: the live arena of a buffer is used under the terminal lock, and
// snapshot copies belong to the render model.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/CharData.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/InternTable.h"
#include "Kestrovan/PackedCell.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan {

/// The canonical two-word key of an attribute; only the default attribute has the key (0, 0).
struct InternedAttributeKey
{
    uint64_t word0 = 0;
    uint64_t word1 = 0;

    /// The 26-bit tag of a colour: defaults 0 and 0x1000000, then 0x2000000 | index and
    /// 0x3000000 | rgb, so that every colour has its own tag and the default colour is 0.
    static constexpr uint64_t colorTag(Attribute::Color color)
    {
        // Without a branch, since colours in real output vary unpredictably: the colour's four
        // bytes (see the assertions below), byte-swapped, are its kind (palette 0, true colour 1,
        // default 2, inverted 3) over the three payload bytes, which are zero where the kind has
        // none; the tag's kind field is (kind + 2) mod 4, and a palette index, the first payload
        // byte, moves down to the bottom.
        const uint64_t raw = __builtin_bswap32(std::bit_cast<uint32_t>(color));
        const uint64_t kind = raw >> 24;
        return ((kind + 2) & 3) << 24 | (raw & 0xFFFFFF) >> ((kind == 0) << 4);
    }

    /// The colour whose tag is `tag`, the inverse of `colorTag`. Also without a branch: the
    /// colour's four bytes (kind, then the payload bytes, as the assertions below pin down) are
    /// put together directly; a true colour's red, green and blue are the tag's low three bytes
    /// in reverse order.
    static constexpr Attribute::Color colorOfTag(uint64_t tag)
    {
        const uint32_t tagKind = static_cast<uint32_t>(tag >> 24) & 3;
        const uint32_t low = static_cast<uint32_t>(tag);
        const uint32_t payload = tagKind == 3   ? __builtin_bswap32(low & 0xFFFFFF)
                                 : tagKind == 2 ? (low & 0xFF) << 8
                                                : 0;
        return std::bit_cast<Attribute::Color>(((tagKind + 2) & 3) | payload);
    }

    static constexpr InternedAttributeKey of(const Attribute& attribute)
    {
        InternedAttributeKey key;
        key.word0 = colorTag(attribute.fg) | (colorTag(attribute.bg) << 26) |
                    (uint64_t(attribute.style.rawValue) << 52) | (uint64_t(attribute.underlineStyle) << 60);
        // An underline colour's tag is moved up by 0x4000000 so that a present default colour
        // (0x4000000) differs from an absent one (0).
        key.word1 = attribute.underlineColor ? colorTag(*attribute.underlineColor) + 0x4000000 : 0;
        return key;
    }

    /// The attribute this key was made from: every attribute has its own key.
    constexpr Attribute attribute() const
    {
        std::optional<Attribute::Color> underlineColor;
        if (word1 != 0)
            underlineColor = colorOfTag(word1 - 0x4000000);
        return Attribute(colorOfTag(word0 & 0x3FFFFFF), colorOfTag((word0 >> 26) & 0x3FFFFFF),
                         CharacterStyle(static_cast<uint8_t>(word0 >> 52)),
                         static_cast<UnderlineStyle>(word0 >> 60), underlineColor);
    }

    friend constexpr bool operator==(InternedAttributeKey, InternedAttributeKey) = default;
};

// `colorOfTag` builds colours from their bytes: kind first, then the payload in order.
static_assert(std::bit_cast<uint32_t>(Attribute::Color::trueColor(0x11, 0x22, 0x33)) == 0x33221101);
static_assert(std::bit_cast<uint32_t>(Attribute::Color::ansi256(0x44)) == 0x4400);
static_assert(std::bit_cast<uint32_t>(Attribute::Color::defaultColor()) == 2);
static_assert(std::bit_cast<uint32_t>(Attribute::Color::defaultInvertedColor()) == 3);

/// One slot of the direct-mapped cache in front of the attribute map, in 16 bytes so that four
/// share a cache line: the key's first word, then its second word (an underline colour's tag,
/// below 2^27) above the id plus one (0 marks an empty slot).
struct AttributeCacheEntry
{
    static constexpr int identifierBits = 17;
    static constexpr uint64_t identifierMask = (uint64_t(1) << identifierBits) - 1;
    /// The largest second word a slot can hold; keys with a larger one are not cached.
    static constexpr uint64_t largestWord1 = ~uint64_t(0) >> identifierBits;

    uint64_t word0 = 0;
    uint64_t word1AndIdentifier = 0;
};

/// A set of the cache in front of the cluster map for clusters of two or three scalars: five
/// slots in one cache line, the one filled last first. A slot holds a cluster's scalars packed in
/// one word (`key`) and its id. Text mixing scripts cycles through a few thousand such clusters
/// (accented letters, conjuncts, pointed letters, flags) in no order: with two slots of scalars
/// side by side in half a line, a cache twice this size missed one lookup in fifty and was read
/// back from beyond the second-level cache; packed, fewer than one in five thousand miss.
struct alignas(64) ClusterCacheSet
{
    static constexpr int ways = 5;
    /// The key of a free slot, which no cluster packs to (`clusterCacheSet` keeps the values it
    /// would take out of the cache).
    static constexpr uint64_t emptyKey = ~uint64_t(0);
    /// The scalar a cluster of two has for its third.
    static constexpr char32_t noScalar = 0x1FFFFF;

    std::array<uint64_t, ways> keys{emptyKey, emptyKey, emptyKey, emptyKey, emptyKey};
    std::array<uint32_t, ways> ids{};

    /// The key of the cluster `first`, `second`, `third`: 21 bits each, side by side.
    static uint64_t key(char32_t first, char32_t second, char32_t third)
    {
        return uint64_t(first) | uint64_t(second) << 21 | uint64_t(third) << 42;
    }
    /// The id of the cluster of key `key`; 0 when no slot holds it. Keys in a set are distinct:
    /// every slot is compared and the one match kept with a mask, without a branch on the slots
    /// (which slot holds a cluster is as random as the text).
    uint32_t find(uint64_t key) const
    {
        static_assert(ways == 5);
#if defined(__SSE2__)
        // Two keys a compare, as halves of 32 bits: a key matches where both its halves do. The
        // third load takes the fifth key and the first two ids, whose lane is masked off.
        const __m128i wanted = _mm_set1_epi64x(static_cast<long long>(key));
        const auto* line = reinterpret_cast<const __m128i*>(this);
        const auto matches = [&](size_t quarter) {
            const __m128i halves = _mm_cmpeq_epi32(_mm_load_si128(line + quarter), wanted);
            const __m128i whole = _mm_and_si128(halves, _mm_shuffle_epi32(halves, _MM_SHUFFLE(2, 3, 0, 1)));
            return static_cast<unsigned>(_mm_movemask_pd(_mm_castsi128_pd(whole)));
        };
        const unsigned found = matches(0) | matches(1) << 2 | (matches(2) & 1) << 4;
        return found != 0 ? ids[static_cast<size_t>(std::countr_zero(found))] : 0;
#else
        uint32_t id = 0;
        id |= ids[0] & -static_cast<uint32_t>(keys[0] == key);
        id |= ids[1] & -static_cast<uint32_t>(keys[1] == key);
        id |= ids[2] & -static_cast<uint32_t>(keys[2] == key);
        id |= ids[3] & -static_cast<uint32_t>(keys[3] == key);
        id |= ids[4] & -static_cast<uint32_t>(keys[4] == key);
        return id;
#endif
    }
};
static_assert(sizeof(ClusterCacheSet) == 64 && offsetof(ClusterCacheSet, keys) == 0);

/// One slot of the direct-mapped cache the map is consulted behind for clusters of four to seven
/// scalars (an emoji family or profession, a flag of tags, a letter under several marks): the
/// scalars, the unused ones `noScalar`, and the id; id 0 marks an empty slot.
struct LongClusterCacheEntry
{
    static constexpr size_t shortest = 4;
    static constexpr size_t longest = 7;
    static constexpr char32_t noScalar = 0xFFFFFFFF;
    std::array<char32_t, longest> scalars{};
    uint32_t id = 0;
};

class CellArena;

/// How many cells use each id of one arena, counted by the arena's owner over every cell it
/// keeps (and every id it holds outside cells) before a reclaim.
class CellArenaUsage
{
public:
    explicit CellArenaUsage(const CellArena& arena);

    /// Counts the ids `cell` uses: its attribute id (kinds 0 and 1) and its cluster (kind 1).
    void add(PackedCell cell)
    {
        if (cell.kind() > PackedCell::Kind::grapheme)
            return;
        const uint16_t attribute = cell.attributeID();
        if (attribute < attributeUses.size())
            ++attributeUses[attribute];
        if (cell.kind() == PackedCell::Kind::grapheme && cell.content() < graphemeUses.size())
            ++graphemeUses[cell.content()];
    }
    void add(std::span<const PackedCell> cells)
    {
        for (const PackedCell cell : cells)
            add(cell);
    }
    /// Counts one use of attribute id `id` held outside any cell (the current style, say).
    void addAttribute(uint16_t id)
    {
        if (id < attributeUses.size())
            ++attributeUses[id];
    }

    /// Uses per attribute id and per grapheme id (index 0 of the latter is no cluster).
    std::vector<uint32_t> attributeUses;
    std::vector<uint32_t> graphemeUses;
};

class CellArena
{
public:
    using WidthState = PackedCell::WidthState;

    /// Attribute ids run 0...65535 and grapheme ids 1...65535 in the arenas buffers make.
    static constexpr int defaultStyleCapacity = 65535;
    static constexpr int defaultGraphemeCapacity = 65535;
    static constexpr int maximumGraphemeCapacity = 0xFFFFFF;
    static constexpr int graphemeBlockSize = 256;
    /// Slots of the attribute cache: 128 KiB, enough for the few thousand looks a true-colour
    /// picture or theme cycles through with few collisions; half as many kept evicting one look
    /// for another every tenth cell of a picture.
    static constexpr int attributeCacheSize = 8192;
    /// Sets of the cache for clusters of two and three scalars: 2048 of five slots, 128 KiB.
    static constexpr int clusterCacheSetBits = 11;
    static constexpr int clusterCacheSets = 1 << clusterCacheSetBits;
    /// Slots of the cache for clusters of four to seven scalars: 32 KiB. Real text repeats few
    /// such clusters, and a slot read saves the map's probe and the compare against the list it
    /// names, each a likely cache miss.
    static constexpr int longClusterCacheSize = 1024;
    /// The most scalars the print path lets one cell hold. Unicode's stream-safe text format
    /// allows at most 30 combining marks in a row, and the longest real clusters (an emoji family
    /// with skin tones, a flag of tag characters, a stacked Indic or Tibetan syllable) stay well
    /// below that; a base, 30 marks and a joiner fit. Marks past it are dropped, which bounds
    /// what one cell costs however long a hostile run of marks is.
    static constexpr size_t maximumGraphemeScalars = 32;

    /// A fresh arena; `styleCapacity` is the highest attribute id it may give (clamped to
    /// 0...65535), `graphemeCapacity` the most grapheme ids (clamped to 0...16,777,215).
    explicit CellArena(int styleCapacity = defaultStyleCapacity,
                       int graphemeCapacity = defaultGraphemeCapacity);

    struct SnapshotTag
    {};
    /// A snapshot copy of `source`: it decodes every cell of the source and gives no new ids.
    CellArena(SnapshotTag, const CellArena& source);
    static std::shared_ptr<CellArena> makeSnapshot(const CellArena& source)
    {
        return std::make_shared<CellArena>(SnapshotTag{}, source);
    }

    CellArena(const CellArena&) = delete;
    CellArena& operator=(const CellArena&) = delete;

    /// Names this arena; snapshot copies remember their source by it.
    uint64_t identity() const { return identity_; }
    /// The identity under which every id keeps one meaning: a live arena's own, and for a snapshot
    /// copy that of the arena it copies. A cache of what ids stand for is valid for one such
    /// identity, since a reclaim gives freed ids to new attributes and clusters and renews it.
    uint64_t encodingIdentity() const { return snapshotSourceIdentity_.value_or(identity_); }
    bool isSnapshotCopy() const { return isSnapshotCopy_; }
    std::optional<uint64_t> snapshotSourceIdentity() const { return snapshotSourceIdentity_; }

    int attributeCapacity() const { return attributeCapacity_; }
    /// One past the highest attribute id given so far (id 0 included); every id below it names
    /// an attribute or is free.
    int attributeCount() const { return static_cast<int>(attributes_.size()); }
    int graphemeCapacity() const { return graphemeCapacity_; }
    /// The highest grapheme id given so far; ids are 1...count, each in use or free.
    uint32_t graphemeCount() const { return graphemeCount_; }
    /// Attribute ids in use (id 0 included) and grapheme ids in use.
    int attributesInUse() const { return attributeCount() - static_cast<int>(freeAttributeIDs_.size()); }
    uint32_t graphemesInUse() const
    {
        return graphemeCount_ - static_cast<uint32_t>(freeGraphemeIDs_.size());
    }
    /// Whether a new attribute (cluster) would find no id now.
    bool attributeTableFull() const
    {
        return freeAttributeIDs_.empty() && attributeCount() > attributeCapacity_;
    }
    bool graphemeTableFull() const
    {
        return freeGraphemeIDs_.empty() && graphemeCount_ >= static_cast<uint32_t>(graphemeCapacity_);
    }

    /// The id of an attribute, giving a new one when needed; nothing when the table is full or
    /// this is a snapshot copy.
    std::optional<uint16_t> intern(const Attribute& attribute)
    {
        return intern(InternedAttributeKey::of(attribute));
    }
    /// The same for the attribute a key stands for; SGR builds keys directly.
    std::optional<uint16_t> intern(InternedAttributeKey key)
    {
        if (key.word0 == 0 && key.word1 == 0)
            return uint16_t(0);
        if (attributeCache_) {
            // An empty slot has id bits 0 and never matches, since the wanted bits are at least 1.
            const AttributeCacheEntry& entry = attributeCache_[cacheSlot(key)];
            const uint64_t identifierPlusOne = entry.word1AndIdentifier & AttributeCacheEntry::identifierMask;
            if (entry.word0 == key.word0 &&
                entry.word1AndIdentifier ==
                    (key.word1 << AttributeCacheEntry::identifierBits | identifierPlusOne) &&
                identifierPlusOne != 0)
                return uint16_t(identifierPlusOne - 1);
        }
        return internSlow(key);
    }

    /// The id of a scalar list, giving a new one when needed; nothing for an empty list, a full
    /// table or a snapshot copy.
    std::optional<uint32_t> intern(std::u32string_view grapheme)
    {
        const uint32_t id = internCluster(grapheme);
        return id != 0 ? std::optional<uint32_t>(id) : std::nullopt;
    }
    /// The same answering 0 for nothing, the form the print path uses: a short cluster seen
    /// recently is found in the cache inline.
    uint32_t internCluster(std::u32string_view grapheme)
    {
        uint64_t key;
        if (const ClusterCacheSet* set = clusterCacheSet(grapheme, key)) {
            if (const uint32_t id = set->find(key); id != 0) {
                lastCreatedGrapheme_ = 0;
                return id;
            }
        }
        return internClusterSlow(grapheme);
    }
    /// `internCluster` for a cluster of two or three scalars of decoded text, each at most
    /// U+10FFFF (which a cache key always holds): `third` is `ClusterCacheSet::noScalar` for two.
    /// The print path's gather loops call it with the scalars in hand, sparing the list's checks.
    uint32_t internShortCluster(char32_t first, char32_t second, char32_t third)
    {
        const uint64_t key = ClusterCacheSet::key(first, second, third);
        if (clusterCache_) [[likely]] {
            if (const uint32_t id = clusterCache_[clusterCacheSetIndex(key)].find(key); id != 0) {
                lastCreatedGrapheme_ = 0;
                return id;
            }
        }
        const char32_t scalars[3] = {first, second, third};
        return internClusterSlow(std::u32string_view(scalars, third == ClusterCacheSet::noScalar ? 2 : 3));
    }
    /// The id the latest cluster intern gave anew; 0 when it found the list already there (or
    /// gave nothing). The print path uses it to know a cluster only its own cell holds.
    uint32_t lastCreatedGrapheme() const { return lastCreatedGrapheme_; }
    /// Entries written again since the identity was last renewed.
    uint64_t editCount() const { return editLogStart_ + editLog_.size(); }
    /// Makes cluster `id` hold `extended` (its scalars with more appended) in place, for a cell
    /// the caller knows to be the only holder of `id`. The answer is the id the cell holds now:
    /// `id` itself, or the id `extended` already had (`id` then keeps its list). Nothing for a
    /// snapshot copy, an unknown id or an empty list.
    std::optional<uint32_t> extendGrapheme(uint32_t id, std::u32string_view extended);

    /// Gives back every attribute id (but 0) and grapheme id `usage` counts no use of, and
    /// renews the arena's identity when any was given back. Snapshot copies reclaim nothing.
    struct ReclaimResult
    {
        int attributesFreed = 0;
        uint32_t graphemesFreed = 0;
    };
    ReclaimResult reclaimUnused(const CellArenaUsage& usage);

    /// The attribute of an id; ids not given yet read as the default attribute.
    const Attribute& attribute(uint16_t id) const
    {
        return id < attributes_.size() ? attributes_[id] : attributes_[0];
    }
    /// The attribute a packed cell stands for (the implied attribute of an inline blank).
    Attribute attribute(PackedCell cell) const
    {
        if (cell.kind() == PackedCell::Kind::paletteBlank)
            return Attribute(Attribute::Color(), Attribute::Color::ansi256(cell.paletteIndex()));
        if (cell.kind() == PackedCell::Kind::trueColorBlank)
            return Attribute(Attribute::Color(),
                             Attribute::Color::trueColor(cell.red(), cell.green(), cell.blue()));
        return attribute(cell.attributeID());
    }
    /// The scalars of grapheme id `id`, or null for 0 or an id not given yet.
    const std::u32string* grapheme(uint32_t id) const;

    /// Packs a cell; nothing when it cannot be encoded (negative, out-of-range or surrogate code,
    /// width state above 3). A full attribute table packs with id 0; a cluster that cannot be
    /// interned is stored as its first valid scalar (or U+FFFD).
    std::optional<PackedCell> pack(const CharData& data);
    /// Packs a cell from its parts, the content given as a character.
    std::optional<PackedCell> pack(const Attribute& attribute, const Character& character,
                                   WidthState widthState, uint16_t payloadCode, uint8_t semanticContentCode,
                                   bool isProtected);
    /// Packs a cell whose attribute id `styleID` the caller has interned already.
    std::optional<PackedCell> pack(uint16_t styleID, const Character& character, WidthState widthState,
                                   uint16_t payloadCode, uint8_t semanticContentCode, bool isProtected)
    {
        return pack(styleID, std::u32string_view(character.scalars), widthState, payloadCode,
                    semanticContentCode, isProtected);
    }
    /// The same from a scalar list; every scalar must be below 0x110000 and not a surrogate.
    std::optional<PackedCell> pack(uint16_t styleID, std::u32string_view scalars, WidthState widthState,
                                   uint16_t payloadCode, uint8_t semanticContentCode, bool isProtected);

    /// Decodes a packed cell. A kind-2 cell with bits 10-25 set stops the program.
    CharData unpack(PackedCell cell) const;

    /// The scalars of a cell: its one scalar for kind 0 (0 included), the cluster for kind 1
    /// (empty for an unknown id), nothing for the inline blanks.
    std::u32string scalarValues(PackedCell cell) const;
    /// The same with `scalar` appended; the print path uses it to add a combining mark.
    std::u32string scalarValues(PackedCell cell, char32_t appending) const;
    /// The cell's text as UTF-8: U+0000 for empty cells and inline blanks, a space for content
    /// that is not valid.
    std::string text(PackedCell cell) const;

    /// `cell` with new content and width state, keeping its attribute, payload, protection and
    /// semantic code. Nothing on a semantic code above 6, an empty list or an invalid scalar.
    std::optional<PackedCell> replacingContent(PackedCell cell, std::u32string_view scalars,
                                               WidthState widthState);

    /// The blank an erase with `attribute` leaves: inline for a plain palette or true-colour
    /// background, otherwise scalar 0 with the interned id (0 when the table is full).
    PackedCell canonicalBlank(const Attribute& attribute);

    /// Whether this snapshot copy reads cells packed against `source` unchanged.
    bool preservesEncoding(const CellArena& source) const;
    /// Appends to this snapshot copy what `source` gained since; false when it cannot.
    bool synchronizeSnapshotPrefix(const CellArena& source);

private:
    using GraphemeBlock = std::array<std::u32string, graphemeBlockSize>;

    /// A multiply-xor-multiply mix of both words; products wrap modulo 2^64.
    static uint64_t keyHash(InternedAttributeKey key)
    {
        return ((key.word1 * 0x9E3779B97F4A7C15ull) ^ key.word0) * 0xBF58476D1CE4E5B9ull;
    }
    /// The cache slot: the top 13 bits of the mix.
    static size_t cacheSlot(InternedAttributeKey key) { return static_cast<size_t>(keyHash(key) >> 51); }
    static_assert(attributeCacheSize == 1 << 13);
    static uint64_t graphemeHash(std::u32string_view scalars);

    std::optional<uint16_t> internSlow(InternedAttributeKey key);
    /// The cache set of a cluster of two or three scalars, and its `key` there; null for other
    /// lengths, for values a key cannot hold, for a snapshot copy (whose lists its source edits)
    /// and before the cache is made.
    ClusterCacheSet* clusterCacheSet(std::u32string_view scalars, uint64_t& key) const
    {
        if (scalars.size() - 2 > 1 || !clusterCache_)
            return nullptr;
        // Two or three scalars: the last is read either way and kept only for three.
        const char32_t last = scalars.back();
        const bool three = scalars.size() == 3;
        // A key has 21 bits a scalar and all ones for a missing third: lists of values that do
        // not fit below that (which no text has) are left to the map, lest two share a key.
        if ((scalars[0] | scalars[1] | (three ? last : 0)) >= ClusterCacheSet::noScalar)
            return nullptr;
        key = ClusterCacheSet::key(scalars[0], scalars[1], three ? last : ClusterCacheSet::noScalar);
        return &clusterCache_[clusterCacheSetIndex(key)];
    }
    /// The set of a key: its product with one odd constant, whose top bits depend on every bit
    /// of the key.
    static size_t clusterCacheSetIndex(uint64_t key)
    {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - clusterCacheSetBits));
    }
    /// The slot of a cluster of four to seven scalars in the cache for them, and the scalars as
    /// a slot holds them; null for other lengths and before the cache is made.
    LongClusterCacheEntry*
    longClusterCacheSlot(std::u32string_view scalars,
                         std::array<char32_t, LongClusterCacheEntry::longest>& padded) const;
    uint32_t internClusterSlow(std::u32string_view grapheme);
    /// Forgets the cached id of cluster `id`, whose list `scalars` is about to change.
    void forgetCachedCluster(uint32_t id, std::u32string_view scalars);
    void storeInCache(InternedAttributeKey key, uint16_t id);
    PackedCell packScalarOrFallback(std::u32string_view scalars, uint16_t styleID, WidthState widthState,
                                    uint16_t payloadCode, uint8_t semanticCode, bool isProtected);

    /// A process-wide counter: an identity is never given twice, renewed ones included.
    static uint64_t nextIdentity();
    void rebuildAttributeIndex();
    void rebuildGraphemeIndex();
    std::u32string& graphemeSlot(uint32_t id)
    {
        return (*graphemeBlocks_[(id - 1) / graphemeBlockSize])[(id - 1) % graphemeBlockSize];
    }

    uint64_t identity_;
    int attributeCapacity_;
    // Entry i is the attribute of id i; it grows as ids are given instead of being allocated at
    // full capacity, so a stand-alone line's arena stays small.
    std::vector<Attribute> attributes_;
    // The key of each id, beside its attribute, for the index to compare against.
    std::vector<InternedAttributeKey> attributeKeys_;
    // The attribute map: key to id, as the id plus one.
    InternTable attributeIdentifiers_{17};
    // Blocks of 256 clusters, allocated as ids reach them; the table grows with the blocks
    // instead of being sized for the whole capacity up front.
    std::vector<std::unique_ptr<GraphemeBlock>> graphemeBlocks_;
    int graphemeCapacity_;
    uint32_t graphemeCount_ = 0;
    // The cluster map: scalar list to id, the lists being those of the blocks.
    InternTable graphemeIdentifiers_{24};
    // Made on the first miss, so arenas that only ever see the default attribute stay small.
    std::unique_ptr<AttributeCacheEntry[]> attributeCache_;
    // The short clusters real text repeats (a letter with one or two marks, an emoji with a skin
    // tone, a conjunct) are found here with one read instead of a probe of the map and a compare
    // against the list it names; made on the first cluster interned.
    std::unique_ptr<ClusterCacheSet[]> clusterCache_;
    // The same for the longer clusters a family of emoji or a stack of marks makes; made with
    // the cache above.
    std::unique_ptr<LongClusterCacheEntry[]> longClusterCache_;
    /// Records that the entry of an id below the counts was written again (a freed id given
    /// anew, a cluster grown in place), for snapshot copies to take over.
    void logEdit(uint32_t entry);
    static constexpr uint32_t attributeEditBit = 0x80000000u;
    static constexpr size_t editLogLimit = 4096;

    // Ids given back by a reclaim (or a cluster that grew into one already known), given again
    // before the tables grow.
    std::vector<uint16_t> freeAttributeIDs_;
    std::vector<uint32_t> freeGraphemeIDs_;
    uint32_t lastCreatedGrapheme_ = 0;
    // The entries written again since the arena's identity was last renewed, as attribute ids
    // (with `attributeEditBit`) and grapheme ids; only the latest `editLogLimit` are kept, the
    // edits before them being counted in `editLogStart_`. A snapshot copy remembers how many of
    // its source's edits it has taken over (`sourceEditsSeen_`); one that fell behind the log is
    // made again.
    std::vector<uint32_t> editLog_;
    uint64_t editLogStart_ = 0;
    uint64_t sourceEditsSeen_ = 0;
    std::optional<uint64_t> snapshotSourceIdentity_;
    bool isSnapshotCopy_ = false;
};

/// One packed cell together with the arena it was packed against, for reading its scalars
/// without unpacking the whole cell.
struct PackedCellView
{
    PackedCell cell;
    const CellArena* arena = nullptr;

    std::u32string getScalarValues(char32_t appending) const { return arena->scalarValues(cell, appending); }
};

} // namespace kestrovan
