// The menu table: the shortcuts the menus show (the Ctrl+Shift form of a Super chord), and which
// key presses in their menu form reach a menu item rather than the terminal view.
#include "Kestrovan/Mac/MacKeyTestSupport.h"
#include "Platform/UI/MenuKeyRouter.h"
#include "Vesk/MainMenu.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace vesk {
namespace {

using namespace kestrovan::testing;

const MenuItem* itemTitled(std::string_view title)
{
    for (const MenuItem& item : MainMenu::items())
        if (item.title == title)
            return &item;
    return nullptr;
}

TEST(MainMenuTests, TheMenusHoldTheirItemsInOrderWithoutTheHiddenOnes)
{
    std::map<std::string_view, std::vector<std::string_view>> menus;
    std::vector<std::string_view> order;
    for (const MenuItem& item : MainMenu::items()) {
        if (menus.find(item.menu) == menus.end())
            order.push_back(item.menu);
        if (!item.title.empty())
            menus[item.menu].push_back(item.title);
    }
    EXPECT_EQ(order, (std::vector<std::string_view>{"Vesk", "Shell", "Edit", "View", "Window"}));
    EXPECT_EQ(menus["Vesk"], (std::vector<std::string_view>{"About Vesk", "Quit Vesk"}))
        << "no Hide Vesk or Show All: a desktop without a Dock has nothing to hide into";
    EXPECT_EQ(menus["Edit"].at(3), "Find\u2026");
    EXPECT_EQ(menus["View"].back(), "Use GPU Rendering");
    std::set<std::string_view> actions;
    for (const MenuItem& item : MainMenu::items()) {
        if (item.title.empty())
            continue;
        EXPECT_TRUE(item.action.rfind("app.", 0) == 0 || item.action.rfind("win.", 0) == 0) << item.title;
        EXPECT_TRUE(actions.insert(item.action).second) << "one item per action: " << item.action;
    }
}

TEST(MainMenuTests, MenusShowTheChordsLinuxUsersType)
{
    struct Case
    {
        const char* title;
        const char* accelerator;
    };
    const Case cases[] = {
        {"New Tab", "<Control><Shift>t"},
        {"Split Vertically", "<Control><Shift>d"},
        {"Split Horizontally", "<Shift><Super>d"},
        {"Close Pane", "<Control><Shift>w"},
        {"Close Tab", "<Shift><Super>w"},
        {"Copy", "<Control><Shift>c"},
        {"Find Previous", "<Control><Shift>h"},
        {"Bigger Text", "<Control><Shift>equal"},
        {"Smaller Text", "<Control><Shift>minus"},
        {"Next Pane", "<Control><Shift>bracketright"},
        {"Next Tab", "<Control>Tab"},
        {"Previous Tab", "<Control><Shift>Tab"},
        {"New Session", ""},
        {"Use GPU Rendering", ""},
    };
    for (const Case& c : cases) {
        const MenuItem* item = itemTitled(c.title);
        ASSERT_NE(item, nullptr) << c.title;
        EXPECT_EQ(MainMenu::acceleratorLabel(*item), c.accelerator) << c.title;
    }
}

TEST(MainMenuTests, KeyPressesReachTheMenuItemsButNotTheViewsOwnActions)
{
    constexpr UsKey keyN{GDK_KEY_n, GDK_KEY_N, 49};
    constexpr UsKey keyQ{GDK_KEY_q, GDK_KEY_Q, 16};
    constexpr UsKey keyM{GDK_KEY_m, GDK_KEY_M, 50};
    constexpr UsKey keyV{GDK_KEY_v, GDK_KEY_V, 47};
    struct Case
    {
        const char* name;
        UsKey key;
        uint32_t state;
        std::optional<std::string_view> action;
    };
    const Case cases[] = {
        {"Ctrl+Shift+N", keyN, controlMask | shiftMask, "app.new-window"},
        {"Super+N", keyN, superMask, "app.new-window"},
        {"Ctrl+Shift+Q with Caps Lock", keyQ, controlMask | shiftMask | GDK_LOCK_MASK, "app.quit"},
        {"Ctrl+Shift+M", keyM, controlMask | shiftMask, "win.minimize"},
        {"Ctrl+Shift+V is the view's paste", keyV, controlMask | shiftMask, std::nullopt},
        {"Ctrl+Shift+C is the view's copy", keyC, controlMask | shiftMask, std::nullopt},
        {"Ctrl+N is the shell's", keyN, controlMask, std::nullopt},
        {"Super+Alt+N is no menu chord", keyN, superMask | altMask, std::nullopt},
    };
    for (const Case& c : cases) {
        platform::KeyboardTranslator keyboard;
        const std::optional<platform::KeyEvent> menuForm =
            platform::menuKeyEquivalent(keyboard.press(toolkitKey(c.key, c.state)));
        const std::optional<std::string_view> action =
            menuForm ? MainMenu::actionForKeyEquivalent(*menuForm) : std::nullopt;
        EXPECT_EQ(action, c.action) << c.name;
    }
}

} // namespace
} // namespace vesk
