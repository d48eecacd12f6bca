// The terminal's callbacks as the view answers them: colours (OSC 4, 10, 11, 12, 104, 112),
// titles, directories, window reports, synchronized output, the clipboard, the bell and the
// progress report.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/Apple/ColorBridge.h"

#include <chrono>
#include <thread>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;
using testing::ViewFixture;

/// Feeds on a thread of its own, as the parse thread does.
void feedFromParseThread(ViewFixture& f, std::string_view text)
{
    std::thread([&] { f.view->feed(text); }).join();
}

TEST(TerminalViewCallbackTests, DefaultColourChangesReachTheMainThreadAndQueriesAnswerWhatIsPainted)
{
    ViewFixture f;
    // Set-up leaves the view painting the terminal's default colours, and queries report them.
    EXPECT_EQ(getTerminalColor(f.view->nativeBackgroundColor()), Color(0, 0, 0));
    f.feed("\x1b]11;?\x1b\\");
    EXPECT_EQ(f.delegate->sentText(), "\x1b]11;rgb:0000/0000/0000\x1b\\");

    // A program's OSC 10 arrives on the parse thread; the view changes on the main thread.
    f.tickUntilPaused();
    f.timers->advance(20ms);
    const int frames = f.view->frameDriver()->counters().frames;
    feedFromParseThread(f, "\x1b]10;rgb:ff/00/00\x1b\\");
    EXPECT_EQ(getTerminalColor(f.view->nativeForegroundColor()), Color(0x8A3D, 0x8A3D, 0x8A3D));
    f.settle();
    EXPECT_EQ(getTerminalColor(f.view->nativeForegroundColor()), Color(0xFFFF, 0, 0));
    EXPECT_GT(f.view->frameDriver()->counters().frames, frames) << "the change is redrawn";
    f.delegate->clearSent();
    f.feed("\x1b]10;?\x1b\\");
    EXPECT_EQ(f.delegate->sentText(), "\x1b]10;rgb:ffff/0000/0000\x1b\\");

    // A host that goes back to its theme's colours answers those.
    f.view->configureNativeColors();
    f.settle();
    f.delegate->clearSent();
    f.feed("\x1b]11;?\x1b\\");
    EXPECT_EQ(f.delegate->sentText(),
              "\x1b]11;" + getTerminalColor(f.host->appearance().textBackgroundColor).formatAsXcolor() +
                  "\x1b\\");
}

TEST(TerminalViewCallbackTests, CursorColourFromTheParseThreadSetsTheCaretAndResetsIt)
{
    ViewFixture f;
    const platform::NativeColor defaultCaret = f.view->caretView()->defaultCaretColor();
    f.tickUntilPaused();
    feedFromParseThread(f, "\x1b]12;#00ff00\x07");
    EXPECT_TRUE(f.view->cursorColorIsDefault());
    f.settle();
    EXPECT_FALSE(f.view->cursorColorIsDefault());
    EXPECT_EQ(getTerminalColor(f.view->caretColor()), Color(0, 0xFFFF, 0));
    EXPECT_EQ(f.view->effectiveCaretColor(), f.view->caretColor());
    EXPECT_TRUE(f.link().isRunning()) << "the caret change asked for a frame";

    feedFromParseThread(f, "\x1b]112\x07");
    f.settle();
    EXPECT_TRUE(f.view->cursorColorIsDefault());
    EXPECT_EQ(f.view->caretColor(), defaultCaret);
    // The terminal forgot the colour too: a query reports the default (the foreground).
    f.delegate->clearSent();
    f.feed("\x1b]12;?\x07");
    EXPECT_EQ(f.delegate->sentText(), "\x1b]12;rgb:8a3d/8a3d/8a3d\x1b\\");
}

