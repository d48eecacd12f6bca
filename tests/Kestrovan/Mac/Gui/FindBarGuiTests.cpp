// The find bar in a local-process view on a private X server: Ctrl+Shift+F opens it filled from
// the selection, Return and Shift+Return step forwards and backwards with each option, the match
// shown in the selection's colour, and Escape hands the keys back to the shell.

#include "TerminalGuiFixture.h"

#include "Kestrovan/SelectionService.h"
#include "Platform/UI/GtkChildPlacement.h"

namespace {

using namespace std::chrono_literals;
using guitest::spinUntil;

class FindBarGuiTests : public guitest::TerminalGuiTest
{
protected:
    /// The selected match as "row:column", or "none".
    std::string match()
    {
        return view->withTerminal(
            [&](kestrovan::Terminal& terminal) -> std::string {
                const auto& selection = *view->selection();
                if (!selection.active())
                    return "none";
                return std::to_string(selection.start().row - terminal.buffer().yDisp()) + ":" +
                       std::to_string(selection.start().col);
            },
            "test");
    }
    /// Waits for the selected match to be `expected`.
    bool matchIs(const std::string& expected)
    {
        return spinUntil([&] { return match() == expected; });
    }
    /// The bar's check button titled `title`.
    GtkWidget* checkButton(GtkWidget* widget, const std::string& title)
    {
        if (GTK_IS_CHECK_BUTTON(widget)) {
            const char* label = gtk_check_button_get_label(GTK_CHECK_BUTTON(widget));
            if (label && title == label)
                return widget;
        }
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
             child = gtk_widget_get_next_sibling(child))
            if (GtkWidget* found = checkButton(child, title))
                return found;
        return nullptr;
    }
    /// Clicks the bar's check button titled `title`, as the user would.
    void toggle(const std::string& title)
    {
        GtkWidget* button = checkButton(platform::gtk::GtkChildView::widgetOf(view->findBar().get()), title);
        ASSERT_NE(button, nullptr) << title;
        graphene_rect_t bounds;
        ASSERT_TRUE(gtk_widget_compute_bounds(button, GTK_WIDGET(window), &bounds));
        guitest::xdotool("mousemove" + onWindow() + " " + std::to_string(int(bounds.origin.x + 8)) + " " +
                         std::to_string(int(bounds.origin.y + bounds.size.height / 2)));
        guitest::xdotool("click 1");
    }
    /// Replaces the field's text by typing, as the user would.
    void typeInField(const std::string& text)
    {
        guitest::xdotool("key ctrl+a BackSpace");
        guitest::xdotool("type --delay 10 '" + text + "'");
    }
};

TEST_F(FindBarGuiTests, OpensPrefilledSearchesBothWaysWithEachOptionAndHandsTheKeysBack)
{
    open(640, 300);
    run("printf '\\033[?25lalpha beta\\r\\nBeta gamma\\r\\nbeta betamax\\r\\n'; export PS1='vesk$ '; exec "
        "/bin/sh -i");
    ASSERT_GE(waitForRow("vesk$"), 0);
    view->withTerminal(
        [&](kestrovan::Terminal&) {
            view->selection()->setSelection(kestrovan::Position(6, 0), kestrovan::Position(10, 0));
        },
        "test");

    key("ctrl+shift+f");
    ASSERT_TRUE(spinUntil([&] { return view->findBarVisible(); }));
    EXPECT_EQ(view->findBar()->searchText(), "beta") << "filled from the selection";
    ASSERT_TRUE(matchIs("0:6")) << match();

    // Return and Shift+Return step through "beta" in any case.
    guitest::xdotool("key Return");
    EXPECT_TRUE(matchIs("1:0")) << match();
    guitest::xdotool("key Return");
    EXPECT_TRUE(matchIs("2:0")) << match();
    guitest::xdotool("key shift+Return");
    EXPECT_TRUE(matchIs("1:0")) << match();
    guitest::xdotool("key Return");
    EXPECT_TRUE(matchIs("2:0")) << match();

    // The match is drawn in the selection's colour.
    const auto [x, y] = cellPixel(1, 2);
    const double cellHeight = view->cellDimension()->height;
    const auto selectionColoured = [&](const guitest::Screenshot& shot) {
        int count = 0;
        for (int dy = -int(cellHeight / 2) + 1; dy < int(cellHeight / 2); ++dy)
            count += shot.pixel(x, y + dy) == 0x00A6B2;
        return count;
    };
    const guitest::Screenshot shot =
        shotWhen([&](const guitest::Screenshot& shot) { return selectionColoured(shot) > 2; });
    keep(shot, "find-match");
    EXPECT_GT(selectionColoured(shot), 2);

    // Case sensitive: turning it on searches on at once; going back, "Beta" on row 1 is skipped.
    toggle("Aa");
    ASSERT_TRUE(spinUntil([&] { return view->findBarOptions().caseSensitive; }));
    EXPECT_TRUE(matchIs("2:5")) << match();
    guitest::xdotool("key shift+Return");
    EXPECT_TRUE(matchIs("2:0")) << match();
    guitest::xdotool("key shift+Return");
    EXPECT_TRUE(matchIs("0:6")) << match();
    toggle("Aa");
    // A regular expression, then whole words only.
    toggle(".*");
    typeInField("b.t.m");
    EXPECT_TRUE(matchIs("2:5")) << match();
    toggle(".*");
    toggle("Word");
    typeInField("bet");
    guitest::xdotool("key Return");
    EXPECT_TRUE(matchIs("none")) << "no whole word \"bet\"";
    typeInField("gamma");
    EXPECT_TRUE(matchIs("1:5")) << match();

    // Escape hides the bar; typing reaches the shell again.
    guitest::xdotool("key Escape");
    ASSERT_TRUE(spinUntil([&] { return !view->findBarVisible() && view->hasFocus(); }));
    type("echo typed-again");
    EXPECT_GE(waitForRow("typed-again"), 0);
}

} // namespace
