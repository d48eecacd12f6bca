// Keystroke to pixels, start-up to the prompt and idle memory of the terminal demo beside the
// terminals installed on the machine (xterm, alacritty), measured from outside in the same run.
// Run it under tools/gui/with-xvfb; it is a program of its own, since everything it measures
// happens in other processes and in the X server.
//
//   bench_EchoLatencyBench [--rounds N] [--keys N] [--renderers NAME,...]
//
// `--renderers gl,cairo` adds rows of the demo with GSK_RENDERER set to each name (a user's
// choice, which the demo keeps as it is), beside its own choice.
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

#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    int rounds = 3;
    int keys = 100;
    std::vector<std::string> renderers;
    for (int index = 1; index + 1 < argc; index += 2) {
        if (std::strcmp(argv[index], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[index + 1]));
        else if (std::strcmp(argv[index], "--keys") == 0)
            keys = std::max(10, std::atoi(argv[index + 1]));
        else if (std::strcmp(argv[index], "--renderers") == 0)
            renderers = commaSeparated(argv[index + 1]);
    }
    Display* display = openProbeDisplay();
    if (!display)
        return 1;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    const std::string child = self;

    // 80x24 cells of a monospace font at 13 px in every terminal.
    const std::vector<std::string> demo = {
        KESTROVAN_TERMINAL_DEMO, "--font-size", "13", "--size", "640x410", "--", child, "--echo-child"};
    std::vector<Terminal> terminals = {{"this view (demo)", demo}};
    for (const std::string& renderer : renderers) {
        Terminal row{"  GSK_RENDERER=" + renderer, {"env", "GSK_RENDERER=" + renderer}};
        row.command.insert(row.command.end(), demo.begin(), demo.end());
        terminals.push_back(row);
    }
    auto installed = [](const char* program) {
        return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
    };
    if (installed("xterm"))
        terminals.push_back({"xterm",
                             {"xterm", "-fa", "DejaVu Sans Mono", "-fs", "10", "-geometry", "80x24", "-e",
                              child, "--echo-child"}});
    if (installed("alacritty"))
        terminals.push_back({"alacritty",
                             {"alacritty", "-o", "font.size=10", "-o", "font.normal.family=DejaVu Sans Mono",
                              "-o", "window.dimensions.columns=80", "-o", "window.dimensions.lines=24", "-e",
                              child, "--echo-child"}});

    const char* renderer = std::getenv("GSK_RENDERER");
    std::printf("load average before: %s on %u cores; GSK_RENDERER %s; niceness %d\n", loadAverage().c_str(),
                std::thread::hardware_concurrency(), renderer ? renderer : "unset", nice(0));
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
    XCloseDisplay(display);
    return status;
}
