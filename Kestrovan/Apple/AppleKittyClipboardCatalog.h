// The MIME types a clipboard offers, as the kitty clipboard protocol names them, and the clipboard
// format each came from.
//
// The toolkit names clipboard formats by MIME type already, sometimes with parameters
// ("text/plain;charset=utf-8"). A format is offered under its type cut at the first ";" and
// trimmed, when that is a valid protocol MIME name; formats that are not (X11 targets such as
// "UTF8_STRING") are left out. The first format of each match key wins, so a program sees each
// type once, and reading it reads the format it came from.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

struct AppleKittyClipboardCatalog
{
    /// The MIME names on offer, in the clipboard's order.
    std::vector<std::string> mimeTypes;
    /// The format of each offered type, by the type's match key.
    std::map<std::string, std::string> identifiersByKey;

    /// The catalog of the clipboard formats `identifiers`, in the clipboard's order.
    explicit AppleKittyClipboardCatalog(const std::vector<std::string>& identifiers);

    /// The format to read for a MIME name (compared by match key); absent when not offered.
    std::optional<std::string> identifier(std::string_view mimeType) const;
    /// The MIME name a format is offered under, or absent when it offers none.
    static std::optional<std::string> mimeTypeOf(std::string_view identifier);
};

} // namespace kestrovan
