// Vesk beside the other terminals installed on the machine (xterm, alacritty, kitty), measured
// from outside in the same run and on the same X server: start-up to the first frame showing the
// prompt, `cat` of a large file in a visible window and the memory kept after it, and the memory
// of ten tabs. Run it under tools/gui/with-xvfb; it is a program of its own, since everything it
// measures happens in other processes and in the X server.
//
//   bench_VeskPeersBench [--rounds N] [--megabytes N] [--scrollback N] [--tabs N] [--renderers NAME,...]
//
// `--renderers cairo,gl` adds rows of Vesk with GSK_RENDERER set to each name (a user's choice).
// Run it in a session bus of its own (`dbus-run-session`), as on a desktop: without one, GTK tries
// to start a bus for every start.
// Every terminal runs bash with the start-up file of a scratch home folder, which sets a prompt of
// eight magenta cells and a function `b`, which `cat`s the file and then prints eight green cells.
// Vesk runs the user's login shell, so the account's shell must be bash. The other terminals get the
// same font (JetBrains Mono at 12 points, Vesk's 16 pixels) and Vesk's window size in cells, and
// `--scrollback` lines of scrollback (Vesk keeps its fixed 5,000 lines).
// - Start-up: from starting the program to the prompt's first magenta pixels in its new window.
// - cat: from the Return that runs `b` to the green cells' first pixels, the file of 10-79
//   column lines of words written fresh for each run.
// - Memory after cat: the terminal's resident set a second after the green cells appear.
// - Ten tabs: a fresh start, then nine more tabs opened with the terminal's own key (Vesk and
//   kitty: Ctrl+Shift+T), nine more windows of the same process (alacritty: `alacritty msg
//   create-window`) or nine more processes (xterm, which has neither), each waited for until its
//   shell runs and the prompt shows; the memory a second after the last.
// Memory is the resident set (RSS) and the proportional set (PSS, shared pages divided among the
// processes sharing them) of the terminal's own processes: the started one and its descendants
// other than the shells. With several processes (xterm's windows), the sums are given: PSS is the
// fair figure then, RSS counts their shared libraries once per process.
// Every terminal runs once per round, in turn, so machine load falls on all alike; the load
// average is printed. Medians over the rounds are reported.
#include "XTerminalProbe.h"
#include "bench/gui/GuiBenchLoop.h"

#include <X11/keysym.h>
#include <cstring>
#include <dirent.h>
#include <map>
#include <pwd.h>
#include <sys/stat.h>

namespace {

using namespace bench;
using namespace std::chrono_literals;

// --- Processes -------------------------------------------------------------------------------------

/// Every process's parent and command name, read from /proc.
struct ProcessTable
{
    std::map<pid_t, pid_t> parent;
    std::map<pid_t, std::string> name;

    static ProcessTable read()
    {
        ProcessTable table;
        DIR* proc = opendir("/proc");
        if (!proc)
            return table;
        while (const dirent* entry = readdir(proc)) {
            const pid_t pid = std::atoi(entry->d_name);
            if (pid <= 0)
                continue;
            std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
            std::string text;
            std::getline(stat, text);
            // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
            const size_t open = text.find('('), close = text.rfind(')');
            if (open == std::string::npos || close == std::string::npos || close + 4 > text.size())
                continue;
            table.name[pid] = text.substr(open + 1, close - open - 1);
            table.parent[pid] = std::atoi(text.c_str() + close + 4);
        }
        closedir(proc);
        return table;
    }

    /// The shells started by the terminal processes `roots`: bash processes whose parent is one
    /// of the terminal's own.
    int shells(const std::vector<pid_t>& roots) const
    {
        const std::set<pid_t> own = terminalProcesses(roots);
        int count = 0;
        for (const auto& [pid, parentPid] : parent)
            if (own.count(parentPid) && !own.count(pid) && name.at(pid) == "bash")
                ++count;
        return count;
    }

