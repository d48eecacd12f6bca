// Host input and content snapshots over random terminal states.
//
// The first bytes size a terminal (columns, rows, scrollback); the rest is a stream of operations:
// arbitrary output bytes, output runs that scroll lines into (and out of) the scrollback, mode
// changes a program makes (cursor and keypad modes, bracketed paste, both screens, mouse and focus
// modes, kitty keyboard flags, 8-bit controls, resets), resizes, scrolling the view back, and the
// host operations: keys named by arbitrary `key` and `code` values with any modifiers, event type,
// text and alternate keys; text; pastes; clipboard-read answers; input-state and content snapshots
// of random regions of all three buffer kinds. Besides the sanitizers the fuzzer checks:
// - a host call sends exactly when it says it did, one send, in a well-formed shape for its form:
//   the key's own text or one 7-bit key sequence (a control byte, SS3 and a byte, or one CSI
//   sequence, possibly after an alt ESC); the text itself or one CSI u; a paste without the bytes
//   a paste never passes, inside the markers exactly when bracketed paste is on; the OSC 52 answer
//   with a selection of letters and digits and the content in Base64;
// - the input state and `hostInputModes` agree with the terminal's modes;
// - a snapshot's rows lie within its captured range, which lies within the buffer's ring, with
//   absolute rows increasing by one, at most `cols` cells of width 0, 1 or 2 per row, valid UTF-8
//   text without U+0000, the same text as `displayText` of the line, and (for the active buffer)
//   the cursor on the live screen.
#include "fuzz/FuzzInput.h"
#include "tests/Kestrovan/RecordingTerminalDelegate.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/HostKeyNames.h"
#include "Kestrovan/TerminalHostInput.h"
#include "Kestrovan/TerminalPasteControls.h"
#include "Kestrovan/Utf8.h"
#include "Kestrovan/ViewTerminal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kestrovan;

namespace {

class Input : public FuzzInput
{
public:
    using FuzzInput::FuzzInput;

    /// Up to `limit` raw bytes, the count taken from the stream.
    std::string someBytes(size_t limit) { return bytes(byte() % (limit + 1)); }
};

std::string shown(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", uint8_t(c));
        out += hex;
    }
    return out;
}

[[noreturn]] void broken(const char* what, std::string_view bytes = {})
{
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, shown(bytes).c_str());
    std::abort();
}

