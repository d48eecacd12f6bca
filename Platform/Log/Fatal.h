// Stopping the program: the one `fatal` of the whole system.
//
// It lives in the log module, which every library of the system links, so that the dispatch
// layer, the regex layer, the engine and the application all stop the same way: "Fatal error: "
// and the message on standard error, then `abort()`, in every build. The engine reaches it as
// `kestrovan::fatal` and through `KESTROVAN_ASSERT` (Kestrovan/Fatal.h).
#pragma once

#include <string_view>

namespace platform {

/// Prints "Fatal error: " and `message` on standard error and aborts the process.
[[noreturn]] void fatal(std::string_view message);

} // namespace platform
