// Window operations (CSI Ps ; Ps ; Ps t): the requests handed to the host, the default answers of
// the size reports, the title and icon-title stacks, and the xterm title-mode switches.
//
// The terminal owns no window. Each recognised request becomes a `WindowManipulationCommand` for
// the delegate's `windowCommand`, whose answer, if any, goes back to the program; the size reports
// get a default answer computed here when the host has none. The title reports (CSI 20 t and
// CSI 21 t) answer with an empty label on purpose: a title is text some other program chose (or a
// file shown with `cat`), and echoing it would let that text, control bytes and all, arrive at
// the shell as if typed.
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <initializer_list>
#include <string>

namespace kestrovan {

namespace {

using Kind = WindowManipulationCommand::Kind;

/// Whether the parameters are exactly `expected`, count included: requests are matched whole.
bool parametersAre(const CsiParameters& pars, std::initializer_list<int64_t> expected)
{
    if (pars.size() != expected.size())
        return false;
    int index = 0;
    for (const int64_t value : expected) {
        if (pars[index++] != value)
            return false;
    }
    return true;
}

/// The cell size the default reports assume when nobody knows better.
constexpr CellPixelSize fallbackCellSize{10, 16};

} // namespace

void Terminal::cmdWindowOptions(const CsiParameters& pars)
{
    // Without a host there is no window, and so no title stack either.
    const std::shared_ptr<TerminalDelegate> host = delegate();
    if (!host)
        return;

    // Hands a command to the host and sends back its answer. Answers true when the host answered
    // (an empty answer included: that is how a host suppresses a default report).
    const auto request = [&](const WindowManipulationCommand& command) REQUIRES(terminalLock_) {
        const std::optional<std::vector<uint8_t>> reply = host->windowCommand(*this, command);
        if (!reply)
            return false;
        if (!reply->empty())
            sendResponse(std::span<const uint8_t>(*reply));
        return true;
    };
    // A size report: the host's answer, or CSI `code` ";" first ";" second "t".
    const auto report = [&](const WindowManipulationCommand& command, int code, auto computeDefault)
                            REQUIRES(terminalLock_) {
                                if (request(command))
                                    return;
                                const auto [first, second] = computeDefault();
                                sendResponse(cc_.CSI(), std::to_string(code) + ";" + std::to_string(first) +
                                                            ";" + std::to_string(second) + "t");
                            };
    // The cell size in pixels: the committed pixel geometry first (when `useGeometry`), then the
    // host, then the fallback.
    const auto cellSize = [&](bool useGeometry) REQUIRES(terminalLock_) -> CellPixelSize {
        if (useGeometry && pixelGeometry_)
            return CellPixelSize{pixelGeometry_->cellWidth, pixelGeometry_->cellHeight};
        if (const std::optional<CellPixelSize> reported = host->cellSizeInPixels(*this))
            return *reported;
        return fallbackCellSize;
    };
    // Height and width of the text area in pixels; 64-bit so that no host-given size overflows.
    const auto textAreaPixels = [&](bool useGeometry) REQUIRES(terminalLock_) {
        const CellPixelSize cell = cellSize(useGeometry);
        return std::pair<int64_t, int64_t>{int64_t(_rows) * cell.height, int64_t(_cols) * cell.width};
    };
    const auto make = [](Kind kind, int first = 0, int second = 0) {
        return WindowManipulationCommand::make(kind, first, second);
    };

    if (pars.count == 1) {
        const int64_t op = pars[0];
        switch (op) {
        case 1:
            request(make(Kind::deiconifyWindow));
            return;
        case 2:
            request(make(Kind::iconifyWindow));
            return;
        case 5:
            request(make(Kind::bringToFront));
            return;
        case 6:
            request(make(Kind::sendToBack));
            return;
        case 7:
            request(make(Kind::refreshWindow));
            return;
        case 14:
            report(make(Kind::reportTextAreaPixelDimension), 4,
                   [&]() REQUIRES(terminalLock_) { return textAreaPixels(true); });
            return;
        case 15:
            // The screen's size is not known here; the text area stands in for it, measured with
            // the host's cell size rather than the committed geometry.
            report(make(Kind::reportSizeOfScreenInPixels), 5,
                   [&]() REQUIRES(terminalLock_) { return textAreaPixels(false); });
            return;
        case 16:
            report(make(Kind::reportCellSizeInPixels), 6, [&]() REQUIRES(terminalLock_) {
                const CellPixelSize cell = cellSize(true);
                return std::pair<int64_t, int64_t>{cell.height, cell.width};
            });
            return;
        case 18:
            report(make(Kind::reportTextAreaCharacters), 8, [&]() REQUIRES(terminalLock_) {
                return std::pair<int64_t, int64_t>{_rows, _cols};
            });
            return;
        case 19:
            report(make(Kind::reportScreenSizeCharacters), 9, [&]() REQUIRES(terminalLock_) {
                return std::pair<int64_t, int64_t>{_rows, _cols};
            });
            return;
        case 20:
            // Icon label report: always empty, never the label itself (see the top of the file).
            sendResponse(cc_.OSC(), "L", cc_.ST());
            return;
        case 21:
            // Window title report: likewise empty.
            sendResponse(cc_.OSC(), "l", cc_.ST());
            return;
        default:
            if (op >= 24) {
                // DECSLPP: a single value of 24 or more is a line count.
                request(WindowManipulationCommand::resizeTerminal(_cols, static_cast<int>(op)));
                return;
            }
            break;
        }
    } else if (pars.count == 3 && pars[0] == 3) {
        request(
            WindowManipulationCommand::moveWindowTo(static_cast<int>(pars[1]), static_cast<int>(pars[2])));
        return;
    } else if (pars.count == 3 && pars[0] == 4) {
        // CSI 4 ; height ; width t asks for a window size in pixels; it is a resize, not a move.
        request(
            WindowManipulationCommand::resizeWindowTo(static_cast<int>(pars[2]), static_cast<int>(pars[1])));
        return;
    } else if (pars.count == 3 && pars[0] == 8) {
        request(
            WindowManipulationCommand::resizeTerminal(static_cast<int>(pars[2]), static_cast<int>(pars[1])));
        return;
    } else if (pars.count == 2) {
        const int64_t op = pars[0];
        const int64_t arg = pars[1];
        if (op == 9 && arg >= 0 && arg <= 3) {
            constexpr Kind kinds[] = {Kind::restoreMaximizedWindow, Kind::maximizeWindow,
                                      Kind::maximizeWindowVertically, Kind::maximizeWindowHorizontally};
            request(make(kinds[arg]));
            return;
        }
        if (op == 10 && arg >= 0 && arg <= 2) {
            constexpr Kind kinds[] = {Kind::undoFullScreen, Kind::switchToFullScreen, Kind::toggleFullScreen};
            request(make(kinds[arg]));
            return;
        }
        if (op == 14 && arg == 2) {
            report(make(Kind::reportTerminalWindowPixelDimension), 4,
                   [&]() REQUIRES(terminalLock_) { return textAreaPixels(true); });
            return;
        }
    }

    // The title stacks: 22 pushes and 23 pops; 0 is both titles, 1 the icon title, 2 the title.
    // A push copies a pointer to the shared title; a full stack drops its oldest entries.
    const auto warnIfDropping = [&](bool beganDropping) REQUIRES(terminalLock_) {
        if (beganDropping)
            logInfo("Kestrovan: title stack holds " + std::to_string(TitleStack::maximumDepth) +
                    " titles or " + std::to_string(TitleStack::maximumBytes) + " bytes; dropping the oldest");
    };
    const auto popTitle = [&]() REQUIRES(terminalLock_) {
        if (std::optional<TitleText> title = titles_.popTerminalTitle()) {
            // The host reads the popped copy, not the current title: should it set another title
            // from inside the call, the text it is reading stays alive.
            host->setTerminalTitle(*this, title->str());
        }
    };
    const auto popIconTitle = [&]() REQUIRES(terminalLock_) {
        if (std::optional<TitleText> title = titles_.popIconTitle())
            host->setTerminalIconTitle(*this, title->str());
    };
    if (parametersAre(pars, {22, 0}) || parametersAre(pars, {22, 0, 0})) {
        warnIfDropping(titles_.pushTerminalTitle());
        warnIfDropping(titles_.pushIconTitle());
        return;
    }
    if (parametersAre(pars, {22, 1})) {
        warnIfDropping(titles_.pushIconTitle());
        return;
    }
    if (parametersAre(pars, {22, 2})) {
        warnIfDropping(titles_.pushTerminalTitle());
        return;
    }
    if (parametersAre(pars, {23, 0}) || parametersAre(pars, {23, 0, 0})) {
        popTitle();
        popIconTitle();
        return;
    }
    if (parametersAre(pars, {23, 1})) {
        popIconTitle();
        return;
    }
    if (parametersAre(pars, {23, 2})) {
        popTitle();
        return;
    }

    logInfo("Unhandled Window command: " + describeParameters(pars));
}

void Terminal::csit(const CsiParameters& pars, Collect collect)
{
    if (collect.empty()) {
        cmdWindowOptions(pars);
    } else if (collect.size() == 1 && collect[0] == '>') { // XTSMTITLE
        cmdXtermTitleModeSet(pars);
    } else if (collect.size() == 1 && collect[0] == '$') { // DECRARA
        cmdDECRARA(pars);
    } else {
        logInfo("Unhandled csiT " + describeBytes(collect));
    }
}

// The title modes only say how titles would be set and reported in hexadecimal or UTF-8 (see
// TerminalTitles.h).

void Terminal::cmdXtermTitleModeSet(const CsiParameters& pars)
{
    for (const int64_t mode : pars)
        titles_.setXtermTitleMode(mode, true);
}

void Terminal::cmdXtermTitleModeReset(const CsiParameters& pars, Collect)
{
    for (const int64_t mode : pars)
        titles_.setXtermTitleMode(mode, false);
}

} // namespace kestrovan
