#include "Kestrovan/Apple/AppleKittyClipboardCatalog.h"

#include "Kestrovan/KittyClipboardPacket.h"

namespace kestrovan {

namespace {

std::string_view trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

std::optional<std::string> AppleKittyClipboardCatalog::mimeTypeOf(std::string_view identifier)
{
    // Parameters (a charset) are not part of a protocol MIME name.
    const std::string_view name = trimmed(identifier.substr(0, identifier.find(';')));
    if (!KittyClipboardMime::isValid(name))
        return std::nullopt;
    return std::string(name);
}

AppleKittyClipboardCatalog::AppleKittyClipboardCatalog(const std::vector<std::string>& identifiers)
{
    for (const std::string& identifier : identifiers) {
        const std::optional<std::string> mimeType = mimeTypeOf(identifier);
        if (!mimeType)
            continue;
        const auto [slot, inserted] =
            identifiersByKey.emplace(KittyClipboardMime::matchKey(*mimeType), identifier);
        if (inserted)
            mimeTypes.push_back(*mimeType);
    }
}

std::optional<std::string> AppleKittyClipboardCatalog::identifier(std::string_view mimeType) const
{
    const auto found = identifiersByKey.find(KittyClipboardMime::matchKey(mimeType));
    if (found == identifiersByKey.end())
        return std::nullopt;
    return found->second;
}

} // namespace kestrovan
