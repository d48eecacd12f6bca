// The titles on their own: pushing and popping make the popped title current, and the four title
// modes switch one at a time. The window operations around them are tested in
// TerminalWindowOpsTests.
#include "Kestrovan/TerminalTitles.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(TerminalTitlesTests, PushPopAndTitleModes)
{
    TerminalTitles titles;
    titles.setTerminalTitle("first");
    titles.setIconTitle("icon");
    EXPECT_FALSE(titles.pushTerminalTitle());
    EXPECT_TRUE(titles.terminalTitleStack()[0].sharesStorageWith(titles.terminalTitle()))
        << "a push copies a pointer";
    EXPECT_TRUE(titles.terminalIconStack().empty()) << "each title has its own stack";

    titles.setTerminalTitle("second");
    const std::optional<TitleText> popped = titles.popTerminalTitle();
    ASSERT_TRUE(popped);
    EXPECT_EQ(*popped, "first");
    EXPECT_EQ(titles.terminalTitle(), "first") << "the popped title is current again";
    EXPECT_FALSE(titles.popTerminalTitle()) << "an empty stack";
    EXPECT_EQ(titles.terminalTitle(), "first") << "popping an empty stack changes nothing";
    EXPECT_FALSE(titles.popIconTitle());
    EXPECT_EQ(titles.iconTitle(), "icon");

    for (int64_t mode : {0, 2, 7, -1})
        titles.setXtermTitleMode(mode, true);
    EXPECT_TRUE(titles.xtermTitleSetHex() && titles.xtermTitleSetUtf());
    EXPECT_FALSE(titles.xtermTitleQueryHex() || titles.xtermTitleQueryUtf()) << "other values are ignored";
    titles.setXtermTitleMode(1, true);
    titles.setXtermTitleMode(3, true);
    titles.setXtermTitleMode(0, false);
    EXPECT_FALSE(titles.xtermTitleSetHex());
    EXPECT_TRUE(titles.xtermTitleQueryHex() && titles.xtermTitleQueryUtf() && titles.xtermTitleSetUtf());
    titles.resetXtermTitleModes();
    EXPECT_FALSE(titles.xtermTitleSetUtf() || titles.xtermTitleQueryHex() || titles.xtermTitleQueryUtf());
    EXPECT_EQ(titles.terminalTitle(), "first") << "a reset of the modes keeps the titles";
}

} // namespace
} // namespace kestrovan
