// A terminal delegate that records what the terminal tells its host, and helpers to build a
// terminal around it and read its screen, for the terminal's tests.
//
// Sends are kept as bytes, one entry per call, and as one joined string; the colour setters are
// recorded and then run the default (which writes the colour back into the terminal), so the
// terminal behaves as with a host that does not override them.
#pragma once

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan::testing {

class RecordingTerminalDelegate : public TerminalDelegate
{
public:
    std::vector<std::vector<uint8_t>> sends;
    int bells = 0;
    std::vector<std::string> titles;
    std::vector<std::string> iconTitles;
    int mouseModeChanges = 0;
    int selectionChanges = 0;
    int bufferActivations = 0;
    std::vector<std::optional<int>> colorChanges;
    std::vector<Color> foregroundColors;
    std::vector<Color> backgroundColors;
    std::vector<std::optional<Color>> cursorColors;
    std::vector<ProgressReport> progressReports;
    std::vector<WindowManipulationCommand> windowCommands;
    std::vector<std::vector<TerminalProgramStatus>> programStatusChanges;
    std::vector<CursorStyle> cursorStyles;
    int showCursorCalls = 0;
    int hideCursorCalls = 0;
    int sizeChanges = 0;
    /// The `active` value of each synchronized-output change, in order.
    std::vector<bool> synchronizedOutputChanges;
    /// What `kittyClipboardCapabilities` answers.
    KittyClipboardCapabilities clipboardCapabilities;
    /// Run inside `send`, for tests that re-enter the terminal from a callback.
    std::function<void(Terminal&)> onSend;
    /// Run inside `bell`.
    std::function<void(Terminal&)> onBell;

    // Host services of the OSC handlers: what the host answers, and what it was told.
    struct Notification
    {
        std::string title;
        std::string body;
    };
    struct ImageRequest
    {
        std::vector<uint8_t> data;
        ImageSizeRequest width;
        ImageSizeRequest height;
        bool preserveAspectRatio = false;
    };
    /// What `isProcessTrusted` answers.
    bool trusted = true;
    /// What `getColors` answers; absent: the default (the terminal's own colours).
    std::optional<std::pair<Color, Color>> colorsAnswer;
    /// What `clipboardRead` answers.
    std::optional<std::vector<uint8_t>> clipboardContent;
    /// What `clipboardReadRequest` answers.
    bool takesClipboardReadRequests = false;
    std::vector<std::string> clipboardReadRequests;
    int clipboardReads = 0;
    std::vector<std::vector<uint8_t>> clipboardCopies;
    std::vector<Notification> notifications;
    int directoryUpdates = 0;
    int documentUpdates = 0;
    std::vector<std::vector<uint8_t>> iTermContents;
    std::vector<ImageRequest> images;
    /// An RGBA bitmap handed over by `createImageFromBitmap` (Sixel images).
    struct Bitmap
    {
        std::vector<uint8_t> rgba;
        int width = 0;
        int height = 0;
    };
    std::vector<Bitmap> bitmaps;

    /// Every byte sent so far, joined.
    std::string sent() const
    {
        std::string out;
        for (const auto& bytes : sends)
            out.append(bytes.begin(), bytes.end());
        return out;
    }

    void send(Terminal& source, Bytes data) override
    {
        sends.emplace_back(data.begin(), data.end());
        if (onSend)
            onSend(source);
    }
    void bell(Terminal& source) override
    {
        ++bells;
        if (onBell)
            onBell(source);
    }
    void setTerminalTitle(Terminal&, const std::string& title) override { titles.push_back(title); }
    void setTerminalIconTitle(Terminal&, const std::string& title) override { iconTitles.push_back(title); }
    void mouseModeChanged(Terminal&) override { ++mouseModeChanges; }
    void selectionChanged(Terminal&) override { ++selectionChanges; }
    void bufferActivated(Terminal&) override { ++bufferActivations; }
    void colorChanged(Terminal&, std::optional<int> idx) override { colorChanges.push_back(idx); }
    void setForegroundColor(Terminal& source, const Color& color) override
    {
        foregroundColors.push_back(color);
        TerminalDelegate::setForegroundColor(source, color);
    }
    void setBackgroundColor(Terminal& source, const Color& color) override
    {
        backgroundColors.push_back(color);
        TerminalDelegate::setBackgroundColor(source, color);
    }
    void setCursorColor(Terminal& source, const std::optional<Color>& color) override
    {
        cursorColors.push_back(color);
        TerminalDelegate::setCursorColor(source, color);
    }
    bool isProcessTrusted(Terminal&) override { return trusted; }
    std::pair<Color, Color> getColors(Terminal& source) override
    {
        return colorsAnswer ? *colorsAnswer : TerminalDelegate::getColors(source);
    }
    std::optional<std::vector<uint8_t>> clipboardRead(Terminal&) override
    {
        ++clipboardReads;
        return clipboardContent;
    }
    bool clipboardReadRequest(Terminal&, const std::string& selection) override
    {
        clipboardReadRequests.push_back(selection);
        return takesClipboardReadRequests;
    }
    void clipboardCopy(Terminal&, Bytes content) override
    {
        clipboardCopies.emplace_back(content.begin(), content.end());
    }
    void notify(Terminal&, const std::string& title, const std::string& body) override
    {
        notifications.push_back({title, body});
    }
    void hostCurrentDirectoryUpdated(Terminal&) override { ++directoryUpdates; }
    void hostCurrentDocumentUpdated(Terminal&) override { ++documentUpdates; }
    void iTermContent(Terminal&, Bytes content) override
    {
        iTermContents.emplace_back(content.begin(), content.end());
    }
    void createImage(Terminal&, Bytes data, ImageSizeRequest width, ImageSizeRequest height,
                     bool preserveAspectRatio) override
    {
        images.push_back(
            {std::vector<uint8_t>(data.begin(), data.end()), width, height, preserveAspectRatio});
    }
    void createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int width, int height) override
    {
        bitmaps.push_back({bytes, width, height});
    }
    void progressReport(Terminal&, const ProgressReport& report) override
    {
        progressReports.push_back(report);
    }
    std::optional<std::vector<uint8_t>> windowCommand(Terminal&,
                                                      const WindowManipulationCommand& command) override
    {
        windowCommands.push_back(command);
        return std::nullopt;
    }
    void cursorStyleChanged(Terminal&, CursorStyle newStyle) override { cursorStyles.push_back(newStyle); }
    void programStatusChanged(Terminal&, const std::vector<TerminalProgramStatus>& records) override
    {
        programStatusChanges.push_back(records);
    }
    void showCursor(Terminal&) override { ++showCursorCalls; }
    void hideCursor(Terminal&) override { ++hideCursorCalls; }
    void sizeChanged(Terminal&) override { ++sizeChanges; }
    void synchronizedOutputChanged(Terminal&, bool active) override
    {
        synchronizedOutputChanges.push_back(active);
    }
    KittyClipboardCapabilities kittyClipboardCapabilities(Terminal&) override
    {
        return clipboardCapabilities;
    }
};

