// Directory formats for titles, and a process's directory read from /proc.
#include "TemporaryFolder.h"

#include "VeskCore/ControlCharacters.h"
#include "VeskCore/ProcessDirectory.h"
#include "VeskCore/WorkingDirectory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vesk {
namespace {

TEST(WorkingDirectoryTests, TitlesAbbreviateHomeAndEscapeHiddenCharacters)
{
    const struct
    {
        std::string path, home, window, tab;
    } cases[] = {
        {"/home/me/", "/home/me", "~", "me"},
        {"/home/me", "/home/me/", "~", "me"},
        {"/home/me/src/vesk", "/home/me", "~/src/vesk", "vesk"},
        {"/home/meg", "/home/me", "/home/meg", "meg"},
        {"/", "/home/me", "/", "/"},
        {"/usr/lib", "", "/usr/lib", "lib"},
        {"/tmp/a\r\nb", "/home/me", "/tmp/a\\u{D}\\u{A}b", "a\\u{D}\\u{A}b"},
        {"/home/me/\u202Etxt\u200D", "/home/me", "~/\\u{202E}txt\\u{200D}", "\\u{202E}txt\\u{200D}"},
        {"/tmp/\x1b]0;x\x07\u0085", "/", "/tmp/\\u{1B}]0;x\\u{7}\\u{85}", "\\u{1B}]0;x\\u{7}\\u{85}"},
        {"/tmp/caf\xe9", "/home/me", "/tmp/caf\ufffd", "caf\ufffd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WorkingDirectory::abbreviatedPath(c.path, c.home), c.window) << c.path << " in " << c.home;
        EXPECT_EQ(WorkingDirectory::label(c.path), c.tab) << c.path;
    }
    EXPECT_EQ(WorkingDirectory::displayText("\t\u2028/x\n"), "\\u{9}\\u{2028}/x\\u{A}");
    EXPECT_EQ(escapedForDisplay("a\r\n\u4e2d", LineFeeds::keep), "a\\u{D}\n\u4e2d") << "the paste preview";
}

/// A child process (cat, reading a pipe) sitting in `folder` until it is reaped.
class ChildIn
{
public:
    explicit ChildIn(const std::string& folder)
    {
        int ends[2];
        // Close-on-exec, so that no other child holds the pipe open; the spawn returns once the
        // child has changed folder and started.
        if (pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        char* arguments[] = {const_cast<char*>("cat"), nullptr};
        if (posix_spawnp(&pid_, "cat", &actions, nullptr, arguments, environ) != 0)
            throw std::runtime_error("spawn failed");
        posix_spawn_file_actions_destroy(&actions);
        close(ends[0]);
        hold_ = ends[1];
    }
    ~ChildIn() { reap(); }
    int pid() const { return pid_; }
    void reap()
    {
        if (hold_ >= 0 && close(std::exchange(hold_, -1)) == 0)
            waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
    int hold_ = -1;
};

TEST(WorkingDirectoryTests, ProcReadsAnswerOnlyAPathThatLeadsToTheProcesssDirectory)
{
    EXPECT_EQ(WorkingDirectory::path(0), std::nullopt);
    EXPECT_EQ(WorkingDirectory::path(-5), std::nullopt);
    EXPECT_EQ(WorkingDirectory::path(getpid()), std::filesystem::current_path().string());

    TemporaryFolder folder;
    std::string deep = folder.path().string(); // longer than the first read buffer
    for (char c = 'a'; c < 'm'; ++c)
        deep += "/" + std::string(40, c);
    std::filesystem::create_directories(deep);
    std::filesystem::create_directory(folder / "x (deleted)");
    std::filesystem::create_directory(folder / "x");
    ChildIn inDeep(deep), inRealDeletedName(folder / "x (deleted)"), inRemoved(folder / "x"), reaped(deep);
    EXPECT_EQ(WorkingDirectory::path(inDeep.pid()), deep);
    EXPECT_EQ(WorkingDirectory::path(inRealDeletedName.pid()), folder / "x (deleted)");

    const std::optional<ProcessDirectory> removed = ProcessDirectory::open(inRemoved.pid());
    EXPECT_EQ(removed->currentDirectory(), folder / "x");
    std::filesystem::remove(folder / "x");
    EXPECT_EQ(removed->currentDirectory(), std::nullopt)
        << "the kernel's text names the other, \"x (deleted)\"";

    const std::optional<ProcessDirectory> ended = ProcessDirectory::open(reaped.pid());
    EXPECT_EQ(ended->currentDirectory(), deep);
    reaped.reap();
    EXPECT_EQ(ended->currentDirectory(), std::nullopt) << "a handle never outlives its process";
}

TEST(WorkingDirectoryTests, AHandleIsKeptOnlyWhileItsPidfdsProcessIsNotReaped)
{
    TemporaryFolder folder;
    ChildIn shell(folder.path().string()), ended(folder.path().string());
    const int shellPidfd = static_cast<int>(syscall(SYS_pidfd_open, shell.pid(), 0));
    const int endedPidfd = static_cast<int>(syscall(SYS_pidfd_open, ended.pid(), 0));
    ended.reap();
    EXPECT_EQ(ProcessDirectory::open(shell.pid(), shellPidfd)->currentDirectory(), folder.path().string());
    // A reused pid looks like this: a live /proc entry, while the pidfd's own process was reaped.
    EXPECT_FALSE(ProcessDirectory::open(shell.pid(), endedPidfd));
    close(shellPidfd);
    close(endedPidfd);
}

} // namespace
} // namespace vesk
