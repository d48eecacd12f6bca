#include "Vesk/MainMenu.h"

#include <gio/gio.h>

namespace vesk {

namespace {

using platform::ModifierFlags;

constexpr uint32_t control = ModifierFlags::control;
constexpr uint32_t controlShift = ModifierFlags::control | ModifierFlags::shift;
constexpr uint32_t command = ModifierFlags::command;
constexpr uint32_t shiftCommand = ModifierFlags::shift | ModifierFlags::command;

constexpr KeyEquivalent none{};

/// GTK's name of a key of the table, for accelerator strings.
std::string keyName(std::u32string_view key)
{
    if (key == U"\t")
        return "Tab";
    if (key == U"+" || key == U"=")
        return "equal";
    if (key == U"-")
        return "minus";
    if (key == U"[")
        return "bracketleft";
    if (key == U"]")
        return "bracketright";
    std::string name;
    for (char32_t c : key)
        name += static_cast<char>(c);
    return name;
}

std::string acceleratorOf(const KeyEquivalent& chord)
{
    if (chord.empty())
        return {};
    std::string accelerator;
    // A Super chord without Shift is also Ctrl+Shift+key, the form Linux users type.
    if (chord.modifiers == command)
        accelerator = "<Control><Shift>";
    else {
        if (chord.modifiers & ModifierFlags::control)
            accelerator += "<Control>";
        if (chord.modifiers & ModifierFlags::shift)
            accelerator += "<Shift>";
        if (chord.modifiers & ModifierFlags::option)
            accelerator += "<Alt>";
        if (chord.modifiers & ModifierFlags::command)
            accelerator += "<Super>";
    }
    return accelerator + keyName(chord.key);
}

bool matches(const KeyEquivalent& chord, uint32_t modifiers, std::u32string_view key)
{
    return !chord.empty() && chord.modifiers == modifiers && chord.key == key;
}

} // namespace

const std::vector<MenuItem>& MainMenu::items()
{
    static const std::vector<MenuItem> table = {
        {"Vesk", "About Vesk", "app.about", none, none},
        {"Vesk", "", "", none, none},
        {"Vesk", "Quit Vesk", "app.quit", {command, U"q"}, none},

        {"Shell", "New Tab", "app.new-tab", {command, U"t"}, none},
        {"Shell", "New Window", "app.new-window", {command, U"n"}, none},
        {"Shell", "New Session", "win.new-session", none, none},
        {"Shell", "", "", none, none},
        {"Shell", "Split Vertically", "win.split-vertically", {command, U"d"}, none},
        {"Shell", "Split Horizontally", "win.split-horizontally", {shiftCommand, U"d"}, none},
        {"Shell", "Close Pane", "win.close-pane", {command, U"w"}, none},
        {"Shell", "Close Tab", "win.close-tab", {shiftCommand, U"w"}, none},

        {"Edit", "Copy", "win.copy", {command, U"c"}, none, true},
        {"Edit", "Paste", "win.paste", {command, U"v"}, none, true},
        {"Edit", "Select All", "win.select-all", {command, U"a"}, none, true},
        {"Edit", "", "", none, none},
        {"Edit", "Find\u2026", "win.find", {command, U"f"}, none, true},
        {"Edit", "Find Next", "win.find-next", {command, U"g"}, none, true},
        // Ctrl+Shift+G is Find Next already; Linux terminals find backwards with Ctrl+Shift+H.
        {"Edit", "Find Previous", "win.find-previous", {shiftCommand, U"g"}, {command, U"h"}, true},

        {"View", "Bigger Text", "win.bigger-text", {command, U"+"}, none},
        {"View", "Smaller Text", "win.smaller-text", {command, U"-"}, none},
        {"View", "Reset Text Size", "win.reset-text", {command, U"0"}, none},
        {"View", "Clear Scrollback", "win.clear-scrollback", {command, U"k"}, none},
        {"View", "", "", none, none},
        {"View", "Use GPU Rendering", "app.use-gpu-rendering", none, none},

        {"Window", "Next Pane", "win.next-pane", {command, U"]"}, none},
        {"Window", "Previous Pane", "win.previous-pane", {command, U"["}, none},
        {"Window", "Next Tab", "win.next-tab", {control, U"\t"}, none},
        {"Window", "Previous Tab", "win.previous-tab", {controlShift, U"\t"}, none},
        {"Window", "Move Tab to New Window", "win.move-tab-to-new-window", none, none},
        {"Window", "", "", none, none},
        {"Window", "Minimize", "win.minimize", {command, U"m"}, none},
        {"Window", "Zoom", "win.zoom", none, none},
    };
    return table;
}

std::string MainMenu::acceleratorLabel(const MenuItem& item)
{
    return acceleratorOf(item.linuxShortcut.empty() ? item.shortcut : item.linuxShortcut);
}

std::optional<std::string_view> MainMenu::actionForKeyEquivalent(const platform::KeyEvent& menuForm)
{
    if (menuForm.type != platform::KeyEventType::keyDown)
        return std::nullopt;
    const uint32_t modifiers = menuForm.modifierFlags.shortcutModifiers().raw;
    std::u32string key = menuForm.charactersIgnoringModifiers;
    for (char32_t& c : key)
        if (c >= U'A' && c <= U'Z')
            c = c - U'A' + U'a';
    for (const MenuItem& item : items()) {
        if (item.viewAction || item.action.empty())
            continue;
        if (matches(item.shortcut, modifiers, key) || matches(item.linuxShortcut, modifiers, key))
            return item.action;
    }
    return std::nullopt;
}

GMenuModel* MainMenu::buildMenuModel()
{
    GMenu* bar = g_menu_new();
    GMenu* menu = nullptr;
    GMenu* section = nullptr;
    std::string_view menuTitle;
    auto finishMenu = [&] {
        if (!menu)
            return;
        g_menu_append_section(menu, nullptr, G_MENU_MODEL(section));
        g_object_unref(section);
        g_menu_append_submenu(bar, std::string(menuTitle).c_str(), G_MENU_MODEL(menu));
        g_object_unref(menu);
    };
    for (const MenuItem& item : items()) {
        if (item.menu != menuTitle) {
            finishMenu();
            menu = g_menu_new();
            section = g_menu_new();
            menuTitle = item.menu;
        }
        if (item.title.empty()) {
            // A separator: GTK draws one between sections.
            g_menu_append_section(menu, nullptr, G_MENU_MODEL(section));
            g_object_unref(section);
            section = g_menu_new();
            continue;
        }
        GMenuItem* entry = g_menu_item_new(std::string(item.title).c_str(), std::string(item.action).c_str());
        if (const std::string accelerator = acceleratorLabel(item); !accelerator.empty())
            g_menu_item_set_attribute(entry, "accel", "s", accelerator.c_str());
        g_menu_append_item(section, entry);
        g_object_unref(entry);
    }
    finishMenu();
    return G_MENU_MODEL(bar);
}

} // namespace vesk
