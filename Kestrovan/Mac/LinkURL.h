// A link target split into the parts of a URL, as far as the link-safety policy needs them: the
// scheme, the authority's host, the path, the query and the fragment.
//
// The parse follows RFC 3986's generic syntax and is strict where the policy must not guess: a
// space, a quote, angle brackets, a backslash, a caret, a backquote, braces, a bar, a bare "%" or
// square brackets outside the host make the text no URL at all, and so does a port that is not a
// number. Text before the first ":" counts as a scheme only when it is one (a letter, then letters,
// digits, "+", "-" or "."), so "src/main.c:12" has none. Bytes above 0x7F are taken as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrovan {

struct LinkURL
{
    /// The scheme as written; empty for a text without one (a relative reference).
    std::string scheme;
    /// The host of an authority ("//host"), without brackets; absent without an authority.
    std::optional<std::string> host;
    /// The path as written, percent escapes kept.
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    /// The parts of `text`, or none when it is no URL.
    static std::optional<LinkURL> parse(std::string_view text);

    /// `text` with every %XX escape replaced by its byte; none for a malformed escape or an escaped
    /// NUL, which no path may hold.
    static std::optional<std::string> percentDecoded(std::string_view text);
    /// The file URL naming the absolute path `path`, with bytes that a URL path cannot hold escaped.
    static std::string fileURLString(std::string_view path);

    friend bool operator==(const LinkURL&, const LinkURL&) = default;
};

} // namespace kestrovan
