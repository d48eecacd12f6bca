#include "Vesk/TerminalWindow.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/UI/GtkKeyEvents.h"
#include "Platform/UI/GtkMenuBar.h"
#include "Vesk/AlertCenter.h"
#include "Vesk/TerminalWindowController.h"
#include "Vesk/WeakSignal.h"

#include <algorithm>

namespace vesk {

namespace {

constexpr const char* tabOfPageKey = "vesk-tab";

/// Names a button that shows only an icon by what it does: screen readers otherwise take the
/// name of its picture, which is the image's class name.
void nameIconButton(GtkWidget* button, const char* name)
{
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
}

/// The notebook's own widget around a tab's label: what screen readers meet as the page tab (and
/// the page's content is labelled by). Null when the label is not in a tab.
GtkWidget* pageTabOf(GtkWidget* tabLabel)
{
    GtkWidget* parent = tabLabel ? gtk_widget_get_parent(tabLabel) : nullptr;
    return parent && gtk_accessible_get_accessible_role(GTK_ACCESSIBLE(parent)) == GTK_ACCESSIBLE_ROLE_TAB
               ? parent
               : nullptr;
}

} // namespace

/// The window's signal handlers, each holding the window weakly.
struct TerminalWindowSignals
{
    static gboolean closeRequested(GtkWindow*, gpointer data)
    {
        if (const auto window = receiverOf<TerminalWindow>(data))
            window->performClose();
        // Closing is the window's own decision, made above.
        return true;
    }

    static void unrealized(GtkWidget*, gpointer data)
    {
        // The surface goes with the window's realization; its handler goes first.
        if (const auto window = receiverOf<TerminalWindow>(data))
            window->forgetSurface();
    }

    static void activeChanged(GObject*, GParamSpec*, gpointer data)
    {
        const auto window = receiverOf<TerminalWindow>(data);
        if (!window)
            return;
        const bool active = window->isActive();
        // Releases that happen elsewhere never arrive: held keys are forgotten with the focus.
        if (!active)
            window->shortcutKeys_.reset();
        for (const auto& tab : window->tabs()) {
            if (active)
                tab->windowDidBecomeKey();
            else
                tab->windowDidResignKey();
        }
    }

    static void focusChanged(GObject*, GParamSpec*, gpointer data)
    {
        const auto window = receiverOf<TerminalWindow>(data);
        if (!window)
            return;
        if (const auto tab = window->selectedTab())
            tab->focusMoved(gtk_window_get_focus(window->window_));
        // The focus moves within the menu bar as its menus open and close; once none is open,
        // the keyboard goes back to the pane.
        if (platform::gtk::focusIsInMenuBar(window->window_))
            window->returnKeyboardFromMenuBar();
    }

    static void surfaceStateChanged(GObject*, GParamSpec*, gpointer data)
    {
        if (const auto window = receiverOf<TerminalWindow>(data))
            for (const auto& tab : window->tabs())
                tab->scheduleGraphicsUpdate();
    }

    static void realized(GtkWidget* widget, gpointer data)
    {
        const auto window = receiverOf<TerminalWindow>(data);
        if (!window)
            return;
        // Minimising shows only in the surface's state (GTK 4.8 reports no occlusion).
        window->forgetSurface();
        window->surface_ = gtk_native_get_surface(GTK_NATIVE(widget));
        if (window->surface_)
            window->surfaceStateHandler_ =
                connectWeak(window->surface_, "notify::state", G_CALLBACK(surfaceStateChanged), window);
    }

    static void pageChanged(GObject*, GParamSpec*, gpointer data)
    {
        const auto window = receiverOf<TerminalWindow>(data);
        if (!window)
            return;
        if (const auto tab = window->selectedTab()) {
            window->tabTitlesChanged(*tab);
            if (const auto& pane = tab->activePane())
                pane->focus();
        }
        window->updateActionStates();
        for (const auto& tab : window->tabs())
            tab->scheduleGraphicsUpdate();
    }

    static void pagesChanged(GtkNotebook*, GtkWidget*, guint, gpointer data)
    {
        if (const auto window = receiverOf<TerminalWindow>(data))
            window->tabsChanged();
    }

    static void newTabClicked(GtkButton*, gpointer data)
    {
        if (const auto window = receiverOf<TerminalWindow>(data); window && window->onNewTab)
            window->onNewTab(*window);
    }

