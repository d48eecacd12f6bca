// A `Label` on GtkLabel: one line of text in a colour, background and font of the view's choosing,
// given to the label through a style provider of its own. It lets pointer events through.
#pragma once

#include "Platform/UI/GtkChildPlacement.h"
#include "Platform/UI/Label.h"

typedef struct _GtkCssProvider GtkCssProvider;

namespace platform::gtk {

class GtkLabelView final : public GtkChildSubview<Label>
{
public:
    /// A new label, empty; its widget is not yet in any parent.
    GtkLabelView();
    ~GtkLabelView() override;
    GtkLabelView(const GtkLabelView&) = delete;
    GtkLabelView& operator=(const GtkLabelView&) = delete;

    void setText(const std::string& text) override;
    std::string text() const override;
    void setColors(NativeColor text, NativeColor background) override;
    void setFont(const std::string& family, double size) override;
    Size fittingSize() const override;

    GtkWidget* widget() const { return view_.widget(); }

private:
    void updateStyle();

    GtkCssProvider* style_;
    NativeColor textColor_ = NativeColor::sRGB(0, 0, 0);
    NativeColor backgroundColor_ = NativeColor::sRGB(1, 1, 1);
    std::string fontFamily_ = "sans-serif";
    double fontSize_ = 12;
};

} // namespace platform::gtk
