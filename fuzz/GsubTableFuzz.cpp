// The GSUB reader of the plain-font analysis on arbitrary tables, as a damaged or crafted font
// reached through fallback may carry. It must not crash or read outside the table, must stop at
// its read budget, and reading shared tables once must give the answer that reading them at every
// reference gives whenever the latter finishes within the budget.
//
// Input: bytes 0-1 (big-endian) are the first of 95 consecutive glyph ids asked about, as the
// analysis asks about the glyphs of printable ASCII; the rest is the table.
#include "Kestrovan/Apple/Metal/OpenTypeSubstitutionCheck.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using namespace kestrovan::OpenTypeSubstitutionCheck;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t first = uint32_t(data[0]) << 8 | data[1];
    std::vector<uint16_t> glyphs;
    for (uint32_t glyph = first; glyph < first + 95 && glyph <= 0xFFFF; ++glyph)
        glyphs.push_back(uint16_t(glyph));
    // A copy of exactly the table's bytes, so that AddressSanitizer sees any read past its end.
    const std::vector<uint8_t> table(data + 2, data + size);

    const Examination once = examine(glyphs, table);
    check(once.reads <= readBudget + 1);
    check(!once.exceededBudget || !once.canChange);
    const Examination everyTime = examine(glyphs, table, SharedTables::readEveryTime);
    check(everyTime.reads <= readBudget + 1);
    if (!everyTime.exceededBudget) {
        check(once.canChange == everyTime.canChange);
        check(once.reads <= everyTime.reads);
    }
    return 0;
}
