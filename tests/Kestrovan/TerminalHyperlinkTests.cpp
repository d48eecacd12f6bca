// OSC 8 hyperlinks and the payload codes they put on cells: the active link's states, the
// sharing of one code by the cells of a link and by links with the same payload, the payload
// slots, and what happens when the atom table is full.
//
// Cells are written here the way the print path writes them: one run with the current style and
// the code `resolveActiveHyperlink` gives while a link is active. Giving a code back once every
// cell that carried it is overwritten is the job of payload collection and is tested with it;
// `PayloadState::release` below checks the bookkeeping collection relies on.
#include "AllocationCounters.h"
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/OscPayloadText.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// Prints ASCII text at the cursor.
void printText(Terminal& t, std::string_view text)
{
    t.feed(text);
}

uint16_t codeAt(Terminal& t, int col, int row)
{
    return t.getLine(row)->packed(col).payloadCode();
}

TEST(TerminalHyperlinkTests, CellsOfALinkShareOnePayloadCode)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();

    t.feed(osc8(";https://example.invalid/a;b"));
    ASSERT_TRUE(t.innerState().activeHyperlink);
    EXPECT_EQ(*t.innerState().activeHyperlink, ActiveHyperlink::pending(";https://example.invalid/a;b"))
        << "nothing is registered before something is printed";
    EXPECT_EQ((*t.innerState().payloads).count, 0);

    printText(t, "ab");
    printText(t, "cd");
    t.feed(osc8(";"));
    EXPECT_FALSE(t.innerState().activeHyperlink) << "OSC 8;; closes the link";
    printText(t, "ef");

    const uint16_t code = codeAt(t, 0, 0);
    EXPECT_NE(code, 0);
    for (int col = 1; col < 4; ++col)
        EXPECT_EQ(codeAt(t, col, 0), code) << "column " << col << " shares the link's code";
    EXPECT_EQ(codeAt(t, 4, 0), 0) << "text after the close carries no link";
    EXPECT_EQ(codeAt(t, 5, 0), 0);
    EXPECT_EQ((*t.innerState().payloads).count, 1) << "one registration for the whole link";
    EXPECT_TRUE((*t.innerState().payloads).isHeld(code));

    const std::optional<std::string> payload = stringPayload(t.getLine(0)->packed(2));
    EXPECT_EQ(payload, ";https://example.invalid/a;b") << "the cell's text is the whole payload";
    ASSERT_TRUE(payload);
    EXPECT_EQ(parseHyperlinkPayload(*payload), "https://example.invalid/a;b")
        << "the URI is everything after the first \";\"";
    EXPECT_FALSE(stringPayload(t.getLine(0)->packed(4))) << "no code, no payload";
}

TEST(TerminalHyperlinkTests, PrintedTextCarriesTheLinkOnBothRoads)
{
    // Input: OSC 8 then "ab" and a wide character, printed through feed.
    // Old result: every cell had payload code 0, because the print path only read links already
    // registered and nothing registered the one OSC 8 had just announced.
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();

    t.feed(osc8(";https://example.invalid/x") + "ab\xe4\xb8\x80" + osc8(";") + "c");
    const uint16_t code = codeAt(t, 0, 0);
    EXPECT_NE(code, 0) << "ASCII printed under the link carries its code";
    EXPECT_EQ(codeAt(t, 1, 0), code);
    EXPECT_EQ(codeAt(t, 2, 0), code) << "the wide character from the slow road too";
    EXPECT_EQ(codeAt(t, 3, 0), code) << "and its right half";
    EXPECT_EQ(codeAt(t, 4, 0), 0) << "text after the link is closed carries none";
}

TEST(TerminalHyperlinkTests, IdenticalPayloadsShareACodeAndOthersDoNot)
{
    TerminalFixture fixture(30, 3);
    Terminal& t = fixture.t();

    t.feed(osc8("id=1;https://example.invalid"));
    printText(t, "a");
    t.feed(osc8("id=2;https://example.invalid"));
    printText(t, "b");
    t.feed(osc8("id=1;https://example.invalid"));
    printText(t, "c");
    t.feed(osc8(";"));

    EXPECT_NE(codeAt(t, 0, 0), codeAt(t, 1, 0)) << "a different id is a different payload";
    EXPECT_EQ(codeAt(t, 0, 0), codeAt(t, 2, 0)) << "the same payload again finds its code in the slot cache";
    EXPECT_EQ((*t.innerState().payloads).count, 2);

    // An OSC 8 with a new payload replaces the open link without closing it first.
    t.feed(osc8(";u1") + osc8(";u2"));
    printText(t, "d");
    EXPECT_EQ(stringPayload(t.getLine(0)->packed(3)), ";u2");
}

