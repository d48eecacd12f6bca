// New output keeps its links: once a terminal holds all the link codes it may, or the process-wide
// table is full, the oldest rows give up theirs (the scrollback's, then the screens'), in this
// terminal or in the terminals holding the most, and no cell ever shows another link's target. A
// terminal holding little finds codes beside busy ones.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// The scrollback the application gives each pane.
constexpr int applicationScrollback = 5000;

std::string nameOf(int terminal, int entry)
{
    return "t" + std::to_string(terminal) + "-" + std::to_string(entry) + ".txt";
}

/// A directory listing printed as `ls --hyperlink` does: each name its own link to its file,
/// padded to columns, five a row; names are numbered from `first`.
std::string linkedListing(int terminal, int entries, int first = 0)
{
    std::string output;
    for (int entry = 0; entry < entries; ++entry) {
        const std::string name = nameOf(terminal, first + entry);
        output += osc8(";file://host/home/" + name) + name + osc8(";");
        output += std::string(16 - name.size(), ' ');
        if (entry % 5 == 4)
            output += "\r\n";
    }
    return output;
}

struct LinkedNames
{
    /// Names on the screen, and how many of them link to their own file.
    int onScreen = 0;
    int onScreenLinked = 0;
    /// Names anywhere that link to their own file.
    int linked = 0;
    /// Cells anywhere (scrollback included) whose link is not their own name's.
    int wrongTargets = 0;
};

/// Reads every name of a listing back, with the link target of each of its cells.
LinkedNames readListing(Terminal& t)
{
    LinkedNames result;
    const Buffer& buffer = t.buffer();
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = buffer.lines().lineOrEmpty(row);
        const bool onScreen = row >= buffer.yBase();
        const std::string text = lineText(line, line.count());
        for (size_t start = 0; start < text.size(); start += 16) {
            std::string name = text.substr(start, 16);
            name.erase(name.find_last_not_of(' ') + 1);
            bool allLinked = true;
            for (int col = int(start); col < int(start + name.size()); ++col) {
                const std::optional<std::string> target = stringPayload(line.packed(col));
                if (!target)
                    allLinked = false;
                else if (*target != ";file://host/home/" + name)
                    ++result.wrongTargets;
            }
            result.linked += allLinked;
            if (onScreen) {
                ++result.onScreen;
                result.onScreenLinked += allLinked;
            }
        }
    }
    return result;
}

void expectWithinBounds(Terminal& t)
{
    const PayloadState& payloads = *t.innerState().payloads;
    EXPECT_LE(payloads.count, PayloadState::maximumHeldCodes);
    EXPECT_LE(payloads.heldTextBytes, PayloadState::maximumHeldTextBytes);
}

TEST(LinkRoomTests, ALongListingKeepsTheLinksOfWhatIsOnTheScreen)
{
    TerminalFixture fixture(80, 25, applicationScrollback);
    Terminal& t = fixture.t();
    t.feed(linkedListing(0, 20000));
    const LinkedNames names = readListing(t);
    EXPECT_EQ(names.onScreen, 120);
    EXPECT_EQ(names.onScreenLinked, 120) << "every name on the screen links";
    EXPECT_EQ(names.wrongTargets, 0) << "no cell shows another name's target";
    EXPECT_GE(names.linked, PayloadState::maximumHeldCodes / 2) << "only the oldest rows gave theirs up";
    expectWithinBounds(t);

    // The same for links of the largest size, which the bound on link text stops first.
    TerminalFixture large(80, 25, applicationScrollback);
    std::string output;
    for (int link = 0; link < 6000; ++link) {
        const std::string payload = "id=" + std::to_string(link) + ";https://example.invalid/" +
                                    std::string(ActiveHyperlink::maximumPayloadBytes - 40, 'a');
        output += osc8(payload) + "x" + osc8(";");
    }
    large.t().feed(output);
    // 6000 one-cell links fill 75 rows of 80 exactly: the newest is the cursor row's last cell.
    const Buffer& buffer = large.buffer();
    const BufferLine& last = buffer.lines().lineOrEmpty(buffer.yBase() + buffer.y());
    ASSERT_EQ(lineText(last, 80), std::string(80, 'x'));
    const std::optional<std::string> newest = stringPayload(last.packed(79));
    ASSERT_TRUE(newest) << "the newest link has its code";
    EXPECT_TRUE(newest->starts_with("id=5999;")) << *newest;
    expectWithinBounds(large.t());
}

