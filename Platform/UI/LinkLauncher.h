// Opening links with the desktop's default applications, on GIO: which application a link would
// open in, and opening it there. The decision whether a link may be opened at all is the caller's.
#pragma once

#include <optional>
#include <string>

namespace platform {

/// The name of the application that opens `uri` by default (by its scheme, or for a file URI by
/// the file's content type); none when there is none.
std::optional<std::string> defaultApplicationName(const std::string& uri);

/// Opens `uri` in its default application. Returns at once; a failure to launch is not reported.
void openWithDefaultApplication(const std::string& uri);

} // namespace platform
