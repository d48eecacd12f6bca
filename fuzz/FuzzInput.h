// Reading a fuzzer's bytes as the choices a test makes: past the end every read gives zeros, so
// each input, however short, drives one whole, deterministic run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    /// Four bytes, the first the lowest.
    uint32_t word()
    {
        return uint32_t(byte()) | uint32_t(byte()) << 8 | uint32_t(byte()) << 16 | uint32_t(byte()) << 24;
    }
    /// A value in 0 ... limit.
    int upTo(int limit) { return limit <= 0 ? 0 : byte() % (limit + 1); }
    /// The next `count` raw bytes, fewer at the end.
    std::string bytes(size_t count)
    {
        count = std::min(count, size_ - std::min(position_, size_));
        std::string out(reinterpret_cast<const char*>(data_ + position_), count);
        position_ += count;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};
