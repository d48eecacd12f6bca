#include "Kestrovan/Mac/UntrustedTerminalLink.h"

#include "Kestrovan/Mac/LinkURL.h"
#include "Kestrovan/Utf8.h"
#include "Platform/UI/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace kestrovan {

namespace {

// File extensions that mark something runnable: bundles, scripts, installers and launchers, of
// this desktop and of the others whose files travel (a .desktop file runs its Exec line; an
// .AppImage, a .deb or a .flatpakref installs or runs software).
constexpr std::string_view unsafeExtensions[] = {
    "action",   "app",          "applescript", "class", "command",    "desktop",     "inetloc",
    "jar",      "mobileconfig", "mpkg",        "pkg",   "scpt",       "terminal",    "tool",
    "url",      "webloc",       "workflow",    "sh",    "bash",       "zsh",         "ksh",
    "csh",      "fish",         "py",          "pl",    "rb",         "run",         "bin",
    "appimage", "deb",          "rpm",         "snap",  "flatpakref", "flatpakrepo", "exe",
    "msi",      "com",          "bat",         "cmd",   "ps1",        "vbs",         "jnlp",
};

// Content types that run code when the desktop opens them, each with the types that are kinds of
// it. Scripts are listed by their own types: not every script type is filed under the executable
// types, and "can be executable" in GIO's sense takes in all plain text, so it cannot serve.
constexpr std::string_view unsafeContentTypes[] = {
    "application/x-executable",
    "application/x-sharedlib",
    "application/x-pie-executable",
    "application/x-shellscript",
    "application/x-desktop",
    "application/vnd.appimage",
    "application/x-iso9660-appimage",
    "application/vnd.debian.binary-package",
    "application/x-rpm",
    "application/x-ms-dos-executable",
    "application/x-msi",
    "application/x-java-archive",
    "application/x-java-jnlp-file",
    "application/vnd.flatpak.ref",
    // Script types.
    "text/x-python",
    "text/x-python3",
    "application/x-perl",
    "application/x-ruby",
    "application/x-php",
    "application/javascript",
    "text/javascript",
    "application/x-awk",
    "text/x-lua",
    "text/x-tcl",
    "application/x-csh",
    "application/x-powershell",
};

std::string lowerCased(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

/// The text after the last "." of the last path component, lower-cased; empty without one.
std::string lowerCaseExtension(std::string_view path)
{
    const size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return {};
    return lowerCased(name.substr(dot + 1));
}

/// An absolute path with empty, "." and ".." segments folded away, without touching the disk.
std::string standardizedPath(std::string_view path)
{
    std::vector<std::string_view> segments;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string_view segment : segments) {
        result += '/';
        result += segment;
    }
    return result.empty() ? "/" : result;
}

bool isValidUtf8Text(std::string_view text)
{
    return isValidUtf8(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

} // namespace

const char* UntrustedTerminalLink::informativeText(DenialReason reason)
{
    switch (reason) {
    case DenialReason::malformedURL:
        return "The target is not an absolute URL with a scheme.";
    case DenialReason::unsafeCharacters:
        return "The target contains invisible characters or line breaks.";
    case DenialReason::invalidWebURL:
        return "The web target does not have a valid host.";
    case DenialReason::inaccessibleFile:
        return "The local target does not exist or is not a regular file or directory.";
    case DenialReason::unsafeFile:
        return "This local target can run code.";
    }
    return "";
}

bool UntrustedTerminalLink::isUnsafeScalar(char32_t c)
{
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F) || c == 0x061C || (c >= 0x200B && c <= 0x200F) ||
           c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || c == 0x2060 ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

bool UntrustedTerminalLink::containsUnsafeCharacters(std::string_view text)
{
    // Text that is not UTF-8 cannot be shown as it would be opened.
    if (!isValidUtf8Text(text))
        return true;
    const std::u32string scalars = platform::scalarsFromUtf8(text);
    return std::any_of(scalars.begin(), scalars.end(), isUnsafeScalar);
}

bool UntrustedTerminalLink::isUnsafeExtension(std::string_view lowerCaseExtension)
{
    return std::find(std::begin(unsafeExtensions), std::end(unsafeExtensions), lowerCaseExtension) !=
           std::end(unsafeExtensions);
}

UntrustedTerminalLink::Decision UntrustedTerminalLink::decision(const LinkFileSystem& fileSystem) const
{
    if (string.empty())
        return Decision::deny(DenialReason::malformedURL);
    if (containsUnsafeCharacters(string))
        return Decision::deny(DenialReason::unsafeCharacters);
    const std::optional<LinkURL> url = LinkURL::parse(string);
    if (!url || url->scheme.empty())
        return Decision::deny(DenialReason::malformedURL);
    const std::string scheme = lowerCased(url->scheme);
    if (scheme == "http" || scheme == "https") {
        if (url->host && !url->host->empty())
            return Decision::allow(string);
        return Decision::deny(DenialReason::invalidWebURL);
    }
    if (scheme == "mailto") {
        // A mail link names an address (its path); "mailto:" alone names nobody.
        if (url->path.empty())
            return Decision::deny(DenialReason::malformedURL);
        return Decision::allow(string);
    }
    if (scheme == "file")
        return fileDecision(*url, fileSystem);
    return Decision::confirm(string);
}

UntrustedTerminalLink::Decision UntrustedTerminalLink::fileDecision(const LinkURL& url,
                                                                    const LinkFileSystem& fileSystem) const
{
    if (url.query || url.fragment)
        return Decision::deny(DenialReason::malformedURL);
    // This machine by any name: none, "localhost", or its own host name (which `ls --hyperlink`
    // writes), in any case.
    if (url.host && !url.host->empty()) {
        const std::string host = lowerCased(*url.host);
        if (host != "localhost" && host != lowerCased(fileSystem.hostName()))
            return Decision::deny(DenialReason::malformedURL);
    }
    // A relative path would be judged against whatever directory this process happens to be in.
    const std::optional<std::string> path = LinkURL::percentDecoded(url.path);
    if (!path || path->empty() || path->front() != '/')
        return Decision::deny(DenialReason::malformedURL);

    // Everything below is about the file the link leads to, not the links on the way.
    const std::optional<std::string> resolved = fileSystem.resolvedPath(*path);
    if (!resolved)
        return Decision::deny(DenialReason::inaccessibleFile);
    // The kind first: FIFOs, sockets and devices are never opened, not even to look inside.
    const std::optional<LinkFileSystem::Entry> entry = fileSystem.entry(*resolved);
    if (!entry || entry->kind == LinkFileSystem::Entry::Kind::special)
        return Decision::deny(DenialReason::inaccessibleFile);
    const bool isDirectory = entry->kind == LinkFileSystem::Entry::Kind::directory;
    if (isUnsafeExtension(lowerCaseExtension(*resolved)))
        return Decision::deny(DenialReason::unsafeFile);
    if (!isDirectory) {
        if (const std::optional<std::string> type = fileSystem.contentType(*resolved)) {
            for (const std::string_view unsafe : unsafeContentTypes)
                if (fileSystem.contentTypeIsA(*type, std::string(unsafe)))
                    return Decision::deny(DenialReason::unsafeFile);
        }
        // A directory's execute permission only lets one enter it.
        if (entry->executable)
            return Decision::deny(DenialReason::unsafeFile);
    }
    return Decision::allow(LinkURL::fileURLString(*resolved));
}

std::string UntrustedTerminalLink::displayString(const LinkFileSystem& fileSystem) const
{
    std::string shown = string;
    const std::optional<LinkURL> url = LinkURL::parse(string);
    if (url && !url->scheme.empty()) {
        if (lowerCased(url->scheme) == "file") {
            // A file link shows the path that would open.
            const std::optional<std::string> path = LinkURL::percentDecoded(url->path);
            if (path && !path->empty() && path->front() == '/')
                shown = fileSystem.resolvedPath(*path).value_or(standardizedPath(*path));
        }
    } else if (!string.empty() && string.front() == '/') {
        shown = standardizedPath(string);
    }
    // A relative path is shown as it is: the directory it would be taken from is not known here.

    std::string escaped;
    for (const char32_t scalar : platform::scalarsFromUtf8(shown)) {
        if (!isUnsafeScalar(scalar)) {
            escaped += platform::utf8FromScalars(std::u32string(1, scalar));
            continue;
        }
        char text[16];
        std::snprintf(text, sizeof text, "\\u{%X}", unsigned(scalar));
        escaped += text;
    }
    return escaped;
}

} // namespace kestrovan
