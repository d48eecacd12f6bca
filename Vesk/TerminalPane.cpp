#include "Vesk/TerminalPane.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/ViewHost.h"
#include "Vesk/AlertCenter.h"
#include "Vesk/ErrorBell.h"
#include "Vesk/LoginShell.h"
#include "Vesk/WeakSignal.h"
#include "VeskCore/RenderingPreferences.h"
#include "VeskCore/SafetyPolicy.h"

#include <algorithm>
#include <csignal>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

namespace {

/// How long a failed switch away from the GPU waits before it is tried again.
constexpr auto renderingRetryDelay = std::chrono::seconds(1);

bool isDirectory(const std::string& path)
{
    struct stat info
    {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string lastPathComponent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The close button: its icon and a few points around it, the toolkit's round shape.
constexpr const char* closeButtonStyle = R"css(
button.vesk-pane-close {
    min-width: 16px;
    min-height: 16px;
    padding: 3px;
}
)css";

void installCloseButtonStyleOnce(GtkWidget* widget)
{
    GdkDisplay* display = gtk_widget_get_display(widget);
    if (!display || g_object_get_data(G_OBJECT(display), "vesk-pane-close-style"))
        return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, closeButtonStyle, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(display), "vesk-pane-close-style", provider, g_object_unref);
}

// The pane's container: a box that paints the terminal's background under its children, so that
// the close button's column and the margins around the terminal are the terminal's colour, not
// the window's. The terminal view redraws itself when its colours change, and a redraw of a
// child draws its parents again, so the box follows.
constexpr const char* paneKey = "vesk-terminal-pane";

void (*boxSnapshot)(GtkWidget*, GtkSnapshot*) = nullptr;

void snapshotPaneBox(GtkWidget* widget, GtkSnapshot* snapshot)
{
    const auto* pane = static_cast<const TerminalPane*>(g_object_get_data(G_OBJECT(widget), paneKey));
    if (pane && pane->terminal()) {
        const platform::NativeColor color = pane->terminal()->backingLayerColor();
        const GdkRGBA rgba{float(color.red), float(color.green), float(color.blue), float(color.alpha)};
        const graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(gtk_widget_get_width(widget)),
                                                          float(gtk_widget_get_height(widget)));
        if (color.space == platform::NativeColor::Space::sRGB && color.alpha > 0)
            gtk_snapshot_append_color(snapshot, &rgba, &bounds);
    }
    boxSnapshot(widget, snapshot);
}

GType paneBoxType()
{
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_BOX, "VeskPaneBox", sizeof(GtkBoxClass),
        [](gpointer klass, gpointer) {
            GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
            boxSnapshot = widgetClass->snapshot;
            widgetClass->snapshot = snapshotPaneBox;
        },
        sizeof(GtkBox), nullptr, GTypeFlags(0));
    return type;
}

void onPointerEntered(GtkEventControllerMotion*, double, double, gpointer data);
void onPointerLeft(GtkEventControllerMotion*, gpointer data);
void onCloseClicked(GtkButton*, gpointer data);
gboolean onDropAccept(GtkDropTarget* target, GdkDrop* drop, gpointer data);
gboolean onDrop(GtkDropTarget* target, const GValue* value, double x, double y, gpointer data);

} // namespace

std::shared_ptr<TerminalPane> TerminalPane::create(std::string directory, double fontSize,
                                                   RenderingPreferences& renderingPreferences,
                                                   std::function<void(SafeTerminalView&)> configureTerminal)
{
    auto pane = std::make_shared<TerminalPane>(std::move(directory), fontSize, renderingPreferences);
    pane->configureTerminal_ = std::move(configureTerminal);
    // The hover and button signals hold the pane weakly, so they are connected once it is shared.
    GtkEventController* motion = gtk_event_controller_motion_new();
    connectWeak(motion, "enter", G_CALLBACK(onPointerEntered), pane);
    connectWeak(motion, "leave", G_CALLBACK(onPointerLeft), pane);
    gtk_widget_add_controller(pane->view_, motion);
    connectWeak(pane->closeButton_, "clicked", G_CALLBACK(onCloseClicked), pane);
    // Files dropped on the pane, and nothing else: a drag of text is not taken.
    GtkDropTarget* drop = gtk_drop_target_new(GDK_TYPE_FILE_LIST, GDK_ACTION_COPY);
    connectWeak(drop, "accept", G_CALLBACK(onDropAccept), pane);
    connectWeak(drop, "drop", G_CALLBACK(onDrop), pane);
    gtk_widget_add_controller(pane->view_, GTK_EVENT_CONTROLLER(drop));
    pane->buildContent();
    return pane;
}

