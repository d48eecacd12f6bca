// What the link-safety policy asks of the machine: whether a path exists, where its symbolic links
// lead, what kind of file it is, its content type, this machine's name, the home directory and a
// shell's working directory.
//
// Every member has the real answer as its default body; a test overrides one to count calls or
// to stand in for a situation it cannot make. The kind of a file is read with stat(2), which never
// opens it: only regular files are ever opened, to read their first bytes for the content type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrovan {

class LinkFileSystem
{
public:
    /// What stat(2) tells of a file.
    struct Entry
    {
        enum class Kind
        {
            regularFile,
            directory,
            /// A FIFO, a socket or a device.
            special,
        };
        Kind kind = Kind::regularFile;
        /// Any of the execute permission bits is set.
        bool executable = false;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    virtual ~LinkFileSystem() = default;

    /// The file system of this machine.
    static const LinkFileSystem& system();

    /// True when `path` names something, following symbolic links.
    virtual bool exists(const std::string& path) const;
    /// The absolute path with every symbolic link, "." and ".." resolved; none when any part is
    /// missing or unreadable.
    virtual std::optional<std::string> resolvedPath(const std::string& path) const;
    /// What `path` is, following symbolic links; none when it cannot be read.
    virtual std::optional<Entry> entry(const std::string& path) const;
    /// The content type of the regular file at `path`, judged by its name and first bytes.
    virtual std::optional<std::string> contentType(const std::string& path) const;
    /// True when content type `type` is `supertype` or a kind of it.
    virtual bool contentTypeIsA(const std::string& type, const std::string& supertype) const;
    /// This machine's name.
    virtual std::string hostName() const;
    /// The user's home directory; none when it cannot be found.
    virtual std::optional<std::string> homeDirectory() const;
    /// The working directory of process `pid` as a path, used only while that path still names
    /// the very directory the process is in (same device and inode): a directory that was removed,
    /// or a path that names another directory from here (another mount namespace), gives none.
    virtual std::optional<std::string> workingDirectory(int32_t pid) const;
};

} // namespace kestrovan