bool isValidUtf8Text(std::string_view text)
{
    return isValidUtf8(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Sequences programs send to change what host input must produce, and a few that move content.
const char* const programSequences[] = {
    "\x1b[?1h",
    "\x1b[?1l",
    "\x1b=",
    "\x1b>",
    "\x1b[?66h",
    "\x1b[?66l",
    "\x1b[?2004h",
    "\x1b[?2004l",
    "\x1b[?1049h",
    "\x1b[?1049l",
    "\x1b[?47h",
    "\x1b[?47l",
    "\x1b[?1047h",
    "\x1b[?1047l",
    "\x1b[?1004h",
    "\x1b[?1004l",
    "\x1b[?9h",
    "\x1b[?1000h",
    "\x1b[?1002h",
    "\x1b[?1003h",
    "\x1b[?1000l",
    "\x1b[?67h",
    "\x1b[?67l",
    "\x1b[>1u",
    "\x1b[>31u",
    "\x1b[>15u",
    "\x1b[>8u",
    "\x1b[<u",
    "\x1b[<5u",
    "\x1b[=0u",
    "\x1b[=31;1u",
    "\x1b[=8;2u",
    "\x1b[=2;3u",
    "\x1b[?5522h",
    "\x1b[?5522l",
    "\x1b G",
    "\x1b F",
    "\x1b"
    "c",
    "\x1b[!p",
    "\x1b[3J",
    "\x1b[2J",
    "\x1b]133;A\x07",
    "\x1b]133;B\x07",
    "\x1b]133;C\x07",
    "\x1b]133;D;0\x07",
    "\xe3\x81\x82\xe3\x81\x84",
    "e\xcc\x81",
    "\xf0\x9f\x98\x80",
    "\x1b[1;31m",
    "\x1b[44m",
    "\x1b[48;2;1;2;3m",
    "\x1b[m",
    "\r\n",
    "\x1b#8",
    "\x1b[?2026h",
    "\x1b[?2026l",
    "\x1b[5S",
    "\x1b[3T",
    "\x1b[2L",
    "\x1b[2M",
    "\x1b[4@",
    "\x1b[3P",
    "\x1b[10X",
    "\x1b[K",
    "\x1b[1K",
    "\x1b[?7l",
    "\x1b[?7h",
    "\x1b[2;3r",
    "\x1b[r",
    "\x1b[H",
    "\x1b[99;99H",
    "\x1b[?6h",
    "\x1b[?6l",
    "\x1b[?69h",
    "\x1b[3;6s",
    "\x1b[?69l",
    "\x1b[?3h",
    "\x1b[?40h",
    "\x1b#6",
    "\x1b#3",
    "\x1bM",
    "\x1b"
    "D",
    "\x1b"
    "E",
    "\t",
    "\b",
    "\x1b[?25l",
};

// Key and code values: the tables' names, names near them, and characters of several lengths.
std::vector<std::string> keyNames()
{
    std::vector<std::string> names;
    for (const HostKeyTable* table : {&hostNamedKeys(), &hostPhysicalKeys(), &hostKeypadNavigation()}) {
        for (const auto& entry : *table)
            names.emplace_back(entry.first);
    }
    for (const char* extra : {"",         "a",
                              "A",        "z",
                              "1",        " ",
                              "\xc3\xa9", "\xf0\x9f\x98\x80",
                              "ab",       "e\xcc\x81",
                              "Numpad",   "Clear",
                              "Dead",     "Unidentified",
                              "KeyA",     "Digit1",
                              "Space",    "F0",
                              "F36",      "f1",
                              "\x1b",     "\r",
                              "\x7f",     "\xed\xa0\x80",
                              "\xff",     "\xc3"})
        names.emplace_back(extra);
    return names;
}

const std::vector<std::string>& names()
{
    static const std::vector<std::string> list = keyNames();
    return list;
}

std::string keyName(Input& input)
{
    const uint8_t selector = input.byte();
    if (selector < 224)
        return names()[selector % names().size()];
    return input.someBytes(6);
}

std::optional<std::string> optionalText(Input& input)
{
    const uint8_t selector = input.byte() % 4;
    if (selector == 0)
        return std::nullopt;
    if (selector == 1)
        return keyName(input);
    return input.someBytes(8);
}

/// A scalar argument: none, an ordinary character, or any 32-bit value.
uint32_t scalarArgument(Input& input)
{
    switch (input.byte() % 4) {
    case 0:
        return 0;
    case 1:
        return 32 + input.byte() % 95;
    case 2:
        return input.word() & 0x1FFFFF;
    default:
        return input.word();
    }
}

// --- Shapes of sent bytes ------------------------------------------------------------------------

bool isParameterByte(uint8_t byte)
{
    return byte >= 0x30 && byte <= 0x3F;
}

/// ESC [ parameters final, with nothing before or after.
bool isWellFormedCsi(std::string_view s)
{
    if (s.size() < 3 || s[0] != '\x1b' || s[1] != '[')
        return false;
    for (size_t i = 2; i + 1 < s.size(); ++i) {
        if (!isParameterByte(uint8_t(s[i])))
            return false;
    }
    const auto final = uint8_t(s.back());
    return final >= 0x40 && final <= 0x7E;
}

bool hasControls(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](char c) { return uint8_t(c) < 0x20 || uint8_t(c) == 0x7F; });
}

/// What an encoded key may look like: text the host supplied (possibly after an alt ESC), or one
/// sequence of the encoder's own (7-bit).
void checkKeyBytes(std::string_view out, const std::vector<std::string>& supplied)
{
    if (out.empty())
        broken("an empty send");
    for (const std::string& candidate : supplied) {
        if (!candidate.empty() && (out == candidate || out == "\x1b" + candidate))
            return;
    }
    if (!isValidUtf8Text(out))
        broken("a key sent bytes that are not UTF-8", out);
    std::string_view rest = out;
    if (rest.size() >= 2 && rest[0] == '\x1b' &&
        (rest[1] == '\x1b' || uint8_t(rest[1]) < 0x20 || rest[1] == 0x7F))
        rest.remove_prefix(1);
    if (rest.size() == 1 && (uint8_t(rest[0]) < 0x20 || rest[0] == 0x7F))
        return;
    if (rest.size() == 3 && rest[0] == '\x1b' && rest[1] == 'O' && rest[2] >= 0x40 && rest[2] <= 0x7E)
        return;
    if (isWellFormedCsi(rest))
        return;
    // Text the encoder derives itself: a keypad key's character, or a key's own scalar.
    if (!hasControls(rest))
        return;
    broken("a key sent neither supplied text nor one well-formed sequence", out);
}

