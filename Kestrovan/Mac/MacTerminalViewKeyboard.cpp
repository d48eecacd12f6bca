// Key presses, releases and modifier keys, and the editing commands of the key bindings.
//
// Every press decides who gets it: the menus first (Command presses, and Ctrl+Shift+key as the
// Linux terminal shortcut), then the view's own chords (Shift+Insert pastes the primary selection,
// Shift with the page keys, Home and End scrolls the scrollback), then the program, either through the kitty
// keyboard protocol when the active screen has its flags on, or through the legacy sequences of a VT-class
// terminal. Keys that no road encodes go to the input method and the standard key bindings, which answer with
// text (`insertText`), composing text (`setMarkedText`) or an editing command (`doCommand`).
// The terminal lock is only taken for short reads and never held while bytes are sent or the
// input method runs.

#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/MenuKeyRouter.h"
#include "Platform/UI/Utf8.h"

#include <cstdio>
#include <string_view>

namespace kestrovan {

using platform::KeyEvent;
using platform::ModifierFlags;
using platform::TextInputCommand;
namespace functionkey = platform::functionkey;

namespace {

constexpr std::string_view controlLeft = "\x1b[1;5D";
constexpr std::string_view controlRight = "\x1b[1;5C";
constexpr std::string_view functionKeys[12] = {"\x1bOP",   "\x1bOQ",   "\x1bOR",   "\x1bOS",
                                               "\x1b[15~", "\x1b[17~", "\x1b[18~", "\x1b[19~",
                                               "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~"};

bool isRegularArrowKey(uint16_t keyCode)
{
    return keyCode >= platform::keycode::leftArrow && keyCode <= platform::keycode::upArrow;
}

/// The scalar of a one-scalar string that is a C0 control or DEL.
std::optional<char32_t> singleControlScalar(const std::u32string& text)
{
    if (text.size() != 1)
        return std::nullopt;
    const char32_t c = text[0];
    if (c < 0x20 || c == 0x7F)
        return c;
    return std::nullopt;
}

std::string_view asView(const std::vector<uint8_t>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace

// --- Shared reads ----------------------------------------------------------------------------------

KittyKeyboardFlags MacTerminalView::activeKittyFlags(const char* caller)
{
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.keyboardEnhancementFlags();
        },
        caller);
}

bool MacTerminalView::applicationCursor(const char* caller)
{
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.mode(TerminalMode::applicationCursor);
        },
        caller);
}

bool MacTerminalView::backspaceKeySendsControlH()
{
    if (backspaceSendsControlH)
        return true;
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.mode(TerminalMode::backarrowKeyMode);
        },
        "backspaceKeySendsControlH");
}

void MacTerminalView::sendBytes(std::string_view bytes)
{
    send(bytes);
}

void MacTerminalView::interpretKeyEvent(const KeyEvent& event)
{
    if (platform::ViewHost* widget = host())
        widget->interpretKeyEvent(event);
}

bool MacTerminalView::optionIsMeta(const KeyEvent& event)
{
    if (optionAsMetaKey)
        return true;
    if (!optionAsMetaKeyForFunctionalKeys || hasMarkedText())
        return false;
    switch (event.keyCode) {
    case platform::keycode::returnKey:
    case platform::keycode::tab:
    case platform::keycode::deleteKey:
    case platform::keycode::escape:
        return true;
    default:
        return kittyFunctionalKey(event).has_value();
    }
}

// --- Key down --------------------------------------------------------------------------------------

