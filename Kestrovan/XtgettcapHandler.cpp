#include "Kestrovan/XtgettcapHandler.h"

#include "Kestrovan/KestrovanTerminfo.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

namespace {

/// The key of the terminal's name, "TN", which is answered from the option rather than the table.
constexpr std::string_view terminalNameKey = "544E";

std::optional<uint8_t> hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

std::string uppercaseHex(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

} // namespace

void XTGETTCAP::hook(std::span<const uint8_t>, const CsiParameters&, uint8_t)
{
    buffer_.clear();
    overflowed_ = false;
}

void XTGETTCAP::put(std::span<const uint8_t> data)
{
    if (overflowed_)
        return;
    // A request past the limit is dropped whole rather than answered in part: the buffer is freed
    // at once and the rest of the payload is not even kept.
    if (data.size() > maximumPayloadBytes - buffer_.size()) {
        overflowed_ = true;
        std::vector<uint8_t>().swap(buffer_);
        return;
    }
    buffer_.insert(buffer_.end(), data.begin(), data.end());
}

void XTGETTCAP::unhook()
{
    std::vector<uint8_t> payload;
    payload.swap(buffer_);
    const bool overflowed = overflowed_;
    overflowed_ = false;
    if (overflowed)
        return;

    // Every piece between semicolons is a request of its own, empty ones included (they are
    // rejected like any malformed name).
    const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
    size_t start = 0;
    while (true) {
        const size_t end = text.find(';', start);
        reply(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
}

std::optional<std::string> XTGETTCAP::normalizedKey(std::string_view piece)
{
    if (piece.empty() || piece.size() % 2 != 0)
        return std::nullopt;
    std::string key;
    key.reserve(piece.size());
    for (const char c : piece) {
        if (!hexDigitValue(c))
            return std::nullopt;
        key += c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return key;
}

void XTGETTCAP::reply(std::string_view piece)
{
    const std::optional<std::string> key = normalizedKey(piece);
    if (!key)
        return;
    if (*key == terminalNameKey) {
        replyWithTerminalName();
        return;
    }
    // Unknown names get no answer at all (no "0+r"), so nothing of the request is echoed.
    const auto& replies = KestrovanTerminfo::xtgettcapReplies();
    const auto found = replies.find(*key);
    if (found == replies.end())
        return;
    if (const std::shared_ptr<Terminal> terminal = terminal_.lock()) {
        // DCS handlers run inside the terminal's feed, under its lock.
        terminal->terminalLock().assumeHeldByCaller();
        terminal->sendResponse(found->second);
    }
}

void XTGETTCAP::replyWithTerminalName()
{
    const std::shared_ptr<Terminal> terminal = terminal_.lock();
    if (!terminal)
        return;
    // DCS handlers run inside the terminal's feed, under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    // The name goes out in hexadecimal, so even an odd option value cannot inject a control.
    terminal->sendResponse("\x1bP1+r544E=" + uppercaseHex(terminal->options().termName) + "\x1b\\");
}

} // namespace kestrovan