TEST(LinkRoomTests, TerminalsAtTheirBoundCannotLeaveAnotherWithoutLinks)
{
    // Six terminals print more distinct links than the process-wide table holds; a seventh then
    // prints a few. Every terminal keeps its newest links, and every link names its own target.
    std::vector<std::unique_ptr<TerminalFixture>> full;
    for (int terminal = 0; terminal < 6; ++terminal) {
        full.push_back(std::make_unique<TerminalFixture>(80, 25, applicationScrollback));
        full.back()->t().feed(linkedListing(terminal, 20000));
    }
    TerminalFixture late(80, 25, applicationScrollback);
    late.t().feed(linkedListing(6, 100));
    const LinkedNames lateNames = readListing(late.t());
    EXPECT_EQ(lateNames.onScreenLinked, 100) << "all of the late terminal's links";
    EXPECT_EQ(lateNames.wrongTargets, 0);

    for (int terminal = 0; terminal < 6; ++terminal) {
        Terminal& t = full[size_t(terminal)]->t();
        const LinkedNames names = readListing(t);
        EXPECT_EQ(names.onScreenLinked, names.onScreen) << "terminal " << terminal;
        EXPECT_EQ(names.wrongTargets, 0) << "terminal " << terminal;
        expectWithinBounds(t);
    }
}

std::string cellTarget(int terminal, int link)
{
    return "https://example.invalid/" + std::to_string(terminal) + "/" + std::to_string(link);
}

/// From the top left of the screen, `links` one-cell links, each to a target of its own.
std::string oneCellLinks(int terminal, int links)
{
    std::string output = "\x1b[H";
    for (int link = 0; link < links; ++link)
        output += osc8(";" + cellTarget(terminal, link)) + "x";
    return output + osc8(";");
}

struct LinkedCells
{
    /// Cells that lost their text, cells linked to another target, and the newest of the
    /// unlinked cells (-1 when all link).
    int textLost = 0;
    int wrongTargets = 0;
    int newestUnlinked = -1;
};

/// Reads back `oneCellLinks(terminal, links)` from the screen of `t`.
LinkedCells readCells(Terminal& t, int terminal, int links)
{
    LinkedCells result;
    const Buffer& buffer = t.buffer();
    const int cols = t.cols();
    for (int link = 0; link < links; ++link) {
        const BufferLine& line = buffer.lines().lineOrEmpty(buffer.yBase() + link / cols);
        const PackedCell cell = line.packed(link % cols);
        result.textLost += line[link % cols].getText() != "x";
        const std::optional<std::string> target = stringPayload(cell);
        if (!target)
            result.newestUnlinked = link;
        else if (*target != ";" + cellTarget(terminal, link))
            ++result.wrongTargets;
    }
    return result;
}

