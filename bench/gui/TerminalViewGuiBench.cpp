// The GTK terminal view against the clock, in a real window (run it under tools/gui/with-xvfb; GTK's
// renderer is chosen as the demo chooses it, GSK_RENDERER overrides). It is a program of its own rather than
// a Google Benchmark: everything it measures happens on the GTK main loop, which the benchmark's loop cannot
// drive.
//
// Three views share one window: two on the top row, one below.
// - The typing view runs `cat` on a raw, non-echoing line discipline, so each typed byte comes
//   back from `cat`. Keystroke to screen is the time from the view's stamp of a key press reaching
//   it to the view's stamp of the first drawn frame whose snapshot shows the echo (the cursor
//   moved). 200 keys, each sent after the previous echo was shown, from a timer, so presses fall
//   at every phase of the frame clock: 20-40 ms after it (idle) and 2-10 ms after it (typing
//   fast). Measured alone, then while the busy view draws `cat` of the large file in a loop. The
//   way is split at the view's stamps: the echo parsed (written, echoed, read and parsed), the
//   frame prepared, drawn, and shown (the window's frame clock finished painting it). The frame
//   clock's own timings show the clock's part: it starts a frame no sooner than its refresh
//   interval after the previous one, so an echo parsed within that interval would wait for it;
//   the view has the clock run that frame at once (a negative "from there" is the time it saved).
//   A bare GTK drawing area asked to redraw at the same moments shows the wait the clock itself
//   imposes, in the same window.
// - While the busy view draws `cat`, its frames are counted against the window's frames and the
//   clock's refresh interval: a stream of output draws at most one frame per interval.
// - The throughput view runs `cat` of a 64 MiB text file, visible, from `startProcess` to the
//   view's end report, five times with a fresh view each time; the headless terminal of the same
//   size reads the same file in between, in the same run.
// - The busy view is the drawing neighbour.
// The views pace their frames by the window's frame clock, as in any window; `--timer-link` gives
// them the 60 Hz timer link that views without a window use instead.
// Results are printed as text; the program exits 0 when every measurement completed.
#include "../BenchInputs.h"
#include "GuiBenchLoop.h"

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalOptions.h"
#include "Kestrovan/TerminalProfiling.h"
#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/GPU/ToolkitRenderer.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/KeyTranslation.h"
#include "Platform/UI/KeyboardTranslator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bench::runUntil;
using namespace kestrovan;
using Clock = std::chrono::steady_clock;

constexpr size_t fileSize = 64u << 20;
constexpr int keysPerRun = 200;
constexpr int viewWidth = 640;
constexpr int viewHeight = 360;

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

/// Calls `done` on the main loop when the view's process ends.
class EndDelegate final : public LocalProcessTerminalViewDelegate
{
public:
    std::function<void()> done;
    void sizeChanged(LocalProcessTerminalView&, int, int) override {}
    void setTerminalTitle(LocalProcessTerminalView&, const std::string&) override {}
    void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(TerminalView&, std::optional<int32_t>) override
    {
        if (done)
            done();
    }
};

struct BenchView
{
    std::shared_ptr<LocalProcessTerminalView> view;
    std::shared_ptr<EndDelegate> delegate = std::make_shared<EndDelegate>();
    GtkWidget* widget = nullptr;

    /// With `timerLink`, the view's frames are paced by a 60 Hz timer link of its own instead of
    /// the window's frame clock.
    explicit BenchView(bool timerLink)
    {
        TerminalView::Configuration configuration;
        if (timerLink)
            configuration.makeDisplayLink = [] {
                return std::make_shared<platform::TimerDisplayLink>(60.0, "bench-frames");
            };
        view = LocalProcessTerminalView::create(platform::Size{double(viewWidth), double(viewHeight)},
                                                std::move(configuration));
        view->setProcessDelegate(delegate);
        widget = platform::gtk::CoreViewWidget::create(view);
        gtk_widget_set_size_request(widget, viewWidth, viewHeight);
    }

    void start(const std::string& script)
    {
        view->startProcess("/bin/sh", {"-c", script}, std::nullopt, std::nullopt, std::nullopt);
    }

    std::pair<int, int> size()
    {
        return view->withTerminal(
            [](Terminal& terminal) {
                return std::pair{terminal.cols(), terminal.rows()};
            },
            "bench");
    }
};