void MacTerminalView::keyDown(const KeyEvent& event)
{
    lastKeyDownTime_ = std::chrono::steady_clock::now();
    if (!terminal() || uiShutdownState_ != UIShutdownState::active)
        return;
    kittyComposingKeyCode_.reset();
    // A fresh press starts the key's story over: an earlier reported press is not held any more.
    if (!event.isARepeat)
        kittyKeysWithReportedPress_.erase(event.keyCode);
    const KittyKeyboardFlags flags = activeKittyFlags("keyDown(with:)");
    const bool command = event.modifierFlags.has(ModifierFlags::command);
    const bool claimed = flags.rawValue != 0 && command && shouldSendCommandKeyToTerminal &&
                         shouldSendCommandKeyToTerminal(event);
    // The menus see Command presses (and Ctrl+Shift+key as Command+key) before the program, and
    // the view's own edit and find shortcuts never reach it.
    if (!claimed && platform::MenuKeyRouter::offer(event))
        return;
    if (const std::optional<KeyEvent> menuForm = platform::menuKeyEquivalent(event);
        !claimed && menuForm && performKeyEquivalent(*menuForm))
        return;
    if (handleViewChord(event))
        return;

    const std::optional<uint16_t> outerKeyDown = kittyKeyDownCode_;
    kittyKeyDownCode_ = event.keyCode;
    // Typing removes the selection highlight.
    withTerminal(
        [this](Terminal&) {
            if (selection())
                selection()->setActive(false);
        },
        "keyDown(with:)");
    if (flags.rawValue != 0)
        kittyKeyDown(event, flags, claimed);
    else
        legacyKeyDown(event);
    kittyKeyDownCode_ = outerKeyDown;
}

bool MacTerminalView::handleViewChord(const KeyEvent& event)
{
    // Shift alone with Insert pastes the primary selection; with Page Up, Page Down, Home and End
    // it moves through the scrollback, as in every Linux terminal. On the alternate screen there
    // is no scrollback, and those four reach the program.
    if (event.modifierFlags.shortcutModifiers() != ModifierFlags{ModifierFlags::shift})
        return false;
    if (event.keyCode == platform::keycode::help) {
        pastePrimarySelection();
        return true;
    }
    const uint16_t key = event.keyCode;
    if (key != platform::keycode::pageUp && key != platform::keycode::pageDown &&
        key != platform::keycode::home && key != platform::keycode::end)
        return false;
    const std::optional<int> target = withTerminal(
        [key](Terminal& terminal) -> std::optional<int> {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.isCurrentBufferAlternate())
                return std::nullopt;
            const Buffer& buffer = terminal.buffer();
            const int newest = std::max(buffer.lines().count() - terminal.rows(), 0);
            switch (key) {
            case platform::keycode::pageUp:
                return std::max(buffer.yDisp() - terminal.rows(), 0);
            case platform::keycode::pageDown:
                return std::min(buffer.yDisp() + terminal.rows(), newest);
            case platform::keycode::home:
                return 0;
            default:
                return newest;
            }
        },
        "keyDown(with:)");
    if (!target)
        return false;
    scrollTo(*target, true);
    return true;
}

void MacTerminalView::kittyKeyDown(const KeyEvent& event, KittyKeyboardFlags flags, bool commandClaimed)
{
    const ModifierFlags modifiers = event.modifierFlags;
    const bool togglesMeta = modifiers.has(ModifierFlags::command | ModifierFlags::option) &&
                             event.charactersIgnoringModifiers == U"o";
    const KittyKeyboardEventType pressType =
        event.isARepeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press;
    if (modifiers.has(ModifierFlags::command)) {
        if (togglesMeta && !commandClaimed) {
            pendingKittyKeyEvent_.reset();
            optionAsMetaKey = !optionAsMetaKey;
            return;
        }
        if (const std::optional<KittyKeyEvent> key = kittyKeyEvent(event, pressType, std::nullopt);
            key && sendKittyEvent(*key))
            return;
        pendingKittyKeyEvent_.reset();
        if (togglesMeta) {
            optionAsMetaKey = !optionAsMetaKey;
            return;
        }
    } else {
        pendingKittyKeyEvent_.reset();
    }

    // Text that comes back from the input method keeps the repeat only when the program asked
    // for every key's events.
    const bool reportEvents = flags.contains(KittyKeyboardFlags::reportEvents);
    const KittyKeyboardEventType pendingType =
        event.isARepeat && reportEvents && flags.contains(KittyKeyboardFlags::reportAllKeys)
            ? KittyKeyboardEventType::repeatPress
            : KittyKeyboardEventType::press;
    // While the input method composes, every key is its own.
    if (kittyIsComposing_) {
        kittyComposingKeyCode_ = event.keyCode;
        interpretKeyEvent(event);
        return;
    }
    const KittyKeyboardEventType type =
        event.isARepeat && reportEvents ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press;
    if (const std::optional<KittyFunctionalKey> functional = kittyFunctionalKey(event)) {
        KittyKeyEvent key;
        key.key = KittyKey::functional(*functional);
        key.modifiers = kittyModifiers(event);
        key.eventType = type;
        key.text = kittyTextForFunctionalKey(*functional, event);
        if (sendKittyEvent(key))
            return;
    }
    const bool meta = modifiers.has(ModifierFlags::option) && optionIsMeta(event);
    if (meta && sendMetaTextlessKey(event, type))
        return;
    if (modifiers.has(ModifierFlags::control) || meta) {
        if (const std::optional<KittyKeyEvent> key = kittyTextEvent(event, type, std::nullopt);
            key && sendKittyEvent(*key))
            return;
    }
    pendingKittyKeyEvent_ = PendingKittyKeyEvent{event, pendingType};
    interpretKeyEvent(event);
}

