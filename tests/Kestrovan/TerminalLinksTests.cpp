// Link detection under a cell: OSC 8 links by their runs of cells, URLs and paths found by the
// implicit-link rule in the logical line around the cell, joined across soft-wrapped rows and
// across hard-broken rows the heuristic accepts, the two ways of naming a row, and screens built
// to make the rule backtrack, which must end with an answer (a link or none) and never a partial
// target.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/TerminalLinks.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrovan::testing {
namespace {

/// The link text under a cell of the screen as shown.
std::optional<std::string> linkAt(Terminal& t, int col, int row,
                                  LinkLookupMode mode = LinkLookupMode::explicitAndImplicit)
{
    return link(t, LinkLookupLocation::screen(Position(col, row)), mode);
}

/// The implicit link under a cell of the screen as shown.
std::optional<LinkMatch> implicitAt(Terminal& t, int col, int row)
{
    return implicitLinkMatch(t, Position(col, t.buffer().yDisp() + row), t.buffer());
}

/// The implicit link's text under a cell of a one-row line fed into a wide terminal.
std::optional<std::string> implicitIn(std::string_view text, int col)
{
    TerminalFixture f(120, 3);
    f.t().feed(text);
    const std::optional<LinkMatch> match = implicitAt(f.t(), col, 0);
    return match ? std::optional<std::string>(match->text) : std::nullopt;
}

TEST(TerminalLinksTests, ExplicitLinksAreTheRunOfTheirCode)
{
    TerminalFixture f(30, 4);
    Terminal& t = f.t();
    t.feed("ab " + osc8("id=7;https://example.invalid/a;b") + "click here" + osc8(";") + " cd");

    for (int col = 3; col < 13; ++col)
        EXPECT_EQ(linkAt(t, col, 0), "https://example.invalid/a;b")
            << "column " << col << " lies on the link";
    EXPECT_EQ(linkAt(t, 2, 0), std::nullopt) << "the space before the link";
    EXPECT_EQ(linkAt(t, 13, 0), std::nullopt) << "the space after it";

    const std::optional<LinkMatch> match = explicitLinkMatch(t, Position(5, 0), t.buffer());
    ASSERT_TRUE(match);
    EXPECT_TRUE(match->isExplicit);
    EXPECT_EQ(match->text, "https://example.invalid/a;b") << "the URI, not the cell text";
    EXPECT_EQ(match->range, (LinkMatch::ColumnRange{3, 13}));
    EXPECT_EQ(match->rowRanges, (std::vector<LinkMatch::RowRange>{{0, {3, 13}}}));

    // Two links side by side with different payloads are two runs.
    t.feed("\r\n" + osc8(";https://one.invalid") + "one" + osc8(";https://two.invalid") + "two" + osc8(";"));
    EXPECT_EQ(linkAt(t, 2, 1), "https://one.invalid");
    EXPECT_EQ(linkAt(t, 3, 1), "https://two.invalid");
    EXPECT_EQ(explicitLinkMatch(t, Position(4, 1), t.buffer())->range, (LinkMatch::ColumnRange{3, 6}));

    // The explicit link wins over link-like cell text, in either mode.
    t.feed("\r\n" + osc8(";https://target.invalid") + "https://shown.invalid" + osc8(";"));
    EXPECT_EQ(linkAt(t, 5, 2), "https://target.invalid");
    EXPECT_EQ(linkAt(t, 5, 2, LinkLookupMode::explicitOnly), "https://target.invalid");
}

TEST(TerminalLinksTests, ExplicitLinksOverWideCharactersAndWraps)
{
    TerminalFixture f(10, 4);
    Terminal& t = f.t();
    // "x", then two wide characters under the link at columns 1-2 and 3-4.
    t.feed("x" + osc8(";https://wide.invalid") + "\xe6\x97\xa5\xe6\x9c\xac" + osc8(";"));
    for (int col = 1; col <= 4; ++col)
        EXPECT_EQ(linkAt(t, col, 0), "https://wide.invalid")
            << "both halves of each wide character, column " << col;
    EXPECT_EQ(explicitLinkMatch(t, Position(4, 0), t.buffer())->range, (LinkMatch::ColumnRange{1, 5}));

    // A link soft-wrapped over two rows is two runs: an OSC 8 link never spans rows.
    t.feed("\r\n" + osc8(";https://wrapped.invalid") + "abcdefghijklmn" + osc8(";"));
    ASSERT_TRUE(t.buffer().lines().lineOrEmpty(2).isWrapped());
    const std::optional<LinkMatch> upper = explicitLinkMatch(t, Position(9, 1), t.buffer());
    const std::optional<LinkMatch> lower = explicitLinkMatch(t, Position(0, 2), t.buffer());
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(upper->rowRanges, (std::vector<LinkMatch::RowRange>{{1, {0, 10}}}));
    EXPECT_EQ(lower->rowRanges, (std::vector<LinkMatch::RowRange>{{2, {0, 4}}}));
    EXPECT_EQ(lower->text, "https://wrapped.invalid");
}

TEST(TerminalLinksTests, EmptyUrisAndTheOptionGiveNoExplicitLink)
{
    TerminalFixture f(40, 4);
    Terminal& t = f.t();
    // OSC 8 with an empty URI starts a link whose target is empty: never a target to open.
    t.feed(osc8("id=1;") + "plain words" + osc8(";"));
    EXPECT_NE(t.getLine(0)->packed(0).payloadCode(), 0) << "the cells do carry the link";
    EXPECT_EQ(explicitLinkMatch(t, Position(2, 0), t.buffer()), std::nullopt);
    EXPECT_EQ(linkAt(t, 2, 0), std::nullopt);

    // Under an empty-URI link, text that looks like a URL is still found as an implicit link.
    t.feed("\r\n" + osc8("id=2;") + "https://visible.invalid/x" + osc8(";"));
    EXPECT_EQ(linkAt(t, 4, 1, LinkLookupMode::explicitOnly), std::nullopt);
    EXPECT_EQ(linkAt(t, 4, 1), "https://visible.invalid/x");

    // With the option off, cells keep their codes but stop being explicit links.
    t.feed("\r\n" + osc8(";https://off.invalid") + "words" + osc8(";"));
    ASSERT_EQ(linkAt(t, 1, 2), "https://off.invalid");
    t.setEnableOsc8Hyperlinks(false);
    EXPECT_NE(t.getLine(2)->packed(1).payloadCode(), 0);
    EXPECT_EQ(linkAt(t, 1, 2), std::nullopt);
    t.setEnableOsc8Hyperlinks(true);
    EXPECT_EQ(linkAt(t, 1, 2), "https://off.invalid") << "and are links again when it comes back";
}

TEST(TerminalLinksTests, ImplicitUrlsAndPaths)
{
    // URLs: the scheme prefixes, bracketed IPv6 hosts with ports, one-level groups.
    EXPECT_EQ(implicitIn("open https://example.invalid/a?b=1#c now", 10), "https://example.invalid/a?b=1#c");
    EXPECT_EQ(implicitIn("mail mailto:someone@example.invalid today", 8), "mailto:someone@example.invalid");
    EXPECT_EQ(implicitIn("at http://[::1]:8080/x ok", 5), "http://[::1]:8080/x");
    EXPECT_EQ(implicitIn("see https://en.example.invalid/wiki/A_(b)_c here", 10),
              "https://en.example.invalid/wiki/A_(b)_c");
    EXPECT_EQ(implicitIn("git clone ssh://git@host.invalid/r.git", 12), "ssh://git@host.invalid/r.git");

    // A URL never ends in "," or ".".
    EXPECT_EQ(implicitIn("see https://example.invalid/x, then", 6), "https://example.invalid/x");
    EXPECT_EQ(implicitIn("Go to https://example.invalid.", 8), "https://example.invalid");

    // Paths: ./, ../, ~/, $VARIABLE/, .dir/, a single /, and word/rest with a dot.
    EXPECT_EQ(implicitIn("see ./run.sh, now", 6), "./run.sh");
    EXPECT_EQ(implicitIn("cd ../up/lib.a here", 5), "../up/lib.a");
    EXPECT_EQ(implicitIn("edit ~/notes.txt", 8), "~/notes.txt");
    EXPECT_EQ(implicitIn("echo $HOME/x", 6), "$HOME/x") << "the variable form";
    EXPECT_EQ(implicitIn("cat .config/app.ini", 6), ".config/app.ini");
    EXPECT_EQ(implicitIn("ls /etc/hosts", 5), "/etc/hosts");
    EXPECT_EQ(implicitIn("src/main.cpp:12:3: error", 2), "src/main.cpp:12:3");
    EXPECT_EQ(implicitIn("open /tmp/My Files/a.txt", 10), "/tmp/My Files/a.txt")
        << "single spaces between parts";

    // Not links.
    EXPECT_EQ(implicitIn("echo $/x", 6), std::nullopt) << "\"/x\" right after a \"$\" is rejected";
    EXPECT_EQ(implicitIn("just some words", 6), std::nullopt);
    EXPECT_EQ(implicitIn("and/or", 2), std::nullopt) << "a relative path needs a dot";
    EXPECT_EQ(implicitIn("see https://example.invalid/x now", 1), std::nullopt) << "a cell beside the link";
    EXPECT_EQ(implicitIn("see https://example.invalid/x now", 40), std::nullopt) << "past the text";
}

TEST(TerminalLinksTests, ImplicitMatchRangesAndWideCharacters)
{
    TerminalFixture f(30, 3);
    Terminal& t = f.t();
    // "ls " then /tmp/, two wide characters (columns 8-11) and ".txt".
    t.feed("ls /tmp/\xe6\x97\xa5\xe6\x9c\xac.txt end");
    const std::optional<LinkMatch> match = implicitAt(t, 9, 0);
    ASSERT_TRUE(match) << "the right half of a wide character counts as its lead";
    EXPECT_FALSE(match->isExplicit);
    EXPECT_EQ(match->text, "/tmp/\xe6\x97\xa5\xe6\x9c\xac.txt");
    EXPECT_EQ(match->row, 0);
    EXPECT_EQ(match->range, (LinkMatch::ColumnRange{3, 16}));
    EXPECT_EQ(match->rowRanges, (std::vector<LinkMatch::RowRange>{{0, {3, 16}}}));
    EXPECT_EQ(implicitAt(t, 15, 0)->text, match->text) << "the last cell";
    EXPECT_EQ(implicitAt(t, 16, 0), std::nullopt) << "the space after it";

    EXPECT_EQ(linkAt(t, 4, 0, LinkLookupMode::explicitOnly), std::nullopt)
        << "plain text is no explicit link";
    EXPECT_EQ(linkAt(t, 4, 0), match->text);
}

TEST(TerminalLinksTests, LinksAcrossSoftWrappedRows)
{
    TerminalFixture f(10, 5);
    Terminal& t = f.t();
    const std::string url = "https://example.invalid/x";
    t.feed("go " + url + " ok");
    ASSERT_TRUE(t.buffer().lines().lineOrEmpty(1).isWrapped() &&
                t.buffer().lines().lineOrEmpty(2).isWrapped());

    for (const auto& [col, row] : {std::pair{3, 0}, {9, 0}, {0, 1}, {5, 1}, {7, 2}}) {
        const std::optional<LinkMatch> match = implicitAt(t, col, row);
        ASSERT_TRUE(match) << "a click on row " << row << " column " << col;
        EXPECT_EQ(match->text, url);
        EXPECT_EQ(match->row, row);
        EXPECT_EQ(match->rowRanges,
                  (std::vector<LinkMatch::RowRange>{{0, {3, 10}}, {1, {0, 10}}, {2, {0, 8}}}));
    }
    EXPECT_EQ(implicitAt(t, 1, 1)->range, (LinkMatch::ColumnRange{0, 10}));
    EXPECT_EQ(implicitAt(t, 9, 2), std::nullopt) << "on \"ok\"";
    EXPECT_EQ(implicitAt(t, 2, 0), std::nullopt) << "the space before the link";

    // A soft-wrapped row that starts with a space: the URL ends at the right edge of the row above.
    // Dropping the space as if it were an indent would give "https://q.invalidnext".
    t.feed("\r\nab https://q.invalid next");
    ASSERT_TRUE(t.buffer().lines().lineOrEmpty(5).isWrapped() &&
                t.buffer().lines().lineOrEmpty(6).isWrapped());
    const std::optional<LinkMatch> edge = implicitLinkMatch(t, Position(5, 5), t.buffer());
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->text, "https://q.invalid");
    EXPECT_EQ(edge->rowRanges, (std::vector<LinkMatch::RowRange>{{4, {3, 10}}, {5, {0, 10}}}));
    EXPECT_EQ(implicitLinkMatch(t, Position(2, 6), t.buffer()), std::nullopt) << "the word after the space";
}

