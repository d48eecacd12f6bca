// Input from hosts that have no view: the modes such a host must know, text and pastes, and key
// events named by their web `key` and `code` values.
//
// The encoders only read the terminal's input modes, so they are free functions beside it; the
// senders hand what they encode to the terminal's own input path (`Terminal::sendUserInput`, or
// `Terminal::paste` for pastes). Like the rest of the terminal they run with the lock held by the
// caller.
#pragma once

#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

/// Bit 0 application cursor, 1 application keypad, 2 bracketed paste, 3 kitty paste events; bits
/// 8-31 the kitty keyboard flags of the active screen.
uint32_t hostInputModes(const Terminal& terminal) REQUIRES(terminal.terminalLock());

/// The bytes of text typed with no key (a key-less press carrying it); absent when it encodes to
/// nothing.
std::optional<std::vector<uint8_t>> encodeHostText(const Terminal& terminal, std::string_view text)
    REQUIRES(terminal.terminalLock());

/// What a key event named by web values encodes to: `result` as `sendHostKey` answers it, and the
/// bytes to send when `result` is 1.
struct HostKeyEncoding
{
    int result = 2;
    std::vector<uint8_t> bytes;
};

/// Encodes one key event named by web `key` and `code` values (see `sendHostKey`).
HostKeyEncoding encodeHostKey(const Terminal& terminal, std::string_view key, std::string_view code,
                              uint32_t modifiers, uint32_t eventType, const std::optional<std::string>& text,
                              uint32_t shiftedKey, uint32_t baseLayoutKey) REQUIRES(terminal.terminalLock());

/// Sends text as typed (a key-less press carrying it); false when it encodes to nothing.
bool sendHostText(Terminal& terminal, std::string_view text) REQUIRES(terminal.terminalLock());
/// Pastes text through the paste path; true only when it went out as text.
bool sendHostTextPaste(Terminal& terminal, const std::string& text, bool allowUnsafe)
    REQUIRES(terminal.terminalLock());
/// Sends one key event named by web `key` and `code` values. `eventType` 1 press, 2 repeat,
/// 3 release; `modifiers` are the kitty protocol's bits; `shiftedKey` and `baseLayoutKey` are
/// scalars, 0 for none. Returns 1 when bytes were sent; 2 for a bad event type or a key that
/// encodes to nothing; for a key the tables do not name that is not one character, or a plain
/// character the host should send as text, 0 (2 for a release).
int sendHostKey(Terminal& terminal, std::string_view key, std::string_view code, uint32_t modifiers,
                uint32_t eventType, const std::optional<std::string>& text, uint32_t shiftedKey,
                uint32_t baseLayoutKey) REQUIRES(terminal.terminalLock());

} // namespace kestrovan
