#include "Vesk/AppDelegate.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/UI/MenuKeyRouter.h"
#include "Vesk/AlertCenter.h"
#include "Vesk/MainMenu.h"
#include "Vesk/TerminalWindow.h"
#include "Vesk/TerminalWindowController.h"
#include "Vesk/VeskApp.h"
#include "VeskCore/RenderingPreferences.h"

#include <algorithm>

namespace vesk {

struct AppDelegate::Subscription
{
    RenderingPreferences::Subscription subscription;
};

namespace {

void connectAction(GActionMap* map, GSimpleAction* action, const std::shared_ptr<AppDelegate>& delegate,
                   void (*handler)(AppDelegate&))
{
    struct Binding
    {
        std::weak_ptr<AppDelegate> delegate;
        void (*handler)(AppDelegate&);
    };
    g_signal_connect_data(
        action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
            auto* binding = static_cast<Binding*>(data);
            if (const auto delegate = binding->delegate.lock())
                binding->handler(*delegate);
        }),
        new Binding{delegate, handler}, [](gpointer data, GClosure*) { delete static_cast<Binding*>(data); },
        GConnectFlags(0));
    g_action_map_add_action(map, G_ACTION(action));
    g_object_unref(action);
}

/// The About panel over `parent`. A window manager gives the keyboard back to the window under a
/// dialog that closes; without one nobody does, and typing would reach nothing: so the panel
/// hands it back itself, as the alerts do.
void showAboutPanel(GtkWindow* parent)
{
    GtkWidget* panel = gtk_about_dialog_new();
    gtk_about_dialog_set_program_name(GTK_ABOUT_DIALOG(panel), "Vesk");
    gtk_about_dialog_set_version(GTK_ABOUT_DIALOG(panel), VeskApp::version);
    gtk_about_dialog_set_comments(GTK_ABOUT_DIALOG(panel), "A terminal emulator.");
    if (parent) {
        gtk_window_set_transient_for(GTK_WINDOW(panel), parent);
        gtk_window_set_destroy_with_parent(GTK_WINDOW(panel), true);
        // The parent is held weakly: it may close while the panel is open.
        auto* weakParent = g_new0(GWeakRef, 1);
        g_weak_ref_init(weakParent, parent);
        g_signal_connect_data(
            panel, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                if (gpointer window = g_weak_ref_get(static_cast<GWeakRef*>(data))) {
                    if (gtk_widget_get_visible(GTK_WIDGET(window)))
                        gtk_window_present(GTK_WINDOW(window));
                    g_object_unref(window);
                }
                return false;
            }),
            weakParent,
            [](gpointer data, GClosure*) {
                g_weak_ref_clear(static_cast<GWeakRef*>(data));
                g_free(data);
            },
            GConnectFlags(0));
    }
    gtk_window_present(GTK_WINDOW(panel));
    // The panel opens with the keyboard on its first focusable widget, the program's name: a
    // selectable label, which selects all its text when it takes the focus. The panel opens with
    // nothing selected and no text caret; Tab still reaches the texts.
    if (GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(panel)); focus && GTK_IS_LABEL(focus)) {
        gtk_label_select_region(GTK_LABEL(focus), 0, 0);
        gtk_window_set_focus(GTK_WINDOW(panel), nullptr);
    }
}

} // namespace

std::shared_ptr<AppDelegate> AppDelegate::create(GtkApplication* application,
                                                 RenderingPreferences& renderingPreferences)
{
    auto delegate = std::make_shared<AppDelegate>(application, renderingPreferences);
    // A window closed by any path leaves the application (GTK releases it there when it is
    // destroyed); the list lets it go then, and with it the window and everything it showed.
    auto removed = +[](GtkApplication*, GtkWindow* window, gpointer data) {
        if (const auto app = static_cast<std::weak_ptr<AppDelegate>*>(data)->lock())
            app->windowClosed(window);
    };
    g_signal_connect_data(
        application, "window-removed", G_CALLBACK(removed), new std::weak_ptr<AppDelegate>(delegate),
        [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<AppDelegate>*>(data); },
        GConnectFlags(0));
    return delegate;
}

AppDelegate::AppDelegate(GtkApplication* application, RenderingPreferences& renderingPreferences)
    : application_(application), renderingPreferences_(renderingPreferences)
{}

AppDelegate::~AppDelegate()
{
    platform::MenuKeyRouter::setHandler(nullptr);
}

// --- Launch --------------------------------------------------------------------------------------

