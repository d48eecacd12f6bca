#include "Kestrovan/CellArena.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace kestrovan {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

bool isValidCodeValue(uint32_t value)
{
    return isValidScalar(static_cast<char32_t>(value));
}

bool allValid(std::u32string_view scalars)
{
    return std::all_of(scalars.begin(), scalars.end(), [](char32_t s) { return isValidScalar(s); });
}

// The scalar a cluster falls back to when it cannot be interned: its first valid scalar.
char32_t firstValidScalar(std::u32string_view scalars)
{
    for (char32_t scalar : scalars) {
        if (isValidScalar(scalar))
            return scalar;
    }
    return replacementCharacter;
}

uint8_t storedSemanticCode(uint8_t code)
{
    return code >= 1 && code <= 6 ? code : 0;
}

} // namespace

uint64_t CellArena::nextIdentity()
{
    // Addresses are reused once an arena goes, so identity is a process-wide counter.
    static std::atomic<uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

CellArena::CellArena(int styleCapacity, int graphemeCapacity)
    : identity_(nextIdentity()), attributeCapacity_(std::clamp(styleCapacity, 0, 65535)),
      graphemeCapacity_(std::clamp(graphemeCapacity, 0, maximumGraphemeCapacity))
{
    attributes_.emplace_back();
    attributeKeys_.emplace_back();
    attributeIdentifiers_.insert(keyHash(InternedAttributeKey{}), 1, [](uint32_t) { return uint64_t(0); });
}

CellArena::CellArena(SnapshotTag, const CellArena& source)
    : identity_(nextIdentity()), attributeCapacity_(source.attributeCapacity_),
      attributes_(source.attributes_), graphemeCapacity_(source.graphemeCapacity_),
      graphemeCount_(source.graphemeCount_), sourceEditsSeen_(source.editCount()),
      snapshotSourceIdentity_(source.identity_), isSnapshotCopy_(true)
{
    // A copy gives no new ids, so it needs neither the source's key map nor its cluster map;
    // the default key stays so that interning the default attribute still answers 0.
    attributeKeys_.emplace_back();
    attributeIdentifiers_.insert(keyHash(InternedAttributeKey{}), 1, [](uint32_t) { return uint64_t(0); });
    graphemeBlocks_.reserve(source.graphemeBlocks_.size());
    for (const auto& block : source.graphemeBlocks_)
        graphemeBlocks_.push_back(block ? std::make_unique<GraphemeBlock>(*block) : nullptr);
}

// The cache missed: consult the map, and give a new id when the attribute is new. Both roads
// refresh the cache slot, so the next lookup of this attribute is a hit.
std::optional<uint16_t> CellArena::internSlow(InternedAttributeKey key)
{
    const uint64_t hash = keyHash(key);
    const uint32_t found = attributeIdentifiers_.find(
        hash, [&](uint32_t idPlusOne) { return attributeKeys_[idPlusOne - 1] == key; });
    if (found != 0) {
        const auto id = static_cast<uint16_t>(found - 1);
        storeInCache(key, id);
        return id;
    }
    if (isSnapshotCopy_ || attributeTableFull())
        return std::nullopt;
    // A freed id is given again before the table grows.
    uint16_t id;
    if (!freeAttributeIDs_.empty()) {
        id = freeAttributeIDs_.back();
        freeAttributeIDs_.pop_back();
        attributes_[id] = key.attribute();
        attributeKeys_[id] = key;
        logEdit(attributeEditBit | id);
    } else {
        id = static_cast<uint16_t>(attributes_.size());
        attributes_.push_back(key.attribute());
        attributeKeys_.push_back(key);
    }
    attributeIdentifiers_.insert(hash, uint32_t(id) + 1, [this](uint32_t idPlusOne) {
        return keyHash(attributeKeys_[idPlusOne - 1]);
    });
    storeInCache(key, id);
    return id;
}

void CellArena::storeInCache(InternedAttributeKey key, uint16_t id)
{
    if (!attributeCache_)
        attributeCache_ = std::make_unique<AttributeCacheEntry[]>(attributeCacheSize);
    if (key.word1 > AttributeCacheEntry::largestWord1)
        return;
    attributeCache_[cacheSlot(key)] =
        AttributeCacheEntry{key.word0, key.word1 << AttributeCacheEntry::identifierBits | (uint64_t(id) + 1)};
}

uint64_t CellArena::graphemeHash(std::u32string_view scalars)
{
    // Clusters are a few scalars long: fold each in with a multiply, then mix the high bits,
    // which pick the slot, with the rest.
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ scalars.size();
    for (const char32_t scalar : scalars)
        hash = (hash ^ scalar) * 0xBF58476D1CE4E5B9ull;
    hash ^= hash >> 31;
    return hash * 0x94D049BB133111EBull;
}

void CellArena::forgetCachedCluster(uint32_t id, std::u32string_view scalars)
{
    uint64_t key;
    if (ClusterCacheSet* set = clusterCacheSet(scalars, key)) {
        for (int way = 0; way < ClusterCacheSet::ways; ++way) {
            if (set->ids[way] == id) {
                set->keys[way] = ClusterCacheSet::emptyKey;
                set->ids[way] = 0;
            }
        }
    }
    std::array<char32_t, LongClusterCacheEntry::longest> padded;
    if (LongClusterCacheEntry* entry = longClusterCacheSlot(scalars, padded); entry && entry->id == id)
        entry->id = 0;
}

LongClusterCacheEntry*
CellArena::longClusterCacheSlot(std::u32string_view scalars,
                                std::array<char32_t, LongClusterCacheEntry::longest>& padded) const
{
    if (scalars.size() - LongClusterCacheEntry::shortest >
            LongClusterCacheEntry::longest - LongClusterCacheEntry::shortest ||
        !longClusterCache_)
        return nullptr;
    padded.fill(LongClusterCacheEntry::noScalar);
    uint64_t mix = scalars.size();
    for (size_t index = 0; index < scalars.size(); ++index) {
        padded[index] = scalars[index];
        mix = (mix ^ scalars[index]) * 0x9E3779B97F4A7C15ull;
    }
    // The top bits, which every scalar's multiply reaches, pick the slot.
    return &longClusterCache_[mix >> (64 - std::countr_zero(unsigned(longClusterCacheSize)))];
}

// The cache missed (or there is none yet): consult the map, and give a new id when the list is
// new. Both roads fill the cache slot of a short list.
uint32_t CellArena::internClusterSlow(std::u32string_view grapheme)
{
    lastCreatedGrapheme_ = 0;
    if (!clusterCache_ && !isSnapshotCopy_) {
        clusterCache_ = std::make_unique<ClusterCacheSet[]>(clusterCacheSets);
        longClusterCache_ = std::make_unique<LongClusterCacheEntry[]>(longClusterCacheSize);
    }
    uint64_t key = 0;
    ClusterCacheSet* const cached = clusterCacheSet(grapheme, key);
    std::array<char32_t, LongClusterCacheEntry::longest> padded;
    LongClusterCacheEntry* const cachedLong = longClusterCacheSlot(grapheme, padded);
    if (cachedLong && cachedLong->id != 0 && cachedLong->scalars == padded)
        return cachedLong->id;
    const auto remember = [&](uint32_t id) {
        if (cached) {
            // The newest cluster takes the first slot, the others move down one, and the one in
            // the last, filled longest ago, is forgotten.
            std::copy_backward(cached->keys.begin(), cached->keys.end() - 1, cached->keys.end());
            std::copy_backward(cached->ids.begin(), cached->ids.end() - 1, cached->ids.end());
            cached->keys[0] = key;
            cached->ids[0] = id;
        } else if (cachedLong) {
            cachedLong->scalars = padded;
            cachedLong->id = id;
        }
    };
    const uint64_t hash = graphemeHash(grapheme);
    const uint32_t found =
        graphemeIdentifiers_.find(hash, [&](uint32_t id) { return *this->grapheme(id) == grapheme; });
    if (found != 0) {
        remember(found);
        return found;
    }
    if (isSnapshotCopy_ || grapheme.empty() || graphemeTableFull())
        return 0;
    uint32_t id;
    if (!freeGraphemeIDs_.empty()) {
        id = freeGraphemeIDs_.back();
        freeGraphemeIDs_.pop_back();
        logEdit(id);
    } else {
        const uint32_t index = graphemeCount_;
        id = index + 1;
        const size_t block = index / graphemeBlockSize;
        if (graphemeBlocks_.size() <= block)
            graphemeBlocks_.resize(block + 1);
        if (!graphemeBlocks_[block])
            graphemeBlocks_[block] = std::make_unique<GraphemeBlock>();
        graphemeCount_ = id;
    }
    graphemeSlot(id) = grapheme;
    graphemeIdentifiers_.insert(hash, id,
                                [this](uint32_t known) { return graphemeHash(*this->grapheme(known)); });
    lastCreatedGrapheme_ = id;
    remember(id);
    return id;
}

const std::u32string* CellArena::grapheme(uint32_t id) const
{
    if (id == 0 || id > graphemeCount_)
        return nullptr;
    const uint32_t index = id - 1;
    const size_t block = index / graphemeBlockSize;
    // Every id handed out has its block; a missing one means the tables were corrupted.
    KESTROVAN_ASSERT(block < graphemeBlocks_.size() && graphemeBlocks_[block],
                     "CellArena: grapheme id without an allocated block");
    return &(*graphemeBlocks_[block])[index % graphemeBlockSize];
}

PackedCell CellArena::packScalarOrFallback(std::u32string_view scalars, uint16_t styleID,
                                           WidthState widthState, uint16_t payloadCode, uint8_t semanticCode,
                                           bool isProtected)
{
    if (const uint32_t id = internCluster(scalars)) {
        // Ids stay within 24 bits because the capacity is clamped to 0xFFFFFF.
        return PackedCell::makeGrapheme(id, styleID, widthState, isProtected, payloadCode, semanticCode);
    }
    return PackedCell::makeScalar(firstValidScalar(scalars), styleID, widthState, isProtected, payloadCode,
                                  semanticCode);
}

std::optional<PackedCell> CellArena::pack(const CharData& data)
{
    // Out-of-range semantic codes are stored as none rather than refused: the code is advisory,
    // while a refused cell would stop the caller.
    if (data.widthStateCode > 3 || data.code < 0)
        return std::nullopt;
    const auto widthState = static_cast<WidthState>(data.widthStateCode);
    const uint8_t semantic = storedSemanticCode(data.semanticContentCode);
    if (!data.graphemeScalarValues) {
        if (!isValidCodeValue(static_cast<uint32_t>(data.code)))
            return std::nullopt;
        if (data.code == 0 && data.attribute.hasPlainForeground()) {
            const Attribute::Color background = data.attribute.bg;
            if (background.isAnsi256())
                return PackedCell::makePaletteBlank(background.code(), widthState, data.isProtected,
                                                    data.payload.code, semantic);
            if (background.isTrueColor())
                return PackedCell::makeTrueColorBlank(background.red(), background.green(), background.blue(),
                                                      widthState, data.isProtected, data.payload.code,
                                                      semantic);
        }
        // A full attribute table keeps the character and falls back to the default look.
        const uint16_t styleID = intern(data.attribute).value_or(0);
        return PackedCell::makeScalar(static_cast<uint32_t>(data.code), styleID, widthState, data.isProtected,
                                      data.payload.code, semantic);
    }
    const uint16_t styleID = intern(data.attribute).value_or(0);
    return packScalarOrFallback(*data.graphemeScalarValues, styleID, widthState, data.payload.code, semantic,
                                data.isProtected);
}

std::optional<PackedCell> CellArena::pack(const Attribute& attribute, const Character& character,
                                          WidthState widthState, uint16_t payloadCode,
                                          uint8_t semanticContentCode, bool isProtected)
{
    const std::u32string& scalars = character.scalars;
    if (semanticContentCode > 6 || scalars.empty() || !allValid(scalars))
        return std::nullopt;
    if (scalars.size() == 1) {
        const char32_t scalar = scalars.front();
        if (scalar == 0 && attribute.hasPlainForeground()) {
            if (attribute.bg.isAnsi256())
                return PackedCell::makePaletteBlank(attribute.bg.code(), widthState, isProtected, payloadCode,
                                                    semanticContentCode);
            if (attribute.bg.isTrueColor())
                return PackedCell::makeTrueColorBlank(attribute.bg.red(), attribute.bg.green(),
                                                      attribute.bg.blue(), widthState, isProtected,
                                                      payloadCode, semanticContentCode);
        }
        return PackedCell::makeScalar(scalar, intern(attribute).value_or(0), widthState, isProtected,
                                      payloadCode, semanticContentCode);
    }
    return packScalarOrFallback(scalars, intern(attribute).value_or(0), widthState, payloadCode,
                                semanticContentCode, isProtected);
}

// The print path's form: the attribute id was resolved once per SGR change, so no attribute
// lookup happens here; only a cluster of several scalars touches the arena.
std::optional<PackedCell> CellArena::pack(uint16_t styleID, std::u32string_view scalars,
                                          WidthState widthState, uint16_t payloadCode,
                                          uint8_t semanticContentCode, bool isProtected)
{
    if (semanticContentCode > 6 || scalars.empty() || !allValid(scalars))
        return std::nullopt;
    if (scalars.size() == 1)
        return PackedCell::makeScalar(scalars.front(), styleID, widthState, isProtected, payloadCode,
                                      semanticContentCode);
    return packScalarOrFallback(scalars, styleID, widthState, payloadCode, semanticContentCode, isProtected);
}

CharData CellArena::unpack(PackedCell cell) const
{
    // Unpacking is total: unknown ids decode to the default attribute or to no cluster, so a
    // reader holding a stale snapshot arena still gets a drawable cell.
    CharData data;
    switch (cell.kind()) {
    case PackedCell::Kind::paletteBlank:
        KESTROVAN_ASSERT((cell.rawValue & PackedCell::paletteHighMask) == 0,
                         "CellArena: palette blank with stray content bits");
        data.attribute = attribute(cell);
        break;
    case PackedCell::Kind::trueColorBlank:
        data.attribute = attribute(cell);
        break;
    case PackedCell::Kind::grapheme:
        if (const std::u32string* scalars = grapheme(cell.content())) {
            data.code = scalars->empty() ? 0 : static_cast<int32_t>(scalars->front());
            data.graphemeScalarValues = *scalars;
        }
        data.attribute = attribute(cell.attributeID());
        break;
    case PackedCell::Kind::scalar:
        data.code = static_cast<int32_t>(cell.content());
        data.attribute = attribute(cell.attributeID());
        break;
    }
    data.width = static_cast<int8_t>(cell.width());
    data.widthStateCode = cell.widthStateCode();
    data.payload = TinyAtom{cell.payloadCode()};
    data.semanticContentCode = storedSemanticCode(cell.semanticCode());
    data.isProtected = cell.isProtected();
    return data;
}

std::u32string CellArena::scalarValues(PackedCell cell) const
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return std::u32string(1, static_cast<char32_t>(cell.content()));
    case PackedCell::Kind::grapheme:
        if (const std::u32string* scalars = grapheme(cell.content()))
            return *scalars;
        return {};
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return {};
}

