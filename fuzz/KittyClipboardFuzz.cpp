// OSC 5522 packets and whole clipboard transactions against a fake host that answers at random
// times.
//
// The input is a script of actions, read with libFuzzer's FuzzedDataProvider: structured read,
// write, data, alias and commit packets (from small pools of MIME names, passwords and base64 cut
// anywhere), raw packet bodies, the host answering one or all of its held calls, the completion
// queue running one or all of its items, the host changing its capabilities, answers and
// contents, pastes with clipboard snapshots, mode 5522, the clock, full resets, 8-bit replies and
// the terminal's end. The script is played several times over into the same terminal, like a
// program that never stops sending, while the host answers its oldest call whenever more than 64
// are held.
//
// Besides the sanitizers it checks what the protocol promises: every clipboard reply is a
// well-formed 7-bit packet; each read and each write is answered at most once; live requests never
// outnumber the work that can still answer them (nothing pending is ever forgotten), and once the
// host has answered everything none is left; the token and grant stores stay within 32 entries,
// and no more than 32 reads wait at once.
#include "tests/Kestrovan/KittyClipboardFakeHost.h"

#include "Kestrovan/TerminalInnerState.h"

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <set>
#include <string>

namespace {

using namespace kestrovan;
using namespace kestrovan::testing;

[[noreturn]] void fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "%s: ", what);
    for (unsigned char c : detail)
        std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

const char* const mimePool[] = {"text/plain", "TEXT/PLAIN", "image/png", "text/html", "a/b", "x", "."};
const char* const secretPool[] = {"", "pw", "token1", "token2", "token3"};

/// The fuzzing state of one input.
struct Session
{
    std::unique_ptr<ClipboardFixture> fixture = std::make_unique<ClipboardFixture>();
    int nextID = 0;
    int terminals = 1;
    /// Ids ("Q" and a number) that have had their final answer, per direction.
    std::set<std::string> answeredReads, answeredWrites;

    FakeClipboardHost& host() { return *fixture->host; }
    Terminal& terminal() { return *fixture->terminal; }

    void feedBody(const std::string& body)
    {
        const TerminalUnsharedScope unshared(terminal().terminalLock());
        terminal().feed("\x1b]5522;" + body + "\x1b\\");
    }

    /// The host answers its oldest calls while it holds too many, like a user working through
    /// prompts.
    void answerSome()
    {
        while (host().held.size() > 64) {
            std::function<void()> oldest = std::move(host().held.front());
            host().held.pop_front();
            oldest();
        }
    }

    /// Every live request has one piece of work that can still answer it: a queued step or a
    /// held host call.
    void checkBounds()
    {
        const KittyClipboardProtocol* protocol =
            fixture->terminal ? fixture->terminal->innerState().kittyClipboard : nullptr;
        if (!protocol)
            return;
        const size_t live = protocol->pendingReadCount() + (protocol->hasCommittedWrite() ? 1 : 0);
        if (live > host().held.size() + fixture->queue->pendingCount())
            fail("a request waits for work that no longer exists", std::to_string(live));
        if (protocol->tokenCount() > 32 || protocol->rememberedGrants().size() > 32)
            fail("a store passed its limit", std::to_string(protocol->tokenCount()));
        if (protocol->pendingReadCount() > KittyClipboardProtocol::maximumPendingReads)
            fail("more reads wait than the bound allows", std::to_string(protocol->pendingReadCount()));
    }

    /// Checks and forgets what the program has received.
    void checkReplies()
    {
        for (const std::vector<uint8_t>& sent : host().sends) {
            const std::string reply(sent.begin(), sent.end());
            if (reply.rfind("\x1b]5522;", 0) != 0)
                continue; // text pastes and the terminal's other replies
            checkPackets(reply);
        }
        host().sends.clear();
    }

    void checkPackets(const std::string& reply)
    {
        size_t at = 0;
        while (at < reply.size()) {
            if (reply.compare(at, 12, "\x1b]5522;type=") != 0)
                fail("a packet without its introducer", reply);
            const size_t end = reply.find("\x1b\\", at);
            if (end == std::string::npos)
                fail("a packet without its terminator", reply);
            const std::string body = reply.substr(at + 7, end - at - 7);
            for (unsigned char c : body) {
                if (c < 0x20 || c > 0x7E)
                    fail("a packet byte that is not printable ASCII", reply);
            }
            checkFinal(body, reply);
            at = end + 2;
        }
    }

    /// Records a final status (DONE or an error) and fails on a second one for the same id.
    void checkFinal(const std::string& body, const std::string& reply)
    {
        const bool read = body.rfind("type=read:status=", 0) == 0;
        if (!read && body.rfind("type=write:status=", 0) != 0)
            fail("a packet of an unknown type", reply);
        const size_t statusAt = body.find("status=") + 7;
        const std::string status = body.substr(statusAt, body.find_first_of(":;", statusAt) - statusAt);
        static const std::set<std::string> known = {"OK",    "DATA",   "DONE", "EPERM", "ENOSYS",
                                                    "EBUSY", "EINVAL", "EIO",  "EFBIG"};
        if (!known.count(status))
            fail("an unknown status", reply);
        const size_t idAt = body.find(":id=Q");
        if (status == "OK" || status == "DATA" || idAt == std::string::npos)
            return;
        const std::string id = body.substr(idAt + 4, body.find_first_of(":;", idAt + 1) - idAt - 4);
        if (!(read ? answeredReads : answeredWrites).insert(id).second)
            fail("a request answered twice", reply);
    }

