// The local-process view with real children: a child that records the bytes it receives gets
// exactly the legacy bytes of the chord table and the kitty reports; the pseudo-terminal's size
// follows the grid; a program that cannot be launched shows the failure in the view.

#include "Kestrovan/Apple/View/TerminalViewTestSupport.h"
#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Kestrovan/Mac/MacKeyTestSupport.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace kestrovan::testing {
namespace {

using namespace std::chrono_literals;

class RecordingProcessDelegate final : public LocalProcessTerminalViewDelegate
{
public:
    void sizeChanged(LocalProcessTerminalView&, int cols, int rows) override
    {
        sizes.emplace_back(cols, rows);
    }
    void setTerminalTitle(LocalProcessTerminalView&, const std::string&) override {}
    void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(TerminalView&, std::optional<int32_t> code) override { exitCodes.push_back(code); }
    void processFailedToStart(TerminalView&, const LocalProcessError&) override { ++failures; }

    std::vector<std::pair<int, int>> sizes;
    std::vector<std::optional<int32_t>> exitCodes;
    int failures = 0;
};

struct ProcessFixture : ViewFixture
{
    ProcessFixture()
        : ViewFixture(TerminalOptions::defaults(), {640, 480},
                      [](platform::Size size, TerminalView::Configuration configuration) {
                          return LocalProcessTerminalView::create(size, std::move(configuration));
                      })
    {
        // The view answers its own terminal; the application hears through the process delegate.
        view->setTerminalDelegate(std::dynamic_pointer_cast<TerminalViewDelegate>(view));
        process().setProcessDelegate(processDelegate);
        host->setFocus(true);
        settle();
    }
    ~ProcessFixture()
    {
        if (!recordPath.empty())
            std::remove(recordPath.c_str());
    }
    LocalProcessTerminalView& process() { return static_cast<LocalProcessTerminalView&>(*view); }

    /// Runs the main loop until `done` or five seconds pass.
    bool waitFor(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            settle();
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    bool screenContains(const std::string& text)
    {
        for (const std::string& row : view->visibleRowsText(0, terminal().rows()))
            if (row.find(text) != std::string::npos)
                return true;
        return false;
    }
    /// Starts a child that prints "ready" and then records, unchanged, every byte it receives.
    void startRecorder()
    {
        char path[] = "/tmp/vesk-keys-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        recordPath = path;
        process().startProcess("/bin/sh", {"-c", "stty raw -echo; echo ready; exec cat > " + recordPath},
                               std::nullopt, std::nullopt, std::nullopt);
        ASSERT_TRUE(waitFor([this] { return screenContains("ready"); }));
    }
    std::string recorded()
    {
        std::ifstream file(recordPath, std::ios::binary);
        std::stringstream contents;
        contents << file.rdbuf();
        return contents.str();
    }
    void chord(const UsKey& key, uint32_t state = 0)
    {
        host->deliverKey(translator.press(toolkitKey(key, state)));
        host->deliverKey(translator.release(toolkitKey(key, state)));
        settle();
    }

    std::shared_ptr<RecordingProcessDelegate> processDelegate = std::make_shared<RecordingProcessDelegate>();
    platform::KeyboardTranslator translator;
    std::string recordPath;
};

TEST(MacLocalProcessTests, AByteRecordingChildReceivesTheLegacyBytesOfEveryChord)
{
    ProcessFixture f;
    f.startRecorder();
    std::string expected;
    const std::vector<Chord> chords = legacyChordTable();
    ASSERT_GE(chords.size(), 40u);
    for (const Chord& chord : chords) {
        f.chord(chord.key, chord.state);
        expected += chord.bytes;
    }
    // Page Down on the alternate screen, and the keypad in application mode.
    f.view->feed(std::string_view("\x1b[?1049h\x1b="));
    f.chord(keyPageDown);
    expected += "\x1b[6~";
    f.host->deliverKey(f.translator.press(toolkitKey(keyKp1, 0, true)));
    f.host->deliverKey(f.translator.release(toolkitKey(keyKp1, 0, true)));
    expected += "\x1bOq";
    EXPECT_TRUE(f.waitFor([&] { return f.recorded().size() >= expected.size(); }));
    EXPECT_EQ(f.recorded(), expected);
}

TEST(MacLocalProcessTests, AByteRecordingChildReceivesKittyPressRepeatAndReleaseEvents)
{
    ProcessFixture f;
    f.startRecorder();
    f.view->feed(std::string_view("\x1b[>31u"));
    const platform::ToolkitKey a = toolkitKey(keyA, 0);
    f.host->deliverKey(f.translator.press(a));
    f.host->deliverKey(f.translator.press(a));
    f.host->deliverKey(f.translator.release(a));
    f.chord(keyA, shiftMask);
    f.chord(UsKey{GDK_KEY_Cyrillic_es, GDK_KEY_Cyrillic_ES, 46}, controlMask);
    const std::string expected = "\x1b[97;;97u\x1b[97;1:2;97u\x1b[97;1:3u"
                                 "\x1b[97:65;2;65u\x1b[97:65;2:3u"
                                 "\x1b[1089::99;5u\x1b[1089::99;5:3u";
    EXPECT_TRUE(f.waitFor([&] { return f.recorded().size() >= expected.size(); }));
    EXPECT_EQ(f.recorded(), expected);
}

TEST(MacLocalProcessTests, WindowSizeFollowsTheGridAndTheEndIsReported)
{
    ProcessFixture f;
    f.process().startProcess("/bin/sh", {"-c", "stty size; read line; stty size; exit 3"}, std::nullopt,
                             std::nullopt, std::nullopt);
    const TerminalDimensions grid = f.view->terminalDimensions();
    ASSERT_TRUE(f.waitFor(
        [&] { return f.screenContains(std::to_string(grid.rows) + " " + std::to_string(grid.cols)); }));
    const winsize before = f.process().storedWindowSize();
    EXPECT_EQ(before.ws_col, grid.cols);
    EXPECT_EQ(before.ws_xpixel, int(std::round(f.view->cellDimension()->width)) * grid.cols);

    const platform::Size cell = *f.view->cellDimension();
    f.host->resize(platform::Size{cell.width * 50 + 1, cell.height * 10 + 1});
    f.settle();
    f.tickUntilPaused();
    EXPECT_EQ(f.processDelegate->sizes, (std::vector<std::pair<int, int>>{{50, 10}})) << "one size change";
    f.view->send(std::string_view("\r"));
    EXPECT_TRUE(f.waitFor([&] { return f.screenContains("10 50"); }));
    EXPECT_TRUE(f.waitFor([&] { return !f.processDelegate->exitCodes.empty(); }));
    EXPECT_EQ(f.processDelegate->exitCodes, (std::vector<std::optional<int32_t>>{3}));
}

TEST(MacLocalProcessTests, AnUnlaunchableProgramShowsTheFailure)
{
    ProcessFixture f;
    f.process().startProcess("/nonexistent/vesk-shell", {}, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_TRUE(f.waitFor([&] { return f.screenContains("Process launch failed: "); }));
    EXPECT_TRUE(
        f.waitFor([&] { return f.processDelegate->failures == 1 || !f.processDelegate->exitCodes.empty(); }));
}

} // namespace
} // namespace kestrovan::testing
