// The byte stream the test child writes and the tests check: a seeded xorshift generator, so a
// receiver can tell every byte's place in the stream, and a running FNV-1a checksum.
#pragma once

#include <cstdint>

namespace testchild {

class TestStream
{
public:
    explicit TestStream(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}

    uint8_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint8_t>(state_ >> 32);
    }

private:
    uint64_t state_;
};

class Checksum
{
public:
    void add(uint8_t byte)
    {
        value_ ^= byte;
        value_ *= 0x100000001B3ull;
    }
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 0xCBF29CE484222325ull;
};

} // namespace testchild