/// A terminal of `cols` x `rows` with the given scrollback, and its recording delegate.
struct TerminalFixture
{
    std::shared_ptr<RecordingTerminalDelegate> delegate = std::make_shared<RecordingTerminalDelegate>();
    std::shared_ptr<Terminal> terminal;

    explicit TerminalFixture(int cols = 10, int rows = 3, int scrollback = 100)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        options.scrollback = scrollback;
        terminal = Terminal::create(delegate, options);
    }
    explicit TerminalFixture(const TerminalOptions& options)
    {
        terminal = Terminal::create(delegate, options);
    }

    Terminal& t() { return *terminal; }
    const Buffer& buffer() const { return terminal->buffer(); }
};

/// The text of a cell line, empty cells read as spaces, trailing spaces removed.
inline std::string lineText(const BufferLine& line, int cols)
{
    std::string out;
    for (int col = 0; col < std::min(cols, line.count()); ++col) {
        const CharData cell = line[col];
        if (cell.width == 0)
            continue;
        out += cell.code == 0 ? std::string(" ") : cell.getText();
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

/// The text of screen row `row` as the view shows it (counted from `yDisp`).
inline std::string rowText(Terminal& terminal, int row)
{
    const std::shared_ptr<const BufferLine> line = terminal.getLine(row);
    return line ? lineText(*line, terminal.cols()) : std::string();
}

/// The line at absolute row `row` of the active buffer; null outside the ring and for a slot that
/// was never filled.
inline std::shared_ptr<const BufferLine> bufferLine(const Terminal& terminal, int row)
{
    const Buffer& buffer = terminal.buffer();
    if (row < 0 || row >= buffer.lines().count())
        return nullptr;
    return buffer.lines().lineIfPresent(row);
}

/// The text of the line at absolute row `row` of the active buffer.
inline std::string absoluteRowText(Terminal& terminal, int row)
{
    const Buffer& buffer = terminal.buffer();
    if (row < 0 || row >= buffer.lines().count())
        return std::string();
    return lineText(buffer.lines().lineOrEmpty(row), terminal.cols());
}

/// The screen rows joined with "|", for comparing whole screens.
inline std::string screenText(Terminal& terminal)
{
    std::string out;
    for (int row = 0; row < terminal.rows(); ++row) {
        if (row > 0)
            out += "|";
        out += rowText(terminal, row);
    }
    return out;
}

/// A 7-bit reply in the form a terminal sends after ESC SP G: ESC [ becomes 0x9B, ESC P 0x90,
/// ESC ] 0x9D and ESC \ 0x9C.
inline std::string eightBitReply(std::string_view sevenBit)
{
    std::string out;
    for (size_t i = 0; i < sevenBit.size(); ++i) {
        if (sevenBit[i] == '\x1b' && i + 1 < sevenBit.size()) {
            const char next = sevenBit[i + 1];
            const char c1 = next == '['    ? '\x9b'
                            : next == 'P'  ? '\x90'
                            : next == ']'  ? '\x9d'
                            : next == '\\' ? '\x9c'
                                           : 0;
            if (c1 != 0) {
                out += c1;
                ++i;
                continue;
            }
        }
        out += sevenBit[i];
    }
    return out;
}

/// Puts the cursor at a screen position of the active buffer with CUP, counted from the screen's
/// top left corner also in origin mode.
inline void moveCursor(Terminal& terminal, int col, int row)
{
    const TerminalUnsharedScope unshared(terminal.terminalLock());
    const Buffer& buffer = terminal.buffer();
    if (terminal.mode(TerminalMode::originMode)) {
        row -= buffer.scrollTop();
        if (terminal.mode(TerminalMode::marginMode))
            col -= buffer.marginLeft();
    }
    terminal.feed("\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H");
}

} // namespace kestrovan::testing