TEST(LinkRoomTests, ScreenRowsGiveUpTheirLinksWhenTheScrollbackHasNone)
{
    // Four terminals whose links are all on a screen fill the process-wide table; the oldest rows
    // of their screens give up their links, so each keeps linking what it prints and a fifth
    // terminal still gets its links.
    struct Case
    {
        const char* name;
        int scrollback;
        const char* before;
    };
    const Case cases[] = {
        {"normal screens without scrollback", 0, ""},
        {"alternate screens", applicationScrollback, "\x1b[?1049h"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::unique_ptr<TerminalFixture>> full;
        for (int terminal = 0; terminal < 4; ++terminal) {
            full.push_back(std::make_unique<TerminalFixture>(200, 100, test.scrollback));
            full.back()->t().feed(test.before + oneCellLinks(terminal, 20000));
        }
        TerminalFixture fifth(80, 25, applicationScrollback);
        fifth.t().feed(linkedListing(4, 100));
        EXPECT_EQ(readListing(fifth.t()).onScreenLinked, 100) << "the fifth terminal links all it prints";

        for (int terminal = 0; terminal < 4; ++terminal) {
            Terminal& t = full[size_t(terminal)]->t();
            const LinkedCells cells = readCells(t, terminal, 20000);
            EXPECT_LT(cells.newestUnlinked, 20000 - 100)
                << "terminal " << terminal << ": its newest cells link";
            EXPECT_EQ(cells.wrongTargets, 0) << "terminal " << terminal;
            EXPECT_EQ(cells.textLost, 0) << "terminal " << terminal << ": only links are given up";
            expectWithinBounds(t);
        }
    }
}

TEST(LinkRoomTests, RowsThatGiveUpTheirLinksAreDrawnAgain)
{
    // A terminal at its bound prints one more link; the rows in view that gave up theirs are
    // drawn again: the screen's own rows, and scrollback rows the user has scrolled back to.
    struct Case
    {
        const char* name;
        int cols, rows, scrollback;
        bool scrollBack;
    };
    const Case cases[] = {
        {"the screen", 200, 100, 0, false},
        {"rows scrolled back to", 80, 25, 1000, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TerminalFixture fixture(test.cols, test.rows, test.scrollback);
        Terminal& t = fixture.t();
        t.feed(oneCellLinks(0, PayloadState::maximumHeldCodes));
        if (test.scrollBack) {
            ASSERT_TRUE(t.scrollViewportTo(0));
        }
        t.clearUpdateRange();
        t.feed(osc8(";https://example.invalid/new") + "y" + osc8(";"));
        ASSERT_FALSE(stringPayload(t.buffer().lines().lineOrEmpty(0).packed(0)))
            << "the oldest row gave its link";
        const std::optional<std::pair<int, int>> changed = t.getUpdateRange();
        ASSERT_TRUE(changed);
        EXPECT_EQ(changed->first, 0) << "the top row in view is drawn again";
    }
}

TEST(LinkRoomTests, ATerminalTakingCodesAsksTheLargestHolderThatIsFree)
{
    // Two idle terminals hold links, the rest of the table is taken; a third terminal that holds
    // none prints links one at a time.
    TerminalFixture large(80, 25, applicationScrollback);
    TerminalFixture small(80, 25, applicationScrollback);
    large.t().feed(linkedListing(0, 4000));
    small.t().feed(linkedListing(1, 1000));
    std::vector<uint16_t> filler;
    const auto fillTable = [&] {
        while (const std::optional<TinyAtom> atom = TinyAtom::lookup(std::string("filler")))
            filler.push_back(atom->code);
    };
    fillTable();
    TerminalFixture asking(80, 25, applicationScrollback);
    Terminal& t = asking.t();
    auto linkedRow = [&](int row) {
        const std::optional<std::string> target =
            stringPayload(t.buffer().lines().lineOrEmpty(row).packed(0));
        return target && *target == ";https://example.invalid/" + std::to_string(row);
    };
    auto printLink = [&](int row) {
        t.feed(osc8(";https://example.invalid/" + std::to_string(row)) + "x" + osc8(";") + "\r\n");
    };

    {
        // Both holders are busy: no code now.
        TerminalLockGuard largeBusy(large.t().terminalLock());
        TerminalLockGuard smallBusy(small.t().terminalLock());
        printLink(0);
        EXPECT_FALSE(linkedRow(0));
    }
    // Both free at the next link: the larger gives up its oldest links, the other keeps all.
    printLink(1);
    EXPECT_TRUE(linkedRow(1)) << "asked again at the next link";
    EXPECT_LT(readListing(large.t()).linked, 4000);
    EXPECT_EQ(readListing(small.t()).linked, 1000) << "the largest holder was asked first";

    // With the larger busy, the other gives: what it holds is known without its lock.
    fillTable();
    {
        TerminalLockGuard largeBusy(large.t().terminalLock());
        printLink(2);
    }
    EXPECT_TRUE(linkedRow(2));
    EXPECT_LT(readListing(small.t()).linked, 1000);
    for (Terminal* holder : {&large.t(), &small.t()})
        EXPECT_EQ(readListing(*holder).wrongTargets, 0);
    TinyAtom::release(filler);
}

TEST(LinkRoomTests, TheLinkBeingPrintedKeepsItsCode)
{
    // A terminal has printed part of a link when another, finding the table full, asks it for
    // codes: the open link's cells keep it, and so do the cells printed after.
    TerminalFixture printing(80, 25, 0);
    printing.t().feed(osc8(";https://example.invalid/open") + "ab");
    std::vector<uint16_t> filler;
    while (const std::optional<TinyAtom> atom = TinyAtom::lookup(std::string("filler")))
        filler.push_back(atom->code);
    TerminalFixture asking(80, 25, 0);
    asking.t().feed(osc8(";https://example.invalid/other") + "x" + osc8(";"));
    printing.t().feed("cd" + osc8(";"));
    for (int col = 0; col < 4; ++col)
        EXPECT_EQ(stringPayload(printing.t().getLine(0)->packed(col)), ";https://example.invalid/open")
            << "column " << col;
    TinyAtom::release(filler);
}

TEST(LinkRoomTests, AQuietTerminalKeepsLinkingBesideBusyHolders)
{
    // Five terminals print linked listings and hold the table between them; their locks stay
    // taken, as on threads that feed them back to back, and each round the last of them prints
    // links for as long as it finds a free code, and other small holders take half of what is
    // left. A sixth, holding nothing at first, prints 25 linked names between their feeds: every
    // name links, and its earlier listings keep theirs.
    constexpr int busyTerminals = 5;
    std::vector<std::unique_ptr<TerminalFixture>> busy;
    std::vector<std::unique_ptr<TerminalLockGuard>> feeding;
    for (int terminal = 0; terminal < busyTerminals; ++terminal) {
        busy.push_back(std::make_unique<TerminalFixture>(80, 25, applicationScrollback));
        feeding.push_back(std::make_unique<TerminalLockGuard>(busy.back()->t().terminalLock()));
        busy.back()->t().feed(linkedListing(terminal, 20000));
    }
    TerminalFixture quiet(80, 25, applicationScrollback);
    std::vector<uint16_t> filler;
    constexpr int listings = 10;
    for (int listing = 0; listing < listings; ++listing) {
        for (int terminal = 0; terminal < busyTerminals; ++terminal)
            busy[size_t(terminal)]->t().feed(linkedListing(terminal, 1000, 20000 + 3000 * listing));
        for (int entry = 0; entry < 2000 && TinyAtom::freeCodeCount() > 0; ++entry)
            busy.back()->t().feed(linkedListing(busyTerminals - 1, 1, 21000 + 3000 * listing + entry));
        while (TinyAtom::freeCodeCount() > PayloadState::sharedReserve / 2)
            filler.push_back(TinyAtom::lookup(std::string("filler"))->code);
        quiet.t().feed(linkedListing(busyTerminals, 25, 25 * listing));
    }
    TinyAtom::release(filler);
    const LinkedNames names = readListing(quiet.t());
    EXPECT_EQ(names.linked, 25 * listings) << "every name of every listing links";
    EXPECT_EQ(names.wrongTargets, 0);
    feeding.clear();
    for (const auto& fixture : busy) {
        EXPECT_EQ(readListing(fixture->t()).wrongTargets, 0);
        expectWithinBounds(fixture->t());
    }
}

TEST(LinkRoomTests, MakingRoomFreesAQuarterOfTheCodesAndOfTheLinkText)
{
    // The oldest rows give up links until both a quarter of the codes and a quarter of the link
    // text are free, whichever bound the terminal reached: then the links after find room for a
    // while before the next rows have to give theirs up.
    struct Case
    {
        const char* name;
        int oldLinks;
        size_t oldBytes;
        size_t newBytes;
    };
    const Case cases[] = {
        // Short links first, then long ones up to the bound on text.
        {"short links, then long ones", 8000, 16, ActiveHyperlink::maximumPayloadBytes},
        // Long links first, then short ones up to the bound on codes.
        {"long links, then short ones", 1000, ActiveHyperlink::maximumPayloadBytes, 16},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TerminalFixture fixture(80, 25, applicationScrollback);
        Terminal& t = fixture.t();
        auto payload = [](int link, size_t bytes) {
            std::string text = "id=" + std::to_string(link) + ";u/";
            return text + std::string(bytes - text.size(), 'a');
        };
        std::string output;
        int link = 0;
        for (; link < test.oldLinks; ++link)
            output += osc8(payload(link, test.oldBytes)) + "x";
        t.feed(output);
        const PayloadState& payloads = *t.innerState().payloads;
        // New links up to the first one that finds no room.
        for (; payloads.hasRoomFor(test.newBytes); ++link)
            t.feed(osc8(payload(link, test.newBytes)) + "x");
        t.feed(osc8(payload(link, test.newBytes)) + "x" + osc8(";"));
        EXPECT_LE(payloads.count, PayloadState::maximumHeldCodes * 3 / 4 + 1);
        EXPECT_LE(payloads.heldTextBytes, PayloadState::maximumHeldTextBytes * 3 / 4 + test.newBytes);
        EXPECT_TRUE(stringPayload(t.buffer().lines().lineOrEmpty(link / 80).packed(link % 80)))
            << "the newest link has its code";
    }
}

} // namespace
} // namespace kestrovan::testing
