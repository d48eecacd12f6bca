// OSC 1337: the capability report and inline file transfers. Every other OSC 1337 form is handed
// to the host unchanged through `iTermContent`; the image of an inline file is made by the host
// from the decoded bytes and the requested size.
//
// Malformed transfers are dropped or handed to the host as opaque content; there is no error
// reply. The only reply, the capability report, carries the host's own feature text and is sent
// only when that text is letters and digits.
#include "Kestrovan/Base64.h"
#include "Kestrovan/OscPayloadText.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <map>

namespace kestrovan {

namespace {

using FileArguments = std::map<std::string, std::string, std::less<>>;

bool isLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/// The key=value pairs between "File=" and ":". Reading stops, keeping what it has, at an empty
/// segment, a segment without "=" or text that is not UTF-8.
FileArguments parseFileArguments(std::span<const uint8_t> bytes)
{
    FileArguments arguments;
    for (std::string_view segment : splitPayload(payloadText(bytes), ';', EmptyPieces::keep)) {
        const size_t equals = segment.find('=');
        if (segment.empty() || equals == std::string_view::npos)
            break;
        const std::string_view key = segment.substr(0, equals);
        const std::string_view value = segment.substr(equals + 1);
        if (!isValidUtf8(payloadBytes(key)) || !isValidUtf8(payloadBytes(value)))
            break;
        // A later duplicate replaces an earlier one.
        arguments.insert_or_assign(std::string(key), std::string(value));
    }
    return arguments;
}

/// The number of a size request when it lies in 1 ... maximum; otherwise the request is `auto`.
ImageSizeRequest sizeInRange(std::string_view number, int maximum, ImageSizeRequest (*make)(int))
{
    const std::optional<int64_t> value = parseSignedInteger(number);
    if (!value || *value < 1 || *value > maximum)
        return ImageSizeRequest::automatic();
    return make(static_cast<int>(*value));
}

/// "auto" or absent, "N%" (1-100), "Npx" (1-4095) or "N" cells (1-199); anything else is `auto`.
ImageSizeRequest parseSizeRequest(const FileArguments& arguments, std::string_view key)
{
    const auto found = arguments.find(key);
    if (found == arguments.end() || found->second.empty() || found->second == "auto")
        return ImageSizeRequest::automatic();
    const std::string_view value = found->second;
    if (value.ends_with('%'))
        return sizeInRange(value.substr(0, value.size() - 1), 100, &ImageSizeRequest::percent);
    if (value.ends_with("px"))
        return sizeInRange(value.substr(0, value.size() - 2), 4095, &ImageSizeRequest::pixels);
    return sizeInRange(value, 199, &ImageSizeRequest::cells);
}

} // namespace

void Terminal::osciTerm2(Bytes data)
{
    const std::string_view text = payloadText(data);
    if (text == "Capabilities") {
        // The report is the host's text; anything but letters and digits could smuggle controls
        // or separators into the reply, so such a report is not sent at all.
        const std::optional<std::string>& report = _options.featureReport;
        if (!report || !std::all_of(report->begin(), report->end(), isLetterOrDigit))
            return;
        sendResponse(cc_.OSC(), "1337;Capabilities=" + *report, cc_.ST());
        return;
    }

    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return;
    const std::string_view key = text.substr(0, equals);
    if (!isValidUtf8(payloadBytes(key)))
        return;
    auto host = delegate();
    if (key != "File") {
        if (host)
            host->iTermContent(*this, data);
        return;
    }

    // File=arguments:base64
    const size_t colon = text.find(':', equals + 1);
    if (colon == std::string_view::npos)
        return;
    const FileArguments arguments = parseFileArguments(data.subspan(equals + 1, colon - equals - 1));
    const auto inlineArgument = arguments.find("inline");
    if (inlineArgument == arguments.end() || inlineArgument->second != "1") {
        // A file that is not meant to be shown inline is the host's business.
        if (host)
            host->iTermContent(*this, data);
        return;
    }

    const std::optional<std::vector<uint8_t>> file = base64DecodeStrict(data.subspan(colon + 1));
    if (!file)
        return;
    const ImageSizeRequest width = parseSizeRequest(arguments, "width");
    const ImageSizeRequest height = parseSizeRequest(arguments, "height");
    const auto aspect = arguments.find("preserveAspectRatio");
    const bool preserveAspectRatio = aspect == arguments.end() || aspect->second == "1";
    if (host)
        host->createImage(*this, *file, width, height, preserveAspectRatio);
}

} // namespace kestrovan
