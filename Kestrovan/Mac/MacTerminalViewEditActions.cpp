// The view's edit and find actions: which shortcut means which, when each is enabled, and telling
// the menus when that changes.
//
// The shortcuts arrive in their menu form (Command+key; Ctrl+Shift+key becomes that form on the
// way, `menuKeyEquivalent`). A shortcut that is one of the view's actions is the view's even while
// the action is disabled: Ctrl+Shift+C without a selection copies nothing, and it must not reach
// the program as Ctrl+C either.

#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"

#include <cctype>

namespace kestrovan {

using platform::ModifierFlags;

std::optional<TerminalViewAction> MacTerminalView::actionForKeyEquivalent(const platform::KeyEvent& menuForm)
{
    const ModifierFlags flags = menuForm.modifierFlags.shortcutModifiers();
    if (!flags.has(ModifierFlags::command) || flags.hasAny(ModifierFlags::control | ModifierFlags::option))
        return std::nullopt;
    const std::u32string& key = menuForm.charactersIgnoringModifiers;
    if (key.size() != 1 || key[0] > 0x7F)
        return std::nullopt;
    const bool shift = flags.has(ModifierFlags::shift);
    switch (std::tolower(int(key[0]))) {
    case 'c':
        return shift ? std::nullopt : std::optional(TerminalViewAction::copy);
    case 'v':
        return shift ? std::nullopt : std::optional(TerminalViewAction::paste);
    case 'a':
        return shift ? std::nullopt : std::optional(TerminalViewAction::selectAll);
    case 'f':
        return shift ? std::nullopt : std::optional(TerminalViewAction::find);
    case 'g':
        return shift ? TerminalViewAction::findPrevious : TerminalViewAction::findNext;
    case 'h':
        // Ctrl+Shift+G reaches the menus as Command+G, so find previous has a key of its own.
        return shift ? std::nullopt : std::optional(TerminalViewAction::findPrevious);
    case 'e':
        return shift ? std::nullopt : std::optional(TerminalViewAction::useSelectionForFind);
    default:
        return std::nullopt;
    }
}

bool MacTerminalView::performKeyEquivalent(const platform::KeyEvent& menuForm)
{
    const std::optional<TerminalViewAction> action = actionForKeyEquivalent(menuForm);
    if (!action)
        return false;
    performAction(*action);
    return true;
}

TerminalViewActionStates MacTerminalView::actionStates()
{
    const bool selected = terminal() && selectionActive();
    return TerminalViewActionStates{
        {TerminalViewAction::copy, selected},
        {TerminalViewAction::paste, true},
        {TerminalViewAction::selectAll, true},
        {TerminalViewAction::find, true},
        {TerminalViewAction::findNext, true},
        {TerminalViewAction::findPrevious, true},
        {TerminalViewAction::useSelectionForFind, selected},
        {TerminalViewAction::hideFind, findBarVisible()},
    };
}

bool MacTerminalView::performAction(TerminalViewAction action)
{
    if (!terminal() || !actionStates()[action])
        return false;
    switch (action) {
    case TerminalViewAction::copy:
        copy();
        break;
    case TerminalViewAction::paste:
        paste();
        break;
    case TerminalViewAction::selectAll:
        selectAll();
        break;
    case TerminalViewAction::find:
        showFindBar(true);
        break;
    case TerminalViewAction::findNext:
        performFind(true);
        break;
    case TerminalViewAction::findPrevious:
        performFind(false);
        break;
    case TerminalViewAction::useSelectionForFind:
        setFindPasteboardFromSelection();
        showFindBar(true);
        break;
    case TerminalViewAction::hideFind:
        hideFindBar();
        break;
    }
    updateActionStates();
    return true;
}

void MacTerminalView::updateActionStates()
{
    TerminalViewActionStates states = actionStates();
    if (pushedActionStates_ == states)
        return;
    pushedActionStates_ = states;
    if (onActionStatesChanged)
        onActionStatesChanged(states);
}

void MacTerminalView::selectionChanged(Terminal& source)
{
    TerminalView::selectionChanged(source);
    onMainWithView([](TerminalView& view) { static_cast<MacTerminalView&>(view).updateActionStates(); },
                   "selectionChanged(source:)");
}

} // namespace kestrovan
