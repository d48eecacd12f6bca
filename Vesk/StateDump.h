// A test-only view into the running application: its windows and their menus, tabs, panes, titles,
// focus, beeps, fonts, rendering and open alerts as text, written to a file when the process
// receives SIGUSR1, and a stand-in for the desktop's link opening. Both exist only when a test asks
// for them through the environment; an ordinary start installs neither.
//
//   VESK_TEST_STATE_DUMP=path     SIGUSR1 writes the state to `path` (atomically: a new file
//                                 renamed over the old), its first line "serial=N" counting dumps;
//                                 the first is written at start-up, once SIGUSR1 is handled
//   VESK_TEST_OPEN_URL_LOG=path   confirmed links are appended to `path`, one a line, instead of
//                                 being opened
//
// The dump has one record a line: a type, then tab-separated "key=value" fields, with tabs, line
// breaks and backslashes in values written as \t, \n and \\.
#pragma once

#include <memory>
#include <string>

namespace vesk {

class AppDelegate;

struct StateDump
{
    /// The state of `delegate`'s application, as the dump file holds it (without its serial).
    static std::string describe(const AppDelegate& delegate);

    /// Installs what the environment asks for; nothing when it asks for nothing.
    static void installTestHooks(const std::shared_ptr<AppDelegate>& delegate);
};

} // namespace vesk
