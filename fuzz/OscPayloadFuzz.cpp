// One OSC with an arbitrary payload into a small terminal with a recording host.
//
// The first input byte picks the sequence: its low five bits choose an OSC number from the ones
// the terminal handles (0-20) or, for 21-31, a number made of the next two input bytes; bits 5
// and 6 choose the terminator (BEL, ESC \ or the 8-bit ST); bit 7 switches replies to 8-bit
// controls. The rest is the payload, with the bytes that always end an OSC string (BEL, CAN, 0x19,
// SUB, ESC) taken out so that the whole of it reaches the handler.
//
// Besides the sanitizers the fuzzer checks what a program could abuse: every reply is one framed
// OSC whose body is printable ASCII, program-status texts hold no control characters, and the
// payload bookkeeping stays consistent.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace kestrovan;

constexpr int handledCodes[] = {0,  1,   2,   4,   6,   7,   8,   9,    10,   11,  12,
                                52, 104, 110, 111, 112, 133, 777, 1337, 5522, 7501};
constexpr size_t handledCodeCount = sizeof(handledCodes) / sizeof(handledCodes[0]);

[[noreturn]] void fail(const char* what, const std::vector<uint8_t>& bytes)
{
    std::fprintf(stderr, "%s:", what);
    for (uint8_t byte : bytes)
        std::fprintf(stderr, " %02x", byte);
    std::fprintf(stderr, "\n");
    std::abort();
}

/// One OSC framed by the chosen introducer and ended by ST (or BEL), with a printable body.
void checkReply(const std::vector<uint8_t>& reply, bool send8bit)
{
    size_t start = 0;
    if (send8bit && !reply.empty() && reply[0] == 0x9D)
        start = 1;
    else if (!send8bit && reply.size() >= 2 && reply[0] == 0x1B && reply[1] == ']')
        start = 2;
    else
        fail("reply without the OSC introducer", reply);

    size_t end = reply.size();
    if (end > start && reply[end - 1] == 0x07)
        end -= 1;
    else if (send8bit && end > start && reply[end - 1] == 0x9C)
        end -= 1;
    else if (!send8bit && end >= start + 2 && reply[end - 2] == 0x1B && reply[end - 1] == '\\')
        end -= 2;
    else
        fail("reply without a terminator", reply);

    for (size_t index = start; index < end; ++index) {
        if (reply[index] < 0x20 || reply[index] > 0x7E)
            fail("reply body with a byte that is not printable ASCII", reply);
    }
}

void checkText(const std::optional<std::string>& text)
{
    if (!text)
        return;
    for (char c : *text) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F)
            fail("program-status text with a control character",
                 std::vector<uint8_t>(text->begin(), text->end()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    size_t at = 1;
    int code;
    if ((selector & 0x1F) < handledCodeCount) {
        code = handledCodes[selector & 0x1F];
    } else {
        if (size < 3)
            return 0;
        code = data[1] | (data[2] << 8);
        at = 3;
    }
    const bool send8bit = (selector & 0x80) != 0;

    std::string input = "\x1b]" + std::to_string(code) + ";";
    for (; at < size; ++at) {
        const uint8_t byte = data[at];
        if (byte != 0x07 && byte != 0x18 && byte != 0x19 && byte != 0x1A && byte != 0x1B)
            input.push_back(static_cast<char>(byte));
    }
    switch ((selector >> 5) & 3) {
    case 1:
        input += "\x1b\\";
        break;
    case 2:
        input += "\x9c";
        break;
    default:
        input += "\x07";
        break;
    }

    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 20;
    options.rows = 5;
    options.scrollback = 10;
    options.featureReport = "Kv1";
    auto host = std::make_shared<testing::RecordingTerminalDelegate>();
    host->clipboardContent = std::vector<uint8_t>{'c', 'l', 'i', 'p', 0x1B, '[', 'A', 0xFF};
    auto terminal = Terminal::create(host, options);
    Terminal& t = *terminal;
    const TerminalUnsharedScope unshared(t.terminalLock());
    if (send8bit)
        t.feed("\x1b G"); // S8C1T

    t.feed(input);
    // Print under whatever link the sequence opened, at the top left corner.
    if (t.innerState().activeHyperlink) {
        t.feed("\x1b[?6l\x1b[Hx");
        const std::shared_ptr<const BufferLine> line = t.getLine(0);
        const PackedCell cell = line && line->count() > 0 ? line->packed(0) : PackedCell();
        if (cell.payloadCode() != 0 && !stringPayload(cell))
            fail("a link code without its payload text", {});
    }

    for (const std::vector<uint8_t>& reply : host->sends)
        checkReply(reply, send8bit);
    for (const TerminalProgramStatus& record : t.programStatusRecords()) {
        checkText(record.title);
        checkText(record.message);
    }
    if (t.programStatusRecords().size() > TerminalProgramStatusStore::maximumRecords)
        fail("too many program-status records", {});
    if (t.ansiColors().size() != 256)
        fail("the palette lost entries", {});
    int held = 0;
    for (uint64_t word : (*t.innerState().payloads).held)
        held += std::popcount(word);
    if (held != (*t.innerState().payloads).count)
        fail("the held payload count disagrees with the held codes", {});
    return 0;
}
