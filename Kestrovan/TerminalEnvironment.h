// The default environment of a child process started without one (TerminalEnvironment.cpp).
//
// It does not depend on any terminal's state, so it is a free function rather than a member of
// `Terminal`: the process code that starts children needs it without the emulator.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

/// The search path a child gets when the host process has none.
inline constexpr const char* defaultSearchPath = "/usr/local/bin:/usr/bin:/bin";

/// The environment of a child started without one: TERM (`termName`, else "xterm-256color"),
/// COLORTERM when `trueColor`, a UTF-8 LANG, a few variables of the host process and PATH
/// (`inheritedSearchPath`), each "NAME=value".
std::vector<std::string> getEnvironmentVariables(const std::optional<std::string>& termName, bool trueColor);

/// The host process's PATH as it is, or `defaultSearchPath` when it has none or an empty one.
std::string inheritedSearchPath();

} // namespace kestrovan