void checkPasteBytes(std::string_view out, bool bracketed)
{
    constexpr std::string_view start = "\x1b[200~";
    constexpr std::string_view end = "\x1b[201~";
    std::string_view body = out;
    if (bracketed) {
        if (!body.starts_with(start) || !body.ends_with(end) || body.size() < start.size() + end.size())
            broken("a bracketed paste without its markers", out);
        body = body.substr(start.size(), body.size() - start.size() - end.size());
    } else if (body.find('\n') != std::string_view::npos) {
        broken("a line feed in an unbracketed paste", out);
    }
    for (const char c : body) {
        if (TerminalPasteControls::fixedDisallowedBytes().test(uint8_t(c)))
            broken("a paste passed a byte it must replace", out);
    }
}

// --- Snapshots -----------------------------------------------------------------------------------

const Buffer& bufferOf(const Terminal& t, Terminal::BufferKind kind)
{
    switch (kind) {
    case Terminal::BufferKind::normal:
        return t.buffer(Terminal::BufferKind::normal);
    case Terminal::BufferKind::alt:
        return t.buffer(Terminal::BufferKind::alt);
    case Terminal::BufferKind::active:
        break;
    }
    return t.buffer();
}

void checkInputState(Terminal& t, const TerminalInputStateSnapshot& state)
{
    // The fuzzer's terminal is its own: no other thread reaches it.
    t.terminalLock().assumeHeldByCaller();
    if (state.dimensions != TerminalDimensions(t.cols(), t.rows()) ||
        state.isAlternateBuffer != t.isCurrentBufferAlternate() ||
        state.applicationCursor != t.mode(TerminalMode::applicationCursor) ||
        state.applicationKeypad != t.mode(TerminalMode::applicationKeypad) ||
        state.bracketedPasteMode != t.mode(TerminalMode::bracketedPasteMode) ||
        state.mouseMode != t.mouseMode() || state.keyboardEnhancementFlags != t.keyboardEnhancementFlags() ||
        state.focusReportingEnabled != t.mode(TerminalMode::sendFocus))
        broken("the input state differs from the terminal's modes");
    const uint32_t modes = hostInputModes(t);
    if (bool(modes & 1) != state.applicationCursor || bool(modes & 2) != state.applicationKeypad ||
        bool(modes & 4) != state.bracketedPasteMode ||
        bool(modes & 8) != t.mode(TerminalMode::kittyPasteEventsEnabled) ||
        (modes >> 8) != state.keyboardEnhancementFlags.rawValue || (modes & 0xF0) != 0)
        broken("hostInputModes differs from the input state");
}

