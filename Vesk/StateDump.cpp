#include "Vesk/StateDump.h"

#include "Kestrovan/Terminal.h"
#include "Platform/Files/RegularFile.h"
#include "Platform/UI/GtkChildPlacement.h"
#include "Platform/UI/GtkFindBar.h"
#include "Platform/UI/GtkMenuBar.h"
#include "Vesk/AlertCenter.h"
#include "Vesk/AppDelegate.h"
#include "Vesk/ErrorBell.h"
#include "Vesk/TerminalWindow.h"
#include "Vesk/TerminalWindowController.h"
#include "VeskCore/RenderingPreferences.h"

#include <cstdio>
#include <cstdlib>
#include <gdk/x11/gdkx.h>
#include <glib-unix.h>
#include <span>
#include <tuple>
#include <unistd.h>

namespace vesk {

namespace {

std::string escaped(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

/// One record: its type, then its fields.
class Record
{
public:
    explicit Record(const char* type) : line_(type) {}
    Record& operator()(const char* key, const std::string& value)
    {
        line_ += '\t';
        line_ += key;
        line_ += '=';
        line_ += escaped(value);
        return *this;
    }
    Record& operator()(const char* key, long long value) { return (*this)(key, std::to_string(value)); }
    Record& operator()(const char* key, bool value) { return (*this)(key, std::string(value ? "1" : "0")); }
    Record& operator()(const char* key, double value)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", value);
        return (*this)(key, std::string(text));
    }
    std::string str() const { return line_ + "\n"; }

private:
    std::string line_;
};

std::string fontName(const std::shared_ptr<SafeTerminalView>& terminal)
{
    if (!terminal || !terminal->fontSet().normal)
        return {};
    return terminal->fontSet().normal->postScriptName();
}

/// The screen rows of a terminal view, trailing blanks and blank rows at the end left out.
std::vector<std::string> screenLines(SafeTerminalView& terminal)
{
    std::vector<std::string> lines = terminal.withTerminal(
        [](kestrovan::Terminal& t) {
            std::vector<std::string> rows;
            for (int row = 0; row < t.rows(); ++row) {
                std::string text;
                if (const std::shared_ptr<const kestrovan::BufferLine> line = t.getLine(row)) {
                    for (int col = 0; col < t.cols() && col < line->count(); ++col) {
                        const kestrovan::CharData cell = (*line)[col];
                        if (cell.width == 0)
                            continue;
                        text += cell.code == 0 ? std::string(" ") : cell.getText();
                    }
                }
                text.erase(text.find_last_not_of(' ') + 1);
                rows.push_back(std::move(text));
            }
            return rows;
        },
        "stateDump");
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

unsigned long xidOf(GtkWindow* window)
{
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    return surface && GDK_IS_X11_SURFACE(surface) ? gdk_x11_surface_get_xid(surface) : 0;
}

uint64_t dumpSerial = 0;

void writeDump(const AppDelegate& delegate, const std::string& path)
{
    const std::string text = "serial=" + std::to_string(++dumpSerial) + "\n" + StateDump::describe(delegate);
    const std::string temporary = path + ".new";
    // The test names the paths; whatever sits there, the main loop never waits on it.
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (!platform::writeRegularFile(temporary, bytes, platform::WriteMode::replace))
        std::rename(temporary.c_str(), path.c_str());
}

} // namespace

namespace {

long long number(size_t value)
{
    return static_cast<long long>(value);
}

/// A widget's rectangle in another's coordinates; all 0 without the widget or a common root.
struct Bounds
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

Bounds boundsIn(GtkWidget* widget, GtkWidget* target)
{
    graphene_rect_t rect;
    if (!widget || !gtk_widget_compute_bounds(widget, target, &rect))
        return {};
    return {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}

/// The width the text of a text widget takes in its font; 0 without the widget.
long long textWidth(GtkWidget* widget)
{
    if (!widget)
        return 0;
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, gtk_editable_get_text(GTK_EDITABLE(widget)));
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    return width;
}

/// The first button at or under `widget` whose tool tip is `toolTip`.
GtkWidget* buttonWithToolTip(GtkWidget* widget, const std::string& toolTip)
{
    if (!widget)
        return nullptr;
    const char* text = gtk_widget_get_tooltip_text(widget);
    if (GTK_IS_BUTTON(widget) && text && toolTip == text)
        return widget;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child))
        if (GtkWidget* found = buttonWithToolTip(child, toolTip))
            return found;
    return nullptr;
}

std::string windowRecord(const TerminalWindow& window, size_t index)
{
    GtkWindow* gtkWindow = window.gtkWindow();
    const auto tabs = window.tabs();
    long long selected = -1;
    for (size_t t = 0; t < tabs.size(); ++t)
        if (tabs[t] == window.selectedTab())
            selected = number(t);
    const char* title = gtk_window_get_title(gtkWindow);
    Record record("window");
    record("index", number(index))("id",
                                   number(gtk_application_window_get_id(GTK_APPLICATION_WINDOW(gtkWindow))));
    record("xid", static_cast<long long>(xidOf(gtkWindow)))("title", std::string(title ? title : ""));
    record("active", window.isActive())("minimized", window.isMinimized());
    record("width", number(gtk_widget_get_width(GTK_WIDGET(gtkWindow))));
    record("height", number(gtk_widget_get_height(GTK_WIDGET(gtkWindow))));
    record("tabs", number(tabs.size()))("selected", selected);
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(gtkWindow));
    record("toolkit-renderer", std::string(renderer ? G_OBJECT_TYPE_NAME(renderer) : ""));
    record("focus-in-menu-bar", platform::gtk::focusIsInMenuBar(gtkWindow));
    return record.str();
}

