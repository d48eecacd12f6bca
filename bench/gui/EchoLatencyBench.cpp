// Keystroke to pixels, start-up to the prompt and idle memory of the terminal demo beside the
// terminals installed on the machine (xterm, alacritty, kitty), measured from outside in the same
// run.
// Run it under tools/gui/with-xvfb; it is a program of its own, since everything it measures
// happens in other processes and in the X server.
//
//   bench_EchoLatencyBench [--rounds N] [--keys N] [--renderers NAME,...] [--cat MIB]
//                          [--gpu-only] [--compare DEMO] [--only PART,...] [--wm-check]
//
// `--gpu-only` keeps only the rows of the demo drawing with the GPU; `--compare DEMO` adds the
// demo's rows for another build of it (a path; "other" in their names), for a before and after in
// the same run. `--only
// demo,xterm` keeps the rows whose name holds one of the parts given.
// `--wm-check` marks the screen as one with a window manager (a check window on the root, as a
// window manager sets it, announcing no hint): without one GTK asks the X server for that window
// on every key press and twice per frame, three round trips on each echo's way that a desktop
// with a window manager does not have.
// `--renderers gl,cairo` adds rows of the demo with GSK_RENDERER set to each name (a user's
// choice, which the demo keeps as it is), beside its own choice. Two rows of the demo drawing with
// the GPU (`--gpu`, with Mesa's software rasterizer admitted as a device) are always there: on the
// render-thread texture surface (the default) and on the GL area (KESTROVAN_METAL_LAYER=0).
// `--cat MIB` measures output instead of keys: each terminal, 200 x 50 cells, runs this program's
// cat child (`--cat-child FILE`), which writes a file of MIB MiB of coloured text (generated once
// from a fixed seed, no line like another) and then the prompt; the time is from starting the
// terminal to the prompt's pixels, start-up included, so the whole file went through the
// terminal's parser and whatever it drew meanwhile. Each terminal's start-up is measured the same
// way with an empty file, and the headless terminal (no view, 200 x 50) takes in the same child's
// output in between, so the views' speed on the bytes is shown as a share of the headless one's.
// The 200 x 50 windows are wider than the X server's default screen: give it a larger one
// (`tools/gui/with-xvfb --screen 2200x1000x24`).
// Each terminal runs this program's own echo child (`--echo-child`): a raw, non-echoing line
// discipline, a prompt of eight magenta cells, then every byte read is written back with a green
// background. Keys are injected with XTest and the echoed cell is read back from the X server
// every 0.1-0.3 ms, so the time covers the whole way: the X server, the terminal's input path,
// the pseudo-terminal, the child, the terminal's output path, its frame and its presentation.
// Keys come 20-40 ms apart ("idle") and 2-10 ms apart ("typing fast"); a key's latency is
// measured on its own cell, so keys may overtake the echoes of earlier ones. Start-up is the time
// from starting the terminal to its prompt's first magenta pixels; idle memory is the terminal
// process's resident set a second after the prompt (its child not counted). Every terminal runs
// once per round, in turn, so machine load falls on all alike; the load average is printed. On a
// machine shared with other work, run it at a raised priority (`nice -n -15`, as root), which
// every terminal and the X server inherit alike.
#include "XTerminalProbe.h"

#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/TerminalOptions.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;
using Clock = ProbeClock;

constexpr int keysPerLine = 60;

// --- The echo child --------------------------------------------------------------------------------

/// Raw mode, the prompt, then every byte back (a carriage return as a new line).
int runEchoChild()
{
    termios mode{};
    if (tcgetattr(STDIN_FILENO, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(STDIN_FILENO, TCSANOW, &mode);
    }
    std::string prompt = "\x1b[2J\x1b[H\x1b[48;2;255;0;255m";
    prompt.append(promptCells, ' ');
    prompt += "\x1b[48;2;0;255;0m";
    if (write(STDOUT_FILENO, prompt.data(), prompt.size()) < 0)
        return 1;
    char bytes[256];
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0)
            return 0;
        std::string out;
        for (ssize_t index = 0; index < count; ++index)
            out += bytes[index] == '\r' ? std::string("\r\n") : std::string(1, bytes[index]);
        if (write(STDOUT_FILENO, out.data(), out.size()) < 0)
            return 1;
    }
}

