// Whether a tab's panes may draw on the GPU: not in a tab hidden behind another, nor in a window
// without the focus. Updates are coalesced into one pass a main-loop turn, and a pane is touched
// only when its suspension really changes.

#include "Platform/Dispatch/MainQueue.h"
#include "Vesk/TerminalWindow.h"
#include "Vesk/TerminalWindowController.h"

namespace vesk {

bool TerminalWindowController::isHiddenTab() const
{
    const auto window = window_.lock();
    if (!window)
        return false;
    const auto tabs = window->tabs();
    const auto selected = window->selectedTab();
    return tabs.size() >= 2 && selected && selected.get() != this;
}

bool TerminalWindowController::suspensionNow() const
{
    if (isHiddenTab())
        return true;
    const auto window = window_.lock();
    // A minimised window shows nothing.
    if (window && window->isMinimized())
        return true;
    return !windowHasFocus_;
}

void TerminalWindowController::windowDidBecomeKey()
{
    windowHasFocus_ = true;
    scheduleGraphicsUpdate();
}

void TerminalWindowController::windowDidResignKey()
{
    windowHasFocus_ = false;
    scheduleGraphicsUpdate();
}

void TerminalWindowController::scheduleGraphicsUpdate()
{
    if (isClosed_ || graphicsUpdateQueued_)
        return;
    graphicsUpdateQueued_ = true;
    std::weak_ptr<TerminalWindowController> weak = weak_from_this();
    platform::MainQueue::shared()->async([weak] {
        const auto controller = weak.lock();
        if (!controller)
            return;
        controller->graphicsUpdateQueued_ = false;
        controller->updateGraphics();
    });
}

void TerminalWindowController::updateGraphics()
{
    if (isClosed_)
        return;
    ++graphicsUpdates_;
    const bool suspended = suspensionNow();
    for (const auto& pane : panes_) {
        if (pane->graphicsSuspended == suspended)
            continue;
        pane->graphicsSuspended = suspended;
        pane->applyRenderingPreference();
    }
}

} // namespace vesk
