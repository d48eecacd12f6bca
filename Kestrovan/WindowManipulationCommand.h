// The window operations a program can request with CSI Ps ; Ps ; Ps t, as the terminal hands them
// to its host.
//
// The terminal owns no window: the window-operations handler turns each recognised request into
// one of these values and passes it to the delegate's `windowCommand`, which carries it out and may
// answer with bytes to send back. Every payload is an integer, so the value is a kind plus at most
// two integers rather than a variant of 28 alternatives. Every kind can be made with `make`; the
// kinds with payloads also have a factory named after the request.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace kestrovan {

struct WindowManipulationCommand
{
    /// The requests, in the order the window operations list them.
    enum class Kind : uint8_t
    {
        moveWindowTo,
        resizeWindowTo,
        resizeTo,
        resizeTerminal,
        resizeToLines,
        deiconifyWindow,
        iconifyWindow,
        bringToFront,
        sendToBack,
        refreshWindow,
        restoreMaximizedWindow,
        maximizeWindow,
        maximizeWindowVertically,
        maximizeWindowHorizontally,
        undoFullScreen,
        switchToFullScreen,
        toggleFullScreen,
        reportTerminalState,
        reportTerminalPosition,
        reportTextAreaPosition,
        reportTextAreaPixelDimension,
        reportTerminalWindowPixelDimension,
        reportSizeOfScreenInPixels,
        reportCellSizeInPixels,
        reportTextAreaCharacters,
        reportScreenSizeCharacters,
        reportIconLabel,
        reportWindowTitle,
    };

    Kind kind = Kind::refreshWindow;
    /// The payloads in the order the request names them: (x, y), (width, height), (cols, rows) or
    /// (lines); unused payloads are 0.
    int first = 0;
    int second = 0;

    static constexpr WindowManipulationCommand make(Kind kind, int first = 0, int second = 0)
    {
        WindowManipulationCommand command;
        command.kind = kind;
        command.first = first;
        command.second = second;
        return command;
    }
    static constexpr WindowManipulationCommand moveWindowTo(int x, int y)
    {
        return make(Kind::moveWindowTo, x, y);
    }
    static constexpr WindowManipulationCommand resizeWindowTo(int width, int height)
    {
        return make(Kind::resizeWindowTo, width, height);
    }
    static constexpr WindowManipulationCommand resizeTo(int cols, int rows)
    {
        return make(Kind::resizeTo, cols, rows);
    }
    static constexpr WindowManipulationCommand resizeTerminal(int cols, int rows)
    {
        return make(Kind::resizeTerminal, cols, rows);
    }
    static constexpr WindowManipulationCommand resizeToLines(int lines)
    {
        return make(Kind::resizeToLines, lines);
    }

    /// The name of a kind, as the requests are called above.
    static constexpr std::string_view kindName(Kind kind)
    {
        constexpr std::string_view names[] = {
            "moveWindowTo",
            "resizeWindowTo",
            "resizeTo",
            "resizeTerminal",
            "resizeToLines",
            "deiconifyWindow",
            "iconifyWindow",
            "bringToFront",
            "sendToBack",
            "refreshWindow",
            "restoreMaximizedWindow",
            "maximizeWindow",
            "maximizeWindowVertically",
            "maximizeWindowHorizontally",
            "undoFullScreen",
            "switchToFullScreen",
            "toggleFullScreen",
            "reportTerminalState",
            "reportTerminalPosition",
            "reportTextAreaPosition",
            "reportTextAreaPixelDimension",
            "reportTerminalWindowPixelDimension",
            "reportSizeOfScreenInPixels",
            "reportCellSizeInPixels",
            "reportTextAreaCharacters",
            "reportScreenSizeCharacters",
            "reportIconLabel",
            "reportWindowTitle",
        };
        const auto index = static_cast<size_t>(kind);
        return index < std::size(names) ? names[index] : std::string_view("unknown");
    }

    /// The command as a host would log it: "resizeTerminal(cols: 80, rows: 30)", "iconifyWindow".
    std::string description() const
    {
        std::string out(kindName(kind));
        const auto labelled = [&](const char* first, const char* second) {
            out += "(";
            out += first;
            out += ": " + std::to_string(this->first);
            if (second) {
                out += ", ";
                out += second;
                out += ": " + std::to_string(this->second);
            }
            out += ")";
        };
        switch (kind) {
        case Kind::moveWindowTo:
            labelled("x", "y");
            break;
        case Kind::resizeWindowTo:
            labelled("width", "height");
            break;
        case Kind::resizeTo:
        case Kind::resizeTerminal:
            labelled("cols", "rows");
            break;
        case Kind::resizeToLines:
            labelled("lines", nullptr);
            break;
        default:
            break;
        }
        return out;
    }

    friend constexpr bool operator==(const WindowManipulationCommand&,
                                     const WindowManipulationCommand&) = default;
    friend std::ostream& operator<<(std::ostream& stream, const WindowManipulationCommand& command)
    {
        return stream << command.description();
    }
};

} // namespace kestrovan