/// Writes the file at `path` to the terminal, then the prompt, then waits to be stopped (or ends at
/// once with `exitAfterPrompt`, for the headless terminal, which is done when its child is).
int runCatChild(const char* path, bool exitAfterPrompt)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    while (file.read(buffer.data(), std::streamsize(buffer.size())) || file.gcount() > 0) {
        const char* from = buffer.data();
        for (std::streamsize left = file.gcount(); left > 0;) {
            const ssize_t written = write(STDOUT_FILENO, from, size_t(left));
            if (written <= 0)
                return 1;
            from += written;
            left -= written;
        }
    }
    std::string prompt = "\x1b[0m\x1b[2J\x1b[H\x1b[48;2;255;0;255m";
    prompt.append(promptCells, ' ');
    prompt += "\x1b[0m";
    if (write(STDOUT_FILENO, prompt.data(), prompt.size()) < 0)
        return 1;
    if (exitAfterPrompt)
        return 0;
    char byte;
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

/// `mebibytes` MiB of lines of words in six foreground colours and bold, up to 200 cells, every
/// line different (a fixed seed); neither magenta nor background colours, so nothing in it looks
/// like the prompt.
std::string writeColouredText(int mebibytes)
{
    char name[] = "/tmp/vesk-cat-XXXXXX";
    const int descriptor = mkstemp(name);
    if (descriptor < 0)
        return {};
    std::mt19937 random(20261208);
    static const char* const colours[] = {"\x1b[31m", "\x1b[32m", "\x1b[33m", "\x1b[34m",
                                          "\x1b[36m", "\x1b[37m", "\x1b[1m"};
    std::uniform_int_distribution<int> wordLength(1, 9), colour(0, 6), letter(0, 25), lineWords(4, 30);
    std::string text;
    const size_t total = size_t(mebibytes) << 20;
    text.reserve(total + 512);
    while (text.size() < total) {
        int cells = 0;
        const int words = lineWords(random);
        for (int word = 0; word < words && cells < 180; ++word) {
            text += colours[colour(random)];
            const int length = wordLength(random);
            for (int index = 0; index < length; ++index)
                text += char('a' + letter(random));
            text += "\x1b[0m ";
            cells += length + 1;
        }
        text += "\r\n";
    }
    const bool written = write(descriptor, text.data(), text.size()) == ssize_t(text.size());
    close(descriptor);
    return written ? name : std::string();
}

/// Seconds for the headless terminal of `columns` x `lines` to take in the cat child's output of
/// `file`: from starting the child to its end, which comes only after its last output was parsed.
double headlessCat(const std::string& child, const std::string& file, int columns, int lines)
{
    kestrovan::TerminalOptions options = kestrovan::TerminalOptions::defaults();
    options.cols = columns;
    options.rows = lines;
    std::mutex mutex;
    std::condition_variable condition;
    bool ended = false;
    auto headless =
        kestrovan::HeadlessTerminal::create(nullptr, options, true, nullptr, [&](std::optional<int32_t>) {
            std::lock_guard lock(mutex);
            ended = true;
            condition.notify_all();
        });
    const auto started = Clock::now();
    headless->process()->startProcess(child, {"--cat-child", file, "--exit"});
    std::unique_lock lock(mutex);
    if (!condition.wait_for(lock, std::chrono::seconds(60), [&] { return ended; }))
        return -1;
    return milliseconds(Clock::now() - started) / 1000;
}

