// Terminal programs seen from outside, through the X server: starting one and finding its window,
// the coloured cells a benchmark's child or prompt draws, XTest keys, and the resident memory of
// its processes. The benchmarks that measure whole terminals beside one another share these.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

using ProbeClock = std::chrono::steady_clock;

/// How many cells wide the magenta prompt is that a measured terminal shows.
constexpr int promptCells = 8;

inline double milliseconds(ProbeClock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

inline bool isMagenta(unsigned long pixel)
{
    const unsigned red = (pixel >> 16) & 0xff, green = (pixel >> 8) & 0xff, blue = pixel & 0xff;
    return red > 200 && green < 80 && blue > 200;
}

inline bool isGreen(unsigned long pixel)
{
    const unsigned red = (pixel >> 16) & 0xff, green = (pixel >> 8) & 0xff, blue = pixel & 0xff;
    return green > 200 && red < 80 && blue < 80;
}

/// Top-level windows that are mapped.
inline std::set<Window> viewableWindows(Display* display)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::set<Window> windows;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return windows;
    for (unsigned index = 0; index < count; ++index) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[index], &attributes) &&
            attributes.map_state == IsViewable && attributes.width > 100 && attributes.height > 100)
            windows.insert(children[index]);
    }
    if (children)
        XFree(children);
    return windows;
}

/// The smallest rectangle around every pixel of one colour in a window.
struct PixelBox
{
    int left = 0, top = 0, right = -1, bottom = -1;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

/// Where the pixels `matches` picks are in `window`; nothing when there are none.
inline std::optional<PixelBox> findColour(Display* display, Window window, bool (*matches)(unsigned long))
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return std::nullopt;
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    if (!image)
        return std::nullopt;
    PixelBox box{attributes.width, attributes.height, -1, -1};
    for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x)
            if (matches(XGetPixel(image, x, y))) {
                box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
            }
    XDestroyImage(image);
    if (box.right < 0)
        return std::nullopt;
    return box;
}

/// Where the prompt is in a window: its first cell's left and top edges and one cell's size.
struct Grid
{
    int left = 0, top = 0;
    double cellWidth = 0, cellHeight = 0;
};

/// Finds the magenta prompt in `window`; nothing while it is not (fully) drawn.
inline std::optional<Grid> findPrompt(Display* display, Window window)
{
    const std::optional<PixelBox> box = findColour(display, window, isMagenta);
    if (!box || box->width() < promptCells * 3)
        return std::nullopt;
    return Grid{box->left, box->top, double(box->width()) / promptCells, double(box->height())};
}

/// The colour at the centre of cell (`row`, `column`) counted from the prompt's first cell.
inline unsigned long cellPixel(Display* display, Window window, const Grid& grid, int row, int column)
{
    const int x = grid.left + int((column + 0.5) * grid.cellWidth);
    const int y = grid.top + int((row + 0.5) * grid.cellHeight);
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

/// Presses the keys in order, then releases them in reverse: one key, or a chord with modifiers.
inline void pressKeys(Display* display, std::initializer_list<KeySym> symbols)
{
    for (KeySym symbol : symbols)
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, symbol), True, CurrentTime);
    for (auto symbol = std::rbegin(symbols); symbol != std::rend(symbols); ++symbol)
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, *symbol), False, CurrentTime);
    XFlush(display);
}

inline void pressKey(Display* display, KeySym symbol)
{
    pressKeys(display, {symbol});
}

/// A terminal to measure: its name in the results and the command that starts it.
struct Terminal
{
    std::string name;
    std::vector<std::string> command;
};

/// A started terminal with its window and prompt found.
struct Running
{
    pid_t pid = -1;
    Window window = 0;
    Grid grid;
    double startupMs = 0;
};

/// A field of /proc/<pid>/status in KiB ("VmRSS"), or -1.
inline long statusKiB(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

inline long residentKiB(pid_t pid)
{
    return statusKiB(pid, "VmRSS");
}

/// The proportional set size in KiB: shared pages divided among the processes sharing them, so
/// several processes of one program add up to what they really cost together. -1 when unknown.
inline long proportionalKiB(pid_t pid)
{
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line))
        if (line.rfind("Pss:", 0) == 0)
            return std::atol(line.c_str() + 4);
    return -1;
}

/// Ends a started program: SIGTERM, and SIGKILL when it has not gone within 5 s.
inline void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    const auto limit = ProbeClock::now() + std::chrono::seconds(5);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (ProbeClock::now() > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

inline void stop(Running& running)
{
    stop(running.pid);
    running.pid = -1;
}

/// Starts `command` without waiting for it; the child's process id.
inline pid_t launch(const std::vector<std::string>& command)
{
    std::vector<char*> arguments;
    for (const std::string& argument : command)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    return pid;
}

/// Waits until a top-level window that is not in `before` shows the prompt; its window and grid,
/// or nothing at `limit`.
inline std::optional<std::pair<Window, Grid>>
waitForPromptWindow(Display* display, const std::set<Window>& before, ProbeClock::time_point limit)
{
    Window found = 0;
    while (ProbeClock::now() < limit) {
        if (!found) {
            for (Window window : viewableWindows(display))
                if (!before.count(window))
                    found = window;
        }
        if (found) {
            if (const std::optional<Grid> grid = findPrompt(display, found))
                return std::make_pair(found, *grid);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return std::nullopt;
}

/// Starts `terminal` and waits for its prompt; nothing when it did not show one within `limit`.
inline std::optional<Running> start(Display* display, const Terminal& terminal,
                                    std::chrono::seconds limit = std::chrono::seconds(10))
{
    const std::set<Window> before = viewableWindows(display);
    Running running;
    const ProbeClock::time_point started = ProbeClock::now();
    running.pid = launch(terminal.command);
    if (const auto shown = waitForPromptWindow(display, before, started + limit)) {
        running.startupMs = milliseconds(ProbeClock::now() - started);
        running.window = shown->first;
        running.grid = shown->second;
        return running;
    }
    std::fprintf(stderr, "%s showed no prompt within %lld s\n", terminal.name.c_str(),
                 static_cast<long long>(limit.count()));
    stop(running);
    return std::nullopt;
}

/// The value at `fraction` (0.5: the median) of `values`; 0 when there are none.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

/// Opens the X server's display for probing, with XTest; null (and a message) without either.
inline Display* openProbeDisplay()
{
    // Windows come and go while they are looked at (a terminal's helper windows, the last one's
    // closing): a request on one that is gone fails, and the answer is simply not used.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Display* display = XOpenDisplay(nullptr);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!display || !XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        std::fprintf(stderr, "needs an X server with XTest (run under tools/gui/with-xvfb)\n");
        return nullptr;
    }
    return display;
}

/// The names of a comma-separated list ("gl,cairo"), empty ones left out.
inline std::vector<std::string> commaSeparated(const std::string& list)
{
    std::vector<std::string> names;
    for (size_t start = 0; start <= list.size();) {
        const size_t end = std::min(list.find(',', start), list.size());
        if (end > start)
            names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

/// The machine's load averages over 1, 5 and 15 minutes.
inline std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

} // namespace bench