void AppDelegate::applicationDidFinishLaunching()
{
    installActions();
    GMenuModel* menubar = MainMenu::buildMenuModel();
    gtk_application_set_menubar(application_, menubar);
    g_object_unref(menubar);
    // Key presses the terminal view offers to the menus (Super chords, and Ctrl+Shift+key as
    // Super+key) reach the menu items' shortcuts here.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    platform::MenuKeyRouter::setHandler([weak](const platform::KeyEvent& menuForm) {
        const auto delegate = weak.lock();
        return delegate && delegate->performMenuKeyEquivalent(menuForm);
    });
    preferenceSubscription_ =
        std::make_unique<Subscription>(Subscription{renderingPreferences_.observe([weak] {
            if (const auto delegate = weak.lock())
                delegate->renderingPreferenceChanged();
        })});
}

void AppDelegate::installActions()
{
    GActionMap* map = G_ACTION_MAP(application_);
    const auto self = shared_from_this();
    connectAction(map, g_simple_action_new("new-window", nullptr), self,
                  [](AppDelegate& app) { app.newWindow(); });
    connectAction(map, g_simple_action_new("new-tab", nullptr), self, [](AppDelegate& app) { app.newTab(); });
    connectAction(map, g_simple_action_new("quit", nullptr), self,
                  [](AppDelegate& app) { app.applicationShouldTerminate(); });
    connectAction(map, g_simple_action_new("about", nullptr), self, [](AppDelegate& app) {
        const auto window = app.keyWindow();
        showAboutPanel(window ? window->gtkWindow() : nullptr);
    });
    // The rendering preference, a check item whose state follows the stored choice.
    GSimpleAction* rendering = g_simple_action_new_stateful(
        "use-gpu-rendering", nullptr, g_variant_new_boolean(renderingPreferences_.metalEnabled()));
    connectAction(map, rendering, self, [](AppDelegate& app) {
        app.renderingPreferences_.setMetalEnabled(!app.renderingPreferences_.metalEnabled());
    });
}

std::shared_ptr<TerminalWindow> AppDelegate::makeWindow()
{
    std::shared_ptr<TerminalWindow> window = TerminalWindow::create(application_);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    window->onNewTab = [weak](TerminalWindow& target) {
        if (const auto delegate = weak.lock())
            delegate->createSession(&target, true);
    };
    window->onMoveTabToNewWindow = [weak](TerminalWindowController& tab) {
        if (const auto delegate = weak.lock())
            delegate->moveTabToNewWindow(tab);
    };
    windows_.push_back(window);
    return window;
}

void AppDelegate::windowClosed(GtkWindow* closed)
{
    // Whoever closed the window holds it until its own work is done; the list lets it go now.
    std::erase_if(windows_, [closed](const auto& entry) { return entry->gtkWindow() == closed; });
}

std::shared_ptr<TerminalWindowController> AppDelegate::createSession(TerminalWindow* tabbedWith,
                                                                     bool startShell)
{
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto controller =
        TerminalWindowController::create(true, renderingPreferences_, [weak](SafeTerminalView& terminal) {
            if (const auto delegate = weak.lock())
                delegate->configureTerminal(terminal);
        });
    controller->onNewTab = [weak](TerminalWindow& window) {
        if (const auto delegate = weak.lock())
            delegate->createSession(&window, true);
    };
    std::weak_ptr<TerminalWindowController> weakController = controller;
    controller->onClose = [weak, weakController] {
        const auto delegate = weak.lock();
        const auto closed = weakController.lock();
        if (!delegate || !closed)
            return;
        auto& sessions = delegate->sessions_;
        sessions.erase(std::remove(sessions.begin(), sessions.end(), closed), sessions.end());
    };
    sessions_.push_back(controller);

    std::shared_ptr<TerminalWindow> window;
    for (const auto& open : windows_)
        if (open.get() == tabbedWith)
            window = open;
    if (!window)
        window = makeWindow();
    // The shell is asked for before the window is shown; it starts at the window's first layout,
    // with the grid the window gives its pane.
    if (startShell && controller->activePane())
        controller->activePane()->startShell();
    window->addTab(controller, true);
    window->present();
    if (const auto& pane = controller->activePane())
        pane->focus();
    return controller;
}

void AppDelegate::newWindow()
{
    createSession(nullptr, true);
}

void AppDelegate::newTab()
{
    const auto window = keyWindow();
    createSession(window.get(), true);
}

