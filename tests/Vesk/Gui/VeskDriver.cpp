#include "VeskDriver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace veskgui {

namespace {

std::string unescaped(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    }
    return out;
}

State parse(const std::string& text, long long* serial)
{
    State state;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("serial=", 0) == 0) {
            *serial = std::atoll(line.c_str() + 7);
            continue;
        }
        Record record;
        size_t start = 0;
        size_t tab = line.find('\t');
        record.type = line.substr(0, tab);
        while (tab != std::string::npos) {
            start = tab + 1;
            tab = line.find('\t', start);
            const std::string field =
                line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            const size_t equals = field.find('=');
            if (equals != std::string::npos)
                record.fields[field.substr(0, equals)] = unescaped(field.substr(equals + 1));
        }
        state.records.push_back(std::move(record));
    }
    return state;
}

const Record& emptyRecord()
{
    static const Record empty;
    return empty;
}

} // namespace

bool poll(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// --- Records and states --------------------------------------------------------------------------

const std::string& Record::operator[](const std::string& key) const
{
    static const std::string none;
    const auto found = fields.find(key);
    return found == fields.end() ? none : found->second;
}

long long Record::number(const std::string& key) const
{
    return std::atoll((*this)[key].c_str());
}

std::vector<Record> State::all(const std::string& type) const
{
    std::vector<Record> result;
    for (const Record& record : records)
        if (record.type == type)
            result.push_back(record);
    return result;
}

const Record& State::app() const
{
    for (const Record& record : records)
        if (record.type == "app")
            return record;
    return emptyRecord();
}

std::vector<Record> State::tabs(long long window) const
{
    std::vector<Record> result;
    for (const Record& record : all("tab"))
        if (record.number("window") == window)
            result.push_back(record);
    return result;
}

std::vector<Record> State::panes(long long window, long long tab) const
{
    std::vector<Record> result;
    for (const Record& record : all("pane"))
        if (record.number("window") == window && (tab < 0 || record.number("tab") == tab))
            result.push_back(record);
    return result;
}

Record State::activePane(long long window) const
{
    const std::vector<Record> windowRecords = windows();
    if (window >= static_cast<long long>(windowRecords.size()))
        return {};
    const long long tab = windowRecords[static_cast<size_t>(window)].number("selected");
    for (const Record& pane : panes(window, tab))
        if (pane["active"] == "1")
            return pane;
    return {};
}

std::vector<std::string> State::lines(long long window, long long tab, long long pane) const
{
    std::vector<std::string> result;
    for (const Record& record : all("line"))
        if (record.number("window") == window && record.number("tab") == tab && record.number("pane") == pane)
            result.push_back(record["text"]);
    return result;
}

bool State::anyLineContains(const std::string& text) const
{
    for (const Record& record : all("line"))
        if (record["text"].find(text) != std::string::npos)
            return true;
    return false;
}

bool State::anyLineIs(const std::string& text) const
{
    for (const Record& record : all("line"))
        if (record["text"] == text)
            return true;
    return false;
}

// --- Files and commands --------------------------------------------------------------------------

TemporaryFolder::TemporaryFolder()
{
    char pattern[] = "/tmp/vesk-app-gui-XXXXXX";
    path_ = mkdtemp(pattern);
}

TemporaryFolder::~TemporaryFolder()
{
    // Folders a test made unwritable are opened up first.
    std::system(("chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'").c_str());
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary);
    file << text;
}

std::string run(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return output;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, count);
    const int result = pclose(pipe);
    if (status)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

