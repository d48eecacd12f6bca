// Content types of files, on GIO: what kind of data a file holds, judged by its name and its first
// bytes as the desktop judges it when choosing an application to open it. On Linux content types
// are MIME types ("text/plain", "application/x-executable").
#pragma once

#include <optional>
#include <string>

namespace platform {

/// The content type of the regular file at `path`, from its name and its first bytes; none when
/// it cannot be opened or is not a regular file. The file is opened without waiting and without
/// following a final symbolic link, and checked to be a regular file before anything is read, so a
/// FIFO or a device swapped in under the name is never read.
std::optional<std::string> contentTypeOfRegularFile(const std::string& path);

/// True when `type` is `supertype` or a kind of it (a shell script is a kind of executable).
bool contentTypeIsA(const std::string& type, const std::string& supertype);

} // namespace platform