/// The titles of a window's menu bar, where they are in the window (so that a test can click
/// one), and whether each one's menu is open.
std::string menuRecords(const TerminalWindow& window, size_t windowIndex)
{
    std::string out;
    GtkWidget* bar = platform::gtk::menuBarOf(window.gtkWindow());
    for (const platform::gtk::MenuBarMenu& menu : platform::gtk::menusOf(bar)) {
        graphene_rect_t bounds;
        if (!gtk_widget_compute_bounds(menu.title, GTK_WIDGET(window.gtkWindow()), &bounds))
            continue;
        Record record("menu");
        record("window", number(windowIndex))("title", menu.text);
        record("x", double(bounds.origin.x))("y", double(bounds.origin.y));
        record("width", double(bounds.size.width))("height", double(bounds.size.height));
        record("open", menu.popover && gtk_widget_get_visible(GTK_WIDGET(menu.popover)));
        out += record.str();
    }
    return out;
}

/// The text a label shows: its own where the layout keeps it, "…" where the layout cuts it short.
std::string shownText(GtkLabel* label)
{
    PangoLayout* layout = gtk_label_get_layout(label);
    const std::string text = pango_layout_get_text(layout);
    std::string shown;
    for (int line = 0; line < pango_layout_get_line_count(layout); ++line)
        for (GSList* runs = pango_layout_get_line_readonly(layout, line)->runs; runs; runs = runs->next) {
            const PangoItem* item = static_cast<PangoLayoutRun*>(runs->data)->item;
            if (item->analysis.flags & PANGO_ANALYSIS_FLAG_IS_ELLIPSIS)
                shown += "…";
            else
                shown += text.substr(static_cast<size_t>(item->offset), static_cast<size_t>(item->length));
        }
    return shown;
}

std::string tabRecord(const TerminalWindow& window, const TerminalWindowController& tab, size_t windowIndex,
                      size_t index)
{
    long long active = -1;
    for (size_t p = 0; p < tab.panes().size(); ++p)
        if (tab.panes()[p] == tab.activePane())
            active = number(p);
    Record record("tab");
    record("window", number(windowIndex))("index", number(index));
    record("title", tab.title())("label", tab.tabLabel())("tooltip", tab.toolTip());
    // What the tab bar shows of the label, and whether the label is on screen (a tab scrolled
    // out of the bar is not).
    GtkLabel* label = window.tabLabelOf(tab);
    record("label-shown", label ? shownText(label) : std::string());
    record("label-mapped", label && gtk_widget_get_mapped(GTK_WIDGET(label)));
    record("panes", number(tab.panes().size()))("active-pane", active)("hidden", tab.isHiddenTab());
    record("graphics-updates", number(tab.graphicsUpdates()));
    return record.str();
}

