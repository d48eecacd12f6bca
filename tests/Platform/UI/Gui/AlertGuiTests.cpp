// Alerts in a real window on a private X server: the box of detail text has the size the alert
// asks for, carries its accessible label, and draws exactly the characters of its text; a word
// longer than the box's width wraps without a hyphen that is not in the text.
//
// Regression: the paste review's preview was 480 x 96 points whatever it asked for, had no
// accessible label, and wrapped long words with hyphens.
#include "GuiHarness.h"

#include "Platform/UI/GtkAlert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace guitest;

namespace {

/// The first widget under `widget`, depth first, of `type`.
GtkWidget* findWidget(GtkWidget* widget, GType type)
{
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type))
        return widget;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child))
        if (GtkWidget* found = findWidget(child, type))
            return found;
    return nullptr;
}

GtkWindow* windowTitled(const std::string& title)
{
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
        auto* candidate = GTK_WINDOW(g_list_model_get_item(toplevels, index));
        g_object_unref(candidate);
        const char* name = gtk_window_get_title(candidate);
        if (name && title == name && gtk_widget_get_mapped(GTK_WIDGET(candidate)))
            return candidate;
    }
    return nullptr;
}

/// The size of `widget`'s box, its border included, in points.
std::pair<int, int> outerSize(GtkWidget* widget)
{
    graphene_rect_t bounds;
    if (!gtk_widget_compute_bounds(widget, widget, &bounds))
        return {0, 0};
    return {int(std::lround(bounds.size.width)), int(std::lround(bounds.size.height))};
}

/// The glyphs of every text node under `node`, in drawing order.
void collectGlyphs(GskRenderNode* node, std::vector<PangoGlyph>& glyphs)
{
    switch (gsk_render_node_get_node_type(node)) {
    case GSK_TEXT_NODE: {
        // The count comes on its own: the glyphs' getter is declared pure, so its count argument
        // cannot be relied on.
        const guint count = gsk_text_node_get_num_glyphs(node);
        const PangoGlyphInfo* infos = gsk_text_node_get_glyphs(node, nullptr);
        for (guint i = 0; i < count; ++i)
            glyphs.push_back(infos[i].glyph);
        break;
    }
    case GSK_CONTAINER_NODE:
        for (guint i = 0; i < gsk_container_node_get_n_children(node); ++i)
            collectGlyphs(gsk_container_node_get_child(node, i), glyphs);
        break;
    case GSK_TRANSFORM_NODE:
        collectGlyphs(gsk_transform_node_get_child(node), glyphs);
        break;
    case GSK_CLIP_NODE:
        collectGlyphs(gsk_clip_node_get_child(node), glyphs);
        break;
    case GSK_ROUNDED_CLIP_NODE:
        collectGlyphs(gsk_rounded_clip_node_get_child(node), glyphs);
        break;
    case GSK_OPACITY_NODE:
        collectGlyphs(gsk_opacity_node_get_child(node), glyphs);
        break;
    case GSK_COLOR_MATRIX_NODE:
        collectGlyphs(gsk_color_matrix_node_get_child(node), glyphs);
        break;
    case GSK_DEBUG_NODE:
        collectGlyphs(gsk_debug_node_get_child(node), glyphs);
        break;
    case GSK_SHADOW_NODE:
        collectGlyphs(gsk_shadow_node_get_child(node), glyphs);
        break;
    default:
        break;
    }
}

/// The glyphs `widget` draws now.
std::vector<PangoGlyph> drawnGlyphs(GtkWidget* widget)
{
    GdkPaintable* paintable = gtk_widget_paintable_new(widget);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(snapshot), gtk_widget_get_width(widget),
                           gtk_widget_get_height(widget));
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    std::vector<PangoGlyph> glyphs;
    if (node) {
        collectGlyphs(node, glyphs);
        gsk_render_node_unref(node);
    }
    g_object_unref(paintable);
    return glyphs;
}

