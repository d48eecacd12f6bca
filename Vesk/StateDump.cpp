#include "Vesk/StateDump.h"

#include "Kestrovan/Terminal.h"
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
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) == 0 && written)
            std::rename(temporary.c_str(), path.c_str());
    }
}

} // namespace

std::string StateDump::describe(const AppDelegate& delegate)
{
    std::string out;
    out += Record("app")("pid", static_cast<long long>(getpid()))("beeps",
                                                                  static_cast<long long>(ErrorBell::count()))(
               "gpu-preference", delegate.renderingPreferences().metalEnabled())(
               "rendering-passes", static_cast<long long>(delegate.renderingPasses()))(
               "sessions", static_cast<long long>(delegate.sessions().size()))
               .str();
    for (const AlertCenter::OpenAlert& open : AlertCenter::shared().openAlerts()) {
        std::string buttons;
        for (const std::string& button : open.alert.buttons)
            buttons += (buttons.empty() ? "" : "|") + button;
        out += Record("alert")("message", open.alert.messageText)("informative", open.alert.informativeText)(
                   "detail", open.alert.detailText.value_or(""))("buttons", buttons)
                   .str();
    }
    const auto& windows = delegate.windows();
    for (size_t w = 0; w < windows.size(); ++w) {
        const TerminalWindow& window = *windows[w];
        const auto tabs = window.tabs();
        const auto selected = window.selectedTab();
        long long selectedIndex = -1;
        for (size_t t = 0; t < tabs.size(); ++t)
            if (tabs[t] == selected)
                selectedIndex = static_cast<long long>(t);
        GtkWidget* widget = GTK_WIDGET(window.gtkWindow());
        out += Record("window")("index", static_cast<long long>(w))(
                   "id", static_cast<long long>(gtk_application_window_get_id(GTK_APPLICATION_WINDOW(
                             window.gtkWindow()))))("xid", static_cast<long long>(xidOf(window.gtkWindow())))(
                   "title", std::string(gtk_window_get_title(window.gtkWindow())
                                            ? gtk_window_get_title(window.gtkWindow())
                                            : ""))("active", window.isActive())(
                   "minimized", window.isMinimized())("width",
                                                      static_cast<long long>(gtk_widget_get_width(widget)))(
                   "height", static_cast<long long>(gtk_widget_get_height(widget)))(
                   "tabs", static_cast<long long>(tabs.size()))("selected", selectedIndex)
                   .str();
        for (size_t t = 0; t < tabs.size(); ++t) {
            const TerminalWindowController& tab = *tabs[t];
            long long activeIndex = -1;
            for (size_t p = 0; p < tab.panes().size(); ++p)
                if (tab.panes()[p] == tab.activePane())
                    activeIndex = static_cast<long long>(p);
            out += Record("tab")("window", static_cast<long long>(w))("index", static_cast<long long>(t))(
                       "title", tab.title())("label", tab.tabLabel())("tooltip", tab.toolTip())(
                       "panes", static_cast<long long>(tab.panes().size()))("active-pane", activeIndex)(
                       "hidden", tab.isHiddenTab())("graphics-updates",
                                                    static_cast<long long>(tab.graphicsUpdates()))
                       .str();
            for (size_t p = 0; p < tab.panes().size(); ++p) {
                const TerminalPane& pane = *tab.panes()[p];
                const auto& terminal = pane.terminal();
                out +=
                    Record("pane")("window", static_cast<long long>(w))("tab", static_cast<long long>(t))(
                        "index", static_cast<long long>(p))("active", tab.panes()[p] == tab.activePane())(
                        "focus", pane.hasFocus() && window.isActive())("directory", pane.currentDirectory())(
                        "running", pane.isRunning())("pid", static_cast<long long>(pane.shellPid()))(
                        "font", fontName(terminal))("font-size", static_cast<long long>(pane.fontSize()))(
                        "suspended", pane.graphicsSuspended)(
                        "rendering",
                        std::string(terminal && terminal->isUsingMetalRenderer() ? "gpu" : "cpu"))(
                        "rendering-applications", static_cast<long long>(pane.renderingApplications()))(
                        "width", static_cast<long long>(gtk_widget_get_width(pane.view())))(
                        "height", static_cast<long long>(gtk_widget_get_height(pane.view())))
                        .str();
                if (!terminal)
                    continue;
                const std::vector<std::string> lines = screenLines(*terminal);
                for (size_t row = 0; row < lines.size(); ++row)
                    out += Record("line")("window", static_cast<long long>(w))(
                               "tab", static_cast<long long>(t))("pane", static_cast<long long>(p))(
                               "row", static_cast<long long>(row))("text", lines[row])
                               .str();
            }
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
            if (FILE* file = std::fopen(log.c_str(), "ab")) {
                std::fprintf(file, "%s\n", url.c_str());
                std::fclose(file);
            }
        };
    }
}

} // namespace vesk
