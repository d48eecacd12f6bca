// A process's current directory, read from the kernel, and the three ways titles show a
// directory: the tab label, the window title with the home folder as "~", and the tool tip.
//
// Paths are kept as the bytes the kernel gives, since a directory name need not be UTF-8 and a
// new pane must start in the very same directory; only the formats decode them (ill-formed UTF-8
// shows as U+FFFD), and every format escapes control and format characters as "\u{…}", so a
// directory name cannot put line breaks or bidirectional overrides into a title.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

struct WorkingDirectory
{
    /// The current directory of process `pid`, or none: for a pid below 1, a process that has
    /// ended or cannot be read, or a directory that no longer has a path (removed, or outside this
    /// process's root). A pid names whatever process holds it now; a caller that polls its own
    /// child keeps a `ProcessDirectory` instead, which stays with that one process.
    static std::optional<std::string> path(int pid);

    /// The tab title: the last component of `path` ("/" for the root), escaped.
    static std::string label(std::string_view path);

    /// The window title: `path` with `home` shown as "~" (the home folder itself is "~", a folder
    /// in it "~/…"; a path that only shares a prefix with it is left whole), escaped. One trailing
    /// slash of either path is ignored.
    static std::string abbreviatedPath(std::string_view path, std::string_view home);

    /// The tab tool tip: `text` with every control and newline character written as "\u{HEX}".
    static std::string displayText(std::string_view text);
};

} // namespace vesk
