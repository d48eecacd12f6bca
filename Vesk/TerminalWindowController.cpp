#include "Vesk/TerminalWindowController.h"

#include "Vesk/AlertCenter.h"
#include "Vesk/LoginShell.h"
#include "Vesk/TerminalWindow.h"
#include "VeskCore/WorkingDirectory.h"

#include <algorithm>
#include <gtk/gtk.h>

namespace vesk {

std::shared_ptr<TerminalWindowController>
TerminalWindowController::create(bool startsSessions, RenderingPreferences& renderingPreferences,
                                 std::function<void(SafeTerminalView&)> configureTerminal)
{
    auto controller = std::make_shared<TerminalWindowController>(startsSessions, renderingPreferences,
                                                                 std::move(configureTerminal));
    // The first pane, in the home folder; it fills the page.
    std::shared_ptr<TerminalPane> pane =
        controller->makePane(LoginShell::homeDirectory(), TerminalPane::defaultFontSize);
    controller->panes_.push_back(pane);
    gtk_box_append(GTK_BOX(controller->page_), pane->view());
    controller->activate(*pane);
    controller->updateGraphics();
    return controller;
}

TerminalWindowController::TerminalWindowController(bool startsSessions,
                                                   RenderingPreferences& renderingPreferences,
                                                   std::function<void(SafeTerminalView&)> configureTerminal)
    : startsSessions_(startsSessions), renderingPreferences_(renderingPreferences),
      configureTerminal_(std::move(configureTerminal))
{
    page_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref_sink(page_);
    gtk_widget_set_hexpand(page_, true);
    gtk_widget_set_vexpand(page_, true);
}

TerminalWindowController::~TerminalWindowController()
{
    g_object_unref(page_);
}

std::shared_ptr<TerminalPane> TerminalWindowController::makePane(const std::string& directory,
                                                                 double fontSize)
{
    std::shared_ptr<TerminalPane> pane =
        TerminalPane::create(directory, fontSize, renderingPreferences_, configureTerminal_);
    const bool suspended = suspensionNow();
    if (suspended != pane->graphicsSuspended) {
        pane->graphicsSuspended = suspended;
        pane->applyRenderingPreference();
    }
    std::weak_ptr<TerminalWindowController> weak = weak_from_this();
    pane->onDirectoryChanged = [weak](TerminalPane& changed) {
        const auto controller = weak.lock();
        if (controller && controller->activePane_.get() == &changed)
            controller->updateTabLabel();
    };
    pane->onClose = [weak](TerminalPane& closing) {
        if (const auto controller = weak.lock())
            controller->closePane(closing);
    };
    pane->onStateChanged = [weak](TerminalPane&) {
        if (const auto controller = weak.lock())
            controller->notifyStateChanged();
    };
    return pane;
}

bool TerminalWindowController::contains(const TerminalPane& pane) const
{
    return std::any_of(panes_.begin(), panes_.end(),
                       [&pane](const auto& entry) { return entry.get() == &pane; });
}

void TerminalWindowController::setWindow(const std::shared_ptr<TerminalWindow>& window)
{
    window_ = window;
    // A tab that joined a window follows that window's focus.
    if (window)
        windowHasFocus_ = window->isActive();
    scheduleGraphicsUpdate();
}

void TerminalWindowController::notifyStateChanged()
{
    if (const auto window = window_.lock(); window && window->selectedTab().get() == this)
        window->updateActionStates();
    if (onStateChanged)
        onStateChanged();
}

// --- The active pane -----------------------------------------------------------------------------

void TerminalWindowController::markActive(TerminalPane& pane)
{
    if (!contains(pane))
        return;
    for (const auto& entry : panes_)
        if (entry.get() == &pane)
            activePane_ = entry;
    for (const auto& entry : panes_)
        entry->setActive(entry.get() == &pane);
    updateTabLabel();
    notifyStateChanged();
}

void TerminalWindowController::activate(TerminalPane& pane)
{
    if (!contains(pane))
        return;
    markActive(pane);
    pane.focus();
}

void TerminalWindowController::focusMoved(GtkWidget* widget)
{
    if (!widget)
        return;
    // The pane whose terminal view holds the focus, or whose container holds the focused widget
    // (its find bar), becomes active.
    for (const auto& pane : panes_) {
        if (widget == pane->terminalWidget() || gtk_widget_is_ancestor(widget, pane->view())) {
            if (pane != activePane_)
                markActive(*pane);
            return;
        }
    }
}

void TerminalWindowController::updateTabLabel()
{
    if (!activePane_)
        return;
    const std::string& directory = activePane_->currentDirectory();
    title_ = WorkingDirectory::abbreviatedPath(directory, LoginShell::homeDirectory());
    tabLabel_ = WorkingDirectory::label(directory);
    toolTip_ = WorkingDirectory::displayText(directory);
    if (const auto window = window_.lock())
        window->tabTitlesChanged(*this);
    if (onStateChanged)
        onStateChanged();
}

// --- Tabs ----------------------------------------------------------------------------------------

void TerminalWindowController::cycleTab(int delta)
{
    const auto window = window_.lock();
    if (!window)
        return;
    const auto tabs = window->tabs();
    const auto found =
        std::find_if(tabs.begin(), tabs.end(), [this](const auto& tab) { return tab.get() == this; });
    if (found == tabs.end())
        return;
    const int count = static_cast<int>(tabs.size());
    const int index = static_cast<int>(found - tabs.begin());
    const int target = ((index + delta) % count + count) % count;
    window->selectTab(*tabs[static_cast<size_t>(target)]);
    window->present();
}

void TerminalWindowController::selectTab(int number)
{
    const auto window = window_.lock();
    if (!window)
        return;
    const auto tabs = window->tabs();
    // A number past the last tab does nothing (the key is still the window's).
    if (number < 1 || number > static_cast<int>(tabs.size()))
        return;
    window->selectTab(*tabs[static_cast<size_t>(number - 1)]);
    window->present();
}

// --- Closing -------------------------------------------------------------------------------------

std::shared_ptr<TerminalPane> TerminalWindowController::firstRunningPane() const
{
    for (const auto& pane : panes_)
        if (pane->isRunning())
            return pane;
    return nullptr;
}

void TerminalWindowController::confirmClose(const std::string& message, const std::string& button,
                                            std::function<void()> confirmed)
{
    const auto window = window_.lock();
    // One close confirmation per window: a second request while one is open is dropped.
    if (window && window->closeConfirmationOpen)
        return;
    if (window)
        window->closeConfirmationOpen = true;
    platform::Alert alert;
    alert.messageText = message;
    alert.informativeText = closeInformativeText;
    alert.buttons = {"Cancel", button};
    alert.cancelButton = 0;
    std::weak_ptr<TerminalWindowController> weakController = weak_from_this();
    std::weak_ptr<TerminalWindow> weakWindow = window;
    AlertCenter::shared().present(alert, window ? window->gtkWindow() : nullptr,
                                  [weakController, weakWindow, confirmed = std::move(confirmed)](int answer) {
                                      if (const auto asked = weakWindow.lock())
                                          asked->closeConfirmationOpen = false;
                                      const auto controller = weakController.lock();
                                      if (answer == 1 && controller && !controller->isClosed_)
                                          confirmed();
                                  });
}

void TerminalWindowController::closePane(TerminalPane& pane)
{
    if (!contains(pane))
        return;
    if (panes_.size() == 1) {
        performClose();
        return;
    }
    std::shared_ptr<TerminalPane> closing;
    for (const auto& entry : panes_)
        if (entry.get() == &pane)
            closing = entry;
    if (!closing->isRunning()) {
        removePane(*closing);
        return;
    }
    std::weak_ptr<TerminalWindowController> weak = weak_from_this();
    std::weak_ptr<TerminalPane> weakPane = closing;
    confirmClose(closePaneMessage, "Close Pane", [weak, weakPane] {
        const auto controller = weak.lock();
        const auto pane = weakPane.lock();
        if (controller && pane)
            controller->closePaneConfirmed(pane);
    });
}

void TerminalWindowController::closePaneConfirmed(const std::shared_ptr<TerminalPane>& pane)
{
    // The pane may have gone while the question was open, or its siblings with it.
    if (!contains(*pane))
        return;
    if (panes_.size() >= 2)
        removePane(*pane);
    else
        closeNow();
}

void TerminalWindowController::performClose()
{
    if (isClosed_)
        return;
    if (!firstRunningPane()) {
        closeNow();
        return;
    }
    std::weak_ptr<TerminalWindowController> weak = weak_from_this();
    confirmClose(panes_.size() == 1 ? closeSessionMessage : closeTabMessage, "Close Tab", [weak] {
        if (const auto controller = weak.lock())
            controller->closeNow();
    });
}

void TerminalWindowController::closeNow()
{
    if (isClosed_)
        return;
    // Closed for good: no rendering update runs from here on, also one already queued.
    isClosed_ = true;
    stopShell();
    const std::shared_ptr<TerminalWindowController> self = shared_from_this();
    if (const auto window = window_.lock())
        window->removeTab(*this);
    if (onClose)
        onClose();
}

void TerminalWindowController::stopShell()
{
    for (const auto& pane : panes_)
        pane->stopShell();
}

} // namespace vesk