std::u32string CellArena::scalarValues(PackedCell cell, char32_t appending) const
{
    std::u32string scalars = scalarValues(cell);
    scalars.push_back(appending);
    return scalars;
}

std::string CellArena::text(PackedCell cell) const
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar: {
        const uint32_t value = cell.content();
        if (!isValidCodeValue(value))
            return " ";
        std::string out;
        appendUtf8(out, static_cast<char32_t>(value));
        return out;
    }
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = grapheme(cell.content());
        if (!scalars || scalars->empty() || !allValid(*scalars))
            return " ";
        return utf8String(*scalars);
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return std::string(1, '\0');
}

// Used when a combining mark joins a cell or a selective erase clears one: the content changes,
// everything that is not content stays.
std::optional<PackedCell> CellArena::replacingContent(PackedCell cell, std::u32string_view scalars,
                                                      WidthState widthState)
{
    if (cell.semanticCode() > 6 || scalars.empty() || !allValid(scalars))
        return std::nullopt;
    // An inline blank has no attribute id; its implied attribute has to be interned first.
    const uint16_t styleID = cell.isBlankKind() ? intern(attribute(cell)).value_or(0) : cell.attributeID();
    return pack(styleID, scalars, widthState, cell.payloadCode(), cell.semanticCode(), cell.isProtected());
}

