// The key encoder: turns one key event into the bytes a program reads, under the kitty keyboard
// flags the program has set and three switches of the terminal.
//
// The result is the key's plain text, a legacy xterm-style sequence (with flags 0, or where the
// protocol keeps the legacy form), or a kitty protocol sequence: CSI code[:shifted[:base]]
// [;mods[:event]][;text] u, CSI 1 ; mods letter, or CSI n ; mods ~. Key sequences are always
// 7-bit. The encoder is a plain value: the caller reads the flags and switches from the terminal
// under its lock, builds one, encodes and sends; it never holds the terminal. The legacy builders
// live in KittyKeyboardLegacy.cpp.
#pragma once

#include "Kestrovan/KittyKeyboardFlags.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrovan {

/// The keys that have no text of their own, in the protocol's order.
enum class KittyFunctionalKey : uint8_t
{
    escape,
    enter,
    tab,
    backspace,
    insert,
    /// Forward delete (the name `delete` is taken by the language).
    delete_,
    up,
    down,
    left,
    right,
    home,
    end,
    pageUp,
    pageDown,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20,
    f21,
    f22,
    f23,
    f24,
    f25,
    f26,
    f27,
    f28,
    f29,
    f30,
    f31,
    f32,
    f33,
    f34,
    f35,
    menu,
    capsLock,
    scrollLock,
    numLock,
    printScreen,
    pause,
    keypad0,
    keypad1,
    keypad2,
    keypad3,
    keypad4,
    keypad5,
    keypad6,
    keypad7,
    keypad8,
    keypad9,
    keypadDecimal,
    keypadDivide,
    keypadMultiply,
    keypadSubtract,
    keypadAdd,
    keypadEnter,
    keypadEqual,
    keypadSeparator,
    keypadLeft,
    keypadRight,
    keypadUp,
    keypadDown,
    keypadPageUp,
    keypadPageDown,
    keypadHome,
    keypadEnd,
    keypadInsert,
    keypadDelete,
    keypadBegin,
    mediaPlay,
    mediaPause,
    mediaPlayPause,
    mediaReverse,
    mediaStop,
    mediaFastForward,
    mediaRewind,
    mediaTrackNext,
    mediaTrackPrevious,
    mediaRecord,
    volumeDown,
    volumeUp,
    volumeMute,
    leftShift,
    leftControl,
    leftAlt,
    leftSuper,
    leftHyper,
    leftMeta,
    rightShift,
    rightControl,
    rightAlt,
    rightSuper,
    rightHyper,
    rightMeta,
    isoLevel3Shift,
    isoLevel5Shift,
};

/// The number of functional keys.
inline constexpr int kittyFunctionalKeyCount = static_cast<int>(KittyFunctionalKey::isoLevel5Shift) + 1;

/// The key of an event: a key with text (`unicode`), a functional key, or no key at all (an event
/// that only carries text, such as an input method's commit).
class KittyKey
{
public:
    constexpr KittyKey() = default;

    static constexpr KittyKey unicode(char32_t scalar)
    {
        return KittyKey(Value(std::in_place_index<1>, scalar));
    }
    static constexpr KittyKey functional(KittyFunctionalKey key)
    {
        return KittyKey(Value(std::in_place_index<2>, key));
    }
    static constexpr KittyKey none() { return KittyKey(); }

    constexpr bool isNone() const { return value_.index() == 0; }
    /// The scalar of a `unicode` key. It is not checked: a host may hand over any value.
    constexpr std::optional<char32_t> unicodeScalar() const
    {
        return value_.index() == 1 ? std::optional<char32_t>(std::get<1>(value_)) : std::nullopt;
    }
    constexpr std::optional<KittyFunctionalKey> functionalKey() const
    {
        return value_.index() == 2 ? std::optional<KittyFunctionalKey>(std::get<2>(value_)) : std::nullopt;
    }

    friend constexpr bool operator==(const KittyKey&, const KittyKey&) = default;

private:
    using Value = std::variant<std::monostate, char32_t, KittyFunctionalKey>;
    constexpr explicit KittyKey(Value value) : value_(value) {}
    Value value_;
};

/// One key event as a host reports it.
struct KittyKeyEvent
{
    KittyKey key;
    KittyKeyboardModifiers modifiers;
    KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
    /// The text the key produces, as scalars; absent and empty are different (empty text is
    /// never sent, absent text lets the key's own scalar be sent).
    std::optional<std::u32string> text;
    /// The key with shift applied on the current layout (reported as an alternate).
    std::optional<char32_t> shiftedKey;
    /// The key at the same position on the standard layout (reported as an alternate).
    std::optional<char32_t> baseLayoutKey;
    /// True while an input method is composing: the keys belong to the input method.
    bool composing = false;

    friend bool operator==(const KittyKeyEvent&, const KittyKeyEvent&) = default;
};

