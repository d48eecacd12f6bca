#include "Kestrovan/TinyAtom.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using kestrovan::FreeAtomCodes;
using kestrovan::TinyAtom;

namespace {

// Every test starts from a fresh table and leaves one behind, so the 65,534-entry test cannot
// leak codes into other tests of this process.
class TinyAtomTest : public ::testing::Test
{
protected:
    void SetUp() override { TinyAtom::resetForTesting(); }
    void TearDown() override { TinyAtom::resetForTesting(); }
};

std::string textOf(TinyAtom atom)
{
    const auto value = atom.target();
    return value ? std::any_cast<std::string>(*value) : std::string("<nothing>");
}

} // namespace

TEST_F(TinyAtomTest, CodesStartAtOneAndNameTheirValues)
{
    const auto first = TinyAtom::lookup(std::string("https://example.org/a"));
    const auto second = TinyAtom::lookup(std::string("https://example.org/a"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->code, 1);
    EXPECT_EQ(second->code, 2) << "equal values are not merged";
    EXPECT_EQ(textOf(*first), "https://example.org/a");
    EXPECT_FALSE(TinyAtom{0}.target().has_value()) << "code 0 never names a value";
    EXPECT_FALSE(TinyAtom{3}.target().has_value()) << "a code past the end names nothing";

    first->release();
    EXPECT_FALSE(first->target().has_value()) << "a released code names nothing";
    EXPECT_EQ(textOf(*second), "https://example.org/a");

    // An empty std::any is still a value until it is released.
    const auto empty = TinyAtom::lookup(std::any());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->target().has_value());
}

TEST_F(TinyAtomTest, TheTableHoldsAtMost65534LiveCodes)
{
    for (int i = 1; i <= 65534; ++i) {
        const auto atom = TinyAtom::lookup(i);
        ASSERT_TRUE(atom) << "registration " << i;
        ASSERT_EQ(atom->code, i);
    }
    EXPECT_FALSE(TinyAtom::lookup(0).has_value()) << "the table is full";

    TinyAtom::release(7);
    const auto again = TinyAtom::lookup(std::string("seven"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, 7);
    EXPECT_EQ(textOf(*again), "seven");
    EXPECT_FALSE(TinyAtom::lookup(0).has_value());

    // Batched release hands the codes out again in the order they were released.
    const std::vector<uint16_t> codes = {300, 12, 65534};
    TinyAtom::release(codes);
    EXPECT_EQ(TinyAtom::lookup(1)->code, 300);
    EXPECT_EQ(TinyAtom::lookup(1)->code, 12);
    EXPECT_EQ(TinyAtom::lookup(1)->code, 65534);
    EXPECT_FALSE(TinyAtom::lookup(1).has_value());
}

TEST_F(TinyAtomTest, ReleasingTwiceFreesTheCodeOnce)
{
    const auto a = TinyAtom::lookup(1);
    const auto b = TinyAtom::lookup(2);
    ASSERT_TRUE(a && b);
    TinyAtom::release(a->code);
    TinyAtom::release(a->code);
    TinyAtom::release(0);
    const auto reused = TinyAtom::lookup(3);
    const auto fresh = TinyAtom::lookup(4);
    EXPECT_EQ(reused->code, a->code);
    EXPECT_NE(fresh->code, a->code) << "the code must not be handed out twice";
    EXPECT_EQ(fresh->code, 3);
}

TEST(FreeAtomCodes, TakesInOrderAndTrimsTheTakenPrefix)
{
    FreeAtomCodes free;
    EXPECT_EQ(free.take(), FreeAtomCodes::noCode);
    for (uint16_t code = 1; code <= 200; ++code)
        free.codes.push_back(code);
    for (uint16_t code = 1; code <= 64; ++code)
        ASSERT_EQ(free.take(), code);
    EXPECT_EQ(free.head, 64u) << "no trimming while 64 or fewer codes were taken";
    EXPECT_EQ(free.codes.size(), 200u);
    for (uint16_t code = 65; code <= 100; ++code)
        ASSERT_EQ(free.take(), code);
    EXPECT_EQ(free.codes.size(), 200u) << "100 taken is not past half of 200";
    EXPECT_EQ(free.take(), 101);
    EXPECT_EQ(free.head, 0u) << "101 taken is past half: the prefix is cut off";
    EXPECT_EQ(free.codes.size(), 99u);
    EXPECT_EQ(free.take(), 102);
}