/// The output run: each terminal from its start to the prompt after the file, and to the prompt
/// with an empty file (its start-up), `rounds` times in turn, with the headless terminal of the
/// same size taking in the same bytes in between; the median and the best of each, and the
/// medians without the start-up beside the headless terminal's.
int runCat(Display* display, const std::vector<Terminal>& terminals, const std::vector<Terminal>& empty,
           int rounds, int mebibytes, const std::string& child, const std::string& file,
           const std::string& emptyFile)
{
    std::printf("load average before: %s on %u cores; cat of %d MiB of coloured text at 200x50\n",
                loadAverage().c_str(), std::thread::hardware_concurrency(), mebibytes);
    std::vector<std::vector<double>> times(terminals.size()), startups(terminals.size());
    std::vector<double> headless;
    int status = 0;
    for (int round = 0; round < rounds; ++round) {
        for (size_t index = 0; index < terminals.size(); ++index) {
            const double seconds = headlessCat(child, file, 200, 50);
            if (seconds < 0)
                status = 1;
            else
                headless.push_back(seconds);
            for (const bool withFile : {false, true}) {
                std::optional<Running> running =
                    start(display, withFile ? terminals[index] : empty[index], std::chrono::seconds(60));
                if (!running) {
                    status = 1;
                    continue;
                }
                (withFile ? times : startups)[index].push_back(running->startupMs / 1000);
                stop(*running);
            }
        }
    }
    std::printf("load average after: %s; %d rounds\n", loadAverage().c_str(), rounds);
    if (headless.empty())
        return 1;
    // On a loaded machine the bests say more than the medians; both are shown.
    const double headlessMedian = percentile(headless, 0.5);
    const double headlessBest = *std::min_element(headless.begin(), headless.end());
    std::printf("%-22s %16s %16s %18s %18s\n", "s", "median / best", "start-up", "without start-up",
                "headless / view");
    std::printf("%-22s %7.3f / %-6.3f %16s %7.3f / %-8.3f %7s / %-8s\n", "headless terminal", headlessMedian,
                headlessBest, "-", headlessMedian, headlessBest, "100%", "100%");
    for (size_t index = 0; index < terminals.size(); ++index) {
        if (times[index].empty() || startups[index].empty())
            continue;
        const double median = percentile(times[index], 0.5);
        const double best = *std::min_element(times[index].begin(), times[index].end());
        const double startup = percentile(startups[index], 0.5);
        const double startupBest = *std::min_element(startups[index].begin(), startups[index].end());
        const double bytesMedian = std::max(median - startup, 1e-3);
        const double bytesBest = std::max(best - startupBest, 1e-3);
        std::printf("%-22s %7.3f / %-6.3f %7.3f / %-6.3f %7.3f / %-8.3f %6.0f%% / %-6.0f%%\n",
                    terminals[index].name.c_str(), median, best, startup, startupBest, bytesMedian, bytesBest,
                    100 * headlessMedian / bytesMedian, 100 * headlessBest / bytesBest);
    }
    std::printf(
        "times run from starting the terminal to its prompt's pixels after the file; start-up is the\n"
        "same with an empty file; the last column is the headless terminal's time over the view's\n"
        "without its start-up, medians and bests (100%% is as fast as the headless terminal)\n");
    unlink(file.c_str());
    unlink(emptyFile.c_str());
    return status;
}

// --- A window manager's check window ---------------------------------------------------------------

/// Marks the screen as one with a window manager, as a window manager does: a check window named
/// on the root window and on itself (`_NET_SUPPORTING_WM_CHECK`), and a list of supported hints
/// that names only the check itself. Without that mark GTK asks the X server for the check window
/// again on every key press and twice in every frame, each a round trip; with it GTK asks once.
/// No hint that would change what the terminals do is announced (no frame synchronisation, no
/// focus requests). The window; remove it with `withdrawWindowManagerCheck`.
Window announceWindowManagerCheck(Display* display)
{
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window check = XCreateWindow(display, root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent,
                                       CWOverrideRedirect, &attributes);
    const Atom checkAtom = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    for (const Window window : {root, check})
        XChangeProperty(display, window, checkAtom, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&check), 1);
    const char title[] = "echo benchmark";
    XChangeProperty(display, check, name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), int(sizeof title - 1));
    const Atom hints[] = {checkAtom, supported};
    XChangeProperty(display, root, supported, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(hints), 2);
    XSync(display, False);
    return check;
}

