// The streaming state of one clipboard write: types, their decoders, aliases and the limits.
#include "Kestrovan/KittyClipboardWriteTransaction.h"

#include <unordered_set>

namespace kestrovan {

std::optional<KittyClipboardStatus> KittyClipboardWriteTransaction::append(const std::string& mime,
                                                                           std::span<const uint8_t> payload)
{
    if (!KittyClipboardMime::isValid(mime))
        return KittyClipboardStatus::einval;
    const std::string key = KittyClipboardMime::matchKey(mime);

    size_t index;
    if (activeIndex && KittyClipboardMime::matchKey(mimes[*activeIndex]) == key) {
        // The next packet of the type being streamed, however its name is cased.
        index = *activeIndex;
    } else {
        // A type sent before another one came, or a name already used for an alias, would make
        // the content ambiguous.
        if (indexByMime.count(key) || aliasIndexByName.count(key))
            return KittyClipboardStatus::einval;
        if (static_cast<int64_t>(mimes.size()) >= representationLimit)
            return KittyClipboardStatus::efbig;
        index = mimes.size();
        mimes.push_back(mime);
        decoders.emplace_back();
        indexByMime.emplace(key, index);
        activeIndex = index;
    }

    // The limit is over all types: this type may hold what the others leave over.
    KittyClipboardBase64Decoder& decoder = decoders[index];
    const int64_t before = static_cast<int64_t>(decoder.decoded.size());
    const std::optional<KittyClipboardBase64Decoder::Failure> failure =
        decoder.append(payload, byteLimit - (decodedBytes - before));
    decodedBytes += static_cast<int64_t>(decoder.decoded.size()) - before;
    if (!failure)
        return std::nullopt;
    return *failure == KittyClipboardBase64Decoder::Failure::tooLarge ? KittyClipboardStatus::efbig
                                                                      : KittyClipboardStatus::einval;
}

std::optional<KittyClipboardStatus> KittyClipboardWriteTransaction::addAliases(const std::string& target,
                                                                               std::string_view word)
{
    if (!KittyClipboardMime::isValid(word))
        return KittyClipboardStatus::einval;
    const std::string key = KittyClipboardMime::matchKey(word);
    // A type is trivially its own alias.
    if (key == KittyClipboardMime::matchKey(target))
        return std::nullopt;
    if (indexByMime.count(key))
        return KittyClipboardStatus::einval;
    if (const auto found = aliasIndexByName.find(key); found != aliasIndexByName.end()) {
        aliases[found->second] = {std::string(word), target};
        return std::nullopt;
    }
    // A program could otherwise grow the list without bound with one long alias packet after
    // another.
    if (static_cast<int64_t>(aliases.size()) >= aliasLimit)
        return KittyClipboardStatus::efbig;
    aliasIndexByName.emplace(key, aliases.size());
    aliases.push_back({std::string(word), target});
    return std::nullopt;
}

std::optional<KittyClipboardWriteContent> KittyClipboardWriteTransaction::commit()
{
    for (const KittyClipboardBase64Decoder& decoder : decoders) {
        if (!decoder.isComplete())
            return std::nullopt;
    }
    // The decoded buffers move into the content: a 64 MiB write is never held twice.
    KittyClipboardWriteContent content;
    content.representations.reserve(mimes.size());
    for (size_t i = 0; i < mimes.size(); ++i)
        content.representations.push_back({mimes[i], std::move(decoders[i].decoded)});
    decoders.clear();
    decodedBytes = 0;
    // Aliases may name a target before it is sent; those whose target never came are dropped.
    for (KittyClipboardAlias& alias : aliases) {
        if (indexByMime.count(KittyClipboardMime::matchKey(alias.target)))
            content.aliases.push_back(std::move(alias));
    }
    aliases.clear();
    return content;
}

std::vector<KittyClipboardRepresentation> KittyClipboardWriteContent::flattened() const
{
    // Names are compared by match key: a host that stores "TEXT/PLAIN" and "text/plain" apart
    // would otherwise hold one type twice.
    std::vector<KittyClipboardRepresentation> result = representations;
    std::unordered_set<std::string> collected;
    for (const KittyClipboardRepresentation& representation : representations)
        collected.insert(KittyClipboardMime::matchKey(representation.mimeType));
    for (const KittyClipboardAlias& alias : aliases) {
        const std::string key = KittyClipboardMime::matchKey(alias.name);
        if (collected.count(key))
            continue;
        const std::string targetKey = KittyClipboardMime::matchKey(alias.target);
        for (const KittyClipboardRepresentation& representation : representations) {
            if (KittyClipboardMime::matchKey(representation.mimeType) == targetKey) {
                result.push_back({alias.name, representation.data});
                collected.insert(key);
                break;
            }
        }
    }
    return result;
}

} // namespace kestrovan