void checkSnapshot(Terminal& t, const TerminalContentSnapshot& snapshot, const TerminalContentRegion& region,
                   Terminal::BufferKind kind)
{
    checkInputState(t, snapshot.inputState);
    const Buffer& buffer = bufferOf(t, kind);
    const int64_t top = buffer.linesTop();
    const int64_t lineCount = buffer.lines().count();
    const TerminalAbsoluteRowRange range = snapshot.capturedRange;
    if (range.lowerBound < top || range.upperBound > top + lineCount || range.lowerBound > range.upperBound)
        broken("the captured range leaves the buffer's ring");
    if (static_cast<int64_t>(snapshot.rows.size()) != range.count())
        broken("the row count differs from the captured range");
    if (snapshot.liveTopRow < top || snapshot.liveTopRow > top + lineCount)
        broken("the live top row lies outside the ring");
    if (region.isViewport()) {
        if (range.count() > t.rows())
            broken("a viewport of more rows than the screen");
    } else {
        if (range.upperBound != top + lineCount || range.lowerBound > snapshot.liveTopRow)
            broken("a history region that does not end with the live screen");
        if (snapshot.liveTopRow - range.lowerBound > std::max(*region.maximumScrollbackRows(), 0))
            broken("more scrollback than asked for");
    }

    int64_t expectedRow = range.lowerBound;
    for (const TerminalContentRowSnapshot& row : snapshot.rows) {
        if (row.absoluteRow != expectedRow++)
            broken("absolute rows do not increase by one");
        if (static_cast<int>(row.cells.size()) > t.cols())
            broken("a row wider than the screen");
        for (const TerminalCellSnapshot& cell : row.cells) {
            if (cell.width < 0 || cell.width > 2)
                broken("a cell width outside 0 ... 2");
            if (!isValidUtf8Text(cell.text))
                broken("a cell text that is not UTF-8", cell.text);
        }
        const std::string text = row.text();
        if (!isValidUtf8Text(text) || text.find('\0') != std::string::npos)
            broken("a row text that is not UTF-8 or holds U+0000", text);
        const std::string display = displayText(buffer, static_cast<int>(row.absoluteRow - top), t.cols());
        if (display != text) {
            std::fprintf(stderr, "row text: %s\ndisplay text: %s\n", shown(text).c_str(),
                         shown(display).c_str());
            broken("the row text differs from the line's display text");
        }
    }

    // The buffer in use always has the terminal's size; one that is not in use may keep the size it
    // had when it was left until it is shown again.
    const bool active = &buffer == &t.buffer();
    const int width = active ? t.cols() : buffer.cols();
    if (snapshot.cursorColumn < 0 || snapshot.cursorColumn > width) {
        std::fprintf(stderr, "buffer kind %d (%s), cursor column %d, width %d\n", int(kind),
                     active ? "active" : "inactive", snapshot.cursorColumn, width);
        broken("the cursor column lies outside the screen");
    }
    if (active &&
        (snapshot.cursorRow < snapshot.liveTopRow || snapshot.cursorRow >= snapshot.liveTopRow + t.rows()))
        broken("the cursor row lies outside the live screen");
    // The alternate buffer holds no lines until it is first shown.
    if (lineCount > 0 && (snapshot.cursorRow < top || snapshot.cursorRow >= top + lineCount)) {
        std::fprintf(stderr,
                     "buffer kind %d (%s), cursor row %lld, ring %lld ... %lld, yBase %d, y %d, rows %d\n",
                     int(kind), active ? "active" : "inactive", (long long)snapshot.cursorRow, (long long)top,
                     (long long)(top + lineCount), buffer.yBase(), buffer.y(), buffer.rows());
        broken("the cursor row lies outside the buffer's ring");
    }
}