TEST(TerminalLinksTests, LongWrappedLinksAreFoundWholeOrNotAtAll)
{
    // The search reads a window of a few thousand characters around the cell. A link inside it
    // is found whole from any of its rows; one that runs past the window is not offered in part.
    TerminalFixture f(100, 80, 0);
    Terminal& t = f.t();
    const std::string longUrl = "https://example.invalid/" + std::string(1476, 'u');
    t.feed(longUrl + " after");
    for (int row : {0, 7, 14}) {
        const std::optional<LinkMatch> match = implicitAt(t, 50, row);
        ASSERT_TRUE(match) << "row " << row;
        EXPECT_EQ(match->text, longUrl);
        EXPECT_EQ(match->rowRanges.size(), 15u);
    }

    t.feed("\r\nhttps://example.invalid/" + std::string(4976, 'v'));
    EXPECT_EQ(linkAt(t, 50, 15), std::nullopt) << "the start of a 5000-character URL";
    EXPECT_EQ(linkAt(t, 50, 40), std::nullopt) << "its middle";
}

TEST(TerminalLinksTests, HardBrokenRowsJoinWhenTheHeuristicAllows)
{
    TerminalFixture f(40, 8);
    Terminal& t = f.t();
    // A program broke a 60-character URL at the right edge with a hard line end.
    const std::string url = "https://example.invalid/" + std::string(36, 'p');
    t.feed(url.substr(0, 40) + "\r\n" + url.substr(40) + " tail");
    ASSERT_FALSE(t.buffer().lines().lineOrEmpty(1).isWrapped());
    for (const auto& [col, row] : {std::pair{0, 0}, {39, 0}, {0, 1}, {19, 1}}) {
        const std::optional<LinkMatch> match = implicitAt(t, col, row);
        ASSERT_TRUE(match) << "row " << row << " column " << col;
        EXPECT_EQ(match->text, url);
        EXPECT_EQ(match->rowRanges, (std::vector<LinkMatch::RowRange>{{0, {0, 40}}, {1, {0, 20}}}));
    }
    EXPECT_EQ(heuristicImplicitGroup(t, 0, t.buffer()), (std::pair<int64_t, int64_t>{0, 1}));

    // The continuation's indent is not part of the link.
    t.feed("\r\n" + std::string("see /srv/data/") + std::string(26, 'd') + "\r\n    more/file.txt");
    const std::optional<LinkMatch> indented = implicitAt(t, 6, 3);
    ASSERT_TRUE(indented);
    EXPECT_EQ(indented->text, "/srv/data/" + std::string(26, 'd') + "more/file.txt");
    EXPECT_EQ(indented->rowRanges, (std::vector<LinkMatch::RowRange>{{2, {4, 40}}, {3, {4, 17}}}));
}

