#include "Kestrovan/KittyGraphicsMedia.h"

#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestrovan {

namespace {

constexpr const char* badPayload = "EINVAL: bad payload";

/// Closes a descriptor on every exit path.
class Descriptor
{
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

/// Runs an action when the scope ends, whatever the way out.
template <typename F> class ScopeExit
{
public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F action_;
};

bool startsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

/// A path's text when it holds no NUL byte and is UTF-8.
std::optional<std::string> pathText(std::span<const uint8_t> bytes)
{
    if (std::find(bytes.begin(), bytes.end(), uint8_t{0}) != bytes.end() || !isValidUtf8(bytes))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

/// A path made absolute against the working directory, with ".", ".." and repeated "/" taken out
/// by text alone.
std::string standardizedPath(const std::string& path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer))
            absolute = std::string(buffer) + "/" + absolute;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= absolute.size()) {
        size_t end = absolute.find('/', start);
        if (end == std::string::npos)
            end = absolute.size();
        const std::string part = absolute.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    return out.empty() ? "/" : out;
}

/// The unlink after every outcome of a temporary file, by the path that was opened.
void unlinkPath(const std::string& path)
{
    ::unlink(path.c_str());
}

/// Decompression and pixel decoding, shared by the file and shared-memory media.
KittyPayloadResult decodeLocalData(std::vector<uint8_t> data, const KittyGraphicsControl& control,
                                   const KittyGraphicsConfiguration& configuration,
                                   std::optional<int64_t> maximumImageBytes,
                                   std::optional<KittyImageSize> frameImageSize)
{
    if (const char* refused = kittyRawSizeRefusal(control, maximumImageBytes, frameImageSize))
        return KittyPayloadResult::failure(refused);
    std::optional<std::vector<uint8_t>> raw = decompressKittyData(std::move(data), control, configuration);
    if (!raw)
        return KittyPayloadResult::failure(badPayload);
    const char* refused = nullptr;
    std::optional<KittyGraphicsPayload> image =
        decodeKittyPayloadData(control, *raw, maximumImageBytes, &refused, frameImageSize);
    if (refused)
        return KittyPayloadResult::failure(refused);
    if (!image)
        return KittyPayloadResult::failure(badPayload);
    return {std::move(image), std::nullopt};
}

} // namespace

std::optional<std::string> resolveKittyRealPath(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    std::string result(resolved.get());
    // Canonical paths are held to 1024 bytes, the buffer the protocol's paths are sized for.
    if (result.size() >= 1024)
        return std::nullopt;
    return result;
}

bool isKittyTrustedTemporaryPath(const std::string& path, const KittyGraphicsConfiguration& configuration)
{
    if (!configuration.trustedTemporaryDirectory)
        return false;
    const std::string standardized = standardizedPath(*configuration.trustedTemporaryDirectory);
    std::string directory = resolveKittyRealPath(standardized).value_or(standardized);
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return startsWith(path, directory);
}

bool isPlausibleSharedMemoryName(std::span<const uint8_t> name)
{
    if (name.size() < 2 || name.size() > 31 || name[0] != '/')
        return false;
    return std::find(name.begin() + 1, name.end(), uint8_t{'/'}) == name.end();
}

int openKittyMediaPath(const std::string& canonicalPath)
{
    // O_NONBLOCK keeps a FIFO or a device from stalling the parse thread in open; the caller then
    // refuses anything that is not a regular file before it reads.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    // The canonical path holds no link. Opening it with links refused means a directory swapped
    // for a link since the check (to /proc or /dev, say) fails the open instead of leading there.
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, canonicalPath.c_str(), &how, sizeof how);
    if (fd >= 0)
        return static_cast<int>(fd);
    // A kernel without openat2 (before 5.6, or a filter that refuses it): the last component is
    // still never followed.
    if (errno == ENOSYS || errno == EPERM)
        return ::open(canonicalPath.c_str(), flags);
    return -1;
}

std::optional<std::vector<uint8_t>> copyKittyFileRange(int descriptor, int64_t offset, int64_t length)
{
    if (offset < 0 || length < 0)
        return std::nullopt;
    std::vector<uint8_t> out(static_cast<size_t>(length));
    int64_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(descriptor, out.data() + done,
                                    static_cast<size_t>(std::min<int64_t>(length - done, 1 << 20)),
                                    static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            return std::nullopt; // the object ended early: it shrank after it was measured
        done += got;
    }
    return out;
}

