// Which key presses the application's menus get to see first, and the hook through which they
// answer whether they took one.
//
// A press with Command (Super) goes to the menus as it is. Ctrl+Shift+key, the usual shortcut of
// Linux terminals, goes to them as Command+key: the key as it is without Shift, with Control and
// Shift taken off and Command put on. The view keeps the original press, and when no menu item
// claims the Command form it goes on to the terminal as Ctrl+Shift+key. Other presses are not
// offered. The decision is `menuKeyEquivalent`, a plain function; the router only delivers.
#pragma once

#include "Platform/UI/KeyEvent.h"

#include <functional>
#include <optional>

namespace platform {

/// The form in which a press is offered to the menus, or nothing when it is not offered.
std::optional<KeyEvent> menuKeyEquivalent(const KeyEvent& event);

/// The process's menus, as far as key presses go. Main thread only.
class MenuKeyRouter
{
public:
    /// Answers true when a menu item took the press.
    using Handler = std::function<bool(const KeyEvent&)>;

    /// Installs the menus' handler, replacing any earlier one; an empty handler removes it.
    static void setHandler(Handler handler);
    /// Offers `event` to the menus in its menu form; true when a menu item took it. Presses that
    /// are not offered, and every press while no handler is installed, give false.
    static bool offer(const KeyEvent& event);

private:
    static Handler& handler();
};

} // namespace platform
