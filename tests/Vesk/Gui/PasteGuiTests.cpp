// Pastes through the desktop's clipboards into a program that records what it receives: a long
// paste without line breaks goes at once; with one it is reviewed, Return drops it and "Paste"
// sends it bracketed; the primary selection by middle click and by Shift+Insert is reviewed alike;
// and a review confirmed after its shell ended sends nothing to the shell started since.
#include "VeskDriver.h"

#include <csignal>
#include <gtest/gtest.h>

namespace veskgui {
namespace {

const std::string letters = std::string(5000, 'a');
const std::string withLineFeed = std::string(5000, 'b') + "\n";

/// Puts `text` on a clipboard of the display (xclip keeps serving it in the background) and waits
/// until the clipboard reads back as `text`: xclip takes it only once it has gone to the background.
void offer(const std::string& selection, const std::string& text, const std::string& folder)
{
    writeFile(folder + "/offer", text);
    run("xclip -selection " + selection + " -i '" + folder + "/offer' >/dev/null 2>&1");
    EXPECT_TRUE(poll([&] { return run("xclip -o -selection " + selection + " 2>/dev/null") == text; }, 10s))
        << "xclip never took the " << selection;
}

struct PasteFixture
{
    PasteFixture()
    {
        if (!vesk.started())
            return;
        vesk.focus();
        vesk.typeLine(std::string(VESK_PASTE_SINK) + " " + sink());
        vesk.expect([](const State& s) { return s.anyLineContains("sink ready"); }, "the sink runs");
    }
    std::string sink() const { return vesk.folder() + "/sink"; }
    /// Types a marker and waits for it: what the sink received since the last marker, all of it.
    std::string receivedUpToMarker(const std::string& marker)
    {
        vesk.focus();
        execute({"xdotool", "type", marker});
        bool held = false;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::string received;
        while (!(held = (received = readFile(sink())).size() >= marker.size() &&
                        received.compare(received.size() - marker.size(), marker.size(), marker) == 0)) {
            if (std::chrono::steady_clock::now() > deadline)
                break;
            vesk.state();
        }
        EXPECT_TRUE(held) << "the marker " << marker << " never arrived";
        // What came since the last marker, without the new one.
        const std::string since = received.substr(std::min(consumed, received.size()));
        consumed = received.size();
        return held ? since.substr(0, since.size() - marker.size()) : since;
    }

    Vesk vesk;
    size_t consumed = 0;
};

TEST(PasteGuiTests, LongPastesGoAtOnceUnlessALineBreakMakesThemReviewed)
{
    PasteFixture f;
    ASSERT_TRUE(f.vesk.started());
    offer("clipboard", letters, f.vesk.folder());
    f.vesk.key("ctrl+shift+v");
    EXPECT_EQ(f.receivedUpToMarker("1"), "\x1b[200~" + letters + "\x1b[201~") << "5,000 letters at once";
    EXPECT_TRUE(f.vesk.state().alerts().empty());

    offer("clipboard", withLineFeed, f.vesk.folder());
    f.vesk.key("ctrl+shift+v");
    State state = f.vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the review");
    EXPECT_EQ(state.alerts()[0]["message"], "Paste 5.0\u00A0kB of text?");
    EXPECT_EQ(state.alerts()[0]["detail"], withLineFeed) << "the whole text in the preview";
    EXPECT_EQ(state.alerts()[0]["buttons"], "Cancel|Paste");
    f.vesk.screenshot("vesk-paste-review", -1);
    f.vesk.answerAlert("Paste 5.0\u00A0kB of text?", false);
    f.vesk.expect([](const State& s) { return s.alerts().empty(); }, "Return cancelled the review");
    EXPECT_EQ(f.receivedUpToMarker("2"), "") << "a cancelled review sends nothing";

    f.vesk.key("ctrl+shift+v");
    f.vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the review again");
    f.vesk.answerAlert("Paste 5.0\u00A0kB of text?", true);
    EXPECT_EQ(f.receivedUpToMarker("3"), "\x1b[200~" + withLineFeed + "\x1b[201~")
        << "Paste sends it bracketed";
}

TEST(PasteGuiTests, ThePrimarySelectionIsReviewedByMiddleClickAndShiftInsert)
{
    PasteFixture f;
    ASSERT_TRUE(f.vesk.started());
    offer("primary", withLineFeed, f.vesk.folder());
    const Record pane = f.vesk.state().activePane();
    const int x = static_cast<int>(pane.number("terminal-x") + 200);
    const int y = static_cast<int>(pane.number("terminal-y") + 200);
    struct Gesture
    {
        const char* name;
        std::vector<std::string> xdotool;
    };
    const Gesture gestures[] = {
        {"middle click",
         {"xdotool", "mousemove", "--window", std::to_string(f.vesk.xid()), std::to_string(x),
          std::to_string(y), "click", "2"}},
        {"Shift+Insert", {"xdotool", "key", "shift+Insert"}},
    };
    for (const Gesture& gesture : gestures) {
        SCOPED_TRACE(gesture.name);
        f.vesk.focus();
        execute(gesture.xdotool);
        const State state = f.vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the review");
        EXPECT_EQ(state.alerts()[0]["detail"], withLineFeed);
        f.vesk.answerAlert("Paste 5.0\u00A0kB of text?", false);
        f.vesk.expect([](const State& s) { return s.alerts().empty(); }, "Return cancelled");
        EXPECT_EQ(f.receivedUpToMarker(gesture.name[0] == 'm' ? "4" : "5"), "") << "nothing was pasted";
    }
}

TEST(PasteGuiTests, AReviewConfirmedAfterItsShellEndedSendsNothingToTheNewShell)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    offer("clipboard", withLineFeed, vesk.folder());
    vesk.key("ctrl+shift+v");
    vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the review");

    // The shell ends while the review waits, and New Session starts another.
    kill(static_cast<pid_t>(vesk.state().activePane().number("pid")), SIGHUP);
    vesk.expect([](const State& s) { return s.activePane()["running"] == "0"; }, "the shell ended");
    vesk.activate("win.new-session");
    vesk.expect([](const State& s) { return s.activePane()["running"] == "1" && !s.lines(0, 0, 0).empty(); },
                "a new shell with its prompt");
    vesk.answerAlert("Paste 5.0\u00A0kB of text?", true);
    vesk.expect([](const State& s) { return s.alerts().empty(); }, "the review was answered");

    vesk.focus();
    vesk.typeLine("echo after-review");
    const State state = vesk.expect([](const State& s) { return s.anyLineIs("after-review"); },
                                    "the new shell runs the marker");
    EXPECT_FALSE(state.anyLineContains("bbbb")) << "the old paste reached the new shell";
}

} // namespace
} // namespace veskgui
