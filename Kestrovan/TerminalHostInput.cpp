// Input from hosts that have no view (TerminalHostInput.h).
//
// Keys and text go through the same kitty keyboard encoder as a view's keys, with the flags of the
// active screen and the terminal's application cursor, application keypad and backarrow-key modes,
// so a program sees the same bytes whichever host it runs under. Everything encoded here is typed
// input: it passes the submission scanner (so shell integration sees Enter) before the delegate
// sends it. Pastes take the paste path of the clipboard protocol, which brackets and filters them.
#include "Kestrovan/TerminalHostInput.h"

#include "Kestrovan/HostKeyNames.h"
#include "Kestrovan/KittyClipboardTypes.h"
#include "Kestrovan/KittyKeyboardEncoder.h"
#include "Kestrovan/Utf8.h"

namespace kestrovan {

namespace {

// The bits of `hostInputModes`.
constexpr uint32_t applicationCursorBit = 1;
constexpr uint32_t applicationKeypadBit = 2;
constexpr uint32_t bracketedPasteBit = 4;
constexpr uint32_t kittyPasteEventsBit = 8;
constexpr int keyboardFlagsShift = 8;

/// Alt, Ctrl and Super: with none of them held and no keyboard flags, a character is plain typing
/// that the host sends as text (Shift only picks the character).
constexpr uint32_t chordModifierMask = 2 | 4 | 8;

/// The result for a key the host should have sent as text: nothing done, except that a release
/// has no text to send and so is reported as producing nothing.
int textFallback(KittyKeyboardEventType eventType)
{
    return eventType == KittyKeyboardEventType::release ? 2 : 0;
}

/// The one scalar `key` encodes, when it is exactly one well-formed scalar.
std::optional<char32_t> singleScalar(std::string_view key)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
    if (key.empty() || !isValidUtf8(std::span<const uint8_t>(bytes, key.size())))
        return std::nullopt;
    const std::u32string scalars = decodeUtf8(key);
    if (scalars.size() != 1)
        return std::nullopt;
    return scalars.front();
}

/// A scalar a host passed as a number; 0 and values that are not scalars mean none.
std::optional<char32_t> optionalScalar(uint32_t value)
{
    if (value == 0 || !isValidScalar(static_cast<char32_t>(value)))
        return std::nullopt;
    return static_cast<char32_t>(value);
}

} // namespace

uint32_t hostInputModes(const Terminal& terminal)
{
    uint32_t modes = 0;
    if (terminal.mode(TerminalMode::applicationCursor))
        modes |= applicationCursorBit;
    if (terminal.mode(TerminalMode::applicationKeypad))
        modes |= applicationKeypadBit;
    if (terminal.mode(TerminalMode::bracketedPasteMode))
        modes |= bracketedPasteBit;
    if (terminal.mode(TerminalMode::kittyPasteEventsEnabled))
        modes |= kittyPasteEventsBit;
    // The flags fill the upper 24 bits; anything wider would be shifted out, not misread.
    modes |= (terminal.keyboardEnhancementFlags().rawValue & 0xFFFFFF) << keyboardFlagsShift;
    return modes;
}

std::optional<std::vector<uint8_t>> encodeHostText(const Terminal& terminal, std::string_view text)
{
    KittyKeyEvent event;
    event.text = decodeUtf8(text);
    // Text carries no backarrow meaning, so only the two cursor and keypad modes go in.
    KittyKeyboardEncoder::Switches switches;
    switches.applicationCursor = terminal.mode(TerminalMode::applicationCursor);
    switches.applicationKeypad = terminal.mode(TerminalMode::applicationKeypad);
    std::optional<std::vector<uint8_t>> bytes =
        KittyKeyboardEncoder(terminal.keyboardEnhancementFlags(), switches).encode(event);
    if (!bytes || bytes->empty())
        return std::nullopt;
    return bytes;
}

bool sendHostText(Terminal& terminal, std::string_view text)
{
    const std::optional<std::vector<uint8_t>> bytes = encodeHostText(terminal, text);
    if (!bytes)
        return false;
    terminal.sendUserInput(*bytes);
    return true;
}

bool sendHostTextPaste(Terminal& terminal, const std::string& text, bool allowUnsafe)
{
    TerminalPasteRequest request;
    request.text = text;
    // A paste event or a refusal is not the text having been typed.
    return terminal.paste(request, allowUnsafe) == TerminalPasteResult::textSent;
}

HostKeyEncoding encodeHostKey(const Terminal& terminal, std::string_view key, std::string_view code,
                              uint32_t modifiers, uint32_t eventType, const std::optional<std::string>& text,
                              uint32_t shiftedKey, uint32_t baseLayoutKey)
{
    const std::optional<KittyKeyboardEventType> kind =
        eventType <= 3 ? kittyKeyboardEventTypeFromRaw(static_cast<int>(eventType)) : std::nullopt;
    if (!kind)
        return {2, {}};

    KittyKeyEvent event;
    if (const std::optional<KittyFunctionalKey> functional = hostFunctionalKey(key, code)) {
        event.key = KittyKey::functional(*functional);
    } else {
        const std::optional<char32_t> scalar = singleScalar(key);
        if (!scalar)
            return {textFallback(*kind), {}};
        // Without flags a character with no chord is ordinary typing: the host sends it as text.
        if (terminal.keyboardEnhancementFlags().isEmpty() && (modifiers & chordModifierMask) == 0)
            return {textFallback(*kind), {}};
        event.key = KittyKey::unicode(*scalar);
    }
    event.modifiers = KittyKeyboardModifiers(modifiers);
    event.eventType = *kind;
    if (text)
        event.text = decodeUtf8(*text);
    event.shiftedKey = optionalScalar(shiftedKey);
    event.baseLayoutKey = optionalScalar(baseLayoutKey);

    KittyKeyboardEncoder::Switches switches;
    switches.applicationCursor = terminal.mode(TerminalMode::applicationCursor);
    switches.applicationKeypad = terminal.mode(TerminalMode::applicationKeypad);
    switches.backspaceSendsControlH = terminal.mode(TerminalMode::backarrowKeyMode);
    std::optional<std::vector<uint8_t>> bytes =
        KittyKeyboardEncoder(terminal.keyboardEnhancementFlags(), switches).encode(event);
    if (!bytes || bytes->empty())
        return {2, {}};
    return {1, std::move(*bytes)};
}

int sendHostKey(Terminal& terminal, std::string_view key, std::string_view code, uint32_t modifiers,
                uint32_t eventType, const std::optional<std::string>& text, uint32_t shiftedKey,
                uint32_t baseLayoutKey)
{
    const HostKeyEncoding encoded =
        encodeHostKey(terminal, key, code, modifiers, eventType, text, shiftedKey, baseLayoutKey);
    if (encoded.result == 1)
        terminal.sendUserInput(encoded.bytes);
    return encoded.result;
}

} // namespace kestrovan
