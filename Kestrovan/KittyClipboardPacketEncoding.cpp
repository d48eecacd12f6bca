// The reply packets of the clipboard protocol. Each is ESC ] 5522;type=OP:status=STATUS, optional
// fields, then ESC \; packets sent together are concatenated into one write. The frame is always
// the 7-bit one: paste events travel outside the reply path, and every client of the protocol
// parses that form.
#include "Kestrovan/Base64.h"
#include "Kestrovan/KittyClipboardProtocol.h"

#include <algorithm>
#include <string_view>

namespace kestrovan {

namespace {

/// The most data bytes one DATA packet carries.
constexpr size_t maximumDataBytes = 4096;

void append(std::vector<uint8_t>& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void appendBase64(std::vector<uint8_t>& out, std::span<const uint8_t> bytes)
{
    append(out, base64Encode(bytes));
}

void appendBase64(std::vector<uint8_t>& out, std::string_view text)
{
    appendBase64(out, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

/// ESC ] 5522;type=OP:status=STATUS, without the end.
void openPacket(std::vector<uint8_t>& out, KittyClipboardOperation operation, KittyClipboardStatus status)
{
    append(out, "\x1b]5522;type=");
    append(out, wireWord(operation));
    append(out, ":status=");
    append(out, wireWord(status));
}

void appendID(std::vector<uint8_t>& out, const std::string& id)
{
    if (id.empty())
        return;
    append(out, ":id=");
    append(out, id);
}

void closePacket(std::vector<uint8_t>& out)
{
    append(out, "\x1b\\");
}

void appendPacket(std::vector<uint8_t>& out, KittyClipboardOperation operation, KittyClipboardStatus status,
                  const std::string& id)
{
    openPacket(out, operation, status);
    appendID(out, id);
    closePacket(out);
}

} // namespace

std::vector<uint8_t> KittyClipboardProtocol::encodePacket(KittyClipboardOperation operation,
                                                          KittyClipboardStatus status, const std::string& id)
{
    std::vector<uint8_t> out;
    appendPacket(out, operation, status, id);
    return out;
}

std::vector<uint8_t> KittyClipboardProtocol::encodeMimeList(const std::vector<std::string>& mimeTypes,
                                                            std::optional<KittyClipboardLocation> location,
                                                            const std::string& id,
                                                            const std::optional<std::string>& password)
{
    std::vector<uint8_t> out;
    openPacket(out, KittyClipboardOperation::read, KittyClipboardStatus::ok);
    if (location == KittyClipboardLocation::primary)
        append(out, ":loc=primary");
    appendID(out, id);
    if (password && !password->empty()) {
        append(out, ":pw=");
        appendBase64(out, *password);
    }
    closePacket(out);

    // The list travels as the data of the pseudo-type "." (base64 "Lg=="): the types joined by
    // spaces and ended by a line feed, or nothing at all for an empty list.
    openPacket(out, KittyClipboardOperation::read, KittyClipboardStatus::data);
    appendID(out, id);
    append(out, ":mime=Lg==;");
    if (!mimeTypes.empty()) {
        std::string list;
        for (const std::string& type : mimeTypes) {
            if (!list.empty())
                list.push_back(' ');
            list += type;
        }
        list.push_back('\n');
        appendBase64(out, list);
    }
    closePacket(out);

    appendPacket(out, KittyClipboardOperation::read, KittyClipboardStatus::done, id);
    return out;
}

std::vector<uint8_t>
KittyClipboardProtocol::encodeReadSuccess(const std::string& id,
                                          const std::vector<KittyClipboardRepresentation>& representations)
{
    std::vector<uint8_t> out;
    appendPacket(out, KittyClipboardOperation::read, KittyClipboardStatus::ok, id);
    for (const KittyClipboardRepresentation& representation : representations) {
        const std::span<const uint8_t> data(representation.data);
        // An empty representation still gets its one (empty) DATA packet.
        size_t offset = 0;
        do {
            const size_t length = std::min(maximumDataBytes, data.size() - offset);
            openPacket(out, KittyClipboardOperation::read, KittyClipboardStatus::data);
            appendID(out, id);
            append(out, ":mime=");
            appendBase64(out, representation.mimeType);
            out.push_back(';');
            appendBase64(out, data.subspan(offset, length));
            closePacket(out);
            offset += length;
        } while (offset < data.size());
    }
    appendPacket(out, KittyClipboardOperation::read, KittyClipboardStatus::done, id);
    return out;
}

} // namespace kestrovan