TEST(TerminalViewCallbackTests, PaletteChangesDropOnlyTheirCacheEntries)
{
    ViewFixture f;
    const auto map = [&](uint8_t index) {
        return f.locked([&](Terminal&) {
            return f.view->mapColor(Attribute::Color::ansi256(index), true, false, false);
        });
    };
    const auto cached = [&](uint8_t index) { return f.view->colorMapper().hasCachedPaletteColor(index); };
    for (uint8_t index : {1, 2, 3})
        map(index);
    f.feed("\x1b]4;2;rgb:12/34/56\x07");
    EXPECT_TRUE(cached(1));
    EXPECT_FALSE(cached(2));
    EXPECT_EQ(getTerminalColor(map(2)), Color(0x1212, 0x3434, 0x5656));
    f.feed("\x1b]104\x07");
    EXPECT_FALSE(cached(1));
    EXPECT_FALSE(cached(3));

    // Only 16 colours replace the installed ones; any count drops the cache and redraws.
    map(1);
    const std::vector<Color> installed = f.locked([](Terminal& t) { return t.palette().installedColors(); });
    f.view->installColors(std::vector<Color>(15, Color(1, 2, 3)));
    EXPECT_EQ(f.locked([](Terminal& t) { return t.palette().installedColors(); }), installed);
    EXPECT_FALSE(cached(1));
    EXPECT_EQ(f.locked([](Terminal& t) { return t.getUpdateRange(); }),
              (std::pair<int, int>{0, f.terminal().rows()}));
    f.view->installColors(std::vector<Color>(16, Color(1, 2, 3)));
    EXPECT_EQ(f.locked([](Terminal& t) { return t.palette().installedColors()[5]; }), Color(1, 2, 3));

    // Reverse video paints the layer with the foreground.
    f.feed("\x1b[?5h");
    EXPECT_TRUE(f.view->crossThreadState().reverseColorsActive);
    EXPECT_EQ(f.view->backingLayerColor(), f.view->nativeForegroundColor());
}

TEST(TerminalViewCallbackTests, TitlesDirectoriesAndClipboardReachTheHostOnTheMainThread)
{
    ViewFixture f;
    f.delegate->events.clear();
    feedFromParseThread(f, "\x1b]2;build\x07\x1b]7;file://host/tmp\x07\x1b]52;c;aGk=\x07");
    EXPECT_TRUE(f.delegate->events.empty()) << "nothing reaches the host before the main thread runs";
    f.settle();
    EXPECT_EQ(f.delegate->events,
              (std::vector<std::string>{"title build", "directory file://host/tmp", "copy hi"}));
    EXPECT_EQ(f.delegate->onMainThread, std::vector<bool>{true});

    // An OSC 52 read while parsing is answered later, once, on the clipboard "c".
    f.delegate->clipboard = std::vector<uint8_t>{'o', 'k'};
    f.delegate->clearSent();
    feedFromParseThread(f, "\x1b]52;p;?\x07");
    f.settle();
    EXPECT_EQ(f.delegate->sentText(), "\x1b]52;c;b2s=\x1b\\");
    f.delegate->clipboard.reset();
    f.delegate->clearSent();
    feedFromParseThread(f, "\x1b]52;c;?\x07");
    f.settle();
    EXPECT_EQ(f.delegate->sentText(), "");
}

TEST(TerminalViewCallbackTests, SynchronizedOutputEndReportsTheScrollPosition)
{
    ViewFixture f;
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += "x\r\n";
    f.feed(lines);
    f.delegate->events.clear();
    f.feed("\x1b[?2026h\x1b[?2026l");
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"scrolled 1.000000"}) << "at the bottom";
    f.feed("\x1b[?1049h");
    f.delegate->events.clear();
    f.feed("\x1b[?2026h\x1b[?2026l");
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"scrolled 0.000000"}) << "the alternate screen";
    EXPECT_TRUE(f.view->pendingFrameRequests().updateScroller);
}

