// Giving arena ids back: counting the ids cells use, freeing the rest, and growing a cluster in
// place. Kept apart from interning, which the print path runs on every cell.
#include "Kestrovan/CellArena.h"

#include <algorithm>

namespace kestrovan {

// One counter per id given so far: ids above the counts cannot be in any cell, and a cell naming
// one (which no arena makes) is simply not counted.
CellArenaUsage::CellArenaUsage(const CellArena& arena)
    : attributeUses(static_cast<size_t>(arena.attributeCount()), 0),
      graphemeUses(arena.graphemeCount() + 1, 0)
{}

// Growing in place moves the id from its old key to the new one in the index, and logs the edit
// so a snapshot copy holding the old list takes the new one over.
std::optional<uint32_t> CellArena::extendGrapheme(uint32_t id, std::u32string_view extended)
{
    if (isSnapshotCopy_ || extended.empty() || grapheme(id) == nullptr)
        return std::nullopt;
    const auto hashOfID = [this](uint32_t known) { return graphemeHash(*this->grapheme(known)); };
    const uint64_t hash = graphemeHash(extended);
    const uint32_t known = graphemeIdentifiers_.find(
        hash, [&](uint32_t candidate) { return *this->grapheme(candidate) == extended; });
    lastCreatedGrapheme_ = 0;
    // The longer cluster is already named: the cell takes that id, and this one keeps its list,
    // found again by the next cell that grows the same way (a reclaim frees it if none does).
    if (known != 0)
        return known;
    std::u32string& slot = graphemeSlot(id);
    forgetCachedCluster(id, slot);
    graphemeIdentifiers_.remove(graphemeHash(slot), id, hashOfID);
    slot.assign(extended);
    graphemeIdentifiers_.insert(hash, id, hashOfID);
    logEdit(id);
    return id;
}

// Freed ids keep their slots: entry i stays the entry of id i, so cells packed before the
// reclaim decode as they did. A freed attribute reads as the default and a freed cluster as an
// empty list until the id is given again.
CellArena::ReclaimResult CellArena::reclaimUnused(const CellArenaUsage& usage)
{
    ReclaimResult result;
    if (isSnapshotCopy_)
        return result;
    // Free lists are rebuilt from scratch: an id already free has no use either.
    freeAttributeIDs_.clear();
    for (size_t id = attributes_.size(); id-- > 1;) {
        if (id < usage.attributeUses.size() && usage.attributeUses[id] != 0)
            continue;
        if (!(attributeKeys_[id] == InternedAttributeKey{}))
            ++result.attributesFreed;
        attributes_[id] = Attribute();
        attributeKeys_[id] = InternedAttributeKey{};
        freeAttributeIDs_.push_back(static_cast<uint16_t>(id));
    }
    freeGraphemeIDs_.clear();
    for (uint32_t id = graphemeCount_; id >= 1; --id) {
        if (id < usage.graphemeUses.size() && usage.graphemeUses[id] != 0)
            continue;
        std::u32string& slot = graphemeSlot(id);
        if (!slot.empty())
            ++result.graphemesFreed;
        std::u32string().swap(slot);
        freeGraphemeIDs_.push_back(id);
    }
    // The lists are built from the top down, so the lowest ids are given first.
    lastCreatedGrapheme_ = 0;
    if (result.attributesFreed == 0 && result.graphemesFreed == 0)
        return result;
    rebuildAttributeIndex();
    rebuildGraphemeIndex();
    if (attributeCache_)
        std::fill_n(attributeCache_.get(), attributeCacheSize, AttributeCacheEntry{});
    if (clusterCache_)
        std::fill_n(clusterCache_.get(), clusterCacheSets, ClusterCacheSet{});
    if (longClusterCache_)
        std::fill_n(longClusterCache_.get(), longClusterCacheSize, LongClusterCacheEntry{});
    // Snapshot copies must not take the reused ids for their old meaning: with a new identity
    // they cannot be extended as a prefix any more and are made again.
    identity_ = nextIdentity();
    editLog_.clear();
    editLogStart_ = 0;
    return result;
}

// The index cannot drop entries it does not know are gone, so after a reclaim it is built again
// from the ids still in use; a freed id has the default key, which only id 0 is indexed under.
void CellArena::rebuildAttributeIndex()
{
    attributeIdentifiers_.clear();
    const auto hashOfID = [this](uint32_t idPlusOne) { return keyHash(attributeKeys_[idPlusOne - 1]); };
    attributeIdentifiers_.insert(keyHash(InternedAttributeKey{}), 1, hashOfID);
    for (size_t id = 1; id < attributeKeys_.size(); ++id) {
        if (!(attributeKeys_[id] == InternedAttributeKey{}))
            attributeIdentifiers_.insert(keyHash(attributeKeys_[id]), uint32_t(id) + 1, hashOfID);
    }
}

// Free cluster slots are empty lists, which are never indexed (an empty list gets no id).
void CellArena::rebuildGraphemeIndex()
{
    graphemeIdentifiers_.clear();
    const auto hashOfID = [this](uint32_t known) { return graphemeHash(*this->grapheme(known)); };
    for (uint32_t id = 1; id <= graphemeCount_; ++id) {
        const std::u32string& scalars = *grapheme(id);
        if (!scalars.empty())
            graphemeIdentifiers_.insert(graphemeHash(scalars), id, hashOfID);
    }
}

} // namespace kestrovan
