#include "Kestrovan/Apple/CaretView.h"

namespace kestrovan {

CaretView::CaretView(platform::Rect frame, CursorStyle style, platform::NativeColor defaultColor)
    : frame_(frame), style_(style), defaultCaretColor_(defaultColor), caretColor_(defaultColor),
      bgColor_(defaultColor)
{}

void CaretView::setPresentation(std::shared_ptr<platform::View> view)
{
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
    if (!inSuperview_)
        return;
    inSuperview_ = false;
    if (view_)
        view_->setHidden(true);
}

void CaretView::updateCursorStyle()
{
    ++styleUpdates_;
    setNeedsDisplay();
}

void CaretView::resetBlinkAfterInput()
{
    ++blinkResets_;
}

void CaretView::setCaretColor(platform::NativeColor color)
{
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
