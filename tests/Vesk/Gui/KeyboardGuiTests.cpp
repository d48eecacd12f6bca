// Keys typed into the window reach a program that records every byte it reads, with the bytes xterm
// sends for them: F10 and the chords GTK would otherwise keep for its menus (Shift+F10, Menu,
// Alt with the menus' initials), and Alt with the arrows and the editing keys in xterm's modified
// forms. Menus, alerts and dialogs hand the keyboard back to the pane however they close.
#include "VeskDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace veskgui {
namespace {

/// A chord as xdotool names it and the bytes the program must read for it.
struct KeyBytes
{
    std::string chord;
    std::string bytes;
};

/// The application with the recording program running in its shell, after `setup` was printed
/// to the terminal (a mode to switch on).
struct KeyProbe
{
    explicit KeyProbe(const std::string& setup = {})
    {
        if (!vesk.started())
            return;
        vesk.focus();
        const std::string printSetup = setup.empty() ? std::string() : "printf '" + setup + "'; ";
        vesk.typeLine(printSetup + VESK_PASTE_SINK + " " + sink());
        vesk.expect([](const State& s) { return s.anyLineContains("sink ready"); }, "the recorder runs");
    }
    std::string sink() const { return vesk.folder() + "/sink"; }

    /// Waits until the recorder has read `count` more '|' than it had; what it read since, in
    /// pieces split at each '|' (no key sequence holds one).
    std::vector<std::string> piecesUpTo(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::string since;
        auto bars = [&] {
            const std::string received = readFile(sink());
            since = received.substr(std::min(consumed, received.size()));
            return static_cast<size_t>(std::count(since.begin(), since.end(), '|'));
        };
        while (bars() < count && std::chrono::steady_clock::now() < deadline)
            vesk.state();
        consumed += since.size();
        std::vector<std::string> pieces;
        size_t start = 0;
        for (size_t bar = since.find('|'); bar != std::string::npos; bar = since.find('|', start)) {
            pieces.push_back(since.substr(start, bar - start));
            start = bar + 1;
        }
        EXPECT_EQ(pieces.size(), count) << "the recorder read only \"" << since << "\"";
        return pieces;
    }

    /// Presses each chord followed by '|', and checks what the program read for each.
    void expectBytes(const std::vector<KeyBytes>& table)
    {
        std::vector<std::string> arguments = {"xdotool", "key", "--clearmodifiers"};
        for (const KeyBytes& entry : table) {
            arguments.push_back(entry.chord);
            arguments.push_back("bar");
        }
        execute(arguments);
        const std::vector<std::string> pieces = piecesUpTo(table.size());
        for (size_t index = 0; index < table.size() && index < pieces.size(); ++index)
            EXPECT_EQ(printable(pieces[index]), printable(table[index].bytes)) << table[index].chord;
    }

    /// Types `text` and a '|', and answers what the program read before the '|'.
    std::string typed(const std::string& text)
    {
        execute({"xdotool", "type", "--delay", "2", "--", text + "|"});
        const std::vector<std::string> pieces = piecesUpTo(1);
        return pieces.empty() ? std::string() : pieces.front();
    }

    static std::string printable(const std::string& bytes)
    {
        std::string out;
        for (unsigned char c : bytes) {
            if (c == 0x1b)
                out += "ESC";
            else if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "<%02X>", c);
                out += hex;
            } else
                out += static_cast<char>(c);
        }
        return out;
    }

    Vesk vesk;
    size_t consumed = 0;
};

Record menuTitled(const State& state, const std::string& title)
{
    for (const Record& menu : state.all("menu"))
        if (menu["title"] == title)
            return menu;
    return {};
}

bool anyMenuOpen(const State& state)
{
    for (const Record& menu : state.all("menu"))
        if (menu["open"] == "1")
            return true;
    return false;
}

/// The keyboard is the pane's again: no menu open, the bar without the focus, the pane with it.
bool keyboardBackInPane(const State& state)
{
    return !anyMenuOpen(state) && !state.windows().empty() &&
           state.windows()[0]["focus-in-menu-bar"] == "0" && state.activePane()["focus"] == "1";
}

TEST(KeyboardGuiTests, KeysReachTheProgramWithXtermBytes)
{
    KeyProbe probe;
    ASSERT_TRUE(probe.vesk.started());
    probe.expectBytes({
        {"F9", "\x1b[20~"},
        {"F10", "\x1b[21~"},
        {"shift+F10", "\x1b[21;2~"},
        {"alt+F10", "\x1b[21;3~"},
        // The Menu key has no sequence of its own: it sends nothing, and opens nothing.
        {"Menu", ""},
        // Alt with the initials of the menus: no menu takes them.
        {"alt+v", "\x1bv"},
        {"alt+s", "\x1bs"},
        {"alt+e", "\x1b"
                  "e"},
        {"alt+w", "\x1bw"},
        {"alt+Up", "\x1b[1;3A"},
        {"alt+Down", "\x1b[1;3B"},
        {"alt+Right", "\x1b[1;3C"},
        {"alt+Left", "\x1b[1;3D"},
        {"alt+shift+Up", "\x1b[1;4A"},
        {"alt+shift+Left", "\x1b[1;4D"},
        {"ctrl+alt+Up", "\x1b[1;7A"},
        {"ctrl+alt+Home", "\x1b[1;7H"},
        {"alt+Home", "\x1b[1;3H"},
        {"alt+End", "\x1b[1;3F"},
        {"alt+Prior", "\x1b[5;3~"},
        {"alt+Next", "\x1b[6;3~"},
        {"alt+Insert", "\x1b[2;3~"},
        {"alt+Delete", "\x1b[3;3~"},
        {"ctrl+Left", "\x1b[1;5D"},
        {"BackSpace", "\x7f"},
        {"ctrl+BackSpace", "\x08"},
        {"alt+BackSpace", "\x1b\x7f"},
        {"ctrl+alt+BackSpace", "\x1b\x08"},
    });
    const State state = probe.vesk.state();
    EXPECT_FALSE(anyMenuOpen(state)) << "no key opened a menu";
    EXPECT_EQ(state.activePane()["focus"], "1");
}

