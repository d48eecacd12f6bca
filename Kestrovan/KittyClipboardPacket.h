// The byte grammar of OSC 5522 packets, from the program to the terminal: the operations and reply
// statuses, the metadata before the first ";" with its validation, MIME names, and the word scanner
// of type and alias lists. The replies going the other way are built by the encoders of
// `KittyClipboardProtocol` (KittyClipboardPacketEncoding.cpp).
//
// Nothing here keeps state. Every field value that comes from a program is bounded before it is
// kept: ids are cleaned and cut to 512 bytes, base64 texts to 4096 decoded bytes.
#pragma once

#include "Kestrovan/KittyClipboardTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kestrovan {

/// The "type" of a packet.
enum class KittyClipboardOperation : uint8_t
{
    read,
    write,
    wdata,
    walias,
};

/// The wire word of an operation: "read", "write", "wdata" or "walias".
std::string_view wireWord(KittyClipboardOperation operation);

/// The "status" of a reply. The wire words are the upper-case names ("OK", "EPERM", ...); the cases
/// are spelled in lower case because <cerrno> defines the error names as macros.
enum class KittyClipboardStatus : uint8_t
{
    ok,
    data,
    done,
    eperm,
    enosys,
    ebusy,
    einval,
    eio,
    efbig,
};

/// "OK", "DATA", "DONE", "EPERM", "ENOSYS", "EBUSY", "EINVAL", "EIO" or "EFBIG".
std::string_view wireWord(KittyClipboardStatus status);

/// The reply status of a host's write result: DONE for success, then the errors in order.
KittyClipboardStatus statusFor(KittyClipboardWriteResult result);

/// The metadata of one packet. Absent fields are empty.
struct KittyClipboardMetadata
{
    KittyClipboardOperation operation = KittyClipboardOperation::read;
    KittyClipboardLocation location = KittyClipboardLocation::standard;
    std::string id;
    std::string mime;
    std::string name;
    std::string password;

    /// A packet whose type was recognised but a value is bad. The operation and the cleaned id are
    /// kept so that an error reply can name them.
    struct InvalidValue
    {
        KittyClipboardOperation operation;
        std::string id;
    };
    /// A packet that cannot be recognised at all; it is dropped without a reply.
    struct InvalidSyntax
    {};
    using ParseResult = std::variant<KittyClipboardMetadata, InvalidValue, InvalidSyntax>;

    /// Parses the metadata: ":"-separated key=value fields, the last of a repeated key winning.
    static ParseResult parse(std::span<const uint8_t> bytes);
    /// The id as kept: only ASCII letters, digits and "+-._", at most 512 bytes. Never rejected.
    static std::string sanitizedID(std::optional<std::span<const uint8_t>> value);
    /// The UTF-8 text of a base64 field value (empty when absent or empty); absent when the value
    /// is not complete base64 of at most 4096 bytes of valid UTF-8.
    static std::optional<std::string> decodeText(std::optional<std::span<const uint8_t>> value);

    static constexpr size_t maximumIDBytes = 512;
    static constexpr int64_t maximumTextBytes = 4096;

    friend bool operator==(const KittyClipboardMetadata&, const KittyClipboardMetadata&) = default;
};

/// MIME type names as the protocol accepts them (RFC 6838 restricted names, no parameters).
struct KittyClipboardMime
{
    /// 3 to 255 bytes, one "/" that is neither first nor last, every other byte a letter, a digit
    /// or one of "!#$&+-.^_".
    static bool isValid(std::string_view name);
    /// The name with ASCII upper-case letters lowered; two names with equal keys are one type.
    static std::string matchKey(std::string_view name);
};

/// Calls `word` with each maximal run of bytes that are not ASCII white space (bytes 9 to 13 and
/// 32), in order, until it returns false.
template <typename F> void scanASCIIWords(std::span<const uint8_t> bytes, F&& word)
{
    auto isSpace = [](uint8_t byte) { return byte == ' ' || (byte >= 9 && byte <= 13); };
    size_t index = 0;
    while (index < bytes.size()) {
        while (index < bytes.size() && isSpace(bytes[index]))
            ++index;
        const size_t start = index;
        while (index < bytes.size() && !isSpace(bytes[index]))
            ++index;
        if (index > start && !word(bytes.subspan(start, index - start)))
            return;
    }
}

} // namespace kestrovan
