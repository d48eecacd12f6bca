// Reading and writing files named by a path that a user or another program may have replaced:
// with a FIFO, a socket, a device, a directory or a symbolic link loop.
//
// A plain open(2) of a FIFO waits until a writer comes, possibly for ever, and an open for
// writing waits for a reader. Every open here passes O_NONBLOCK, so it returns at once whatever
// the path names, then asks the descriptor itself (fstat, so no swap can slip in between) whether
// it is a regular file, and refuses anything else with an error saying what it found. A symbolic
// link to a regular file is followed as usual; a link loop is a plain failure. Nothing here logs:
// the caller knows what the file was for and words the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <utility>
#include <variant>

namespace platform {

/// Why a path could not be used as a regular file.
enum class FileFailure : uint8_t
{
    /// Nothing there, or a folder on the way is missing (ENOENT, ENOTDIR).
    missing,
    /// A FIFO, socket, device or directory.
    notRegular,
    /// More bytes than the caller accepts.
    tooLarge,
    /// The system refused: permissions, a symbolic link loop, an I/O error.
    failed
};

/// What went wrong with a path, in words for a log line.
struct FileError
{
    FileFailure failure = FileFailure::failed;
    /// The errno behind the failure; 0 where there is none (a FIFO opened fine and was refused).
    int errorNumber = 0;
    std::string path;
    /// What was found or what the system said, without the path: "a FIFO, not a regular file".
    std::string reason;

    /// The path and the reason: "/home/me/.config/vesk/settings.ini: a FIFO, not a regular file".
    std::string message() const { return path + ": " + reason; }
};

/// A value, or the error that kept it from being made.
template <typename T> class FileResult
{
public:
    FileResult(T value) : outcome_(std::move(value)) {}
    FileResult(FileError error) : outcome_(std::move(error)) {}

    bool ok() const { return outcome_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(outcome_); }
    const T& value() const { return std::get<0>(outcome_); }
    const FileError& error() const { return std::get<1>(outcome_); }

private:
    std::variant<T, FileError> outcome_;
};

/// An open file descriptor, closed when it goes.
class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    /// The descriptor; -1 when none is held.
    int get() const { return descriptor_; }
    /// Hands the descriptor over to the caller, who closes it.
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_ = -1;
};

/// Opens the regular file `path` for reading (a link to one is followed) without ever waiting in
/// open(2); the descriptor is blocking again once it is known to be a regular file.
FileResult<FileDescriptor> openRegularFileForReading(const std::string& path);

/// The rest of the open file `file` (named `path` in errors), refused as `tooLarge` when it holds
/// more than `maximumBytes`, whether it said so up front or grew while it was read.
FileResult<std::string> readToEnd(const FileDescriptor& file, const std::string& path, size_t maximumBytes);

/// The whole contents of the regular file `path`, at most `maximumBytes` of them.
FileResult<std::string> readRegularFile(const std::string& path, size_t maximumBytes);

/// How a write treats what the file already holds.
enum class WriteMode : uint8_t
{
    /// The file is emptied first.
    replace,
    /// The bytes go after what is there.
    append
};

/// Opens the regular file `path` for writing, creating it with `permissions` (less the umask)
/// when it is absent, without ever waiting in open(2) for a FIFO's reader.
FileResult<FileDescriptor> openRegularFileForWriting(const std::string& path, WriteMode mode,
                                                     mode_t permissions = 0666);

/// Writes all of `bytes` to the open file `file` (named `path` in errors); none when all went.
std::optional<FileError> writeAll(const FileDescriptor& file, const std::string& path,
                                  std::span<const uint8_t> bytes);

/// Opens the regular file `path` for writing as `openRegularFileForWriting` does and writes all
/// of `bytes`; none when all went.
std::optional<FileError> writeRegularFile(const std::string& path, std::span<const uint8_t> bytes,
                                          WriteMode mode, mode_t permissions = 0666);

} // namespace platform