std::string paneRecord(const TerminalWindow& window, const TerminalWindowController& tab, size_t windowIndex,
                       size_t tabIndex, size_t index)
{
    const TerminalPane& pane = *tab.panes()[index];
    const auto& terminal = pane.terminal();
    // Where the terminal's first cell is in the window, and a cell's size, so that a test can
    // point at text.
    graphene_point_t origin = GRAPHENE_POINT_INIT(0, 0);
    if (GtkWidget* view = pane.terminalWidget()) {
        const graphene_point_t zero = GRAPHENE_POINT_INIT(0, 0);
        if (!gtk_widget_compute_point(view, GTK_WIDGET(window.gtkWindow()), &zero, &origin))
            origin = GRAPHENE_POINT_INIT(0, 0);
    }
    const platform::Size cell =
        terminal ? terminal->cellDimension().value_or(platform::Size{0, 0}) : platform::Size{0, 0};
    Record record("pane");
    record("window", number(windowIndex))("tab", number(tabIndex))("index", number(index));
    record("active", tab.panes()[index] == tab.activePane())("focus", pane.hasFocus() && window.isActive());
    record("directory", pane.currentDirectory())("running", pane.isRunning());
    record("pid", static_cast<long long>(pane.shellPid()));
    // The grid the pseudo-terminal had when the shell started.
    record("start-cols", static_cast<long long>(pane.shellStartSize().ws_col))(
        "start-rows", static_cast<long long>(pane.shellStartSize().ws_row));
    record("font", fontName(terminal))("font-size", static_cast<long long>(pane.fontSize()));
    record("suspended", pane.graphicsSuspended);
    record("rendering", std::string(terminal && terminal->isUsingMetalRenderer() ? "gpu" : "cpu"));
    record("rendering-applications", number(pane.renderingApplications()));
    record("width", number(gtk_widget_get_width(pane.view())))("height",
                                                               number(gtk_widget_get_height(pane.view())));
    record("terminal-x", origin.x)("terminal-y", origin.y)("cell-width", cell.width)("cell-height",
                                                                                     cell.height);
    // Where the pane and its terminal view are in the window.
    const Bounds paneBounds = boundsIn(pane.view(), GTK_WIDGET(window.gtkWindow()));
    const Bounds terminalBounds = boundsIn(pane.terminalWidget(), GTK_WIDGET(window.gtkWindow()));
    record("x", paneBounds.x)("y", paneBounds.y);
    record("terminal-width", terminalBounds.width)("terminal-height", terminalBounds.height);
    // The close button and the find bar's own close button, where they are in the window; the
    // grid and where the view is scrolled to, and the selected text.
    const Bounds close = boundsIn(pane.closeButton(), GTK_WIDGET(window.gtkWindow()));
    record("close-shown", pane.closeButtonShown())("close-x", close.x)("close-y", close.y);
    record("close-width", close.width)("close-height", close.height);
    if (terminal) {
        const auto [cols, rows, top] = terminal->withTerminal(
            [](kestrovan::Terminal& t) { return std::tuple(t.cols(), t.rows(), t.buffer().yDisp()); },
            "stateDump");
        record("cols", static_cast<long long>(cols))("rows", static_cast<long long>(rows));
        record("scroll-top", static_cast<long long>(top));
        record("selection", terminal->getSelection().value_or(""));
        const auto* bar = dynamic_cast<const platform::gtk::GtkFindBar*>(terminal->findBar().get());
        const bool barShown = bar && !bar->isHidden();
        GtkWidget* barClose =
            barShown ? buttonWithToolTip(bar->childWidget(), terminal->findBarLabels().closeTooltip)
                     : nullptr;
        const Bounds found = boundsIn(barClose, GTK_WIDGET(window.gtkWindow()));
        record("find-bar", barClose != nullptr)("find-close-x", found.x)("find-close-y", found.y);
        record("find-close-width", found.width)("find-close-height", found.height);
        // The find bar, the part of its field that shows the text, and the width the text needs.
        const Bounds barBounds =
            boundsIn(barShown ? bar->childWidget() : nullptr, GTK_WIDGET(window.gtkWindow()));
        record("find-bar-x", barBounds.x)("find-bar-y", barBounds.y);
        record("find-bar-width", barBounds.width)("find-bar-height", barBounds.height);
        GtkWidget* fieldText =
            barShown ? GTK_WIDGET(gtk_editable_get_delegate(GTK_EDITABLE(bar->entry()))) : nullptr;
        const Bounds field = boundsIn(fieldText, GTK_WIDGET(window.gtkWindow()));
        record("find-field-x", field.x)("find-field-y", field.y);
        record("find-field-width", field.width)("find-field-height", field.height);
        record("find-field-text-width", textWidth(fieldText));
        // What the field holds, and whether it has the keyboard.
        record("find-text", std::string(barShown ? bar->searchText() : ""));
        record("find-focus", fieldText != nullptr && gtk_widget_has_focus(fieldText));
    }
    std::string out = record.str();
    if (!terminal)
        return out;
    const std::vector<std::string> lines = screenLines(*terminal);
    for (size_t row = 0; row < lines.size(); ++row) {
        Record line("line");
        line("window", number(windowIndex))("tab", number(tabIndex))("pane", number(index));
        line("row", number(row))("text", lines[row]);
        out += line.str();
    }
    return out;
}

} // namespace

