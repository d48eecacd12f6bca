// The find field has the keyboard right after typing a term in it: the menus' Find Next and Find
// Previous shortcuts step through the matches from there as from the terminal, typing still goes
// into the field, and the clipboard chords act on the field's own text.
#include "VeskDriver.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>

namespace veskgui {
namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(FindFieldGuiTests, FindNextAndPreviousStepFromTheFieldWhichStillTypesAndCopies)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    // Three matches of "find-me" in any case, each on a row of its own and each spelt differently,
    // so the selection tells which one is the match; the command line spells the term otherwise.
    const std::vector<std::string> matches = {"find-me", "fiNd-Me", "fiND-ME"};
    vesk.typeLine("printf 'fi%s\\n' nd-me Nd-Me ND-ME");
    // The prompt after the output too: output arriving during the search would drop the match.
    vesk.expect(
        [&](const State& s) {
            const std::vector<std::string> lines = s.lines(0, 0, 0);
            return lines.size() >= 2 && lines[lines.size() - 2] == matches.back() &&
                   lines.back() != matches.back();
        },
        "the output and the next prompt");

    vesk.key("ctrl+shift+f");
    vesk.expect([](const State& s) { return s.activePane()["find-focus"] == "1"; },
                "the find field has the keys");
    execute({"xdotool", "type", "--delay", "20", "find-me"});
    const State typed = vesk.expect(
        [](const State& s) {
            const Record pane = s.activePane();
            return pane["find-text"] == "find-me" && lowered(pane["selection"]) == "find-me";
        },
        "the term typed and a match selected");
    const long long first =
        std::find(matches.begin(), matches.end(), typed.activePane()["selection"]) - matches.begin();
    ASSERT_LT(first, 3) << typed.activePane()["selection"];

    // Each chord moves the match (the last one back past the first) and leaves the field the keys.
    struct Step
    {
        const char* chord;
        long long offset;
    };
    for (const Step& step : {Step{"ctrl+shift+g", 1}, Step{"ctrl+shift+g", 2}, Step{"ctrl+shift+h", 1},
                             Step{"ctrl+shift+h", 0}, Step{"ctrl+shift+h", -1}}) {
        const std::string expected = matches[static_cast<size_t>((first + step.offset + 3) % 3)];
        vesk.key(step.chord);
        vesk.expect(
            [&](const State& s) {
                const Record pane = s.activePane();
                return pane["selection"] == expected && pane["find-focus"] == "1";
            },
            std::string(step.chord) + " selects " + expected + " and the field keeps the keys");
    }

    // Typing still types into the field (a term found nowhere, so that the view has nothing to
    // copy), and the edit chords select, copy and paste the field's text.
    execute({"xdotool", "type", "Q"});
    vesk.expect([](const State& s) { return s.activePane()["find-text"] == "find-meQ"; },
                "Q typed in the field");
    vesk.key("ctrl+shift+a");
    vesk.key("ctrl+shift+c");
    EXPECT_TRUE(poll([] { return run("xclip -o -selection clipboard 2>/dev/null") == "find-meQ"; }, 10s))
        << "the field's text copied";
    vesk.key("End");
    vesk.key("ctrl+shift+v");
    vesk.expect([](const State& s) { return s.activePane()["find-text"] == "find-meQfind-meQ"; },
                "the clipboard pasted into the field");
}

} // namespace
} // namespace veskgui
