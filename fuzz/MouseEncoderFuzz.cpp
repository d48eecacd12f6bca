// The mouse report encoder under arbitrary input: each step picks a tracking mode, a wire
// encoding and 7-bit or 8-bit controls, then drives one entry point with arbitrary values: the
// host entry point (raw action, button and modifier values, any cell and pixel position), a
// report value over the terminal's modes (any action, button and modifiers, any position), the
// encoder with any mode, or the UTF-8 value encoder alone.
//
// Every report must be well formed for its encoding: the right introducer, exactly the fields the
// encoding has, byte values in their ranges (a UTF-8 value is one byte, two well-formed bytes, or
// the 0 byte that stands for 2047), decimal fields of digits only, positions of at least 1, and the
// position fields equal to the clamped input. The host entry point must send exactly one report
// when it answers true and none when it answers false.
#include "fuzz/FuzzInput.h"
#include "tests/Kestrovan/RecordingTerminalDelegate.h"

#include "Kestrovan/MouseReport.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace kestrovan;
using kestrovan::testing::RecordingTerminalDelegate;

namespace {

using Encoding = Terminal::MouseProtocolEncoding;

class Input : public FuzzInput
{
public:
    using FuzzInput::FuzzInput;

    /// Mostly small positions near the encodings' limits, sometimes any 32-bit value.
    int position()
    {
        switch (byte() % 4) {
        case 0:
            return byte();
        case 1:
            return 1900 + int(word() % 300);
        case 2:
            return -int(byte());
        default:
            return static_cast<int>(word());
        }
    }
};

[[noreturn]] void malformed(const char* what, const std::vector<uint8_t>& report)
{
    std::fprintf(stderr, "malformed mouse report: %s:", what);
    for (uint8_t byte : report)
        std::fprintf(stderr, " %02X", byte);
    std::fprintf(stderr, "\n");
    std::abort();
}

/// What a report says, read back from its bytes.
struct Parsed
{
    int64_t code = 0;
    int64_t x = 0;
    int64_t y = 0;
    bool release = false;
};

/// Reads one UTF-8 encoded value; the 0 byte stands for 2047.
int64_t readUtfValue(const std::vector<uint8_t>& report, size_t& at)
{
    if (at >= report.size())
        malformed("UTF-8 value missing", report);
    const uint8_t lead = report[at++];
    if (lead == 0)
        return 2047;
    if (lead < 0x80)
        return lead;
    if (lead < 0xC2 || lead > 0xDF)
        malformed("UTF-8 value with a bad lead byte", report);
    if (at >= report.size() || (report[at] & 0xC0) != 0x80)
        malformed("UTF-8 value with a bad continuation byte", report);
    return int64_t(lead & 0x1F) << 6 | (report[at++] & 0x3F);
}

/// Reads a decimal field: one or more digits, no sign, no leading zero, nothing else.
int64_t readDecimal(const std::vector<uint8_t>& report, size_t& at)
{
    const size_t start = at;
    int64_t value = 0;
    while (at < report.size() && report[at] >= '0' && report[at] <= '9') {
        if (at - start > 15)
            malformed("decimal field too long", report);
        value = value * 10 + (report[at] - '0');
        ++at;
    }
    if (at == start)
        malformed("decimal field without digits", report);
    if (report[start] == '0' && at - start > 1)
        malformed("decimal field with a leading zero", report);
    return value;
}

void expectByte(const std::vector<uint8_t>& report, size_t& at, uint8_t byte, const char* what)
{
    if (at >= report.size() || report[at] != byte)
        malformed(what, report);
    ++at;
}

Parsed parseReport(const std::vector<uint8_t>& report, Encoding encoding, bool send8bit)
{
    size_t at = 0;
    if (send8bit) {
        expectByte(report, at, 0x9B, "8-bit CSI expected");
    } else {
        expectByte(report, at, 0x1B, "ESC expected");
        expectByte(report, at, '[', "[ expected");
    }
    Parsed parsed;
    switch (encoding) {
    case Encoding::x10:
        expectByte(report, at, 'M', "X10 M expected");
        if (report.size() != at + 3)
            malformed("X10 report is not three bytes after M", report);
        parsed.code = report[at] - 32;
        parsed.x = report[at + 1] - 33;
        parsed.y = report[at + 2] - 33;
        if (parsed.code < 0 || parsed.x < 0 || parsed.y < 0)
            malformed("X10 value below its offset", report);
        at += 3;
        break;
    case Encoding::utf8:
        expectByte(report, at, 'M', "UTF-8 M expected");
        parsed.code = readUtfValue(report, at) - 32;
        parsed.x = readUtfValue(report, at) - 33;
        parsed.y = readUtfValue(report, at) - 33;
        if (parsed.code < 0 || parsed.x < 0 || parsed.y < 0)
            malformed("UTF-8 value below its offset", report);
        break;
    case Encoding::sgr:
    case Encoding::sgrPixel:
        expectByte(report, at, '<', "SGR < expected");
        parsed.code = readDecimal(report, at);
        expectByte(report, at, ';', "SGR ; expected");
        parsed.x = readDecimal(report, at) - 1;
        expectByte(report, at, ';', "SGR ; expected");
        parsed.y = readDecimal(report, at) - 1;
        if (at >= report.size() || (report[at] != 'M' && report[at] != 'm'))
            malformed("SGR final M or m expected", report);
        parsed.release = report[at] == 'm';
        ++at;
        if (parsed.code > 255)
            malformed("SGR button past one byte", report);
        break;
    case Encoding::urxvt:
        parsed.code = readDecimal(report, at) - 32;
        expectByte(report, at, ';', "URXVT ; expected");
        parsed.x = readDecimal(report, at) - 1;
        expectByte(report, at, ';', "URXVT ; expected");
        parsed.y = readDecimal(report, at) - 1;
        expectByte(report, at, 'M', "URXVT final M expected");
        if (parsed.code < 0 || parsed.code > 255)
            malformed("URXVT button outside one byte", report);
        break;
    }
    if (at != report.size())
        malformed("bytes after the report", report);
    if (parsed.x < 0 || parsed.y < 0)
        malformed("position below 1", report);
    return parsed;
}

/// The position a report must carry for an input position.
int64_t expectedPosition(int value, Encoding encoding)
{
    const int64_t clamped = std::max<int64_t>(value, 0);
    switch (encoding) {
    case Encoding::x10:
        return std::min<int64_t>(clamped, 222);
    case Encoding::utf8: {
        // Past 2014 every position reads as 2047 - 33, and exactly 2014 does too (as the 0 byte).
        return std::min<int64_t>(clamped + 33, 2047) - 33;
    }
    default:
        return clamped;
    }
}

/// Checks a report against the input's positions and the release it should be.
void checkReport(const std::vector<uint8_t>& report, Encoding encoding, bool send8bit, int x, int y,
                 int pixelX, int pixelY, std::optional<bool> release)
{
    const Parsed parsed = parseReport(report, encoding, send8bit);
    const bool pixels = encoding == Encoding::sgrPixel;
    if (parsed.x != expectedPosition(pixels ? pixelX : x, encoding))
        malformed("column differs from the input", report);
    if (parsed.y != expectedPosition(pixels ? pixelY : y, encoding))
        malformed("row differs from the input", report);
    const bool sgr = encoding == Encoding::sgr || encoding == Encoding::sgrPixel;
    if (sgr && release && parsed.release != *release)
        malformed("SGR final byte does not match the release", report);
    if (!sgr && parsed.release)
        malformed("only SGR marks releases", report);
}

struct Fixture
{
    std::shared_ptr<RecordingTerminalDelegate> delegate = std::make_shared<RecordingTerminalDelegate>();
    std::shared_ptr<Terminal> terminal;

