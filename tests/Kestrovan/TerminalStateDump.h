// A text dump of everything a terminal's host or program can observe, and the recording host that
// goes with it, for tests and fuzzers that compare two terminals fed the same bytes differently.
//
// The dump covers both buffers line by line (each packed cell decoded through the arena, so two
// terminals whose arenas handed out ids in another order still compare equal), the lines' own
// state, cursors, saved cursors, regions, margins, tab stops, modes, charsets, colours, titles and
// protocol states, then every call the terminal made to its delegate and every diagnostic line it
// printed, in order. It leaves out what depends on how the bytes were cut into feeds and not on
// the bytes: line generations and render identities (render-cache counters that count writes),
// the notifications delivered once per outermost feed (scroll position and the synchronized-output
// watchdog, armed and re-armed per feed), and payload atom codes (handed out by one process-wide
// table, so two terminals in a process never share them: the dump shows the values behind them).
//
// Nothing here uses GoogleTest: the fuzz targets link it too.
#pragma once

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan::testing {

/// A host that writes every call it receives into one ordered log, with its arguments and the
/// bytes of every reply. The colour setters run the default afterwards (writing the colour back
/// into the terminal), and every query answers what the default host answers.
class LoggingTerminalDelegate : public TerminalDelegate
{
public:
    std::vector<std::string> calls;

    void showCursor(Terminal&) override;
    void hideCursor(Terminal&) override;
    void setTerminalTitle(Terminal&, const std::string& title) override;
    void setTerminalIconTitle(Terminal&, const std::string& title) override;
    std::optional<std::vector<uint8_t>> windowCommand(Terminal&,
                                                      const WindowManipulationCommand& command) override;
    void sizeChanged(Terminal&) override;
    void send(Terminal&, Bytes data) override;
    void bufferActivated(Terminal&) override;
    void synchronizedOutputChanged(Terminal&, bool active) override;
    void scheduleSynchronizedOutputTimeout(Terminal&, uint32_t afterMilliseconds) override;
    void bell(Terminal&) override;
    void selectionChanged(Terminal&) override;
    bool isProcessTrusted(Terminal&) override;
    std::optional<CellPixelSize> cellSizeInPixels(Terminal& source) override;
    void mouseModeChanged(Terminal&) override;
    void cursorStyleChanged(Terminal&, CursorStyle newStyle) override;
    void hostCurrentDirectoryUpdated(Terminal&) override;
    void hostCurrentDocumentUpdated(Terminal&) override;
    void colorChanged(Terminal&, std::optional<int> idx) override;
    void setForegroundColor(Terminal& source, const Color& color) override;
    void setBackgroundColor(Terminal& source, const Color& color) override;
    void setCursorColor(Terminal& source, const std::optional<Color>& color) override;
    std::pair<Color, Color> getColors(Terminal& source) override;
    void iTermContent(Terminal&, Bytes content) override;
    void clipboardCopy(Terminal&, Bytes content) override;
    std::optional<std::vector<uint8_t>> clipboardRead(Terminal&) override;
    bool clipboardReadRequest(Terminal&, const std::string& selection) override;
    KittyClipboardCapabilities kittyClipboardCapabilities(Terminal&) override;
    bool kittyClipboardSendPasteEvent(Terminal& source, Bytes data) override;
    void notify(Terminal&, const std::string& title, const std::string& body) override;
    void progressReport(Terminal&, const ProgressReport& report) override;
    void programStatusChanged(Terminal&, const std::vector<TerminalProgramStatus>& records) override;
    void createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int width, int height) override;
    void createImage(Terminal&, Bytes data, ImageSizeRequest width, ImageSizeRequest height,
                     bool preserveAspectRatio) override;
};

/// A terminal whose once-per-feed notifications are counted instead of acted on: the watchdog of
/// synchronized output arms no timer, so no other thread ever touches the terminal and a slow run
/// (one byte per feed under a sanitizer) cannot see synchronized output end on its own.
class QuietTerminal : public Terminal
{
public:
    using Terminal::Terminal;

    int scrollNotifications = 0;
    int watchdogApplications = 0;

    void scrollPositionChanged() override { ++scrollNotifications; }
    void applySynchronizedOutputWatchdog(bool, uint64_t) override { ++watchdogApplications; }
};

/// A terminal, its logging host and the diagnostics it printed. Unknown sequences are reported
/// (`silentLog` off) and captured while a feed runs, so they become part of the dump.
class DumpedTerminal
{
public:
    explicit DumpedTerminal(const TerminalOptions& options);

    /// Feeds one chunk, capturing the diagnostic lines printed meanwhile.
    void feed(std::span<const uint8_t> bytes);
    void feed(std::string_view text);
    /// Resizes between feeds; the resize is logged too, so that two runs resized at different
    /// points do not compare equal by accident.
    void resize(int cols, int rows);

    Terminal& terminal() { return *terminal_; }
    const std::shared_ptr<QuietTerminal>& terminalPointer() const { return terminal_; }
    LoggingTerminalDelegate& delegate() { return *delegate_; }
    const std::vector<std::string>& diagnostics() const { return diagnostics_; }

    /// `dumpTerminalState` followed by the delegate calls and diagnostics in order.
    std::string dump();

private:
    std::shared_ptr<LoggingTerminalDelegate> delegate_;
    std::shared_ptr<QuietTerminal> terminal_;
    std::vector<std::string> diagnostics_;
};

/// The terminal's observable state as text, one fact per line (see the top of this file).
std::string dumpTerminalState(Terminal& terminal) REQUIRES(terminal.terminalLock());

/// The dump of one buffer, its lines included.
std::string dumpBufferState(const Buffer& buffer);

/// One line of a buffer: its header (wrap flag, render mode, bidi state, used length, prompt
/// marks, wide gap, images) and its cells, runs of equal cells shortened to "cell*count".
std::string dumpLine(const BufferLine& line);

/// Bytes as printable text: printable ASCII as is (backslash doubled), everything else \xHH.
std::string escapeBytes(std::span<const uint8_t> bytes);
std::string escapeBytes(std::string_view text);

/// Where two dumps part: the number of the first differing line, that line in both, and a few
/// lines before it, for a failure message. Empty when the dumps are equal.
std::string describeDumpDifference(const std::string& expected, const std::string& actual);

} // namespace kestrovan::testing
