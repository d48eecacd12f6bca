// A generic ring of at most `maxLength` elements: appending to a full ring drops the oldest.
// Logical index 0 is the oldest element; an empty slot is filled on first read by the factory.
// The buffers use `CircularBufferLineList`, which adds what lines need; this is the plain form.
#pragma once

#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kestrovan {

template <typename T> class CircularList
{
public:
    /// Makes the element of an empty slot from its logical index.
    using Factory = std::function<T(int index)>;

    explicit CircularList(int maxLength, Factory factory = {})
        : array_(static_cast<size_t>(std::max(maxLength, 0))), maxLength_(std::max(maxLength, 0)),
          factory_(std::move(factory))
    {}

    /// The element at a logical index; an empty slot is filled by the factory (without one the
    /// program stops).
    T& operator[](int index)
    {
        std::optional<T>& slot = array_[physical(index)];
        if (!slot) {
            KESTROVAN_ASSERT(static_cast<bool>(factory_), "CircularList: empty slot and no factory");
            slot = factory_(index);
        }
        return *slot;
    }

    void set(int index, T value) { array_[physical(index)] = std::move(value); }

    int count() const { return count_; }
    /// Sets the number of elements; above `maxLength` stops the program.
    void setCount(int newCount)
    {
        KESTROVAN_ASSERT(newCount <= maxLength_, "CircularList: count above maxLength");
        count_ = std::max(newCount, 0);
    }
    int maxLength() const { return maxLength_; }
    int startIndex() const { return startIndex_; }
    bool isFull() const { return count_ == maxLength_; }

    /// Appends an element; on a full ring the oldest drops out.
    void push(T value)
    {
        array_[physical(count_)] = std::move(value);
        if (count_ < maxLength_)
            count_ += 1;
        else
            startIndex_ = static_cast<int>(physical(1));
    }

    /// Drops `n` elements from the front (at most the count).
    void trimStart(int n)
    {
        n = std::clamp(n, 0, count_);
        if (n == 0)
            return;
        startIndex_ = static_cast<int>(physical(n));
        count_ -= n;
    }

    /// Empties the ring, possibly with a new capacity.
    void reset(int newMaxLength)
    {
        maxLength_ = std::max(newMaxLength, 0);
        array_.assign(static_cast<size_t>(maxLength_), std::nullopt);
        startIndex_ = 0;
        count_ = 0;
    }

private:
    size_t physical(int logical) const
    {
        const auto slots = static_cast<int64_t>(array_.size());
        KESTROVAN_ASSERT(slots > 0, "CircularList: the ring has no slots");
        int64_t index = (static_cast<int64_t>(startIndex_) + logical) % slots;
        return static_cast<size_t>(index < 0 ? index + slots : index);
    }

    std::vector<std::optional<T>> array_;
    int startIndex_ = 0;
    int count_ = 0;
    int maxLength_ = 0;
    Factory factory_;
};

} // namespace kestrovan
