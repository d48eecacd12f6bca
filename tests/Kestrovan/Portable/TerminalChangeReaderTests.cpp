// Two readers of one terminal, a view's change reader and a headless snapshot builder, each get
// every change whatever the other (or a host clearing the update range) took first: every screen
// row whose text changed lies in the view's range, and the snapshot delivers it with its new text.
#include "../RecordingTerminalDelegate.h"
#include "SnapshotText.h"

#include "Kestrovan/Portable/RenderSnapshotBuilder.h"
#include "Kestrovan/Portable/Viewport.h"
#include "Kestrovan/TerminalChangeReader.h"

#include <functional>
#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

constexpr int columns = 10;
constexpr int screenRows = 4;

std::vector<std::string> screenTexts(Terminal& terminal)
{
    std::vector<std::string> out;
    for (int row = 0; row < terminal.rows(); ++row)
        out.push_back(rowText(terminal, row));
    return out;
}

/// The rows of the current screen whose text differs from `before`.
std::vector<int> changedRows(const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    std::vector<int> out;
    for (size_t row = 0; row < after.size(); ++row)
        if (row >= before.size() || before[row] != after[row])
            out.push_back(static_cast<int>(row));
    return out;
}

enum class FirstTaker
{
    view,
    snapshot,
    hostClear
};

struct ChangeCase
{
    const char* name;
    std::function<void(Terminal&)> change;
};

const std::vector<ChangeCase>& changeCases()
{
    static const std::vector<ChangeCase> cases = {
        {"print", [](Terminal& t) { t.feed("\x1b[2;3Hxy"); }},
        {"line feed scrolls the screen", [](Terminal& t) { t.feed("\x1b[4;1H\nnew"); }},
        {"scroll region", [](Terminal& t) { t.feed("\x1b[2;3r\x1b[3;1H\n\x1b[r"); }},
        {"reverse index at the top", [](Terminal& t) { t.feed("\x1b[1;1H\x1bM"); }},
        {"erase display", [](Terminal& t) { t.feed("\x1b[2J"); }},
        {"erase line", [](Terminal& t) { t.feed("\x1b[3;1H\x1b[K"); }},
        {"insert lines", [](Terminal& t) { t.feed("\x1b[2;1H\x1b[L"); }},
        {"delete characters", [](Terminal& t) { t.feed("\x1b[4;1H\x1b[2P"); }},
        {"resize", [](Terminal& t) { t.resize(6, 3); }},
        {"alternate screen", [](Terminal& t) { t.feed("\x1b[?1049halt"); }},
        {"viewport scrolled back", [](Terminal& t) { scrollViewport(t, 0, true); }},
    };
    return cases;
}

/// A terminal with scrollback and a full screen, both readers settled on it.
struct TwoReaders : TerminalFixture
{
    TwoReaders() : TerminalFixture(columns, screenRows, 100), snapshot(terminal)
    {
        t().feed("zero\r\none\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix");
        snapshot.makeRenderSnapshot(RenderSnapshotScope::dirty);
        TerminalLockGuard guard(t().terminalLock());
        view.take(t());
    }
    ChangedRows takeView()
    {
        TerminalLockGuard guard(t().terminalLock());
        return view.take(t());
    }

    TerminalChangeReader view;
    RenderSnapshotBuilder snapshot;
};

void expectViewSees(const ChangedRows& taken, const std::vector<int>& changed, const std::string& where)
{
    for (const int row : changed) {
        ASSERT_TRUE(taken.screen) << where << ": row " << row << " changed, the view got nothing";
        EXPECT_LE(taken.screen->first, row) << where << ": row " << row;
        EXPECT_GE(taken.screen->second, row) << where << ": row " << row;
    }
}

void expectSnapshotShows(const TerminalRenderSnapshot& snapshot, const std::vector<std::string>& after,
                         const std::vector<int>& changed, const std::string& where)
{
    for (const int row : changed) {
        const auto delivered = std::find_if(snapshot.lines.begin(), snapshot.lines.end(),
                                            [&](const RenderSnapshotRow& line) { return line.y == row; });
        ASSERT_NE(delivered, snapshot.lines.end()) << where << ": row " << row << " changed, not delivered";
        EXPECT_EQ(snapshotRowText(*delivered), after[static_cast<size_t>(row)]) << where << ": row " << row;
    }
}

