#include "Kestrovan/Mac/LinkURL.h"

#include <cctype>

namespace kestrovan {

namespace {

bool isHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return (std::tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

// Characters no part of a URL may hold as they are (they must be escaped), besides the controls.
bool isForbidden(unsigned char c)
{
    switch (c) {
    case ' ':
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return true;
    default:
        return c < 0x20 || c == 0x7F;
    }
}

// Every "%" starts a two-digit escape.
bool escapesAreWellFormed(std::string_view text)
{
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%')
            continue;
        if (index + 2 >= text.size() || !isHexDigit(text[index + 1]) || !isHexDigit(text[index + 2]))
            return false;
        index += 2;
    }
    return true;
}

std::optional<std::string> schemeOf(std::string_view text)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    if (!std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    for (size_t index = 1; index < colon; ++index) {
        const auto c = static_cast<unsigned char>(text[index]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    return std::string(text.substr(0, colon));
}

// host[:port] of an authority without its user information; false for a malformed one.
bool parseHostAndPort(std::string_view hostPort, std::string& host)
{
    std::string_view rest;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            return false;
        host = std::string(hostPort.substr(1, close - 1));
        rest = hostPort.substr(close + 1);
    } else {
        const size_t colon = hostPort.find(':');
        host = std::string(hostPort.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : hostPort.substr(colon);
    }
    if (host.find_first_of("[]") != std::string::npos)
        return false;
    if (rest.empty())
        return true;
    if (rest.front() != ':')
        return false;
    for (const char c : rest.substr(1))
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

std::optional<LinkURL> LinkURL::parse(std::string_view text)
{
    for (const char c : text)
        if (isForbidden(static_cast<unsigned char>(c)))
            return std::nullopt;
    if (!escapesAreWellFormed(text))
        return std::nullopt;

    LinkURL url;
    std::string_view rest = text;
    if (const std::optional<std::string> scheme = schemeOf(text)) {
        url.scheme = *scheme;
        rest.remove_prefix(scheme->size() + 1);
    }
    // The fragment runs from the first "#", the query from the first "?" before it.
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const size_t question = rest.find('?'); question != std::string_view::npos) {
        url.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
            authority.remove_prefix(at + 1);
        std::string host;
        if (!parseHostAndPort(authority, host))
            return std::nullopt;
        url.host = std::move(host);
    }
    if (rest.find_first_of("[]") != std::string_view::npos)
        return std::nullopt;
    url.path = std::string(rest);
    return url;
}

std::optional<std::string> LinkURL::percentDecoded(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%') {
            decoded.push_back(text[index]);
            continue;
        }
        if (index + 2 >= text.size() || !isHexDigit(text[index + 1]) || !isHexDigit(text[index + 2]))
            return std::nullopt;
        const char byte = char(hexValue(text[index + 1]) * 16 + hexValue(text[index + 2]));
        if (byte == '\0')
            return std::nullopt;
        decoded.push_back(byte);
        index += 2;
    }
    return decoded;
}

std::string LinkURL::fileURLString(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        // Unreserved characters, "/" and the sub-delimiters a path segment may hold stay.
        if (std::isalnum(byte) || std::string_view("-._~/!$&'()*+,;=:@").find(c) != std::string_view::npos) {
            url.push_back(c);
            continue;
        }
        url.push_back('%');
        url.push_back(hex[byte >> 4]);
        url.push_back(hex[byte & 0x0F]);
    }
    return url;
}

} // namespace kestrovan