/// Runs the main loop for a pause drawn from [`minimumMs`, `maximumMs`]. It is a timer of its own:
/// a press sent when the loop happens to wake would fall just after a frame tick.
void pauseFor(int minimumMs, int maximumMs, std::mt19937& random)
{
    bool paused = true;
    g_timeout_add_once(
        minimumMs + random() % (maximumMs - minimumMs + 1),
        [](gpointer flag) { *static_cast<bool*>(flag) = false; }, &paused);
    runUntil([&] { return !paused; }, 1);
}

/// A press of `a` as the widget makes it on a US layout.
platform::KeyEvent keyPress(platform::KeyboardTranslator& translator)
{
    platform::ToolkitKey key;
    key.keyval = GDK_KEY_a;
    key.keyvalIgnoringModifiers = key.keyval;
    key.keyvalWithoutModifiers = key.keyval;
    key.keyvalWithShift = GDK_KEY_A;
    key.keyvalInBaseLayout = key.keyval;
    key.hardwareKeycode = 30 + 8;
    platform::KeyEvent press = translator.press(key);
    translator.release(key);
    return press;
}

struct LatencyResult
{
    double median = 0;
    double p99 = 0;
    double max = 0;
    /// Median and 99th percentile of the legs: key to the echo parsed, parsed to the frame
    /// prepared, prepared to drawn, drawn to shown; and of the whole way to the frame shown.
    struct Leg
    {
        double median = 0;
        double p99 = 0;
    };
    Leg toParsed, parsedToPrepared, preparedToDrawn, drawnToShown, toShown;
    /// The window's frames meanwhile: median and longest interval between paints, and the median
    /// time the neighbour's draw took (0 without one drawing).
    double medianFrameInterval = 0;
    double maxFrameInterval = 0;
    double minFrameStartInterval = 0;
    double medianNeighbourDraw = 0;
    /// The frame clock's refresh interval, and per echo: the clock's wait (from the echo parsed to
    /// the soonest frame start the clock allows, one refresh interval after the previous start)
    /// and the rest (from that soonest start to the start of the frame that showed the echo).
    double refreshIntervalMs = 0;
    Leg clockWait, beyondClock;
    /// The neighbour's frames and the window's frames meanwhile, over `elapsedMs`.
    int neighbourFrames = 0;
    int windowFrames = 0;
    double elapsedMs = 0;
    bool complete = false;
};

/// The median and 99th percentile of `values` (sorted in place).
LatencyResult::Leg summarize(std::vector<double>& values)
{
    LatencyResult::Leg summary;
    if (values.empty())
        return summary;
    std::sort(values.begin(), values.end());
    summary.median = values[values.size() / 2];
    summary.p99 = values[std::min(values.size() - 1, (values.size() * 99 + 99) / 100 - 1)];
    return summary;
}

