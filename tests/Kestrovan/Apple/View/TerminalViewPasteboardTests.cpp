// Copy, paste and the system clipboards of the view on the recording host's memory clipboards:
// copy writes only the standard clipboard; a paste is read later and arrives bracketed, or as a
// kitty paste event whose token reads the clipboard only while it still holds what was offered;
// publishing and image scaling.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/KittyClipboardFakeHost.h"
#include "Kestrovan/SelectionService.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace kestrovan {
namespace {

using testing::b64;
using testing::packet;
using testing::readAnswer;
using testing::ViewFixture;

using Items = platform::ClipboardItems;

std::vector<uint8_t> bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

/// A view whose program reads the clipboard with paste tokens: mode 5522 on, a host granting the
/// standard clipboard, the protocol's completions on the main loop and a fixed token.
TerminalOptions clipboardProtocolOn()
{
    TerminalOptions options = TerminalOptions::defaults();
    options.kittyClipboardPolicy = KittyClipboardPolicy::all;
    return options;
}

struct PasteFixture : ViewFixture
{
    PasteFixture() : ViewFixture(clipboardProtocolOn())
    {
        delegate->capabilities = KittyClipboardCapabilities::all;
        view->refreshKittyClipboardCapabilities();
        locked([](Terminal& terminal) {
            terminal.setKittyClipboardTokenGenerator([] { return std::optional<std::string>("token1"); });
        });
    }
    platform::MemoryClipboard& clipboard() { return host->standardClipboard; }
    /// Sends an OSC 5522 request body.
    void request(const std::string& body)
    {
        delegate->clearSent();
        feed("\x1b]5522;" + body + "\x1b\\");
    }
    /// The reply the program receives: the protocol finishes requests on a queue of its own, so
    /// the main loop runs until the reply is there (or five seconds pass).
    std::string reply()
    {
        waitUntil([this] { return !delegate->sentText().empty(); });
        return delegate->sentText();
    }
    bool waitUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            settle();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    }
    std::string exchange(const std::string& body)
    {
        request(body);
        return reply();
    }
    std::string pasted()
    {
        delegate->clearSent();
        view->paste();
        settle();
        return delegate->sentText();
    }
};

const std::string tokenRead =
    "type=read:id=p:name=" + b64("any") + ":pw=" + b64("token1") + ";" + b64("text/plain");

TEST(TerminalViewPasteboardTests, CopyWritesOnlyTheStandardClipboard)
{
    ViewFixture f;
    f.feed("hello world");
    f.locked([&](Terminal&) { f.view->selection()->setSelection(Position(0, 0), Position(5, 0)); });
    f.host->primaryClipboard.takeOwnership({{"text/plain", bytes("primary")}});
    f.view->copy();
    EXPECT_EQ(f.host->standardClipboard.contents("text/plain"), bytes("hello"));
    EXPECT_EQ(f.host->primaryClipboard.contents("text/plain"), bytes("primary")) << "primary left alone";
    EXPECT_EQ(f.host->primaryClipboard.writes, 0);
}

TEST(TerminalViewPasteboardTests, PastesAreReadLaterAndArriveAsTheProgramAsked)
{
    struct Case
    {
        const char* modes;
        Items clipboard;
        std::string sent;
    };
    const Case cases[] = {
        {"", {{"text/plain;charset=utf-8", bytes("pasted")}}, "pasted"},
        {"\x1b[?2004h", {{"text/plain", bytes("two\nlines")}}, "\x1b[200~two\nlines\x1b[201~"},
        // Unsafe for the encoder, still delivered (made harmless): the user asked for this paste.
        {"\x1b[?2004h", {{"text/plain", bytes("a\x1b[201~b")}}, "\x1b[200~a [201~b\x1b[201~"},
        {"", {{"image/png", bytes("\x89PNG")}}, ""},
        {"", {}, ""},
        {"\x1b[?2004h", {{"text/plain", {}}}, ""},
    };
    for (const Case& c : cases) {
        ViewFixture f;
        f.feed(c.modes);
        f.host->standardClipboard.takeOwnership(c.clipboard);
        f.host->standardClipboard.holdReads = true;
        f.delegate->clearSent();
        f.view->paste();
        f.settle();
        EXPECT_EQ(f.delegate->sentText(), "") << "nothing before the owner answers";
        f.host->standardClipboard.finishReads();
        f.settle();
        EXPECT_EQ(f.delegate->sentText(), c.sent) << c.modes;
    }
}

