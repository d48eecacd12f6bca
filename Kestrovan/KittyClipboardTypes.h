// The public value types of the kitty clipboard protocol (OSC 5522): the policy a host grants, what
// the host's clipboards can do, the records the terminal's delegate callbacks carry, the clipboard
// snapshot a paste event offers, and paste requests and results.
//
// The protocol object (KittyClipboardProtocol.h) and the wire format (KittyClipboardPacket.h) are
// not here: this header is what a host needs to answer the delegate's clipboard calls.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

/// Which clipboard a request is about: the clipboard proper or the primary selection.
enum class KittyClipboardLocation : uint8_t
{
    standard,
    primary,
};

/// Whether a permission question is about reading or writing.
enum class KittyClipboardPermissionDirection : uint8_t
{
    read,
    write,
};

/// The data of one MIME type.
struct KittyClipboardRepresentation
{
    std::string mimeType;
    std::vector<uint8_t> data;

    friend bool operator==(const KittyClipboardRepresentation&,
                           const KittyClipboardRepresentation&) = default;
};

/// The answer of a host to the read of one MIME type.
struct KittyClipboardReadResult
{
    enum class Kind : uint8_t
    {
        /// The type's bytes are in `bytes`.
        data,
        /// The clipboard does not hold the type (any more).
        unavailable,
        /// The host or the user refused.
        denied,
        /// The clipboard cannot be read now.
        busy,
    };

    Kind kind = Kind::unavailable;
    /// The data; empty unless `kind` is `data`.
    std::vector<uint8_t> bytes;

    static KittyClipboardReadResult data(std::vector<uint8_t> bytes)
    {
        return {Kind::data, std::move(bytes)};
    }
    static KittyClipboardReadResult unavailable() { return {Kind::unavailable, {}}; }
    static KittyClipboardReadResult denied() { return {Kind::denied, {}}; }
    static KittyClipboardReadResult busy() { return {Kind::busy, {}}; }

    friend bool operator==(const KittyClipboardReadResult&, const KittyClipboardReadResult&) = default;
};

/// An extra MIME name that stands for a type written in the same transaction.
struct KittyClipboardAlias
{
    std::string name;
    std::string target;

    friend bool operator==(const KittyClipboardAlias&, const KittyClipboardAlias&) = default;
};

/// What a program asks to write to a clipboard: its representations in the order they arrived, and
/// the aliases whose target is one of them.
struct KittyClipboardWriteContent
{
    std::vector<KittyClipboardRepresentation> representations;
    std::vector<KittyClipboardAlias> aliases;

    /// For hosts that store every name separately: the representations, then one more for each
    /// alias whose name is new and whose target matches a representation (compared by match key),
    /// holding the data of the first representation it matches.
    std::vector<KittyClipboardRepresentation> flattened() const;

    friend bool operator==(const KittyClipboardWriteContent&, const KittyClipboardWriteContent&) = default;
};

/// The answer of a host to a clipboard write. The cases follow the reply statuses from DONE on, so
/// the program sees DONE, EPERM, ENOSYS, EBUSY, EINVAL, EIO or EFBIG.
enum class KittyClipboardWriteResult : uint8_t
{
    success,
    denied,
    unsupported,
    busy,
    invalidData,
    ioError,
    tooLarge,
};

/// A question to the host (and through it the user) whether a program may use a clipboard.
struct KittyClipboardPermissionRequest
{
    KittyClipboardPermissionDirection direction = KittyClipboardPermissionDirection::read;
    KittyClipboardLocation location = KittyClipboardLocation::standard;
    /// The name the program gave itself; may be empty.
    std::string name;
    /// The types to be read, or the types and then the aliases to be written.
    std::vector<std::string> mimeTypes;
    /// True when the request carried both a password and a name, so that "remember" can work.
    bool canRememberPassword = false;

    friend bool operator==(const KittyClipboardPermissionRequest&,
                           const KittyClipboardPermissionRequest&) = default;
};

/// The host's answer to a permission request: allowed (perhaps to be remembered) or denied.
struct KittyClipboardPermissionResult
{
    bool allowed = false;
    /// Remember the request's password for its direction and location.
    bool rememberPassword = false;

    static KittyClipboardPermissionResult allow(bool rememberPassword) { return {true, rememberPassword}; }
    static KittyClipboardPermissionResult deny() { return {false, false}; }

    friend bool operator==(const KittyClipboardPermissionResult&,
                           const KittyClipboardPermissionResult&) = default;
};

/// The contents of a clipboard taken at paste time and offered to a program in a paste event. The
/// program may read it once with the event's token; `read` fetches one type and may refuse (false)
/// or complete later, on any thread, exactly once.
struct TerminalClipboardSnapshot
{
    using ReadFunction = std::function<bool(const std::string& mimeType,
                                            std::function<void(KittyClipboardReadResult)> completion)>;

    KittyClipboardLocation location = KittyClipboardLocation::standard;
    /// The MIME names on offer, in the clipboard's order.
    std::vector<std::string> mimeTypes;
    /// Names the clipboard state the snapshot was taken from (a change counter).
    uint64_t identity = 0;
    /// How long a token for this snapshot may live, in seconds; absent: as long as allowed.
    std::optional<double> expiresAfter;
    ReadFunction read;

    TerminalClipboardSnapshot() = default;
    TerminalClipboardSnapshot(KittyClipboardLocation location, std::vector<std::string> mimeTypes,
                              uint64_t identity, std::optional<double> expiresAfter, ReadFunction read)
        : location(location), mimeTypes(std::move(mimeTypes)), identity(identity), expiresAfter(expiresAfter),
          read(std::move(read))
    {}

    /// Two snapshots are equal when they describe the same clipboard state; the read functions,
    /// which cannot be compared, are left out.
    friend bool operator==(const TerminalClipboardSnapshot& a, const TerminalClipboardSnapshot& b)
    {
        return a.location == b.location && a.mimeTypes == b.mimeTypes && a.identity == b.identity &&
               a.expiresAfter == b.expiresAfter;
    }
};

/// A paste handed to the terminal: text to type, a clipboard snapshot for paste events, or both.
struct TerminalPasteRequest
{
    /// UTF-8 text; absent when the paste carries only a snapshot.
    std::optional<std::string> text;
    std::optional<TerminalClipboardSnapshot> snapshot;

    TerminalPasteRequest() = default;
    explicit TerminalPasteRequest(std::optional<std::string> text) : text(std::move(text)) {}
    TerminalPasteRequest(TerminalClipboardSnapshot snapshot, std::optional<std::string> text)
        : text(std::move(text)), snapshot(std::move(snapshot))
    {}

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
    /// Nothing was sent: the terminal or its host was gone, or a snapshot-only paste could not go
    /// out as an event. The caller may paste text instead.
    failed,
};

/// True when the caller should fall back to pasting text.
constexpr bool needsTextFallback(TerminalPasteResult result)
{
    return result == TerminalPasteResult::failed;
}

} // namespace kestrovan
