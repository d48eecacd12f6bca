// What the application's GUI tests share: the Vesk executable started on the tests' private X
// server and session bus, in a home folder of its own, its state read from the test-only state
// dump, the user played with xdotool, menu actions activated over the session bus as the menus
// activate them, and screenshots.
//
// Nothing here sleeps for a fixed time: every wait polls the state dump (or a file) until a
// condition holds or a deadline passes.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace veskgui {

using namespace std::chrono_literals;

/// One record of the state dump: its type and fields.
struct Record
{
    std::string type;
    std::map<std::string, std::string> fields;

    const std::string& operator[](const std::string& key) const;
    long long number(const std::string& key) const;
};

/// One state dump of the application.
struct State
{
    std::vector<Record> records;

    std::vector<Record> all(const std::string& type) const;
    const Record& app() const;
    std::vector<Record> windows() const { return all("window"); }
    std::vector<Record> alerts() const { return all("alert"); }
    std::vector<Record> tabs(long long window = 0) const;
    std::vector<Record> panes(long long window = 0, long long tab = -1) const;
    /// The selected tab's active pane of a window.
    Record activePane(long long window = 0) const;
    /// The screen rows of a pane.
    std::vector<std::string> lines(long long window, long long tab, long long pane) const;
    bool anyLineContains(const std::string& text) const;
    /// True when a row of any pane reads `text` whole: a command's answer, where `anyLineContains`
    /// is already satisfied by the echo of the typed command line.
    bool anyLineIs(const std::string& text) const;
};

/// A fresh temporary folder, removed with its contents.
class TemporaryFolder
{
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

/// Sends window `xid` what a window manager sends when the user clicks its close button
/// (WM_DELETE_WINDOW); false without a display.
bool sendDeleteWindow(unsigned long xid);

/// Polls `done` every few milliseconds until it holds or `timeout` passes; false at the deadline.
bool poll(const std::function<bool()>& done, std::chrono::milliseconds timeout);

/// Runs a program with `arguments` (no shell between) and waits; its exit status.
int execute(const std::vector<std::string>& arguments);

/// Runs a command and answers its standard output; `status` gets its exit status.
std::string run(const std::string& command, int* status = nullptr);

/// How the application is started.
struct LaunchOptions
{
    /// The executable; the build's by default.
    std::string executable;
    /// Further environment, "NAME=value" each, in place of the driver's own of the same name; a
    /// "NAME" alone leaves the driver's out.
    std::vector<std::string> environment;
    /// Files written into the home folder before the start (a shell profile): name and text.
    std::map<std::string, std::string> homeFiles = {};
};

/// One running application.
class Vesk
{
public:
    explicit Vesk(LaunchOptions options = {});
    ~Vesk();

    /// The application's home folder (its title shows "~" there).
    std::string home() const { return folder_.path() + "/home"; }
    std::string folder() const { return folder_.path(); }
    std::string settingsPath() const { return folder_.path() + "/config/vesk/settings.ini"; }
    std::string linkLog() const { return folder_.path() + "/links"; }
    std::string errorLog() const { return folder_.path() + "/stderr"; }
    pid_t pid() const { return pid_; }
    /// True when the first window shows a shell prompt (and its process runs).
    bool started() const { return started_; }

    /// A fresh dump of the state; empty once the process has ended.
    State state();
    /// Dumps until `condition` holds; the last state, and whether it held, in `held`.
    State waitFor(const std::function<bool(const State&)>& condition, bool* held,
                  std::chrono::milliseconds timeout = 10s);
    /// `waitFor` that fails the test (with `what`) when the condition never held.
    State expect(const std::function<bool(const State&)>& condition, const std::string& what,
                 std::chrono::milliseconds timeout = 10s);

    /// Gives window `index` the keyboard focus and waits until the application says it has it.
    void focus(long long window = 0);
    /// Presses chords ("ctrl+shift+t") in the focused window.
    void key(const std::string& chords);
    /// Clicks the first mouse button at (`x`, `y`) in window `index`'s coordinates.
    void click(double x, double y, long long window = 0);
    /// Types text and presses Return.
    void typeLine(const std::string& text);
    /// Activates a menu action ("win.new-session", "app.quit") over the session bus.
    void activate(const std::string& action, long long window = 0);
    /// Answers the open alert whose message is `message` as the user does with the keyboard:
    /// Return (which always cancels), or Tab to the next button and Space.
    void answerAlert(const std::string& message, bool pressNextButton);
    /// Asks the window manager's way to close window `index` (WM_DELETE_WINDOW).
    void requestClose(long long window = 0);
    /// The X window of window `index`.
    unsigned long xid(long long window = 0);
    /// A screenshot of window `index` (or, with -1, of the whole screen, alerts included) kept
    /// as `name`.png in $VESK_GUI_SCREENSHOTS (else /tmp).
    void screenshot(const std::string& name, long long window = 0);
    /// Waits until the process has ended; its exit status, or none at the deadline.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = 10s);

    /// Whether the process has ended (noticed by a dump or a wait).
    bool exited() const { return exited_; }

private:
    /// Reaps the process if it has ended, keeping its exit status; true once it has.
    bool reapIfEnded();

    TemporaryFolder folder_;
    pid_t pid_ = -1;
    long long serial_ = 0;
    bool started_ = false;
    bool exited_ = false;
    int exitStatus_ = 0;
};

} // namespace veskgui
