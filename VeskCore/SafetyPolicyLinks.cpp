// The link rule: which link texts may be offered for opening in the user's browser.
//
// The text is read as an absolute URL after RFC 3986: a scheme, "//", an authority and the rest.
// The authority must be a host with an optional port; a user or a password ("user:pw@") is
// refused, because "https://bank.example@evil.example" shows one host and opens another. Hosts
// must be ASCII (this code does no IDNA conversion, and look-alike letters are how such links
// mislead). In the path, query and fragment, characters a URL cannot hold literally are
// percent-encoded rather than refused, so that a link to a page with a non-ASCII or spaced name
// opens the page it names.
#include "Kestrovan/Utf8.h"
#include "VeskCore/ControlCharacters.h"
#include "VeskCore/SafetyPolicy.h"

#include <algorithm>
#include <cstdio>

namespace vesk {

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUnreserved(char c)
{
    return isAsciiLetter(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelimiter(char c)
{
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

/// True when a "%" at `index` starts a percent-encoded byte.
bool isPercentEncoding(std::string_view text, size_t index)
{
    return text[index] == '%' && index + 2 < text.size() && isHex(text[index + 1]) && isHex(text[index + 2]);
}

bool isValidScheme(std::string_view scheme)
{
    if (scheme.empty() || !isAsciiLetter(scheme[0]))
        return false;
    return std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return isAsciiLetter(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
    });
}

/// A registered name (unreserved, sub-delimiters, percent-encoded bytes) or a bracketed IP literal.
bool isValidHost(std::string_view host)
{
    if (host.empty())
        return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return false;
        const std::string_view literal = host.substr(1, host.size() - 2);
        return std::all_of(literal.begin(), literal.end(),
                           [](char c) { return isHex(c) || c == ':' || c == '.'; });
    }
    for (size_t i = 0; i < host.size(); ++i) {
        if (host[i] == '%') {
            if (!isPercentEncoding(host, i))
                return false;
            i += 2;
        } else if (!isUnreserved(host[i]) && !isSubDelimiter(host[i])) {
            return false;
        }
    }
    return true;
}

/// Splits an authority into its host and port; none when it holds user information or anything
/// but a valid host and an all-digit port.
std::optional<std::string_view> hostOfAuthority(std::string_view authority)
{
    if (authority.find('@') != std::string_view::npos)
        return std::nullopt;
    size_t hostEnd;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        hostEnd = close + 1;
    } else {
        hostEnd = std::min(authority.find(':'), authority.size());
    }
    const std::string_view host = authority.substr(0, hostEnd);
    std::string_view rest = authority.substr(hostEnd);
    if (!rest.empty()) {
        if (rest.front() != ':')
            return std::nullopt;
        rest.remove_prefix(1);
        if (!std::all_of(rest.begin(), rest.end(), isDigit))
            return std::nullopt;
    }
    if (!isValidHost(host))
        return std::nullopt;
    return host;
}

/// Appends the path, query and fragment, percent-encoding every byte a URL cannot hold there.
void appendEncodedRest(std::string& out, std::string_view rest)
{
    enum class Part
    {
        path,
        query,
        fragment
    } part = Part::path;
    for (size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        bool literal = isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '@' || c == '/' ||
                       isPercentEncoding(rest, i);
        if (c == '?' && part != Part::path) {
            literal = true;
        } else if (c == '?') {
            part = Part::query;
            literal = true;
        } else if (c == '#' && part != Part::fragment) {
            part = Part::fragment;
            literal = true;
        }
        if (literal) {
            out += c;
            continue;
        }
        char encoded[4];
        std::snprintf(encoded, sizeof encoded, "%%%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += encoded;
    }
}

} // namespace

std::optional<AllowedLink> SafetyPolicy::allowedLink(std::string_view text)
{
    if (!kestrovan::isValidUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()}))
        return std::nullopt;
    // Cc and Cf, which take in the bidirectional embeddings, overrides and isolates: a link whose
    // text reads differently from what it opens is never offered.
    for (char32_t scalar : kestrovan::decodeUtf8(text)) {
        if (isControlCharacter(scalar))
            return std::nullopt;
    }

    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || !isValidScheme(text.substr(0, colon)))
        return std::nullopt;
    std::string scheme(text.substr(0, colon));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (std::find(std::begin(allowedLinkSchemes), std::end(allowedLinkSchemes), scheme) ==
        std::end(allowedLinkSchemes))
        return std::nullopt;

    // Without "//" there is no authority, so no host: "https:example.com" is refused.
    const std::string_view afterScheme = text.substr(colon + 1);
    if (afterScheme.substr(0, 2) != "//")
        return std::nullopt;
    const std::string_view hierarchy = afterScheme.substr(2);
    const size_t authorityEnd = std::min(hierarchy.find_first_of("/?#"), hierarchy.size());
    const std::string_view authority = hierarchy.substr(0, authorityEnd);
    const std::optional<std::string_view> host = hostOfAuthority(authority);
    if (!host)
        return std::nullopt;

    AllowedLink link;
    link.absoluteString.reserve(text.size());
    link.absoluteString.append(text.substr(0, colon + 3 + authority.size()));
    appendEncodedRest(link.absoluteString, hierarchy.substr(authorityEnd));
    link.scheme = std::move(scheme);
    link.host = std::string(*host);
    return link;
}

} // namespace vesk
