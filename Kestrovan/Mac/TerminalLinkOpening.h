// Opening a link from terminal output: turning a clicked link's text into a target, putting the
// target before the link-safety policy, and the alerts that ask for or refuse it.
//
// An allowed link opens at once. A link to confirm, or a refused one, is answered by an alert that
// is shown from the main queue, never from inside the click that asked: the click handler has
// returned by then. The confirmation's cancel button is the default (Return, Escape and closing
// the alert cancel), so no stray key ever opens a link. Everything here runs on the main thread.
#pragma once

#include "Kestrovan/Mac/LinkFileSystem.h"
#include "Kestrovan/Mac/UntrustedTerminalLink.h"
#include "Platform/UI/Alert.h"

#include <functional>
#include <optional>
#include <string>

namespace kestrovan {

class TerminalLinkOpening
{
public:
    /// Shows an alert modally and reports the button chosen.
    using PresentAlert = std::function<void(const platform::Alert&, platform::AlertCompletion)>;
    /// Opens an approved URL.
    using Open = std::function<void(const std::string& url)>;
    /// The name of the application a URL would open in, or none.
    using ApplicationName = std::function<std::optional<std::string>(const std::string& url)>;

    /// The confirmation's buttons.
    static constexpr int cancelButton = 0;
    static constexpr int openLinkButton = 1;

    /// Judges `link` and opens it now, after the user confirmed it, or not at all (after an alert
    /// saying why). `applicationName` names the application in the confirmation; absent, the
    /// desktop's default application for the URL.
    static void request(const UntrustedTerminalLink& link, const PresentAlert& presentAlert, const Open& open,
                        const LinkFileSystem& fileSystem = LinkFileSystem::system(),
                        ApplicationName applicationName = nullptr);

    /// The question asked before a link of another scheme opens in `applicationName` (absent: "the
    /// default application").
    static platform::Alert confirmationAlert(const std::string& displayString,
                                             const std::optional<std::string>& applicationName);
    /// The notice that a link was refused for `reason`.
    static platform::Alert refusalAlert(UntrustedTerminalLink::DenialReason reason,
                                        const std::string& displayString);

    /// The target to judge for a clicked link's text. An OSC 8 link, and text with unsafe
    /// characters, are judged exactly as received; text that is a URL with a scheme too. Other text
    /// is taken as a path (`defaultLinkURL`) and becomes a file URL when it names something;
    /// otherwise it is judged as it is, which the policy refuses.
    static UntrustedTerminalLink defaultLinkTarget(const std::string& link, bool isExplicit,
                                                   const LinkFileSystem& fileSystem,
                                                   const std::optional<std::string>& workingDirectory);
    /// The URL of a clicked path: "~" expanded to the home directory; a relative path taken from
    /// `workingDirectory` (the shell's), never from this process's own, and left alone without one;
    /// a trailing ":line" or ":line:column" removed when only the path without it exists.
    static std::optional<std::string> defaultLinkURL(const std::string& link,
                                                     const LinkFileSystem& fileSystem,
                                                     const std::optional<std::string>& workingDirectory);
};

} // namespace kestrovan
