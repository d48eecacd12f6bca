#include "Platform/UI/TextInputCommand.h"

#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/Utf8.h"
#include "Platform/UI/ViewCore.h"

namespace platform {

// The names are the view's vocabulary for these commands; they appear in its tables and in the
// line it prints for a command it does not handle.
const char* selectorName(TextInputCommand command)
{
    switch (command) {
    case TextInputCommand::insertNewline:
        return "insertNewline:";
    case TextInputCommand::insertTab:
        return "insertTab:";
    case TextInputCommand::insertBacktab:
        return "insertBacktab:";
    case TextInputCommand::cancelOperation:
        return "cancelOperation:";
    case TextInputCommand::deleteBackward:
        return "deleteBackward:";
    case TextInputCommand::deleteForward:
        return "deleteForward:";
    case TextInputCommand::moveUp:
        return "moveUp:";
    case TextInputCommand::moveDown:
        return "moveDown:";
    case TextInputCommand::moveLeft:
        return "moveLeft:";
    case TextInputCommand::moveRight:
        return "moveRight:";
    case TextInputCommand::moveUpAndModifySelection:
        return "moveUpAndModifySelection:";
    case TextInputCommand::moveDownAndModifySelection:
        return "moveDownAndModifySelection:";
    case TextInputCommand::moveLeftAndModifySelection:
        return "moveLeftAndModifySelection:";
    case TextInputCommand::moveRightAndModifySelection:
        return "moveRightAndModifySelection:";
    case TextInputCommand::scrollToBeginningOfDocument:
        return "scrollToBeginningOfDocument:";
    case TextInputCommand::scrollToEndOfDocument:
        return "scrollToEndOfDocument:";
    case TextInputCommand::moveToBeginningOfDocumentAndModifySelection:
        return "moveToBeginningOfDocumentAndModifySelection:";
    case TextInputCommand::moveToEndOfDocumentAndModifySelection:
        return "moveToEndOfDocumentAndModifySelection:";
    case TextInputCommand::scrollPageUp:
        return "scrollPageUp:";
    case TextInputCommand::scrollPageDown:
        return "scrollPageDown:";
    case TextInputCommand::pageUpAndModifySelection:
        return "pageUpAndModifySelection:";
    case TextInputCommand::pageDownAndModifySelection:
        return "pageDownAndModifySelection:";
    }
    return "noop:";
}

namespace {

KeyBinding bound(TextInputCommand command)
{
    return KeyBinding{KeyBinding::Kind::command, command, {}};
}

// Printable: no C0 or C1 control, no DEL, and no function-key character.
bool isPrintable(const std::u32string& text)
{
    if (text.empty())
        return false;
    for (char32_t c : text)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || functionkey::isFunctionKeyCharacter(c))
            return false;
    return true;
}

} // namespace

KeyBinding standardKeyBinding(const KeyEvent& event)
{
    if (event.type != KeyEventType::keyDown)
        return {};
    const bool shift = event.modifierFlags.has(ModifierFlags::shift);

    // The keys that edit rather than type are recognised by their key code, so the layout does
    // not matter; Backspace and Return mean the same with any modifier.
    switch (event.keyCode) {
    case keycode::returnKey:
    case keycode::keypadEnter:
        return bound(TextInputCommand::insertNewline);
    case keycode::tab:
        return bound(shift ? TextInputCommand::insertBacktab : TextInputCommand::insertTab);
    case keycode::escape:
        return bound(TextInputCommand::cancelOperation);
    case keycode::deleteKey:
        return bound(TextInputCommand::deleteBackward);
    default:
        break;
    }

    const char32_t first =
        event.charactersIgnoringModifiers.empty() ? 0 : event.charactersIgnoringModifiers[0];
    switch (first) {
    case functionkey::upArrow:
        return bound(shift ? TextInputCommand::moveUpAndModifySelection : TextInputCommand::moveUp);
    case functionkey::downArrow:
        return bound(shift ? TextInputCommand::moveDownAndModifySelection : TextInputCommand::moveDown);
    case functionkey::leftArrow:
        return bound(shift ? TextInputCommand::moveLeftAndModifySelection : TextInputCommand::moveLeft);
    case functionkey::rightArrow:
        return bound(shift ? TextInputCommand::moveRightAndModifySelection : TextInputCommand::moveRight);
    case functionkey::home:
        return bound(shift ? TextInputCommand::moveToBeginningOfDocumentAndModifySelection
                           : TextInputCommand::scrollToBeginningOfDocument);
    case functionkey::end:
        return bound(shift ? TextInputCommand::moveToEndOfDocumentAndModifySelection
                           : TextInputCommand::scrollToEndOfDocument);
    case functionkey::pageUp:
        return bound(shift ? TextInputCommand::pageUpAndModifySelection : TextInputCommand::scrollPageUp);
    case functionkey::pageDown:
        return bound(shift ? TextInputCommand::pageDownAndModifySelection : TextInputCommand::scrollPageDown);
    case functionkey::deleteForward:
        return bound(TextInputCommand::deleteForward);
    default:
        break;
    }

    if (event.modifierFlags.hasAny(ModifierFlags::control | ModifierFlags::command))
        return {};
    if (isPrintable(event.characters))
        return KeyBinding{KeyBinding::Kind::insertText, TextInputCommand::insertNewline, event.characters};
    return {};
}

void applyStandardKeyBinding(ViewCore& core, const KeyEvent& event)
{
    const KeyBinding binding = standardKeyBinding(event);
    switch (binding.kind) {
    case KeyBinding::Kind::none:
        break;
    case KeyBinding::Kind::command:
        core.doCommand(binding.command);
        break;
    case KeyBinding::Kind::insertText:
        core.insertText(utf8FromScalars(binding.text));
        break;
    }
}

} // namespace platform
