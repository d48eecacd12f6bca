// What a program can make the clipboard protocol hold while the user has not answered a prompt:
// reads past the bound are busy at once, floods of reads and paste tokens hold no more after ten
// times the requests, an ended read frees what it held although the host keeps its completion,
// and the user's paste and the reads the user allows work right after.
//
// Memory is read from the counting allocation functions of this binary (AllocationCounters.h).
#include "KittyClipboardFakeHost.h"
#include "tests/AllocationCounters.h"

#include <gtest/gtest.h>
#include <random>

namespace kestrovan::testing {
namespace {

using Location = KittyClipboardLocation;
using Answer = FakeClipboardHost::Answer;

constexpr size_t bound = KittyClipboardProtocol::maximumPendingReads;

std::vector<uint8_t> bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::string readBody(const std::string& fields)
{
    return "type=read" + fields + ";" + b64("text/plain");
}

std::string withId(size_t i)
{
    return ":id=r" + std::to_string(i);
}

/// A clipboard holding "hello", paste events on, and a prompt the user leaves open.
struct OpenPromptFixture : ClipboardFixture
{
    OpenPromptFixture()
    {
        host->contents[Location::standard] = {{"text/plain", bytes("hello")}};
        host->asking = Answer::later;
        terminal->feed("\x1b[?5522h");
    }
    /// A paste event for the clipboard; its token reads "pasted".
    void pasteEvent()
    {
        TerminalClipboardSnapshot snapshot(
            Location::standard, {"text/plain"}, 1, std::nullopt,
            [](const std::string&, std::function<void(KittyClipboardReadResult)> done) {
                done(KittyClipboardReadResult::data(bytes("pasted")));
                return true;
            });
        terminal->paste(TerminalPasteRequest(std::move(snapshot), std::nullopt), false);
    }
    /// Feeds the bodies without settling in between, then settles.
    void flood(size_t count, const std::function<std::string(size_t)>& body)
    {
        for (size_t i = 0; i < count; ++i)
            terminal->feed("\x1b]5522;" + body(i) + "\x1b\\");
        settle();
    }
    /// Bytes held by the process, with what the host recorded let go.
    int64_t heldBytes()
    {
        std::vector<std::vector<uint8_t>>().swap(host->sends);
        return counting::bytesHeld();
    }
};

TEST(KittyClipboardBounds, ReadsPastTheBoundAreBusyAtOnceAndSpendNoToken)
{
    // Before: every read waited for the prompt, however many a program sent.
    OpenPromptFixture f;
    f.pasteEvent();
    f.host->sends.clear();
    f.flood(100, [](size_t i) { return readBody(withId(i)); });
    std::string busy;
    for (size_t i = bound; i < 100; ++i)
        busy += packet("read", "EBUSY", withId(i));
    EXPECT_EQ(f.host->sent(), busy);
    EXPECT_EQ(f.protocol().pendingReadCount(), bound);
    EXPECT_EQ(f.host->permissionRequests.size(), bound);
    EXPECT_EQ(f.host->held.size(), bound);

    const std::string withToken = ":id=t:name=" + b64("n") + ":pw=" + b64("token1");
    EXPECT_EQ(f.exchange(readBody(withToken)), packet("read", "EBUSY", ":id=t"));
    EXPECT_EQ(f.protocol().tokenCount(), 1u) << "a busy read spends no token";
}

TEST(KittyClipboardBounds, FloodsHoldNoMoreAfterTenTimesTheRequestsAndTheUserStillGetsThrough)
{
    // Before: 1,000,000 waiting reads grew the process by 600 MB, with or without paste tokens
    // among them.
    struct Case
    {
        const char* name;
        size_t pastes;
        std::function<std::string(size_t)> body;
    };
    std::mt19937_64 random(5522);
    const Case cases[] = {
        {"reads", 0, [](size_t i) { return readBody(withId(i)); }},
        {"paste events, then reads with passwords that match no token", 200,
         [&](size_t i) {
             return readBody(withId(i) + ":name=" + b64("flood") + ":pw=" + b64(std::to_string(random())));
         }},
    };
    for (const Case& c : cases) {
        OpenPromptFixture f;
        for (size_t i = 0; i < c.pastes; ++i)
            f.pasteEvent();
        f.flood(300, c.body);
        const int64_t afterFew = f.heldBytes();
        f.flood(3000, c.body);
        const int64_t afterMany = f.heldBytes();
        EXPECT_LT(afterMany - afterFew, 8 << 10) << c.name;
        EXPECT_EQ(f.protocol().pendingReadCount(), bound) << c.name;
        EXPECT_LE(f.protocol().tokenCount(), KittyClipboardProtocol::maximumTokenCount) << c.name;

        // The user's own paste goes out at once, prompt or not.
        f.terminal->feed("\x1b[?5522l");
        f.host->sends.clear();
        EXPECT_EQ(f.terminal->paste(TerminalPasteRequest(std::string("typed")), false),
                  TerminalPasteResult::textSent)
            << c.name;
        EXPECT_EQ(f.host->sent(), "typed") << c.name;

        // The user allows the waiting reads: each gets the clipboard; then a new read is asked for
        // and allowed as any other.
        f.host->permission = KittyClipboardPermissionResult::allow(false);
        std::string answers;
        for (size_t i = 0; i < bound; ++i)
            answers += readAnswer("r" + std::to_string(i), {{"text/plain", "hello"}});
        EXPECT_EQ(f.release(), answers) << c.name;
        f.host->asking = Answer::now;
        EXPECT_EQ(f.exchange(readBody(":id=n")), readAnswer("n", {{"text/plain", "hello"}})) << c.name;
        EXPECT_EQ(f.protocol().pendingReadCount(), 0u) << c.name;
    }
}

TEST(KittyClipboardBounds, AnEndedReadFreesWhatItHeldWhileTheHostKeepsItsCompletion)
{
    // Before: a completion the host kept held the whole read (its snapshot, types and results)
    // until the host let go of it, long after the read was answered or dropped.
    struct Case
    {
        const char* name;
        /// Ends the read whose clipboard completion is `kept`.
        void (*end)(OpenPromptFixture&, std::function<void(KittyClipboardReadResult)>& kept);
        std::string reply;
    };
    const Case cases[] = {
        {"the clipboard answers busy",
         [](OpenPromptFixture&, std::function<void(KittyClipboardReadResult)>& kept) {
             kept(KittyClipboardReadResult::busy());
         },
         packet("read", "EBUSY", ":id=t")},
        {"a full reset",
         [](OpenPromptFixture& f, auto&) {
             f.terminal->feed("\x1b"
                              "c");
         },
         ""},
        {"the host withdraws the clipboard",
         [](OpenPromptFixture& f, auto&) {
             f.host->capabilities = KittyClipboardCapabilities();
             f.terminal->refreshKittyClipboardCapabilities();
         },
         packet("read", "ENOSYS", ":id=t")},
    };
    for (const Case& c : cases) {
        OpenPromptFixture f;
        auto held = std::make_shared<int>(0);
        std::function<void(KittyClipboardReadResult)> kept;
        {
            TerminalClipboardSnapshot snapshot(
                Location::standard, {"text/plain"}, 1, std::nullopt,
                [held, &kept](const std::string&, std::function<void(KittyClipboardReadResult)> done) {
                    kept = std::move(done);
                    return true;
                });
            f.terminal->paste(TerminalPasteRequest(std::move(snapshot), std::nullopt), false);
        }
        f.exchange(readBody(":id=t:name=" + b64("n") + ":pw=" + b64("token1")));
        ASSERT_TRUE(kept) << c.name << ": the token's read reached the clipboard";
        EXPECT_EQ(held.use_count(), 2) << c.name << ": the waiting read holds its snapshot";
        f.host->sends.clear();
        c.end(f, kept);
        f.settle();
        EXPECT_EQ(f.host->sent(), c.reply) << c.name;
        EXPECT_EQ(held.use_count(), 1) << c.name << ": the completion still exists, the read is gone";
        EXPECT_EQ(f.protocol().pendingReadCount(), 0u) << c.name;
    }
}

} // namespace
} // namespace kestrovan::testing
