// The window's menu actions ("win.…"): each acts on the selected tab, its active pane or the
// pane's terminal view, and the enabled states the menus show.

#include "Vesk/TerminalWindow.h"
#include "Vesk/TerminalWindowController.h"

#include <string_view>

namespace vesk {

namespace {

using kestrovan::TerminalViewAction;

/// One window action and what it does to the window.
struct WindowAction
{
    const char* name;
    void (*perform)(TerminalWindow& window, TerminalWindowController& tab);
};

void performViewAction(TerminalWindowController& tab, TerminalViewAction action)
{
    if (const auto& pane = tab.activePane(); pane && pane->terminal())
        pane->terminal()->performAction(action);
}

constexpr WindowAction windowActions[] = {
    {"new-session", [](TerminalWindow&, TerminalWindowController& tab) { tab.restartSession(); }},
    {"split-vertically", [](TerminalWindow&, TerminalWindowController& tab) { tab.splitActivePane(true); }},
    {"split-horizontally",
     [](TerminalWindow&, TerminalWindowController& tab) { tab.splitActivePane(false); }},
    {"close-pane",
     [](TerminalWindow&, TerminalWindowController& tab) {
         if (const auto pane = tab.activePane())
             tab.closePane(*pane);
     }},
    {"close-tab", [](TerminalWindow&, TerminalWindowController& tab) { tab.performClose(); }},
    {"copy", [](TerminalWindow&,
                TerminalWindowController& tab) { performViewAction(tab, TerminalViewAction::copy); }},
    {"paste", [](TerminalWindow&,
                 TerminalWindowController& tab) { performViewAction(tab, TerminalViewAction::paste); }},
    {"select-all",
     [](TerminalWindow&, TerminalWindowController& tab) {
         performViewAction(tab, TerminalViewAction::selectAll);
     }},
    {"find", [](TerminalWindow&,
                TerminalWindowController& tab) { performViewAction(tab, TerminalViewAction::find); }},
    {"find-next",
     [](TerminalWindow&, TerminalWindowController& tab) {
         performViewAction(tab, TerminalViewAction::findNext);
     }},
    {"find-previous",
     [](TerminalWindow&, TerminalWindowController& tab) {
         performViewAction(tab, TerminalViewAction::findPrevious);
     }},
    {"bigger-text", [](TerminalWindow&, TerminalWindowController& tab) { tab.changeFontSize(1); }},
    {"smaller-text", [](TerminalWindow&, TerminalWindowController& tab) { tab.changeFontSize(-1); }},
    {"reset-text", [](TerminalWindow&, TerminalWindowController& tab) { tab.resetFontSize(); }},
    {"clear-scrollback", [](TerminalWindow&, TerminalWindowController& tab) { tab.clearScrollback(); }},
    {"next-pane", [](TerminalWindow&, TerminalWindowController& tab) { tab.cyclePane(1); }},
    {"previous-pane", [](TerminalWindow&, TerminalWindowController& tab) { tab.cyclePane(-1); }},
    {"next-tab", [](TerminalWindow&, TerminalWindowController& tab) { tab.cycleTab(1); }},
    {"previous-tab", [](TerminalWindow&, TerminalWindowController& tab) { tab.cycleTab(-1); }},
    {"move-tab-to-new-window",
     [](TerminalWindow& window, TerminalWindowController& tab) {
         if (window.onMoveTabToNewWindow)
             window.onMoveTabToNewWindow(tab);
     }},
    {"minimize", [](TerminalWindow& window, TerminalWindowController&) { window.minimize(); }},
    {"zoom", [](TerminalWindow& window, TerminalWindowController&) { window.toggleMaximized(); }},
};

void activated(GSimpleAction* action, GVariant*, gpointer data)
{
    const auto window = static_cast<std::weak_ptr<TerminalWindow>*>(data)->lock();
    const auto tab = window ? window->selectedTab() : nullptr;
    if (!tab)
        return;
    const std::string_view name = g_action_get_name(G_ACTION(action));
    for (const WindowAction& entry : windowActions)
        if (name == entry.name) {
            entry.perform(*window, *tab);
            return;
        }
}

} // namespace

void TerminalWindow::installActions()
{
    for (const WindowAction& entry : windowActions) {
        GSimpleAction* action = g_simple_action_new(entry.name, nullptr);
        g_signal_connect_data(
            action, "activate", G_CALLBACK(activated), new std::weak_ptr<TerminalWindow>(weak_from_this()),
            [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<TerminalWindow>*>(data); },
            GConnectFlags(0));
        g_action_map_add_action(G_ACTION_MAP(window_), G_ACTION(action));
        g_object_unref(action);
    }
    updateActionStates();
}

void TerminalWindow::updateActionStates()
{
    const auto tab = selectedTab();
    auto setEnabled = [this](const char* name, bool enabled) {
        if (GAction* action = g_action_map_lookup_action(G_ACTION_MAP(window_), name))
            g_simple_action_set_enabled(G_SIMPLE_ACTION(action), enabled);
    };
    setEnabled("new-session", tab && tab->canRestartSession());
    const auto& pane = tab ? tab->activePane() : nullptr;
    const auto& terminal = pane ? pane->terminal() : nullptr;
    // The view's own actions follow the view's states (Copy needs a selection).
    const kestrovan::TerminalViewActionStates states =
        terminal ? terminal->actionStates() : kestrovan::TerminalViewActionStates{};
    auto viewEnabled = [&states](TerminalViewAction action) {
        const auto found = states.find(action);
        return found != states.end() && found->second;
    };
    setEnabled("copy", viewEnabled(TerminalViewAction::copy));
    setEnabled("paste", viewEnabled(TerminalViewAction::paste));
    setEnabled("select-all", viewEnabled(TerminalViewAction::selectAll));
    setEnabled("find", viewEnabled(TerminalViewAction::find));
    setEnabled("find-next", viewEnabled(TerminalViewAction::findNext));
    setEnabled("find-previous", viewEnabled(TerminalViewAction::findPrevious));
}

} // namespace vesk
