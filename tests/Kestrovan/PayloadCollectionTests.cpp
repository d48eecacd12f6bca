// Payload collection: a hyperlink's code is given back to the atom table once no cell of either
// screen (scrollback included) and no open link carries it, and not before; the hyperlink code
// runs collections itself as the held codes reach their threshold.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

std::string osc8(std::string_view payload)
{
    return "\x1b]8;" + std::string(payload) + "\x1b\\";
}

uint16_t codeAt(Terminal& t, int col, int row)
{
    return t.getLine(row)->packed(col).payloadCode();
}

/// Whether the atom table still names a value for `code`. Released codes are handed out again
/// first, so a test checks this before it registers anything new.
bool isRegistered(uint16_t code)
{
    return TinyAtom{code}.target().has_value();
}

/// Whether `code` still stands for this link payload.
bool namesPayload(uint16_t code, const std::string& payload)
{
    const std::optional<std::any> target = TinyAtom{code}.target();
    const std::string* text = target ? std::any_cast<std::string>(&*target) : nullptr;
    return text && *text == payload;
}

TEST(PayloadCollectionTests, OverwrittenLinkCodesAreReleased)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed(osc8(";https://example.invalid/a") + "link" + osc8(";"));
    const uint16_t code = codeAt(t, 0, 0);
    ASSERT_NE(code, 0);
    for (int col = 1; col < 4; ++col)
        EXPECT_EQ(codeAt(t, col, 0), code) << "column " << col << " shares the link's one code";
    EXPECT_EQ((*t.innerState().payloads).count, 1);

    t.garbageCollectPayload();
    EXPECT_TRUE((*t.innerState().payloads).isHeld(code)) << "cells still carry the link";
    EXPECT_TRUE(isRegistered(code));

    // Overwriting three cells is not enough; the fourth still names the link.
    t.feed("\rxyz");
    t.garbageCollectPayload();
    EXPECT_TRUE((*t.innerState().payloads).isHeld(code));

    t.feed("w");
    t.garbageCollectPayload();
    EXPECT_FALSE((*t.innerState().payloads).isHeld(code)) << "no cell carries the code any more";
    EXPECT_EQ((*t.innerState().payloads).count, 0);
    EXPECT_FALSE(isRegistered(code)) << "the atom table has the code back";
    EXPECT_EQ((*t.innerState().payloads).collectAtCount, 1024) << "the threshold never drops below 1024";

    // The slot cache no longer offers the released code: the same link registers anew.
    t.feed("\r" + osc8(";https://example.invalid/a") + "again" + osc8(";"));
    EXPECT_TRUE(isRegistered(codeAt(t, 0, 0)));
    EXPECT_EQ(stringPayload(t.getLine(0)->packed(0)), ";https://example.invalid/a");
}

TEST(PayloadCollectionTests, CodesStillInUseAnywhereAreKept)
{
    TerminalFixture fixture(10, 2, 100);
    Terminal& t = fixture.t();
    const Buffer& normal = t.buffer(Terminal::BufferKind::normal);

    // A link scrolled into the scrollback, one on the normal screen and one on the alternate
    // screen, which is shown while the collection runs.
    t.feed(osc8(";scrolled") + "s" + osc8(";") + "\r\n\r\n\r\n");
    t.feed(osc8(";normal") + "n" + osc8(";"));
    t.feed("\x1b[?1049h\x1b[H" + osc8(";alternate") + "a" + osc8(";"));
    const uint16_t scrolled = normal.lines().lineOrEmpty(0).packed(0).payloadCode();
    const uint16_t onNormal = normal.lines().lineOrEmpty(normal.yBase() + 1).packed(0).payloadCode();
    const uint16_t onAlternate = codeAt(t, 0, 0);
    ASSERT_TRUE(scrolled != 0 && onNormal != 0 && onAlternate != 0);
    ASSERT_LT(0, normal.yBase()) << "the first link is in the scrollback";

    // An open link whose cells are all erased again.
    t.feed("\x1b[2;1H" + osc8(";open") + "o");
    const uint16_t open = codeAt(t, 0, 1);
    ASSERT_NE(open, 0);
    t.feed("\x1b[2K");

    t.garbageCollectPayload();
    EXPECT_EQ((*t.innerState().payloads).count, 4);
    for (uint16_t code : {scrolled, onNormal, onAlternate, open})
        EXPECT_TRUE((*t.innerState().payloads).isHeld(code) && isRegistered(code))
            << "code " << code << " is still in use";

    t.feed("x" + osc8(";"));
    EXPECT_EQ(codeAt(t, 1, 1), open) << "the open link still prints with its code";
    t.feed("\x1b[2K");
    t.garbageCollectPayload();
    EXPECT_FALSE((*t.innerState().payloads).isHeld(open)) << "closed and erased: released";
    EXPECT_FALSE(isRegistered(open));
    EXPECT_EQ((*t.innerState().payloads).count, 3);

    // A full reset leaves no line of either screen behind.
    t.feed("\x1b"
           "c");
    t.garbageCollectPayload();
    EXPECT_EQ((*t.innerState().payloads).count, 0);
    for (uint16_t code : {scrolled, onNormal, onAlternate})
        EXPECT_FALSE(isRegistered(code)) << "code " << code;
}

TEST(PayloadCollectionTests, CollectionRunsAsHeldCodesReachTheThreshold)
{
    TerminalFixture fixture(40, 20);
    Terminal& t = fixture.t();

    const int initialThreshold = (*t.innerState().payloads).collectAtCount;
    t.garbageCollectPayload();
    EXPECT_EQ((*t.innerState().payloads).collectAtCount, initialThreshold) << "nothing held: nothing to do";

    // 600 links, each on a cell that stays: a collection frees nothing and doubles the wait.
    std::string links;
    for (int link = 0; link < 600; ++link)
        links += osc8(";kept" + std::to_string(link)) + "k";
    t.feed(links + osc8(";"));
    ASSERT_EQ((*t.innerState().payloads).count, 600);
    t.garbageCollectPayload();
    EXPECT_EQ((*t.innerState().payloads).count, 600);
    EXPECT_EQ((*t.innerState().payloads).collectAtCount, 1200) << "twice what is still held";

    // Erase the links, then print and erase 600 more, which brings the held codes up to the
    // threshold: the next new link collects before it registers.
    const uint16_t first = codeAt(t, 0, 0);
    std::string more;
    for (int link = 0; link < 600; ++link)
        more += "\x1b[H" + osc8(";gone" + std::to_string(link)) + "g";
    t.feed("\x1b[2J" + more + osc8(";") + "\x1b[2J");
    ASSERT_EQ((*t.innerState().payloads).count, 1200);
    ASSERT_EQ((*t.innerState().payloads).collectAtCount, 1200);
    t.feed("\x1b[H" + osc8(";new") + "n" + osc8(";"));
    EXPECT_FALSE(namesPayload(first, ";kept0")) << "the erased links were collected";
    EXPECT_EQ((*t.innerState().payloads).count, 1) << "only the new link is held";
    EXPECT_EQ((*t.innerState().payloads).collectAtCount, 1024);
}

} // namespace
} // namespace kestrovan::testing
