#include "Kestrovan/Apple/CaretView.h"

#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/GlyphSlotFit.h"

namespace kestrovan {

CaretView::CaretView(std::weak_ptr<TerminalView> terminal, platform::Rect frame, CursorStyle style,
                     platform::NativeColor defaultColor)
    : terminal_(std::move(terminal)), frame_(frame), style_(style), defaultCaretColor_(defaultColor),
      caretColor_(defaultColor), bgColor_(defaultColor)
{
    drawState_.renderCursorColor = defaultColor;
    drawState_.renderTextColor = platform::NativeColor::sRGB(0, 0, 0);
}

void CaretView::draw(const platform::DrawRequest& request)
{
    const std::shared_ptr<TerminalView> terminal = terminal_.lock();
    if (!request.canvas || !terminal)
        return;
    CaretDrawState state = drawState_;
    state.bounds = platform::Rect{0, 0, frame_.width, frame_.height};
    state.style = style_;
    state.powerlineRenderMode = powerlineRenderMode_;
    // A caret that follows the view's focus draws the hollow box while the view is not focused.
    const bool focus = !tracksFocus_ || terminal->hasFocus();
    drawCursor(*request.canvas, state, GlyphSlotFitter(terminal->fontSet(), terminal->cellDimension()),
               focus);
}

void CaretView::setPresentation(std::shared_ptr<platform::View> view)
{
    // A new host's subview starts from the caret's current state.
    view_ = std::move(view);
    if (!view_)
        return;
    view_->setFrame(frame_);
    view_->setHidden(!inSuperview_);
    view_->setNeedsDisplay();
}

void CaretView::setFrame(const platform::Rect& frame)
{
    if (frame == frame_)
        return;
    frame_ = frame;
    if (view_)
        view_->setFrame(frame);
}

void CaretView::addToSuperview()
{
    if (inSuperview_)
        return;
    inSuperview_ = true;
    if (view_)
        view_->setHidden(false);
}

void CaretView::removeFromSuperview()
{
    // Taken away means hidden: the same subview shows the caret again when the cursor returns.
    if (!inSuperview_)
        return;
    inSuperview_ = false;
    if (view_)
        view_->setHidden(true);
}

void CaretView::updateCursorStyle()
{
    // The drawing reads the style, focus and colours at each draw, so a redraw applies them.
    ++styleUpdates_;
    setNeedsDisplay();
}

void CaretView::resetBlinkAfterInput()
{
    // The blink phase is the caret drawing's; restarting it is counted here for the widget.
    ++blinkResets_;
}

void CaretView::setCaretColor(platform::NativeColor color)
{
    // The background the caret paints follows its colour, as the two are one setting.
    caretColor_ = color;
    bgColor_ = color;
    setNeedsDisplay();
}

void CaretView::setCaretTextColor(std::optional<platform::NativeColor> color)
{
    caretTextColor_ = color;
    setNeedsDisplay();
}

void CaretView::setNeedsDisplay()
{
    ++displayRequests_;
    if (view_)
        view_->setNeedsDisplay();
}

} // namespace kestrovan