void withdrawWindowManagerCheck(Display* display, Window check)
{
    const Window root = DefaultRootWindow(display);
    XDeleteProperty(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False));
    XDeleteProperty(display, root, XInternAtom(display, "_NET_SUPPORTED", False));
    XDestroyWindow(display, check);
    XSync(display, False);
}

// --- Typing ----------------------------------------------------------------------------------------

/// Types `keys` spaces at pauses drawn from [`minimumMs`, `maximumMs`] and returns each key's
/// latency to its green cell. `row` and `column` are where the next echo goes; they move on.
std::vector<double> type(Display* display, Running& running, int keys, double minimumMs, double maximumMs,
                         int& row, int& column, std::mt19937& random)
{
    struct Pending
    {
        int row, column;
        Clock::time_point pressed;
    };
    std::vector<double> latencies;
    std::vector<Pending> pending;
    std::uniform_real_distribution<double> pause(minimumMs, maximumMs);
    Clock::time_point nextPress = Clock::now();
    int sent = 0;
    const auto limit =
        Clock::now() + std::chrono::seconds(30) + std::chrono::milliseconds(int(keys * maximumMs));
    while ((sent < keys || !pending.empty()) && Clock::now() < limit) {
        const Clock::time_point now = Clock::now();
        // A new line waits until every echo of the line is in.
        const bool lineFull = column >= keysPerLine;
        if (sent < keys && now >= nextPress && !(lineFull && !pending.empty())) {
            if (lineFull) {
                // The new line is not measured: the key, then time for its echo.
                pressKey(display, XK_Return);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                ++row;
                column = 0;
            }
            pending.push_back({row, column++, Clock::now()});
            pressKey(display, XK_space);
            ++sent;
            nextPress =
                pending.back().pressed + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double, std::milli>(pause(random)));
        }
        for (auto entry = pending.begin(); entry != pending.end();) {
            if (isGreen(cellPixel(display, running.window, running.grid, entry->row, entry->column))) {
                latencies.push_back(milliseconds(Clock::now() - entry->pressed));
                entry = pending.erase(entry);
            } else {
                ++entry;
            }
        }
        // Reading a pixel back takes about 0.1 ms; a short nap keeps the reads 0.1-0.3 ms apart.
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (latencies.size() != size_t(keys))
        std::fprintf(stderr, "  %d of %d echoes seen\n", int(latencies.size()), keys);
    return latencies;
}

struct Results
{
    std::vector<double> idle, fast, startup;
    std::vector<long> residentKiB;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--echo-child") == 0)
        return runEchoChild();
    if (argc > 2 && std::strcmp(argv[1], "--cat-child") == 0)
        return runCatChild(argv[2], argc > 3 && std::strcmp(argv[3], "--exit") == 0);
    int rounds = 3;
    int keys = 100;
    std::vector<std::string> renderers;
    int catMebibytes = 0;
    std::string compareDemo;
    bool gpuOnly = false;
    bool windowManagerCheck = false;
    std::vector<std::string> only;
    for (int index = 1; index < argc; ++index) {
        const std::string option = argv[index];
        if (option == "--gpu-only") {
            gpuOnly = true;
            continue;
        }
        if (option == "--wm-check") {
            windowManagerCheck = true;
            continue;
        }
        if (index + 1 >= argc)
            break;
        const char* value = argv[++index];
        if (option == "--rounds")
            rounds = std::max(1, std::atoi(value));
        else if (option == "--cat")
            catMebibytes = std::max(1, std::atoi(value));
        else if (option == "--keys")
            keys = std::max(10, std::atoi(value));
        else if (option == "--renderers")
            renderers = commaSeparated(value);
        else if (option == "--compare")
            compareDemo = value;
        else if (option == "--only")
            only = commaSeparated(value);
    }
    Display* display = openProbeDisplay();
    if (!display)
        return 1;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    const std::string child = self;

