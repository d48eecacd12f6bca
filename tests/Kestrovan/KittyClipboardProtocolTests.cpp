// The clipboard protocol object: the default policy, capabilities coming and going, resets and
// teardown dropping late completions, grants and paste tokens, and paste events.
#include "KittyClipboardFakeHost.h"
#include "TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace kestrovan::testing {
namespace {

using Location = KittyClipboardLocation;
using Caps = KittyClipboardCapabilities;

bool pasteEventsOn(Terminal& terminal)
{
    return terminal.mode(TerminalMode::kittyPasteEventsEnabled);
}

std::string readBody(const std::string& types, const std::string& fields)
{
    return "type=read" + fields + ";" + b64(types);
}

TEST(KittyClipboardProtocolTests, PolicyDecidesBeforeTheHostIsAsked)
{
    for (const bool eightBit : {false, true}) {
        ClipboardFixture f{KittyClipboardPolicy()};
        if (eightBit)
            f.terminal->feed("\x1b G"); // S8C1T: the packets keep their 7-bit frame
        f.host->contents[Location::standard] = {{"text/plain", bytes("x")}};
        EXPECT_EQ(f.exchange(readBody(".", ":id=1")), packet("read", "ENOSYS", ":id=1"));
        EXPECT_EQ(f.exchange(readBody("text/plain", ":loc=primary")), packet("read", "ENOSYS"));
        EXPECT_EQ(f.exchange("type=write:id=2"), packet("write", "ENOSYS", ":id=2"));
        EXPECT_EQ(f.exchange("type=wdata:mime=" + b64("text/plain") + ";eA=="), "")
            << "no transaction was opened";
        EXPECT_EQ(f.exchange("type=wdata"), "");
        EXPECT_EQ(f.host->listings, 0);
        EXPECT_TRUE(f.host->permissionRequests.empty() && f.host->writes.empty());
    }

    ClipboardFixture readOnly(KittyClipboardPolicy::read);
    EXPECT_EQ(readOnly.exchange("type=write:id=w"), packet("write", "ENOSYS", ":id=w"));
    readOnly.host->capabilities = Caps::standardWrite;
    EXPECT_EQ(readOnly.exchange(readBody(".", ":id=r")), packet("read", "ENOSYS", ":id=r"))
        << "the host cannot read";
}

TEST(KittyClipboardProtocolTests, LosingTheStandardPairAnswersOpenRequests)
{
    ClipboardFixture f;
    f.host->contents[Location::standard] = {{"text/plain", bytes("x")}};
    f.terminal->feed("\x1b[?5522h\x1b[?5522s");
    ASSERT_TRUE(pasteEventsOn(*f.terminal));
    f.host->asking = FakeClipboardHost::Answer::later;
    EXPECT_EQ(f.exchange(readBody("text/plain", ":id=r1")), "");
    EXPECT_EQ(f.exchange(readBody("text/plain", ":id=r2")), "");
    EXPECT_EQ(f.exchange("type=write:id=w"), "");

    f.host->capabilities = Caps::all.subtracting(Caps::standardWrite);
    f.host->sends.clear();
    f.terminal->refreshKittyClipboardCapabilities();
    EXPECT_EQ(f.host->sent(), packet("write", "ENOSYS", ":id=w") + packet("read", "ENOSYS", ":id=r1") +
                                  packet("read", "ENOSYS", ":id=r2"));
    EXPECT_FALSE(pasteEventsOn(*f.terminal)) << "paste events are switched off";
    f.terminal->feed("\x1b[?5522r");
    EXPECT_FALSE(pasteEventsOn(*f.terminal)) << "and the saved value is forgotten";
    EXPECT_EQ(f.release(), "") << "the prompts answered afterwards change nothing";
    EXPECT_EQ(f.protocol().pendingReadCount(), 0u);

    // Gaining the pair sends nothing but also switches paste events off.
    ClipboardFixture g;
    g.host->capabilities = Caps();
    g.terminal->refreshKittyClipboardCapabilities();
    g.terminal->feed("\x1b[?5522h");
    ASSERT_TRUE(pasteEventsOn(*g.terminal));
    g.host->capabilities = Caps::standard;
    g.host->sends.clear();
    g.terminal->refreshKittyClipboardCapabilities();
    EXPECT_EQ(g.host->sent(), "");
    EXPECT_FALSE(pasteEventsOn(*g.terminal));

    // A committed write waiting for the user is open too.
    ClipboardFixture h;
    h.host->asking = FakeClipboardHost::Answer::later;
    EXPECT_EQ(h.exchange("type=write:id=w") + h.exchange("type=wdata"), "");
    h.host->capabilities = Caps::primaryRead;
    h.host->sends.clear();
    h.terminal->refreshKittyClipboardCapabilities();
    EXPECT_EQ(h.host->sent(), packet("write", "ENOSYS", ":id=w"));
    EXPECT_EQ(h.release(), "");
}

TEST(KittyClipboardProtocolTests, ResetAndTeardownDropLateCompletions)
{
    ClipboardFixture f;
    f.host->contents[Location::standard] = {{"text/plain", bytes("x")}};
    f.host->listing = FakeClipboardHost::Answer::later;
    f.host->asking = FakeClipboardHost::Answer::later;
    f.host->permission = KittyClipboardPermissionResult::allow(true);
    EXPECT_EQ(f.exchange(readBody("text/plain", ":id=1")) + f.exchange(readBody(".", ":id=2")), "");
    EXPECT_EQ(f.exchange("type=write:id=3") + f.exchange("type=wdata"), "");
    f.terminal->feed("\x1b"
                     "c"); // RIS
    EXPECT_EQ(f.release(), "") << "no answer reaches the program after a full reset";
    EXPECT_EQ(f.release(), "") << "nor from the prompts the late listings started";
    EXPECT_EQ(f.protocol().pendingReadCount(), 0u);
    EXPECT_FALSE(f.protocol().hasCommittedWrite());
    EXPECT_EQ(f.protocol().rememberedGrants().size(), 0u);

    // The terminal goes while a read waits; its completion later finds nothing to answer.
    ClipboardFixture g;
    g.host->contents[Location::standard] = {{"text/plain", bytes("x")}};
    g.host->asking = FakeClipboardHost::Answer::later;
    EXPECT_EQ(g.exchange(readBody("text/plain", ":id=1")), "");
    std::weak_ptr<const KittyClipboardProtocol> protocol = g.protocol().weak_from_this();
    g.terminal.reset();
    g.settle();
    EXPECT_TRUE(protocol.expired()) << "the clean-up on the queue was its last use";
    g.host->releaseHeld();
    g.settle();
    EXPECT_EQ(g.host->sent(), "");
}

TEST(KittyClipboardProtocolTests, GrantsAndTokensStayWithinTheirLimits)
{
    KittyClipboardGrants grants;
    for (int i = 0; i < 33; ++i)
        grants.add("pw" + std::to_string(i), KittyClipboardPermissionDirection::read, Location::standard);
    grants.add("pw5", KittyClipboardPermissionDirection::read, Location::standard);
    grants.add("", KittyClipboardPermissionDirection::read, Location::standard);
    EXPECT_EQ(grants.size(), 32u);
    EXPECT_FALSE(grants.covers("pw0", "n", KittyClipboardPermissionDirection::read, Location::standard));
    EXPECT_TRUE(grants.covers("pw1", "n", KittyClipboardPermissionDirection::read, Location::standard));
    EXPECT_FALSE(grants.covers("pw1", "", KittyClipboardPermissionDirection::read, Location::standard));
    EXPECT_FALSE(grants.covers("pw1", "n", KittyClipboardPermissionDirection::write, Location::standard));
    EXPECT_FALSE(grants.covers("pw1", "n", KittyClipboardPermissionDirection::read, Location::primary));
    grants.add("pw33", KittyClipboardPermissionDirection::read, Location::standard);
    EXPECT_FALSE(grants.covers("pw1", "n", KittyClipboardPermissionDirection::read, Location::standard))
        << "remembering pw5 again did not make it younger than pw1";
    EXPECT_TRUE(grants.covers("pw5", "n", KittyClipboardPermissionDirection::read, Location::standard));

    // A protocol object of the fixture's terminal, made here so the test can drive its token store
    // directly; the terminal's own one is left alone.
    ClipboardFixture f;
    const auto own = std::make_shared<KittyClipboardProtocol>(f.terminal, f.queue);
    KittyClipboardProtocol& p = *own;
    auto snapshot = [](std::optional<double> expiresAfter) {
        return TerminalClipboardSnapshot(Location::standard, {"text/plain"}, 1, expiresAfter, nullptr);
    };
    auto redeem = [&](const std::string& token, Location location = Location::standard,
                      std::string name = "n") {
        return p.consumeToken(token, name, KittyClipboardPermissionDirection::read, location).has_value();
    };
    const uint64_t second = 1'000'000'000;
    const struct
    {
        std::optional<double> expiresAfter;
        uint64_t after;
        bool alive;
    } lifetimes[] = {{5, 4 * second, true},
                     {5, 6 * second, false},
                     {300, 29 * second, true},
                     {300, 31 * second, false},
                     {std::nullopt, 30 * second - 1, true},
                     {0, 0, false},
                     {-1, 0, false},
                     {std::nan(""), 29 * second, true}};
    for (const auto& l : lifetimes) {
        p.storeToken("tok", Location::standard, snapshot(l.expiresAfter));
        f.now += l.after;
        EXPECT_EQ(redeem("tok"), l.alive) << l.expiresAfter.value_or(-99) << " s, after " << l.after;
        EXPECT_FALSE(redeem("tok")) << "a token works once";
    }

    p.storeToken("abc", Location::standard, snapshot(std::nullopt));
    EXPECT_FALSE(redeem("abc", Location::primary));
    EXPECT_FALSE(redeem("abc", Location::standard, ""));
    EXPECT_FALSE(redeem("ab"));
    EXPECT_FALSE(redeem("abcd"));
    EXPECT_TRUE(redeem("abc")) << "failed attempts do not use the token up";
    for (int i = 0; i < 33; ++i)
        p.storeToken("t" + std::to_string(i), Location::standard, snapshot(std::nullopt));
    EXPECT_EQ(p.tokenCount(), 32u);
    EXPECT_FALSE(redeem("t0"));
    EXPECT_TRUE(redeem("t1"));

    for (int i = 0; i < 50; ++i) {
        const std::optional<std::string> token = KittyClipboardTokenGenerator::generate();
        ASSERT_TRUE(token);
        EXPECT_EQ(token->size(), 22u);
        EXPECT_EQ(token->find_first_not_of(KittyClipboardTokenGenerator::alphabet), std::string::npos)
            << *token;
    }
    int batches = 0;
    EXPECT_EQ(KittyClipboardTokenGenerator::generate([&](std::span<uint8_t> batch) {
                  // Each batch: rejected bytes (228 and up), then 56 and 0 (or 57, which wraps to 0).
                  std::fill(batch.begin(), batch.end(), static_cast<uint8_t>(228 + batches++));
                  batch[30] = 56;
                  batch[31] = batches == 1 ? 0 : 57;
                  return true;
              }),
              "Z2Z2Z2Z2Z2Z2Z2Z2Z2Z2Z2")
        << "uniform over the alphabet: bytes of 228 and up are skipped";
    EXPECT_EQ(KittyClipboardTokenGenerator::generate([](std::span<uint8_t>) { return false; }), std::nullopt);
    EXPECT_EQ(KittyClipboardTokenGenerator::generate([](std::span<uint8_t> batch) {
                  std::fill(batch.begin(), batch.end(), 255);
                  return true;
              }),
              std::nullopt)
        << "a source that only gives rejected bytes is given up on";
}

TEST(KittyClipboardProtocolTests, PasteEventsAndTheirTokens)
{
    ClipboardFixture f;
    Terminal& t = *f.terminal;
    int snapshotReads = 0;
    std::string clipboard = "pasted";
    TerminalClipboardSnapshot snapshot(
        Location::standard, {"text/plain"}, 7, std::nullopt,
        [&](const std::string& /*type*/, std::function<void(KittyClipboardReadResult)> done) {
            ++snapshotReads;
            done(clipboard.empty() ? KittyClipboardReadResult::unavailable()
                                   : KittyClipboardReadResult::data(bytes(clipboard)));
            return true;
        });

    // Without paste events the text is pasted, bracketed as the mode says; a snapshot alone fails.
    t.feed("\x1b[?2004h");
    f.host->sends.clear();
    EXPECT_EQ(t.paste(TerminalPasteRequest(snapshot, "hi"), false), TerminalPasteResult::textSent);
    EXPECT_EQ(f.host->sent(), "\x1b[200~hi\x1b[201~");
    EXPECT_EQ(t.paste(TerminalPasteRequest(snapshot, std::nullopt), false), TerminalPasteResult::failed);

    t.feed("\x1b[?5522h");
    f.host->sends.clear();
    EXPECT_EQ(t.paste(TerminalPasteRequest(snapshot, "hi"), false), TerminalPasteResult::eventSent);
    EXPECT_EQ(f.host->sent(), packet("read", "OK", ":pw=" + b64("token1")) +
                                  packet("read", "DATA", ":mime=Lg==;" + b64("text/plain\n")) +
                                  packet("read", "DONE"));

    // The token reads the snapshot once, without a prompt, under any name.
    const std::string withToken = ":id=p:name=" + b64("any") + ":pw=" + b64("token1");
    EXPECT_EQ(f.exchange(readBody("text/plain", withToken)), readAnswer("p", {{"text/plain", "pasted"}}));
    EXPECT_TRUE(f.host->permissionRequests.empty());
    EXPECT_EQ(f.host->listings, 0) << "the snapshot lists the types, not the host";
    EXPECT_EQ(f.exchange(readBody("text/plain", withToken)), packet("read", "ENOSYS", ":id=p"))
        << "spent: the host is asked, has nothing, and that is ENOSYS";
    EXPECT_EQ(f.host->listings, 1);

    // After the clipboard changed the snapshot reads nothing.
    EXPECT_EQ(t.paste(TerminalPasteRequest(snapshot, std::nullopt), false), TerminalPasteResult::eventSent);
    clipboard.clear();
    EXPECT_EQ(f.exchange(readBody("text/plain", ":id=p:name=" + b64("n") + ":pw=" + b64("token2"))),
              packet("read", "ENOSYS", ":id=p"));
    EXPECT_EQ(snapshotReads, 2);

    // A primary-selection event needs the standard pair as well; a failed generator sends no pw.
    TerminalClipboardSnapshot primary = snapshot;
    primary.location = Location::primary;
    f.tokensFail = true;
    f.host->sends.clear();
    EXPECT_EQ(t.paste(TerminalPasteRequest(primary, std::nullopt), false), TerminalPasteResult::eventSent);
    EXPECT_EQ(f.host->sent().substr(0, packet("read", "OK", ":loc=primary").size()),
              packet("read", "OK", ":loc=primary"));
    EXPECT_EQ(f.protocol().tokenCount(), 0u);
    f.host->capabilities = Caps::primaryRead | Caps::primaryWrite | Caps::standardRead;
    t.feed("\x1b[?5522h");
    EXPECT_EQ(t.paste(TerminalPasteRequest(primary, std::nullopt), false), TerminalPasteResult::failed);
    f.host->capabilities = Caps::all;
    t.feed("\x1b[?5522h");
    f.host->takesPasteEvents = false;
    EXPECT_EQ(t.paste(TerminalPasteRequest(primary, "x"), false), TerminalPasteResult::textSent)
        << "a host that cannot send the event gets the text";
}

TEST(KittyClipboardProtocolTests, StateStaysBoundedWhilePacketsArriveWithoutEnd)
{
    // A program that never stops reading, writing and pasting, and a host that answers its calls
    // at random times (but never holds more than 64): the protocol keeps only what is still owed.
    ClipboardFixture f;
    f.host->contents[Location::standard] = {{"text/plain", bytes("x")}};
    f.host->listing = f.host->asking = f.host->reading = f.host->writing = FakeClipboardHost::Answer::later;
    f.terminal->feed("\x1b[?5522h");
    TerminalClipboardSnapshot snapshot(Location::standard, {"text/plain"}, 1, std::nullopt, nullptr);
    std::mt19937 random(5522);
    size_t mostLive = 0;
    for (int i = 0; i < 20'000; ++i) {
        const std::string id =
            ":id=" + std::to_string(i) + ":name=" + b64("n") + ":pw=" + b64("token" + std::to_string(i % 7));
        switch (random() % 6) {
        case 0:
            f.terminal->feed("\x1b]5522;" + readBody(random() % 2 ? "." : "text/plain", id) + "\x1b\\");
            break;
        case 1:
            f.terminal->feed("\x1b]5522;type=write" + id + "\x1b\\\x1b]5522;type=wdata:mime=" + b64("a/b") +
                             ";" + std::string(4096, 'A') + "\x1b\\");
            break;
        case 2:
            f.terminal->feed("\x1b]5522;type=wdata\x1b\\");
            break;
        case 3:
            f.terminal->paste(TerminalPasteRequest(snapshot, std::nullopt), false);
            break;
        default:
            while (!f.host->held.empty() && (f.host->held.size() > 64 || random() % 3 == 0)) {
                std::function<void()> oldest = std::move(f.host->held.front());
                f.host->held.pop_front();
                oldest();
            }
            f.settle();
            break;
        }
        f.host->sends.clear();
        const KittyClipboardProtocol& p = f.protocol();
        const size_t live = p.pendingReadCount() + (p.hasCommittedWrite() ? 1 : 0);
        ASSERT_LE(live, f.host->held.size() + f.queue->pendingCount()) << "at packet " << i;
        ASSERT_LE(p.tokenCount(), 32u);
        mostLive = std::max(mostLive, live);
    }
    EXPECT_LE(mostLive, 66u + 20) << "no more is owed than the host holds plus a few queued steps";
    f.host->listing = f.host->asking = f.host->reading = f.host->writing = FakeClipboardHost::Answer::now;
    f.release();
    f.release();
    EXPECT_EQ(f.protocol().pendingReadCount(), 0u);
    EXPECT_FALSE(f.protocol().hasCommittedWrite());
}

} // namespace
} // namespace kestrovan::testing