TEST(TerminalViewPasteboardTests, PasteEventsAndTokensThatOutliveTheClipboard)
{
    PasteFixture f;
    f.clipboard().takeOwnership(
        {{"text/plain;charset=utf-8", bytes("secret")}, {"image/png", bytes("\x89PNG")}});
    // Without paste events the text goes.
    EXPECT_EQ(f.pasted(), "secret");

    f.feed("\x1b[?5522h");
    EXPECT_EQ(f.pasted(), packet("read", "OK", ":pw=" + b64("token1")) +
                              packet("read", "DATA", ":mime=Lg==;" + b64("text/plain image/png\n")) +
                              packet("read", "DONE"))
        << "the event lists the types, never the text";
    EXPECT_EQ(f.exchange(tokenRead), readAnswer("p", {{"text/plain", "secret"}}));

    // Changed before the read: nothing.
    f.pasted();
    f.clipboard().takeOwnership({{"text/plain", bytes("other")}});
    EXPECT_EQ(f.exchange(tokenRead), packet("read", "ENOSYS", ":id=p"));

    // Changed while the owner was still answering: nothing either.
    f.pasted();
    f.clipboard().holdReads = true;
    f.request(tokenRead);
    ASSERT_TRUE(f.waitUntil([&] { return f.clipboard().heldReads() == 1; })) << "the read reached the owner";
    f.clipboard().takeOwnership({{"text/plain", bytes("newer")}});
    f.clipboard().finishReads();
    EXPECT_EQ(f.reply(), packet("read", "ENOSYS", ":id=p"));
}

TEST(TerminalViewPasteboardTests, APasteWhileScrolledBackReturnsToTheCaret)
{
    // The text, or with paste events on only the event, goes to the program at the caret: the
    // view follows it there from the scrollback.
    for (const bool events : {false, true}) {
        PasteFixture f;
        f.clipboard().takeOwnership({{"text/plain", bytes("secret")}});
        if (events)
            f.feed("\x1b[?5522h");
        for (int line = 0; line < 100; ++line)
            f.feed("output\r\n");
        const auto top = [&f] { return f.locked([](Terminal& t) { return t.buffer().yDisp(); }); };
        const int caretTop = f.locked([](Terminal& t) { return t.buffer().yBase(); });
        ASSERT_GT(caretTop, 0);
        f.view->scrollTo(0, false);
        ASSERT_EQ(top(), 0);
        const std::string sent = f.pasted();
        EXPECT_EQ(sent.find("secret") == std::string::npos, events) << sent;
        EXPECT_EQ(sent.find("status=DONE") != std::string::npos, events) << sent;
        EXPECT_EQ(top(), caretTop) << (events ? "a paste event" : "a paste");
        EXPECT_FALSE(f.view->userScrolling());
    }
}

TEST(TerminalViewPasteboardTests, SnapshotsStandOnlyForOneChangeCount)
{
    // The clipboard changes hands while its formats are read, `changes` times in a row: the view
    // reads again, at most three times, and takes the formats only with the count on both sides.
    struct Case
    {
        int changes;
        std::optional<uint64_t> identity;
    };
    const Case cases[] = {{0, 1}, {1, 2}, {2, 3}, {3, std::nullopt}};
    for (const Case& c : cases) {
        ViewFixture f;
        platform::MemoryClipboard& clipboard = f.host->standardClipboard;
        clipboard.takeOwnership({{"text/plain", bytes("x")}});
        int changesLeft = c.changes;
        clipboard.whileListing = [&] {
            if (changesLeft-- > 0)
                clipboard.takeOwnership({{"text/plain", bytes("y")}, {"text/html", bytes("<b>y</b>")}});
        };
        const std::optional<TerminalClipboardSnapshot> snapshot =
            f.view->kittyClipboardSnapshot(KittyClipboardLocation::standard);
        EXPECT_EQ(snapshot ? std::optional(snapshot->identity) : std::nullopt, c.identity) << c.changes;
        if (snapshot) {
            EXPECT_EQ(snapshot->expiresAfter, std::nullopt);
        }
    }
    // An empty clipboard offers nothing to paste.
    ViewFixture f;
    EXPECT_EQ(f.view->kittyClipboardSnapshot(KittyClipboardLocation::primary), std::nullopt);
}

