// The application's safety rules that need no window system: when a paste must be reviewed, which
// links may be offered for opening, the environment every shell starts with, closing the terminal
// descriptor on exec, and the filter that blanks screen checksums in what the terminal answers.
//
// Every rule is a pure function of its arguments; nothing here keeps state. Text arguments are
// UTF-8 bytes; a byte sequence that is not UTF-8 counts as suspect wherever it matters (it needs a
// review, or the link is refused), since no decoding could show the user what it really is.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

/// A link the policy allows: an http or https URL with a host and no user or password.
struct AllowedLink
{
    /// The URL as it is shown and opened: the text as given, with characters a URL cannot hold
    /// literally (spaces, non-ASCII letters, a stray "%") percent-encoded in the path, the query
    /// and the fragment.
    std::string absoluteString;
    /// The scheme in lower case: "https" or "http".
    std::string scheme;
    /// The host as written (a registered name or a bracketed IP literal), never empty.
    std::string host;

    friend bool operator==(const AllowedLink&, const AllowedLink&) = default;
};

struct SafetyPolicy
{
    /// Pastes of at least this many UTF-8 bytes are reviewed when they hold a control.
    static constexpr size_t largePasteThresholdBytes = 4096;

    /// The schemes `allowedLink` accepts, in this order.
    static constexpr std::string_view allowedLinkSchemes[] = {"https", "http"};

    /// The locale a shell's LANG names when it inherits none and the system has it.
    static constexpr std::string_view preferredLocale = "en_US.UTF-8";
    /// The LANG used instead when `preferredLocale` is not installed; the C library always has it.
    static constexpr std::string_view fallbackLocale = "C.UTF-8";

    /// The variables a shell takes over from the application's environment, in this order. Besides
    /// the locale, the agent socket and the temporary folder, these are the desktop session's:
    /// without them programs in the terminal cannot open windows or URLs, notify, or ask for a
    /// password through the session's agent.
    static constexpr std::string_view inheritedKeys[] = {"LANG",
                                                         "LC_ALL",
                                                         "LC_CTYPE",
                                                         "SSH_AUTH_SOCK",
                                                         "TMPDIR",
                                                         "DISPLAY",
                                                         "WAYLAND_DISPLAY",
                                                         "XAUTHORITY",
                                                         "XDG_RUNTIME_DIR",
                                                         "DBUS_SESSION_BUS_ADDRESS",
                                                         "XDG_SESSION_TYPE",
                                                         "XDG_CURRENT_DESKTOP"};

    /// Answers whether the named locale is installed; injectable so tests decide.
    using LocaleCheck = std::function<bool(std::string_view locale)>;

    /// True when any scalar of `text` is a terminal control (Cc, Cf or the newline set), or when
    /// `text` is not well-formed UTF-8.
    static bool containsTerminalControls(std::string_view text);

    /// True when `text` has at least `largePasteThresholdBytes` bytes and contains a terminal
    /// control. A shorter paste is never reviewed, whatever it holds.
    static bool pasteNeedsConfirmation(std::string_view text);

    /// The link `text` names when it may be offered for opening: no control or bidirectional
    /// formatting character, an http or https URL (scheme in any case), a non-empty host, and no
    /// user or password. None otherwise.
    static std::optional<AllowedLink> allowedLink(std::string_view text);

    /// The environment of a shell, as sorted "KEY=value" strings: HOME, USER, LOGNAME, SHELL,
    /// PATH, TERM, COLORTERM, TERM_PROGRAM, TERM_PROGRAM_VERSION and LANG, then each of
    /// `inheritedKeys` that `inherited` holds with a value free of NUL bytes, replacing or adding
    /// its entry. LANG is `preferredLocale` when `localeInstalled` says it exists, else
    /// `fallbackLocale`, unless an inherited LANG replaces it. Nothing else of `inherited` passes.
    static std::vector<std::string> shellEnvironment(std::string_view user, std::string_view home,
                                                     std::string_view shell,
                                                     const std::map<std::string, std::string>& inherited,
                                                     const LocaleCheck& localeInstalled = isLocaleInstalled);

    /// The application's own environment as a map (the first of duplicate keys wins; entries
    /// without "=" are left out), for `shellEnvironment`.
    static std::map<std::string, std::string> processEnvironment();

    /// True when the C library can load every category of `locale`.
    static bool isLocaleInstalled(std::string_view locale);

    /// Adds FD_CLOEXEC to a descriptor's flags; false for a negative descriptor or when `fcntl`
    /// fails.
    static bool markCloseOnExec(int descriptor);

    /// `bytes` with the checksum of every screen-checksum report (DCS id "!~" hex ST, in its 7-bit
    /// or 8-bit form) replaced by "0000", so the shell never learns what the screen shows. Answers
    /// `bytes` itself when nothing matched (no copy); otherwise a span over `scratch`, which it
    /// fills. A report split across two calls is not recognised: no state survives a call.
    static std::span<const uint8_t> withoutScreenChecksums(std::span<const uint8_t> bytes,
                                                           std::vector<uint8_t>& scratch);
};

} // namespace vesk
