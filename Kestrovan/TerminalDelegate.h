// The interface through which a `Terminal` reaches its host: a view, or a headless terminal.
//
// The terminal holds its delegate weakly and skips every call once the host is gone. Every call
// is made synchronously on the thread that holds the terminal lock, so an implementation must not
// take that lock again and should not block: `send` hands bytes to a writer queue, view updates are
// posted to the main thread. Only `send` has no default; the others do what the terminal needs
// when a host does not care (the colour setters, for instance, write the colour back into the
// terminal). The completions of the kitty clipboard calls are the only calls that may arrive later
// and on another thread.
#pragma once

#include "Kestrovan/Color.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/ImageSizeRequest.h"
#include "Kestrovan/KittyClipboardTypes.h"
#include "Kestrovan/ProgressReport.h"
#include "Kestrovan/TerminalPasteControls.h"
#include "Kestrovan/TerminalProgramStatus.h"
#include "Kestrovan/WindowManipulationCommand.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kestrovan {

class Terminal;
struct CellPixelSize;

class TerminalDelegate
{
public:
    using Bytes = std::span<const uint8_t>;

    virtual ~TerminalDelegate() = default;

    virtual void showCursor(Terminal& /*source*/) {}
    virtual void hideCursor(Terminal& /*source*/) {}
    virtual void setTerminalTitle(Terminal& /*source*/, const std::string& /*title*/) {}
    virtual void setTerminalIconTitle(Terminal& /*source*/, const std::string& /*title*/) {}
    /// The host's answer to a window operation, sent back to the program when present.
    virtual std::optional<std::vector<uint8_t>> windowCommand(Terminal& /*source*/,
                                                              const WindowManipulationCommand& /*command*/)
    {
        return std::nullopt;
    }
    virtual void sizeChanged(Terminal& /*source*/) {}
    /// Delivers bytes to the child (encoded input, pastes, mouse reports). Every host must do this.
    virtual void send(Terminal& source, Bytes data) = 0;
    /// Delivers a reply the terminal made by itself (device reports, answers to queries). A host
    /// whose writer queues for a child may bound these, since a program can ask in a loop without
    /// ever reading the answers; by default they go out like any other bytes.
    virtual void sendReply(Terminal& source, Bytes data) { send(source, data); }
    virtual void bufferActivated(Terminal& /*source*/) {}
    virtual void synchronizedOutputChanged(Terminal& /*source*/, bool /*active*/) {}
    virtual void scheduleSynchronizedOutputTimeout(Terminal& /*source*/, uint32_t /*afterMilliseconds*/) {}
    virtual void bell(Terminal& /*source*/) {}
    virtual void selectionChanged(Terminal& /*source*/) {}
    /// Asked by the handlers that act only for a trusted program; every program by default.
    virtual bool isProcessTrusted(Terminal& /*source*/) { return true; }
    virtual std::optional<CellPixelSize> cellSizeInPixels(Terminal& source);
    virtual void mouseModeChanged(Terminal& /*source*/) {}
    virtual void cursorStyleChanged(Terminal& /*source*/, CursorStyle /*newStyle*/) {}
    virtual void hostCurrentDirectoryUpdated(Terminal& /*source*/) {}
    virtual void hostCurrentDocumentUpdated(Terminal& /*source*/) {}
    /// A palette entry changed; absent when every colour changed.
    virtual void colorChanged(Terminal& /*source*/, std::optional<int> /*idx*/) {}
    /// By default the colour is stored in the terminal's `foregroundColor` (and likewise below).
    virtual void setForegroundColor(Terminal& source, const Color& color);
    virtual void setBackgroundColor(Terminal& source, const Color& color);
    virtual void setCursorColor(Terminal& source, const std::optional<Color>& color);
    /// The default text colours; by default the terminal's own.
    virtual std::pair<Color, Color> getColors(Terminal& source);
    /// An OSC 1337 payload other than an inline image.
    virtual void iTermContent(Terminal& /*source*/, Bytes /*content*/) {}
    virtual void clipboardCopy(Terminal& /*source*/, Bytes /*content*/) {}
    virtual std::optional<std::vector<uint8_t>> clipboardRead(Terminal& /*source*/) { return std::nullopt; }
    /// True when the request was taken and will be answered later.
    virtual bool clipboardReadRequest(Terminal& /*source*/, const std::string& /*selection*/)
    {
        return false;
    }
    /// The bytes the pseudo-terminal treats as special, for the paste encoder.
    virtual ByteSet terminalControlBytesForPaste(Terminal& /*source*/)
    {
        return TerminalPasteControls::approximateTerminalControlBytes();
    }
    virtual KittyClipboardCapabilities kittyClipboardCapabilities(Terminal& /*source*/)
    {
        return KittyClipboardCapabilities();
    }
    /// By default the event is written to the child like any other bytes.
    virtual bool kittyClipboardSendPasteEvent(Terminal& source, Bytes data)
    {
        send(source, data);
        return true;
    }
    virtual bool kittyClipboardAvailableMimeTypes(
        Terminal& /*source*/, KittyClipboardLocation /*location*/,
        std::function<void(std::optional<std::vector<std::string>>)> /*completion*/)
    {
        return false;
    }
    virtual bool kittyClipboardRead(Terminal& /*source*/, KittyClipboardLocation /*location*/,
                                    const std::string& /*mimeType*/,
                                    std::function<void(KittyClipboardReadResult)> /*completion*/)
    {
        return false;
    }
    virtual bool kittyClipboardWrite(Terminal& /*source*/, KittyClipboardLocation /*location*/,
                                     const KittyClipboardWriteContent& /*content*/,
                                     std::function<void(KittyClipboardWriteResult)> /*completion*/)
    {
        return false;
    }
    virtual bool
    kittyClipboardRequestPermission(Terminal& /*source*/, const KittyClipboardPermissionRequest& /*request*/,
                                    std::function<void(KittyClipboardPermissionResult)> /*completion*/)
    {
        return false;
    }
    virtual void notify(Terminal& /*source*/, const std::string& /*title*/, const std::string& /*body*/) {}
    virtual void progressReport(Terminal& /*source*/, const ProgressReport& /*report*/) {}
    virtual void programStatusChanged(Terminal& /*source*/,
                                      const std::vector<TerminalProgramStatus>& /*records*/)
    {}
    /// An image as RGBA bytes, handed over for in-place use.
    virtual void createImageFromBitmap(Terminal& /*source*/, std::vector<uint8_t>& /*bytes*/, int /*width*/,
                                       int /*height*/)
    {}
    /// An OSC 1337 file to be shown inline at the requested size.
    virtual void createImage(Terminal& /*source*/, Bytes /*data*/, ImageSizeRequest /*width*/,
                             ImageSizeRequest /*height*/, bool /*preserveAspectRatio*/)
    {}
};

} // namespace kestrovan
