// Device reports and queries: device attributes (DA1, DA2, DECID), device status reports (DSR in
// its ANSI and DEC forms), the version query (XTVERSION) and the DCS handlers of DECRQSS and
// XTGETTCAP.
//
// Every reply is built from the terminal's own state and fixed texts; the only numbers taken from
// a request are echoed as decimal. Replies use the 7-bit or 8-bit introducers of `cc`, except the
// XTVERSION and XTGETTCAP replies, which are always 7-bit.
#include "Kestrovan/DecrqssHandler.h"
#include "Kestrovan/KestrovanBuildInfo.h"
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/XtgettcapHandler.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// The printable ASCII bytes of `text`, or nothing when none are left.

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

void Terminal::cmdSendDeviceAttributes(const CsiParameters& pars, Collect collect)
{
    if (pars.count > 0 && pars[0] > 0) {
        logInfo("SendDeviceAttributes got " + describeParameters(pars) + " and " + describeBytes(collect));
        return;
    }
    if (collectIs(collect, ">")) {
        // DA2: a VT500-class terminal (65), firmware version 20, option 1, whatever the name.
        sendResponse(cc_.CSI(), ">65;20;1c");
        return;
    }
    if (!collect.empty()) // DA3 ("=") and anything else have no answer
        return;

    // DA1, also reached by DECID (ESC Z). The answer follows the terminal the program was told it
    // is (TERM), so that a program's idea of the terminal and its answer agree.
    const std::string& name = _options.termName;
    if (startsWith(name, "xterm")) {
        // VT500 class with 132 columns (1), printer (2), selective erase (6), horizontal scrolling
        // (21), ANSI colour (22), terminal state interrogation (17), rectangular editing (28) and,
        // when reported, Sixel graphics (4).
        std::string reply = "?65";
        if (_options.enableSixelReported)
            reply += ";4";
        reply += ";1;2;6;21;22;17;28c";
        sendResponse(cc_.CSI(), reply);
    } else if (startsWith(name, "screen") || startsWith(name, "rxvt-unicode")) {
        sendResponse(cc_.CSI(), "?1;2c");
    } else if (startsWith(name, "linux")) {
        sendResponse(cc_.CSI(), "?6c");
    }
}

void Terminal::cmdDeviceStatus(const CsiParameters& pars, Collect collect)
{
    const int64_t request = pars.count > 0 ? pars[0] : 0;
    const Buffer& active = *_buffer;

    // The cursor position relative to the origin: the scroll region and margins in origin mode. A
    // cursor waiting to wrap stands on the last column (or the right margin) and is reported there.
    auto cursorReport = [&]() REQUIRES(terminalLock_) {
        int row = active.y() + 1;
        int column = active.x() + 1;
        if (modes_[TerminalMode::originMode]) {
            row -= active.scrollTop();
            column -= active.marginLeft();
        }
        return std::to_string(row) + ";" + std::to_string(column);
    };

    if (collect.empty()) {
        switch (request) {
        case 5: // operating status: no malfunction
            sendResponse(cc_.CSI(), "0n");
            return;
        case 6: // CPR
            sendResponse(cc_.CSI(), cursorReport() + "R");
            return;
        default:
            return;
        }
    }
    if (!collectIs(collect, "?"))
        return;

    switch (request) {
    case 6: // DECXCPR: the position and page 1
        sendResponse(cc_.CSI(), "?" + cursorReport() + ";1R");
        return;
    case 15: // printer: ready
        sendResponse(cc_.CSI(), "?10n");
        return;
    case 25: // user-defined keys: locked
        sendResponse(cc_.CSI(), "?21n");
        return;
    case 26: // keyboard: North American, ready, LK201
        sendResponse(cc_.CSI(), "?27;1;0;0n");
        return;
    case 55: // locator: ready
        sendResponse(cc_.CSI(), "?53n");
        return;
    case 56: // locator type: mouse
        sendResponse(cc_.CSI(), "?57;1n");
        return;
    case 62: // DECMSR: no macro space
        sendResponse(cc_.CSI(), "0*{");
        return;
    case 63: { // DECCKSR: the checksum of macro memory, echoing the request id (0 when absent)
        const int64_t id = pars.count > 1 ? pars[1] : 0;
        sendResponse(cc_.DCS(), std::to_string(id) + "!~0000", cc_.ST());
        return;
    }
    case 75: // data integrity: no errors
        sendResponse(cc_.CSI(), "?70n");
        return;
    case 85: // multiple-session configuration: not configured
        sendResponse(cc_.CSI(), "?83n");
        return;
    case 996: // the dark or light colour scheme, answered as CSI ? 997 ; 1|2 n
        reportColorScheme();
        return;
    case 998: // whether the terminal can be seen, answered as CSI ? 999 ; 1|2 n
        reportTerminalVisibility();
        return;
    default:
        return;
    }
}

void Terminal::cmdXTVERSION(const CsiParameters& pars, Collect collect)
{
    if (!collectIs(collect, ">") || pars.count != 1 || pars[0] != 0)
        return;
    const std::string identity = KestrovanBuildInfo::xtVersionIdentity(
        KestrovanBuildInfo::tag(), KestrovanBuildInfo::branch(), KestrovanBuildInfo::version());
    // Always 7-bit, whatever `cc` says.
    sendResponse(CC::dcs7, ">|" + identity, CC::st7);
}

std::shared_ptr<DcsHandler> Terminal::makeDecrqssHandler()
{
    return std::make_shared<DECRQSS>(weak_from_this());
}

std::shared_ptr<DcsHandler> Terminal::makeXtgettcapHandler()
{
    return std::make_shared<XTGETTCAP>(weak_from_this());
}

} // namespace kestrovan