/// Types `keysPerRun` keys into `target`, each `minimumPauseMs`-`maximumPauseMs` after the previous
/// echo was shown, and measures each to its echo's frame.
LatencyResult measureLatency(BenchView& target, BenchView& neighbour, GtkWidget* window, int minimumPauseMs,
                             int maximumPauseMs)
{
    platform::KeyboardTranslator translator;
    std::mt19937 random(7);
    std::vector<double> samples, toParsed, parsedToPrepared, preparedToDrawn, drawnToShown, toShown;
    std::vector<double> clockWait, beyondClock, frameStarts;
    const int neighbourFramesBefore = neighbour.view->frameDriver()->counters().frames;
    const Clock::time_point runStart = Clock::now();
    const std::shared_ptr<LocalProcessTerminalView> view = target.view;
    // The parse thread stamps each parsed batch, to split the latency into its two legs.
    std::atomic<int64_t> lastParsed{0};
    view->setProcessOutputHandler([&lastParsed] { lastParsed = Clock::now().time_since_epoch().count(); });
    std::optional<std::pair<int, int>> before;
    std::vector<double> paints, neighbourDraws;
    Clock::time_point neighbourSeen = neighbour.view->lastFrameDrawnTime();
    Clock::time_point pressed;
    bool waiting = false;
    // Set when the echo's frame was drawn: the sample completes when the window shows it.
    bool drawnAwaitingPaint = false;
    struct Paints
    {
        std::vector<double>* times;
        std::vector<double>* starts;
        std::function<void()> painted;
    } paintHook{&paints, &frameStarts, [&] {
                    if (!drawnAwaitingPaint)
                        return;
                    const Clock::time_point drawn = view->lastFrameDrawnTime();
                    drawnToShown.push_back(milliseconds(Clock::now() - drawn));
                    toShown.push_back(milliseconds(Clock::now() - pressed));
                    drawnAwaitingPaint = false;
                    waiting = false;
                }};
    GdkFrameClock* frameClock = gtk_widget_get_frame_clock(window);
    const gulong paintHandler =
        g_signal_connect_swapped(frameClock, "after-paint", G_CALLBACK(+[](Paints* hook) {
                                     hook->times->push_back(milliseconds(Clock::now().time_since_epoch()));
                                     hook->painted();
                                 }),
                                 &paintHook);
    // A frame starts with the clock's first phase; the view's tick runs in the update phase after.
    const gulong startHandler =
        g_signal_connect_swapped(frameClock, "before-paint", G_CALLBACK(+[](Paints* hook) {
                                     hook->starts->push_back(milliseconds(Clock::now().time_since_epoch()));
                                 }),
                                 &paintHook);
    gint64 refreshInterval = 0, presentationTime = 0;

    auto cursorShown = [&view]() -> std::optional<std::pair<int, int>> {
        const std::shared_ptr<TerminalSnapshot> snapshot = view->renderOwner().snapshot();
        if (!snapshot)
            return std::nullopt;
        return std::pair{snapshot->x, snapshot->y};
    };
    // Every drawn frame of any view passes here, on the main thread, after the view stamped it.
    terminalFramePresentedHandler().replace([&] {
        if (neighbour.view->lastFrameDrawnTime() != neighbourSeen) {
            neighbourSeen = neighbour.view->lastFrameDrawnTime();
            neighbourDraws.push_back(milliseconds(Clock::now() - neighbourSeen));
        }
        if (!waiting || drawnAwaitingPaint || view->lastFrameDrawnTime() <= pressed)
            return;
        if (cursorShown() == before)
            return;
        samples.push_back(milliseconds(view->lastFrameDrawnTime() - pressed));
        const Clock::time_point parsed{Clock::duration(lastParsed.load())};
        const Clock::time_point prepared = view->lastFramePreparedTime();
        // The frame showing the echo started last; the clock allowed it no sooner than one
        // refresh interval after the one before.
        gdk_frame_clock_get_refresh_info(frameClock, gdk_frame_clock_get_frame_time(frameClock),
                                         &refreshInterval, &presentationTime);
        if (frameStarts.size() >= 2) {
            const double parsedMs = milliseconds(parsed.time_since_epoch());
            const double soonest =
                std::max(parsedMs, frameStarts[frameStarts.size() - 2] + double(refreshInterval) / 1000);
            clockWait.push_back(soonest - parsedMs);
            beyondClock.push_back(frameStarts.back() - soonest);
        }
        toParsed.push_back(milliseconds(parsed - pressed));
        parsedToPrepared.push_back(milliseconds(prepared - parsed));
        preparedToDrawn.push_back(milliseconds(view->lastFrameDrawnTime() - prepared));
        drawnAwaitingPaint = true;
    });

    for (int index = 0; index < keysPerRun; ++index) {
        // The pause spreads the presses over the frame interval.
        pauseFor(minimumPauseMs, maximumPauseMs, random);
        if (index % 30 == 29) {
            // Back to the first column (not measured), drawn before the next key.
            const std::optional<std::pair<int, int>> start = cursorShown();
            const uint8_t carriageReturn = '\r';
            view->dataReceived(std::span(&carriageReturn, 1));
            runUntil([&] { return cursorShown() != start; }, 5);
        }
        before = cursorShown();
        waiting = true;
        view->keyDown(keyPress(translator));
        pressed = view->lastKeyDownTime();
        if (!runUntil([&] { return !waiting; }, 5)) {
            std::fprintf(stderr, "no echo drawn for key %d\n", index);
            break;
        }
    }
    terminalFramePresentedHandler().replace(nullptr);
    view->setProcessOutputHandler(nullptr);
    g_signal_handler_disconnect(frameClock, paintHandler);
    g_signal_handler_disconnect(frameClock, startHandler);

    LatencyResult result;
    result.complete = samples.size() == size_t(keysPerRun);
    result.neighbourFrames = neighbour.view->frameDriver()->counters().frames - neighbourFramesBefore;
    result.windowFrames = int(paints.size());
    result.elapsedMs = milliseconds(Clock::now() - runStart);
    result.refreshIntervalMs = double(refreshInterval) / 1000;
    if (samples.empty())
        return result;
    std::sort(samples.begin(), samples.end());
    result.median = samples[samples.size() / 2];
    result.p99 = samples[std::min(samples.size() - 1, (samples.size() * 99 + 99) / 100 - 1)];
    result.max = samples.back();
    auto leg = summarize;
    result.toParsed = leg(toParsed);
    result.parsedToPrepared = leg(parsedToPrepared);
    result.preparedToDrawn = leg(preparedToDrawn);
    result.drawnToShown = leg(drawnToShown);
    result.toShown = leg(toShown);
    result.clockWait = leg(clockWait);
    result.beyondClock = leg(beyondClock);
    std::vector<double> startIntervals;
    for (size_t index = 1; index < frameStarts.size(); ++index)
        startIntervals.push_back(frameStarts[index] - frameStarts[index - 1]);
    if (!startIntervals.empty())
        result.minFrameStartInterval = *std::min_element(startIntervals.begin(), startIntervals.end());
    std::vector<double> intervals;
    for (size_t index = 1; index < paints.size(); ++index)
        intervals.push_back(paints[index] - paints[index - 1]);
    std::sort(intervals.begin(), intervals.end());
    if (!intervals.empty()) {
        result.medianFrameInterval = intervals[intervals.size() / 2];
        result.maxFrameInterval = intervals.back();
    }
    std::sort(neighbourDraws.begin(), neighbourDraws.end());
    if (!neighbourDraws.empty())
        result.medianNeighbourDraw = neighbourDraws[neighbourDraws.size() / 2];
    return result;
}

