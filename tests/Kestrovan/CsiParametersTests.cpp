#include "Kestrovan/CsiParameters.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace kestrovan {
namespace {

TEST(CsiParameters, DigitsSaturateAt65535)
{
    const std::pair<const char*, int> cases[] = {
        {"99999", 65535}, {"65535", 65535}, {"655350", 65535}, {"65534", 65534}, {"65536", 65535}};
    for (const auto& [digits, value] : cases) {
        CsiParameterStorage store;
        for (const char* digit = digits; *digit; ++digit)
            store.appendDigit(*digit - '0');
        EXPECT_EQ(store.storage[0], value) << digits;
    }
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
    EXPECT_EQ(view.size(), 2u);
    EXPECT_EQ(std::accumulate(view.begin(), view.end(), int64_t{0}), 3);

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
