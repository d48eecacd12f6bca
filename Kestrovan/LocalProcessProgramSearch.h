// Finding the program a child is to run when it is named without a slash ("htop", "bash"), before
// the child is forked.
//
// `execve` takes a path, not a name. The search follows `execvp`: each entry of the search path in
// order, an empty entry meaning the current directory, the first regular file that may be executed
// winning; a name with a slash is used as it is. Doing it in the parent, before the fork, lets a
// missing program be reported as such ("htop: not found") instead of as a failed start with a bare
// errno. Relative entries are counted from the directory the child will start in, where the child
// would have looked.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrovan {

/// The path to run for `program`, or the errno of the search: ENOENT when nothing was found,
/// EACCES when only files that may not be executed were (as `execvp` reports).
std::variant<std::string, int> findProgram(const std::string& program, const std::string& searchPath,
                                           const std::optional<std::string>& currentDirectory);

/// The PATH of `environment` ("NAME=value" entries), or absent when it has none.
std::optional<std::string> searchPathOf(const std::vector<std::string>& environment);

} // namespace kestrovan