TEST(TerminalViewPasteboardTests, PublishingWritesOneOfferOrReportsTheFailure)
{
    ViewFixture f;
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> items = {{"text/plain", bytes("t")},
                                                                             {"image/png", bytes("p")}};
    EXPECT_EQ(f.view->kittyPlatformPublish(KittyClipboardLocation::primary, items),
              KittyClipboardWriteResult::success);
    EXPECT_EQ(f.host->primaryClipboard.formats(), (std::vector<std::string>{"text/plain", "image/png"}));
    EXPECT_EQ(f.host->primaryClipboard.writes, 1);
    EXPECT_EQ(f.host->standardClipboard.writes, 0);
    f.host->standardClipboard.refuseWrites = true;
    EXPECT_EQ(f.view->kittyPlatformPublish(KittyClipboardLocation::standard, items),
              KittyClipboardWriteResult::ioError);
    EXPECT_EQ(f.view->kittyPlatformTypeIdentifiers(KittyClipboardLocation::standard), std::nullopt);
}

TEST(TerminalViewPasteboardTests, ImagesScaleIntoSaneTargetsOnly)
{
    // A 4 x 2 image, red on the left half and blue on the right.
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool left = x < 2;
            rgba.insert(rgba.end(), {uint8_t(left ? 255 : 0), 0, uint8_t(left ? 0 : 255), 255});
        }
    const auto image = platform::NativeImage::fromRGBA(4, 2, rgba);
    ASSERT_TRUE(image);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case
    {
        platform::Size size;
        bool unchanged;
        int width, height;
    };
    const Case cases[] = {
        {{8, 4}, false, 8, 4},
        {{10, 10}, false, 10, 10},
        {{1, 1}, false, 1, 1},
        {{2.2, 1.1}, false, 3, 2},
        {{0, 4}, true, 4, 2},
        {{-3, 4}, true, 4, 2},
        {{nan, 4}, true, 4, 2},
        {{inf, 4}, true, 4, 2},
        {{16385, 1}, true, 4, 2},
        {{16384, 1025}, true, 4, 2},
        {{16384, 1024}, false, 16384, 1024},
    };
    for (const Case& c : cases) {
        const auto scaled = TerminalView::scale(image, c.size);
        ASSERT_TRUE(scaled);
        EXPECT_EQ(scaled == image, c.unchanged) << c.size.width << "x" << c.size.height;
        EXPECT_EQ(scaled->width(), c.width);
        EXPECT_EQ(scaled->height(), c.height);
    }
    // Twice as wide as high into a square: the full width, half the height, centred vertically.
    const auto square = TerminalView::scale(image, {10, 10});
    auto alphaAt = [&](int x, int y) { return square->rgba()[(size_t(y) * 10 + x) * 4 + 3]; };
    EXPECT_EQ(alphaAt(5, 0), 0) << "empty above";
    EXPECT_EQ(alphaAt(5, 5), 255) << "the picture in the middle";
    EXPECT_EQ(alphaAt(5, 9), 0) << "empty below";
    EXPECT_GT(square->rgba()[(5 * 10 + 0) * 4 + 0], 200) << "red on the left";
    EXPECT_GT(square->rgba()[(5 * 10 + 9) * 4 + 2], 200) << "blue on the right";
}

} // namespace
} // namespace kestrovan
