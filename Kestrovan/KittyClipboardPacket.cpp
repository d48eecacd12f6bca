// Parsing and validating the metadata of OSC 5522 packets, and the names on the wire.
#include "Kestrovan/KittyClipboardPacket.h"

#include "Kestrovan/KittyClipboardBase64Decoder.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>

namespace kestrovan {

namespace {

using Bytes = std::span<const uint8_t>;

/// Byte-for-byte comparison: keys and words are case-sensitive.
bool equals(Bytes bytes, std::string_view text)
{
    return bytes.size() == text.size() && std::equal(bytes.begin(), bytes.end(), text.begin());
}

std::optional<KittyClipboardOperation> operationFromWord(Bytes word)
{
    for (KittyClipboardOperation operation :
         {KittyClipboardOperation::read, KittyClipboardOperation::write, KittyClipboardOperation::wdata,
          KittyClipboardOperation::walias}) {
        if (equals(word, wireWord(operation)))
            return operation;
    }
    return std::nullopt;
}

bool isASCIIAlphanumeric(uint8_t byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
}

} // namespace

std::string_view wireWord(KittyClipboardOperation operation)
{
    switch (operation) {
    case KittyClipboardOperation::read:
        return "read";
    case KittyClipboardOperation::write:
        return "write";
    case KittyClipboardOperation::wdata:
        return "wdata";
    case KittyClipboardOperation::walias:
        return "walias";
    }
    return "read";
}

std::string_view wireWord(KittyClipboardStatus status)
{
    static constexpr std::string_view words[] = {"OK",    "DATA",   "DONE", "EPERM", "ENOSYS",
                                                 "EBUSY", "EINVAL", "EIO",  "EFBIG"};
    return words[static_cast<size_t>(status)];
}

KittyClipboardStatus statusFor(KittyClipboardWriteResult result)
{
    // The results are listed in the order of the statuses from DONE on.
    return static_cast<KittyClipboardStatus>(static_cast<int>(result) +
                                             static_cast<int>(KittyClipboardStatus::done));
}

KittyClipboardMetadata::ParseResult KittyClipboardMetadata::parse(Bytes bytes)
{
    // A spoiled field does not stop the scan: the type may come later, and a recognised request
    // is answered with an error rather than dropped.
    bool malformed = false;
    // The value of each known key, the last occurrence winning; absent when the key never came.
    std::optional<Bytes> type, loc, id, mime, name, pw;

    size_t start = 0;
    while (start <= bytes.size()) {
        const auto colon = std::find(bytes.begin() + static_cast<ptrdiff_t>(start), bytes.end(), ':');
        const size_t end = static_cast<size_t>(colon - bytes.begin());
        const Bytes field = bytes.subspan(start, end - start);
        // Cut at the first "=": a base64 value may itself end in "=".
        const auto equalsSign = std::find(field.begin(), field.end(), '=');
        if (field.empty() || equalsSign == field.end()) {
            // An empty field (":" first, last or doubled) or one without "=" spoils the packet, but
            // the type is still read so that a recognised request can be answered with an error.
            malformed = true;
        } else {
            const Bytes key = field.first(static_cast<size_t>(equalsSign - field.begin()));
            const Bytes value = field.subspan(key.size() + 1);
            if (equals(key, "type"))
                type = value;
            else if (equals(key, "loc"))
                loc = value;
            else if (equals(key, "id"))
                id = value;
            else if (equals(key, "mime"))
                mime = value;
            else if (equals(key, "name"))
                name = value;
            else if (equals(key, "pw"))
                pw = value;
            // Other keys, the empty one included, are left for later versions of the protocol.
        }
        if (colon == bytes.end())
            break;
        start = end + 1;
    }

    // Without a known type there is no request to answer.
    const std::optional<KittyClipboardOperation> operation = type ? operationFromWord(*type) : std::nullopt;
    if (!operation)
        return InvalidSyntax{};
    std::string cleanID = sanitizedID(id);
    if (malformed)
        return InvalidValue{*operation, std::move(cleanID)};

    KittyClipboardMetadata metadata;
    metadata.operation = *operation;
    metadata.id = std::move(cleanID);
    // An empty location is the standard clipboard; any word but "primary" is an error, so that a
    // program asking for a clipboard the terminal does not have is not served another one.
    if (loc && !loc->empty()) {
        if (!equals(*loc, "primary"))
            return InvalidValue{*operation, std::move(metadata.id)};
        metadata.location = KittyClipboardLocation::primary;
    }
    // The texts are base64 so that they can hold ":" and ";"; the first bad one spoils the packet.
    std::optional<std::string> mimeText = decodeText(mime);
    if (!mimeText)
        return InvalidValue{*operation, std::move(metadata.id)};
    std::optional<std::string> nameText = decodeText(name);
    if (!nameText)
        return InvalidValue{*operation, std::move(metadata.id)};
    std::optional<std::string> passwordText = decodeText(pw);
    if (!passwordText)
        return InvalidValue{*operation, std::move(metadata.id)};
    metadata.mime = std::move(*mimeText);
    metadata.name = std::move(*nameText);
    metadata.password = std::move(*passwordText);
    return metadata;
}

std::string KittyClipboardMetadata::sanitizedID(std::optional<Bytes> value)
{
    std::string id;
    if (!value)
        return id;
    // The id is echoed in replies: only bytes that cannot end or confuse a packet are kept, and
    // only so many that a reply stays small.
    for (const uint8_t byte : *value) {
        if (id.size() == maximumIDBytes)
            break;
        if (isASCIIAlphanumeric(byte) || byte == '+' || byte == '-' || byte == '.' || byte == '_')
            id.push_back(static_cast<char>(byte));
    }
    return id;
}

std::optional<std::string> KittyClipboardMetadata::decodeText(std::optional<Bytes> value)
{
    if (!value || value->empty())
        return std::string();
    KittyClipboardBase64Decoder decoder;
    if (decoder.append(*value, maximumTextBytes) || !decoder.isComplete())
        return std::nullopt;
    // Names and passwords are shown to the user and compared byte for byte: no repair.
    if (!isValidUtf8(decoder.decoded))
        return std::nullopt;
    return std::string(decoder.decoded.begin(), decoder.decoded.end());
}

bool KittyClipboardMime::isValid(std::string_view name)
{
    if (name.size() < 3 || name.size() > 255)
        return false;
    const size_t slash = name.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash == name.size() - 1)
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (i == slash)
            continue;
        const auto byte = static_cast<uint8_t>(name[i]);
        if (isASCIIAlphanumeric(byte))
            continue;
        // The restricted-name punctuation of RFC 6838; a second "/" is not among it.
        if (std::string_view("!#$&+-.^_").find(static_cast<char>(byte)) == std::string_view::npos)
            return false;
    }
    return true;
}

std::string KittyClipboardMime::matchKey(std::string_view name)
{
    std::string key(name);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

} // namespace kestrovan
