// The counters of the counting allocation functions (CountingAllocator.h), for any source file of
// a binary whose allocation functions are the counting ones. Allocations are counted only on a
// thread between `startCounting()` and `stopCounting()`; the bytes held by the whole process are
// followed all the time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <malloc.h>

namespace counting {

inline std::atomic<long> countedAllocations{0};
inline std::atomic<int64_t> countedBytes{0};
inline std::atomic<std::size_t> largestCountedAllocation{0};
/// Bytes the process holds from the counting allocation functions, as the allocator reports the
/// blocks' usable sizes.
inline std::atomic<int64_t> heldBytes{0};
/// The most `heldBytes` has been since `resetPeakHeld()`.
inline std::atomic<int64_t> peakHeldBytes{0};
// Constant-initialised, so reading it needs no set-up even inside the first allocation a thread
// makes.
inline thread_local bool countingOnThisThread = false;

/// Notes a new block of `size` bytes asked for at `pointer`.
inline void noteAllocation(void* pointer, std::size_t size)
{
    const int64_t usable = int64_t(malloc_usable_size(pointer));
    const int64_t held = heldBytes.fetch_add(usable, std::memory_order_relaxed) + usable;
    int64_t peak = peakHeldBytes.load(std::memory_order_relaxed);
    while (held > peak && !peakHeldBytes.compare_exchange_weak(peak, held, std::memory_order_relaxed)) {
    }
    if (!countingOnThisThread)
        return;
    countedAllocations.fetch_add(1, std::memory_order_relaxed);
    countedBytes.fetch_add(int64_t(size), std::memory_order_relaxed);
    std::size_t largest = largestCountedAllocation.load(std::memory_order_relaxed);
    while (size > largest &&
           !largestCountedAllocation.compare_exchange_weak(largest, size, std::memory_order_relaxed)) {
    }
}

/// Notes that the block at `pointer` goes back.
inline void noteRelease(void* pointer)
{
    if (pointer)
        heldBytes.fetch_sub(int64_t(malloc_usable_size(pointer)), std::memory_order_relaxed);
}

/// Starts counting the allocations this thread makes.
inline void startCounting()
{
    countedAllocations.store(0);
    countedBytes.store(0);
    largestCountedAllocation.store(0);
    countingOnThisThread = true;
}

/// Stops counting and answers how many allocations were made since `startCounting()`.
inline long stopCounting()
{
    countingOnThisThread = false;
    return countedAllocations.load();
}

/// The bytes asked for since `startCounting()`.
inline int64_t bytesCounted()
{
    return countedBytes.load();
}

/// The largest single allocation, in bytes, counted since `startCounting()`, for checks that a
/// path never asks for more than a bound.
inline std::size_t largestAllocation()
{
    return largestCountedAllocation.load();
}

/// Bytes the process holds now (see `heldBytes`).
inline int64_t bytesHeld()
{
    return heldBytes.load();
}

/// Starts following the peak afresh from what the process holds now.
inline void resetPeakHeld()
{
    peakHeldBytes.store(heldBytes.load());
}

/// The most bytes the process held at once since `resetPeakHeld()`.
inline int64_t peakBytesHeld()
{
    return peakHeldBytes.load();
}

} // namespace counting