void MacTerminalView::legacyKeyDown(const KeyEvent& event)
{
    const ModifierFlags modifiers = event.modifierFlags;
    const bool command = modifiers.has(ModifierFlags::command);
    const bool option = modifiers.has(ModifierFlags::option);
    const bool control = modifiers.has(ModifierFlags::control);
    const bool shift = modifiers.has(ModifierFlags::shift);
    const bool charactersAreO = event.charactersIgnoringModifiers == U"o";
    const KittyKeyboardEventType pressType =
        event.isARepeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press;

    // Command keys no menu took: arrows are swallowed, the rest go to the key bindings.
    if (command && !(option && charactersAreO)) {
        if (!isRegularArrowKey(event.keyCode))
            interpretKeyEvent(event);
        return;
    }
    // Functional keys through the encoder, which gives their legacy sequences with the flags at 0.
    // Alt as meta is a parameter of the sequence here, as xterm sends it: Alt+Left is CSI 1;3D,
    // which tmux, vim, irssi and weechat bind, and Alt+Up is no plain Up that a shell takes for history.
    if (!command && (!option || optionIsMeta(event))) {
        if (const std::optional<KittyFunctionalKey> functional = kittyFunctionalKey(event)) {
            KittyKeyboardModifiers chord;
            if (shift)
                chord.insert(KittyKeyboardModifiers::shift);
            if (control)
                chord.insert(KittyKeyboardModifiers::ctrl);
            if (option && optionIsMeta(event))
                chord.insert(KittyKeyboardModifiers::alt);
            if (modifiers.has(ModifierFlags::capsLock))
                chord.insert(KittyKeyboardModifiers::capsLock);
            KittyKeyEvent key;
            key.key = KittyKey::functional(*functional);
            key.modifiers = chord;
            key.eventType = pressType;
            key.text = kittyTextForFunctionalKey(*functional, event);
            if (sendKittyEvent(key))
                return;
        }
    }
    if (command && option) {
        if (charactersAreO)
            optionAsMetaKey = !optionAsMetaKey;
        interpretKeyEvent(event);
        return;
    }
    if (option && optionIsMeta(event)) {
        if (sendMetaTextlessKey(event, pressType))
            return;
        const std::u32string& characters = event.charactersIgnoringModifiers;
        if (characters.empty())
            return;
        // Meta as an escape prefix, then the key's own characters.
        sendBytes("\x1b");
        sendBytes(platform::utf8FromScalars(characters));
        return;
    }
    if (control) {
        if (event.keyCode == platform::keycode::space) {
            sendBytes(std::string_view("\0", 1));
            return;
        }
        // Ctrl+Backspace is BS, as in xterm, where shells and editors rub out a word with it;
        // the encoder says so for the key with Ctrl.
        if (event.keyCode == platform::keycode::deleteKey) {
            KittyKeyboardModifiers chord = KittyKeyboardModifiers::ctrl;
            if (shift)
                chord.insert(KittyKeyboardModifiers::shift);
            sendKittyFunctionalKey(KittyFunctionalKey::backspace, chord, pressType);
            return;
        }
        const std::u32string& characters = event.charactersIgnoringModifiers;
        if (!characters.empty()) {
            if (characters[0] == functionkey::rightArrow) {
                sendBytes(controlRight);
                return;
            }
            if (characters[0] == functionkey::leftArrow) {
                sendBytes(controlLeft);
                return;
            }
            std::vector<uint8_t> bytes = applyControlToEventCharacters(platform::utf8FromScalars(characters));
            if (bytes.empty()) {
                if (const std::optional<char32_t> scalar = singleControlScalar(event.characters))
                    bytes.push_back(*scalar == 0x7F ? (backspaceKeySendsControlH() ? 0x08 : 0x7F)
                                                    : static_cast<uint8_t>(*scalar));
            }
            // A key of a non-Latin layout controls the letter it carries on the US layout.
            if (bytes.empty() && characters.size() == 1 && characters[0] >= 0x80) {
                if (const std::optional<char32_t> base = kittyBaseLayoutKey(event.keyCode))
                    bytes =
                        applyControlToEventCharacters(platform::utf8FromScalars(std::u32string(1, *base)));
            }
            if (!bytes.empty())
                sendBytes(asView(bytes));
            return;
        }
    }
    if (modifiers.has(ModifierFlags::function)) {
        const std::u32string& characters = event.charactersIgnoringModifiers;
        if (characters.empty())
            return;
        const char32_t c = characters[0];
        if (c >= functionkey::f1 && c < functionkey::f1 + 12) {
            sendBytes(functionKeys[c - functionkey::f1]);
            return;
        }
        if (c == functionkey::deleteForward) {
            sendBytes("\x1b[3~");
            return;
        }
        // The page keys are the program's (less, vim and mc page with them).
        if (c == functionkey::pageUp) {
            sendBytes("\x1b[5~");
            return;
        }
        if (c == functionkey::pageDown) {
            sendBytes("\x1b[6~");
            return;
        }
    }
    interpretKeyEvent(event);
}

