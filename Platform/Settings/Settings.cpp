// The key-file store behind the application's settings.
#include "Platform/Settings/Settings.h"

#include "Platform/Files/RegularFile.h"
#include "Platform/Log/Log.h"

#include <cerrno>
#include <cstdlib>
#include <glib.h>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

const Logger& logger()
{
    static const Logger log("Vesk", "Settings");
    return log;
}

/// The most of a settings file that is read. The application writes a few short lines; a file
/// past this is not one it wrote, and is read as empty like any other it cannot use.
constexpr size_t maximumFileBytes = 1 << 20;

bool isAbsolute(const char* path)
{
    return path && path[0] == '/';
}

} // namespace

struct Settings::KeyFile
{
    GKeyFile* file = g_key_file_new();
    ~KeyFile() { g_key_file_free(file); }
};

std::string Settings::applicationPath(const char* xdgConfigHome, const char* home)
{
    std::string folder;
    if (isAbsolute(xdgConfigHome))
        folder = xdgConfigHome;
    else
        folder = std::string(home ? home : "") + "/.config";
    return folder + "/vesk/settings.ini";
}

Settings& Settings::shared()
{
    static Settings settings([] {
        // The password database answers when HOME is unset, as it does for a login.
        const char* home = std::getenv("HOME");
        if (!isAbsolute(home)) {
            const passwd* entry = getpwuid(getuid());
            home = entry ? entry->pw_dir : nullptr;
        }
        return applicationPath(std::getenv("XDG_CONFIG_HOME"), home);
    }());
    return settings;
}

Settings::Settings(std::string path) : path_(std::move(path)), keyFile_(std::make_unique<KeyFile>())
{
    // The path is the user's to fill: a FIFO there would hold start-up for ever in a plain open,
    // so only a regular file is read, and anything else leaves the defaults.
    const FileResult<std::string> contents = readRegularFile(path_, maximumFileBytes);
    if (!contents) {
        // No file there yet (or no folder) is the usual first start, not worth a line.
        if (contents.error().failure != FileFailure::missing)
            logger().logf(LogLevel::error, "Couldn't read the settings file %s (%s); using the defaults",
                          path_.c_str(), contents.error().reason.c_str());
        return;
    }
    GError* error = nullptr;
    const GKeyFileFlags flags =
        static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
    if (g_key_file_load_from_data(keyFile_->file, contents.value().data(), contents.value().size(), flags,
                                  &error))
        return;
    logger().logf(LogLevel::error, "Couldn't read the settings file %s (%s); using the defaults",
                  path_.c_str(), error->message);
    g_error_free(error);
    // A failed load may leave part of the file behind; the store starts empty instead.
    g_key_file_free(keyFile_->file);
    keyFile_->file = g_key_file_new();
}

Settings::~Settings() = default;

std::optional<bool> Settings::boolean(std::string_view group, std::string_view key) const
{
    const std::string groupName(group);
    const std::string keyName(key);
    GError* error = nullptr;
    const gboolean value = g_key_file_get_boolean(keyFile_->file, groupName.c_str(), keyName.c_str(), &error);
    if (error) {
        // Absent, or a value that is not "true" or "false".
        g_error_free(error);
        return std::nullopt;
    }
    return value != FALSE;
}

bool Settings::setBoolean(std::string_view group, std::string_view key, bool value)
{
    const std::string groupName(group);
    const std::string keyName(key);
    g_key_file_set_boolean(keyFile_->file, groupName.c_str(), keyName.c_str(), value ? TRUE : FALSE);
    return write();
}

bool Settings::write()
{
    gchar* folder = g_path_get_dirname(path_.c_str());
    // The settings may hold what the user would rather keep to themselves: only they can list them.
    const bool haveFolder = g_mkdir_with_parents(folder, 0700) == 0;
    if (!haveFolder) {
        const int failure = errno;
        logger().logf(LogLevel::error,
                      "Couldn't create the settings folder %s: %s; the change holds for this session", folder,
                      g_strerror(failure));
    }
    g_free(folder);
    if (!haveFolder)
        return false;

    // g_key_file_save_to_file writes a temporary file beside the old one and renames it over it.
    // The path itself is never opened, so a FIFO or socket there is replaced rather than waited
    // on, and a directory there fails the rename.
    GError* error = nullptr;
    if (g_key_file_save_to_file(keyFile_->file, path_.c_str(), &error))
        return true;
    logger().logf(LogLevel::error,
                  "Couldn't write the settings file %s: %s; the change holds for this session", path_.c_str(),
                  error->message);
    g_error_free(error);
    return false;
}

} // namespace platform