TEST(TerminalChangeReaderTests, NeitherReaderMissesAChange)
{
    const std::pair<FirstTaker, const char*> orders[] = {
        {FirstTaker::view, "view first"},
        {FirstTaker::snapshot, "snapshot first"},
        {FirstTaker::hostClear, "host cleared first"},
    };
    for (const ChangeCase& change : changeCases()) {
        for (const auto& [first, orderName] : orders) {
            const std::string where = std::string(change.name) + ", " + orderName;
            TwoReaders readers;
            Terminal& t = readers.t();
            const std::vector<std::string> before = screenTexts(t);
            change.change(t);
            const std::vector<std::string> after = screenTexts(t);
            const std::vector<int> changed = changedRows(before, after);
            ASSERT_FALSE(changed.empty()) << where << ": the change must show on screen";

            std::optional<ChangedRows> viewTook;
            std::optional<TerminalRenderSnapshot> snapshotTook;
            if (first == FirstTaker::view)
                viewTook = readers.takeView();
            else if (first == FirstTaker::snapshot)
                snapshotTook = readers.snapshot.makeRenderSnapshot(RenderSnapshotScope::dirty);
            else
                t.clearUpdateRange();
            if (!viewTook)
                viewTook = readers.takeView();
            if (!snapshotTook)
                snapshotTook = readers.snapshot.makeRenderSnapshot(RenderSnapshotScope::dirty);

            expectViewSees(*viewTook, changed, where);
            expectSnapshotShows(*snapshotTook, after, changed, where);

            // Both have now seen the change: the next take is clean for each.
            EXPECT_EQ(readers.takeView(), ChangedRows{}) << where;
            EXPECT_TRUE(readers.snapshot.makeRenderSnapshot(RenderSnapshotScope::dirty).lines.empty())
                << where;
        }
    }
}

TEST(TerminalChangeReaderTests, EachReaderGetsWhatHappenedSinceItsOwnLastTake)
{
    // Steps: who takes (or prints on which row) in turn, and the screen rows each take must get.
    // Moving the cursor to print marks the row it left as well.
    struct Step
    {
        const char* action; // "print N" prints on row N; "A" or "B" is a take
        std::optional<std::pair<int, int>> expected;
    };
    const std::vector<Step> steps = {
        {"print 0", {}},        {"A", std::pair{0, 0}}, {"print 2", {}},     {"B", std::pair{0, 2}},
        {"A", std::pair{0, 2}}, {"B", std::nullopt},    {"print 1", {}},     {"print 3", {}},
        {"B", std::pair{1, 3}}, {"A", std::pair{1, 3}}, {"A", std::nullopt},
    };
    TerminalFixture fixture(columns, screenRows);
    Terminal& t = fixture.t();
    TerminalChangeReader a;
    TerminalChangeReader b;
    TerminalLockGuard guard(t.terminalLock());
    EXPECT_EQ(a.take(t).screen, (std::pair{0, screenRows})) << "a new reader first gets the whole screen";
    EXPECT_EQ(b.take(t).screen, (std::pair{0, screenRows}));
    for (size_t index = 0; index < steps.size(); ++index) {
        const Step& step = steps[index];
        const std::string action = step.action;
        if (action.starts_with("print ")) {
            t.feed("\x1b[" + std::to_string(std::stoi(action.substr(6)) + 1) + ";1Hx");
            continue;
        }
        TerminalChangeReader& reader = action == "A" ? a : b;
        EXPECT_EQ(reader.take(t).screen, step.expected) << "step " << index << " (" << action << ")";
    }
}

TEST(TerminalChangeReaderTests, AReaderFarBehindGetsTheWholeScreen)
{
    // How many changes another reader sealed while one reader looked away, and what that reader
    // then gets: the changed rows while the terminal remembers them all, else the whole screen.
    const std::pair<uint64_t, std::pair<int, int>> cases[] = {
        {1, {0, 0}},
        {ChangeHistory::depth, {0, 3}},
        {ChangeHistory::depth + 1, {0, screenRows}},
        {ChangeHistory::depth * 3, {0, screenRows}},
    };
    for (const auto& [seals, expected] : cases) {
        TerminalFixture fixture(columns, screenRows);
        Terminal& t = fixture.t();
        TerminalChangeReader busy;
        TerminalChangeReader idle;
        TerminalLockGuard guard(t.terminalLock());
        t.feed("\x1b[1;1H");
        busy.take(t);
        idle.take(t);
        t.feed("first");
        busy.take(t);
        for (uint64_t seal = 1; seal < seals; ++seal) {
            t.feed(seal % 2 ? "\x1b[4;1Hx" : "\x1b[4;1Hy");
            busy.take(t);
        }
        EXPECT_EQ(idle.take(t).screen, expected) << seals << " seals behind";
    }
}

TEST(TerminalChangeReaderTests, OwnMarksStayWithTheReader)
{
    TerminalFixture fixture(columns, screenRows);
    Terminal& t = fixture.t();
    TerminalChangeReader marking;
    TerminalChangeReader other;
    TerminalLockGuard guard(t.terminalLock());
    marking.take(t);
    other.take(t);
    marking.markRow(t, 2);
    EXPECT_EQ(marking.take(t).screen, (std::pair{2, 2}));
    EXPECT_EQ(other.take(t), ChangedRows{}) << "another reader's own mark is not a change of the terminal";
    marking.markWholeScreen(t);
    EXPECT_EQ(marking.take(t).screen, (std::pair{0, screenRows}));
    EXPECT_EQ(other.take(t), ChangedRows{});
}

} // namespace
} // namespace kestrovan::testing