TEST(TerminalLinksTests, HardBrokenRowsThatMustNotJoin)
{
    TerminalFixture f(40, 10);
    Terminal& t = f.t();
    // Row 0 ends at column 29, short of the right edge (40 - 40/5 = 32): the rows stay apart.
    t.feed("https://example.invalid/" + std::string(6, 'a') + "\r\n" + "bbbb/c.txt");
    EXPECT_EQ(implicitAt(t, 2, 0)->text, "https://example.invalid/aaaaaa");
    EXPECT_EQ(implicitAt(t, 2, 1)->text, "bbbb/c.txt");
    EXPECT_EQ(heuristicImplicitGroup(t, 1, t.buffer()), std::nullopt);

    // Prose that fills the row and a next row starting with a word: no link crosses the seam.
    t.feed("\r\n" + std::string("the quick brown fox jumps over the lazyy") + "\r\ndog and more");
    EXPECT_FALSE(canJoinImplicitRows(t, 2, 3, t.buffer()));

    // A quote after the URL ends it: '"' cannot continue a URL, so the next row is not joined.
    t.feed("\r\n" + std::string("\"https://example.invalid/") + std::string(14, 'q') + "\"\r\nnext/row.txt");
    EXPECT_FALSE(canJoinImplicitRows(t, 4, 5, t.buffer()));
    EXPECT_EQ(implicitAt(t, 3, 4)->text, "https://example.invalid/" + std::string(14, 'q'));

    // A blank row in between: nothing to join.
    t.feed("\r\n" + std::string(40, 'x') + "\r\n\r\nhttps://y.invalid");
    EXPECT_EQ(implicitAt(t, 3, 8)->text, "https://y.invalid");
    EXPECT_EQ(implicitAt(t, 3, 8)->rowRanges.size(), 1u);
}