    // 80x24 cells of a monospace font at 13 px in every terminal (200x50 for the output run), each
    // running the child given.
    const std::string catFile = catMebibytes > 0 ? writeColouredText(catMebibytes) : std::string();
    if (catMebibytes > 0 && catFile.empty()) {
        std::fprintf(stderr, "could not write the text file\n");
        return 1;
    }
    std::vector<std::string> childCommand = catMebibytes > 0
                                                ? std::vector<std::string>{child, "--cat-child", catFile}
                                                : std::vector<std::string>{child, "--echo-child"};
    const int columns = catMebibytes > 0 ? 200 : 80;
    const int lines = catMebibytes > 0 ? 50 : 24;
    // The demo's cells are 10 x 17 points at 13 px.
    const std::string demoSize = catMebibytes > 0 ? "2000x850" : "640x410";
    auto demoRow = [&](std::vector<std::string> prefix, std::vector<std::string> options,
                       const std::string& demo = KESTROVAN_TERMINAL_DEMO) {
        std::vector<std::string> command = std::move(prefix);
        for (const std::string& part :
             {demo, std::string("--font-size"), std::string("13"), std::string("--size"), demoSize})
            command.push_back(part);
        command.insert(command.end(), options.begin(), options.end());
        command.push_back("--");
        command.insert(command.end(), childCommand.begin(), childCommand.end());
        return command;
    };
    auto installed = [](const char* program) {
        return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
    };
    auto withChild = [&](std::vector<std::string> command) {
        command.insert(command.end(), childCommand.begin(), childCommand.end());
        return command;
    };
    // Every terminal measured, running the child command as it is when the list is made.
    auto listTerminals = [&] {
        std::vector<Terminal> terminals;
        if (!gpuOnly)
            terminals.push_back({"this view (demo)", demoRow({}, {})});
        terminals.push_back({"  GPU forced", demoRow({"env", "KESTROVAN_GPU_SOFTWARE=1"}, {"--gpu"})});
        terminals.push_back(
            {"  GPU, GL area",
             demoRow({"env", "KESTROVAN_GPU_SOFTWARE=1", "KESTROVAN_METAL_LAYER=0"}, {"--gpu"})});
        if (!compareDemo.empty()) {
            if (!gpuOnly)
                terminals.push_back({"  other build", demoRow({}, {}, compareDemo)});
            terminals.push_back(
                {"  other GPU forced", demoRow({"env", "KESTROVAN_GPU_SOFTWARE=1"}, {"--gpu"}, compareDemo)});
            terminals.push_back({"  other GPU, GL area",
                                 demoRow({"env", "KESTROVAN_GPU_SOFTWARE=1", "KESTROVAN_METAL_LAYER=0"},
                                         {"--gpu"}, compareDemo)});
        }
        for (const std::string& renderer : renderers)
            terminals.push_back(
                {"  GSK_RENDERER=" + renderer, demoRow({"env", "GSK_RENDERER=" + renderer}, {})});
        if (!gpuOnly && installed("xterm"))
            terminals.push_back(
                {"xterm", withChild({"xterm", "-fa", "DejaVu Sans Mono", "-fs", "10", "-geometry",
                                     std::to_string(columns) + "x" + std::to_string(lines), "-e"})});
        if (!gpuOnly && installed("alacritty"))
            terminals.push_back(
                {"alacritty",
                 withChild({"alacritty", "-o", "font.size=10", "-o", "font.normal.family=DejaVu Sans Mono",
                            "-o", "window.dimensions.columns=" + std::to_string(columns), "-o",
                            "window.dimensions.lines=" + std::to_string(lines), "-e"})});
        if (!gpuOnly && installed("kitty"))
            terminals.push_back(
                {"kitty", withChild({"kitty", "-o", "font_size=10", "-o", "font_family=DejaVu Sans Mono",
                                     "-o", "remember_window_size=no", "-o",
                                     "initial_window_width=" + std::to_string(columns) + "c", "-o",
                                     "initial_window_height=" + std::to_string(lines) + "c"})});
        if (!only.empty())
            std::erase_if(terminals, [&](const Terminal& terminal) {
                return std::none_of(only.begin(), only.end(), [&](const std::string& part) {
                    return terminal.name.find(part) != std::string::npos;
                });
            });
        return terminals;
    };
    const std::vector<Terminal> terminals = listTerminals();
    if (catMebibytes > 0) {
        // The same terminals with an empty file, for their start-up.
        char emptyFile[] = "/tmp/vesk-empty-XXXXXX";
        const int descriptor = mkstemp(emptyFile);
        if (descriptor < 0)
            return 1;
        close(descriptor);
        childCommand = {child, "--cat-child", emptyFile};
        return runCat(display, terminals, listTerminals(), rounds, catMebibytes, child, catFile, emptyFile);
    }

