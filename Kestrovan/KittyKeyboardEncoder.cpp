// The kitty protocol's forms of the key encoder, and the order in which `encode` decides.
//
// The decisions run from the general to the specific: which events are reported at all under the
// flags; the input-method states (composing, text without a key, Enter carrying committed text);
// then the form: every key as CSI when all keys are reported, plain text where the flags leave text
// keys as text, and otherwise a sequence from `encodeNonText`, which falls back on the legacy
// builders (KittyKeyboardLegacy.cpp) wherever the protocol keeps the old bytes.
#include "Kestrovan/KittyKeyboardEncoder.h"

#include "Kestrovan/Utf8.h"

namespace kestrovan {

namespace {

using Flags = KittyKeyboardFlags;
using Mods = KittyKeyboardModifiers;
using Key = KittyFunctionalKey;

constexpr const char* csi = "\x1b[";

/// Modifiers a host might set beyond the protocol's eight bits are not modifiers.
constexpr uint32_t knownModifierMask = 0xFF;

/// The encoder builds sequences as text (they are ASCII apart from supplied text) and hands out bytes.
std::optional<std::vector<uint8_t>> toBytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

/// `text` as bytes, or absent when it is empty (an empty result means "send nothing").
std::optional<std::vector<uint8_t>> nonEmptyBytes(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    return toBytes(text);
}

bool isBetween(Key key, Key first, Key last)
{
    return key >= first && key <= last;
}

int offset(Key key, Key first)
{
    return static_cast<int>(key) - static_cast<int>(first);
}

/// The number a CSI u sequence carries for the key.
uint32_t keyCode(const KittyKey& key)
{
    if (auto scalar = key.unicodeScalar())
        return static_cast<uint32_t>(*scalar);
    if (auto functional = key.functionalKey()) {
        // Escape, Enter, Tab and Backspace are 'u' keys with their C0 codes, so the table covers them.
        const auto encoding = KittyKeyboardEncoder::functionalEncoding(*functional);
        return encoding.terminator == 'u' ? encoding.number : 0;
    }
    return 0;
}

} // namespace

KittyKeyboardEncoder::FunctionalEncoding KittyKeyboardEncoder::functionalEncoding(KittyFunctionalKey key)
{
    switch (key) {
    case Key::escape:
        return {27, 'u'};
    case Key::enter:
        return {13, 'u'};
    case Key::tab:
        return {9, 'u'};
    case Key::backspace:
        return {127, 'u'};
    case Key::insert:
        return {2, '~'};
    case Key::delete_:
        return {3, '~'};
    case Key::pageUp:
        return {5, '~'};
    case Key::pageDown:
        return {6, '~'};
    case Key::up:
        return {1, 'A'};
    case Key::down:
        return {1, 'B'};
    case Key::right:
        return {1, 'C'};
    case Key::left:
        return {1, 'D'};
    case Key::home:
        return {1, 'H'};
    case Key::end:
        return {1, 'F'};
    case Key::f1:
        return {1, 'P'};
    case Key::f2:
        return {1, 'Q'};
    case Key::f3:
        // Not 1 R: CSI R is also the cursor position report, which a program could not tell apart.
        return {13, '~'};
    case Key::f4:
        return {1, 'S'};
    case Key::capsLock:
        return {57358, 'u'};
    case Key::scrollLock:
        return {57359, 'u'};
    case Key::numLock:
        return {57360, 'u'};
    case Key::printScreen:
        return {57361, 'u'};
    case Key::pause:
        return {57362, 'u'};
    case Key::menu:
        return {57363, 'u'};
    default:
        break;
    }
    if (isBetween(key, Key::f5, Key::f12)) {
        // The VT220 numbering, which skips 16 and 22.
        static constexpr uint32_t numbers[] = {15, 17, 18, 19, 20, 21, 23, 24};
        return {numbers[offset(key, Key::f5)], '~'};
    }
    if (isBetween(key, Key::f13, Key::f35))
        return {57376 + static_cast<uint32_t>(offset(key, Key::f13)), 'u'};
    // The keypad, media and modifier keys are numbered in one run, in case order.
    return {57399 + static_cast<uint32_t>(offset(key, Key::keypad0)), 'u'};
}

bool KittyKeyboardEncoder::isModifierKey(KittyFunctionalKey key)
{
    return isBetween(key, Key::leftShift, Key::isoLevel5Shift) || key == Key::capsLock || key == Key::numLock;
}

bool KittyKeyboardEncoder::isKeypadKey(KittyFunctionalKey key)
{
    return isBetween(key, Key::keypad0, Key::keypadBegin);
}

uint32_t KittyKeyboardEncoder::modifierValue(KittyKeyboardModifiers modifiers, bool includeLocks)
{
    // Caps Lock and Num Lock are states, not chords: they are reported only to a program that has
    // set flags, and never change a legacy sequence.
    uint32_t value = modifiers.rawValue & knownModifierMask;
    if (!includeLocks)
        value &= ~(Mods::capsLock.rawValue | Mods::numLock.rawValue);
    return value;
}

std::vector<char32_t> KittyKeyboardEncoder::textCodepoints(const std::optional<std::u32string>& text)
{
    std::vector<char32_t> out;
    if (!text)
        return out;
    // Controls have no place in the text field (the key itself says Enter or Tab), and a number
    // that is no Unicode scalar would give the program a code point it cannot use.
    for (char32_t scalar : *text) {
        if (scalar >= 32 && isValidScalar(scalar))
            out.push_back(scalar);
    }
    return out;
}

std::optional<char32_t> KittyKeyboardEncoder::validBaseLayoutKey(const KittyKeyEvent& event,
                                                                 uint32_t primaryKeyCode)
{
    if (!event.baseLayoutKey || !isValidScalar(*event.baseLayoutKey) ||
        static_cast<uint32_t>(*event.baseLayoutKey) == primaryKeyCode)
        return std::nullopt;
    // When the text is the base key itself the two layouts agree and there is nothing to add; when
    // it is not one character (a dead key, a composed sequence) the base key may not belong to it.
    if (event.text && (event.text->size() != 1 || (*event.text)[0] == *event.baseLayoutKey))
        return std::nullopt;
    return event.baseLayoutKey;
}

bool KittyKeyboardEncoder::containsControlScalars(std::u32string_view text)
{
    for (char32_t scalar : text) {
        if (scalar < 32 || (scalar >= 127 && scalar <= 159))
            return true;
    }
    return false;
}

std::string KittyKeyboardEncoder::encodeCsiU(const KittyKeyEvent& event,
                                             std::optional<uint32_t> overrideKeyCode, bool includeText,
                                             bool includeAlternates, bool includeEventType, bool includeLocks)
{
    const uint32_t code = overrideKeyCode ? *overrideKeyCode : keyCode(event.key);
    std::string out = csi + std::to_string(code);

    // Control keys have no shifted or base-layout form worth reporting.
    if (includeAlternates && code >= 32 && code != 127) {
        bool wroteShifted = false;
        if (event.modifiers.contains(Mods::shift) && event.shiftedKey && isValidScalar(*event.shiftedKey) &&
            static_cast<uint32_t>(*event.shiftedKey) != code) {
            out += ':' + std::to_string(static_cast<uint32_t>(*event.shiftedKey));
            wroteShifted = true;
        }
        if (auto base = validBaseLayoutKey(event, code)) {
            // The base key is always the third sub-field: an absent shifted key leaves it empty.
            if (!wroteShifted)
                out += ':';
            out += ':' + std::to_string(static_cast<uint32_t>(*base));
        }
    }

    const uint32_t modifiers = modifierValue(event.modifiers, includeLocks);
    const bool withEventType = includeEventType && event.eventType != KittyKeyboardEventType::press;
    const bool wroteModifiers = modifiers != 0 || withEventType;
    if (wroteModifiers) {
        out += ';' + std::to_string(modifiers + 1);
        if (withEventType)
            out += ':' + std::to_string(static_cast<int>(event.eventType));
    }

    if (includeText) {
        const std::vector<char32_t> codepoints = textCodepoints(event.text);
        if (!codepoints.empty()) {
            out += wroteModifiers ? ";" : ";;";
            for (size_t i = 0; i < codepoints.size(); ++i) {
                if (i > 0)
                    out += ':';
                out += std::to_string(static_cast<uint32_t>(codepoints[i]));
            }
        }
    }
    out += 'u';
    return out;
}

std::string KittyKeyboardEncoder::buildCsiWithModifier(uint32_t number, uint32_t modifiers,
                                                       EventType eventType, char terminator,
                                                       bool omitDefaultNumber)
{
    if (omitDefaultNumber && number == 1 && modifiers == 0 && !eventType)
        return csi + std::string(1, terminator);
    std::string out = csi + std::to_string(number);
    if (modifiers != 0 || eventType) {
        out += ';' + std::to_string(modifiers + 1);
        if (eventType)
            out += ':' + std::to_string(static_cast<int>(*eventType));
    }
    out += terminator;
    return out;
}

std::optional<std::vector<uint8_t>> KittyKeyboardEncoder::encode(const KittyKeyEvent& event) const
{
    const bool allKeys = flags_.contains(Flags::reportAllKeys);
    const bool reportEvents = flags_.contains(Flags::reportEvents);
    const bool disambiguate = flags_.contains(Flags::disambiguate);
    const bool alternates = flags_.contains(Flags::reportAlternates);
    const bool isRelease = event.eventType == KittyKeyboardEventType::release;
    const std::optional<Key> functional = event.key.functionalKey();
    const bool hasText = event.text && !event.text->empty();

    // Which events are reported at all, and whether text may ride along in the sequence: only
    // when nothing but shift (and the locks) is held, since ctrl+a and alt+a produce no text.
    bool embedText = false;
    if (allKeys && flags_.contains(Flags::reportText) && !isRelease) {
        const Mods textModifiers = Mods::shift | Mods::capsLock | Mods::numLock;
        embedText = (event.modifiers.rawValue & knownModifierMask & ~textModifiers.rawValue) == 0;
    } else if (isRelease) {
        if (!reportEvents)
            return std::nullopt;
        // Without all keys as escape codes these keys keep their legacy bytes, which have no release.
        if (!allKeys && (functional == Key::enter || functional == Key::tab || functional == Key::backspace))
            return std::nullopt;
    }

    // While an input method composes, the keys are its own; only modifier state may be reported.
    const bool modifierKey = functional && isModifierKey(*functional);
    if (event.composing && !(modifierKey && allKeys))
        return std::nullopt;
    if (modifierKey && !allKeys)
        return std::nullopt;

    // Text without a key: an input method's commit, or a key the host could not name.
    if (event.key.isNone()) {
        if (isRelease || !hasText)
            return std::nullopt;
        const Mods chordModifiers = Mods::alt | Mods::ctrl | Mods::super | Mods::hyper | Mods::meta;
        if (event.modifiers.intersects(chordModifiers) && event.text->size() == 1) {
            // A chord on a single character is that character's key; encode it as one.
            KittyKeyEvent keyed = event;
            keyed.key = KittyKey::unicode((*event.text)[0]);
            keyed.text.reset();
            return encode(keyed);
        }
        if (embedText)
            return toBytes(encodeCsiU(event, 0, true, alternates, reportEvents, true));
        return toBytes(utf8String(*event.text));
    }

    // Enter and Backspace that carry real text come from an input method: Enter commits it, and
    // Backspace has already been applied to the composition. A release carrying such text sends
    // nothing, so the text is never typed twice.
    if ((functional == Key::enter || functional == Key::backspace) && hasText &&
        !containsControlScalars(*event.text)) {
        if (isRelease || functional == Key::backspace)
            return std::nullopt;
        return toBytes(utf8String(*event.text));
    }

    // All keys as escape codes: every key is one sequence, with the lock keys and, when asked for,
    // its alternates, event type and text.
    if (allKeys) {
        const EventType eventType = reportEvents && event.eventType != KittyKeyboardEventType::press
                                        ? EventType(event.eventType)
                                        : std::nullopt;
        const uint32_t modifiers = modifierValue(event.modifiers, true);
        if (functional) {
            const FunctionalEncoding encoding = functionalEncoding(*functional);
            if (encoding.terminator == '~')
                return toBytes(buildCsiWithModifier(encoding.number, modifiers, eventType, '~', false));
            if (encoding.terminator != 'u')
                return toBytes(buildCsiWithModifier(1, modifiers, eventType, encoding.terminator, true));
        }
        // Text keys, and the 'u' keys (Escape, Enter, Tab and Backspace among them).
        return toBytes(encodeCsiU(event, std::nullopt, embedText, alternates, reportEvents, true));
    }

    // A text key with text: it stays text unless the flags ask for chords (alt, ctrl) or events to
    // be told apart, since text is what a program that only disambiguates wants for plain typing.
    if (event.key.unicodeScalar() && hasText) {
        const bool alt = event.modifiers.contains(Mods::alt);
        const bool ctrl = event.modifiers.contains(Mods::ctrl);
        const std::optional<std::vector<uint8_t>> text = toBytes(utf8String(*event.text));
        if (alt && !reportEvents) {
            if (!disambiguate)
                return text;
        } else if (reportEvents && event.eventType == KittyKeyboardEventType::repeatPress && !alt && !ctrl) {
            return text;
        } else if ((alt || ctrl) && disambiguate) {
            // Falls through to the sequence: ctrl+a and alt+a must not look like plain text.
        } else if (isRelease) {
            // Text keys report their release only as a sequence, never as more text.
            return std::nullopt;
        } else {
            return text;
        }
    }

    return nonEmptyBytes(encodeNonText(event, disambiguate, reportEvents, alternates, !flags_.isEmpty()));
}

std::string KittyKeyboardEncoder::encodeNonText(const KittyKeyEvent& event, bool disambiguate,
                                                bool includeEventType, bool includeAlternates,
                                                bool includeLocks) const
{
    // Text without a key was handled by `encode`; there is nothing to name here.
    if (event.key.isNone())
        return std::string();
    const EventType eventType = includeEventType && event.eventType != KittyKeyboardEventType::press
                                    ? EventType(event.eventType)
                                    : std::nullopt;

    if (auto functional = event.key.functionalKey()) {
        const Key key = *functional;
        if (flags_.isEmpty())
            return legacyFunctionalKey(key, event);

        const uint32_t modifiers = modifierValue(event.modifiers, includeLocks);
        const bool plain = modifiers == 0 && !eventType;
        switch (key) {
        case Key::escape:
            // The whole point of disambiguation: a lone ESC byte is the start of every sequence.
            if (!disambiguate)
                return legacyControlKey(key, event);
            return encodeCsiU(event, 27, false, includeAlternates, includeEventType, includeLocks);
        case Key::enter:
        case Key::tab:
        case Key::backspace:
            // Plain Enter, Tab and Backspace keep their bytes so that a shell stays usable after
            // a program that set the flags died without resetting them. Caps Lock and Num Lock do
            // not make them less plain: with Caps Lock on, Enter must still submit a command line.
            if (disambiguate && !(modifierValue(event.modifiers, false) == 0 && !eventType))
                return encodeCsiU(event, std::nullopt, false, includeAlternates, includeEventType,
                                  includeLocks);
            return legacyControlKey(key, event);
        default:
            break;
        }

        // Keys new to the protocol (F13 and up, keypad, media, locks) have only the CSI u form; the
        // tilde and letter keys keep their xterm shapes with the protocol's modifiers and events.
        const FunctionalEncoding encoding = functionalEncoding(key);
        if (encoding.terminator == 'u')
            return encodeCsiU(event, std::nullopt, false, includeAlternates, includeEventType, includeLocks);
        if (encoding.terminator == '~')
            return buildCsiWithModifier(encoding.number, modifiers, eventType, '~', false);
        if (!disambiguate && plain) {
            // F1, F2 and F4 keep their SS3 forms; the cursor keys follow application cursor mode.
            const bool ss3 = !isBetween(key, Key::up, Key::end) || switches_.applicationCursor;
            return std::string(ss3 ? "\x1bO" : csi) + encoding.terminator;
        }
        return buildCsiWithModifier(1, modifiers, eventType, encoding.terminator, true);
    }

    // A text key without text to send: its legacy bytes where they say enough, else CSI u.
    if (!disambiguate && !eventType) {
        std::string legacy = legacyText(event);
        if (!legacy.empty())
            return legacy;
    }
    return encodeCsiU(event, std::nullopt, false, includeAlternates, includeEventType, includeLocks);
}

} // namespace kestrovan
