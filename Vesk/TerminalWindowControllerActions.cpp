// The window's shortcut table and the menu actions that act on a tab or its active pane.

#include "Vesk/TerminalWindow.h"
#include "Vesk/TerminalWindowController.h"

namespace vesk {

bool TerminalWindowController::handleShortcut(const platform::KeyEvent& event)
{
    const ShortcutDecision decision = decideShortcut(event);
    if (decision.run)
        run(*decision.run);
    return decision.consumed;
}

void TerminalWindowController::run(const Shortcut& shortcut)
{
    // The controller may close itself (the last pane); it stays alive until the end of the call.
    const std::shared_ptr<TerminalWindowController> self = shared_from_this();
    switch (shortcut.operation) {
    case ShortcutOperation::nextTab:
        cycleTab(1);
        break;
    case ShortcutOperation::previousTab:
        cycleTab(-1);
        break;
    case ShortcutOperation::newTab:
        if (const auto window = window_.lock(); window && onNewTab)
            onNewTab(*window);
        break;
    case ShortcutOperation::splitVertically:
        splitActivePane(true);
        break;
    case ShortcutOperation::splitHorizontally:
        splitActivePane(false);
        break;
    case ShortcutOperation::closePane:
        if (const auto pane = activePane_)
            closePane(*pane);
        break;
    case ShortcutOperation::closeTab:
        performClose();
        break;
    case ShortcutOperation::nextPane:
        cyclePane(1);
        break;
    case ShortcutOperation::previousPane:
        cyclePane(-1);
        break;
    case ShortcutOperation::biggerText:
        changeFontSize(1);
        break;
    case ShortcutOperation::smallerText:
        changeFontSize(-1);
        break;
    case ShortcutOperation::resetText:
        resetFontSize();
        break;
    case ShortcutOperation::clearScrollback:
        clearScrollback();
        break;
    case ShortcutOperation::selectTab:
        selectTab(shortcut.tabNumber);
        break;
    }
}

void TerminalWindowController::restartSession()
{
    if (const auto pane = activePane_) {
        pane->restartSession();
        if (pane == activePane_)
            pane->focus();
    }
}

bool TerminalWindowController::canRestartSession() const
{
    return activePane_ && !activePane_->isRunning();
}

void TerminalWindowController::changeFontSize(double delta)
{
    if (activePane_)
        activePane_->changeFont(activePane_->fontSize() + delta);
}

void TerminalWindowController::resetFontSize()
{
    if (activePane_)
        activePane_->changeFont(TerminalPane::defaultFontSize);
}

void TerminalWindowController::clearScrollback()
{
    if (activePane_ && activePane_->terminal())
        activePane_->terminal()->clearScrollback();
}

} // namespace vesk
