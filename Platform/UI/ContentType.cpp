#include "Platform/UI/ContentType.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

/// How much of a file the guess looks at; GIO's own sniffing reads as much.
constexpr size_t sniffLength = 4096;

} // namespace

std::optional<std::string> contentTypeOfRegularFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat info
    {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::array<unsigned char, sniffLength> data{};
    size_t length = 0;
    while (length < data.size()) {
        const ssize_t got = read(fd, data.data() + length, data.size() - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += size_t(got);
    }
    close(fd);
    gboolean uncertain = false;
    gchar* type = g_content_type_guess(path.c_str(), data.data(), length, &uncertain);
    if (!type)
        return std::nullopt;
    std::string result = type;
    g_free(type);
    return result;
}

bool contentTypeIsA(const std::string& type, const std::string& supertype)
{
    return g_content_type_is_a(type.c_str(), supertype.c_str());
}

} // namespace platform
