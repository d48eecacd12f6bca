// The application as a screen reader meets it over AT-SPI: alerts are alerts named by their
// message, each terminal view is named as a pane (the active one told apart) with nothing named
// by a class beneath it, each tab is named by its title and the tab bar's buttons by what they do,
// and the About panel opens with none of its text selected.
#include "VeskDriver.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace veskgui {
namespace {

/// One accessible object as the tree reader prints it (see Helpers/AccessibilityTree.cpp).
struct Accessible
{
    int depth = 0;
    std::string role;
    std::string name;
    std::string selected;
    std::string states;
};

/// The accessible objects of the application, in tree order; empty while it is not on the bus.
std::vector<Accessible> accessibles(const Vesk& vesk)
{
    std::vector<Accessible> found;
    std::istringstream lines(run(std::string(VESK_ACCESSIBILITY_TREE) + " " + std::to_string(vesk.pid())));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');)
            fields.push_back(field);
        fields.resize(5);
        found.push_back({std::atoi(fields[0].c_str()), fields[1], fields[2], fields[3], fields[4]});
    }
    return found;
}

/// The object at `index` and everything beneath it.
std::vector<Accessible> subtree(const std::vector<Accessible>& tree, size_t index)
{
    size_t end = index + 1;
    while (end < tree.size() && tree[end].depth > tree[index].depth)
        ++end;
    return {tree.begin() + static_cast<long>(index), tree.begin() + static_cast<long>(end)};
}

/// The first window (a child of the application) named `name`, with everything beneath it, once
/// `wanted` holds for it; empty at the deadline.
std::vector<Accessible> windowWhen(const Vesk& vesk, const std::string& name,
                                   const std::function<bool(const std::vector<Accessible>&)>& wanted)
{
    std::vector<Accessible> window;
    poll(
        [&] {
            const std::vector<Accessible> tree = accessibles(vesk);
            for (size_t index = 0; index < tree.size(); ++index) {
                if (tree[index].depth == 1 && tree[index].name == name) {
                    window = subtree(tree, index);
                    return wanted(window);
                }
            }
            return false;
        },
        10s);
    return window;
}