TEST(TerminalViewCallbackTests, BellsAreDeliveredByStyleAtMostOncePer100Milliseconds)
{
    ViewFixture f;
    const auto ring = [&] {
        f.feed("\x07");
        return std::make_pair(f.delegate->bells, f.view->visualBellFlashes());
    };
    EXPECT_EQ(ring(), std::make_pair(1, uint64_t(0))) << "sound by default; the first bell passes";
    f.timers->advance(60ms);
    EXPECT_EQ(ring(), std::make_pair(1, uint64_t(0))) << "60 ms later: suppressed";
    f.timers->advance(60ms);
    EXPECT_EQ(ring(), std::make_pair(2, uint64_t(0))) << "120 ms after the last delivered one";
    f.view->setBellStyle(BellStyle::visual);
    EXPECT_EQ(ring(), std::make_pair(2, uint64_t(1))) << "a new style lets the next bell through at once";
    f.view->setBellStyle(BellStyle::soundAndVisual);
    EXPECT_EQ(ring(), std::make_pair(3, uint64_t(2)));
    f.view->setBellStyle(BellStyle::none);
    f.timers->advance(1s);
    EXPECT_EQ(ring(), std::make_pair(3, uint64_t(2)));
    EXPECT_EQ(f.view->bellPolicy().state().suppressedCount, 2);

    // A burst in one feed merges into one event.
    f.view->setBellStyle(BellStyle::sound);
    f.feed("\x07\x07\x07\x07");
    EXPECT_EQ(f.delegate->bells, 4);
    EXPECT_EQ(f.view->bellPolicy().state().suppressedCount, 2);

    // Without a delegate of its own, a host's bell is its alert sound.
    TerminalViewDelegate* plain = f.delegate.get();
    plain->TerminalViewDelegate::bell(*f.view);
    EXPECT_EQ(f.host->beeps, 1);
}

TEST(TerminalViewCallbackTests, ProgressReportsShowTheBarUntilRemovedOrTimedOut)
{
    ViewFixture f;
    TerminalProgressBarView& bar = f.view->progressBar();
    EXPECT_TRUE(bar.isHidden());
    f.feed("\x1b]9;4;1;40\x07");
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.progress(), 40);
    EXPECT_DOUBLE_EQ(bar.presentation(f.view->nowSeconds() + 1).barFrame.width, 640 * 0.4);
    f.timers->advance(14s);
    f.feed("\x1b]9;4;2;60\x07");
    EXPECT_EQ(bar.barColor(), TerminalProgressBarView::systemRed);
    f.timers->advance(14s);
    EXPECT_FALSE(bar.isHidden()) << "each report restarts the time-out";
    f.timers->advance(1s + 1ms);
    EXPECT_TRUE(bar.isHidden()) << "15 s after the last report";
    EXPECT_FALSE(f.view->progressReportTimerRunning());

    f.view->setProgressReportTimeout(std::nullopt);
    f.feed("\x1b]9;4;4\x07");
    EXPECT_EQ(bar.barColor(), TerminalProgressBarView::systemOrange);
    EXPECT_DOUBLE_EQ(bar.presentation(f.view->nowSeconds() + 1).barFrame.width, 640) << "paused: full width";
    f.timers->advance(100s);
    EXPECT_FALSE(bar.isHidden()) << "no time-out";
    f.feed("\x1b]9;4;0\x07");
    EXPECT_TRUE(bar.isHidden());
    f.view->setProgressReportTimeout(5.0);
    EXPECT_FALSE(f.view->progressReportTimerRunning()) << "no bar, no timer";
}

TEST(TerminalViewCallbackTests, CursorStyleAndWindowReports)
{
    ViewFixture f;
    f.feed("\x1b[6 q");
    EXPECT_EQ(f.view->caretView()->style(), CursorStyle::steadyBar);
    EXPECT_EQ(f.view->caretFrame().width, f.view->cellDimension()->width);

    const std::pair<int, int> cell = *f.view->crossThreadState().cachedCellPixelSize;
    f.delegate->clearSent();
    f.feed("\x1b[14t");
    EXPECT_EQ(f.delegate->sentText(), "\x1b[4;" + std::to_string(cell.second * f.terminal().rows()) + ";" +
                                          std::to_string(cell.first * f.terminal().cols()) + "t");
    EXPECT_EQ(f.view->windowCommand(f.terminal(), WindowManipulationCommand::resizeWindowTo(800, 600)),
              std::nullopt);
}

/// A view whose system clipboard is a list of formats in memory.
class ClipboardView final : public TerminalView
{
public:
    ClipboardView(Passkey key, platform::Size size, Configuration configuration)
        : TerminalView(key, size, std::move(configuration))
    {}