// --- Editing commands ------------------------------------------------------------------------------

void MacTerminalView::doCommand(TextInputCommand command)
{
    if (!terminal())
        return;
    const KittyKeyboardFlags flags = activeKittyFlags("doCommand(by:)");
    if (kittyIsComposing_) {
        // In kitty mode the composition owns its keys; in legacy mode the command still acts.
        if (flags.rawValue != 0) {
            pendingKittyKeyEvent_.reset();
            return;
        }
        legacyCommand(command);
        return;
    }
    std::optional<KittyFunctionalKey> key;
    bool addShift = false;
    switch (command) {
    case TextInputCommand::insertNewline:
        key = KittyFunctionalKey::enter;
        break;
    case TextInputCommand::cancelOperation:
        key = KittyFunctionalKey::escape;
        break;
    case TextInputCommand::deleteBackward:
        key = KittyFunctionalKey::backspace;
        break;
    case TextInputCommand::moveUp:
        key = KittyFunctionalKey::up;
        break;
    case TextInputCommand::moveDown:
        key = KittyFunctionalKey::down;
        break;
    case TextInputCommand::moveLeft:
        key = KittyFunctionalKey::left;
        break;
    case TextInputCommand::moveRight:
        key = KittyFunctionalKey::right;
        break;
    case TextInputCommand::insertTab:
        key = KittyFunctionalKey::tab;
        break;
    case TextInputCommand::insertBacktab:
        key = KittyFunctionalKey::tab;
        addShift = true;
        break;
    case TextInputCommand::scrollToBeginningOfDocument:
        key = KittyFunctionalKey::home;
        break;
    case TextInputCommand::scrollToEndOfDocument:
        key = KittyFunctionalKey::end;
        break;
    case TextInputCommand::scrollPageUp:
        key = KittyFunctionalKey::pageUp;
        break;
    case TextInputCommand::scrollPageDown:
        key = KittyFunctionalKey::pageDown;
        break;
    default:
        break;
    }
    if (key) {
        KittyKeyboardModifiers modifiers =
            pendingKittyKeyEvent_ ? kittyModifiers(pendingKittyKeyEvent_->event) : KittyKeyboardModifiers();
        if (addShift)
            modifiers.insert(KittyKeyboardModifiers::shift);
        if (sendKittyFunctionalKey(*key, modifiers, KittyKeyboardEventType::press))
            return;
    }
    legacyCommand(command);
}