    std::string freshID() { return "Q" + std::to_string(++nextID); }
};

std::string pick(FuzzedDataProvider& input, const char* const* pool, size_t count)
{
    return pool[input.ConsumeIntegralInRange<size_t>(0, count - 1)];
}

/// Metadata fields for location, name and password.
std::string whoFields(FuzzedDataProvider& input)
{
    std::string fields;
    if (input.ConsumeBool())
        fields += ":loc=primary";
    const std::string password = pick(input, secretPool, std::size(secretPool));
    if (!password.empty())
        fields += ":pw=" + b64(password);
    if (input.ConsumeBool())
        fields += ":name=" + b64("prog");
    return fields;
}

/// Base64 of some bytes, sometimes cut mid-group or spoiled.
std::string payload(FuzzedDataProvider& input)
{
    std::string data = input.ConsumeRandomLengthString(48);
    std::string encoded = b64(data);
    switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
        encoded = encoded.substr(0, input.ConsumeIntegralInRange<size_t>(0, encoded.size()));
        break;
    case 1:
        encoded = data; // not base64 at all, mostly
        break;
    default:
        break;
    }
    // Bytes that would end the OSC early are dropped, so the whole payload arrives.
    std::erase_if(encoded, [](char c) { return c == 0x1B || c == 0x07 || c == 0x18 || c == 0x1A; });
    return encoded;
}

TerminalClipboardSnapshot makeSnapshot(FuzzedDataProvider& input, FakeClipboardHost& host)
{
    const auto location =
        input.ConsumeBool() ? KittyClipboardLocation::primary : KittyClipboardLocation::standard;
    std::vector<std::string> types;
    for (int i = input.ConsumeIntegralInRange(0, 3); i > 0; --i)
        types.push_back(pick(input, mimePool, std::size(mimePool) - 2));
    const bool later = input.ConsumeBool();
    std::optional<double> expires;
    if (input.ConsumeBool())
        expires = input.ConsumeFloatingPoint<double>();
    // The snapshot reads through the host's held calls; the host outlives every terminal.
    FakeClipboardHost* reader = &host;
    return TerminalClipboardSnapshot(
        location, types, 1, expires,
        [reader, later, location](const std::string& type,
                                  std::function<void(KittyClipboardReadResult)> done) {
            const KittyClipboardReadResult result = reader->readResult(location, type);
            if (later)
                reader->held.push_back([done, result] { done(result); });
            else
                done(result);
            return true;
        });
}

