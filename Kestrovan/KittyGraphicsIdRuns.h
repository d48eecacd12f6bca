// The image ids a screen uses, kept as runs of consecutive ids, so that the first free id at or
// after any id is found in logarithmic time however the ids were taken and given back.
//
// Transmissions by image number take the smallest free id from 1, and those without an id take
// the next free one after a counter. Walking the used ids one by one would make a flood of such
// transmissions cost the square of its length; a run of used ids is stepped over at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace kestrovan {

class KittyImageIdRuns
{
public:
    /// Marks an id as used (no effect when it is).
    void insert(uint32_t id);
    /// Marks an id as free (no effect when it is).
    void erase(uint32_t id);
    bool contains(uint32_t id) const;
    /// The first id at or after `from` that is not used, counting up, wrapping from the largest id
    /// to 1 and never giving 0; `from` itself when every id is used.
    uint32_t firstFreeFrom(uint32_t from) const;
    /// How many runs the used ids form.
    size_t runCount() const { return runs_.size(); }
    void clear() { runs_.clear(); }

private:
    /// The run holding `id`, or end().
    std::map<uint32_t, uint32_t>::const_iterator runHolding(uint32_t id) const;

    /// First id of each run to its last id; runs neither overlap nor touch.
    std::map<uint32_t, uint32_t> runs_;
};

} // namespace kestrovan