TerminalPane::TerminalPane(std::string directory, double fontSize, RenderingPreferences& renderingPreferences)
    : renderingPreferences_(renderingPreferences), fontSize_(clampedFontSize(fontSize)),
      currentDirectory_(std::move(directory))
{
    // The terminal view and, beside it, a column as narrow as the close button, so that the
    // button covers no text (the last columns of the top rows hold a pager's header, a
    // full-screen program's clock) and none of the terminal's own controls, such as the find bar
    // in its top right corner. The column is painted in the terminal's background.
    view_ = GTK_WIDGET(g_object_new(paneBoxType(), "orientation", GTK_ORIENTATION_HORIZONTAL, nullptr));
    g_object_ref_sink(view_);
    g_object_set_data(G_OBJECT(view_), paneKey, this);
    gtk_widget_set_hexpand(view_, true);
    gtk_widget_set_vexpand(view_, true);
    gtk_widget_set_size_request(view_, 1, 1);
    closeColumn_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_margin_end(closeColumn_, 2);
    gtk_box_append(GTK_BOX(view_), closeColumn_);

    closeButton_ = gtk_button_new_from_icon_name("window-close-symbolic");
    gtk_widget_set_tooltip_text(closeButton_, closeButtonToolTip);
    gtk_accessible_update_property(GTK_ACCESSIBLE(closeButton_), GTK_ACCESSIBLE_PROPERTY_LABEL, "Close pane",
                                   -1);
    gtk_widget_set_focusable(closeButton_, false);
    gtk_widget_set_valign(closeButton_, GTK_ALIGN_START);
    gtk_widget_set_margin_top(closeButton_, 6);
    gtk_widget_add_css_class(closeButton_, "circular");
    gtk_widget_add_css_class(closeButton_, "vesk-pane-close");
    installCloseButtonStyleOnce(closeButton_);
    gtk_box_append(GTK_BOX(closeColumn_), closeButton_);
    setCloseButtonShown(false);
}

TerminalPane::~TerminalPane()
{
    cancelPendingStart();
    stopDirectoryTracking();
    if (renderingRetry_)
        renderingRetry_->invalidate();
    // The split tree may hold the container a moment longer; it paints nothing more for the pane.
    g_object_set_data(G_OBJECT(view_), paneKey, nullptr);
    g_object_unref(view_);
}

double TerminalPane::clampedFontSize(double size)
{
    if (!(size == size))
        return defaultFontSize;
    return std::clamp(size, minimumFontSize, maximumFontSize);
}

bool TerminalPane::isRunning() const
{
    return terminal_ && terminal_->process() && terminal_->process()->running();
}

int32_t TerminalPane::shellPid() const
{
    return isRunning() ? terminal_->process()->shellPid() : 0;
}

// --- Content -------------------------------------------------------------------------------------

void TerminalPane::buildContent()
{
    if (terminalWidget_) {
        gtk_box_remove(GTK_BOX(view_), terminalWidget_);
        terminalWidget_ = nullptr;
    }
    terminal_ = SafeTerminalView::create(fontSize_);
    terminal_->setProcessDelegate(shared_from_this());
    std::weak_ptr<TerminalPane> weak = weak_from_this();
    terminal_->onWindowChanged = [weak] {
        if (const auto pane = weak.lock())
            pane->applyRenderingPreference();
    };
    terminal_->onLaidOut = [weak] {
        if (const auto pane = weak.lock())
            pane->viewLaidOut();
    };
    // The view's questions are modal for the pane's window; its beeps are the application's.
    terminal_->presentAlert = [weak](const platform::Alert& alert, platform::AlertCompletion completion) {
        const auto pane = weak.lock();
        GtkRoot* root = pane && pane->terminalWidget_ ? gtk_widget_get_root(pane->terminalWidget_) : nullptr;
        AlertCenter::shared().present(alert, root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr,
                                      std::move(completion));
    };
    terminal_->onActionStatesChanged = [weak](const kestrovan::TerminalViewActionStates&) {
        if (const auto pane = weak.lock(); pane && pane->onStateChanged)
            pane->onStateChanged(*pane);
    };
    terminal_->beep = [weak] {
        const auto pane = weak.lock();
        ErrorBell::ring(pane ? pane->terminalWidget_ : nullptr);
    };
    if (configureTerminal_)
        configureTerminal_(*terminal_);

    terminalWidget_ = platform::gtk::CoreViewWidget::create(terminal_);
    gtk_widget_set_hexpand(terminalWidget_, true);
    gtk_widget_set_vexpand(terminalWidget_, true);
    for (auto setMargin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                           gtk_widget_set_margin_start, gtk_widget_set_margin_end})
        setMargin(terminalWidget_, 2);
    gtk_accessible_update_property(GTK_ACCESSIBLE(terminalWidget_), GTK_ACCESSIBLE_PROPERTY_LABEL, "Terminal",
                                   -1);
    gtk_box_prepend(GTK_BOX(view_), terminalWidget_);
    if (gtk_widget_get_root(view_))
        focus();
}

