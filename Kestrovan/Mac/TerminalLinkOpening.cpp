#include "Kestrovan/Mac/TerminalLinkOpening.h"

#include "Kestrovan/Mac/LinkURL.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/UI/LinkLauncher.h"

#include <cctype>

namespace kestrovan {

namespace {

bool isDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

/// Where a trailing ":line" or ":line:column" starts, if the path ends in one.
std::optional<size_t> lineSuffixStart(std::string_view path)
{
    const size_t last = path.rfind(':');
    if (last == std::string_view::npos || !isDigits(path.substr(last + 1)))
        return std::nullopt;
    // One more number before it makes the suffix ":line:column"; never more than two numbers.
    if (last > 0) {
        const size_t previous = path.rfind(':', last - 1);
        if (previous != std::string_view::npos && isDigits(path.substr(previous + 1, last - previous - 1)))
            return previous;
    }
    return last;
}

} // namespace

void TerminalLinkOpening::request(const UntrustedTerminalLink& link, const PresentAlert& presentAlert,
                                  const Open& open, const LinkFileSystem& fileSystem,
                                  ApplicationName applicationName)
{
    const UntrustedTerminalLink::Decision decision = link.decision(fileSystem);
    if (decision.kind == UntrustedTerminalLink::Decision::Kind::allow) {
        open(decision.url);
        return;
    }
    const std::string shown = link.displayString(fileSystem);
    // Alerts come from the main queue, after the click that asked has been handled.
    if (decision.kind == UntrustedTerminalLink::Decision::Kind::confirm) {
        platform::MainQueue::shared()->async([decision, shown, presentAlert, open, applicationName] {
            const std::optional<std::string> name = applicationName
                                                        ? applicationName(decision.url)
                                                        : platform::defaultApplicationName(decision.url);
            presentAlert(confirmationAlert(shown, name), [open, url = decision.url](int button) {
                // Only the one button opens; cancelling, Return, Escape and closing do not.
                if (button == openLinkButton)
                    open(url);
            });
        });
        return;
    }
    platform::MainQueue::shared()->async([reason = decision.reason, shown, presentAlert] {
        presentAlert(refusalAlert(reason, shown), [](int) {});
    });
}

platform::Alert TerminalLinkOpening::confirmationAlert(const std::string& displayString,
                                                       const std::optional<std::string>& applicationName)
{
    platform::Alert alert;
    alert.style = platform::AlertStyle::warning;
    alert.messageText = "Open link from terminal output?";
    alert.informativeText = "This link will open in " + applicationName.value_or("the default application") +
                            ". Open it only if you trust the destination.";
    alert.detailText = displayString;
    alert.buttons = {"Cancel", "Open Link"};
    alert.cancelButton = cancelButton;
    return alert;
}

platform::Alert TerminalLinkOpening::refusalAlert(UntrustedTerminalLink::DenialReason reason,
                                                  const std::string& displayString)
{
    platform::Alert alert;
    alert.style = platform::AlertStyle::warning;
    alert.messageText = "Link blocked";
    alert.informativeText = UntrustedTerminalLink::informativeText(reason);
    alert.detailText = displayString;
    alert.buttons = {"OK"};
    alert.cancelButton = 0;
    return alert;
}

UntrustedTerminalLink
TerminalLinkOpening::defaultLinkTarget(const std::string& link, bool isExplicit,
                                       const LinkFileSystem& fileSystem,
                                       const std::optional<std::string>& workingDirectory)
{
    // A program's own link is judged exactly as it sent it; unsafe text is left for the policy to
    // refuse.
    if (isExplicit || UntrustedTerminalLink::containsUnsafeCharacters(link))
        return UntrustedTerminalLink{link};
    if (const std::optional<LinkURL> url = LinkURL::parse(link); url && !url->scheme.empty())
        return UntrustedTerminalLink{link};
    if (std::optional<std::string> file = defaultLinkURL(link, fileSystem, workingDirectory))
        return UntrustedTerminalLink{std::move(*file)};
    return UntrustedTerminalLink{link};
}

std::optional<std::string>
TerminalLinkOpening::defaultLinkURL(const std::string& link, const LinkFileSystem& fileSystem,
                                    const std::optional<std::string>& workingDirectory)
{
    if (const std::optional<LinkURL> url = LinkURL::parse(link); url && !url->scheme.empty())
        return link;
    std::string path = link;
    if (path == "~" || path.rfind("~/", 0) == 0) {
        const std::optional<std::string> home = fileSystem.homeDirectory();
        if (!home)
            return std::nullopt;
        path = *home + path.substr(1);
    }
    if (path.empty())
        return std::nullopt;
    // A relative path names a file in the shell's directory; the application's own directory has
    // nothing to do with what the program printed.
    if (path.front() != '/') {
        if (!workingDirectory || workingDirectory->empty() || workingDirectory->front() != '/')
            return std::nullopt;
        path = *workingDirectory + (workingDirectory->back() == '/' ? "" : "/") + path;
    }
    if (fileSystem.exists(path))
        return LinkURL::fileURLString(path);
    // "file.c:12:5" names file.c at a line and column, when file.c is what exists.
    if (const std::optional<size_t> suffix = lineSuffixStart(path)) {
        const std::string shortened = path.substr(0, *suffix);
        if (fileSystem.exists(shortened))
            return LinkURL::fileURLString(shortened);
    }
    return std::nullopt;
}

} // namespace kestrovan