TerminalContentRegion region(Input& input)
{
    const uint8_t selector = input.byte();
    if (selector % 3 == 0)
        return TerminalContentRegion::viewport();
    if (selector % 3 == 1)
        return TerminalContentRegion::history(static_cast<int8_t>(input.byte()));
    return TerminalContentRegion::history(static_cast<int>(input.word()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    auto host = std::make_shared<testing::RecordingTerminalDelegate>();
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 2 + input.byte() % 40;
    options.rows = 1 + input.byte() % 16;
    options.scrollback = input.byte() % 48;
    // A view terminal with a watchdog that does nothing: no timer thread touches the terminal.
    const std::shared_ptr<Terminal> terminal = ViewTerminal::create(
        host, options, [](bool, uint64_t) {}, [](Terminal&) {});
    Terminal& t = *terminal;

    int operations = 0;
    while (!input.empty() && operations++ < 256) {
        const uint8_t op = input.byte() % 14;
        const size_t sendsBefore = host->sends.size();
        t.terminalLock().lock();
        switch (op) {
        case 0:
            // Arbitrary output.
            t.feed(input.someBytes(64));
            break;
        case 1: {
            // Lines of output that scroll into and out of the scrollback.
            std::string lines;
            const int count = input.byte() % 64;
            for (int i = 0; i < count; ++i)
                lines += "line " + std::to_string(i) + "\r\n";
            t.feed(lines);
            break;
        }
        case 2:
        case 3:
            t.feed(programSequences[input.byte() % std::size(programSequences)]);
            break;
        case 4:
            t.resize(2 + input.byte() % 50, 1 + input.byte() % 20);
            break;
        case 5: {
            // The user scrolls the view back.
            t.scrollViewportTo(std::clamp(static_cast<int>(input.byte()), 0, t.buffer().yBase()));
            break;
        }
        case 6:
        case 7: {
            const std::string key = keyName(input);
            const std::string code = keyName(input);
            const uint32_t modifiers = input.byte() % 2 ? input.byte() : input.word();
            const uint32_t eventType = input.byte() % 8 ? 1 + input.byte() % 3 : input.word();
            const std::optional<std::string> text = optionalText(input);
            const uint32_t shifted = scalarArgument(input);
            const uint32_t base = scalarArgument(input);
            const int result = sendHostKey(t, key, code, modifiers, eventType, text, shifted, base);
            const size_t sent = host->sends.size() - sendsBefore;
            if (result < 0 || result > 2)
                broken("a key result other than 0, 1 or 2");
            if (sent != (result == 1 ? 1u : 0u))
                broken("a key result that does not match what was sent");
            if (result == 0 && (eventType < 1 || eventType > 2))
                broken("0 for an event type other than press or repeat");
            if (result == 1) {
                std::vector<std::string> supplied{key};
                if (text)
                    supplied.push_back(utf8String(decodeUtf8(*text)));
                if (shifted != 0 && isValidScalar(char32_t(shifted)))
                    supplied.push_back(utf8String(std::u32string(1, char32_t(shifted))));
                const std::vector<uint8_t>& bytes = host->sends.back();
                checkKeyBytes(std::string(bytes.begin(), bytes.end()), supplied);
            }
            break;
        }
        case 8: {
            const std::string text = input.someBytes(16);
            const bool sent = sendHostText(t, text);
            if (host->sends.size() - sendsBefore != (sent ? 1u : 0u))
                broken("sendHostText's answer does not match what was sent");
            const std::string expected = utf8String(decodeUtf8(text));
            if (sent != !expected.empty())
                broken("text that was not sent, or nothing that was", text);
            if (sent) {
                const std::vector<uint8_t>& bytes = host->sends.back();
                const std::string out(bytes.begin(), bytes.end());
                if (out != expected && !(isWellFormedCsi(out) && out.back() == 'u'))
                    broken("host text sent as neither itself nor one CSI u", out);
            }
            break;
        }
        case 9: {
            const std::string text = input.someBytes(24);
            const bool bracketed = t.mode(TerminalMode::bracketedPasteMode);
            const bool sent = sendHostTextPaste(t, text, input.byte() % 2);
            if (host->sends.size() - sendsBefore != (sent ? 1u : 0u))
                broken("sendHostTextPaste's answer does not match what was sent");
            if (sent) {
                const std::vector<uint8_t>& bytes = host->sends.back();
                checkPasteBytes(std::string(bytes.begin(), bytes.end()), bracketed);
            }
            break;
        }
        case 10: {
            const std::string selection = input.someBytes(4);
            const std::string content = input.someBytes(32);
            t.completeClipboardRead(
                selection,
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
            if (host->sends.size() - sendsBefore != 1)
                broken("a clipboard answer that is not one send");
            const std::vector<uint8_t>& bytes = host->sends.back();
            const std::string out(bytes.begin(), bytes.end());
            const std::string introducer = t.cc().send8bit ? "\x9d" : "\x1b]";
            const std::string terminator = t.cc().send8bit ? "\x9c" : "\x1b\\";
            if (!out.starts_with(introducer + "52;") || !out.ends_with(terminator))
                broken("a clipboard answer without its OSC frame", out);
            const std::string body =
                out.substr(introducer.size() + 3, out.size() - introducer.size() - 3 - terminator.size());
            const size_t semicolon = body.find(';');
            if (semicolon == std::string::npos || semicolon == 0)
                broken("a clipboard answer without a selection", out);
            for (size_t i = 0; i < semicolon; ++i) {
                const char c = body[i];
                if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
                    broken("a clipboard answer echoing a selection of other bytes", out);
            }
            const std::string encoded = body.substr(semicolon + 1);
            const auto decoded = base64DecodeStrict(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size()));
            if (!decoded || std::string(decoded->begin(), decoded->end()) != content)
                broken("a clipboard answer whose Base64 does not give the content back", out);
            break;
        }
        case 11:
            checkInputState(t, t.inputStateSnapshotLocked());
            break;
        default: {
            const TerminalContentRegion where = region(input);
            const auto kind = static_cast<Terminal::BufferKind>(input.byte() % 3);
            checkSnapshot(t, t.contentSnapshotLocked(where, kind), where, kind);
            break;
        }
        }
        t.terminalLock().unlock();
        host->sends.clear();
    }

    // The unlocked form takes the lock itself and gives the same picture.
    const TerminalContentSnapshot last =
        t.contentSnapshot(TerminalContentRegion::history(1000), Terminal::BufferKind::active);
    TerminalLockGuard guard(t.terminalLock());
    checkSnapshot(t, last, TerminalContentRegion::history(1000), Terminal::BufferKind::active);
    if (last != t.contentSnapshotLocked(TerminalContentRegion::history(1000), Terminal::BufferKind::active))
        broken("two snapshots of an unchanged terminal differ");
    return 0;
}
