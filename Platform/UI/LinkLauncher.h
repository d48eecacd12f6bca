// Opening links with the desktop's default applications, on GIO: which application a link would
// open in, and opening it there. The decision whether a link may be opened at all is the caller's.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform {

/// The name of the application that opens `uri` by default (by its scheme, or for a file URI by
/// the file's content type); none when there is none.
std::optional<std::string> defaultApplicationName(const std::string& uri);

/// Opens `uri` in its default application. Returns at once. When no application can be started
/// for it (none is installed for its kind, or the launch fails), the launcher's message is logged
/// and `failed`, when given, runs on the main loop with it.
void openWithDefaultApplication(const std::string& uri,
                                std::function<void(const std::string& message)> failed = {});

} // namespace platform