std::shared_ptr<TerminalWindow> AppDelegate::keyWindow() const
{
    // GTK keeps the application's windows with the most recently focused first.
    GtkWindow* active = gtk_application_get_active_window(application_);
    for (const auto& window : windows_)
        if (window->gtkWindow() == active)
            return window;
    return windows_.empty() ? nullptr : windows_.back();
}

void AppDelegate::moveTabToNewWindow(TerminalWindowController& tab)
{
    const auto from = tab.window();
    // A tab alone in its window is in a window of its own already.
    if (!from || from->tabs().size() < 2)
        return;
    const std::shared_ptr<TerminalWindowController> moving = tab.shared_from_this();
    from->removeTab(tab);
    const auto window = makeWindow();
    window->addTab(moving, true);
    window->present();
    if (const auto& pane = moving->activePane())
        pane->focus();
}

bool AppDelegate::performMenuKeyEquivalent(const platform::KeyEvent& menuForm)
{
    const std::optional<std::string_view> name = MainMenu::actionForKeyEquivalent(menuForm);
    if (!name)
        return false;
    const std::string action(*name);
    const size_t dot = action.find('.');
    GActionGroup* group = nullptr;
    if (action.compare(0, dot, "app") == 0)
        group = G_ACTION_GROUP(application_);
    else if (const auto window = keyWindow())
        group = G_ACTION_GROUP(window->gtkWindow());
    const std::string local = action.substr(dot + 1);
    if (!group || !g_action_group_has_action(group, local.c_str()))
        return false;
    // A disabled item still owns its shortcut: the key does not reach the program.
    if (!menuForm.isARepeat && g_action_group_get_action_enabled(group, local.c_str()))
        g_action_group_activate_action(group, local.c_str(), nullptr);
    return true;
}

// --- Panes' services -----------------------------------------------------------------------------

void AppDelegate::configureTerminal(SafeTerminalView& terminal)
{
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    std::weak_ptr<kestrovan::TerminalView> weakTerminal = terminal.weak_from_this();
    terminal.openConfirmedLink = [weak, weakTerminal](const std::string& url) {
        const auto delegate = weak.lock();
        if (delegate && delegate->openLink)
            delegate->openLink(url);
        else if (const auto view = std::static_pointer_cast<SafeTerminalView>(weakTerminal.lock()))
            view->openWithDesktop(url);
    };
}

// --- Rendering -----------------------------------------------------------------------------------

void AppDelegate::renderingPreferenceChanged()
{
    if (GAction* action = g_action_map_lookup_action(G_ACTION_MAP(application_), "use-gpu-rendering"))
        g_simple_action_set_state(G_SIMPLE_ACTION(action),
                                  g_variant_new_boolean(renderingPreferences_.metalEnabled()));
    if (renderingPassQueued_)
        return;
    renderingPassQueued_ = true;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    platform::MainQueue::shared()->async([weak] {
        const auto delegate = weak.lock();
        if (!delegate)
            return;
        delegate->renderingPassQueued_ = false;
        ++delegate->renderingPasses_;
        for (const auto& session : delegate->sessions_)
            for (const auto& pane : session->panes())
                pane->applyRenderingPreference();
    });
}

// --- Quitting ------------------------------------------------------------------------------------

void AppDelegate::applicationShouldTerminate()
{
    size_t running = 0;
    for (const auto& session : sessions_)
        for (const auto& pane : session->panes())
            if (pane->isRunning())
                ++running;
    if (running == 0) {
        terminateNow();
        return;
    }
    // One quit question at a time.
    if (quitConfirmationOpen_)
        return;
    quitConfirmationOpen_ = true;
    platform::Alert alert;
    alert.messageText = running == 1 ? quitOneMessage : quitAllMessage;
    alert.informativeText = quitInformativeText;
    alert.buttons = {"Cancel", "Quit Vesk"};
    alert.cancelButton = 0;
    const auto window = keyWindow();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    AlertCenter::shared().present(alert, window ? window->gtkWindow() : nullptr, [weak](int button) {
        const auto delegate = weak.lock();
        if (!delegate)
            return;
        delegate->quitConfirmationOpen_ = false;
        if (button == 1)
            delegate->terminateNow();
    });
}

void AppDelegate::terminateNow()
{
    // Every tab stops its shells and leaves its window; the last window's end ends the process.
    const auto closing = sessions_;
    for (const auto& session : closing)
        session->closeNow();
    g_application_quit(G_APPLICATION(application_));
}

} // namespace vesk
