// Key events as kitty keyboard events: functional and text keys, their base, shifted and
// base-layout keys, modifier keys with their sides, and the sending that records which presses
// the program heard so that their releases can follow.
//
// The encoder (`KittyKeyboardEncoder`) writes the bytes; with the flags at 0 it writes the legacy
// sequence of a key, which is how the legacy road encodes its functional keys too.

#include "Kestrovan/Mac/MacTerminalView.h"
#include "Platform/UI/KeyCodes.h"

#include <unicode/uchar.h>

namespace kestrovan {

using platform::KeyEvent;
using platform::ModifierFlags;
namespace functionkey = platform::functionkey;
namespace keycode = platform::keycode;

namespace {

std::optional<char32_t> firstScalar(const std::u32string& text)
{
    if (text.empty())
        return std::nullopt;
    return text.front();
}

KittyFunctionalKey offset(KittyFunctionalKey first, unsigned by)
{
    return static_cast<KittyFunctionalKey>(static_cast<unsigned>(first) + by);
}

} // namespace

std::optional<KittyFunctionalKey> MacTerminalView::kittyFunctionalKey(const KeyEvent& event)
{
    // The keypad by position first: its keys type the same characters as the main block.
    switch (event.keyCode) {
    case keycode::keypadDecimal:
        return KittyFunctionalKey::keypadDecimal;
    case keycode::keypadMultiply:
        return KittyFunctionalKey::keypadMultiply;
    case keycode::keypadPlus:
        return KittyFunctionalKey::keypadAdd;
    case keycode::keypadClear:
        return KittyFunctionalKey::keypadBegin;
    case keycode::keypadDivide:
        return KittyFunctionalKey::keypadDivide;
    case keycode::keypadEnter:
        return KittyFunctionalKey::keypadEnter;
    case keycode::keypadMinus:
        return KittyFunctionalKey::keypadSubtract;
    case keycode::keypadEquals:
        return KittyFunctionalKey::keypadEqual;
    case keycode::keypad8:
        return KittyFunctionalKey::keypad8;
    case keycode::keypad9:
        return KittyFunctionalKey::keypad9;
    default:
        break;
    }
    if (event.keyCode >= keycode::keypad0 && event.keyCode <= keycode::keypad7)
        return offset(KittyFunctionalKey::keypad0, event.keyCode - keycode::keypad0);

    const std::optional<char32_t> scalar = firstScalar(event.charactersIgnoringModifiers);
    if (!scalar)
        return std::nullopt;
    const char32_t c = *scalar;
    // Navigation keys of the keypad (Num Lock off) carry the numeric-pad flag; the arrow cluster
    // carries it too, and is told apart by its key codes.
    const bool keypad = event.modifierFlags.has(ModifierFlags::numericPad) &&
                        !(event.keyCode >= keycode::leftArrow && event.keyCode <= keycode::upArrow) &&
                        c >= functionkey::upArrow && c <= functionkey::pageDown;
    auto pick = [keypad](KittyFunctionalKey plain, KittyFunctionalKey pad) { return keypad ? pad : plain; };
    if (c >= functionkey::f1 && c < functionkey::f1 + 35)
        return offset(KittyFunctionalKey::f1, c - functionkey::f1);
    switch (c) {
    case functionkey::upArrow:
        return pick(KittyFunctionalKey::up, KittyFunctionalKey::keypadUp);
    case functionkey::downArrow:
        return pick(KittyFunctionalKey::down, KittyFunctionalKey::keypadDown);
    case functionkey::leftArrow:
        return pick(KittyFunctionalKey::left, KittyFunctionalKey::keypadLeft);
    case functionkey::rightArrow:
        return pick(KittyFunctionalKey::right, KittyFunctionalKey::keypadRight);
    case functionkey::insert:
        return pick(KittyFunctionalKey::insert, KittyFunctionalKey::keypadInsert);
    case functionkey::deleteForward:
        return pick(KittyFunctionalKey::delete_, KittyFunctionalKey::keypadDelete);
    case functionkey::home:
        return pick(KittyFunctionalKey::home, KittyFunctionalKey::keypadHome);
    case functionkey::end:
        return pick(KittyFunctionalKey::end, KittyFunctionalKey::keypadEnd);
    case functionkey::pageUp:
        return pick(KittyFunctionalKey::pageUp, KittyFunctionalKey::keypadPageUp);
    case functionkey::pageDown:
        return pick(KittyFunctionalKey::pageDown, KittyFunctionalKey::keypadPageDown);
    case functionkey::printScreen:
        return KittyFunctionalKey::printScreen;
    case functionkey::scrollLock:
        return KittyFunctionalKey::scrollLock;
    case functionkey::pause:
        return KittyFunctionalKey::pause;
    case functionkey::menu:
        return KittyFunctionalKey::menu;
    default:
        return std::nullopt;
    }
}

std::optional<std::u32string> MacTerminalView::kittyTextForFunctionalKey(KittyFunctionalKey key,
                                                                         const KeyEvent& event)
{
    // Only the keypad's digits and operators type text; Enter is a key of its own.
    const bool typesText = (key >= KittyFunctionalKey::keypad0 && key <= KittyFunctionalKey::keypadAdd) ||
                           key == KittyFunctionalKey::keypadEqual ||
                           key == KittyFunctionalKey::keypadSeparator;
    if (!typesText)
        return std::nullopt;
    const std::u32string& text =
        event.characters.empty() ? event.charactersIgnoringModifiers : event.characters;
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<KittyFunctionalKey> MacTerminalView::kittyModifierKey(uint16_t keyCode)
{
    switch (keyCode) {
    case keycode::shift:
        return KittyFunctionalKey::leftShift;
    case keycode::rightShift:
        return KittyFunctionalKey::rightShift;
    case keycode::control:
        return KittyFunctionalKey::leftControl;
    case keycode::rightControl:
        return KittyFunctionalKey::rightControl;
    case keycode::option:
        return KittyFunctionalKey::leftAlt;
    case keycode::rightOption:
        return KittyFunctionalKey::rightAlt;
    case keycode::command:
        return KittyFunctionalKey::leftSuper;
    case keycode::rightCommand:
        return KittyFunctionalKey::rightSuper;
    case keycode::capsLock:
        return KittyFunctionalKey::capsLock;
    default:
        return std::nullopt;
    }
}

std::optional<bool> MacTerminalView::kittyModifierIsPressed(KittyFunctionalKey key, const KeyEvent& event)
{
    const ModifierFlags flags = event.modifierFlags;
    // The side bits tell left from right while any of the pair is down; without them the
    // device-independent flag stands for both.
    auto sided = [&flags](uint32_t side, uint32_t both, uint32_t fallback) {
        if (flags.hasAny(both))
            return flags.hasAny(side);
        return flags.has(fallback);
    };
    constexpr uint32_t shiftSides = ModifierFlags::leftShiftSide | ModifierFlags::rightShiftSide;
    constexpr uint32_t controlSides = ModifierFlags::leftControlSide | ModifierFlags::rightControlSide;
    constexpr uint32_t optionSides = ModifierFlags::leftOptionSide | ModifierFlags::rightOptionSide;
    constexpr uint32_t commandSides = ModifierFlags::leftCommandSide | ModifierFlags::rightCommandSide;
    switch (key) {
    case KittyFunctionalKey::capsLock:
        return flags.has(ModifierFlags::capsLock);
    case KittyFunctionalKey::leftShift:
        return sided(ModifierFlags::leftShiftSide, shiftSides, ModifierFlags::shift);
    case KittyFunctionalKey::rightShift:
        return sided(ModifierFlags::rightShiftSide, shiftSides, ModifierFlags::shift);
    case KittyFunctionalKey::leftControl:
        return sided(ModifierFlags::leftControlSide, controlSides, ModifierFlags::control);
    case KittyFunctionalKey::rightControl:
        return sided(ModifierFlags::rightControlSide, controlSides, ModifierFlags::control);
    case KittyFunctionalKey::leftAlt:
        return sided(ModifierFlags::leftOptionSide, optionSides, ModifierFlags::option);
    case KittyFunctionalKey::rightAlt:
        return sided(ModifierFlags::rightOptionSide, optionSides, ModifierFlags::option);
    case KittyFunctionalKey::leftSuper:
        return sided(ModifierFlags::leftCommandSide, commandSides, ModifierFlags::command);
    case KittyFunctionalKey::rightSuper:
        return sided(ModifierFlags::rightCommandSide, commandSides, ModifierFlags::command);
    default:
        return std::nullopt;
    }
}

std::optional<char32_t> MacTerminalView::kittyBaseLayoutKey(uint16_t keyCode)
{
    // The US ANSI layout by key position; 10 (ISO §), Return and Tab have no entry.
    static constexpr char32_t table[51] = {U'a', U's', U'd', U'f', U'h', U'g', U'z',  U'x', U'c', U'v',  0,
                                           U'b', U'q', U'w', U'e', U'r', U'y', U't',  U'1', U'2', U'3',  U'4',
                                           U'6', U'5', U'=', U'9', U'7', U'-', U'8',  U'0', U']', U'o',  U'u',
                                           U'[', U'i', U'p', 0,    U'l', U'j', U'\'', U'k', U';', U'\\', U',',
                                           U'/', U'n', U'm', U'.', 0,    U' ', U'`'};
    if (keyCode >= std::size(table) || table[keyCode] == 0)
        return std::nullopt;
    return table[keyCode];
}

KittyKeyboardModifiers MacTerminalView::kittyModifiers(const KeyEvent& event, bool altAlways)
{
    const ModifierFlags flags = event.modifierFlags;
    KittyKeyboardModifiers modifiers;
    if (flags.has(ModifierFlags::shift))
        modifiers.insert(KittyKeyboardModifiers::shift);
    if (flags.has(ModifierFlags::control))
        modifiers.insert(KittyKeyboardModifiers::ctrl);
    if (flags.has(ModifierFlags::option) && (altAlways || optionIsMeta(event)))
        modifiers.insert(KittyKeyboardModifiers::alt);
    if (flags.has(ModifierFlags::command))
        modifiers.insert(KittyKeyboardModifiers::super);
    if (flags.has(ModifierFlags::capsLock))
        modifiers.insert(KittyKeyboardModifiers::capsLock);
    return modifiers;
}

std::optional<KittyKeyEvent> MacTerminalView::kittyTextEvent(const KeyEvent& event,
                                                             KittyKeyboardEventType type,
                                                             std::optional<std::u32string> text)
{
    const bool control = event.modifierFlags.has(ModifierFlags::control);
    const bool controlSpace = control && event.keyCode == keycode::space;
    // The base is the key without modifiers: with Control held the characters of the key alone,
    // since Control has turned the typed ones into control characters.
    std::optional<char32_t> base;
    if (controlSpace)
        base = U' ';
    else if (control)
        base = event.charactersWithoutModifiers.empty() ? firstScalar(event.charactersIgnoringModifiers)
                                                        : firstScalar(event.charactersWithoutModifiers);
    else
        base = firstScalar(event.charactersIgnoringModifiers);
    if (!base)
        return std::nullopt;
    const char32_t lowered = static_cast<char32_t>(u_tolower(static_cast<UChar32>(*base)));
    const char32_t key = lowered ? lowered : *base;

    std::optional<char32_t> shifted;
    if (event.modifierFlags.has(ModifierFlags::shift) && !controlSpace) {
        if (!control)
            shifted = firstScalar(event.characters);
        else
            shifted = event.charactersWithShift.empty() ? firstScalar(event.characters)
                                                        : firstScalar(event.charactersWithShift);
    }
    std::optional<char32_t> baseLayout = kittyBaseLayoutKey(event.keyCode);
    if (baseLayout == key)
        baseLayout.reset();

    KittyKeyEvent result;
    result.key = KittyKey::unicode(key);
    result.modifiers = kittyModifiers(event);
    result.eventType = type;
    result.text = std::move(text);
    result.shiftedKey = shifted;
    result.baseLayoutKey = baseLayout;
    result.composing = kittyIsComposing_;
    return result;
}

std::optional<KittyKeyEvent> MacTerminalView::kittyKeyEvent(const KeyEvent& event,
                                                            KittyKeyboardEventType type,
                                                            std::optional<std::u32string> text)
{
    if (const std::optional<KittyFunctionalKey> functional = kittyFunctionalKey(event)) {
        KittyKeyEvent result;
        result.key = KittyKey::functional(*functional);
        result.modifiers = kittyModifiers(event);
        result.eventType = type;
        result.text = std::move(text);
        result.composing = kittyIsComposing_;
        return result;
    }
    return kittyTextEvent(event, type, std::move(text));
}

bool MacTerminalView::sendKittyEvent(const KittyKeyEvent& event)
{
    struct Modes
    {
        KittyKeyboardFlags flags;
        KittyKeyboardEncoder::Switches switches;
    };
    const bool viewSendsControlH = backspaceSendsControlH;
    const Modes modes = withTerminal(
        [viewSendsControlH](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return Modes{terminal.keyboardEnhancementFlags(),
                         KittyKeyboardEncoder::Switches{terminal.mode(TerminalMode::applicationCursor),
                                                        terminal.mode(TerminalMode::applicationKeypad),
                                                        viewSendsControlH ||
                                                            terminal.mode(TerminalMode::backarrowKeyMode)}};
        },
        "kittyEncoder()");
    const std::optional<std::vector<uint8_t>> bytes =
        KittyKeyboardEncoder(modes.flags, modes.switches).encode(event);
    if (!bytes || bytes->empty())
        return false;
    send(Bytes(*bytes));
    // The physical key of the running key press now has a press the program heard.
    if (modes.flags.contains(KittyKeyboardFlags::reportEvents) &&
        event.eventType != KittyKeyboardEventType::release && kittyKeyDownCode_ && !event.key.isNone())
        kittyKeysWithReportedPress_.insert(*kittyKeyDownCode_);
    return true;
}

bool MacTerminalView::sendKittyFunctionalKey(KittyFunctionalKey key, KittyKeyboardModifiers modifiers,
                                             KittyKeyboardEventType type)
{
    KittyKeyEvent event;
    event.key = KittyKey::functional(key);
    event.modifiers = modifiers;
    event.eventType = type;
    event.composing = kittyIsComposing_;
    if (!sendKittyEvent(event))
        return false;
    const KittyKeyboardFlags flags = activeKittyFlags("sendKittyFunctionalKey(_:modifiers:eventType:)");
    const bool reportEvents = flags.contains(KittyKeyboardFlags::reportEvents);
    // A key that came back from the key bindings is recorded against the key that was pressed.
    if (type != KittyKeyboardEventType::release && reportEvents && pendingKittyKeyEvent_)
        kittyKeysWithReportedPress_.insert(pendingKittyKeyEvent_->event.keyCode);
    if (kittyComposingKeyCode_ && reportEvents)
        kittyKeysWithReportedPress_.insert(*kittyComposingKeyCode_);
    return true;
}

bool MacTerminalView::sendMetaTextlessKey(const KeyEvent& event, KittyKeyboardEventType type)
{
    KittyFunctionalKey key;
    switch (event.keyCode) {
    case keycode::returnKey:
        key = KittyFunctionalKey::enter;
        break;
    case keycode::tab:
        key = KittyFunctionalKey::tab;
        break;
    case keycode::deleteKey:
        key = KittyFunctionalKey::backspace;
        break;
    case keycode::escape:
        key = KittyFunctionalKey::escape;
        break;
    default:
        return false;
    }
    return sendKittyFunctionalKey(key, kittyModifiers(event, true), type);
}

} // namespace kestrovan