PackedCell CellArena::canonicalBlank(const Attribute& attribute)
{
    if (attribute.hasPlainForeground()) {
        if (attribute.bg.isAnsi256())
            return PackedCell::makePaletteBlank(attribute.bg.code(), WidthState::single, false, 0, 0);
        if (attribute.bg.isTrueColor())
            return PackedCell::makeTrueColorBlank(attribute.bg.red(), attribute.bg.green(),
                                                  attribute.bg.blue(), WidthState::single, false, 0, 0);
    }
    return PackedCell::makeScalar(0, intern(attribute).value_or(0), WidthState::single, false, 0, 0);
}

bool CellArena::preservesEncoding(const CellArena& source) const
{
    return isSnapshotCopy_ && snapshotSourceIdentity_ == source.identity_ &&
           attributeCount() >= source.attributeCount() && graphemeCount_ >= source.graphemeCount_ &&
           sourceEditsSeen_ == source.editCount();
}

bool CellArena::synchronizeSnapshotPrefix(const CellArena& source)
{
    // Under one identity the source's tables are this copy's tables plus a suffix, with the
    // entries its edit log names written again; taking both over makes the copy decode every
    // source cell exactly. A reclaim renews the identity, and a copy that fell behind the log
    // cannot know every edit: both are made again.
    if (!isSnapshotCopy_ || snapshotSourceIdentity_ != source.identity_ ||
        sourceEditsSeen_ < source.editLogStart_)
        return false;
    // A copy ahead of its source means the source is older than the copy: nothing to merge.
    if (attributeCount() > source.attributeCount() || graphemeCount_ > source.graphemeCount_)
        return false;
    if (source.attributeCount() > attributeCapacity_ + 1 ||
        source.graphemeCount_ > static_cast<uint32_t>(graphemeCapacity_))
        return false;
    attributes_.insert(attributes_.end(), source.attributes_.begin() + attributeCount(),
                       source.attributes_.end());
    for (uint32_t index = graphemeCount_; index < source.graphemeCount_; ++index) {
        const size_t block = index / graphemeBlockSize;
        if (graphemeBlocks_.size() <= block)
            graphemeBlocks_.resize(block + 1);
        if (!graphemeBlocks_[block])
            graphemeBlocks_[block] = std::make_unique<GraphemeBlock>();
        (*graphemeBlocks_[block])[index % graphemeBlockSize] =
            (*source.graphemeBlocks_[block])[index % graphemeBlockSize];
    }
    graphemeCount_ = source.graphemeCount_;
    for (size_t index = sourceEditsSeen_ - source.editLogStart_; index < source.editLog_.size(); ++index) {
        const uint32_t entry = source.editLog_[index];
        if (entry & attributeEditBit) {
            const uint32_t id = entry & ~attributeEditBit;
            attributes_[id] = source.attributes_[id];
        } else {
            const size_t block = (entry - 1) / graphemeBlockSize;
            if (graphemeBlocks_.size() <= block)
                graphemeBlocks_.resize(block + 1);
            if (!graphemeBlocks_[block])
                graphemeBlocks_[block] = std::make_unique<GraphemeBlock>();
            graphemeSlot(entry) = *source.grapheme(entry);
        }
    }
    sourceEditsSeen_ = source.editCount();
    return true;
}

void CellArena::logEdit(uint32_t entry)
{
    // Dropping the older half keeps the log's cost per edit constant.
    if (editLog_.size() >= editLogLimit) {
        const size_t dropped = editLog_.size() / 2;
        editLog_.erase(editLog_.begin(), editLog_.begin() + static_cast<std::ptrdiff_t>(dropped));
        editLogStart_ += dropped;
    }
    editLog_.push_back(entry);
}

} // namespace kestrovan