int execute(const std::vector<std::string>& arguments)
{
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --- The application -----------------------------------------------------------------------------

Vesk::Vesk(LaunchOptions options)
{
    mkdir(home().c_str(), 0700);
    for (const auto& [name, text] : options.homeFiles)
        writeFile(home() + "/" + name, text);
    const std::string executable = options.executable.empty() ? VESK_EXECUTABLE : options.executable;
    std::vector<std::string> environment = {
        "HOME=" + home(),
        "XDG_CONFIG_HOME=" + folder_.path() + "/config",
        "VESK_TEST_STATE_DUMP=" + folder_.path() + "/state",
        "VESK_TEST_OPEN_URL_LOG=" + linkLog(),
        "GDK_BACKEND=x11",
        "GSK_RENDERER=cairo",
        "GTK_IM_MODULE=gtk-im-context-simple",
        "NO_AT_BRIDGE=1",
        "GTK_A11Y=none",
        "GSETTINGS_BACKEND=memory",
        "LANG=C.UTF-8",
    };
    // The desktop's own variables pass (the display, the session bus, the fonts the tests use).
    for (const char* name :
         {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "FONTCONFIG_FILE", "PATH"})
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    // The caller's entries replace the driver's of the same name; a name alone removes it.
    for (const std::string& entry : options.environment) {
        const size_t equals = entry.find('=');
        const std::string name = equals == std::string::npos ? entry + "=" : entry.substr(0, equals + 1);
        std::erase_if(environment,
                      [&name](const std::string& existing) { return existing.rfind(name, 0) == 0; });
        if (equals != std::string::npos)
            environment.push_back(entry);
    }

    pid_ = fork();
    if (pid_ == 0) {
        const int error = open(errorLog().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (error >= 0) {
            dup2(error, STDOUT_FILENO);
            dup2(error, STDERR_FILENO);
        }
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
        execve(executable.c_str(), argv, envp.data());
        _exit(127);
    }
    // SIGUSR1 ends a process that does not handle it yet: the first dump says it does.
    if (!poll([this] { return access((folder_.path() + "/state").c_str(), R_OK) == 0 || waitForExit(0ms); },
              20s) ||
        exited_)
        return;
    // Started: a window laid out at a size, whose pane has a running shell and a prompt on its
    // screen.
    bool held = false;
    waitFor(
        [](const State& state) {
            return !state.windows().empty() && state.windows()[0].number("xid") != 0 &&
                   state.windows()[0].number("width") > 0 && state.activePane()["running"] == "1" &&
                   !state.lines(0, 0, 0).empty();
        },
        &held, 20s);
    started_ = held;
}

Vesk::~Vesk()
{
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGTERM);
        if (!waitForExit(5s)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
}

State Vesk::state()
{
    const std::string path = folder_.path() + "/state";
    // A process that has ended is a zombie until reaped, and a signal to it still succeeds.
    if (reapIfEnded() || kill(pid_, SIGUSR1) != 0)
        return {};
    State state;
    long long serial = serial_;
    // The process writes the dump from its main loop and renames it into place.
    poll(
        [&] {
            if (reapIfEnded())
                return true;
            long long found = 0;
            State parsed = parse(readFile(path), &found);
            if (found <= serial_)
                return false;
            serial = found;
            state = std::move(parsed);
            return true;
        },
        10s);
    serial_ = serial;
    return state;
}

State Vesk::waitFor(const std::function<bool(const State&)>& condition, bool* held,
                    std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    State current;
    for (;;) {
        current = state();
        if (condition(current)) {
            *held = true;
            return current;
        }
        if (std::chrono::steady_clock::now() > deadline || exited_) {
            *held = false;
            return current;
        }
        std::this_thread::sleep_for(20ms);
    }
}

State Vesk::expect(const std::function<bool(const State&)>& condition, const std::string& what,
                   std::chrono::milliseconds timeout)
{
    bool held = false;
    State state = waitFor(condition, &held, timeout);
    if (!held) {
        std::string dump;
        for (const Record& record : state.records) {
            dump += record.type;
            for (const auto& [key, value] : record.fields)
                dump += " " + key + "=" + value;
            dump += "\n";
        }
        ADD_FAILURE() << "never: " << what << "\nlast state:\n" << dump;
    }
    return state;
}

unsigned long Vesk::xid(long long window)
{
    const std::vector<Record> windows = state().windows();
    return window < static_cast<long long>(windows.size())
               ? static_cast<unsigned long>(windows[static_cast<size_t>(window)].number("xid"))
               : 0;
}

void Vesk::focus(long long window)
{
    run("xdotool windowfocus --sync " + std::to_string(xid(window)));
    expect(
        [window](const State& state) {
            const auto windows = state.windows();
            return window < static_cast<long long>(windows.size()) &&
                   windows[static_cast<size_t>(window)]["active"] == "1";
        },
        "window " + std::to_string(window) + " has the focus");
}

void Vesk::key(const std::string& chords)
{
    execute({"xdotool", "key", "--clearmodifiers", chords});
}

void Vesk::click(double x, double y, long long window)
{
    // No --sync: it waits for the pointer to move, which it never does when it is there already.
    // The server plays the move and the click in order all the same.
    execute({"xdotool", "mousemove", "--window", std::to_string(xid(window)),
             std::to_string(static_cast<long>(x)), std::to_string(static_cast<long>(y)), "click", "1"});
}

void Vesk::typeLine(const std::string& text)
{
    execute({"xdotool", "type", "--delay", "2", "--", text});
    execute({"xdotool", "key", "Return"});
}

void Vesk::activate(const std::string& action, long long window)
{
    // The application's actions, and each window's, are on the session bus as GTK exports them.
    const size_t dot = action.find('.');
    const std::string group = action.substr(0, dot);
    const std::string name = action.substr(dot + 1);
    std::string path = "/org/morvane/Vesk";
    if (group == "win") {
        const std::vector<Record> windows = state().windows();
        ASSERT_LT(window, static_cast<long long>(windows.size())) << action;
        path += "/window/" + windows[static_cast<size_t>(window)]["id"];
    }
    int status = 0;
    const std::string output = run("gdbus call --session --dest org.morvane.Vesk --object-path " + path +
                                       " --method org.gtk.Actions.Activate '" + name + "' '[]' '{}' 2>&1",
                                   &status);
    EXPECT_EQ(status, 0) << action << ": " << output;
}

void Vesk::answerAlert(const std::string& message, bool pressNextButton)
{
    // An alert's window is titled by its message; the search takes a regular expression.
    std::string pattern = "^";
    for (char c : message) {
        if (std::strchr(".?*+()[]{}|^$\\", c))
            pattern += '\\';
        pattern += c;
    }
    pattern += "$";
    const std::string found = run("xdotool search --name '" + pattern + "' 2>/dev/null");
    const unsigned long alert = std::strtoul(found.c_str(), nullptr, 10);
    ASSERT_NE(alert, 0u) << "no alert window \"" << message << "\"";
    execute({"xdotool", "windowfocus", "--sync", std::to_string(alert)});
    if (pressNextButton)
        execute({"xdotool", "key", "Tab", "space"});
    else
        execute({"xdotool", "key", "Return"});
}

void Vesk::requestClose(long long window)
{
    EXPECT_TRUE(sendDeleteWindow(xid(window))) << "no display to send WM_DELETE_WINDOW on";
}

void Vesk::screenshot(const std::string& name, long long window)
{
    const char* folder = std::getenv("VESK_GUI_SCREENSHOTS");
    const std::string target = std::string(folder ? folder : "/tmp") + "/" + name + ".png";
    const std::string which = window < 0 ? std::string("root") : std::to_string(xid(window));
    run("import -silent -window " + which + " '" + target + "'");
}

bool Vesk::reapIfEnded()
{
    if (exited_)
        return true;
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    exited_ = true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

std::optional<int> Vesk::waitForExit(std::chrono::milliseconds timeout)
{
    if (!poll([&] { return reapIfEnded(); }, timeout))
        return std::nullopt;
    return exitStatus_;
}

} // namespace veskgui