TEST(TerminalHyperlinkTests, EmptyUrisOpenLinksThatNameNoTarget)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();

    t.feed(osc8("id=1;"));
    ASSERT_TRUE(t.innerState().activeHyperlink) << "an empty URI is not a close";
    EXPECT_EQ(*t.innerState().activeHyperlink, ActiveHyperlink::pending("id=1;"));
    printText(t, "x");
    EXPECT_NE(codeAt(t, 0, 0), 0) << "the text carries the link";

    const std::optional<std::string> uri = parseHyperlinkPayload("id=1;");
    ASSERT_TRUE(uri) << "an empty URI is told apart from a payload without one";
    EXPECT_EQ(*uri, "");
    EXPECT_FALSE(parseHyperlinkPayload("no-separator"));
    EXPECT_FALSE(parseHyperlinkPayload(""));
    EXPECT_EQ(parseHyperlinkPayload(";"), "");

    t.feed("\x1b]8\x1b\\");
    EXPECT_EQ(*t.innerState().activeHyperlink, ActiveHyperlink::pending(""))
        << "OSC 8 without a payload opens an empty one";
    t.feed(osc8(";bad\xc3\x28"));
    EXPECT_EQ(*t.innerState().activeHyperlink, ActiveHyperlink::pending(""))
        << "text that is not UTF-8 becomes empty";
}

TEST(TerminalHyperlinkTests, DisabledHyperlinksNeverReachCells)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();

    t.feed(osc8(";https://example.invalid"));
    printText(t, "a");
    t.clearUpdateRange();
    t.setEnableOsc8Hyperlinks(false);
    EXPECT_FALSE(t.innerState().activeHyperlink) << "turning the option off closes the open link";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, t.rows())) << "and redraws the screen";
    EXPECT_NE(codeAt(t, 0, 0), 0) << "cells keep the codes they have";

    t.feed(osc8(";https://example.invalid/2"));
    EXPECT_FALSE(t.innerState().activeHyperlink);
    printText(t, "b");
    EXPECT_EQ(codeAt(t, 1, 0), 0);

    t.setEnableOsc8Hyperlinks(true);
    t.feed(osc8(";https://example.invalid/3"));
    EXPECT_TRUE(t.innerState().activeHyperlink);
    t.setup(true);
    EXPECT_FALSE(t.innerState().activeHyperlink) << "a full reset closes the link";
}

TEST(TerminalHyperlinkTests, PayloadSlots)
{
    PayloadState state;
    EXPECT_EQ(PayloadState::slot(""), 217u);
    EXPECT_LT(PayloadState::slot(";https://example.invalid"), 1024u);
    EXPECT_TRUE(state.linkCodes.empty()) << "the slot list is made on first use";
    EXPECT_FALSE(state.linkCode("a", 5));

    const TinyAtom a = *TinyAtom::lookup(std::string("a"));
    const TinyAtom b = *TinyAtom::lookup(std::string("b"));
    state.setLinkCode(a.code, 5);
    EXPECT_EQ(state.linkCodes.size(), 1024u);
    EXPECT_EQ(state.linkCode("a", 5), a.code);
    EXPECT_FALSE(state.linkCode("b", 5)) << "a slot answers only for its own text";
    state.setLinkCode(b.code, 5);
    EXPECT_FALSE(state.linkCode("a", 5)) << "a colliding payload overwrites the slot";
    EXPECT_EQ(state.linkCode("b", 5), b.code);
    TinyAtom::release(std::vector<uint16_t>{a.code, b.code});
}

TEST(TerminalHyperlinkTests, ReleasingUnusedCodesEmptiesTheirSlotsAndGivesBackTheirText)
{
    PayloadState state;
    std::vector<TinyAtom> atoms;
    for (const std::string text : {"kept", "gone", "x", "yz"}) {
        atoms.push_back(*TinyAtom::lookup(text));
        state.insert(atoms.back(), text.size());
    }
    state.insert(atoms[1], 4);
    state.insert(TinyAtom{0}, 9);
    EXPECT_EQ(state.count, 4) << "held once each; code 0 never";
    EXPECT_EQ(state.heldTextBytes, 4u + 4 + 1 + 2);
    state.setLinkCode(atoms[0].code, 1);
    state.setLinkCode(atoms[1].code, 2);

    PayloadState::CodeBits inUse{};
    inUse[atoms[0].code / 64] |= uint64_t{1} << (atoms[0].code % 64);
    std::vector<uint16_t> expected{atoms[1].code, atoms[2].code, atoms[3].code};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(state.release(inUse), expected) << "in ascending order";
    EXPECT_EQ(state.count, 1);
    EXPECT_EQ(state.heldTextBytes, 4u) << "the text of the kept code only";
    EXPECT_TRUE(state.isHeld(atoms[0].code));
    EXPECT_FALSE(state.isHeld(atoms[1].code));
    EXPECT_EQ(state.linkCode("kept", 1), atoms[0].code);
    EXPECT_EQ(state.linkCodes[2], 0) << "a released code is no longer offered by its slot";

    EXPECT_TRUE(state.release(inUse).empty()) << "nothing more to free";
    for (const TinyAtom& atom : atoms)
        atom.release();
}

