#include "Kestrovan/DecrqssHandler.h"

#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace kestrovan {

namespace {

/// The request as it is safe to print: control and non-ASCII bytes as \xNN, so a hostile request
/// cannot drive the terminal the diagnostics are read in.
std::string printableRequest(std::span<const uint8_t> bytes)
{
    std::string out;
    for (const uint8_t byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

} // namespace

// Every answer is built from the terminal's state; none repeats the request except its fixed final
// bytes.
std::optional<std::string> DECRQSS::settingText(const Terminal& terminal, std::string_view request)
{
    const Buffer& buffer = terminal.buffer();
    if (request == "m") // SGR: the current rendition, which `toSgr` ends with "m"
        return terminal.currentAttribute().toSgr();
    if (request == "r") // DECSTBM
        return std::to_string(buffer.scrollTop() + 1) + ";" + std::to_string(buffer.scrollBottom() + 1) + "r";
    if (request == "s") // DECSLRM
        return std::to_string(buffer.marginLeft() + 1) + ";" + std::to_string(buffer.marginRight() + 1) + "s";
    if (request == " q") // DECSCUSR: the styles are numbered from 1 in their declared order
        return std::to_string(static_cast<int>(terminal.options().cursorStyle) + 1) + " q";
    if (request == "\"q") // DECSCA
        return std::string(terminal.mode(TerminalMode::characterProtection) ? "1" : "0") + "\"q";
    if (request == "\"p") // DECSCL: a VT500-class terminal with 7-bit controls
        return "65;1\"p";
    if (request == "t") // DECSLPP
        return std::to_string(terminal.rows()) + "t";
    if (request == "*|") // DECSNLS
        return std::to_string(terminal.rows()) + "*|";
    if (request == "*x") // DECSACE
        return std::to_string(terminal.reportedOnly().attributeChangeExtent) + "*x";
    if (request == "$~") // DECSSDT: no status line
        return "0$~";
    if (request == "$}") // DECSASD: the main display
        return "0$}";
    return std::nullopt;
}

void DECRQSS::hook(std::span<const uint8_t>, const CsiParameters&, uint8_t)
{
    buffer_.clear();
    truncated_ = false;
}

void DECRQSS::put(std::span<const uint8_t> data)
{
    // Keep only the head of an over-long request: no setting is that long, so the answer is the
    // same, and a program cannot make the terminal hold an endless payload.
    const size_t room = maximumRequestBytes - buffer_.size();
    if (data.size() > room)
        truncated_ = true;
    buffer_.insert(buffer_.end(), data.begin(),
                   data.begin() + static_cast<ptrdiff_t>(std::min(room, data.size())));
}

void DECRQSS::unhook()
{
    std::vector<uint8_t> request;
    request.swap(buffer_);
    const bool truncated = truncated_;
    truncated_ = false;

    const std::shared_ptr<Terminal> terminal = terminal_.lock();
    if (!terminal)
        return;
    // DCS handlers run inside the terminal's feed, under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    // Only 7-bit text can name a setting; a byte above 0x7F makes the request unknown.
    const bool ascii = std::all_of(request.begin(), request.end(), [](uint8_t byte) { return byte < 0x80; });
    std::optional<std::string> text;
    if (ascii && !truncated)
        text = settingText(*terminal,
                           std::string_view(reinterpret_cast<const char*>(request.data()), request.size()));

    if (text) {
        terminal->sendResponse(terminal->cc().DCS(), "1$r" + *text, terminal->cc().ST());
        return;
    }
    if (!terminal->silentLog())
        printDiagnostic("Info: Unknown DCS + " + printableRequest(request) + (truncated ? "..." : ""));
    terminal->sendResponse(terminal->cc().DCS(), "0$r", terminal->cc().ST());
}

} // namespace kestrovan
