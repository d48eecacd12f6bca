// The link-safety policy and the way a clicked link's text becomes a target: schemes and hosts,
// files by kind, extension, content type and permission, special files that must never be opened,
// this machine's own name, unsafe scalars and how they are shown, line suffixes and relative
// paths taken from the shell's directory.

#include "Kestrovan/Mac/LinkURL.h"
#include "Kestrovan/Mac/TerminalLinkOpening.h"
#include "Kestrovan/Mac/UntrustedTerminalLink.h"

#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrovan {
namespace {

using Decision = UntrustedTerminalLink::Decision;
using Reason = UntrustedTerminalLink::DenialReason;

Decision decide(const std::string& target, const LinkFileSystem& fileSystem = LinkFileSystem::system())
{
    return UntrustedTerminalLink{target}.decision(fileSystem);
}

std::string describe(const Decision& decision)
{
    switch (decision.kind) {
    case Decision::Kind::allow:
        return "allow " + decision.url;
    case Decision::Kind::confirm:
        return "confirm " + decision.url;
    case Decision::Kind::deny:
        return std::string("deny ") + UntrustedTerminalLink::informativeText(decision.reason);
    }
    return "";
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

/// A temporary folder of files of every kind the policy tells apart.
class Files
{
public:
    Files()
    {
        char pattern[] = "/tmp/vesk-links-XXXXXX";
        root = mkdtemp(pattern);
        write("notes.txt", "plain text\n");
        write("runnable.txt", "plain text, execute bit on\n", 0755);
        write("script", "#!/bin/sh\necho hi\n");
        write("tool", "#!/usr/bin/env python3\nprint(1)\n");
        write("launcher.desktop", "[Desktop Entry]\nType=Application\nName=x\nExec=true\n");
        write("Tool.AppImage", "not really an image\n");
        write("setup.SH", "echo hi\n");
        write("archive.deb", "x");
        copy("/bin/true", "program");
        mkdir((root + "/folder").c_str(), 0755);
        mkdir((root + "/Site.app").c_str(), 0755);
        mkfifo((root + "/pipe").c_str(), 0600);
        symlink((root + "/notes.txt").c_str(), (root + "/to-notes").c_str());
        symlink((root + "/launcher.desktop").c_str(), (root + "/to-launcher").c_str());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string socketPath = root + "/socket";
        socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socketFd = fd;
    }
    ~Files()
    {
        close(socketFd);
        std::system(("rm -rf '" + root + "'").c_str());
    }
    std::string path(const std::string& name) const { return root + "/" + name; }
    std::string url(const std::string& name) const { return "file://" + path(name); }

    std::string root;

private:
    void write(const std::string& name, const std::string& text, mode_t mode = 0644)
    {
        std::ofstream(path(name)) << text;
        chmod(path(name).c_str(), mode);
    }
    void copy(const std::string& from, const std::string& name)
    {
        std::ifstream source(from, std::ios::binary);
        std::ofstream(path(name), std::ios::binary) << source.rdbuf();
        chmod(path(name).c_str(), 0755);
    }
    int socketFd = -1;
};

/// The machine's file system, counting every look inside a file.
class CountingFileSystem final : public LinkFileSystem
{
public:
    std::optional<std::string> contentType(const std::string& path) const override
    {
        sniffed.push_back(path);
        return LinkFileSystem::contentType(path);
    }
    mutable std::vector<std::string> sniffed;
};

TEST(LinkPolicyTests, SchemesAndHosts)
{
    struct Case
    {
        const char* target;
        std::string expected;
    };
    const Case cases[] = {
        {"https://example.org/a?b#c", "allow https://example.org/a?b#c"},
        {"HTTP://Example.org", "allow HTTP://Example.org"},
        {"http://[::1]:8080/x", "allow http://[::1]:8080/x"},
        {"https:///path", "deny The web target does not have a valid host."},
        {"http:", "deny The web target does not have a valid host."},
        {"https://user@/x", "deny The web target does not have a valid host."},
        {"mailto:someone@example.org", "allow mailto:someone@example.org"},
        {"mailto:", "deny The target is not an absolute URL with a scheme."},
        {"ssh://host", "confirm ssh://host"},
        {"ftp://files.example.org/x", "confirm ftp://files.example.org/x"},
        {"vscode://file/x", "confirm vscode://file/x"},
        {"", "deny The target is not an absolute URL with a scheme."},
        {"just-a-word", "deny The target is not an absolute URL with a scheme."},
        {"/tmp/no-scheme", "deny The target is not an absolute URL with a scheme."},
        {"https://exa mple.org", "deny The target is not an absolute URL with a scheme."},
        {"https://example.org/%zz", "deny The target is not an absolute URL with a scheme."},
        {"https://example.org:80x/", "deny The target is not an absolute URL with a scheme."},
        {"1http://x", "deny The target is not an absolute URL with a scheme."},
        {"https://a\nb", "deny The target contains invisible characters or line breaks."},
        {"https://example.org/\u202Etxt.exe",
         "deny The target contains invisible characters or line breaks."},
        {"https://exa\u200Bmple.org", "deny The target contains invisible characters or line breaks."},
        {"https://example.org/\xff", "deny The target contains invisible characters or line breaks."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(decide(c.target)), c.expected) << c.target;
}

TEST(LinkPolicyTests, FilesByKindExtensionContentAndPermission)
{
    const Files files;
    const std::string host = LinkFileSystem::system().hostName();
    const std::string allowNotes = "allow " + files.url("notes.txt");
    const std::string inaccessible =
        "deny The local target does not exist or is not a regular file or directory.";
    const std::string unsafe = "deny This local target can run code.";
    const std::string malformed = "deny The target is not an absolute URL with a scheme.";
    struct Case
    {
        std::string target;
        std::string expected;
    };
    const Case cases[] = {
        {files.url("notes.txt"), allowNotes},
        {files.url("folder"), "allow " + files.url("folder")},
        {files.url("folder/../notes.txt"), allowNotes},
        {"file://localhost" + files.path("notes.txt"), allowNotes},
        {"file://LOCALHOST" + files.path("notes.txt"), allowNotes},
        // `ls --hyperlink` names this machine, in whatever case.
        {"file://" + host + files.path("notes.txt"), allowNotes},
        {"file://" + upper(host) + files.path("notes.txt"), allowNotes},
        {"file://other-machine.example" + files.path("notes.txt"), malformed},
        {files.url("notes.txt") + "?q=1", malformed},
        {files.url("notes.txt") + "#top", malformed},
        {"file:notes.txt", malformed},
        {files.url("missing.txt"), inaccessible},
        // A link leads where it points.
        {files.url("to-notes"), allowNotes},
        {files.url("to-launcher"), unsafe},
        // Runnable by extension (any case), by content, or by permission.
        {files.url("launcher.desktop"), unsafe},
        {files.url("Tool.AppImage"), unsafe},
        {files.url("setup.SH"), unsafe},
        {files.url("archive.deb"), unsafe},
        {files.url("Site.app"), unsafe},
        {files.url("script"), unsafe},
        {files.url("tool"), unsafe},
        {files.url("program"), unsafe},
        {files.url("runnable.txt"), unsafe},
        // Special files are refused without being opened.
        {files.url("pipe"), inaccessible},
        {files.url("socket"), inaccessible},
        {"file:///dev/null", inaccessible},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(decide(c.target)), c.expected) << c.target;

    // The ELF program is refused for what it is, without its execute bit too.
    chmod(files.path("program").c_str(), 0644);
    EXPECT_EQ(describe(decide(files.url("program"))), unsafe);
    // A directory one may enter is not a program.
    EXPECT_EQ(describe(decide(files.url("folder"))), "allow " + files.url("folder"));
}

TEST(LinkPolicyTests, SpecialFilesAreNeverOpenedToBeSniffed)
{
    const Files files;
    const CountingFileSystem counting;
    for (const char* name : {"pipe", "socket"})
        EXPECT_EQ(decide(files.url(name), counting), Decision::deny(Reason::inaccessibleFile)) << name;
    EXPECT_EQ(decide("file:///dev/zero", counting), Decision::deny(Reason::inaccessibleFile));
    EXPECT_TRUE(counting.sniffed.empty()) << counting.sniffed.front();
    // A regular file is looked into; a directory never.
    decide(files.url("notes.txt"), counting);
    decide(files.url("folder"), counting);
    EXPECT_EQ(counting.sniffed, std::vector<std::string>{files.path("notes.txt")});
}

TEST(LinkPolicyTests, UnsafeScalarsAndHowTheyAreShown)
{
    struct Case
    {
        char32_t scalar;
        bool unsafe;
    };
    const Case cases[] = {
        {0x00, true},    {0x09, true},   {0x1F, true},   {0x20, false},   {0x7E, false},   {0x7F, true},
        {0x9F, true},    {0xA0, false},  {0xAD, false},  {0x061B, false}, {0x061C, true},  {0x180E, false},
        {0x200A, false}, {0x200B, true}, {0x200F, true}, {0x2010, false}, {0x2027, false}, {0x2028, true},
        {0x2029, true},  {0x202A, true}, {0x202E, true}, {0x202F, false}, {0x2060, true},  {0x2061, false},
        {0x2065, false}, {0x2066, true}, {0x2069, true}, {0x206A, false}, {0xFEFE, false}, {0xFEFF, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UntrustedTerminalLink::isUnsafeScalar(c.scalar), c.unsafe)
            << std::hex << unsigned(c.scalar);

    const Files files;
    struct Shown
    {
        std::string target;
        std::string shown;
    };
    const Shown shown[] = {
        {"https://a\nb\u202Ec\u200Bd", "https://a\\u{A}b\\u{202E}c\\u{200B}d"},
        {"ssh://host/x", "ssh://host/x"},
        {files.url("to-notes"), files.path("notes.txt")},
        {files.url("folder/./../missing%20file"), files.path("missing file")},
        {"/tmp/a/../b", "/tmp/b"},
        {"relative/path", "relative/path"},
    };
    for (const Shown& s : shown)
        EXPECT_EQ(UntrustedTerminalLink{s.target}.displayString(), s.shown) << s.target;
}

TEST(LinkPolicyTests, ClickedTextBecomesATarget)
{
    const Files files;
    const LinkFileSystem& system = LinkFileSystem::system();
    const std::optional<std::string> noDirectory;
    struct Case
    {
        std::string text;
        bool isExplicit;
        std::optional<std::string> workingDirectory;
        std::string target;
    };
    const Case cases[] = {
        // Explicit links and URLs are judged as they are.
        {"notes.txt", true, files.root, "notes.txt"},
        {"https://example.org", false, noDirectory, "https://example.org"},
        {files.path("notes.txt"), false, noDirectory, files.url("notes.txt")},
        // A line and column suffix goes only when the path without it is what exists.
        {files.path("notes.txt") + ":12:5", false, noDirectory, files.url("notes.txt")},
        {files.path("notes.txt") + ":12", false, noDirectory, files.url("notes.txt")},
        {files.path("notes.txt") + ":1:2:3", false, noDirectory, files.path("notes.txt") + ":1:2:3"},
        {files.path("notes.txt") + ":abc", false, noDirectory, files.path("notes.txt") + ":abc"},
        // Relative paths come from the shell's directory, and stay unresolved without one.
        {"./notes.txt", false, files.root, files.url("./notes.txt")},
        {"folder/../notes.txt:3", false, files.root + "/", files.url("folder/../notes.txt")},
        {"./notes.txt", false, noDirectory, "./notes.txt"},
        {"./missing.txt", false, files.root, "./missing.txt"},
        // Unsafe text is left for the policy to refuse.
        {"./notes\u202E.txt", false, files.root, "./notes\u202E.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            TerminalLinkOpening::defaultLinkTarget(c.text, c.isExplicit, system, c.workingDirectory).string,
            c.target)
            << c.text;

    // "~" is the home directory.
    class HomeIsFiles final : public LinkFileSystem
    {
    public:
        explicit HomeIsFiles(std::string home) : home_(std::move(home)) {}
        std::optional<std::string> homeDirectory() const override { return home_; }
        std::string home_;
    } home(files.root);
    EXPECT_EQ(TerminalLinkOpening::defaultLinkTarget("~/notes.txt", false, home, noDirectory).string,
              files.url("notes.txt"));
    // Judged, a resolved relative path opens the file of the shell's directory.
    EXPECT_EQ(describe(decide(
                  TerminalLinkOpening::defaultLinkTarget("./notes.txt", false, system, files.root).string)),
              "allow " + files.url("notes.txt"));
    EXPECT_EQ(describe(decide(
                  TerminalLinkOpening::defaultLinkTarget("./notes.txt", false, system, noDirectory).string)),
              "deny The target is not an absolute URL with a scheme.");
}

TEST(LinkPolicyTests, AShellsDirectoryCountsOnlyWhileItsPathStillLeadsThere)
{
    const LinkFileSystem& system = LinkFileSystem::system();
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    EXPECT_EQ(system.workingDirectory(getpid()), std::string(here));
    EXPECT_EQ(system.workingDirectory(0), std::nullopt);
    EXPECT_EQ(system.workingDirectory(-1), std::nullopt);

    // A process whose directory was removed: its old path leads nowhere.
    char pattern[] = "/tmp/vesk-cwd-XXXXXX";
    const std::string directory = mkdtemp(pattern);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    pid_t child = 0;
    char program[] = "/bin/sleep";
    char seconds[] = "30";
    char* arguments[] = {program, seconds, nullptr};
    ASSERT_EQ(posix_spawn(&child, program, &actions, nullptr, arguments, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // The child is in the directory once /proc shows it there.
    for (int attempt = 0; attempt < 2000 && system.workingDirectory(child) != directory; ++attempt)
        usleep(1000);
    EXPECT_EQ(system.workingDirectory(child), directory);
    rmdir(directory.c_str());
    EXPECT_EQ(system.workingDirectory(child), std::nullopt);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(LinkPolicyTests, UrlPartsAndFileUrls)
{
    const std::optional<LinkURL> url = LinkURL::parse("HTTPS://user:pw@[::1]:443/a%20b?q=1#frag");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "HTTPS");
    EXPECT_EQ(url->host, "::1");
    EXPECT_EQ(url->path, "/a%20b");
    EXPECT_EQ(url->query, "q=1");
    EXPECT_EQ(url->fragment, "frag");
    EXPECT_EQ(LinkURL::parse("src/main.c:12")->scheme, "");
    EXPECT_EQ(LinkURL::percentDecoded("/a%20b%2f"), "/a b/");
    EXPECT_EQ(LinkURL::percentDecoded("/a%00b"), std::nullopt);
    EXPECT_EQ(LinkURL::fileURLString("/tmp/a b/#1%.txt"), "file:///tmp/a%20b/%231%25.txt");
}

} // namespace
} // namespace kestrovan