TEST(TerminalLinksTests, ScreenAndBufferLocationsWithScrollback)
{
    TerminalFixture f(40, 3, 100);
    Terminal& t = f.t();
    t.feed("old https://old.invalid/a\r\n");
    for (int line = 0; line < 5; ++line)
        t.feed("filler " + std::to_string(line) + "\r\n");
    t.feed("new https://new.invalid/b");
    const Buffer& buffer = t.buffer();
    ASSERT_EQ(buffer.yBase(), 4);
    ASSERT_EQ(buffer.yDisp(), 4);

    // Screen rows count from the top of the view; buffer rows from the oldest scrollback line.
    EXPECT_EQ(link(t, LinkLookupLocation::screen(Position(6, 2)), LinkLookupMode::explicitAndImplicit),
              "https://new.invalid/b");
    EXPECT_EQ(link(t, LinkLookupLocation::buffer(Position(6, 6)), LinkLookupMode::explicitAndImplicit),
              "https://new.invalid/b");
    EXPECT_EQ(link(t, LinkLookupLocation::buffer(Position(6, 0)), LinkLookupMode::explicitAndImplicit),
              "https://old.invalid/a")
        << "a scrollback row by its buffer row";
    EXPECT_EQ(link(t, LinkLookupLocation::screen(Position(6, 0)), LinkLookupMode::explicitAndImplicit),
              std::nullopt)
        << "screen row 0 shows a filler line";

    // Scrolled back to the top, screen row 0 shows the oldest line.
    t.scrollViewportTo(0);
    EXPECT_EQ(link(t, LinkLookupLocation::screen(Position(6, 0)), LinkLookupMode::explicitAndImplicit),
              "https://old.invalid/a");

    // Locations outside the buffer are clamped into it.
    EXPECT_EQ(resolveLinkLocation(t, LinkLookupLocation::buffer(Position(-5, -3)), buffer), Position(0, 0));
    EXPECT_EQ(resolveLinkLocation(t, LinkLookupLocation::screen(Position(99, 99)), buffer), Position(39, 6));
    EXPECT_EQ(resolveLinkLocation(t, LinkLookupLocation::screen(Position(INT64_MAX, INT64_MAX)), buffer),
              Position(39, 6));
}