TEST(KeyboardGuiTests, ApplicationCursorKeysKeepTheModifiedForms)
{
    // DECCKM on: plain cursor keys are SS3, modified ones keep their CSI form.
    KeyProbe probe("\\033[?1h");
    ASSERT_TRUE(probe.vesk.started());
    probe.expectBytes({
        {"Up", "\x1bOA"},
        {"Home", "\x1bOH"},
        {"alt+Up", "\x1b[1;3A"},
        {"alt+Left", "\x1b[1;3D"},
        {"ctrl+alt+Home", "\x1b[1;7H"},
    });
}

TEST(KeyboardGuiTests, MenusAlertsAndDialogsGiveTheKeyboardBackToThePane)
{
    KeyProbe probe;
    ASSERT_TRUE(probe.vesk.started());
    State state = probe.vesk.expect([](const State& s) { return !menuTitled(s, "View").fields.empty(); },
                                    "the menu bar shows View");
    const Record view = menuTitled(state, "View");
    const double x = std::stod(view["x"]) + std::stod(view["width"]) / 2;
    const double y = std::stod(view["y"]) + std::stod(view["height"]) / 2;
    auto openView = [&] {
        probe.vesk.click(x, y);
        probe.vesk.expect([](const State& s) { return menuTitled(s, "View")["open"] == "1"; },
                          "View is open");
    };

    // Closed with Escape: the Escape is the menu's, the letters after it the program's.
    openView();
    probe.vesk.key("Escape");
    probe.vesk.expect(keyboardBackInPane, "Escape closed the menu and the pane has the keyboard");
    EXPECT_EQ(probe.typed("abc"), "abc") << "after Escape";

    // Right moves to the next menu, which keeps the keyboard while it is open.
    openView();
    probe.vesk.key("Right");
    probe.vesk.expect([](const State& s) { return menuTitled(s, "Window")["open"] == "1"; },
                      "Window is open");
    EXPECT_EQ(probe.vesk.state().activePane()["focus"], "0") << "the open menu has the keyboard";
    probe.vesk.key("Escape");
    probe.vesk.expect(keyboardBackInPane, "Escape closed the next menu");
    EXPECT_EQ(probe.typed("xyz"), "xyz") << "after moving along the bar";

    // Closed by clicking its title again.
    openView();
    probe.vesk.click(x, y);
    probe.vesk.expect(keyboardBackInPane, "a second click closed the menu");
    EXPECT_EQ(probe.typed("def"), "def") << "after a second click";

    // Closed by choosing an item with the keyboard (one of the text sizes).
    const long long size = probe.vesk.state().activePane().number("font-size");
    openView();
    execute({"xdotool", "key", "--clearmodifiers", "Down", "Return"});
    probe.vesk.expect(
        [size](const State& s) {
            return keyboardBackInPane(s) && s.activePane().number("font-size") != size;
        },
        "a text size item ran and the pane has the keyboard");
    EXPECT_EQ(probe.typed("ghi"), "ghi") << "after an item";

    // F10 is the program's and opens no menu.
    probe.expectBytes({{"F10", "\x1b[21~"}});
    EXPECT_TRUE(keyboardBackInPane(probe.vesk.state()));

    // An alert answered with Return (Cancel): closing the pane while the recorder runs asks first.
    probe.vesk.activate("win.close-pane");
    state = probe.vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the close alert");
    probe.vesk.answerAlert(state.alerts()[0]["message"], false);
    probe.vesk.expect([](const State& s) { return s.alerts().empty() && keyboardBackInPane(s); },
                      "the alert closed and the pane has the keyboard");
    EXPECT_EQ(probe.typed("jkl"), "jkl") << "after an alert";

    // The About dialog, closed with Escape.
    probe.vesk.activate("app.about");
    std::string dialog;
    probe.vesk.expect(
        [&](const State&) {
            dialog = run("xdotool search --name '^About Vesk$' 2>/dev/null");
            return !dialog.empty();
        },
        "the About dialog");
    execute({"xdotool", "windowfocus", "--sync", std::to_string(std::strtoul(dialog.c_str(), nullptr, 10))});
    probe.vesk.key("Escape");
    probe.vesk.expect(keyboardBackInPane, "the dialog closed and the pane has the keyboard");
    EXPECT_EQ(probe.typed("mno"), "mno") << "after the About dialog";
}

} // namespace
} // namespace veskgui
