// Finding where a run of bytes ends, 16 bytes at a time.
//
// The parser consumes printable text and string payloads in runs; these helpers find the end of a
// run with one vector compare per 16-byte block (SSE2 on x86-64, a portable scalar loop elsewhere).
// Each returns the index of the first matching byte inside the first block that has one; when fewer
// than 16 bytes remain unexamined it returns the position reached, and the caller tests the last few
// bytes one by one. The scalar versions are always compiled so that tests can compare the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan {

struct ByteRunScanner
{
    static constexpr size_t blockSize = 16;

    /// The first byte below 0x20 (a C0 control), scanning whole blocks from `from`.
    static size_t vectorScanC0(std::span<const uint8_t> bytes, size_t from);
    /// The first byte below 0x20 or equal to `byte` (0x9C for OSC payloads).
    static size_t vectorScanC0OrByte(uint8_t byte, std::span<const uint8_t> bytes, size_t from);
    /// The first byte at or above 0x80 (the end of an ASCII run).
    static size_t vectorScanNonASCII(std::span<const uint8_t> bytes, size_t from);

    static size_t scalarScanC0(std::span<const uint8_t> bytes, size_t from);
    static size_t scalarScanC0OrByte(uint8_t byte, std::span<const uint8_t> bytes, size_t from);
    static size_t scalarScanNonASCII(std::span<const uint8_t> bytes, size_t from);

private:
    /// Walks whole blocks from `from` and stops in the first block holding a byte that `matches`.
    template <typename Predicate>
    static size_t scalarScan(std::span<const uint8_t> bytes, size_t from, Predicate matches)
    {
        const size_t length = bytes.size();
        size_t index = from;
        while (length - index >= blockSize) {
            for (size_t k = 0; k < blockSize; ++k) {
                if (matches(bytes[index + k]))
                    return index + k;
            }
            index += blockSize;
        }
        return index;
    }

#if defined(__SSE2__)
    /// Walks whole blocks; `mask` gives one bit per byte of a block that ends the run.
    template <typename Mask> static size_t vectorScan(std::span<const uint8_t> bytes, size_t from, Mask mask)
    {
        const uint8_t* data = bytes.data();
        const size_t length = bytes.size();
        size_t index = from;
        while (length - index >= blockSize) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index));
            const unsigned bits = mask(block);
            if (bits != 0)
                return index + static_cast<size_t>(__builtin_ctz(bits));
            index += blockSize;
        }
        return index;
    }

    /// One bit per byte below 0x20: the byte is unchanged by an unsigned min with 0x1F.
    static unsigned c0Mask(__m128i block)
    {
        const __m128i highestC0 = _mm_set1_epi8(0x1F);
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(block, highestC0), block)));
    }
#endif
};

inline size_t ByteRunScanner::scalarScanC0(std::span<const uint8_t> bytes, size_t from)
{
    return scalarScan(bytes, from, [](uint8_t b) { return b < 0x20; });
}

inline size_t ByteRunScanner::scalarScanC0OrByte(uint8_t byte, std::span<const uint8_t> bytes, size_t from)
{
    return scalarScan(bytes, from, [byte](uint8_t b) { return b < 0x20 || b == byte; });
}

inline size_t ByteRunScanner::scalarScanNonASCII(std::span<const uint8_t> bytes, size_t from)
{
    return scalarScan(bytes, from, [](uint8_t b) { return b >= 0x80; });
}

#if defined(__SSE2__)

inline size_t ByteRunScanner::vectorScanC0(std::span<const uint8_t> bytes, size_t from)
{
    return vectorScan(bytes, from, [](__m128i block) { return c0Mask(block); });
}

inline size_t ByteRunScanner::vectorScanC0OrByte(uint8_t byte, std::span<const uint8_t> bytes, size_t from)
{
    const __m128i target = _mm_set1_epi8(static_cast<char>(byte));
    return vectorScan(bytes, from, [target](__m128i block) {
        return c0Mask(block) | static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, target)));
    });
}

inline size_t ByteRunScanner::vectorScanNonASCII(std::span<const uint8_t> bytes, size_t from)
{
    // The sign bit of each byte is exactly "at or above 0x80".
    return vectorScan(bytes, from,
                      [](__m128i block) { return static_cast<unsigned>(_mm_movemask_epi8(block)); });
}

#else

inline size_t ByteRunScanner::vectorScanC0(std::span<const uint8_t> bytes, size_t from)
{
    return scalarScanC0(bytes, from);
}

inline size_t ByteRunScanner::vectorScanC0OrByte(uint8_t byte, std::span<const uint8_t> bytes, size_t from)
{
    return scalarScanC0OrByte(byte, bytes, from);
}

inline size_t ByteRunScanner::vectorScanNonASCII(std::span<const uint8_t> bytes, size_t from)
{
    return scalarScanNonASCII(bytes, from);
}

#endif

} // namespace kestrovan
