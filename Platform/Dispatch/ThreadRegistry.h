// Thread names and the main thread.
//
// Linux keeps at most 15 bytes of a thread's name. The engine tells thread roles apart by their
// full names ("kestrovan-io-timers", "kestrovan-parse"), so every thread we start records its full
// name here as well; the kernel gets the truncated form for debuggers and `top`.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// Names the calling thread: the full name in our registry, the first 15 bytes in the kernel.
void setCurrentThreadName(std::string_view fullName);

/// The calling thread's full name as set through `setCurrentThreadName`, else the kernel's name
/// (empty when it has none).
std::string currentThreadName();

/// True on the process's main thread (the thread whose id is the process id).
bool isMainThread();

} // namespace platform
