// The value types of the kitty clipboard protocol (OSC 5522) that the emulator core stores or
// passes through: the policy a host grants, what the host's clipboards can do, paste requests
// and results, and the records its delegate callbacks carry.
//
// The protocol object itself is not here. The terminal core reads none of the records' fields;
// those that are still empty are completed by the clipboard protocol, which is what gives them
// meaning.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrovan {

/// Which directions of the protocol a program may use; empty allows neither.
struct KittyClipboardPolicy : OptionSet<KittyClipboardPolicy, uint8_t>
{
    constexpr KittyClipboardPolicy() = default;
    constexpr explicit KittyClipboardPolicy(uint8_t raw) : OptionSet(raw) {}
    constexpr KittyClipboardPolicy(OptionSet set) : OptionSet(set) {}

    static const KittyClipboardPolicy read;
    static const KittyClipboardPolicy write;
    static const KittyClipboardPolicy all;
};

inline constexpr KittyClipboardPolicy KittyClipboardPolicy::read{1};
inline constexpr KittyClipboardPolicy KittyClipboardPolicy::write{2};
inline constexpr KittyClipboardPolicy KittyClipboardPolicy::all{3};

/// What the host's clipboards can do: read and write the standard clipboard and the primary
/// selection.
struct KittyClipboardCapabilities : OptionSet<KittyClipboardCapabilities, uint8_t>
{
    constexpr KittyClipboardCapabilities() = default;
    constexpr explicit KittyClipboardCapabilities(uint8_t raw) : OptionSet(raw) {}
    constexpr KittyClipboardCapabilities(OptionSet set) : OptionSet(set) {}

    static const KittyClipboardCapabilities standardRead;
    static const KittyClipboardCapabilities standardWrite;
    static const KittyClipboardCapabilities primaryRead;
    static const KittyClipboardCapabilities primaryWrite;
    /// Reading and writing the standard clipboard.
    static const KittyClipboardCapabilities standard;
    /// Everything, on both clipboards.
    static const KittyClipboardCapabilities all;
};

inline constexpr KittyClipboardCapabilities KittyClipboardCapabilities::standardRead{1};
inline constexpr KittyClipboardCapabilities KittyClipboardCapabilities::standardWrite{2};
inline constexpr KittyClipboardCapabilities KittyClipboardCapabilities::primaryRead{4};
inline constexpr KittyClipboardCapabilities KittyClipboardCapabilities::primaryWrite{8};
inline constexpr KittyClipboardCapabilities KittyClipboardCapabilities::standard{3};
inline constexpr KittyClipboardCapabilities KittyClipboardCapabilities::all{15};

/// Which clipboard a request is about.
enum class KittyClipboardLocation : uint8_t
{
    standard,
    primary,
};

// The records below travel through the terminal's delegate untouched. They are empty until the
// clipboard protocol gives them their content.

/// The answer of a host to a clipboard read.
struct KittyClipboardReadResult
{
    friend bool operator==(const KittyClipboardReadResult&, const KittyClipboardReadResult&) = default;
};

/// What a program asks to write to a clipboard.
struct KittyClipboardWriteContent
{
    friend bool operator==(const KittyClipboardWriteContent&, const KittyClipboardWriteContent&) = default;
};

/// The answer of a host to a clipboard write.
struct KittyClipboardWriteResult
{
    friend bool operator==(const KittyClipboardWriteResult&, const KittyClipboardWriteResult&) = default;
};

/// A question to the host (and through it the user) whether a program may use a clipboard.
struct KittyClipboardPermissionRequest
{
    friend bool operator==(const KittyClipboardPermissionRequest&,
                           const KittyClipboardPermissionRequest&) = default;
};

/// The host's answer to a permission request.
struct KittyClipboardPermissionResult
{
    friend bool operator==(const KittyClipboardPermissionResult&,
                           const KittyClipboardPermissionResult&) = default;
};

/// The contents of a clipboard taken at paste time, offered to a program that asked for paste
/// events.
struct ClipboardSnapshot
{
    friend bool operator==(const ClipboardSnapshot&, const ClipboardSnapshot&) = default;
};

/// A paste handed to the terminal: text to type, a clipboard snapshot for paste events, or both.
struct TerminalPasteRequest
{
    /// UTF-8 text; absent when the paste carries only a snapshot.
    std::optional<std::string> text;
    std::optional<ClipboardSnapshot> snapshot;

    friend bool operator==(const TerminalPasteRequest&, const TerminalPasteRequest&) = default;
};

/// What became of a paste.
enum class TerminalPasteResult : uint8_t
{
    /// The program asked for paste events and was sent one.
    eventSent,
    /// The text was encoded and sent as typed input.
    textSent,
    /// The encoder refused the text as unsafe.
    rejected,
    /// The terminal was gone.
    failed,
};

} // namespace kestrovan