TEST(TerminalLinksTests, HostileScreensEndWithAnAnswer)
{
    // Each case is built to make the rule backtrack; what matters is that a lookup comes back with
    // an answer, and that any link it gives is real text of the line, not an empty or cut target.
    const auto check = [](Terminal& t, int col, int row, const std::string& line, const char* what) {
        const std::optional<std::string> found = linkAt(t, col, row);
        if (found) {
            EXPECT_FALSE(found->empty()) << what;
            EXPECT_NE(line.find(*found), std::string::npos) << what << ": " << *found;
        }
    };

    // 200 columns of "a/a " soft-wrapped over many rows: single spaces between path parts.
    {
        TerminalFixture f(200, 40, 0);
        std::string line;
        while (line.size() < 200 * 40 - 1)
            line += "a/a ";
        line.resize(200 * 40 - 1);
        f.t().feed(line);
        for (int row : {0, 20, 39})
            check(f.t(), 100, row, line, "wrapped a/a rows");
    }
    // One long word ending in "/": the relative-path alternative retries it from every position.
    {
        TerminalFixture f(200, 40, 0);
        const std::string line = std::string(200 * 40 - 2, 'a') + "/";
        f.t().feed(line);
        check(f.t(), 100, 20, line, "a long word");
        check(f.t(), 198, 39, line, "the slash at its end");
    }
    // Hard-broken rows that all reach the edge and join at every seam: the heuristic stops at its
    // budget, and the path that runs past the rows it looked at is not reported in part.
    {
        TerminalFixture f(80, 40, 0);
        Terminal& t = f.t();
        std::string all;
        for (int row = 0; row < 40; ++row) {
            std::string part;
            while (part.size() < 80)
                part += "/seg.x";
            part.resize(80);
            all += part;
            t.feed(part + (row < 39 ? "\r\n" : ""));
        }
        EXPECT_EQ(linkAt(t, 40, 20), std::nullopt) << "a link longer than the rows looked at";
        check(t, 40, 0, all, "the top row");
    }
}

} // namespace
} // namespace kestrovan::testing
