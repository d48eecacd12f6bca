// A program the paste tests run in the shell: it asks for bracketed paste, reads its terminal raw,
// says "sink ready", and appends every byte it reads, unchanged, to the file it is given, until
// the user types Ctrl-D.
//
//   vesk_paste_sink FILE
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out < 0)
        return 1;
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios raw = saved;
    cfmakeraw(&raw);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    const char hello[] = "\x1b[?2004hsink ready\r\n";
    if (write(STDOUT_FILENO, hello, sizeof hello - 1) < 0)
        return 1;
    char bytes[65536];
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0)
            break;
        const void* end = std::memchr(bytes, 0x04, static_cast<size_t>(count));
        const ssize_t kept = end ? static_cast<const char*>(end) - bytes : count;
        if (kept > 0 && write(out, bytes, static_cast<size_t>(kept)) != kept)
            return 1;
        if (end)
            break;
    }
    const char goodbye[] = "\x1b[?2004l";
    if (write(STDOUT_FILENO, goodbye, sizeof goodbye - 1) < 0)
        return 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return close(out) == 0 ? 0 : 1;
}
