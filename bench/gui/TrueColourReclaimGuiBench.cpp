// Heavy coloured output in a real Vesk window, and the colours drawn after it.
//
// Each run starts Vesk with a scratch home whose login shell shows a prompt that begins with four
// magenta cells, makes the window 200x50 cells, and runs a function that `cat`s a 64 MiB file of
// lines of 20-199 columns of words, each word in a colour of its own (half `38;5;N`, 30%
// `38;2;r;g;b`, 20% `38;5;N;48;2;r;g;b`, each followed by `ESC[0m`; many more looks than the
// terminal's style table holds, so it is reclaimed again and again), then prints a bar of 40 green
// cells. The run passes when the bar is drawn exactly green, 40 cells wide, with the next prompt's
// four magenta cells below it. The file is written fresh for each run from its own seed. The time
// from Return to the bar is the window's throughput of coloured output.
//
//   tools/gui/with-xvfb --screen 2400x1100x24 dbus-run-session --
//       build/bench/bench_TrueColourReclaimGuiBench [--cpu-runs N] [--gpu-runs N] [--megabytes N]
//       [--vesk NAME=PATH ...]
// (one command line)
//
// CPU runs keep "Use GPU Rendering" off; GPU runs turn it on with KESTROVAN_GPU_SOFTWARE=1, so that
// a software rasterizer counts as a device. With several `--vesk` builds, every run goes to each in
// turn (the same file for each), so that load falls on all alike. The account's shell must be bash.
#include "XTerminalProbe.h"

#include <X11/keysym.h>
#include <cstring>
#include <map>
#include <random>
#include <sys/stat.h>

