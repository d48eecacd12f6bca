// The key encoder under arbitrary events: the bytes are decoded into a stream of flag and switch
// settings and key events (any key, any modifier bits, press, repeat or release, text of arbitrary
// scalars including surrogates and values past U+10FFFF, shifted and base-layout keys, composing),
// each event is encoded, and the result is checked:
// - nothing is ever an empty result, and encoding is deterministic;
// - output is either text the event supplied (its text, its key or its shifted key, possibly after
//   an alt ESC) or a sequence of the encoder's own: a C0 byte, SS3 and one byte, or one well-formed
//   7-bit CSI sequence (digits, ';' and ':' up to a single final byte, nothing after it), possibly
//   after an alt ESC;
// - a CSI u sequence carries the event's modifiers and event type, and only scalar values in its
//   alternate and text fields;
// - with all keys reported, a key (other than an input method's Enter) always gives CSI;
// - composing keys, and releases the flags do not ask for, give nothing.
#include "fuzz/FuzzInput.h"

#include "Kestrovan/KittyKeyboardEncoder.h"
#include "Kestrovan/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace kestrovan;

namespace {

class Input : public FuzzInput
{
public:
    using FuzzInput::FuzzInput;

    /// A scalar drawn mostly from the interesting ranges: printable ASCII, controls, any value up
    /// to U+1FFFFF (surrogates included), or any 32-bit value at all.
    char32_t scalar()
    {
        switch (byte() % 4) {
        case 0:
            return char32_t(32 + byte() % 95);
        case 1: {
            const uint8_t b = byte();
            return char32_t(b & 0x80 ? 127 + (b & 0x3F) % 33 : b % 32);
        }
        case 2:
            return char32_t((uint32_t(byte()) | uint32_t(byte()) << 8 | uint32_t(byte()) << 16) & 0x1FFFFF);
        default:
            return char32_t(word());
        }
    }
};

std::string shown(const std::vector<uint8_t>& bytes)
{
    std::string out;
    for (uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", byte);
        out += hex;
    }
    return out;
}

[[noreturn]] void broken(const char* what, const std::vector<uint8_t>& bytes)
{
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, shown(bytes).c_str());
    std::abort();
}

std::string utf8Of(char32_t scalar)
{
    std::string out;
    appendUtf8(out, scalar);
    return out;
}

/// Output that is text the event itself supplied, sent as it is or after an alt ESC.
bool isSuppliedText(const std::string& out, const KittyKeyEvent& event)
{
    std::vector<std::string> candidates;
    if (event.text)
        candidates.push_back(utf8String(*event.text));
    if (auto scalar = event.key.unicodeScalar(); scalar && isValidScalar(*scalar))
        candidates.push_back(utf8Of(*scalar));
    if (event.shiftedKey && isValidScalar(*event.shiftedKey))
        candidates.push_back(utf8Of(*event.shiftedKey));
    for (const std::string& candidate : candidates) {
        if (candidate.empty())
            continue;
        if (out == candidate || out == "\x1b" + candidate)
            return true;
    }
    return false;
}

bool isParameterByte(uint8_t byte)
{
    return (byte >= '0' && byte <= '9') || byte == ';' || byte == ':';
}

/// ESC [ parameters final, with nothing before or after.
bool isWellFormedCsi(const std::string& s)
{
    if (s.size() < 3 || s[0] != '\x1b' || s[1] != '[')
        return false;
    for (size_t i = 2; i + 1 < s.size(); ++i) {
        if (!isParameterByte(static_cast<uint8_t>(s[i])))
            return false;
    }
    const auto final = static_cast<uint8_t>(s.back());
    return final >= 0x40 && final <= 0x7E;
}

std::vector<std::string> split(const std::string& s, char separator)
{
    std::vector<std::string> parts(1);
    for (char c : s) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

/// A decimal field as a number; absent when empty, too long or not all digits.
std::optional<uint64_t> number(const std::string& field)
{
    if (field.empty() || field.size() > 12)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint64_t(c - '0');
    }
    return value;
}

bool isScalarField(const std::string& field)
{
    const auto value = number(field);
    return value && *value <= 0x10FFFF && !(*value >= 0xD800 && *value <= 0xDFFF);
}

/// The modifier and event-type field of a CSI sequence, as the encoder must have written it.
void checkModifierField(const std::vector<std::string>& fields, uint32_t expectedModifiers,
                        bool expectEventType, const KittyKeyEvent& event, const std::vector<uint8_t>& bytes)
{
    const bool present = fields.size() >= 2 && !fields[1].empty();
    if (!present) {
        if (expectedModifiers != 0 || expectEventType)
            broken("modifiers or event type missing", bytes);
        return;
    }
    const std::vector<std::string> parts = split(fields[1], ':');
    if (number(parts[0]) != uint64_t(expectedModifiers) + 1)
        broken("wrong modifier value", bytes);
    if (parts.size() > 2)
        broken("too many sub-fields in the modifier field", bytes);
    if (expectEventType != (parts.size() == 2))
        broken("event type reported when it should not be, or missing", bytes);
    if (parts.size() == 2 && number(parts[1]) != uint64_t(event.eventType))
        broken("wrong event type", bytes);
}

