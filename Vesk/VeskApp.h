// The program's entry: the GtkApplication, the main queue on GLib's main loop, the settings and
// the delegate, run until the last window closes.
#pragma once

#include <string>

namespace vesk {

struct VeskApp
{
    /// The version the program reports.
    static constexpr const char* version = "0.1.1";

    /// Runs the application; the process's exit status. The arguments take GLib's options (--help
    /// lists them) and --version; anything else ends the program with an error.
    static int main(int argc, char** argv);

    /// Whether a session bus can be reached without starting one: its address is set, or the
    /// session's runtime folder holds its socket. Without one the application runs non-unique.
    static bool sessionBusAvailable(const char* address, const char* runtimeDirectory);
};

} // namespace vesk
