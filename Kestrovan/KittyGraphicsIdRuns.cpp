// Runs of used image ids, joined and split as ids are taken and given back.
#include "Kestrovan/KittyGraphicsIdRuns.h"

namespace kestrovan {

std::map<uint32_t, uint32_t>::const_iterator KittyImageIdRuns::runHolding(uint32_t id) const
{
    auto after = runs_.upper_bound(id);
    if (after == runs_.begin())
        return runs_.end();
    const auto run = std::prev(after);
    return run->second >= id ? run : runs_.end();
}

bool KittyImageIdRuns::contains(uint32_t id) const
{
    return runHolding(id) != runs_.end();
}

void KittyImageIdRuns::insert(uint32_t id)
{
    if (contains(id))
        return;
    uint32_t first = id;
    uint32_t last = id;
    // Join the run ending just below and the run starting just above.
    if (id > 0) {
        if (const auto below = runHolding(id - 1); below != runs_.end()) {
            first = below->first;
            runs_.erase(below);
        }
    }
    if (id < UINT32_MAX) {
        if (const auto above = runs_.find(id + 1); above != runs_.end()) {
            last = above->second;
            runs_.erase(above);
        }
    }
    runs_.emplace(first, last);
}

void KittyImageIdRuns::erase(uint32_t id)
{
    const auto run = runHolding(id);
    if (run == runs_.end())
        return;
    const uint32_t first = run->first;
    const uint32_t last = run->second;
    runs_.erase(run);
    if (first < id)
        runs_.emplace(first, id - 1);
    if (id < last)
        runs_.emplace(id + 1, last);
}

uint32_t KittyImageIdRuns::firstFreeFrom(uint32_t from) const
{
    uint32_t id = from == 0 ? 1 : from;
    // At most two runs are stepped over: the one holding `id`, and after wrapping the one from 1.
    for (int step = 0; step < 3; ++step) {
        const auto run = runHolding(id);
        if (run == runs_.end())
            return id;
        if (run->second == UINT32_MAX) {
            id = 1;
            continue;
        }
        id = run->second + 1;
    }
    // Every id is used.
    return from;
}

} // namespace kestrovan
