// The editing commands a key can stand for when no input method takes it, and the standard key
// bindings that choose them: the platform's answer to "what does this key mean as text input?".
//
// The view asks the layer to interpret a key (its input method first, then these bindings) and
// gets back either committed text, marked text, or one of these commands. Each command keeps the
// selector name the view's tables and its log lines use ("insertNewline:").
#pragma once

#include "Platform/UI/KeyEvent.h"

#include <string>

namespace platform {

enum class TextInputCommand
{
    insertNewline,
    insertTab,
    insertBacktab,
    cancelOperation,
    deleteBackward,
    deleteForward,
    moveUp,
    moveDown,
    moveLeft,
    moveRight,
    moveUpAndModifySelection,
    moveDownAndModifySelection,
    moveLeftAndModifySelection,
    moveRightAndModifySelection,
    scrollToBeginningOfDocument,
    scrollToEndOfDocument,
    moveToBeginningOfDocumentAndModifySelection,
    moveToEndOfDocumentAndModifySelection,
    scrollPageUp,
    scrollPageDown,
    pageUpAndModifySelection,
    pageDownAndModifySelection,
};

/// The command's selector name, colon included.
const char* selectorName(TextInputCommand command);

/// What a key means when no input method took it.
struct KeyBinding
{
    enum class Kind
    {
        /// The key means nothing as text input.
        none,
        command,
        /// The key types `text`.
        insertText,
    };

    Kind kind = Kind::none;
    TextInputCommand command = TextInputCommand::insertNewline;
    std::u32string text;

    friend bool operator==(const KeyBinding&, const KeyBinding&) = default;
};

/// The standard binding of a key press: Return, Tab, Escape, the erase keys, arrows and the page
/// and document keys give commands; a press without Control or Command whose characters are
/// printable types them; everything else means nothing.
KeyBinding standardKeyBinding(const KeyEvent& event);

class ViewCore;

/// Gives `core` what the key's standard binding means: the command, or the text it types.
void applyStandardKeyBinding(ViewCore& core, const KeyEvent& event);

} // namespace platform