    const char* renderer = std::getenv("GSK_RENDERER");
    std::printf("load average before: %s on %u cores; GSK_RENDERER %s; niceness %d; %s\n",
                loadAverage().c_str(), std::thread::hardware_concurrency(), renderer ? renderer : "unset",
                nice(0), windowManagerCheck ? "a window manager's check window" : "no window manager");
    const Window check = windowManagerCheck ? announceWindowManagerCheck(display) : None;
    std::vector<Results> results(terminals.size());
    std::mt19937 random(20261208);
    int status = 0;
    for (int round = 0; round < rounds; ++round) {
        for (size_t index = 0; index < terminals.size(); ++index) {
            std::optional<Running> running = start(display, terminals[index]);
            if (!running) {
                status = 1;
                continue;
            }
            Results& result = results[index];
            result.startup.push_back(running->startupMs);
            // Idle for a second: the start-up's work is done and memory settles.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            result.residentKiB.push_back(residentKiB(running->pid));
            XSetInputFocus(display, running->window, RevertToParent, CurrentTime);
            XWarpPointer(display, None, running->window, 0, 0, 0, 0, 10, 10);
            XSync(display, False);
            int row = 0, column = promptCells;
            std::vector<double> idle = type(display, *running, keys, 20, 40, row, column, random);
            std::vector<double> fast = type(display, *running, keys, 2, 10, row, column, random);
            if (int(idle.size()) != keys || int(fast.size()) != keys)
                status = 1;
            result.idle.insert(result.idle.end(), idle.begin(), idle.end());
            result.fast.insert(result.fast.end(), fast.begin(), fast.end());
            stop(*running);
        }
    }

    std::printf("load average after: %s; %d rounds, %d keys per speed and round\n", loadAverage().c_str(),
                rounds, keys);
    std::printf("%-22s %22s %28s %14s %12s\n", "ms", "idle p50 / p99", "typing fast p50 / p99", "start-up",
                "idle RSS");
    for (size_t index = 0; index < terminals.size(); ++index) {
        const Results& result = results[index];
        if (result.startup.empty())
            continue;
        std::vector<double> memory(result.residentKiB.begin(), result.residentKiB.end());
        std::printf(
            "%-18s %10.2f / %-10.2f %14.2f / %-12.2f %8.1f ms %8.1f MiB\n", terminals[index].name.c_str(),
            percentile(result.idle, 0.5), percentile(result.idle, 0.99), percentile(result.fast, 0.5),
            percentile(result.fast, 0.99), percentile(result.startup, 0.5), percentile(memory, 0.5) / 1024);
    }
    std::printf("start-up and memory are medians over the rounds; start-up bests:");
    for (size_t index = 0; index < terminals.size(); ++index)
        if (!results[index].startup.empty())
            std::printf(" %s %.1f ms", terminals[index].name.c_str(),
                        *std::min_element(results[index].startup.begin(), results[index].startup.end()));
    std::printf("\n");
    if (check != None)
        withdrawWindowManagerCheck(display, check);
    XCloseDisplay(display);
    return status;
}