void step(Session& session, FuzzedDataProvider& input)
{
    FakeClipboardHost& host = session.host();
    Terminal& terminal = session.terminal();
    const TerminalUnsharedScope unshared(terminal.terminalLock());
    using Answer = FakeClipboardHost::Answer;
    switch (input.ConsumeIntegralInRange(0, 17)) {
    case 0:
    case 1: { // a read of a listing or of types
        std::string types;
        for (int i = input.ConsumeIntegralInRange(1, 3); i > 0; --i)
            types += pick(input, mimePool, std::size(mimePool)) + " ";
        session.feedBody("type=read:id=" + session.freshID() + whoFields(input) + ";" + b64(types));
        break;
    }
    case 2: // a write opens
        session.feedBody("type=write:id=" + session.freshID() + whoFields(input) +
                         (input.ConsumeBool() ? "" : ";"));
        break;
    case 3:
    case 4: // data for a type
        session.feedBody("type=wdata:mime=" + b64(pick(input, mimePool, std::size(mimePool))) + ";" +
                         payload(input));
        break;
    case 5: // the commit
        session.feedBody("type=wdata");
        break;
    case 6: // aliases
        session.feedBody("type=walias:mime=" + b64(pick(input, mimePool, std::size(mimePool))) + ";" +
                         b64(pick(input, mimePool, std::size(mimePool)) + " " +
                             pick(input, mimePool, std::size(mimePool))));
        break;
    case 7: { // any body at all; "Q" is kept for the ids the script hands out
        std::string body = input.ConsumeRandomLengthString(256);
        for (char& c : body) {
            if (c == 'Q')
                c = 'q';
        }
        session.feedBody(body);
        break;
    }
    case 8: // the host answers one held call, or all of them
        if (input.ConsumeBool()) {
            host.releaseHeld();
        } else if (!host.held.empty()) {
            const size_t index = input.ConsumeIntegralInRange<size_t>(0, host.held.size() - 1);
            std::function<void()> call = std::move(host.held[index]);
            host.held.erase(host.held.begin() + static_cast<ptrdiff_t>(index));
            call();
        }
        break;
    case 9: // the completion queue runs one item, or until idle
        if (input.ConsumeBool())
            session.fixture->queue->runOnce();
        else
            session.fixture->settle();
        break;
    case 10: { // the host changes how it answers
        const Answer answers[] = {Answer::now, Answer::later, Answer::refuse};
        host.listing = answers[input.ConsumeIntegralInRange(0, 2)];
        host.reading = answers[input.ConsumeIntegralInRange(0, 2)];
        host.asking = answers[input.ConsumeIntegralInRange(0, 2)];
        host.writing = answers[input.ConsumeIntegralInRange(0, 2)];
        host.permission = input.ConsumeBool() ? KittyClipboardPermissionResult::allow(input.ConsumeBool())
                                              : KittyClipboardPermissionResult::deny();
        host.writeResult = static_cast<KittyClipboardWriteResult>(input.ConsumeIntegralInRange(0, 6));
        host.takesPasteEvents = input.ConsumeBool();
        break;
    }
    case 11: { // the clipboards change
        const auto location =
            input.ConsumeBool() ? KittyClipboardLocation::primary : KittyClipboardLocation::standard;
        if (input.ConsumeBool()) {
            host.contents.erase(location);
        } else {
            const std::string data = input.ConsumeRandomLengthString(64);
            host.contents[location].push_back(
                {pick(input, mimePool, std::size(mimePool) - 2), {data.begin(), data.end()}});
            if (host.contents[location].size() > 4)
                host.contents[location].erase(host.contents[location].begin());
        }
        const KittyClipboardReadResult special[] = {KittyClipboardReadResult::busy(),
                                                    KittyClipboardReadResult::denied(),
                                                    KittyClipboardReadResult::unavailable()};
        if (input.ConsumeBool())
            host.readAnswers[pick(input, mimePool, 4)] = special[input.ConsumeIntegralInRange(0, 2)];
        else
            host.readAnswers.clear();
        break;
    }
    case 12: // capabilities, told or found out later
        host.capabilities = KittyClipboardCapabilities(input.ConsumeIntegralInRange<uint8_t>(0, 15));
        if (input.ConsumeBool())
            terminal.refreshKittyClipboardCapabilities();
        break;
    case 13: { // a paste, as an event or as text
        TerminalPasteRequest request;
        if (input.ConsumeBool())
            request.snapshot = makeSnapshot(input, host);
        if (input.ConsumeBool())
            request.text = input.ConsumeRandomLengthString(32);
        session.fixture->tokensFail = input.ConsumeBool();
        terminal.paste(request, input.ConsumeBool());
        break;
    }
    case 14: { // the terminal's own state: modes, reset, 8-bit replies, policy
        const char* const sequences[] = {"\x1b[?5522h", "\x1b[?5522l", "\x1b[?5522$p", "\x1b[?5522s",
                                         "\x1b[?5522r", "\x1b\x63",    "\x1b G",       "\x1b F"};
        terminal.feed(sequences[input.ConsumeIntegralInRange(0, 7)]);
        if (input.ConsumeBool()) {
            TerminalOptions options = terminal.options();
            options.kittyClipboardPolicy = KittyClipboardPolicy(input.ConsumeIntegralInRange<uint8_t>(0, 3));
            terminal.setOptions(options);
        }
        break;
    }
    case 15: // time passes
        session.fixture->now += input.ConsumeIntegralInRange<uint64_t>(0, 40'000'000'000);
        break;
    case 16: // the terminal goes, with whatever is in flight; a new one takes its place
        if (session.terminals < 3) {
            ++session.terminals;
            // The old terminal's clean-up runs as its fixture goes; the host stays for the next.
            session.fixture = std::make_unique<ClipboardFixture>(
                KittyClipboardPolicy::all, TerminalOptions::defaults(), session.fixture->host);
        }
        break;
    case 17: // long data, streamed in pieces of any size
        session.feedBody("type=wdata:mime=" + b64("text/plain") + ";" +
                         std::string(input.ConsumeIntegralInRange<size_t>(0, 1 << 14), 'A'));
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int rounds = 1 + data[0] % 4;
    Session session;
    for (int round = 0; round < rounds; ++round) {
        FuzzedDataProvider input(data + 1, size - 1);
        while (input.remaining_bytes() > 0) {
            step(session, input);
            session.answerSome();
            session.checkReplies();
            session.checkBounds();
        }
    }

    // The host answers everything; then no request may be left waiting.
    FakeClipboardHost& host = session.host();
    host.listing = host.reading = host.asking = host.writing = FakeClipboardHost::Answer::now;
    for (int i = 0; i < 1000 && (!host.held.empty() || session.fixture->queue->pendingCount() > 0); ++i) {
        host.releaseHeld();
        session.fixture->settle();
    }
    session.checkReplies();
    const KittyClipboardProtocol& protocol = session.fixture->protocol();
    if (protocol.pendingReadCount() != 0 || protocol.hasCommittedWrite())
        fail("a request is left unanswered after the host answered everything", "");
    return 0;
}