    Fixture()
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 80;
        options.rows = 24;
        options.scrollback = 0;
        terminal = Terminal::create(delegate, options);
    }
};

void runStep(Terminal& t, RecordingTerminalDelegate& delegate, Input& input)
{
    const TerminalUnsharedScope unshared(t.terminalLock());
    // Tracking off, or one of the four tracking modes.
    static const char* const trackingModes[] = {"\x1b[?1003l", "\x1b[?9h", "\x1b[?1000h", "\x1b[?1002h",
                                                "\x1b[?1003h"};
    t.feed(trackingModes[input.byte() % 5]);
    const auto encoding = static_cast<Encoding>(input.byte() % 5);
    // Mode 1006 reset selects X10; each other encoding has a mode of its own.
    static const char* const encodingModes[] = {"\x1b[?1006l", "\x1b[?1005h", "\x1b[?1006h", "\x1b[?1015h",
                                                "\x1b[?1016h"};
    t.feed(encodingModes[static_cast<int>(encoding)]);
    t.feed(input.byte() & 1 ? "\x1b G" : "\x1b F"); // S8C1T or S7C1T
    delegate.sends.clear();

    const uint32_t modes = hostPointerModes(t);
    if ((modes & 7) != static_cast<uint32_t>(t.mouseMode()) ||
        ((modes >> 3) & 7) != static_cast<uint32_t>(encoding))
        malformed("host pointer modes disagree with the terminal", {});

    switch (input.byte() % 5) {
    case 0: {
        // The host entry point with raw values, as a foreign host would pass them.
        const uint32_t rawAction = input.byte() < 240 ? input.byte() % 4 : input.word();
        const uint32_t rawButton = input.byte() < 240 ? input.byte() % 8 : input.word();
        const uint32_t modifiers = input.byte() < 240 ? input.byte() % 16 : input.word();
        const int col = input.byte() < 200 ? input.byte() % 80 : input.position();
        const int row = input.byte() < 200 ? input.byte() % 24 : input.position();
        const int pixelX = input.position();
        const int pixelY = input.position();
        const std::optional<TerminalMouseAction> action = terminalMouseActionFromRaw(rawAction);
        const std::optional<TerminalMouseButton> button = terminalMouseButtonFromRaw(rawButton);
        if (!action || !button)
            break;
        const bool sent = sendHostMouse(t, *action, *button, modifiers, col, row, pixelX, pixelY);
        if (sent != (delegate.sends.size() == 1) || delegate.sends.size() > 1)
            malformed("host entry point's answer does not match what it sent", {});
        if (sent) {
            if (col < 0 || col >= 80 || row < 0 || row >= 24 || modifiers > 15)
                malformed("host entry point sent an event it should refuse", delegate.sends[0]);
            checkReport(delegate.sends[0], encoding, t.cc().send8bit, col, row, pixelX, pixelY,
                        *action == TerminalMouseAction::release);
        }
        break;
    }
    case 1:
    case 2: {
        // A report value over the terminal's modes: bytes exactly when the mode reports it.
        const MouseReport report{static_cast<TerminalMouseAction>(input.byte() % 4),
                                 static_cast<TerminalMouseButton>(input.byte() % 8),
                                 MouseReportModifiers(static_cast<uint8_t>(input.byte() & 7)),
                                 input.position(),
                                 input.position(),
                                 input.position(),
                                 input.position()};
        const std::optional<std::vector<uint8_t>> bytes = mouseReportBytes(t, report);
        if (bytes.has_value() != mouseModeReports(t.mouseMode(), report))
            malformed("report bytes disagree with the mode's rule", bytes.value_or(std::vector<uint8_t>{}));
        if (bytes)
            checkReport(*bytes, encoding, t.cc().send8bit, report.col, report.row, report.pixelX,
                        report.pixelY, report.action == TerminalMouseAction::release);
        break;
    }
    case 3: {
        // The encoder with any mode and any raw action, button and modifier bits.
        const MouseReport report{
            static_cast<TerminalMouseAction>(input.byte() < 240 ? input.byte() % 4 : input.word()),
            static_cast<TerminalMouseButton>(input.byte() < 240 ? input.byte() % 8 : input.word()),
            MouseReportModifiers(input.byte()),
            input.position(),
            input.position(),
            input.position(),
            input.position()};
        const MouseReportEncoding with{static_cast<MouseMode>(input.byte() % 5), encoding, t.cc().send8bit};
        checkReport(encodeMouseReport(report, with), encoding, with.eightBitControls, report.col, report.row,
                    report.pixelX, report.pixelY, report.action == TerminalMouseAction::release);
        break;
    }
    default: {
        // The UTF-8 value encoder alone: 2047, and nothing above 0, is the 0 byte; any other
        // value reads back as itself, capped at 2047, from one or two bytes.
        const int value = static_cast<int>(input.word());
        std::vector<uint8_t> out;
        encodeMouseUtf(out, value);
        if (value == 2047 || value <= 0) {
            if (out != std::vector<uint8_t>{0})
                malformed("UTF-8 value should be the 0 byte", out);
            break;
        }
        size_t at = 0;
        const int64_t decoded = readUtfValue(out, at);
        if (at != out.size())
            malformed("UTF-8 value with trailing bytes", out);
        if (decoded != std::min(value, 2047))
            malformed("UTF-8 value does not read back", out);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One terminal for the whole run: the encoders read only the modes set at each step.
    static Fixture fixture;
    Input input(data, size);
    for (int step = 0; step < 64 && !input.empty(); ++step)
        runStep(*fixture.terminal, *fixture.delegate, input);
    return 0;
}
