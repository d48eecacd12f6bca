// The tab bar of a window with many tabs: every label on screen keeps a few characters of its
// title, and once the labels no longer fit at that width the bar scrolls.
//
// Regression: from twelve tabs on every label of a 960-pixel window was cut down to "…" alone, so
// that no tab could be told apart without its tool tip.
#include "VeskDriver.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

namespace veskgui {
namespace {

/// The characters of a UTF-8 text.
size_t characters(const std::string& text)
{
    size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

/// The characters of its title the label of `tab` shows: the whole title, or its start and end
/// around one ellipsis; none when the shown text is not the title's (a label not laid out since
/// its title changed).
std::optional<size_t> titleCharactersShown(const Record& tab)
{
    const std::string& label = tab["label"];
    const std::string& shown = tab["label-shown"];
    const std::string ellipsis = "…";
    const size_t cut = shown.find(ellipsis);
    if (cut == std::string::npos)
        return shown == label ? std::optional(characters(label)) : std::nullopt;
    const std::string head = shown.substr(0, cut);
    const std::string tail = shown.substr(cut + ellipsis.size());
    const bool fromTitle = label.rfind(head, 0) == 0 && label.size() >= head.size() + tail.size() &&
                           label.compare(label.size() - tail.size(), tail.size(), tail) == 0;
    return fromTitle ? std::optional(characters(head) + characters(tail)) : std::nullopt;
}

/// The tabs whose labels are on screen.
std::vector<Record> tabsOnScreen(const State& state)
{
    std::vector<Record> shown;
    for (const Record& tab : state.tabs())
        if (tab["label-mapped"] == "1")
            shown.push_back(tab);
    return shown;
}

/// The tabs on screen whose labels show fewer than `least` characters of their titles, with
/// what they show; empty when there are none.
std::string unreadableLabels(const State& state, size_t least)
{
    std::string unreadable;
    for (const Record& tab : tabsOnScreen(state))
        if (titleCharactersShown(tab).value_or(0) < least)
            unreadable +=
                " tab " + tab["index"] + " \"" + tab["label-shown"] + "\" of \"" + tab["label"] + "\"";
    return unreadable;
}

TEST(TabBarGuiTests, EveryLabelOnScreenKeepsAFewCharactersWithManyTabs)
{
    // Each shell starts in a folder of its own with a long name, so that every tab has a label of
    // its own that the bar must cut short.
    const std::string profile = "d=\"$HOME/session-folder-$$\"; mkdir -p \"$d\" && cd \"$d\"\n";
    LaunchOptions options;
    options.homeFiles = {{".bash_profile", profile}, {".profile", profile}};
    Vesk vesk(options);
    ASSERT_TRUE(vesk.started());
    vesk.focus();

    constexpr size_t least = 4;
    auto labelled = [](const State& s, size_t count) {
        const std::vector<Record> tabs = s.tabs();
        if (tabs.size() != count)
            return false;
        for (const Record& tab : tabs)
            if (tab["label"].rfind("session-folder-", 0) != 0)
                return false;
        return true;
    };
    // Twelve tabs, then twenty-four. Each time the bar is read with the newest tab selected, then
    // the first and then, wrapping round backwards, the last, so that it has scrolled to both of
    // its ends.
    for (const size_t count : {size_t(12), size_t(24)}) {
        while (vesk.state().tabs().size() < count) {
            ASSERT_FALSE(vesk.exited()) << "Vesk ended while tabs were being opened";
            const size_t before = vesk.state().tabs().size();
            vesk.key("ctrl+shift+t");
            vesk.expect([&](const State& s) { return s.tabs().size() == before + 1; }, "a new tab");
        }
        const long long newest =
            vesk.expect([&](const State& s) { return labelled(s, count); },
                        std::to_string(count) + " tabs, each labelled by its own folder", 20s)
                .windows()[0]
                .number("selected");
        const std::pair<const char*, long long> selections[] = {
            {"", newest}, {"ctrl+shift+1", 0}, {"ctrl+shift+Tab", static_cast<long long>(count) - 1}};
        for (const auto& [chord, selected] : selections) {
            if (*chord)
                vesk.key(chord);
            const std::string what =
                std::to_string(count) + " tabs, tab " + std::to_string(selected) + " selected";
            // A label's layout follows its title and width a frame later, so the bar is read
            // until it settles: the selected tab's label on screen and every label on screen
            // keeping a few characters of its title. Labels that never do fail the test.
            bool held = false;
            const State state = vesk.waitFor(
                [&](const State& s) {
                    return labelled(s, count) && s.windows()[0].number("selected") == selected &&
                           s.tabs()[static_cast<size_t>(selected)]["label-mapped"] == "1" &&
                           unreadableLabels(s, least).empty();
                },
                &held);
            if (!held) {
                const std::vector<Record> windows = state.windows();
                ADD_FAILURE() << what << ": the bar never settled (selected tab "
                              << (windows.empty() ? "none" : windows[0]["selected"])
                              << "); labels on screen with fewer than " << least
                              << " characters of their titles:" << unreadableLabels(state, least);
                return;
            }
            const std::vector<Record> shown = tabsOnScreen(state);
            EXPECT_GE(shown.size(), 4u) << what << ": the bar shows several tabs at once";
            vesk.screenshot("vesk-tabs-" + std::to_string(count) + "-at-" + std::to_string(selected));
        }
    }
}

} // namespace
} // namespace veskgui