std::string StateDump::describe(const AppDelegate& delegate)
{
    Record app("app");
    app("pid", static_cast<long long>(getpid()))("beeps", number(ErrorBell::count()));
    app("gpu-preference", delegate.renderingPreferences().metalEnabled());
    app("rendering-passes", number(delegate.renderingPasses()))("sessions",
                                                                number(delegate.sessions().size()));
    std::string out = app.str();
    for (const AlertCenter::OpenAlert& open : AlertCenter::shared().openAlerts()) {
        std::string buttons;
        for (const std::string& button : open.alert.buttons)
            buttons += (buttons.empty() ? "" : "|") + button;
        Record alert("alert");
        alert("message", open.alert.messageText)("informative", open.alert.informativeText);
        alert("detail", open.alert.detailText.value_or(""))("buttons", buttons);
        out += alert.str();
    }
    const auto& windows = delegate.windows();
    for (size_t w = 0; w < windows.size(); ++w) {
        out += windowRecord(*windows[w], w);
        out += menuRecords(*windows[w], w);
        const auto tabs = windows[w]->tabs();
        for (size_t t = 0; t < tabs.size(); ++t) {
            out += tabRecord(*windows[w], *tabs[t], w, t);
            for (size_t p = 0; p < tabs[t]->panes().size(); ++p)
                out += paneRecord(*windows[w], *tabs[t], w, t, p);
        }
    }
    return out;
}

void StateDump::installTestHooks(const std::shared_ptr<AppDelegate>& delegate)
{
    if (const char* path = std::getenv("VESK_TEST_STATE_DUMP"); path && path[0]) {
        struct Hook
        {
            std::weak_ptr<AppDelegate> delegate;
            std::string path;
        };
        g_unix_signal_add_full(
            G_PRIORITY_DEFAULT, SIGUSR1,
            [](gpointer data) {
                auto* hook = static_cast<Hook*>(data);
                if (const auto app = hook->delegate.lock())
                    writeDump(*app, hook->path);
                return gboolean(G_SOURCE_CONTINUE);
            },
            new Hook{delegate, path}, [](gpointer data) { delete static_cast<Hook*>(data); });
        // The first dump says the handler is in place: a SIGUSR1 before it would end the process.
        writeDump(*delegate, path);
    }
    if (const char* path = std::getenv("VESK_TEST_OPEN_URL_LOG"); path && path[0]) {
        const std::string log = path;
        delegate->openLink = [log](const std::string& url) {
            const std::string line = url + "\n";
            platform::writeRegularFile(log,
                                       std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()),
                                       platform::WriteMode::append);
        };
    }
}

} // namespace vesk
