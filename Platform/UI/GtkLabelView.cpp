#include "Platform/UI/GtkLabelView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtk/gtk.h>

namespace platform::gtk {

namespace {

// A CSS colour of the colour's sRGB form, clamped; black for a paint without one.
std::string cssColor(const NativeColor& color)
{
    const NativeColor srgb = color.usingSRGB().value_or(NativeColor::sRGB(0, 0, 0));
    auto channel = [](double value) {
        return std::isfinite(value) ? int(std::lround(std::clamp(value, 0.0, 1.0) * 255)) : 0;
    };
    const double alpha = std::isfinite(srgb.alpha) ? std::clamp(srgb.alpha, 0.0, 1.0) : 1.0;
    char text[64];
    std::snprintf(text, sizeof text, "rgba(%d,%d,%d,%.3f)", channel(srgb.red), channel(srgb.green),
                  channel(srgb.blue), alpha);
    return text;
}

// A family name as a CSS string: quotes and backslashes could end the rule early, so they go.
std::string cssFamily(const std::string& family)
{
    std::string safe;
    for (const char c : family)
        if (c != '"' && c != '\\' && c != ';' && c != '}' && c != '\n')
            safe.push_back(c);
    return safe.empty() ? "sans-serif" : safe;
}

} // namespace

GtkLabelView::GtkLabelView() : GtkChildSubview<Label>(gtk_label_new(nullptr)), style_(gtk_css_provider_new())
{
    GtkWidget* label = view_.widget();
    gtk_label_set_single_line_mode(GTK_LABEL(label), true);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    // The label only shows text: the pointer works on the view under it.
    gtk_widget_set_can_target(label, false);
    gtk_widget_set_focusable(label, false);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_style_context_add_provider(gtk_widget_get_style_context(label), GTK_STYLE_PROVIDER(style_),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    G_GNUC_END_IGNORE_DEPRECATIONS
    updateStyle();
}

GtkLabelView::~GtkLabelView()
{
    removeFromSuperview();
    g_object_unref(style_);
}

void GtkLabelView::setText(const std::string& text)
{
    // GTK shows only UTF-8; anything else is replaced rather than refused.
    char* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    gtk_label_set_text(GTK_LABEL(view_.widget()), valid);
    g_free(valid);
}

std::string GtkLabelView::text() const
{
    return gtk_label_get_text(GTK_LABEL(view_.widget()));
}

void GtkLabelView::setColors(NativeColor text, NativeColor background)
{
    textColor_ = text;
    backgroundColor_ = background;
    updateStyle();
}

void GtkLabelView::setFont(const std::string& family, double size)
{
    fontFamily_ = family;
    fontSize_ = std::isfinite(size) && size > 0 ? size : 12;
    updateStyle();
}

Size GtkLabelView::fittingSize() const
{
    int minimum = 0;
    int width = 0;
    int height = 0;
    gtk_widget_measure(view_.widget(), GTK_ORIENTATION_HORIZONTAL, -1, &minimum, &width, nullptr, nullptr);
    gtk_widget_measure(view_.widget(), GTK_ORIENTATION_VERTICAL, width, &minimum, &height, nullptr, nullptr);
    return Size{double(width), double(height)};
}

void GtkLabelView::updateStyle()
{
    // Sizes are the view's points, which are GTK's logical pixels.
    char size[32];
    std::snprintf(size, sizeof size, "%.2fpx", fontSize_);
    const std::string css = "label { color: " + cssColor(textColor_) +
                            "; background-color: " + cssColor(backgroundColor_) + "; font-family: \"" +
                            cssFamily(fontFamily_) + "\"; font-size: " + size + "; padding: 1px 3px; }";
    gtk_css_provider_load_from_data(style_, css.c_str(), gssize(css.size()));
}

} // namespace platform::gtk
