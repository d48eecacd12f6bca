// A small program the process and pipeline tests start, usually on a pseudo-terminal.
//
//   write COUNT SEED   writes COUNT bytes of the seeded test stream, raw, then exits 0
//   exit CODE          exits with CODE at once
//   report             prints its directory, arguments, one environment variable, the state of
//                      its signals, its terminal's size, whether it leads its session with the
//                      terminal as its controlling one, and the descriptors that are terminals,
//                      one "key=value" line each, then exits 0
#include "TestChild/TestStream.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool writeAll(const uint8_t* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t count = write(STDOUT_FILENO, bytes, size);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += count;
        size -= static_cast<size_t>(count);
    }
    return true;
}

int writeStream(unsigned long long count, unsigned long long seed)
{
    // On a terminal, raw output: no newline translation, so every byte arrives as written.
    termios attributes{};
    if (isatty(STDOUT_FILENO) && tcgetattr(STDOUT_FILENO, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(STDOUT_FILENO, TCSANOW, &attributes);
    }
    testchild::TestStream stream(seed);
    uint8_t buffer[16384];
    while (count > 0) {
        const size_t chunk = count < sizeof buffer ? static_cast<size_t>(count) : sizeof buffer;
        for (size_t i = 0; i < chunk; ++i)
            buffer[i] = stream.next();
        if (!writeAll(buffer, chunk))
            return 2;
        count -= chunk;
    }
    return 0;
}

int report(int argc, char** argv)
{
    char directory[4096];
    std::printf("cwd=%s\n", getcwd(directory, sizeof directory) ? directory : "?");
    std::printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i)
        std::printf("arg=%s\n", argv[i]);
    const char* value = std::getenv("TESTCHILD_VALUE");
    std::printf("env=%s\n", value ? value : "(unset)");

    struct sigaction action
    {};
    sigaction(SIGINT, nullptr, &action);
    std::printf("sigint=%s\n", action.sa_handler == SIG_IGN   ? "ignored"
                               : action.sa_handler == SIG_DFL ? "default"
                                                              : "handled");
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, nullptr, &blocked);
    std::string list;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (sigismember(&blocked, signalNumber) == 1)
            list += (list.empty() ? "" : ",") + std::to_string(signalNumber);
    }
    std::printf("blocked=%s\n", list.empty() ? "none" : list.c_str());
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
        std::printf("size=%dx%d\n", size.ws_row, size.ws_col);
    // The terminal is the controlling terminal of the child's own session (so Ctrl-C and job
    // control reach it), and the three standard descriptors are the only terminals it holds.
    std::printf("session=%s\n",
                getsid(0) == getpid() && tcgetsid(STDIN_FILENO) == getpid() ? "leader" : "other");
    std::string terminals;
    for (int fd = 0; fd < 1024; ++fd) {
        if (isatty(fd))
            terminals += (terminals.empty() ? "" : ",") + std::to_string(fd);
    }
    std::printf("terminals=%s\n", terminals.c_str());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "write") == 0)
        return writeStream(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10));
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0)
        return std::atoi(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "report") == 0)
        return report(argc, argv);
    std::fprintf(stderr, "usage: testchild write COUNT SEED | exit CODE | report\n");
    return 64;
}