    static gboolean keyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                               GdkModifierType state, gpointer data)
    {
        const auto window = receiverOf<TerminalWindow>(data);
        if (!window)
            return false;
        GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
        // The window keeps its own record of held keys, so that a second press is a repeat.
        const platform::KeyEvent key = window->shortcutKeys_.press(platform::gtk::toolkitKeyOf(
            gtk_widget_get_display(GTK_WIDGET(window->window_)), event, keyval, keycode, state));
        // While one of this window's alerts waits, keys take their normal way.
        if (AlertCenter::shared().hasOpenAlert(window->window_))
            return false;
        const auto tab = window->selectedTab();
        return tab && tab->handleShortcut(key);
    }

    static void keyReleased(GtkEventControllerKey*, guint keyval, guint keycode, GdkModifierType state,
                            gpointer data)
    {
        if (const auto window = receiverOf<TerminalWindow>(data))
            window->shortcutKeys_.release(platform::gtk::toolkitKeyOf(
                gtk_widget_get_display(GTK_WIDGET(window->window_)), nullptr, keyval, keycode, state));
    }

    static void tabCloseClicked(GtkButton* button, gpointer)
    {
        // The label's button names its page; the page names its tab.
        auto* page = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(button), "vesk-page"));
        auto* weak = page ? static_cast<std::weak_ptr<TerminalWindowController>*>(
                                g_object_get_data(G_OBJECT(page), tabOfPageKey))
                          : nullptr;
        if (const auto tab = weak ? weak->lock() : nullptr)
            tab->performClose();
    }
};

std::shared_ptr<TerminalWindow> TerminalWindow::create(GtkApplication* application)
{
    auto window = std::make_shared<TerminalWindow>(application);
    window->connectSignals();
    window->installKeyController();
    window->installActions();
    return window;
}

TerminalWindow::TerminalWindow(GtkApplication* application)
{
    window_ = GTK_WINDOW(gtk_application_window_new(application));
    g_object_ref(window_);
    gtk_window_set_title(window_, "Vesk");
    gtk_window_set_default_size(window_, defaultWidth, defaultHeight);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), true);
    // F10 is the program's (htop, mc), not the menu bar's.
    platform::gtk::removeMenuBarKey(window_);

    notebook_ = GTK_NOTEBOOK(gtk_notebook_new());
    gtk_notebook_set_show_tabs(notebook_, false);
    gtk_notebook_set_show_border(notebook_, false);
    gtk_notebook_set_scrollable(notebook_, true);
    // The notebook's own keys (Ctrl+Page Up and Down while it has the focus) are the window's.
    gtk_widget_set_focusable(GTK_WIDGET(notebook_), false);
    gtk_widget_set_size_request(GTK_WIDGET(notebook_), minimumWidth, minimumHeight);

    newTabButton_ = gtk_button_new_from_icon_name("list-add-symbolic");
    gtk_button_set_has_frame(GTK_BUTTON(newTabButton_), false);
    gtk_widget_set_focusable(newTabButton_, false);
    gtk_widget_set_tooltip_text(newTabButton_, "New Tab");
    nameIconButton(newTabButton_, "New tab");
    gtk_notebook_set_action_widget(notebook_, newTabButton_, GTK_PACK_END);
    gtk_window_set_child(window_, GTK_WIDGET(notebook_));
}

TerminalWindow::~TerminalWindow()
{
    forgetSurface();
    g_object_unref(window_);
}

void TerminalWindow::forgetSurface()
{
    if (surface_ && surfaceStateHandler_)
        g_signal_handler_disconnect(surface_, surfaceStateHandler_);
    surface_ = nullptr;
    surfaceStateHandler_ = 0;
}

void TerminalWindow::connectSignals()
{
    const auto self = shared_from_this();
    connectWeak(window_, "close-request", G_CALLBACK(TerminalWindowSignals::closeRequested), self);
    connectWeak(window_, "notify::is-active", G_CALLBACK(TerminalWindowSignals::activeChanged), self);
    connectWeak(window_, "notify::focus-widget", G_CALLBACK(TerminalWindowSignals::focusChanged), self);
    connectWeak(window_, "realize", G_CALLBACK(TerminalWindowSignals::realized), self);
    connectWeak(window_, "unrealize", G_CALLBACK(TerminalWindowSignals::unrealized), self);
    connectWeak(notebook_, "notify::page", G_CALLBACK(TerminalWindowSignals::pageChanged), self);
    connectWeak(notebook_, "page-added", G_CALLBACK(TerminalWindowSignals::pagesChanged), self);
    connectWeak(notebook_, "page-removed", G_CALLBACK(TerminalWindowSignals::pagesChanged), self);
    connectWeak(newTabButton_, "clicked", G_CALLBACK(TerminalWindowSignals::newTabClicked), self);
}

