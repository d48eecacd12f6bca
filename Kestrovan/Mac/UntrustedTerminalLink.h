// The link-safety policy: whether a link target taken from program output may be opened at once
// (`allow`), must be confirmed by the user first (`confirm`) or is refused (`deny`), and the text
// the user is shown for it.
//
// Web links with a host and mail links with an address open at once; links of any other scheme
// ask first. A file link opens at once only when it names, once its symbolic links are resolved, a
// regular file or a directory on this machine that cannot run code: no runnable extension, no
// runnable content type, no execute permission on a file. The kind of file is read before anything
// else about it, so a FIFO, a socket or a device is refused without ever being opened. Text with
// invisible characters or line breaks is refused outright, since what the user would see is not
// what would open.
#pragma once

#include "Kestrovan/Mac/LinkFileSystem.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrovan {

struct UntrustedTerminalLink
{
    /// Why a link is refused.
    enum class DenialReason
    {
        malformedURL,
        unsafeCharacters,
        invalidWebURL,
        inaccessibleFile,
        unsafeFile,
    };

    /// The verdict on a link; `allow` and `confirm` carry the URL to open.
    struct Decision
    {
        enum class Kind
        {
            allow,
            confirm,
            deny,
        };
        Kind kind = Kind::deny;
        std::string url;
        DenialReason reason = DenialReason::malformedURL;

        static Decision allow(std::string url) { return Decision{Kind::allow, std::move(url), {}}; }
        static Decision confirm(std::string url) { return Decision{Kind::confirm, std::move(url), {}}; }
        static Decision deny(DenialReason reason) { return Decision{Kind::deny, {}, reason}; }

        /// The same case, then the same URL or reason.
        friend bool operator==(const Decision& a, const Decision& b)
        {
            if (a.kind != b.kind)
                return false;
            return a.kind == Kind::deny ? a.reason == b.reason : a.url == b.url;
        }
    };

    /// The target as received, or as a clicked link's text was turned into one.
    std::string string;

    /// The explanation the refusal alert gives for `reason`.
    static const char* informativeText(DenialReason reason);
    /// True when a scalar of `text` is a control, a bidirectional or zero-width format character,
    /// or a line or paragraph separator; malformed UTF-8 counts as unsafe too.
    static bool containsUnsafeCharacters(std::string_view text);
    /// True for the scalars `containsUnsafeCharacters` looks for.
    static bool isUnsafeScalar(char32_t scalar);
    /// The lower-cased file extensions that mark a file as runnable.
    static bool isUnsafeExtension(std::string_view lowerCaseExtension);

    /// The verdict, asking `fileSystem` about file links.
    Decision decision(const LinkFileSystem& fileSystem = LinkFileSystem::system()) const;
    /// The text shown for the target: a file link as the path it resolves to, other links as
    /// written, a text without a scheme as its path; unsafe scalars written as \u{XXXX}.
    std::string displayString(const LinkFileSystem& fileSystem = LinkFileSystem::system()) const;

    friend bool operator==(const UntrustedTerminalLink&, const UntrustedTerminalLink&) = default;

private:
    Decision fileDecision(const struct LinkURL& url, const LinkFileSystem& fileSystem) const;
};

} // namespace kestrovan