    /// `roots` and their descendants, without the shells and everything below them.
    std::set<pid_t> terminalProcesses(const std::vector<pid_t>& roots) const
    {
        std::set<pid_t> own(roots.begin(), roots.end());
        for (bool grew = true; grew;) {
            grew = false;
            for (const auto& [pid, parentPid] : parent)
                if (own.count(parentPid) && !own.count(pid) && name.at(pid) != "bash")
                    grew = own.insert(pid).second || grew;
        }
        return own;
    }
};

/// Resident and proportional set sizes of a terminal's own processes, in MiB.
struct Memory
{
    double residentMiB = 0;
    double proportionalMiB = 0;
    int processes = 0;
};

Memory memoryOf(const std::vector<pid_t>& roots)
{
    Memory memory;
    for (pid_t pid : ProcessTable::read().terminalProcesses(roots)) {
        memory.residentMiB += std::max(0L, residentKiB(pid)) / 1024.0;
        memory.proportionalMiB += std::max(0L, proportionalKiB(pid)) / 1024.0;
        ++memory.processes;
    }
    return memory;
}

/// Polls `done` every few milliseconds until it holds or `limit` passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = ProbeClock::now() + limit;
    while (!done()) {
        if (ProbeClock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// --- The benchmark shell ---------------------------------------------------------------------------

/// A scratch home folder with bash start-up files for the benchmark, and the file to `cat`.
class BenchHome
{
public:
    BenchHome(size_t fileBytes, uint32_t seed) : file_(fileBytes, seed)
    {
        char pattern[] = "/tmp/vesk-peers-bench-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        path_ = pattern;
        // Login shells read .bash_profile, the others .bashrc; both set up the same.
        const std::string setUp = "unset HISTFILE PROMPT_COMMAND\n"
                                  "PS1='\\[\\e[48;2;255;0;255m\\]        \\[\\e[0m\\] '\n"
                                  "b() { cat '" +
                                  file_.path() + "'; printf '\\e[48;2;0;255;0m        \\e[0m\\n'; }\n";
        writeText(path_ + "/.bashrc", setUp);
        writeText(path_ + "/.bash_profile", ". ~/.bashrc\n");
        mkdir((path_ + "/config").c_str(), 0700);
    }
    ~BenchHome()
    {
        if (!path_.empty())
            std::system(("rm -rf '" + path_ + "'").c_str());
    }
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;

    bool ready() const { return !path_.empty() && !file_.path().empty(); }
    const std::string& path() const { return path_; }
    const std::string& filePath() const { return file_.path(); }

private:
    static void writeText(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    ScratchTextFile file_;
    std::string path_;
};

// --- The terminals ---------------------------------------------------------------------------------

/// How a terminal opens its further tabs or windows.
enum class MoreTabs
{
    controlShiftT, // a key in the running window
    windowCommand, // a command that asks the running process for a window
    newProcess,    // none: one more process per window
};

struct Peer
{
    Terminal terminal;
    MoreTabs moreTabs;
    std::vector<std::string> windowCommand;
    std::string note;
    /// A socket the terminal listens on, which a killed one leaves behind; removed before a start.
    std::string socket;
};

struct Figures
{
    std::vector<double> startupMs, catSeconds, catResidentMiB, catProportionalMiB, tabsResidentMiB,
        tabsProportionalMiB, tabsProcesses;
    std::string grid;
};

/// Gives `running`'s window the keyboard, with the pointer on the terminal's cells: over a menu bar
/// it could open a menu, which would then take the keys.
void focus(Display* display, const Running& running)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, running.window, &attributes);
    XSetInputFocus(display, running.window, RevertToParent, CurrentTime);
    XWarpPointer(display, None, running.window, 0, 0, 0, 0, attributes.width / 2, attributes.height / 2);
    XSync(display, False);
}

/// Opens tabs or windows until `tabs` shells run; the processes that make up the terminal then.
std::optional<std::vector<pid_t>> openTabs(Display* display, const Peer& peer, Running& first, int tabs)
{
    std::vector<pid_t> roots = {first.pid};
    focus(display, first);
    auto shells = [&roots] { return ProcessTable::read().shells(roots); };
    if (!waitUntil([&] { return shells() >= 1; }, 10s))
        return std::nullopt;
    for (int tab = 2; tab <= tabs; ++tab) {
        const std::set<Window> before = viewableWindows(display);
        if (peer.moreTabs == MoreTabs::controlShiftT) {
            pressKeys(display, {XK_Control_L, XK_Shift_L, XK_t});
        } else if (peer.moreTabs == MoreTabs::windowCommand) {
            const pid_t asking = launch(peer.windowCommand);
            waitpid(asking, nullptr, 0);
        } else {
            roots.push_back(launch(peer.terminal.command));
        }
        if (!waitUntil([&] { return shells() >= tab; }, 10s)) {
            std::fprintf(stderr, "%s: tab %d has no shell within 10 s\n", peer.terminal.name.c_str(), tab);
            return roots;
        }
        const auto limit = ProbeClock::now() + 10s;
        if (peer.moreTabs == MoreTabs::controlShiftT) {
            if (!waitUntil([&] { return findPrompt(display, first.window).has_value(); }, 10s))
                std::fprintf(stderr, "%s: tab %d shows no prompt\n", peer.terminal.name.c_str(), tab);
        } else if (!waitForPromptWindow(display, before, limit)) {
            std::fprintf(stderr, "%s: window %d shows no prompt\n", peer.terminal.name.c_str(), tab);
        }
    }
    return roots;
}

/// Runs `b` in the window and waits for its green cells; the seconds from Return to them.
std::optional<double> timeCat(Display* display, const Running& running)
{
    focus(display, running);
    pressKey(display, XK_b);
    // The echoed "b" is a letter on the prompt's line, never green; only the function's cells are.
    const ProbeClock::time_point pressed = ProbeClock::now();
    pressKey(display, XK_Return);
    const auto limit = pressed + 600s;
    while (ProbeClock::now() < limit) {
        const std::optional<PixelBox> green = findColour(display, running.window, isGreen);
        if (green && green->width() >= running.grid.cellWidth * 3)
            return std::chrono::duration<double>(ProbeClock::now() - pressed).count();
        // A whole window read back costs the X server a few milliseconds: not too often.
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

std::string describeGrid(Display* display, const Running& running)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, running.window, &attributes);
    char text[128];
    std::snprintf(text, sizeof text, "%dx%d px, cell %.1fx%.0f", attributes.width, attributes.height,
                  running.grid.cellWidth, running.grid.cellHeight);
    return text;
}

std::vector<Peer> peers(const BenchHome& home, int columns, int rows, int scrollback,
                        const std::vector<std::string>& renderers)
{
    const std::string size = std::to_string(columns) + "x" + std::to_string(rows);
    // Vesk starts the login shell, which reads the scratch home's .bash_profile; the others are
    // given the same start-up file, since some (alacritty) set HOME from the password database.
    const std::string shell = "/bin/bash";
    const std::string rcFile = home.path() + "/.bashrc";
    // Each terminal starts from the same environment: the scratch home, no settings of the user's.
    const std::vector<std::string> environment = {
        "env", "HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path() + "/config", "SHELL=" + shell};
    auto with = [&environment](std::vector<std::string> command) {
        command.insert(command.begin(), environment.begin(), environment.end());
        return command;
    };
    std::vector<Peer> result;
    result.push_back({{"Vesk", with({VESK_EXECUTABLE})}, MoreTabs::controlShiftT, {}, "", ""});
    // Rows of Vesk with GTK's renderer set by the user (who may choose), beside its own choice.
    for (const std::string& renderer : renderers)
        result.push_back({{"  GSK=" + renderer, with({"GSK_RENDERER=" + renderer, VESK_EXECUTABLE})},
                          MoreTabs::controlShiftT,
                          {},
                          "",
                          ""});
    auto installed = [](const char* program) {
        return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
    };
    const std::string lines = std::to_string(scrollback);
    if (installed("xterm"))
        result.push_back({{"xterm", with({"xterm", "-fa", "JetBrains Mono", "-fs", "12", "-geometry", size,
                                          "-sl", lines, "-e", shell, "--rcfile", rcFile})},
                          MoreTabs::newProcess,
                          {},
                          "no tabs: ten processes",
                          ""});
    if (installed("alacritty")) {
        const std::string socket = home.path() + "/alacritty.socket";
        result.push_back(
            {{"alacritty", with({"alacritty", "--socket", socket, "-o", "font.size=12", "-o",
                                 "font.normal.family=JetBrains Mono", "-o",
                                 "window.dimensions.columns=" + std::to_string(columns), "-o",
                                 "window.dimensions.lines=" + std::to_string(rows), "-o",
                                 "scrolling.history=" + lines, "-e", shell, "--rcfile", rcFile})},
             MoreTabs::windowCommand,
             with({"alacritty", "msg", "--socket", socket, "create-window", "-e", shell, "--rcfile", rcFile}),
             "no tabs: ten windows of one process",
             socket});
    }
    if (installed("kitty"))
        result.push_back(
            {{"kitty", with({"kitty", "--config", "NONE", "-o", "font_family=JetBrains Mono", "-o",
                             "font_size=12", "-o", "initial_window_width=" + std::to_string(columns) + "c",
                             "-o", "initial_window_height=" + std::to_string(rows) + "c", "-o",
                             "remember_window_size=no", "-o", "scrollback_lines=" + lines, "-o",
                             "shell=" + shell + " --rcfile " + rcFile, "-o", "update_check_interval=0"})},
             MoreTabs::controlShiftT,
             {},
             "",
             ""});
    return result;
}

std::string median(const std::vector<double>& values, const char* format)
{
    if (values.empty())
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, format, percentile(values, 0.5));
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 3;
    int megabytes = 64;
    int scrollback = 10000;
    int tabs = 10;
    std::vector<std::string> renderers;
    for (int index = 1; index + 1 < argc; index += 2) {
        const int value = std::atoi(argv[index + 1]);
        if (std::strcmp(argv[index], "--renderers") == 0)
            renderers = commaSeparated(argv[index + 1]);
        else if (std::strcmp(argv[index], "--rounds") == 0)
            rounds = std::max(1, value);
        else if (std::strcmp(argv[index], "--megabytes") == 0)
            megabytes = std::max(1, value);
        else if (std::strcmp(argv[index], "--scrollback") == 0)
            scrollback = std::max(0, value);
        else if (std::strcmp(argv[index], "--tabs") == 0)
            tabs = std::max(1, value);
    }
    const passwd* account = getpwuid(getuid());
    if (!account || std::strcmp(account->pw_shell, "/bin/bash") != 0) {
        std::fprintf(stderr, "Vesk runs the account's login shell, which must be /bin/bash here\n");
        return 1;
    }
    Display* display = openProbeDisplay();
    if (!display)
        return 1;

    // Vesk's window in cells sets the others' size: a first start measures it.
    int columns = 80, rows = 24;
    {
        BenchHome home(1, 1);
        if (std::optional<Running> vesk =
                start(display, peers(home, columns, rows, scrollback, {})[0].terminal, 20s)) {
            XWindowAttributes attributes{};
            XGetWindowAttributes(display, vesk->window, &attributes);
            columns = int((attributes.width - vesk->grid.left) / vesk->grid.cellWidth);
            rows = int((attributes.height - vesk->grid.top) / vesk->grid.cellHeight);
            stop(*vesk);
        } else {
            return 1;
        }
    }

    std::printf("load average before: %s on %u cores; %d rounds; cat of %d MiB; %d tabs; %dx%d cells; "
                "scrollback %d lines (Vesk: its fixed 5000)\n",
                loadAverage().c_str(), std::thread::hardware_concurrency(), rounds, megabytes, tabs, columns,
                rows, scrollback);
    std::fflush(stdout);
    std::vector<Figures> figures;
    std::vector<Peer> all;
    int status = 0;
    for (int round = 0; round < rounds; ++round) {
        // A fresh file each round: the workload never repeats byte for byte.
        BenchHome home(size_t(megabytes) << 20, 20261208 + uint32_t(round));
        if (!home.ready()) {
            std::fprintf(stderr, "could not write the scratch home and file\n");
            return 1;
        }
        all = peers(home, columns, rows, scrollback, renderers);
        figures.resize(all.size());
        for (size_t index = 0; index < all.size(); ++index) {
            const Peer& peer = all[index];
            Figures& figure = figures[index];
            if (!peer.socket.empty())
                unlink(peer.socket.c_str());
            std::optional<Running> running = start(display, peer.terminal, 20s);
            if (!running) {
                status = 1;
                continue;
            }
            figure.startupMs.push_back(running->startupMs);
            figure.grid = describeGrid(display, *running);
            if (const std::optional<double> seconds = timeCat(display, *running)) {
                figure.catSeconds.push_back(*seconds);
                std::this_thread::sleep_for(1s);
                const Memory memory = memoryOf({running->pid});
                figure.catResidentMiB.push_back(memory.residentMiB);
                figure.catProportionalMiB.push_back(memory.proportionalMiB);
            } else {
                std::fprintf(stderr, "%s: cat did not finish within 600 s\n", peer.terminal.name.c_str());
                status = 1;
            }
            stop(*running);

            if (!peer.socket.empty())
                unlink(peer.socket.c_str());
            running = start(display, peer.terminal, 20s);
            if (!running) {
                status = 1;
                continue;
            }
            if (const auto roots = openTabs(display, peer, *running, tabs)) {
                std::this_thread::sleep_for(1s);
                const Memory memory = memoryOf(*roots);
                figure.tabsResidentMiB.push_back(memory.residentMiB);
                figure.tabsProportionalMiB.push_back(memory.proportionalMiB);
                figure.tabsProcesses.push_back(memory.processes);
                for (pid_t root : *roots)
                    if (root != running->pid)
                        stop(root);
            } else {
                status = 1;
            }
            stop(*running);
        }
    }

    std::printf("load average after: %s\n", loadAverage().c_str());
    const std::string tabsHeading = std::to_string(tabs) + " tabs RSS / PSS (procs)";
    std::printf("%-10s %11s %9s %24s %29s  %s\n", "", "start-up", "cat", "after cat RSS / PSS",
                tabsHeading.c_str(), "window");
    for (size_t index = 0; index < all.size() && index < figures.size(); ++index) {
        const Figures& figure = figures[index];
        std::printf(
            "%-10s %8s ms %7s s %10s / %-6s MiB %10s / %-6s MiB (%s)  %s%s%s\n",
            all[index].terminal.name.c_str(), median(figure.startupMs, "%.1f").c_str(),
            median(figure.catSeconds, "%.2f").c_str(), median(figure.catResidentMiB, "%.1f").c_str(),
            median(figure.catProportionalMiB, "%.1f").c_str(), median(figure.tabsResidentMiB, "%.1f").c_str(),
            median(figure.tabsProportionalMiB, "%.1f").c_str(), median(figure.tabsProcesses, "%.0f").c_str(),
            figure.grid.c_str(), all[index].note.empty() ? "" : "; ", all[index].note.c_str());
    }
    std::printf("medians over the rounds; start-up bests:");
    for (size_t index = 0; index < all.size() && index < figures.size(); ++index)
        if (!figures[index].startupMs.empty())
            std::printf(" %s %.1f ms", all[index].terminal.name.c_str(),
                        *std::min_element(figures[index].startupMs.begin(), figures[index].startupMs.end()));
    std::printf("\n");
    XCloseDisplay(display);
    return status;
}
