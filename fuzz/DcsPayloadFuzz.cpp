// DCS payloads and APC commands into a small terminal: the DECRQSS and XTGETTCAP handlers, the
// Sixel handler and the kitty graphics entry point.
//
// The first input byte picks the handler (bits 0-1: DECRQSS, XTGETTCAP, Sixel, APC G), whether the
// terminal answers in 8-bit form (bit 2) and how the payload is cut (bits 3-7: 0 is one piece,
// otherwise the seed of a run of random piece sizes). The rest is the payload. Bytes that would end
// the string before its terminator are moved out of the way (ESC, CAN, 0x19, SUB and the 8-bit ST
// inside DCS; every C0 control inside APC), so the whole payload reaches the handler, which is the
// point. Besides the sanitizers, every reply is checked: a DCS string (an APC string for kitty
// graphics) that ends with ST, holds only printable ASCII between them, and has the shape of its
// handler's answers, so no reply can carry a control a program could use to inject input.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"

#include "Kestrovan/Terminal.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kestrovan;

enum class Target
{
    decrqss,
    xtgettcap,
    sixel,
    kittyGraphics,
};

[[noreturn]] void reject(const std::string& reason, const std::vector<uint8_t>& reply)
{
    std::string shown;
    for (const uint8_t byte : reply) {
        char text[8];
        std::snprintf(text, sizeof text, byte >= 0x20 && byte < 0x7F ? "%c" : "\\x%02x", byte);
        shown += text;
    }
    std::fprintf(stderr, "malformed reply (%s): %s\n", reason.c_str(), shown.c_str());
    std::abort();
}

/// The payload byte as it is sent: one that would end the string early becomes a harmless one.
uint8_t insideString(uint8_t byte, Target target)
{
    // Bytes 0x80-0x9F are payload inside both strings; only 0x9C ends a DCS.
    if (target == Target::kittyGraphics)
        return byte < 0x20 ? static_cast<uint8_t>(byte + 0x40) : byte;
    if (byte == 0x18 || byte == 0x19 || byte == 0x1A || byte == 0x1B)
        return static_cast<uint8_t>(byte + 0x40);
    return byte == 0x9C ? static_cast<uint8_t>(byte + 0x20) : byte;
}

bool isUppercaseHex(std::string_view text)
{
    return !text.empty() && text.size() % 2 == 0 &&
           text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

void checkReply(const std::vector<uint8_t>& reply, Target target, bool eightBit)
{
    // The introducer and terminator, 7-bit or 8-bit, and the same form at both ends.
    size_t introducer = 0;
    size_t terminator = 0;
    bool sevenBit = false;
    const uint8_t stringType = target == Target::kittyGraphics ? '_' : 'P';
    if (reply.size() >= 4 && reply[0] == 0x1B && reply[1] == stringType && reply[reply.size() - 2] == 0x1B &&
        reply.back() == '\\') {
        introducer = terminator = 2;
        sevenBit = true;
    } else if (reply.size() >= 2 && reply[0] == (target == Target::kittyGraphics ? 0x9F : 0x90) &&
               reply.back() == 0x9C) {
        introducer = terminator = 1;
    } else {
        reject("no DCS/APC introducer and ST", reply);
    }
    const std::string body(reply.begin() + static_cast<ptrdiff_t>(introducer),
                           reply.end() - static_cast<ptrdiff_t>(terminator));
    for (const char c : body) {
        if (c < 0x20 || c > 0x7E)
            reject("a control or non-ASCII byte inside", reply);
    }

    switch (target) {
    case Target::decrqss:
        if (sevenBit == eightBit)
            reject("DECRQSS answered in the wrong form", reply);
        if (body != "0$r" && body.rfind("1$r", 0) != 0)
            reject("not a DECRQSS answer", reply);
        return;
    case Target::xtgettcap: {
        if (!sevenBit)
            reject("XTGETTCAP answers are always 7-bit", reply);
        if (body.rfind("1+r", 0) != 0)
            reject("not an XTGETTCAP answer", reply);
        const std::string_view rest = std::string_view(body).substr(3);
        const size_t equals = rest.find('=');
        if (!isUppercaseHex(rest.substr(0, equals)) ||
            (equals != std::string_view::npos && !isUppercaseHex(rest.substr(equals + 1))))
            reject("an XTGETTCAP name or value that is not uppercase hexadecimal", reply);
        return;
    }
    case Target::sixel:
        reject("the Sixel handler does not answer", reply);
    case Target::kittyGraphics:
        if (body.empty() || body[0] != 'G')
            reject("not a kitty graphics answer", reply);
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    const auto target = static_cast<Target>(selector & 0x03);
    const bool eightBit = (selector & 0x04) != 0;
    uint32_t chunkSeed = selector >> 3;

    std::vector<uint8_t> payload;
    payload.reserve(size - 1);
    for (size_t i = 1; i < size; ++i)
        payload.push_back(insideString(data[i], target));

    testing::TerminalFixture fixture(20, 5, 10);
    Terminal& terminal = *fixture.terminal;
    const TerminalUnsharedScope unshared(terminal.terminalLock());
    if (eightBit)
        terminal.feed("\x1b G");

    static constexpr std::string_view introducers[] = {"\x1bP$q", "\x1bP+q", "\x1bPq", "\x1b_G"};
    terminal.feed(introducers[static_cast<size_t>(target)]);
    // Piece sizes of 1 to 64 bytes from a small xorshift generator, or the whole payload at once.
    size_t at = 0;
    while (at < payload.size()) {
        size_t piece = payload.size() - at;
        if (chunkSeed != 0) {
            chunkSeed ^= chunkSeed << 13;
            chunkSeed ^= chunkSeed >> 17;
            chunkSeed ^= chunkSeed << 5;
            piece = std::min<size_t>(piece, chunkSeed % 64 + 1);
        }
        terminal.feed(std::span<const uint8_t>(payload.data() + at, piece));
        at += piece;
    }
    terminal.feed("\x1b\\");

    for (const std::vector<uint8_t>& reply : fixture.delegate->sends)
        checkReply(reply, target, eightBit);
    return 0;
}
