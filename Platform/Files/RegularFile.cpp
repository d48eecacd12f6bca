// Opening paths without waiting on whatever they name, and refusing all but regular files.
#include "Platform/Files/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

/// What a file of `mode` is, in words; regular files never get here.
const char* kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO, not a regular file";
    if (S_ISDIR(mode))
        return "a directory, not a regular file";
    if (S_ISSOCK(mode))
        return "a socket, not a regular file";
    if (S_ISCHR(mode))
        return "a character device, not a regular file";
    if (S_ISBLK(mode))
        return "a block device, not a regular file";
    return "not a regular file";
}

FileError systemError(const std::string& path, int error)
{
    const bool missing = error == ENOENT || error == ENOTDIR;
    return {missing ? FileFailure::missing : FileFailure::failed, error, path, std::strerror(error)};
}

/// The error of an open(2) that failed with `error`. A socket refuses every open (ENXIO), as does
/// a FIFO opened for writing with no reader, and a directory any open for writing (EISDIR): stat
/// (which never waits) then says which it is.
FileError openError(const std::string& path, int error)
{
    struct stat info
    {};
    if ((error == ENXIO || error == EISDIR) && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return {FileFailure::notRegular, error, path, kindOf(info.st_mode)};
    return systemError(path, error);
}

/// Opens with `flags` (O_NONBLOCK among them), keeps the descriptor only for a regular file, and
/// makes it blocking again: a regular file never waits anyway, and a caller may hand the
/// descriptor to code that expects the usual blocking reads.
FileResult<FileDescriptor> openRegular(const std::string& path, int flags, mode_t permissions)
{
    int descriptor = -1;
    do
        descriptor = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, permissions);
    while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return openError(path, errno);
    FileDescriptor file(descriptor);
    struct stat info
    {};
    if (::fstat(file.get(), &info) != 0)
        return systemError(path, errno);
    if (!S_ISREG(info.st_mode))
        return FileError{FileFailure::notRegular, 0, path, kindOf(info.st_mode)};
    const int status = ::fcntl(file.get(), F_GETFL);
    if (status < 0 || ::fcntl(file.get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return systemError(path, errno);
    return file;
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

FileResult<FileDescriptor> openRegularFileForReading(const std::string& path)
{
    return openRegular(path, O_RDONLY, 0);
}

FileResult<std::string> readToEnd(const FileDescriptor& file, const std::string& path, size_t maximumBytes)
{
    const auto tooLarge = [&] {
        return FileError{FileFailure::tooLarge, 0, path,
                         "larger than " + std::to_string(maximumBytes) + " bytes, the most it may hold"};
    };
    struct stat info
    {};
    if (::fstat(file.get(), &info) != 0)
        return systemError(path, errno);
    if (static_cast<uint64_t>(info.st_size) > maximumBytes)
        return tooLarge();
    std::string contents;
    // The size is a hint only: files under /proc say 0, and a file may grow while it is read.
    contents.reserve(static_cast<size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return systemError(path, errno);
        }
        if (got == 0)
            return contents;
        if (static_cast<size_t>(got) > maximumBytes - contents.size())
            return tooLarge();
        contents.append(chunk, static_cast<size_t>(got));
    }
}

FileResult<std::string> readRegularFile(const std::string& path, size_t maximumBytes)
{
    FileResult<FileDescriptor> file = openRegularFileForReading(path);
    if (!file)
        return file.error();
    return readToEnd(file.value(), path, maximumBytes);
}

FileResult<FileDescriptor> openRegularFileForWriting(const std::string& path, WriteMode mode,
                                                     mode_t permissions)
{
    // O_TRUNC leaves a FIFO or a device alone; it empties only a regular file, which is kept.
    const int flags = O_WRONLY | O_CREAT | (mode == WriteMode::append ? O_APPEND : O_TRUNC);
    return openRegular(path, flags, permissions);
}

std::optional<FileError> writeAll(const FileDescriptor& file, const std::string& path,
                                  std::span<const uint8_t> bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return systemError(path, errno);
        }
        done += static_cast<size_t>(wrote);
    }
    return std::nullopt;
}

std::optional<FileError> writeRegularFile(const std::string& path, std::span<const uint8_t> bytes,
                                          WriteMode mode, mode_t permissions)
{
    FileResult<FileDescriptor> file = openRegularFileForWriting(path, mode, permissions);
    if (!file)
        return file.error();
    if (std::optional<FileError> failure = writeAll(file.value(), path, bytes))
        return failure;
    // A file system that writes back late (NFS, a full disk's quota) may report the failure only
    // at close.
    if (::close(file.value().release()) != 0 && errno != EINTR)
        return systemError(path, errno);
    return std::nullopt;
}

} // namespace platform
