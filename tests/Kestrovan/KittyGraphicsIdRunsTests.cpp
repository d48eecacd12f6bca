// The used-id runs behind image ids: the first free id found by stepping over runs must be the one
// a walk over every id finds, however ids were taken and given back, near 1 and near the top.
#include "Kestrovan/KittyGraphicsIdRuns.h"

#include <gtest/gtest.h>
#include <random>
#include <set>

namespace kestrovan {
namespace {

/// The first free id at or after `from` by walking every id, as the store once did.
uint32_t walkToFreeId(const std::set<uint32_t>& used, uint32_t from)
{
    uint32_t id = from == 0 ? 1 : from;
    for (uint64_t steps = 0; steps <= used.size() + 1; ++steps) {
        if (used.count(id) == 0)
            return id;
        id = id == UINT32_MAX ? 1 : id + 1;
    }
    return from;
}

TEST(KittyImageIdRuns, FirstFreeIdMatchesAWalkOverEveryId)
{
    struct Case
    {
        const char* name;
        uint32_t low; // ids are drawn from low ... low + span
        uint32_t span;
    };
    const Case cases[] = {
        {"small ids, dense", 1, 40},
        {"around the top, wrapping", UINT32_MAX - 30, 30},
        {"the implicit range", 0x8000'0000u - 10, 60},
    };
    for (const Case& c : cases) {
        std::mt19937 random(31);
        KittyImageIdRuns runs;
        std::set<uint32_t> used;
        for (int step = 0; step < 4000; ++step) {
            const uint32_t id = c.low + random() % (c.span + 1);
            if (random() % 3 == 0) {
                runs.erase(id);
                used.erase(id);
            } else {
                runs.insert(id);
                used.insert(id);
            }
            const uint32_t from = c.low + random() % (c.span + 1);
            ASSERT_EQ(runs.firstFreeFrom(from), walkToFreeId(used, from)) << c.name << " step " << step;
            ASSERT_EQ(runs.firstFreeFrom(1), walkToFreeId(used, 1)) << c.name << " step " << step;
            ASSERT_EQ(runs.contains(id), used.count(id) == 1) << c.name;
        }
        // Runs never touch: each is a maximal stretch of used ids.
        size_t stretches = 0;
        for (auto id = used.begin(); id != used.end(); ++id) {
            if (id == used.begin() || *std::prev(id) + 1 != *id)
                ++stretches;
        }
        EXPECT_EQ(runs.runCount(), stretches) << c.name;
    }
}

TEST(KittyImageIdRuns, ZeroIsNeverFreeAndTheSearchWrapsPastTheTop)
{
    KittyImageIdRuns runs;
    EXPECT_EQ(runs.firstFreeFrom(0), 1u) << "0 is no id";
    for (const uint32_t id : {1u, 2u, UINT32_MAX - 1, UINT32_MAX})
        runs.insert(id);
    EXPECT_EQ(runs.firstFreeFrom(UINT32_MAX - 1), 3u) << "past the top, 0 and the used 1 and 2";
    runs.erase(2);
    EXPECT_EQ(runs.firstFreeFrom(UINT32_MAX), 2u);
    EXPECT_EQ(runs.runCount(), 2u) << "1 alone, and the two at the top";
}

} // namespace
} // namespace kestrovan