void MacTerminalView::legacyCommand(TextInputCommand command)
{
    switch (command) {
    case TextInputCommand::insertNewline:
        sendBytes("\r");
        return;
    case TextInputCommand::cancelOperation:
        sendBytes("\x1b");
        return;
    case TextInputCommand::deleteBackward:
        sendBytes(backspaceKeySendsControlH() ? "\x08" : "\x7f");
        return;
    case TextInputCommand::moveUp:
        sendKeyUp();
        return;
    case TextInputCommand::moveDown:
        sendKeyDown();
        return;
    case TextInputCommand::moveLeft:
        sendKeyLeft();
        return;
    case TextInputCommand::moveRight:
        sendKeyRight();
        return;
    case TextInputCommand::insertTab:
        sendBytes("\t");
        return;
    case TextInputCommand::insertBacktab:
        sendBytes("\x1b[Z");
        return;
    case TextInputCommand::scrollToBeginningOfDocument:
        sendBytes(applicationCursor("doCommand(by:)") ? "\x1bOH" : "\x1b[H");
        return;
    case TextInputCommand::scrollToEndOfDocument:
        sendBytes(applicationCursor("doCommand(by:)") ? "\x1bOF" : "\x1b[F");
        return;
    case TextInputCommand::scrollPageUp:
        sendBytes("\x1b[5~");
        return;
    case TextInputCommand::scrollPageDown:
        sendBytes("\x1b[6~");
        return;
    case TextInputCommand::pageDownAndModifySelection:
        // The reverse of the page key: sent only when the cursor keys are not in application mode.
        if (!applicationCursor("doCommand(by:)"))
            sendBytes("\x1b[6~");
        return;
    default:
        pendingKittyKeyEvent_.reset();
        std::printf("Unhandle selector %s\n", platform::selectorName(command));
        std::fflush(stdout);
        return;
    }
}

// --- Key up and modifier keys ----------------------------------------------------------------------

void MacTerminalView::keyUp(const KeyEvent& event)
{
    if (!terminal())
        return;
    if (kittyComposingKeyCode_ == event.keyCode)
        kittyComposingKeyCode_.reset();
    // Only a key whose press the program heard has its release reported.
    if (kittyKeysWithReportedPress_.erase(event.keyCode) == 0)
        return;
    const KittyKeyboardFlags flags = activeKittyFlags("keyUp(with:)");
    if (!flags.contains(KittyKeyboardFlags::reportEvents))
        return;
    const std::optional<KittyKeyEvent> key =
        kittyKeyEvent(event, KittyKeyboardEventType::release, std::nullopt);
    if (!key)
        return;
    if (!flags.contains(KittyKeyboardFlags::reportAllKeys)) {
        const std::optional<char32_t> scalar = key->key.unicodeScalar();
        if (scalar && (*scalar == 9 || *scalar == 13 || *scalar == 127))
            return;
    }
    sendKittyEvent(*key);
}

void MacTerminalView::flagsChanged(const KeyEvent& event)
{
    if (!terminal())
        return;
    // Ctrl or Super held is the link modifier: links under the pointer highlight and preview.
    if (event.modifierFlags.hasAny(ModifierFlags::control | ModifierFlags::command))
        commandKeyDown();
    else
        turnOffUrlPreview();
    const KittyKeyboardFlags flags = activeKittyFlags("flagsChanged(with:)");
    if (!flags.contains(KittyKeyboardFlags::reportAllKeys) || kittyIsComposing_)
        return;
    const std::optional<KittyFunctionalKey> key = kittyModifierKey(event.keyCode);
    if (!key)
        return;
    const std::optional<bool> pressed = kittyModifierIsPressed(*key, event);
    if (!pressed)
        return;
    if (!*pressed && !flags.contains(KittyKeyboardFlags::reportEvents))
        return;
    KittyKeyEvent report;
    report.key = KittyKey::functional(*key);
    report.modifiers = kittyModifiers(event, true);
    report.eventType = *pressed ? KittyKeyboardEventType::press : KittyKeyboardEventType::release;
    sendKittyEvent(report);
}

} // namespace kestrovan