    std::optional<std::vector<std::string>> kittyPlatformTypeIdentifiers(KittyClipboardLocation) override
    {
        if (formats.empty())
            return std::nullopt;
        std::vector<std::string> names;
        for (const auto& [name, data] : formats)
            names.push_back(name);
        return names;
    }
    void kittyPlatformData(KittyClipboardLocation, const std::string& identifier,
                           std::function<void(std::optional<std::vector<uint8_t>>)> completion) override
    {
        for (const auto& [name, data] : formats) {
            if (name == identifier)
                return completion(data);
        }
        completion(std::nullopt);
    }
    KittyClipboardWriteResult
    kittyPlatformPublish(KittyClipboardLocation,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items) override
    {
        formats = items;
        return KittyClipboardWriteResult::success;
    }

    std::vector<std::pair<std::string, std::vector<uint8_t>>> formats;
};

TEST(TerminalViewCallbackTests, KittyClipboardRequestsGoToTheHostThenToTheSystemClipboard)
{
    ViewFixture f(TerminalOptions::defaults(), {640, 480},
                  [](platform::Size size, TerminalView::Configuration c) {
                      return TerminalView::create<ClipboardView>(size, std::move(c));
                  });
    auto& view = static_cast<ClipboardView&>(*f.view);
    const std::vector<uint8_t> hello{'h', 'e', 'l', 'l', 'o'};
    view.formats = {
        {"text/plain;charset=utf-8", hello}, {"UTF8_STRING", hello}, {"TEXT/PLAIN", {}}, {"image/png", {1}}};

    std::optional<std::optional<std::vector<std::string>>> types;
    std::optional<KittyClipboardReadResult> read;
    std::optional<KittyClipboardWriteResult> written;
    std::optional<KittyClipboardPermissionResult> permission;
    const auto ask = [&] {
        types.reset();
        read.reset();
        written.reset();
        permission.reset();
        const bool a = view.kittyClipboardAvailableMimeTypes(f.terminal(), KittyClipboardLocation::primary,
                                                             [&](auto answer) { types = answer; });
        const bool b = view.kittyClipboardRead(f.terminal(), KittyClipboardLocation::standard, "Text/Plain",
                                               [&](auto answer) { read = answer; });
        KittyClipboardWriteContent content;
        content.representations = {{"Text/HTML", {'<', 'b', '>'}}};
        const bool c = view.kittyClipboardWrite(f.terminal(), KittyClipboardLocation::standard, content,
                                                [&](auto answer) { written = answer; });
        KittyClipboardPermissionRequest request;
        request.direction = KittyClipboardPermissionDirection::write;
        const bool d = view.kittyClipboardRequestPermission(f.terminal(), request,
                                                            [&](auto answer) { permission = answer; });
        f.settle();
        return std::vector<bool>{a, b, c, d};
    };

    // Nothing granted: every request is refused at once and nothing is asked.
    EXPECT_EQ(ask(), std::vector<bool>(4, false));
    EXPECT_FALSE(types || read || written || permission);

    f.delegate->capabilities = KittyClipboardCapabilities::all;
    f.view->refreshKittyClipboardCapabilities();
    EXPECT_EQ(ask(), std::vector<bool>(4, true));
    EXPECT_EQ(*types, (std::vector<std::string>{"text/plain", "image/png"}))
        << "one name per type, no X11 targets";
    EXPECT_EQ(*read, KittyClipboardReadResult::data(hello)) << "the format the type came from";
    EXPECT_EQ(*written, KittyClipboardWriteResult::success) << "the host left it to the system clipboard";
    EXPECT_EQ(view.formats,
              (std::vector<std::pair<std::string, std::vector<uint8_t>>>{{"text/html", {'<', 'b', '>'}}}));
    EXPECT_EQ(*permission, KittyClipboardPermissionResult::deny());

    f.delegate->permission = KittyClipboardPermissionResult::allow(true);
    view.formats.clear();
    ask();
    EXPECT_EQ(*types, std::nullopt) << "an empty clipboard offers nothing";
    EXPECT_EQ(*read, KittyClipboardReadResult::unavailable());
    EXPECT_EQ(*permission, KittyClipboardPermissionResult::allow(true));
    KittyClipboardWriteContent invalid;
    invalid.representations = {{"not a type", {1}}};
    EXPECT_EQ(view.kittyPlatformWrite(KittyClipboardLocation::standard, invalid),
              KittyClipboardWriteResult::invalidData);
}

} // namespace
} // namespace kestrovan
