// The application's user settings: a GLib key file, by default $XDG_CONFIG_HOME/vesk/settings.ini.
//
// The file is read once, when the store is made, and the store's copy is what every query
// answers. A change updates that copy first and then writes the whole file atomically (a new file
// renamed over the old one), so a reader or a crash never sees half a file. A write that fails is
// logged and the change still holds for the rest of the session. Groups, keys and comments the
// application does not know are kept. Main thread only: the store has no lock.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Settings
{
public:
    /// The settings file of the application: `xdgConfigHome`/vesk/settings.ini when that is an
    /// absolute path, else `home`/.config/vesk/settings.ini (the XDG rule for a missing or relative
    /// XDG_CONFIG_HOME).
    static std::string applicationPath(const char* xdgConfigHome, const char* home);

    /// The process-wide store on the application's settings file, found from the environment the
    /// first time it is asked for.
    static Settings& shared();

    /// A store on the file `path`. A missing file is an empty store; a file that cannot be parsed
    /// is logged and read as empty too (the next change replaces it), and so is anything at `path`
    /// but a regular file or a link to one: a FIFO, a socket, a directory or a link loop is never
    /// waited on.
    explicit Settings(std::string path);
    ~Settings();

    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    /// The boolean under `key` in `group`; none when it is absent or not a boolean.
    std::optional<bool> boolean(std::string_view group, std::string_view key) const;

    /// Stores `value` under `key` in `group` and writes the file, creating its folder when needed.
    /// Answers whether the file was written; when not, the failure is logged and the value still
    /// holds in this store.
    bool setBoolean(std::string_view group, std::string_view key, bool value);

    /// The file this store reads and writes.
    const std::string& path() const { return path_; }

private:
    bool write();

    std::string path_;
    struct KeyFile;
    std::unique_ptr<KeyFile> keyFile_;
};

} // namespace platform