std::vector<std::string> describe(const std::vector<Accessible>& objects)
{
    std::vector<std::string> lines;
    for (const Accessible& object : objects)
        lines.push_back(std::string(static_cast<size_t>(object.depth), ' ') + object.role + " \"" +
                        object.name + "\"" +
                        (object.selected.empty() ? "" : " selected \"" + object.selected + "\""));
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

/// The application with its accessibility bridge on, as on a desktop with a screen reader.
LaunchOptions withAccessibility()
{
    LaunchOptions options;
    options.environment = {"NO_AT_BRIDGE", "GTK_A11Y"};
    return options;
}

TEST(AccessibilityGuiTests, TerminalViewsAreNamedAsPanesWithNoClassNameBeneath)
{
    Vesk vesk(withAccessibility());
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+d");
    // The pane split off is active, the first a pane beside it. (GTK 4.8 may list a notebook
    // page's content twice over AT-SPI after it changed: each pane counts once.)
    const auto panes = [](const std::vector<Accessible>& window) {
        std::set<std::string> names;
        for (const Accessible& object : window)
            if (object.name.find("erminal pane") != std::string::npos)
                names.insert(object.role + " " + object.name);
        return names;
    };
    const std::set<std::string> split = {"filler Active terminal pane", "filler Terminal pane"};
    const std::vector<Accessible> window =
        windowWhen(vesk, "~", [&](const std::vector<Accessible>& w) { return panes(w) == split; });
    EXPECT_EQ(panes(window), split) << joined(describe(window));
    for (const Accessible& object : window)
        EXPECT_EQ(object.name.find("VeskCoreView"), std::string::npos) << object.role << " named by a class";
}

/// The tab bar of a window: the page tab list and what sits beside it (the new-tab button).
std::vector<Accessible> tabBar(const std::vector<Accessible>& window)
{
    const auto list = std::find_if(window.begin(), window.end(),
                                   [](const Accessible& o) { return o.role == "page tab list"; });
    if (list == window.end())
        return {};
    auto bar = list;
    while (bar != window.begin() && bar->depth >= list->depth)
        --bar;
    return subtree(window, static_cast<size_t>(bar - window.begin()));
}

/// The names of the page tabs of a tab bar, in order, each with the push buttons inside it.
std::vector<std::string> pageTabs(const std::vector<Accessible>& bar)
{
    std::vector<std::string> tabs;
    for (size_t index = 0; index < bar.size(); ++index) {
        if (bar[index].role != "page tab")
            continue;
        std::string tab = bar[index].name;
        for (const Accessible& inside : subtree(bar, index))
            if (inside.role == "push button")
                tab += " [" + inside.name + "]";
        tabs.push_back(tab);
    }
    return tabs;
}

TEST(AccessibilityGuiTests, TabsAreNamedByTheirTitlesAndTheTabBarsButtonsByWhatTheyDo)
{
    Vesk vesk(withAccessibility());
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+t");
    vesk.expect([](const State& s) { return s.tabs().size() == 2 && !s.lines(0, 1, 0).empty(); },
                "a second tab with its prompt");
    // Each step changes directories, and so titles, and reads the bar from the window (named by
    // the selected tab's directory) once it names the tabs as expected. The second tab's shell
    // waits on a pipe for its next directory, so that its title changes while the first tab is
    // selected.
    struct Step
    {
        std::string chords;
        std::string command;
        std::string window;
        std::vector<std::string> tabs;
    };
    const Step steps[] = {
        {"", "", "~", {"home [Close tab]", "home [Close tab]"}},
        {"",
         "mkdir -p notes/drafts && mkfifo next && cd notes && read d < ../next && cd \"$d\"",
         "~/notes",
         {"home [Close tab]", "notes [Close tab]"}},
        {"ctrl+shift+1", "cd / && echo drafts > ~/next", "/", {"/ [Close tab]", "drafts [Close tab]"}},
    };
    for (const Step& step : steps) {
        if (!step.chords.empty())
            vesk.key(step.chords);
        if (!step.command.empty())
            vesk.typeLine(step.command);
        const std::vector<Accessible> window =
            windowWhen(vesk, step.window,
                       [&](const std::vector<Accessible>& w) { return pageTabs(tabBar(w)) == step.tabs; });
        const std::vector<Accessible> bar = tabBar(window);
        EXPECT_EQ(pageTabs(bar), step.tabs) << step.window << "\n" << joined(describe(window));
        std::vector<std::string> buttons;
        for (const Accessible& object : bar) {
            EXPECT_NE(object.name.rfind("Gtk", 0), 0u)
                << object.role << " \"" << object.name << "\" named by a class";
            if (object.role == "push button")
                buttons.push_back(object.name);
        }
        EXPECT_EQ(std::count(buttons.begin(), buttons.end(), "New tab"), 1) << joined(describe(bar));
    }
}

TEST(AccessibilityGuiTests, AnAlertIsAnAlertNamedByItsMessage)
{
    Vesk vesk(withAccessibility());
    ASSERT_TRUE(vesk.started());
    vesk.activate("app.quit");
    const std::string message = "Quit Vesk and close this session?";
    const std::vector<Accessible> alert = windowWhen(vesk, message, [](const std::vector<Accessible>& w) {
        return std::any_of(w.begin(), w.end(), [](const Accessible& o) { return o.role == "push button"; });
    });
    ASSERT_FALSE(alert.empty()) << joined(describe(accessibles(vesk)));
    EXPECT_EQ(alert[0].role, "alert");
    // What a reader says inside it: the two texts and the buttons, and no picture named by its class.
    std::vector<std::string> spoken;
    for (const Accessible& object : subtree(alert, 0))
        if (!object.name.empty() && object.depth > alert[0].depth)
            spoken.push_back(object.role + " " + object.name);
    EXPECT_EQ(spoken, (std::vector<std::string>{
                          "label " + message, "label Commands running in these sessions may be interrupted.",
                          "push button Cancel", "label Cancel", "push button Quit Vesk", "label Quit Vesk"}));
    vesk.answerAlert(message, false);
    vesk.expect([](const State& s) { return s.alerts().empty(); }, "Return cancelled");
}

TEST(AccessibilityGuiTests, TheAboutPanelOpensWithNothingSelected)
{
    Vesk vesk(withAccessibility());
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.activate("app.about");
    // Read once the panel has the keyboard: a label that takes the focus selects its text then.
    const std::vector<Accessible> panel =
        windowWhen(vesk, "About Vesk", [](const std::vector<Accessible>& w) {
            return w[0].states.find("active") != std::string::npos &&
                   std::any_of(w.begin(), w.end(), [](const Accessible& o) { return o.name == "Vesk"; });
        });
    ASSERT_FALSE(panel.empty()) << joined(describe(accessibles(vesk)));
    for (const Accessible& object : panel)
        EXPECT_EQ(object.selected, "") << object.role << " \"" << object.name << "\"";
}

} // namespace
} // namespace veskgui