void TerminalWindow::installKeyController()
{
    // The capture phase: the window's shortcuts come before the terminal view and the menus.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    const auto self = shared_from_this();
    connectWeak(keys, "key-pressed", G_CALLBACK(TerminalWindowSignals::keyPressed), self);
    connectWeak(keys, "key-released", G_CALLBACK(TerminalWindowSignals::keyReleased), self);
    gtk_widget_add_controller(GTK_WIDGET(window_), keys);
}

// --- Menus ---------------------------------------------------------------------------------------

void TerminalWindow::returnKeyboardFromMenuBar()
{
    // GTK leaves the keyboard on the title of a menu that closed, where typing reaches nothing and
    // Escape does not leave; a closed menu gives it back to the pane. This runs from the main loop,
    // not inside the focus change that reported it, so as not to move the focus while GTK does.
    const std::weak_ptr<TerminalWindow> weak = weak_from_this();
    platform::MainQueue::shared()->async([weak] {
        const auto window = weak.lock();
        if (!window || !platform::gtk::focusIsInMenuBar(window->window_) ||
            platform::gtk::menuBarIsOpen(platform::gtk::menuBarOf(window->window_)))
            return;
        if (const auto tab = window->selectedTab())
            if (const auto& pane = tab->activePane())
                pane->focus();
    });
}

// --- Tabs ----------------------------------------------------------------------------------------

std::shared_ptr<TerminalWindowController> TerminalWindow::tabOfPage(GtkWidget* page) const
{
    auto* weak = page ? static_cast<std::weak_ptr<TerminalWindowController>*>(
                            g_object_get_data(G_OBJECT(page), tabOfPageKey))
                      : nullptr;
    return weak ? weak->lock() : nullptr;
}

std::vector<std::shared_ptr<TerminalWindowController>> TerminalWindow::tabs() const
{
    std::vector<std::shared_ptr<TerminalWindowController>> result;
    const int count = gtk_notebook_get_n_pages(notebook_);
    for (int index = 0; index < count; ++index)
        if (auto tab = tabOfPage(gtk_notebook_get_nth_page(notebook_, index)))
            result.push_back(std::move(tab));
    return result;
}

std::shared_ptr<TerminalWindowController> TerminalWindow::selectedTab() const
{
    const int current = gtk_notebook_get_current_page(notebook_);
    return current < 0 ? nullptr : tabOfPage(gtk_notebook_get_nth_page(notebook_, current));
}

GtkWidget* TerminalWindow::tabLabelFor(const std::shared_ptr<TerminalWindowController>& tab)
{
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    GtkWidget* label = gtk_label_new(tab->tabLabel().c_str());
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 24);
    gtk_widget_set_hexpand(label, true);
    GtkWidget* close = gtk_button_new_from_icon_name("window-close-symbolic");
    gtk_button_set_has_frame(GTK_BUTTON(close), false);
    gtk_widget_set_focusable(close, false);
    gtk_widget_set_tooltip_text(close, "Close Tab");
    nameIconButton(close, "Close tab");
    g_object_set_data(G_OBJECT(close), "vesk-page", tab->page());
    g_signal_connect(close, "clicked", G_CALLBACK(TerminalWindowSignals::tabCloseClicked), nullptr);
    gtk_box_append(GTK_BOX(box), label);
    gtk_box_append(GTK_BOX(box), close);
    return box;
}

void TerminalWindow::addTab(const std::shared_ptr<TerminalWindowController>& tab, bool select)
{
    GtkWidget* page = tab->page();
    g_object_set_data_full(
        G_OBJECT(page), tabOfPageKey, new std::weak_ptr<TerminalWindowController>(tab),
        [](gpointer data) { delete static_cast<std::weak_ptr<TerminalWindowController>*>(data); });
    const int current = gtk_notebook_get_current_page(notebook_);
    const int index =
        gtk_notebook_insert_page(notebook_, page, tabLabelFor(tab), current < 0 ? -1 : current + 1);
    gtk_notebook_set_tab_reorderable(notebook_, page, true);
    tab->setWindow(shared_from_this());
    tabTitlesChanged(*tab);
    if (select)
        gtk_notebook_set_current_page(notebook_, index);
}

