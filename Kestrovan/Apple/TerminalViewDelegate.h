// What a terminal view tells the application that hosts it: size, title, working directory, the
// bytes to send to the program, scrolling, links, bells, clipboard requests, changed rows and
// program status. Every call is made on the main thread with the view as `source`.
//
// Six members are required; the others have the answers a host that does not care should give
// (no clipboard access for programs, denied clipboard permissions, the alert sound for a bell).
// The view holds its delegate weakly and drops calls once it is gone.
#pragma once

#include "Kestrovan/KittyClipboardTypes.h"
#include "Kestrovan/TerminalProgramStatus.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrovan {

class TerminalView;

class TerminalViewDelegate
{
public:
    virtual ~TerminalViewDelegate() = default;

    /// The terminal's grid changed size.
    virtual void sizeChanged(TerminalView& source, int newCols, int newRows) = 0;
    virtual void setTerminalTitle(TerminalView& source, const std::string& title) = 0;
    virtual void hostCurrentDirectoryUpdate(TerminalView& source,
                                            const std::optional<std::string>& directory) = 0;
    /// Bytes for the program: typed input, mouse reports, replies. The host writes them.
    virtual void send(TerminalView& source, std::span<const uint8_t> data) = 0;
    /// The viewport moved; `position` is 0 at the top of the scrollback, 1 at the live screen.
    virtual void scrolled(TerminalView& source, double position) = 0;
    /// The user asked to open a link. By default it goes to the view's own link opening.
    virtual void requestOpenLink(TerminalView& source, const std::string& link,
                                 const std::map<std::string, std::string>& params);
    /// A bell to sound. By default the alert sound of the view's host.
    virtual void bell(TerminalView& source);
    /// OSC 52: the program wrote the clipboard.
    virtual void clipboardCopy(TerminalView& /*source*/, std::span<const uint8_t> /*content*/) {}
    /// OSC 52: the program asked for the clipboard; none refuses.
    virtual std::optional<std::vector<uint8_t>> clipboardRead(TerminalView& /*source*/)
    {
        return std::nullopt;
    }
    virtual KittyClipboardCapabilities kittyClipboardCapabilities(TerminalView& /*source*/) { return {}; }
    /// The MIME types a clipboard offers; none lets the view read the system clipboard itself.
    virtual std::optional<std::vector<std::string>>
    kittyClipboardAvailableMimeTypes(TerminalView& /*source*/, KittyClipboardLocation /*location*/)
    {
        return std::nullopt;
    }
    /// One type of a clipboard; none lets the view read the system clipboard itself.
    virtual std::optional<KittyClipboardReadResult> kittyClipboardRead(TerminalView& /*source*/,
                                                                       KittyClipboardLocation /*location*/,
                                                                       const std::string& /*mimeType*/)
    {
        return std::nullopt;
    }
    /// A program's write; `unsupported` lets the view write the system clipboard itself.
    virtual KittyClipboardWriteResult kittyClipboardWrite(TerminalView& /*source*/,
                                                          KittyClipboardLocation /*location*/,
                                                          const KittyClipboardWriteContent& /*content*/)
    {
        return KittyClipboardWriteResult::unsupported;
    }
    virtual KittyClipboardPermissionResult
    kittyClipboardRequestPermission(TerminalView& /*source*/,
                                    const KittyClipboardPermissionRequest& /*request*/)
    {
        return KittyClipboardPermissionResult::deny();
    }
    /// An OSC 1337 payload the view does not handle itself.
    virtual void iTermContent(TerminalView& /*source*/, std::span<const uint8_t> /*content*/) {}
    /// The first and last screen rows a frame changed, when the view reports changes.
    virtual void rangeChanged(TerminalView& source, int startY, int endY) = 0;
    virtual void programStatusChanged(TerminalView& /*source*/,
                                      const std::vector<TerminalProgramStatus>& /*records*/)
    {}
};

} // namespace kestrovan