namespace {

using namespace bench;
using namespace std::chrono_literals;

constexpr int barCells = 40;
constexpr int promptBlockCells = 4;
constexpr int targetColumns = 200;
constexpr int targetRows = 50;

bool isExactly(unsigned long pixel, unsigned red, unsigned green, unsigned blue)
{
    const auto near = [](unsigned a, unsigned b) { return (a > b ? a - b : b - a) <= 2; };
    return near((pixel >> 16) & 0xff, red) && near((pixel >> 8) & 0xff, green) && near(pixel & 0xff, blue);
}

bool isExactMagenta(unsigned long pixel)
{
    return isExactly(pixel, 255, 0, 255);
}

/// The coloured words: lines of 20-199 columns, every word its own colour.
std::string colouredFile(size_t bytes, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string out;
    out.reserve(bytes + 4096);
    static const char* const letters = "abcdefghijklmnopqrstuvwxyz";
    char sgr[80];
    while (out.size() < bytes) {
        const int columns = 20 + int(random() % 180);
        for (int column = 0; column < columns;) {
            const int length = std::min(1 + int(random() % 9), columns - column);
            const unsigned kind = random() % 10;
            if (kind < 5)
                std::snprintf(sgr, sizeof sgr, "\x1b[38;5;%um", unsigned(random() % 256));
            else if (kind < 8)
                std::snprintf(sgr, sizeof sgr, "\x1b[38;2;%u;%u;%um", unsigned(random() % 256),
                              unsigned(random() % 256), unsigned(random() % 256));
            else
                std::snprintf(sgr, sizeof sgr, "\x1b[38;5;%u;48;2;%u;%u;%um", unsigned(random() % 256),
                              unsigned(random() % 256), unsigned(random() % 256), unsigned(random() % 256));
            out += sgr;
            for (int i = 0; i < length; ++i)
                out += letters[random() % 26];
            out += "\x1b[0m";
            column += length;
            if (column < columns) {
                out += ' ';
                ++column;
            }
        }
        out += '\n';
    }
    return out;
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

/// A scratch home for one run: the shell's start-up file, the settings and the file to `cat`.
struct RunHome
{
    std::string path;

    RunHome(const std::string& file, bool gpu)
    {
        char pattern[] = "/tmp/vesk-reclaim-bench-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        path = pattern;
        writeText(path + "/.bash_profile",
                  "unset HISTFILE PROMPT_COMMAND\n"
                  "PS1='\\[\\e[48;2;255;0;255m\\]    \\[\\e[0m\\]$ '\n"
                  "b() { cat '" +
                      file + "'; printf '\\e[48;2;0;255;0m%40s\\e[0m\\n' ''; : > ~/done; }\n");
        mkdir((path + "/config").c_str(), 0700);
        mkdir((path + "/config/vesk").c_str(), 0700);
        writeText(path + "/config/vesk/settings.ini",
                  std::string("[Rendering]\ngpu=") + (gpu ? "true" : "false") + "\n");
    }
    ~RunHome()
    {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
};

/// A window's pixels, read once.
struct Screenshot
{
    XImage* image = nullptr;
    int width = 0, height = 0;

    Screenshot(Display* display, Window window)
    {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, window, &attributes))
            return;
        width = attributes.width;
        height = attributes.height;
        image = XGetImage(display, window, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    }
    ~Screenshot()
    {
        if (image)
            XDestroyImage(image);
    }
    unsigned long at(int x, int y) const { return XGetPixel(image, x, y); }
};

/// The cell size and the left edge of the text, from the prompt's magenta block.
struct Cells
{
    int left = 0, top = 0;
    double width = 0, height = 0;
};

std::optional<Cells> findPromptBlock(Display* display, Window window)
{
    const std::optional<PixelBox> box = findColour(display, window, isExactMagenta);
    if (!box || box->width() < promptBlockCells * 4 || box->height() < 8)
        return std::nullopt;
    return Cells{box->left, box->top, double(box->width()) / promptBlockCells, double(box->height())};
}

/// What the bottom of the window shows after the run: whether the last green bar is 40 exact green
/// cells with the prompt's magenta block under it, and a description when not.
std::pair<bool, std::string> checkBar(const Screenshot& shot, const Cells& cells)
{
    if (!shot.image)
        return {false, "no picture"};
    const int barWidth = int(barCells * cells.width);
    // The lowest pixel row holding a run of green as wide as the bar, starting at the text's left.
    for (int y = shot.height - 1; y >= 0; --y) {
        int run = 0;
        for (int x = cells.left; x < shot.width && isExactly(shot.at(x, y), 0, 255, 0); ++x)
            ++run;
        if (run < barWidth - 2)
            continue;
        if (run > barWidth + int(cells.width))
            return {false, "the bar is wider than 40 cells"};
        const int promptY = y + int(cells.height / 2) + 1;
        if (promptY >= shot.height)
            return {false, "nothing below the bar"};
        for (int cell = 0; cell < promptBlockCells; ++cell) {
            const unsigned long pixel = shot.at(cells.left + int((cell + 0.5) * cells.width), promptY);
            if (!isExactMagenta(pixel)) {
                char text[96];
                std::snprintf(text, sizeof text, "prompt cell %d drawn %06lx, not magenta", cell,
                              pixel & 0xFFFFFF);
                return {false, text};
            }
        }
        return {true, ""};
    }
    char text[96];
    const int y = shot.height - int(cells.height * 1.5);
    std::snprintf(text, sizeof text, "no green bar; the second row from the bottom starts %06lx",
                  y >= 0 ? shot.at(cells.left + 2, y) & 0xFFFFFF : 0ul);
    return {false, text};
}

struct Build
{
    std::string name;
    std::string path;
    std::map<bool, std::vector<double>> seconds;
    std::map<bool, int> runs, passes;
};

/// One run of `build`: start, resize, cat, check. The seconds from Return to the done mark, or
/// nothing when it failed to run at all.
std::optional<double> runOnce(Display* display, Build& build, bool gpu, const std::string& file)
{
    RunHome home(file, gpu);
    std::vector<std::string> command = {"env", "HOME=" + home.path,
                                        "XDG_CONFIG_HOME=" + home.path + "/config", "SHELL=/bin/bash"};
    if (gpu)
        command.push_back("KESTROVAN_GPU_SOFTWARE=1");
    command.push_back(build.path);
    // The pointer rests away from where the window appears: over its menu bar, a key could open a
    // menu, which would then take the keys.
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, DisplayWidth(display, 0) - 1,
                 DisplayHeight(display, 0) - 1);
    XSync(display, False);
    const std::set<Window> before = viewableWindows(display);
    const pid_t pid = launch(command);
    Window window = 0;
    std::optional<Cells> cells;
    const auto limit = ProbeClock::now() + 20s;
    while (ProbeClock::now() < limit && !cells) {
        for (Window candidate : viewableWindows(display))
            if (!before.count(candidate))
                window = candidate;
        if (window)
            cells = findPromptBlock(display, window);
        std::this_thread::sleep_for(5ms);
    }
    if (!cells) {
        std::fprintf(stderr, "%s: no prompt within 20 s\n", build.name.c_str());
        stop(pid);
        return std::nullopt;
    }
    // The prompt is on the first row: what lies above it is the window's own, and the text is
    // inset as far from the bottom edge as from the left.
    const unsigned width = unsigned(cells->left * 2 + targetColumns * cells->width);
    const unsigned height = unsigned(cells->top + cells->left + targetRows * cells->height);
    XResizeWindow(display, window, width, height);
    XSync(display, False);
    XWindowAttributes attributes{};
    const auto resized = ProbeClock::now() + 5s;
    while (XGetWindowAttributes(display, window, &attributes) && unsigned(attributes.width) != width &&
           ProbeClock::now() < resized)
        std::this_thread::sleep_for(5ms);
    // The view lays out its new grid and tells the shell on its next frame.
    std::this_thread::sleep_for(300ms);
    XWarpPointer(display, None, window, 0, 0, 0, 0, int(cells->left + cells->width),
                 int(cells->top + 2 * cells->height));
    XSync(display, False);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    pressKey(display, XK_b);
    const ProbeClock::time_point pressed = ProbeClock::now();
    pressKey(display, XK_Return);
    const std::string done = home.path + "/done";
    struct stat status
    {};
    while (stat(done.c_str(), &status) != 0) {
        if (ProbeClock::now() - pressed > 600s) {
            std::fprintf(stderr, "%s: the cat did not end within 600 s\n", build.name.c_str());
            stop(pid);
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
    const double seconds = std::chrono::duration<double>(ProbeClock::now() - pressed).count();
    // The bar and the prompt are drawn within a few frames of the mark; a wrong colour stays.
    std::pair<bool, std::string> verdict;
    const auto settle = ProbeClock::now() + 5s;
    do {
        std::this_thread::sleep_for(50ms);
        verdict = checkBar(Screenshot(display, window), *cells);
    } while (!verdict.first && ProbeClock::now() < settle);
    ++build.runs[gpu];
    if (verdict.first)
        ++build.passes[gpu];
    else
        std::fprintf(stderr, "%s %s run %d: %s\n", build.name.c_str(), gpu ? "GPU" : "CPU", build.runs[gpu],
                     verdict.second.c_str());
    stop(pid);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    int cpuRuns = 30, gpuRuns = 15, megabytes = 64;
    std::vector<Build> builds;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--cpu-runs")
            cpuRuns = std::atoi(value.c_str());
        else if (option == "--gpu-runs")
            gpuRuns = std::atoi(value.c_str());
        else if (option == "--megabytes")
            megabytes = std::atoi(value.c_str());
        else if (option == "--vesk" && value.find('=') != std::string::npos)
            builds.push_back(
                Build{value.substr(0, value.find('=')), value.substr(value.find('=') + 1), {}, {}, {}});
        else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }
    if (builds.empty())
        builds.push_back(Build{"Vesk", VESK_EXECUTABLE, {}, {}, {}});
    Display* display = openProbeDisplay();
    if (!display)
        return 1;
    char folder[] = "/tmp/vesk-reclaim-file-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string file = std::string(folder) + "/coloured.txt";
    std::printf("load average %s\n", loadAverage().c_str());
    for (int run = 0; run < std::max(cpuRuns, gpuRuns); ++run) {
        writeText(file, colouredFile(size_t(megabytes) << 20, uint32_t(run + 1)));
        for (const bool gpu : {false, true}) {
            if (run >= (gpu ? gpuRuns : cpuRuns))
                continue;
            for (Build& build : builds)
                if (const std::optional<double> seconds = runOnce(display, build, gpu, file))
                    build.seconds[gpu].push_back(*seconds);
        }
    }
    unlink(file.c_str());
    rmdir(folder);
    for (Build& build : builds) {
        for (const bool gpu : {false, true}) {
            if (build.runs[gpu] == 0)
                continue;
            const double median = percentile(build.seconds[gpu], 0.5);
            std::printf("%-10s %s: %d of %d runs drew the bar green; cat median %.2f s (%.1f MB/s)\n",
                        build.name.c_str(), gpu ? "GPU" : "CPU", build.passes[gpu], build.runs[gpu], median,
                        median > 0 ? megabytes * 1.048576 / median : 0.0);
        }
    }
    std::printf("load average %s\n", loadAverage().c_str());
    XCloseDisplay(display);
    return 0;
}
