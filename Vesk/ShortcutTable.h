// The window's own shortcuts: the chords that move between tabs and panes, split, close, size the
// text and clear the scrollback, looked at before the terminal view or the menus see a key.
//
// The table is a pure function of the key event, so every chord is tested without a display. A
// chord matches as it is pressed (Super forms, Ctrl+Tab, Ctrl+Page Down) or in its menu form, in
// which Ctrl+Shift+key reads as Super+key (`platform::menuKeyEquivalent`): Ctrl+Shift+T opens a
// tab as Super+T does. Only Shift, Control, Option and Command take part, so Caps Lock and Num
// Lock never keep a chord from matching. A key repeat of a matching chord is consumed but not
// run, so holding Ctrl+Shift+= grows the text by one step only.
#pragma once

#include "Platform/UI/KeyEvent.h"

#include <optional>

namespace vesk {

/// What a shortcut does; the window controller runs it.
enum class ShortcutOperation
{
    nextTab,
    previousTab,
    newTab,
    splitVertically,
    splitHorizontally,
    closePane,
    closeTab,
    nextPane,
    previousPane,
    biggerText,
    smallerText,
    resetText,
    clearScrollback,
    /// Selects tab `tabNumber` (1 is the leftmost); nothing when the window has fewer tabs.
    selectTab,
};

struct Shortcut
{
    ShortcutOperation operation = ShortcutOperation::nextTab;
    /// 1 ... 9 for `selectTab`, else 0.
    int tabNumber = 0;

    friend bool operator==(const Shortcut&, const Shortcut&) = default;
};

/// What the window does with a key event.
struct ShortcutDecision
{
    /// The event belongs to the window: neither the terminal view nor the menus see it.
    bool consumed = false;
    /// The shortcut to run; none for an event that is not consumed, and for a repeat.
    std::optional<Shortcut> run;

    friend bool operator==(const ShortcutDecision&, const ShortcutDecision&) = default;
};

/// The table row a key-down event matches, as pressed or in its menu form; none for other events.
std::optional<Shortcut> shortcutFor(const platform::KeyEvent& event);

/// The window's answer to a key event: consumed when a row matches, run unless it repeats.
ShortcutDecision decideShortcut(const platform::KeyEvent& event);

} // namespace vesk