class AlertGui : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Accessible properties are kept only where there is an accessibility context: the test's
        // own, in place of none.
        setenv("GTK_A11Y", "test", 1);
        if (!startGtk())
            GTEST_SKIP() << "no display";
    }
    void TearDown() override
    {
        if (GtkWindow* open = windowTitled(alert.messageText))
            gtk_window_destroy(open);
        spinUntil([&] { return answer.has_value(); });
    }

    /// Presents `alert` and waits until its window shows; the window.
    GtkWindow* present()
    {
        platform::gtk::presentAlert(alert, nullptr, [this](int button) { answer = button; });
        GtkWindow* shown = nullptr;
        spinUntil([&] { return (shown = windowTitled(alert.messageText)) != nullptr; });
        return shown;
    }

    platform::Alert alert;
    std::optional<int> answer;
};

TEST_F(AlertGui, TheDetailBoxHasItsSizeItsLabelAndDrawsExactlyItsText)
{
    // One word far longer than a line, then a line of its own.
    const std::string word(400, 'x');
    alert.messageText = "Paste 401 bytes of text?";
    alert.informativeText = "The complete text is shown below.";
    alert.detailText = word + "\nxx";
    alert.detailWidth = 600;
    alert.detailHeight = 320;
    alert.detailInset = 8;
    alert.detailAccessibleLabel = "Complete paste preview";
    alert.buttons = {"Cancel", "Paste"};
    GtkWindow* window = present();
    ASSERT_NE(window, nullptr);
    GtkWidget* scroller = findWidget(GTK_WIDGET(window), GTK_TYPE_SCROLLED_WINDOW);
    GtkWidget* text = findWidget(GTK_WIDGET(window), GTK_TYPE_TEXT_VIEW);
    ASSERT_NE(scroller, nullptr);
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(scroller) > 0; }));

    EXPECT_EQ(outerSize(scroller), std::pair(600, 320));
    EXPECT_EQ(gtk_text_view_get_left_margin(GTK_TEXT_VIEW(text)), 8);
    EXPECT_EQ(gtk_text_view_get_top_margin(GTK_TEXT_VIEW(text)), 8);
    char* wrong = gtk_test_accessible_check_property(GTK_ACCESSIBLE(text), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                                     "Complete paste preview");
    EXPECT_EQ(wrong, nullptr) << "the label is " << (wrong ? wrong : "");
    g_free(wrong);

    // The long word takes several lines, and every glyph drawn is an x: 402 of them, and no hyphen
    // at a break.
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text)), &start);
    int lines = 1;
    while (gtk_text_view_forward_display_line(GTK_TEXT_VIEW(text), &start))
        ++lines;
    EXPECT_GE(lines, 5) << "400 letters wrap in 600 points";
    const std::vector<PangoGlyph> glyphs = drawnGlyphs(text);
    ASSERT_FALSE(glyphs.empty());
    EXPECT_EQ(glyphs.size(), 402u);
    EXPECT_EQ(std::count(glyphs.begin(), glyphs.end(), glyphs.front()), long(glyphs.size()))
        << "a glyph other than the text's x was drawn";
}

TEST_F(AlertGui, ADetailBoxKeepsItsUsualSizeAndNoLabelUnlessAsked)
{
    alert.messageText = "Open link from terminal output?";
    alert.detailText = "vscode://x";
    alert.buttons = {"Cancel", "Open Link"};
    GtkWindow* window = present();
    ASSERT_NE(window, nullptr);
    GtkWidget* scroller = findWidget(GTK_WIDGET(window), GTK_TYPE_SCROLLED_WINDOW);
    ASSERT_NE(scroller, nullptr);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(scroller) > 0; }));
    EXPECT_EQ(outerSize(scroller).second, 96);
    EXPECT_GE(outerSize(scroller).first, 480);
    GtkWidget* text = findWidget(GTK_WIDGET(window), GTK_TYPE_TEXT_VIEW);
    EXPECT_FALSE(gtk_test_accessible_has_property(GTK_ACCESSIBLE(text), GTK_ACCESSIBLE_PROPERTY_LABEL));
}

} // namespace
