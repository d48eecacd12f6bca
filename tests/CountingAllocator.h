// A counting replacement of the global allocation functions, for checks that a path allocates
// nothing, or how much it allocates and holds. Include it from exactly one source file of a binary:
// it defines the global operators; other files read the counters through AllocationCounters.h.
// Allocations are counted only on a thread between `startCounting()` and `stopCounting()`, so
// every other thread and test runs as before.
#pragma once

#include "AllocationCounters.h"

#include <cstdlib>
#include <new>

namespace counting {

inline void* allocate(std::size_t size)
{
    if (void* pointer = std::malloc(size == 0 ? 1 : size)) {
        noteAllocation(pointer, size);
        return pointer;
    }
    throw std::bad_alloc();
}

inline void* allocateAligned(std::size_t size, std::align_val_t alignment)
{
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants the size to be a multiple of the alignment.
    const std::size_t rounded = ((size > 0 ? size : 1) + align - 1) / align * align;
    if (void* pointer = std::aligned_alloc(align, rounded)) {
        noteAllocation(pointer, size);
        return pointer;
    }
    throw std::bad_alloc();
}

/// Gives a block back.
inline void release(void* pointer) noexcept
{
    noteRelease(pointer);
    std::free(pointer);
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
    counting::release(pointer);
}
void operator delete[](void* pointer) noexcept
{
    counting::release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept
{
    counting::release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept
{
    counting::release(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept
{
    counting::release(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept
{
    counting::release(pointer);
}
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept
{
    counting::release(pointer);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept
{
    counting::release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept
{
    counting::release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept
{
    counting::release(pointer);
}
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept
{
    counting::release(pointer);
}
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept
{
    counting::release(pointer);
}
