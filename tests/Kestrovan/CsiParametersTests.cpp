#include "Kestrovan/CsiParameters.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace kestrovan {
namespace {

TEST(CsiParameters, DigitsSaturateAt65535)
{
    CsiParameterStorage store;
    for (int digit : {9, 9, 9, 9, 9})
        store.appendDigit(digit);
    EXPECT_EQ(store.storage[0], 65535) << "99999 saturates";

    store.clear();
    for (int digit : {6, 5, 5, 3, 5})
        store.appendDigit(digit);
    EXPECT_EQ(store.storage[0], 65535) << "exactly the maximum";
    store.appendDigit(0);
    EXPECT_EQ(store.storage[0], 65535) << "stays saturated";

    store.clear();
    for (int digit : {6, 5, 5, 3, 4})
        store.appendDigit(digit);
    EXPECT_EQ(store.storage[0], 65534);
    store.clear();
    for (int digit : {6, 5, 5, 3, 6})
        store.appendDigit(digit);
    EXPECT_EQ(store.storage[0], 65535) << "65536 saturates";
}

TEST(CsiParameters, SeparatorsOpenParametersUpToTheLimit)
{
    CsiParameterStorage store;
    uint64_t colonMask = 0;
    store.appendDigit(4);
    ASSERT_TRUE(store.openParameter(true, colonMask));
    store.appendDigit(3);
    ASSERT_TRUE(store.openParameter(false, colonMask));
    EXPECT_EQ(store.count, 3);
    EXPECT_EQ(colonMask, 1u) << "the colon bit marks the parameter it closes";
    const CsiParameters view(store);
    EXPECT_EQ(std::vector<int64_t>(view.begin(), view.end()), (std::vector<int64_t>{4, 3, 0}))
        << "a new parameter starts at 0";

    store.clear();
    colonMask = 0;
    for (int k = 1; k < CsiParameterStorage::capacity; ++k)
        ASSERT_TRUE(store.openParameter(false, colonMask)) << "separator " << k;
    EXPECT_EQ(store.count, 24);
    EXPECT_FALSE(store.openParameter(true, colonMask)) << "a 25th parameter does not fit";
    EXPECT_EQ(store.count, 24);
    EXPECT_EQ(colonMask, 0u) << "a refused separator changes nothing";

    // A cleared store reads as one parameter 0, even after holding other values.
    store.storage[0] = 7;
    store.clear();
    EXPECT_EQ(store.count, 1);
    EXPECT_EQ(CsiParameters(store)[0], 0);
}

TEST(CsiParameters, ViewAndEmpty)
{
    CsiParameterStorage store;
    uint64_t colonMask = 0;
    store.appendDigit(1);
    store.openParameter(false, colonMask);
    store.appendDigit(2);
    const CsiParameters view(store);
    EXPECT_EQ(view.count, 2);
    EXPECT_EQ(view.size(), 2u);
    EXPECT_EQ(view[1], 2);
    EXPECT_EQ(std::accumulate(view.begin(), view.end(), int64_t{0}), 3);

    EXPECT_EQ(CsiParameters::empty.count, 0);
    EXPECT_NE(CsiParameters::empty.base, nullptr);
    EXPECT_EQ(*CsiParameters::empty.base, 0);
    EXPECT_EQ(CsiParameters::empty.begin(), CsiParameters::empty.end());
}

TEST(CsiParametersDeathTest, IndexOutsideCountStopsTheProgram)
{
    CsiParameterStorage store;
    const CsiParameters view(store);
    EXPECT_DEATH((void)view[1], "CsiParameters: index out of range");
    EXPECT_DEATH((void)view[-1], "CsiParameters: index out of range");
    EXPECT_DEATH((void)CsiParameters::empty[0], "CsiParameters: index out of range");
}

} // namespace
} // namespace kestrovan