std::optional<std::vector<uint8_t>> readKittyFileData(const std::string& path, int64_t offset, int64_t size,
                                                      bool deleteAfterRead, int64_t maximumBytes)
{
    if (offset < 0 || size < 0)
        return std::nullopt;
    const Descriptor file(openKittyMediaPath(path));
    if (file.get() < 0)
        return std::nullopt;
    // From here on a temporary file goes whatever the outcome.
    const ScopeExit removeTemporary([&] {
        if (deleteAfterRead)
            unlinkPath(path);
    });

    struct stat info
    {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const int64_t fileSize = info.st_size;
    if (fileSize > kittyMaximumDataBytes || offset > fileSize)
        return std::nullopt;
    if (size > 0 && size > fileSize - offset)
        return std::nullopt;
    if (offset > 0 && ::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return std::nullopt;

    // Only what the command can use is read: a sparse file claiming 400 MiB costs nothing more.
    const int64_t amount = std::min(
        {size > 0 ? size : kittyMaximumDataBytes, fileSize - offset, std::max<int64_t>(maximumBytes, 0)});
    if (amount <= 0)
        return std::vector<uint8_t>();
    std::vector<uint8_t> out(static_cast<size_t>(amount));
    int64_t done = 0;
    // A file that shrank meanwhile gives what it still holds.
    while (done < amount) {
        const ssize_t got = ::read(file.get(), out.data() + done,
                                   static_cast<size_t>(std::min<int64_t>(amount - done, 1 << 20)));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += got;
    }
    out.resize(static_cast<size_t>(done));
    return out;
}

std::optional<std::vector<uint8_t>> readKittySharedMemory(const std::string& name,
                                                          std::optional<int64_t> expectedSize, int64_t offset,
                                                          int64_t size, int64_t maximumBytes)
{
    if (offset < 0 || size < 0)
        return std::nullopt;
    // A FIFO planted under /dev/shm must not stall the open either.
    const Descriptor object(::shm_open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY, 0));
    if (object.get() < 0)
        return std::nullopt;
    const ScopeExit removeObject([&] { ::shm_unlink(name.c_str()); });

    struct stat info
    {};
    if (::fstat(object.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const int64_t objectSize = info.st_size;
    if (objectSize <= 0 || objectSize > kittyMaximumDataBytes)
        return std::nullopt;
    if (expectedSize && objectSize < *expectedSize)
        return std::nullopt;

    int64_t end = 0;
    if (size == 0)
        end = expectedSize ? offset + *expectedSize : objectSize;
    else
        end = offset + size > objectSize ? objectSize : offset + size;
    if (end <= offset || end > objectSize)
        return std::nullopt;
    // As with files, only what the command can use is copied.
    end = std::min(end, offset + std::max<int64_t>(maximumBytes, 1));
    // The copy reads the descriptor rather than a mapping: the sender may shrink the object after
    // it was measured, which makes this a short read instead of a SIGBUS.
    return copyKittyFileRange(object.get(), offset, end - offset);
}

KittyPayloadResult loadKittyFilePayload(const KittyGraphicsControl& control,
                                        std::span<const uint8_t> base64Payload,
                                        const KittyGraphicsConfiguration& configuration, bool temporary,
                                        std::optional<int64_t> maximumImageBytes,
                                        std::optional<KittyImageSize> frameImageSize)
{
    const std::optional<std::vector<uint8_t>> decoded = decodeKittyBase64(base64Payload);
    if (!decoded || decoded->empty())
        return KittyPayloadResult::failure(badPayload);
    const std::optional<std::string> path = pathText(*decoded);
    if (!path)
        return KittyPayloadResult::failure("EINVAL: bad path");
    const std::optional<std::string> canonical = resolveKittyRealPath(*path);
    if (!canonical)
        return KittyPayloadResult::failure("EINVAL: bad path");
    // Kernel interfaces and devices are never read; shared memory under /dev/shm is a file.
    if (startsWith(*canonical, "/proc/") || startsWith(*canonical, "/sys/") ||
        (startsWith(*canonical, "/dev/") && !startsWith(*canonical, "/dev/shm/")))
        return KittyPayloadResult::failure("EINVAL: bad path");
    if (temporary) {
        const size_t slash = canonical->rfind('/');
        const std::string name = canonical->substr(slash + 1);
        if (!isKittyTrustedTemporaryPath(*canonical, configuration) ||
            !startsWith(name, "tty-graphics-protocol"))
            return KittyPayloadResult::failure("EINVAL: temporary file not in temp dir");
    }
    std::optional<std::vector<uint8_t>> data =
        readKittyFileData(*canonical, control.dataOffset, control.dataSize, temporary,
                          kittyMediaReadLimit(control, configuration));
    if (!data)
        return KittyPayloadResult::failure(badPayload);
    return decodeLocalData(std::move(*data), control, configuration, maximumImageBytes, frameImageSize);
}

KittyPayloadResult loadKittySharedMemoryPayload(const KittyGraphicsControl& control,
                                                std::span<const uint8_t> base64Payload,
                                                const KittyGraphicsConfiguration& configuration,
                                                std::optional<int64_t> maximumImageBytes,
                                                std::optional<KittyImageSize> frameImageSize)
{
    const std::optional<std::vector<uint8_t>> decoded = decodeKittyBase64(base64Payload);
    if (!decoded || decoded->empty())
        return KittyPayloadResult::failure(badPayload);
    const std::optional<std::string> name = pathText(*decoded);
    if (!name || !isPlausibleSharedMemoryName(*decoded))
        return KittyPayloadResult::failure(badPayload);
    std::optional<int64_t> expected;
    if (control.format != 100) {
        expected = kittyExpectedDataSize(control);
        if (!expected)
            return KittyPayloadResult::failure(badPayload);
    }
    // Compressed data has a length of its own, unrelated to the pixels it inflates to.
    if (control.compression)
        expected.reset();
    std::optional<std::vector<uint8_t>> data = readKittySharedMemory(
        *name, expected, control.dataOffset, control.dataSize, kittyMediaReadLimit(control, configuration));
    if (!data)
        return KittyPayloadResult::failure(badPayload);
    return decodeLocalData(std::move(*data), control, configuration, maximumImageBytes, frameImageSize);
}

} // namespace kestrovan
