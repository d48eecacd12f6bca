#include "Platform/UI/RecordingViewHost.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/UI/MenuKeyRouter.h"
#include "Platform/UI/TextInputCommand.h"
#include "Platform/UI/Utf8.h"

#include <algorithm>

namespace platform {

void RecordingView::orderAbove(const View* sibling)
{
    if (host_)
        host_->reorder(this, sibling, true);
}

void RecordingView::orderBelow(const View* sibling)
{
    if (host_)
        host_->reorder(this, sibling, false);
}

void RecordingView::removeFromSuperview()
{
    removed = true;
    if (host_)
        host_->remove(this);
    host_ = nullptr;
}

void RecordingScroller::userActs(ScrollerPart part, double doubleValue)
{
    state_.doubleValue = doubleValue;
    if (onAction)
        onAction(part, doubleValue);
}

Size RecordingLabel::fittingSize() const
{
    return Size{double(scalarsFromUtf8(text_).size()) * fontSize * 0.6, fontSize * 1.25};
}

void RecordingFindBar::userTypes(const std::string& text)
{
    text_ = text;
    if (onSearchChanged)
        onSearchChanged(text);
}

void RecordingFindBar::userPressesReturn(bool shift)
{
    const std::function<void()>& step = shift ? onFindPrevious : onFindNext;
    if (step)
        step();
}

void RecordingFindBar::userPressesEscape()
{
    if (onClose)
        onClose();
}

bool RecordingFindBar::userPressesKey(const KeyEvent& event)
{
    return menuKeyEquivalent(event) && onShortcut && onShortcut(event);
}

void RecordingFindBar::userSetsOptions(FindBarOptions options)
{
    options_ = options;
    if (onOptionsChanged)
        onOptionsChanged(options);
}

RecordingViewHost::~RecordingViewHost()
{
    for (RecordingView* view : order)
        view->host_ = nullptr;
    if (core_)
        core_->attachHost(nullptr);
}

void RecordingViewHost::attach(std::shared_ptr<ViewCore> core)
{
    // The order the widget keeps: the host first, then the scale it shows at, the size of its
    // first allocation, and its window.
    core_ = std::move(core);
    core_->attachHost(this);
    core_->scaleChanged(scale_);
    core_->sizeChanged(size_);
    core_->windowChanged(hasWindow_);
}

void RecordingViewHost::resize(Size size)
{
    if (size == size_)
        return;
    size_ = size;
    setNeedsDisplay();
    if (core_)
        core_->sizeChanged(size);
}

void RecordingViewHost::setScale(double scale)
{
    if (scale == scale_)
        return;
    scale_ = scale;
    setNeedsDisplay();
    if (core_)
        core_->scaleChanged(scale);
}

void RecordingViewHost::setWindow(bool hasWindow)
{
    if (hasWindow == hasWindow_)
        return;
    hasWindow_ = hasWindow;
    if (core_)
        core_->windowChanged(hasWindow);
}

void RecordingViewHost::setWindowVisible(bool visible)
{
    if (visible == windowVisible_)
        return;
    windowVisible_ = visible;
    if (core_)
        core_->visibilityChanged(visible);
}

void RecordingViewHost::setFocus(bool focused)
{
    if (focused == focused_)
        return;
    focused_ = focused;
    if (core_)
        core_->focusChanged(focused);
}

void RecordingViewHost::setWindowActive(bool active)
{
    if (active == windowActive_)
        return;
    windowActive_ = active;
    if (core_)
        core_->windowActiveChanged(active);
}

void RecordingViewHost::setAppearance(const Appearance& appearance)
{
    if (appearance == appearance_)
        return;
    appearance_ = appearance;
    if (core_)
        core_->appearanceChanged(appearance);
}

void RecordingViewHost::deliverKey(const KeyEvent& event)
{
    if (!core_)
        return;
    switch (event.type) {
    case KeyEventType::keyDown:
        core_->keyDown(event);
        break;
    case KeyEventType::keyUp:
        core_->keyUp(event);
        break;
    case KeyEventType::flagsChanged:
        core_->flagsChanged(event);
        break;
    }
}

void RecordingViewHost::deliverMouse(const MouseEvent& event)
{
    if (core_)
        core_->mouseEvent(event);
}

void RecordingViewHost::deliverScroll(const ScrollEvent& event)
{
    if (core_)
        core_->scrollWheel(event);
}

void RecordingViewHost::setPrimarySelectionText(const std::string& text)
{
    primaryOffers.push_back(text);
    primaryClipboard.setText(text);
}

bool RecordingViewHost::drawIfNeeded()
{
    // As a frame of the widget: one draw of everything marked since the last, clipped to the view.
    backing_.resize(size_, scale_);
    const Rect dirty = backing_.dirtyRect();
    if (!core_ || dirty.isEmpty())
        return false;
    DrawRequest request;
    request.dirtyRect = dirty;
    request.size = size_;
    request.scale = scale_;
    drawnRects.push_back(dirty);
    std::optional<Canvas> canvas = backing_.beginFrame();
    request.canvas = canvas ? &*canvas : nullptr;
    core_->draw(request);
    return true;
}

void RecordingViewHost::grabFocus()
{
    ++focusRequests;
    setFocus(true);
}

void RecordingViewHost::setNeedsDisplay()
{
    ++fullRedraws;
    backing_.resize(size_, scale_);
    backing_.invalidateAll();
}

void RecordingViewHost::setNeedsDisplayInRect(const Rect& rect)
{
    redrawRects.push_back(rect);
    backing_.resize(size_, scale_);
    backing_.invalidate(rect);
}

void RecordingViewHost::interpretKeyEvent(const KeyEvent& event)
{
    // The widget's order: the input method first, then the standard bindings for what it left.
    interpretedKeys.push_back(event);
    if (inputMethod && inputMethod(event))
        return;
    if (!core_)
        return;
    applyStandardKeyBinding(*core_, event);
}

std::shared_ptr<View> RecordingViewHost::addSubview(std::shared_ptr<ViewCore> core)
{
    auto view = std::make_shared<RecordingView>();
    view->core = std::move(core);
    view->host_ = this;
    subviews.push_back(view);
    order.push_back(view.get());
    return view;
}

std::shared_ptr<Scroller> RecordingViewHost::addScroller()
{
    auto scroller = std::make_shared<RecordingScroller>();
    scroller->view.host_ = this;
    scroller->setHidden(true);
    scrollers.push_back(scroller);
    order.push_back(&scroller->view);
    return scroller;
}

void RecordingViewHost::adopt(RecordingView& view)
{
    view.host_ = this;
    order.push_back(&view);
}

std::shared_ptr<Label> RecordingViewHost::addLabel()
{
    auto label = std::make_shared<RecordingLabel>();
    adopt(label->view);
    labels.push_back(label);
    return label;
}

std::shared_ptr<FindBar> RecordingViewHost::addFindBar(const FindBarLabels& barLabels)
{
    auto bar = std::make_shared<RecordingFindBar>(barLabels);
    adopt(bar->view);
    bar->setHidden(true);
    findBars.push_back(bar);
    return bar;
}

void RecordingViewHost::presentAlert(const Alert& alert, AlertCompletion completion)
{
    alerts.push_back(alert);
    openAlerts_.emplace_back(alert, std::move(completion));
}

bool RecordingViewHost::answerAlert(int button)
{
    if (openAlerts_.empty())
        return false;
    AlertCompletion completion = std::move(openAlerts_.front().second);
    openAlerts_.erase(openAlerts_.begin());
    completion(button);
    return true;
}

std::vector<Alert> RecordingViewHost::openAlerts() const
{
    std::vector<Alert> open;
    for (const auto& entry : openAlerts_)
        open.push_back(entry.first);
    return open;
}

void RecordingViewHost::reorder(RecordingView* view, const View* sibling, bool above)
{
    // The same rule as the widget's: a sibling that is not one of ours means the top or bottom.
    auto self = std::find(order.begin(), order.end(), view);
    if (self == order.end())
        return;
    order.erase(self);
    // Scrollers, labels and find bars stand in the order through their views.
    const View* target = sibling;
    for (const auto& scroller : scrollers)
        if (scroller.get() == sibling)
            target = &scroller->view;
    for (const auto& label : labels)
        if (label.get() == sibling)
            target = &label->view;
    for (const auto& bar : findBars)
        if (bar.get() == sibling)
            target = &bar->view;
    auto at = std::find_if(order.begin(), order.end(), [&](RecordingView* v) { return v == target; });
    if (at == order.end())
        order.insert(above ? order.end() : order.begin(), view);
    else
        order.insert(above ? at + 1 : at, view);
}

void RecordingViewHost::remove(RecordingView* view)
{
    order.erase(std::remove(order.begin(), order.end(), view), order.end());
}

} // namespace platform
