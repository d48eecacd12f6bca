// A counting replacement of the global allocation functions, for checks that a path allocates
// nothing. Include it from exactly one source file of a binary: it defines the global operators.
// Allocations are counted only on a thread between `startCounting()` and `stopCounting()`, so
// every other thread and test runs as before; the largest of them is kept too, for checks that a
// path never asks for more than a bound.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace counting {

inline std::atomic<long> countedAllocations{0};
inline std::atomic<std::size_t> largestCountedAllocation{0};
// Constant-initialised, so reading it needs no set-up even inside the first allocation a thread
// makes.
inline thread_local bool countingOnThisThread = false;

inline void count(std::size_t size)
{
    countedAllocations.fetch_add(1, std::memory_order_relaxed);
    std::size_t largest = largestCountedAllocation.load(std::memory_order_relaxed);
    while (size > largest && !largestCountedAllocation.compare_exchange_weak(largest, size))
        ;
}

inline void* allocate(std::size_t size)
{
    if (countingOnThisThread)
        count(size);
    if (void* pointer = std::malloc(size == 0 ? 1 : size))
        return pointer;
    throw std::bad_alloc();
}

inline void* allocateAligned(std::size_t size, std::align_val_t alignment)
{
    if (countingOnThisThread)
        count(size);
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants the size to be a multiple of the alignment.
    const std::size_t rounded = ((size > 0 ? size : 1) + align - 1) / align * align;
    if (void* pointer = std::aligned_alloc(align, rounded))
        return pointer;
    throw std::bad_alloc();
}

/// Starts counting the allocations this thread makes.
inline void startCounting()
{
    countedAllocations.store(0);
    largestCountedAllocation.store(0);
    countingOnThisThread = true;
}

/// Stops counting and answers how many allocations were made since `startCounting()`.
inline long stopCounting()
{
    countingOnThisThread = false;
    return countedAllocations.load();
}

/// The largest single allocation, in bytes, counted since `startCounting()`.
inline std::size_t largestAllocation()
{
    return largestCountedAllocation.load();
}

} // namespace counting

// Every form is replaced, the nothrow ones included: a sanitizer runtime supplies its own
// versions of any form left out, and memory from those must not reach the `free` below.
void* operator new(std::size_t size)
{
    return counting::allocate(size);
}
void* operator new[](std::size_t size)
{
    return counting::allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return counting::allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return counting::allocateAligned(size, alignment);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return counting::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return counting::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    try {
        return counting::allocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    try {
        return counting::allocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* pointer) noexcept
{
    std::free(pointer);
}
void operator delete[](void* pointer) noexcept
{
    std::free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept
{
    std::free(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept
{
    std::free(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept
{
    std::free(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept
{
    std::free(pointer);
}
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept
{
    std::free(pointer);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept
{
    std::free(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept
{
    std::free(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept
{
    std::free(pointer);
}
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(pointer);
}
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(pointer);
}
