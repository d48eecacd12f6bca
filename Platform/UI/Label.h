// A one-line text label placed over a view, in colours and a font of its own: the toolkit's own
// label widget, so that it looks and reads like the desktop's other labels. The label lets pointer
// events through to the view under it.
#pragma once

#include "Platform/Graphics/NativeColor.h"
#include "Platform/UI/View.h"

#include <string>

namespace platform {

class Label : public View
{
public:
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
    /// The text's colour and the colour of the label's whole frame behind it.
    virtual void setColors(NativeColor text, NativeColor background) = 0;
    /// A font by family name ("sans-serif") and size in points.
    virtual void setFont(const std::string& family, double size) = 0;
    /// The smallest size showing the whole text on one line, in points.
    virtual Size fittingSize() const = 0;
};

} // namespace platform
