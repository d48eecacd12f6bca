#include "Platform/Memory/LargeBlockAllocator.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using platform::LargeBlockAllocator;

// A table grown past the threshold moves to a block aligned to a huge page and keeps its
// entries; smaller tables stay ordinary heap blocks.
TEST(LargeBlockAllocator, LargeTablesAreHugePageAlignedAndKeepTheirEntries)
{
    struct Case
    {
        size_t entries;
        bool hugePageAligned;
    };
    constexpr size_t threshold = platform::largeBlockThreshold / sizeof(uint32_t);
    const Case cases[] = {{1, false}, {threshold - 1, false}, {threshold, true}, {3 * threshold + 5, true}};
    for (const Case& c : cases) {
        std::vector<uint32_t, LargeBlockAllocator<uint32_t>> table;
        // Grown one entry at a time, so that every block on the way is taken and released.
        for (size_t i = 0; i < c.entries; ++i)
            table.push_back(uint32_t(i * 2654435761u));
        table.shrink_to_fit();
        const bool aligned = reinterpret_cast<uintptr_t>(table.data()) % platform::hugePageSize == 0;
        if (c.hugePageAligned)
            EXPECT_TRUE(aligned) << c.entries << " entries";
        size_t wrong = 0;
        for (size_t i = 0; i < c.entries; ++i)
            wrong += table[i] != uint32_t(i * 2654435761u);
        EXPECT_EQ(wrong, 0u) << c.entries << " entries";
    }
}

TEST(LargeBlockAllocator, BlocksAreWholeHugePagesThatCanBeWrittenToTheEnd)
{
    for (const size_t bytes :
         {size_t(1), platform::hugePageSize - 1, platform::hugePageSize, platform::hugePageSize + 1}) {
        auto* block = static_cast<unsigned char*>(platform::allocateLargeBlock(bytes));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % platform::hugePageSize, 0u) << bytes;
        // Rounded up to whole huge pages: the last byte of the last page is the caller's.
        const size_t rounded =
            (bytes + platform::hugePageSize - 1) / platform::hugePageSize * platform::hugePageSize;
        block[0] = 1;
        block[rounded - 1] = 2;
        EXPECT_EQ(block[0] + block[rounded - 1], 3) << bytes;
        platform::releaseLargeBlock(block);
    }
}