class KittyKeyboardEncoder
{
public:
    /// The terminal's switches that change legacy sequences.
    struct Switches
    {
        /// DEC private mode 1: cursor keys send ESC O letter.
        bool applicationCursor = false;
        /// DEC private mode 66 (DECKPAM): the keypad sends ESC O letter.
        bool applicationKeypad = false;
        /// Backspace sends BS instead of DEL (the view's option, or the terminal's backarrow-key mode).
        bool backspaceSendsControlH = false;
    };

    /// How the protocol numbers a functional key: a number and the final byte of its sequence
    /// ('u', '~', or a letter such as 'A' for Up, whose number is then always 1).
    struct FunctionalEncoding
    {
        uint32_t number = 0;
        char terminator = 'u';

        friend constexpr bool operator==(FunctionalEncoding, FunctionalEncoding) = default;
    };

    /// Bits outside the protocol's five flags are dropped.
    KittyKeyboardEncoder(KittyKeyboardFlags flags, Switches switches)
        : flags_(flags.rawValue & KittyKeyboardFlags::knownMask), switches_(switches)
    {}
    /// An encoder with every switch off.
    explicit KittyKeyboardEncoder(KittyKeyboardFlags flags) : KittyKeyboardEncoder(flags, Switches()) {}

    KittyKeyboardFlags flags() const { return flags_; }
    const Switches& switches() const { return switches_; }

    /// The bytes to send for `event`, or absent when the key produces nothing under these flags.
    std::optional<std::vector<uint8_t>> encode(const KittyKeyEvent& event) const;

    /// The protocol's number and terminator of a functional key.
    static FunctionalEncoding functionalEncoding(KittyFunctionalKey key);
    /// The fourteen modifier keys, Caps Lock and Num Lock.
    static bool isModifierKey(KittyFunctionalKey key);
    /// keypad0 ... keypadBegin.
    static bool isKeypadKey(KittyFunctionalKey key);

private:
    using EventType = std::optional<KittyKeyboardEventType>;

    KittyKeyboardFlags flags_;
    Switches switches_;

    /// Everything that is not sent as the event's text: functional keys, and text keys sent as
    /// sequences. Empty when the key produces nothing.
    std::string encodeNonText(const KittyKeyEvent& event, bool disambiguate, bool includeEventType,
                              bool includeAlternates, bool includeLocks) const;
    /// ESC [ code [: shifted [: base]] [; mods [: event]] [; text] u.
    static std::string encodeCsiU(const KittyKeyEvent& event, std::optional<uint32_t> overrideKeyCode,
                                  bool includeText, bool includeAlternates, bool includeEventType,
                                  bool includeLocks);
    /// ESC [ number [; modifiers + 1 [: event]] terminator; ESC [ terminator alone for a plain key
    /// with `omitDefaultNumber` and number 1.
    static std::string buildCsiWithModifier(uint32_t number, uint32_t modifiers, EventType eventType,
                                            char terminator, bool omitDefaultNumber);
    /// The scalars of the event's text that can travel in a CSI u text field.
    static std::vector<char32_t> textCodepoints(const std::optional<std::u32string>& text);
    /// The base-layout key to report as an alternate, if any.
    static std::optional<char32_t> validBaseLayoutKey(const KittyKeyEvent& event, uint32_t primaryKeyCode);
    /// True when the text holds a C0 or C1 control or DEL.
    static bool containsControlScalars(std::u32string_view text);
    /// The modifier bits a sequence carries (before the + 1).
    static uint32_t modifierValue(KittyKeyboardModifiers modifiers, bool includeLocks);

    // Legacy builders (KittyKeyboardLegacy.cpp).

    /// The xterm-style bytes of a functional key; empty when it has none.
    std::string legacyFunctionalKey(KittyFunctionalKey key, const KittyKeyEvent& event) const;
    /// The legacy bytes of Escape, Enter, Tab and Backspace (ESC-prefixed under alt).
    std::string legacyControlKey(KittyFunctionalKey key, const KittyKeyEvent& event) const;
    /// The keypad under application keypad mode, or its text, or its navigation meaning.
    std::string legacyKeypadKey(KittyFunctionalKey key, const KittyKeyEvent& event, uint32_t m) const;
    /// The legacy bytes of a text key (control byte, alt prefix, text or the key's scalar).
    std::string legacyText(const KittyKeyEvent& event) const;
    /// ESC [ 1 ; m letter with modifiers, else ESC O letter or ESC [ letter.
    static std::string navigationSequence(char letter, uint32_t m, bool applicationMode);
    /// ESC [ number ~, or ESC [ number ; m ~.
    static std::string tildeSequence(uint32_t number, uint32_t m);
    /// F1-F12 with xterm modifier `q`.
    static std::string functionKeySequence(int n, uint32_t q);
};

} // namespace kestrovan
