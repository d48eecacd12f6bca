#include "Kestrovan/ByteRunScanner.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace kestrovan {
namespace {

using Scan = std::function<size_t(std::span<const uint8_t>, size_t)>;

/// What every scan promises: the first match inside the first whole block that has one, else the
/// start of the last partial block.
size_t expectedScan(std::span<const uint8_t> bytes, size_t from, const std::function<bool(uint8_t)>& matches)
{
    size_t index = from;
    while (bytes.size() - index >= 16) {
        for (size_t k = 0; k < 16; ++k) {
            if (matches(bytes[index + k]))
                return index + k;
        }
        index += 16;
    }
    return index;
}

struct Case
{
    const char* name;
    Scan vector;
    Scan scalar;
    std::function<bool(uint8_t)> matches;
};

std::vector<Case> cases()
{
    return {
        {"C0", ByteRunScanner::vectorScanC0, ByteRunScanner::scalarScanC0,
         [](uint8_t b) { return b < 0x20; }},
        {"C0 or 0x9C",
         [](auto bytes, size_t from) { return ByteRunScanner::vectorScanC0OrByte(0x9C, bytes, from); },
         [](auto bytes, size_t from) { return ByteRunScanner::scalarScanC0OrByte(0x9C, bytes, from); },
         [](uint8_t b) { return b < 0x20 || b == 0x9C; }},
        {"non-ASCII", ByteRunScanner::vectorScanNonASCII, ByteRunScanner::scalarScanNonASCII,
         [](uint8_t b) { return b >= 0x80; }},
    };
}

TEST(ByteRunScanner, FindsTheFirstMatchAtEveryPositionOfABlock)
{
    // Bytes just either side of each boundary: 0x1F/0x20, 0x7F/0x80, 0x9B/0x9C/0x9D, 0xFF.
    for (const auto& scan : cases()) {
        for (uint8_t match : {0x00, 0x1F, 0x80, 0x9C, 0xFF}) {
            if (!scan.matches(match))
                continue;
            for (uint8_t filler : {0x20, 0x41, 0x7F, 0x9B, 0x9D, 0xC3}) {
                if (scan.matches(filler))
                    continue;
                for (size_t at = 0; at < 48; ++at) {
                    std::vector<uint8_t> bytes(48, filler);
                    bytes[at] = match;
                    EXPECT_EQ(scan.vector(bytes, 0), at)
                        << scan.name << ": match 0x" << std::hex << int(match) << " filler 0x" << int(filler)
                        << std::dec << " at " << at;
                }
            }
        }
    }
}

TEST(ByteRunScanner, StopsBeforeAPartialBlock)
{
    for (const auto& scan : cases()) {
        std::vector<uint8_t> bytes(40, 0x41);
        EXPECT_EQ(scan.vector(bytes, 0), 32u) << scan.name << ": 8 bytes left for the caller";
        EXPECT_EQ(scan.vector(bytes, 30), 30u) << scan.name << ": fewer than 16 bytes: nothing scanned";
        EXPECT_EQ(scan.vector(bytes, 40), 40u) << scan.name << ": at the end";
        bytes[35] = scan.matches(0x01) ? 0x01 : 0x80;
        EXPECT_EQ(scan.vector(bytes, 0), 32u) << scan.name << ": a match in the tail is the caller's to find";
        EXPECT_EQ(scan.vector(bytes, 20), 35u) << scan.name << ": from an unaligned start";
    }
}

TEST(ByteRunScanner, VectorAndScalarAgreeOnRandomInput)
{
    std::mt19937 random(20);
    for (const auto& scan : cases()) {
        for (int round = 0; round < 2000; ++round) {
            // Mostly bytes that do not match, so that runs span several blocks.
            std::vector<uint8_t> bytes(1 + random() % 100);
            for (auto& byte : bytes)
                byte = random() % 50 == 0 ? static_cast<uint8_t>(random())
                                          : static_cast<uint8_t>(0x20 + random() % 0x5F);
            const size_t from = random() % (bytes.size() + 1);
            const size_t expected = expectedScan(bytes, from, scan.matches);
            ASSERT_EQ(scan.vector(bytes, from), expected) << scan.name << " round " << round;
            ASSERT_EQ(scan.scalar(bytes, from), expected) << scan.name << " round " << round;
        }
    }
}

} // namespace
} // namespace kestrovan
