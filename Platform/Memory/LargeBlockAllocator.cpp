#include "Platform/Memory/LargeBlockAllocator.h"

#include <cstdlib>
#include <sys/mman.h>

namespace platform {

void* allocateLargeBlock(size_t bytes)
{
    const size_t rounded = (bytes + hugePageSize - 1) / hugePageSize * hugePageSize;
    void* block = std::aligned_alloc(hugePageSize, rounded);
    if (block == nullptr)
        throw std::bad_alloc();
    // Only advice: where the kernel keeps huge pages off, the block is ordinary memory.
    madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

void releaseLargeBlock(void* block)
{
    std::free(block);
}

} // namespace platform