/// An OSC 8 payload of exactly `bytes` bytes: parameters naming `id`, then a URI padded with "a".
std::string payloadOfSize(size_t bytes, int id)
{
    std::string payload = "id=" + std::to_string(id) + ";https://example.invalid/";
    payload.append(bytes - payload.size(), 'a');
    return payload;
}

TEST(TerminalHyperlinkTests, LinkTargetsAreBoundedInLengthAndByWhatOneTerminalHolds)
{
    // Length: a payload up to the bound links; a longer one is no link and closes the open one.
    {
        TerminalFixture fixture(20, 3);
        Terminal& t = fixture.t();
        t.feed(osc8(payloadOfSize(ActiveHyperlink::maximumPayloadBytes, 1)) + "a");
        EXPECT_NE(codeAt(t, 0, 0), 0) << "a payload of the largest size links";
        EXPECT_EQ(stringPayload(t.getLine(0)->packed(0)),
                  payloadOfSize(ActiveHyperlink::maximumPayloadBytes, 1));
        t.feed(osc8(payloadOfSize(ActiveHyperlink::maximumPayloadBytes + 1, 2)) + "b");
        EXPECT_EQ(codeAt(t, 1, 0), 0) << "one byte more is no link";
        EXPECT_FALSE(t.innerState().activeHyperlink) << "and the link open before is closed";
        t.feed(osc8(";" + std::string(65000, 'u')) + "c");
        EXPECT_EQ(codeAt(t, 2, 0), 0);
        EXPECT_EQ((*t.innerState().payloads).count, 1);
    }

    // Text and codes: links of the largest size, or short ones, each on one cell, past what one
    // terminal may hold. The oldest scrollback rows give up their links so that the newest keep
    // theirs, and the terminal never holds more than it may.
    struct Case
    {
        const char* name;
        size_t links;
        std::function<std::string(size_t)> payload;
    };
    const size_t fit = PayloadState::maximumHeldTextBytes / ActiveHyperlink::maximumPayloadBytes;
    const Case cases[] = {
        {"largest links", fit + 10,
         [](size_t link) { return payloadOfSize(ActiveHyperlink::maximumPayloadBytes, int(link)); }},
        {"short links", size_t(PayloadState::maximumHeldCodes) + 5,
         [](size_t link) { return "id=" + std::to_string(link) + ";u"; }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TerminalFixture fixture(80, 24, 3000);
        Terminal& t = fixture.t();
        std::string output;
        for (size_t link = 0; link < test.links; ++link)
            output += osc8(test.payload(link)) + "x";
        t.feed(output + osc8(";"));
        const PayloadState& payloads = *t.innerState().payloads;
        EXPECT_LE(payloads.count, PayloadState::maximumHeldCodes);
        EXPECT_LE(payloads.heldTextBytes, PayloadState::maximumHeldTextBytes);
        // The payload of the cell the link numbered `link` printed on, one cell after another.
        const Buffer& buffer = t.buffer();
        auto payloadOfLink = [&](size_t link) {
            return stringPayload(buffer.lines().lineOrEmpty(int(link / 80)).packed(int(link % 80)));
        };
        EXPECT_EQ(payloadOfLink(test.links - 1), test.payload(test.links - 1))
            << "the newest link keeps its code";
        EXPECT_FALSE(payloadOfLink(0)) << "the oldest gave its code up";
        int linked = 0;
        for (size_t link = 0; link < test.links; ++link) {
            if (const std::optional<std::string> payload = payloadOfLink(link)) {
                EXPECT_EQ(*payload, test.payload(link)) << "link " << link;
                ++linked;
            }
        }
        EXPECT_GE(linked, payloads.count / 2) << "only the oldest rows lost theirs";

        // Once no cell carries them, the codes and their text go, and links work again.
        t.feed("\x1b"
               "c");
        t.garbageCollectPayload();
        EXPECT_EQ(payloads.count, 0) << "all given back to the process-wide table";
        EXPECT_EQ(payloads.heldTextBytes, 0u);
        t.feed(osc8(";https://example.invalid/again") + "y" + osc8(";"));
        EXPECT_NE(codeAt(t, 0, 0), 0);
    }
}

TEST(TerminalHyperlinkTests, ALinksTextIsHeldOnceInTheProcess)
{
    // Distinct links fill the slot cache; it names codes only, so the text is held once, in the
    // atom table, however many links the cache remembers.
    TerminalFixture fixture(80, 24, 100);
    Terminal& t = fixture.t();
    constexpr int links = 1000;
    std::string output;
    for (int link = 0; link < links; ++link)
        output += osc8(payloadOfSize(2000, link)) + "x";
    const int64_t before = counting::bytesHeld();
    t.feed(output + osc8(";"));
    const int64_t grown = counting::bytesHeld() - before;
    EXPECT_EQ((*t.innerState().payloads).count, links);
    EXPECT_LT(grown, int64_t(links) * 2000 * 13 / 10) << "about one copy of each link's text";
}

TEST(TerminalHyperlinkTests, FullAtomTableLeavesLinksWithoutCodes)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed(osc8(";first"));
    printText(t, "a");
    const uint16_t first = codeAt(t, 0, 0);
    ASSERT_NE(first, 0);

    // Take every code that is left.
    std::vector<uint16_t> filler;
    const auto fillTable = [&] {
        while (const std::optional<TinyAtom> atom = TinyAtom::lookup(std::string("filler")))
            filler.push_back(atom->code);
    };
    fillTable();

    t.feed(osc8(";first"));
    printText(t, "b");
    EXPECT_EQ(codeAt(t, 1, 0), first) << "a payload already registered needs no new code";

    // New output wins: with no other code to be had, the screen's older link gives its code up.
    t.feed(osc8(";second"));
    printText(t, "c");
    EXPECT_EQ(stringPayload(t.getLine(0)->packed(2)), ";second");
    EXPECT_EQ(codeAt(t, 0, 0), 0) << "the older link's text stays, without its link";
    EXPECT_EQ(rowText(t, 0), "abc");

    // With nothing left to give up, a link prints without one.
    t.feed(osc8(";") + "\x1b[2K\r");
    t.garbageCollectPayload();
    fillTable();
    t.feed(osc8(";third"));
    printText(t, "d");
    EXPECT_EQ(codeAt(t, 0, 0), 0) << "the text prints without a link";
    EXPECT_EQ(*t.innerState().activeHyperlink, ActiveHyperlink::unavailable());
    EXPECT_EQ((*t.innerState().payloads).linksUntilCollectRetry, 256)
        << "after a collection that did not help";
    printText(t, "e");
    EXPECT_EQ(codeAt(t, 1, 0), 0) << "the rest of that link too";
    EXPECT_EQ((*t.innerState().payloads).linksUntilCollectRetry, 256) << "one attempt per link, not per run";

    // Each link printed once, on the cell the next character goes to (BS steps back to it).
    for (int link = 0; link < 256; ++link)
        t.feed(osc8(";link" + std::to_string(link)) + "x\b");
    EXPECT_EQ((*t.innerState().payloads).linksUntilCollectRetry, 0)
        << "256 failing links counted down without collecting";
    t.feed(osc8(";one more") + "x\b");
    EXPECT_EQ((*t.innerState().payloads).linksUntilCollectRetry, 256) << "the next one collected again";

    TinyAtom::release(filler.back());
    filler.pop_back();
    t.feed(osc8(";fourth"));
    printText(t, "f");
    EXPECT_NE(codeAt(t, 2, 0), 0) << "a freed code is used at once, retry count or not";
    EXPECT_EQ(stringPayload(t.getLine(0)->packed(2)), ";fourth");

    TinyAtom::release(filler);
}

TEST(TerminalHyperlinkTests, PayloadsOtherThanTextAreHeldButNotLinks)
{
    const std::optional<TinyAtom> atom = TinyAtom::lookup(42);
    ASSERT_TRUE(atom);
    const PackedCell cell =
        PackedCell::makeScalar('x', 0, PackedCell::WidthState::single, false, atom->code, 0);
    EXPECT_FALSE(stringPayload(cell)) << "only text payloads are link payloads";
    atom->release();
}

} // namespace
} // namespace kestrovan::testing
