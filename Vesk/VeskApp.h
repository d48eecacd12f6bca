// The program's entry: the GtkApplication, the main queue on GLib's main loop, the settings and
// the delegate, run until the last window closes.
#pragma once

#include <string>

namespace vesk {

struct VeskApp
{
    /// Runs the application; the process's exit status. The program reads no options of its own.
    static int main(int argc, char** argv);

    /// Whether a session bus can be reached without starting one: its address is set, or the
    /// session's runtime folder holds its socket. Without one the application runs non-unique.
    static bool sessionBusAvailable(const char* address, const char* runtimeDirectory);
};

} // namespace vesk
