// Directory formats for titles, and a process's directory read from /proc.
#include "TemporaryFolder.h"

#include "VeskCore/ControlCharacters.h"
#include "VeskCore/ProcessDirectory.h"
#include "VeskCore/WorkingDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vesk {
namespace {

TEST(WorkingDirectoryTests, TitlesAbbreviateHomeAndEscapeHiddenCharacters)
{
    const struct
    {
        std::string path;
        std::string home;
        std::string window;
        std::string tab;
    } cases[] = {
        {"/home/me", "/home/me", "~", "me"},
        {"/home/me/", "/home/me", "~", "me"},
        {"/home/me", "/home/me/", "~", "me"},
        {"/home/me/src/vesk", "/home/me", "~/src/vesk", "vesk"},
        {"/home/meg", "/home/me", "/home/meg", "meg"},
        {"/", "/home/me", "/", "/"},
        {"/", "/", "~", "/"},
        {"/usr/lib", "", "/usr/lib", "lib"},
        {"/tmp/a\nb", "/home/me", "/tmp/a\\u{A}b", "a\\u{A}b"},
        {"/home/me/\u202Etxt", "/home/me", "~/\\u{202E}txt", "\\u{202E}txt"},
        {"/tmp/\x1b]0;x\x07", "/home/me", "/tmp/\\u{1B}]0;x\\u{7}", "\\u{1B}]0;x\\u{7}"},
        {"/tmp/caf\xe9", "/home/me", "/tmp/caf\ufffd", "caf\ufffd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WorkingDirectory::abbreviatedPath(c.path, c.home), c.window) << c.path << " in " << c.home;
        EXPECT_EQ(WorkingDirectory::label(c.path), c.tab) << c.path;
    }
}

TEST(WorkingDirectoryTests, DisplayTextEscapesEveryControlAndThePreviewKeepsLineFeeds)
{
    const struct
    {
        std::string text;
        std::string title;
        std::string preview;
    } cases[] = {
        {"plain caf\u00e9 \u4e2d", "plain caf\u00e9 \u4e2d", "plain caf\u00e9 \u4e2d"},
        {"a\r\nb", "a\\u{D}\\u{A}b", "a\\u{D}\nb"},
        {"\t\x7f\u0085", "\\u{9}\\u{7F}\\u{85}", "\\u{9}\\u{7F}\\u{85}"},
        {"x\u200Dy\u2028z\u2029", "x\\u{200D}y\\u{2028}z\\u{2029}", "x\\u{200D}y\\u{2028}z\\u{2029}"},
        {"\U000E0001", "\\u{E0001}", "\\u{E0001}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WorkingDirectory::displayText(c.text), c.title) << c.title;
        EXPECT_EQ(escapedForDisplay(c.text, LineFeeds::keep), c.preview) << c.title;
    }
}

/// A child process sitting in `folder` until it is released; the caller reaps it.
class ChildIn
{
public:
    explicit ChildIn(const std::string& folder)
    {
        int ready[2];
        if (pipe(ready) != 0 || pipe(hold_) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exit.
            close(hold_[1]);
            close(ready[0]);
            if (chdir(folder.c_str()) != 0)
                _exit(1);
            char byte = 1;
            (void)!write(ready[1], &byte, 1);
            while (read(hold_[0], &byte, 1) > 0) {
            }
            _exit(0);
        }
        close(hold_[0]);
        close(ready[1]);
        // Waits until the child is in its folder (or failed to get there).
        char byte = 0;
        (void)!read(ready[0], &byte, 1);
        close(ready[0]);
    }
    ~ChildIn() { reap(); }

    int pid() const { return pid_; }
    /// Lets the child end and reaps it.
    void reap()
    {
        if (hold_[1] < 0)
            return;
        close(hold_[1]);
        hold_[1] = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
    }

private:
    int pid_ = -1;
    int hold_[2] = {-1, -1};
};

TEST(WorkingDirectoryTests, ProcReadsAnswerOnlyAPathThatLeadsToTheProcesssDirectory)
{
    EXPECT_EQ(WorkingDirectory::path(0), std::nullopt);
    EXPECT_EQ(WorkingDirectory::path(-5), std::nullopt);
    EXPECT_EQ(WorkingDirectory::path(getpid()), std::filesystem::current_path().string());

    TemporaryFolder folder;
    // Longer than the first read buffer, so the link is read whole only if the read grows.
    std::string deep = folder.path().string();
    for (int i = 0; i < 12; ++i)
        deep += "/" + std::string(40, char('a' + i));
    std::filesystem::create_directories(deep);
    std::filesystem::create_directory(folder / "x (deleted)");
    std::filesystem::create_directory(folder / "x");

    ChildIn inDeep(deep);
    EXPECT_EQ(WorkingDirectory::path(inDeep.pid()), deep);

    ChildIn inRealDeletedName(folder / "x (deleted)");
    EXPECT_EQ(WorkingDirectory::path(inRealDeletedName.pid()), folder / "x (deleted)")
        << "a directory really named so is answered";

    ChildIn inRemoved(folder / "x");
    const std::optional<ProcessDirectory> removedHandle = ProcessDirectory::open(inRemoved.pid());
    ASSERT_TRUE(removedHandle);
    EXPECT_EQ(removedHandle->currentDirectory(), folder / "x");
    std::filesystem::remove(folder / "x");
    EXPECT_EQ(WorkingDirectory::path(inRemoved.pid()), std::nullopt)
        << "the kernel's text names the other directory, \"x (deleted)\"";
    EXPECT_EQ(removedHandle->currentDirectory(), std::nullopt);

    ChildIn reaped(folder.path().string());
    const std::optional<ProcessDirectory> handle = ProcessDirectory::open(reaped.pid());
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->currentDirectory(), folder.path().string());
    reaped.reap();
    EXPECT_EQ(handle->currentDirectory(), std::nullopt) << "a handle never outlives its process";
}

TEST(WorkingDirectoryTests, AHandleIsKeptOnlyWhileItsPidfdsProcessIsNotReaped)
{
    TemporaryFolder folder;
    ChildIn shell(folder.path().string());
    ChildIn ended(folder.path().string());
    const int shellPidfd = static_cast<int>(syscall(SYS_pidfd_open, shell.pid(), 0));
    const int endedPidfd = static_cast<int>(syscall(SYS_pidfd_open, ended.pid(), 0));
    ASSERT_GE(shellPidfd, 0);
    ASSERT_GE(endedPidfd, 0);
    ended.reap();
    const std::optional<ProcessDirectory> live = ProcessDirectory::open(shell.pid(), shellPidfd);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->currentDirectory(), folder.path().string());
    // What a reused pid looks like: a live /proc entry, but the process the pidfd stands for was
    // reaped, so the entry belongs to someone else.
    EXPECT_FALSE(ProcessDirectory::open(shell.pid(), endedPidfd));
    close(shellPidfd);
    close(endedPidfd);
}

} // namespace
} // namespace vesk
