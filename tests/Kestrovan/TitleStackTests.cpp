// The shared title text and the capped title stack on their own.
#include "Kestrovan/TitleStack.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(TitleStackTests, TitleTextReadsLikeAStringAndSharesItsStorage)
{
    EXPECT_TRUE(TitleText().empty());
    EXPECT_EQ(TitleText(), "");

    const TitleText title = std::string("vim main.cpp");
    const TitleText copy = title;
    EXPECT_EQ(copy, std::string("vim main.cpp"));
    EXPECT_TRUE(copy.sharesStorageWith(title)) << "a copy names the same string";
    const TitleText equal("vim main.cpp");
    EXPECT_EQ(equal, title) << "titles compare by text";
    EXPECT_FALSE(equal.sharesStorageWith(title));
    EXPECT_FALSE(TitleText().sharesStorageWith(TitleText()));
    const std::string& asString = title;
    EXPECT_EQ(asString.size(), 12u);
}

TEST(TitleStackTests, AFullStackDropsItsOldestEntryAndSaysSoOncePerOverflow)
{
    TitleStack stack;
    EXPECT_FALSE(stack.pop());
    for (size_t i = 0; i < TitleStack::maximumDepth; ++i)
        EXPECT_FALSE(stack.push(std::to_string(i))) << "no drop below the limit, push " << i;
    EXPECT_TRUE(stack.push("next")) << "the first drop is announced";
    EXPECT_FALSE(stack.push("after")) << "the following ones are not";
    EXPECT_EQ(stack.size(), TitleStack::maximumDepth);
    EXPECT_EQ(stack[0], "2") << "titles 0 and 1 went";
    EXPECT_EQ(*stack.pop(), "after");
    EXPECT_FALSE(stack.push("again")) << "the pop made room";
    EXPECT_TRUE(stack.push("more")) << "so the next overflow is announced again";
    stack.clear();
    EXPECT_TRUE(stack.empty());
}

} // namespace
} // namespace kestrovan