void TerminalWindow::removeTab(TerminalWindowController& tab)
{
    const int index = gtk_notebook_page_num(notebook_, tab.page());
    if (index < 0)
        return;
    // The page stays alive: its controller holds it, and may put it into another window.
    gtk_notebook_remove_page(notebook_, index);
    tab.setWindow(nullptr);
    if (gtk_notebook_get_n_pages(notebook_) == 0)
        gtk_window_destroy(window_);
}

void TerminalWindow::selectTab(const TerminalWindowController& tab)
{
    const int index = gtk_notebook_page_num(notebook_, tab.page());
    if (index >= 0)
        gtk_notebook_set_current_page(notebook_, index);
}

void TerminalWindow::tabsChanged()
{
    // One tab needs no tab bar.
    gtk_notebook_set_show_tabs(notebook_, gtk_notebook_get_n_pages(notebook_) >= 2);
    for (const auto& tab : tabs())
        tab->scheduleGraphicsUpdate();
}

GtkLabel* TerminalWindow::tabLabelOf(const TerminalWindowController& tab) const
{
    if (gtk_notebook_page_num(notebook_, tab.page()) < 0)
        return nullptr;
    GtkWidget* box = gtk_notebook_get_tab_label(notebook_, tab.page());
    return box ? GTK_LABEL(gtk_widget_get_first_child(box)) : nullptr;
}

void TerminalWindow::tabTitlesChanged(const TerminalWindowController& tab)
{
    if (GtkLabel* label = tabLabelOf(tab)) {
        const std::string text = tab.tabLabel();
        gtk_label_set_text(label, text.c_str());
        // The label's least width: a few characters of the title around the ellipsis, and never
        // more room than the whole title takes.
        const auto characters = static_cast<int>(g_utf8_strlen(text.c_str(), -1));
        gtk_label_set_width_chars(label, std::min(characters, tabLabelMinimumCharacters));
        GtkWidget* box = gtk_widget_get_parent(GTK_WIDGET(label));
        gtk_widget_set_tooltip_text(box, tab.toolTip().c_str());
        // The notebook names every tab "Tab"; a screen reader says the title, as the label shows it.
        if (GtkWidget* pageTab = pageTabOf(box))
            gtk_accessible_update_property(GTK_ACCESSIBLE(pageTab), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                           text.c_str(), -1);
    }
    if (selectedTab().get() == &tab)
        gtk_window_set_title(window_, tab.title().c_str());
}

void TerminalWindow::present()
{
    gtk_window_present(window_);
}

bool TerminalWindow::isActive() const
{
    return gtk_window_is_active(window_);
}

bool TerminalWindow::isMinimized() const
{
    return surface_ && GDK_IS_TOPLEVEL(surface_) &&
           (gdk_toplevel_get_state(GDK_TOPLEVEL(surface_)) & GDK_TOPLEVEL_STATE_MINIMIZED);
}

void TerminalWindow::minimize()
{
    gtk_window_minimize(window_);
}

void TerminalWindow::toggleMaximized()
{
    if (gtk_window_is_maximized(window_))
        gtk_window_unmaximize(window_);
    else
        gtk_window_maximize(window_);
}

// --- Closing -------------------------------------------------------------------------------------

void TerminalWindow::performClose()
{
    const auto all = tabs();
    if (all.empty()) {
        gtk_window_destroy(window_);
        return;
    }
    // A single tab asks as a tab does.
    if (all.size() == 1) {
        all.front()->performClose();
        return;
    }
    auto closeAll = [](const std::vector<std::shared_ptr<TerminalWindowController>>& closing) {
        for (const auto& tab : closing)
            if (!tab->isClosed())
                tab->closeNow();
    };
    const bool running =
        std::any_of(all.begin(), all.end(), [](const auto& tab) { return tab->firstRunningPane(); });
    if (!running) {
        closeAll(all);
        return;
    }
    if (closeConfirmationOpen)
        return;
    closeConfirmationOpen = true;
    platform::Alert alert;
    alert.messageText = closeWindowMessage;
    alert.informativeText = closeWindowInformativeText;
    alert.buttons = {"Cancel", "Close Window"};
    alert.cancelButton = 0;
    std::weak_ptr<TerminalWindow> weak = weak_from_this();
    AlertCenter::shared().present(alert, window_, [weak, closeAll](int button) {
        const auto window = weak.lock();
        if (!window)
            return;
        window->closeConfirmationOpen = false;
        // The tabs the window holds when the answer comes: one may have moved away or closed.
        if (button == 1)
            closeAll(window->tabs());
    });
}

} // namespace vesk