/// Seconds for the headless terminal of `cols` x `rows` to take in `cat path`.
double headlessCat(const std::string& path, int cols, int rows)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = cols;
    options.rows = rows;
    std::mutex mutex;
    std::condition_variable condition;
    bool ended = false;
    auto headless = HeadlessTerminal::create(nullptr, options, true, nullptr, [&](std::optional<int32_t>) {
        std::lock_guard lock(mutex);
        ended = true;
        condition.notify_all();
    });
    const auto start = Clock::now();
    headless->process()->startProcess("/bin/cat", {path});
    std::unique_lock lock(mutex);
    condition.wait(lock, [&] { return ended; });
    return seconds(Clock::now() - start);
}

/// Seconds for a visible view to take in `cat path`, from `startProcess` to its end report.
double viewCat(BenchView& target, const std::string& path)
{
    bool ended = false;
    target.delegate->done = [&ended] { ended = true; };
    const auto start = Clock::now();
    target.view->startProcess("/bin/cat", {path}, std::nullopt, std::nullopt, std::nullopt);
    if (!runUntil([&] { return ended; }, 300))
        return -1;
    return seconds(Clock::now() - start);
}

void printLatency(const char* name, const LatencyResult& result)
{
    std::printf("keystroke to screen, %s: median %.2f ms, p99 %.2f ms, max %.2f ms (%d keys)%s\n", name,
                result.median, result.p99, result.max, keysPerRun, result.complete ? "" : " INCOMPLETE");
    std::printf("  to the frame shown: median %.2f ms, p99 %.2f ms\n", result.toShown.median,
                result.toShown.p99);
    std::printf(
        "  legs, median / p99: key to echo parsed %.2f / %.2f ms, parsed to frame prepared %.2f / %.2f "
        "ms,\n  prepared to drawn %.2f / %.2f ms, drawn to shown %.2f / %.2f ms\n",
        result.toParsed.median, result.toParsed.p99, result.parsedToPrepared.median,
        result.parsedToPrepared.p99, result.preparedToDrawn.median, result.preparedToDrawn.p99,
        result.drawnToShown.median, result.drawnToShown.p99);
    std::printf("  paints: median interval %.2f ms, longest %.2f ms; neighbour's draw median %.2f ms\n",
                result.medianFrameInterval, result.maxFrameInterval, result.medianNeighbourDraw);
    std::printf(
        "  frame clock: refresh interval %.2f ms, shortest time between two frame starts %.2f ms;\n"
        "  echo parsed to the soonest frame the clock allows %.2f / %.2f ms (median / p99), from there\n"
        "  to the start of the frame that showed it %.2f / %.2f ms\n",
        result.refreshIntervalMs, result.minFrameStartInterval, result.clockWait.median, result.clockWait.p99,
        result.beyondClock.median, result.beyondClock.p99);
    if (result.neighbourFrames > 0)
        std::printf(
            "  neighbour drawing cat: %d frames in %.0f ms (%d window frames, %.0f refresh intervals)\n",
            result.neighbourFrames, result.elapsedMs, result.windowFrames,
            result.elapsedMs / std::max(result.refreshIntervalMs, 1.0));
}

