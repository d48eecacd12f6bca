// One clipboard write as it streams in: the types sent so far with their decoders, the aliases, and
// the limits it was opened with.
//
// Data is decoded packet by packet into one growing buffer per type, and the byte limit is checked
// after every decoded group over all types together, so an oversized write fails as soon as it
// crosses the limit and never holds more than the limit (plus one group). This is the value only;
// the protocol object (KittyClipboardWrite.cpp) decides what each packet means and what is replied.
#pragma once

#include "Kestrovan/KittyClipboardBase64Decoder.h"
#include "Kestrovan/KittyClipboardPacket.h"
#include "Kestrovan/KittyClipboardTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

struct KittyClipboardWriteTransaction
{
    /// The protocol's write serial when the transaction opened.
    uint64_t serial = 0;
    KittyClipboardLocation location = KittyClipboardLocation::standard;
    std::string id;
    std::string password;
    std::string name;
    /// The most decoded bytes over all types.
    int64_t byteLimit = 0;
    int64_t representationLimit = 1;
    int64_t aliasLimit = 0;
    /// The type names as first written, in arrival order.
    std::vector<std::string> mimes;
    /// One decoder per entry of `mimes`.
    std::vector<KittyClipboardBase64Decoder> decoders;
    /// Match key of a type to its index in `mimes`.
    std::unordered_map<std::string, size_t> indexByMime;
    std::vector<KittyClipboardAlias> aliases;
    /// Match key of an alias name to its index in `aliases`.
    std::unordered_map<std::string, size_t> aliasIndexByName;
    /// Decoded bytes over all types.
    int64_t decodedBytes = 0;
    /// The type being streamed; a type can only be sent as one unbroken run of packets.
    std::optional<size_t> activeIndex;

    /// Feeds one data packet for `mime`; a status ends the transaction with that reply.
    std::optional<KittyClipboardStatus> append(const std::string& mime, std::span<const uint8_t> payload);
    /// Adds one alias `word` for `target`; a status ends the transaction with that reply.
    std::optional<KittyClipboardStatus> addAliases(const std::string& target, std::string_view word);
    /// The content to write, moving the decoded data out; absent when a type ended mid-group.
    std::optional<KittyClipboardWriteContent> commit();
};

} // namespace kestrovan
