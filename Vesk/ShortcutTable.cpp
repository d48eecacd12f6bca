#include "Vesk/ShortcutTable.h"

#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/MenuKeyRouter.h"

#include <string_view>

namespace vesk {

namespace {

using platform::ModifierFlags;

constexpr uint32_t control = ModifierFlags::control;
constexpr uint32_t controlShift = ModifierFlags::control | ModifierFlags::shift;
constexpr uint32_t command = ModifierFlags::command;
constexpr uint32_t shiftCommand = ModifierFlags::shift | ModifierFlags::command;

/// One row: the exact modifiers (of Shift, Control, Option, Command), the keys that are
/// alternatives of one another, and the operation.
struct Row
{
    uint32_t modifiers;
    std::u32string_view keys[2];
    ShortcutOperation operation;
};

// U+0019 is what Shift+Tab types where the layout maps it to a back-tab character; Page Up and
// Page Down are their function-key characters, which do not change with modifiers.
constexpr std::u32string_view tab = U"\t";
constexpr char32_t pageDownCharacter[] = {platform::functionkey::pageDown, 0};
constexpr char32_t pageUpCharacter[] = {platform::functionkey::pageUp, 0};

constexpr Row rows[] = {
    {control, {tab, {}}, ShortcutOperation::nextTab},
    {controlShift, {tab, U"\x19"}, ShortcutOperation::previousTab},
    // Ctrl+Page Down and Ctrl+Page Up switch tabs in most Linux programs with tabs.
    {control, {pageDownCharacter, {}}, ShortcutOperation::nextTab},
    {control, {pageUpCharacter, {}}, ShortcutOperation::previousTab},
    {command, {U"t", {}}, ShortcutOperation::newTab},
    {command, {U"d", {}}, ShortcutOperation::splitVertically},
    {command, {U"w", {}}, ShortcutOperation::closePane},
    {command, {U"[", {}}, ShortcutOperation::previousPane},
    {command, {U"]", {}}, ShortcutOperation::nextPane},
    {command, {U"=", U"+"}, ShortcutOperation::biggerText},
    {command, {U"-", {}}, ShortcutOperation::smallerText},
    {command, {U"0", {}}, ShortcutOperation::resetText},
    {command, {U"k", {}}, ShortcutOperation::clearScrollback},
    {shiftCommand, {U"d", {}}, ShortcutOperation::splitHorizontally},
    {shiftCommand, {U"w", {}}, ShortcutOperation::closeTab},
    {shiftCommand, {U"+", {}}, ShortcutOperation::biggerText},
    {shiftCommand, {U"]", U"}"}, ShortcutOperation::nextTab},
    {shiftCommand, {U"[", U"{"}, ShortcutOperation::previousTab},
};

/// The key as the table reads it: the characters without modifiers but Shift, ASCII letters in
/// lower case (Caps Lock may have raised them).
std::u32string tableKey(const platform::KeyEvent& event)
{
    std::u32string key = event.charactersIgnoringModifiers;
    for (char32_t& c : key)
        if (c >= U'A' && c <= U'Z')
            c = c - U'A' + U'a';
    return key;
}

std::optional<Shortcut> matchRow(const platform::KeyEvent& event)
{
    if (event.type != platform::KeyEventType::keyDown)
        return std::nullopt;
    const uint32_t modifiers = event.modifierFlags.shortcutModifiers().raw;
    const std::u32string key = tableKey(event);
    for (const Row& row : rows) {
        if (row.modifiers != modifiers)
            continue;
        for (std::u32string_view alternative : row.keys)
            if (!alternative.empty() && alternative == key)
                return Shortcut{row.operation, 0};
    }
    // Super+1 ... Super+9 pick a tab; the whole key must be one digit from 1 to 9.
    if (modifiers == command && key.size() == 1 && key[0] >= U'1' && key[0] <= U'9')
        return Shortcut{ShortcutOperation::selectTab, int(key[0] - U'0')};
    return std::nullopt;
}

} // namespace

std::optional<Shortcut> shortcutFor(const platform::KeyEvent& event)
{
    if (std::optional<Shortcut> asPressed = matchRow(event))
        return asPressed;
    // Ctrl+Shift+key stands for Super+key.
    if (const std::optional<platform::KeyEvent> menuForm = platform::menuKeyEquivalent(event);
        menuForm && !(*menuForm == event))
        return matchRow(*menuForm);
    return std::nullopt;
}

ShortcutDecision decideShortcut(const platform::KeyEvent& event)
{
    const std::optional<Shortcut> shortcut = shortcutFor(event);
    if (!shortcut)
        return {};
    if (event.isARepeat)
        return ShortcutDecision{true, std::nullopt};
    return ShortcutDecision{true, shortcut};
}

} // namespace vesk