/// A bare GTK drawing area in `window`'s grid, asked to redraw `keysPerRun` times, each
/// `minimumPauseMs`-`maximumPauseMs` after its previous paint: the request to the end of the paint
/// that drew it, the floor the frame clock allows any widget.
LatencyResult::Leg bareRedraw(GtkWidget* area, GtkWidget* window, int minimumPauseMs, int maximumPauseMs)
{
    struct State
    {
        Clock::time_point requested{};
        bool waiting = false;
        std::vector<double> samples;
    } state;
    gtk_drawing_area_set_draw_func(
        GTK_DRAWING_AREA(area),
        [](GtkDrawingArea*, cairo_t* cairo, int, int, gpointer) {
            static int flip = 0;
            cairo_set_source_rgb(cairo, (flip++ & 1) ? 0.2 : 0.3, 0.2, 0.2);
            cairo_paint(cairo);
        },
        nullptr, nullptr);
    GdkFrameClock* frameClock = gtk_widget_get_frame_clock(window);
    const gulong handler =
        g_signal_connect_swapped(frameClock, "after-paint", G_CALLBACK(+[](State* state) {
                                     if (!state->waiting)
                                         return;
                                     state->samples.push_back(milliseconds(Clock::now() - state->requested));
                                     state->waiting = false;
                                 }),
                                 &state);
    std::mt19937 random(11);
    for (int index = 0; index < keysPerRun; ++index) {
        pauseFor(minimumPauseMs, maximumPauseMs, random);
        state.requested = Clock::now();
        state.waiting = true;
        gtk_widget_queue_draw(area);
        runUntil([&] { return !state.waiting; }, 5);
    }
    g_signal_handler_disconnect(frameClock, handler);
    return summarize(state.samples);
}

} // namespace