void TerminalPane::focus()
{
    if (terminalWidget_)
        gtk_widget_grab_focus(terminalWidget_);
}

bool TerminalPane::hasFocus() const
{
    return terminalWidget_ && gtk_widget_has_focus(terminalWidget_);
}

void TerminalPane::setActive(bool active)
{
    if (terminalWidget_)
        gtk_accessible_update_property(GTK_ACCESSIBLE(terminalWidget_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       active ? "Active terminal pane" : "Terminal pane", -1);
}

void TerminalPane::setCloseButtonShown(bool shown)
{
    // Hidden, the button keeps its place, so that the terminal's size does not follow the pointer.
    gtk_widget_set_opacity(closeButton_, shown ? 1 : 0);
    gtk_widget_set_can_target(closeButton_, shown);
    gtk_accessible_update_state(GTK_ACCESSIBLE(closeButton_), GTK_ACCESSIBLE_STATE_HIDDEN, !shown, -1);
}

bool TerminalPane::closeButtonShown() const
{
    return gtk_widget_get_can_target(closeButton_);
}

// --- The shell -----------------------------------------------------------------------------------

void TerminalPane::startShell()
{
    if (started_ || !terminal_)
        return;
    started_ = true;
    startPending_ = true;
    // The titles show the shell's folder from now on.
    updateDirectoryLabel(startingDirectory());
    // The pseudo-terminal gets its size from the view's grid when the shell starts. Before its
    // window lays it out, the view has only its initial frame: a shell started then would see a
    // wrong size, and a program started at once from its profile (a multiplexer attaching, a
    // full-screen program) would draw at it until the SIGWINCH a moment later. So the shell waits
    // for the first layout at a real size.
    if (isLaidOut()) {
        launchShell();
        return;
    }
    std::weak_ptr<TerminalPane> weak = weak_from_this();
    std::weak_ptr<SafeTerminalView> view = terminal_;
    layoutWait_ = platform::MainThreadTimers::system()->schedule(layoutWaitLimit, false, [weak, view] {
        const auto pane = weak.lock();
        const auto waiting = view.lock();
        if (pane && waiting && pane->terminal_ == waiting)
            pane->launchShell();
    });
}

std::string TerminalPane::startingDirectory() const
{
    return isDirectory(currentDirectory_) ? currentDirectory_ : LoginShell::homeDirectory();
}

bool TerminalPane::isLaidOut() const
{
    const platform::ViewHost* host = terminal_ ? terminal_->host() : nullptr;
    return host && host->hasWindow() && host->size().width > 0 && host->size().height > 0;
}

void TerminalPane::viewLaidOut()
{
    if (!startPending_ || !isLaidOut())
        return;
    // The view's grid fits its laid-out size already. The shell starts from the main loop, not
    // inside the toolkit's layout pass: starting updates the menus and the titles.
    std::weak_ptr<TerminalPane> weak = weak_from_this();
    std::weak_ptr<SafeTerminalView> view = terminal_;
    platform::MainQueue::shared()->async([weak, view] {
        const auto pane = weak.lock();
        const auto laidOut = view.lock();
        if (pane && laidOut && pane->terminal_ == laidOut)
            pane->launchShell();
    });
}

void TerminalPane::launchShell()
{
    if (!startPending_ || !terminal_)
        return;
    cancelPendingStart();
    const std::string shell = LoginShell::path();
    const std::string home = LoginShell::homeDirectory();
    const std::string directory = startingDirectory();
    const std::vector<std::string> environment = SafetyPolicy::shellEnvironment(
        LoginShell::userName(), home, shell, SafetyPolicy::processEnvironment());
    updateDirectoryLabel(directory);
    // A login shell ("-l"), named as the file it runs, with the view's grid as its window size.
    terminal_->startProcess(shell, {"-l"}, environment, lastPathComponent(shell), directory);
    shellStartSize_ = terminal_->storedWindowSize();
    SafetyPolicy::markCloseOnExec(terminal_->process()->childfd());
    // The shell's handles are taken at once, while it is certainly our unreaped child.
    const int32_t pid = terminal_->process()->shellPid();
    shell_ = ShellProcessHandle::open(pid);
    shellDirectory_.reset();
    if (shell_)
        shellDirectory_ = ProcessDirectory::open(pid, shell_->descriptor());
    startDirectoryTracking();
    // No focus is taken here: whoever made the view gave it the focus when it did, and a shell
    // that starts a moment later must not take the focus from where the user has moved it since.
    if (onStateChanged)
        onStateChanged(*this);
}

void TerminalPane::cancelPendingStart()
{
    startPending_ = false;
    if (layoutWait_) {
        layoutWait_->invalidate();
        layoutWait_.reset();
    }
}

void TerminalPane::stopShell()
{
    cancelPendingStart();
    if (renderingRetry_) {
        renderingRetry_->invalidate();
        renderingRetry_.reset();
    }
    stopDirectoryTracking();
    if (terminal_) {
        const std::shared_ptr<kestrovan::LocalProcess>& process = terminal_->process();
        const bool shellAlive = shell_ && !shell_->hasEnded();
        if (process->running() && process->childfd() >= 0 && shellAlive) {
            // Programs in the foreground (an editor, a build) are hung up with the shell, unless
            // the terminal's foreground is somehow this application's own group.
            const pid_t group = tcgetpgrp(process->childfd());
            if (group >= 2 && group != getpgrp())
                kill(-group, SIGHUP);
        }
        if (shell_)
            shell_->signal(SIGHUP);
        terminal_->terminate();
        terminal_->closeRendering();
        gtk_box_remove(GTK_BOX(view_), terminalWidget_);
        terminalWidget_ = nullptr;
        terminal_.reset();
    }
    shell_.reset();
    shellDirectory_.reset();
}

void TerminalPane::restartSession()
{
    if (isRunning())
        return;
    stopShell();
    started_ = false;
    buildContent();
    startShell();
}

void TerminalPane::changeFont(double size)
{
    fontSize_ = clampedFontSize(size);
    if (terminal_)
        terminal_->setFont(SafeTerminalView::configuration(fontSize_).font);
}

std::string TerminalPane::sessionEndedNotice(std::optional<int32_t> exitCode)
{
    const std::string status = exitCode ? "Session ended \u00B7 Exit status " + std::to_string(*exitCode)
                                        : std::string("Session ended");
    return "\r\n[" + status + ". Choose Shell > New Session to restart.]\r\n";
}

void TerminalPane::processTerminated(kestrovan::TerminalView& source, std::optional<int32_t> exitCode)
{
    stopDirectoryTracking();
    if (&source != terminal_.get())
        return;
    terminal_->feed(std::string_view(sessionEndedNotice(exitCode)));
    if (onStateChanged)
        onStateChanged(*this);
}

void TerminalPane::processFailedToStart(kestrovan::TerminalView& source,
                                        const kestrovan::LocalProcessError& error)
{
    stopDirectoryTracking();
    if (&source != terminal_.get())
        return;
    if (terminalWidget_)
        gtk_widget_set_tooltip_text(terminalWidget_,
                                    ("Couldn\u2019t start shell: " + error.description()).c_str());
    terminal_->feed(
        std::string_view("\r\n[Couldn\u2019t start shell. Choose Shell > New Session to retry.]\r\n"));
    if (onStateChanged)
        onStateChanged(*this);
}

// --- The working directory -----------------------------------------------------------------------

void TerminalPane::startDirectoryTracking()
{
    stopDirectoryTracking();
    if (!isRunning())
        return;
    refreshDirectoryLabel();
    std::weak_ptr<TerminalPane> weak = weak_from_this();
    directoryTimer_ = platform::MainThreadTimers::system()->schedule(directoryPollInterval, true, [weak] {
        if (const auto pane = weak.lock())
            pane->refreshDirectoryLabel();
    });
}

void TerminalPane::stopDirectoryTracking()
{
    if (directoryTimer_) {
        directoryTimer_->invalidate();
        directoryTimer_.reset();
    }
}

void TerminalPane::refreshDirectoryLabel()
{
    // Without an answer (the shell ended, its directory was removed) the last known one stays.
    if (!isRunning() || !shellDirectory_)
        return;
    if (const std::optional<std::string> path = shellDirectory_->currentDirectory())
        updateDirectoryLabel(*path);
}

void TerminalPane::updateDirectoryLabel(const std::string& path)
{
    if (path == currentDirectory_)
        return;
    currentDirectory_ = path;
    if (onDirectoryChanged)
        onDirectoryChanged(*this);
}

// --- Rendering -----------------------------------------------------------------------------------

void TerminalPane::applyRenderingPreference()
{
    if (renderingRetry_) {
        renderingRetry_->invalidate();
        renderingRetry_.reset();
    }
    if (!terminal_)
        return;
    ++renderingApplications_;
    const bool wanted = renderingPreferences_.metalEnabled() && !graphicsSuspended;
    // The GPU needs a window to draw in; the view asks again when it enters one.
    if (wanted && !(terminal_->host() && terminal_->host()->hasWindow()))
        return;
    // A machine without a GPU device stays without one: once switching on failed for that
    // reason, no pane asks again (the failure was logged).
    static bool deviceUnavailable = false;
    if (wanted && deviceUnavailable)
        return;
    const std::optional<kestrovan::MetalError> failure = terminal_->setUseMetal(wanted);
    if (wanted && failure == kestrovan::MetalError::deviceUnavailable)
        deviceUnavailable = true;
    // A failure to switch on leaves the view on the CPU, which the view has logged; a failure to
    // switch off while the GPU still draws is tried again a second later.
    if (!failure || wanted || !terminal_->isUsingMetalRenderer())
        return;
    std::weak_ptr<TerminalPane> weak = weak_from_this();
    renderingRetry_ = platform::MainThreadTimers::system()->schedule(renderingRetryDelay, false, [weak] {
        if (const auto pane = weak.lock())
            pane->applyRenderingPreference();
    });
}

namespace {

void onPointerEntered(GtkEventControllerMotion*, double, double, gpointer data)
{
    if (const auto pane = receiverOf<TerminalPane>(data))
        pane->setCloseButtonShown(true);
}

void onPointerLeft(GtkEventControllerMotion*, gpointer data)
{
    if (const auto pane = receiverOf<TerminalPane>(data))
        pane->setCloseButtonShown(false);
}

void onCloseClicked(GtkButton*, gpointer data)
{
    if (const auto pane = receiverOf<TerminalPane>(data); pane && pane->onClose)
        pane->onClose(*pane);
}

gboolean onDropAccept(GtkDropTarget*, GdkDrop* drop, gpointer data)
{
    // A drop is taken only while the shell runs, and only of files.
    const auto pane = receiverOf<TerminalPane>(data);
    return pane && pane->terminal() && pane->terminal()->acceptsDrops() &&
           gdk_content_formats_contain_gtype(gdk_drop_get_formats(drop), GDK_TYPE_FILE_LIST);
}

gboolean onDrop(GtkDropTarget*, const GValue* value, double, double, gpointer data)
{
    const auto pane = receiverOf<TerminalPane>(data);
    if (!pane || !pane->terminal() || !G_VALUE_HOLDS(value, GDK_TYPE_FILE_LIST))
        return false;
    std::vector<std::string> paths;
    for (GSList* item = static_cast<GSList*>(g_value_get_boxed(value)); item; item = item->next) {
        // A file without a local path (a remote location) cannot be typed for the shell.
        char* path = g_file_get_path(G_FILE(item->data));
        if (!path)
            return false;
        paths.emplace_back(path);
        g_free(path);
    }
    return pane->terminal()->acceptDrop(paths);
}

} // namespace

} // namespace vesk