void checkCsiU(const std::string& s, const KittyKeyEvent& event, KittyKeyboardFlags flags,
               const std::vector<uint8_t>& bytes)
{
    const std::vector<std::string> fields = split(s.substr(2, s.size() - 3), ';');
    if (fields.size() > 3)
        broken("CSI u with more than three fields", bytes);
    const std::vector<std::string> key = split(fields[0], ':');
    if (key.size() > 3 || !number(key[0]))
        broken("bad key-code field", bytes);
    if (key.size() >= 2 && !key[1].empty() && !isScalarField(key[1]))
        broken("shifted key is no scalar", bytes);
    if (key.size() == 3 && !isScalarField(key[2]))
        broken("base-layout key is no scalar", bytes);
    if (fields.size() == 3) {
        for (const std::string& value : split(fields[2], ':')) {
            if (!isScalarField(value) || *number(value) < 32)
                broken("text field holds a control or no scalar", bytes);
        }
    }

    // CSI u is written with the lock bits whenever any flag is set, and with the event type
    // whenever events are reported and this is not a press.
    uint32_t modifiers = event.modifiers.rawValue & 0xFF;
    if (flags.isEmpty())
        modifiers &=
            ~uint32_t(KittyKeyboardModifiers::capsLock.rawValue | KittyKeyboardModifiers::numLock.rawValue);
    const bool eventType =
        flags.contains(KittyKeyboardFlags::reportEvents) && event.eventType != KittyKeyboardEventType::press;
    checkModifierField(fields, modifiers, eventType, event, bytes);
}

/// Checks one encoding against everything that must hold for it.
void check(const KittyKeyboardEncoder& encoder, const KittyKeyEvent& event,
           const std::optional<std::vector<uint8_t>>& result)
{
    const KittyKeyboardFlags flags = encoder.flags();
    const std::optional<KittyFunctionalKey> functional = event.key.functionalKey();
    const bool modifierKey = functional && KittyKeyboardEncoder::isModifierKey(*functional);
    const bool allKeys = flags.contains(KittyKeyboardFlags::reportAllKeys);

    if (event.composing && !(modifierKey && allKeys) && result)
        broken("a composing key was sent", *result);
    if (event.eventType == KittyKeyboardEventType::release &&
        !flags.contains(KittyKeyboardFlags::reportEvents) && result)
        broken("a release was sent without report events", *result);
    if (!result)
        return;
    const std::vector<uint8_t>& bytes = *result;
    if (bytes.empty())
        broken("empty result instead of none", bytes);

    const std::string out(bytes.begin(), bytes.end());
    if (isSuppliedText(out, event))
        return;

    // The encoder's own bytes: 7-bit always, whatever form the terminal's replies use.
    for (uint8_t byte : bytes) {
        if (byte >= 0x80)
            broken("an 8-bit byte in a generated sequence", bytes);
    }
    std::string rest = out;
    // An alt ESC before a control byte or before another escape sequence.
    if (rest.size() >= 2 && rest[0] == '\x1b' &&
        (rest[1] == '\x1b' || uint8_t(rest[1]) < 0x20 || rest[1] == 0x7F))
        rest.erase(0, 1);
    const bool csi = isWellFormedCsi(rest);
    // With all keys reported a key is always one sequence (an input method's Enter, whose text is
    // sent as it is, was accepted above).
    if (allKeys && !event.key.isNone() && !(csi && rest == out))
        broken("not a lone CSI sequence with all keys reported", bytes);
    if (rest.size() == 1 && (uint8_t(rest[0]) < 0x20 || rest[0] == 0x7F))
        return;
    if (rest.size() == 3 && rest[0] == '\x1b' && rest[1] == 'O' && rest[2] >= 0x40 && rest[2] <= 0x7E)
        return;
    if (!csi)
        broken("neither supplied text nor a well-formed sequence", bytes);
    if (rest.back() == 'u')
        checkCsiU(rest, event, flags, bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    KittyKeyboardFlags flags(input.byte());
    KittyKeyboardEncoder::Switches switches;
    for (int events = 0; events < 64 && !input.empty(); ++events) {
        const uint8_t op = input.byte();
        if (op % 8 == 0) {
            // Raw flag values past 31 are allowed here: the encoder must drop them itself.
            flags = KittyKeyboardFlags(op & 0x80 ? input.word() : input.byte());
            const uint8_t bits = input.byte();
            switches.applicationCursor = bits & 1;
            switches.applicationKeypad = bits & 2;
            switches.backspaceSendsControlH = bits & 4;
            continue;
        }
        KittyKeyEvent event;
        switch (op % 3) {
        case 0:
            event.key = KittyKey::none();
            break;
        case 1:
            event.key = KittyKey::unicode(input.scalar());
            break;
        default:
            event.key = KittyKey::functional(KittyFunctionalKey(input.byte() % kittyFunctionalKeyCount));
            break;
        }
        event.modifiers = KittyKeyboardModifiers(op & 0x40 ? input.word() : input.byte());
        // Event types outside 1-3 cannot be built from raw values; every valid one is drawn.
        event.eventType = *kittyKeyboardEventTypeFromRaw(1 + input.byte() % 3);
        const uint8_t parts = input.byte();
        if (parts & 1) {
            std::u32string text;
            const int length = input.byte() % 8;
            for (int i = 0; i < length; ++i)
                text.push_back(input.scalar());
            event.text = text;
        }
        if (parts & 2)
            event.shiftedKey = input.scalar();
        if (parts & 4)
            event.baseLayoutKey = input.scalar();
        event.composing = (parts & 8) != 0;

        const KittyKeyboardEncoder encoder(flags, switches);
        const std::optional<std::vector<uint8_t>> result = encoder.encode(event);
        if (encoder.encode(event) != result)
            std::abort();
        check(encoder, event, result);
    }
    return 0;
}
