// The application's menus: one table of items, from which the menu bar is built and the menus'
// shortcuts are found.
//
// Each item names a GAction: "app.…" for what concerns the application (new windows, quitting, the
// rendering preference), "win.…" for what acts on a window's selected tab or its active pane.
// Shortcuts are written as Command chords (the primary modifier); on Linux Command is Super, and the layer's
// menu router offers Ctrl+Shift+key to the menus as Super+key, so the menus show the Ctrl+Shift
// form for a Super chord. Chords with Shift and Super stay as they are. The table is plain data,
// tested without a display; `buildMenuModel` is the one function that makes GMenus of it.
#pragma once

#include "Platform/UI/KeyEvent.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GMenuModel GMenuModel;

namespace vesk {

/// The chord of a menu item: the modifiers (Shift, Control, Option, Command flags) and the key as
/// `charactersIgnoringModifiers` reads it, lower-cased.
struct KeyEquivalent
{
    uint32_t modifiers = 0;
    std::u32string_view key;

    bool empty() const { return key.empty(); }
};

struct MenuItem
{
    /// The title of the menu the item is in.
    std::string_view menu;
    /// The item's title; empty for a separator.
    std::string_view title;
    /// The detailed action name ("app.quit", "win.copy").
    std::string_view action;
    KeyEquivalent shortcut;
    /// A further chord Linux users expect, shown in the menu in place of `shortcut`.
    KeyEquivalent linuxShortcut;
    /// The action is the terminal view's own (copy, paste, find...): the view answers its
    /// shortcut itself, so the menus leave that key to it.
    bool viewAction = false;
};

struct MainMenu
{
    /// Every item, menu by menu, in menu order.
    static const std::vector<MenuItem>& items();

    /// The accelerator GTK shows for an item ("<Control><Shift>t"); empty for none.
    static std::string acceleratorLabel(const MenuItem& item);

    /// The action of the item whose shortcut (or Linux shortcut) `menuForm` is, leaving out the
    /// view's own actions; none when no such item has that chord.
    static std::optional<std::string_view> actionForKeyEquivalent(const platform::KeyEvent& menuForm);

    /// The menu bar of the table (a new reference).
    static GMenuModel* buildMenuModel();
};

} // namespace vesk
