// New output keeps its links: once a terminal holds all the link codes it may, or the process-wide
// table is full, the oldest scrollback rows give up theirs, in this terminal or in the terminals
// holding the most, and no cell ever shows another link's target.
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
/// padded to columns, five a row.
std::string linkedListing(int terminal, int entries)
{
    std::string output;
    for (int entry = 0; entry < entries; ++entry) {
        const std::string name = nameOf(terminal, entry);
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

} // namespace
} // namespace kestrovan::testing