int main(int argc, char** argv)
{
    // --timer-link paces every view by a timer link of its own.
    const bool timerLink = argc > 1 && std::string(argv[1]) == "--timer-link";
    platform::gpu::chooseToolkitRenderer(false);
    gtk_init();
    platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());

    bench::ScratchTextFile file(fileSize, 20240611);
    if (file.path().empty())
        return 1;
    const std::string path = file.path();

    BenchView typing(timerLink), throughputFirst(timerLink), busy(timerLink);
    std::printf("frames paced by %s\n", timerLink ? "the views' timer link" : "the window's frame clock");
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_attach(GTK_GRID(grid), typing.widget, 0, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), throughputFirst.widget, 1, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), busy.widget, 0, 1, 2, 1);
    GtkWidget* bareArea = gtk_drawing_area_new();
    gtk_widget_set_size_request(bareArea, 64, 64);
    gtk_grid_attach(GTK_GRID(grid), bareArea, 0, 2, 1, 1);
    gtk_window_set_child(window, grid);
    gtk_window_present(window);
    gtk_widget_grab_focus(typing.widget);

    // `cat` echoes each byte as it comes: raw mode, and no echo from the line discipline itself.
    typing.start("stty raw -echo; printf ready; exec cat");
    int status = 0;
    if (!runUntil(
            [&] {
                return typing.view->withTerminal(
                    [](Terminal& terminal) { return terminal.buffer().x() >= 5; }, "bench");
            },
            10)) {
        std::fprintf(stderr, "the typing view never became ready\n");
        return 1;
    }
    const auto [cols, rows] = throughputFirst.size();
    std::printf("views %dx%d cells, frame interval %.1f ms at 60 Hz\n", cols, rows, 1000.0 / 60);

    // With KESTROVAN_PROFILE_STATS=1 the engine's own intervals (lock waits and holds by thread,
    // frame phases) are printed after each latency run.
    auto printProfile = [] {
        if (TerminalProfiling::isRecording())
            std::printf("%s\n", TerminalProfiling::report().c_str());
        TerminalProfiling::reset();
    };
    TerminalProfiling::reset();
    const LatencyResult idle = measureLatency(typing, busy, GTK_WIDGET(window), 20, 40);
    printLatency("idle (keys 20-40 ms after the echo)", idle);
    printProfile();
    const LatencyResult fast = measureLatency(typing, busy, GTK_WIDGET(window), 2, 10);
    printLatency("typing fast (keys 2-10 ms after the echo)", fast);
    printProfile();
    const LatencyResult::Leg bareIdle = bareRedraw(bareArea, GTK_WIDGET(window), 20, 40);
    const LatencyResult::Leg bareFast = bareRedraw(bareArea, GTK_WIDGET(window), 2, 10);
    std::printf(
        "a bare GTK drawing area, redraw asked to painted: 20-40 ms after its last paint median %.2f / "
        "p99 %.2f ms, 2-10 ms after it median %.2f / p99 %.2f ms\n",
        bareIdle.median, bareIdle.p99, bareFast.median, bareFast.p99);

    // The visible view against the headless terminal, alternating, in the same run. Each visible
    // run gets a fresh view in the same place of the window.
    constexpr int throughputRuns = 5;
    std::vector<double> headlessTimes, viewTimes;
    std::unique_ptr<BenchView> current;
    for (int run = 0; run < throughputRuns; ++run) {
        headlessTimes.push_back(headlessCat(path, cols, rows));
        auto fresh = std::make_unique<BenchView>(timerLink);
        if (run == 0) {
            gtk_grid_remove(GTK_GRID(grid), throughputFirst.widget);
            throughputFirst.view->updateUiClosed();
        } else {
            gtk_grid_remove(GTK_GRID(grid), current->widget);
            current->view->updateUiClosed();
        }
        current = std::move(fresh);
        gtk_grid_attach(GTK_GRID(grid), current->widget, 1, 0, 1, 1);
        runUntil([&] { return gtk_widget_get_mapped(current->widget) && current->view->host(); }, 5);
        runUntil([] { return false; }, 0.1);
        const double seconds = viewCat(*current, path);
        if (seconds < 0)
            status = 1;
        viewTimes.push_back(seconds);
    }
    std::sort(headlessTimes.begin(), headlessTimes.end());
    std::sort(viewTimes.begin(), viewTimes.end());
    const double megabytes = double(fileSize) / 1e6;
    const double headlessMedian = headlessTimes[throughputRuns / 2];
    const double viewMedian = viewTimes[throughputRuns / 2];
    std::printf("cat 64 MiB, headless: median %.3f s (%.0f MB/s), best %.3f s\n", headlessMedian,
                megabytes / headlessMedian, headlessTimes.front());
    std::printf("cat 64 MiB, visible view: median %.3f s (%.0f MB/s), best %.3f s\n", viewMedian,
                megabytes / viewMedian, viewTimes.front());
    std::printf("visible / headless speed: medians %.0f%%, bests %.0f%% (target at least 80%%)\n",
                100 * headlessMedian / viewMedian, 100 * headlessTimes.front() / viewTimes.front());

    busy.start("while :; do cat '" + path + "'; done");
    runUntil([] { return false; }, 0.5);
    TerminalProfiling::reset();
    const LatencyResult loaded = measureLatency(typing, busy, GTK_WIDGET(window), 20, 40);
    printLatency("idle keys while a neighbour draws cat", loaded);
    printProfile();
    if (!idle.complete || !fast.complete || !loaded.complete)
        status = 1;

    file.remove();
    // The busy loop ends with the program: its terminal hangs up when the process exits.
    std::fflush(stdout);
    _exit(status);
}
