// An allocator for tables read at random over many pages, such as an index of tens of thousands
// of entries: blocks of 512 KiB and more are taken whole in 2 MiB pieces, aligned to 2 MiB, and
// the kernel is asked to back them with huge pages. A lookup into such a table then needs a
// handful of address translations instead of one for every 4 KiB page it touches; where output
// streams through more memory than the translation caches cover (a long scrollback), each
// translation otherwise costs a walk of the page tables. Smaller blocks come from `operator new`.
#pragma once

#include <cstddef>
#include <new>

namespace platform {

/// The size from which a block is taken in huge pages.
inline constexpr size_t largeBlockThreshold = size_t(512) << 10;
/// A huge page's size, the unit of the blocks.
inline constexpr size_t hugePageSize = size_t(2) << 20;

/// `bytes` rounded up to whole huge pages, aligned to one and advised to be backed by them;
/// throws `std::bad_alloc` when memory is short.
void* allocateLargeBlock(size_t bytes);
/// Releases a block `allocateLargeBlock` gave.
void releaseLargeBlock(void* block);

template <typename T> struct LargeBlockAllocator
{
    using value_type = T;

    LargeBlockAllocator() = default;
    template <typename U> LargeBlockAllocator(const LargeBlockAllocator<U>&) {}

    T* allocate(size_t count)
    {
        const size_t bytes = count * sizeof(T);
        if (bytes >= largeBlockThreshold)
            return static_cast<T*>(allocateLargeBlock(bytes));
        return static_cast<T*>(::operator new(bytes));
    }
    void deallocate(T* block, size_t count)
    {
        if (count * sizeof(T) >= largeBlockThreshold)
            releaseLargeBlock(block);
        else
            ::operator delete(block);
    }

    template <typename U> friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator<U>&)
    {
        return true;
    }
};

} // namespace platform
