// The wheel against the clock in a real window (run it under tools/gui/with-xvfb with
// GDK_BACKEND=x11 GSK_RENDERER=cairo): the time from a wheel step reaching the view to the window
// showing the frame scrolled to it. Like the keystroke benchmark it is a program of its own, since
// everything happens on the GTK main loop.
//
// Two views share one window. The wheel view holds 10,000 lines of coloured program output in its
// scrollback and is scrolled through all of it: 833 steps of 24 lines, up to the top and back down,
// each step delivered as the widget delivers a wheel notch, 2-20 ms after the previous step was
// shown (a timer of its own, so steps fall at every phase of the frame clock). A step is measured
// from its delivery to the paint of the first frame whose snapshot starts at the new top line,
// and split at the view's stamps (frame prepared, drawn). Measured idle, then while the second
// view draws `cat` of a large file in a loop. The target for both: p99 within one frame interval
// (16.7 ms at 60 Hz). Results are printed as text; the program exits 0 when every step was shown.
#include "../BenchInputs.h"
#include "GuiBenchLoop.h"

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/UI/CoreViewWidget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtk/gtk.h>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bench::Percentiles;
using bench::percentiles;
using bench::runUntil;
using namespace kestrovan;
using Clock = std::chrono::steady_clock;

constexpr int scrollbackLines = 10000;
constexpr int linesPerStep = 24;
static_assert(linesPerStep % MacTerminalView::linesPerWheelNotch == 0, "a step is whole notches");
constexpr int steps = 2 * scrollbackLines / linesPerStep;
constexpr size_t busyFileSize = 32u << 20;

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

std::shared_ptr<LocalProcessTerminalView> makeView(int scrollback)
{
    TerminalView::Configuration configuration;
    configuration.options.scrollback = scrollback;
    return LocalProcessTerminalView::create(platform::Size{640, 360}, std::move(configuration));
}

struct WheelResult
{
    Percentiles toShown, handling, toPrepared, preparedToDrawn, drawnToShown;
    size_t shown = 0;
};

/// Scrolls `view` up through its scrollback and back, one measured step at a time.
WheelResult measureWheel(LocalProcessTerminalView& view, GtkWidget* window)
{
    std::mt19937 random(11);
    std::vector<double> toShown, handling, toPrepared, preparedToDrawn, drawnToShown;
    Clock::time_point delivered;
    int64_t target = 0;
    bool waiting = false;
    bool drawn = false;
    auto topLine = [&view]() -> int64_t {
        const std::shared_ptr<TerminalSnapshot> snapshot = view.renderOwner().snapshot();
        return snapshot ? snapshot->firstRow : -1;
    };
    terminalFramePresentedHandler().replace([&] {
        if (!waiting || drawn || view.lastFrameDrawnTime() <= delivered || topLine() != target)
            return;
        toPrepared.push_back(milliseconds(view.lastFramePreparedTime() - delivered));
        preparedToDrawn.push_back(milliseconds(view.lastFrameDrawnTime() - view.lastFramePreparedTime()));
        drawn = true;
    });
    struct Hook
    {
        std::function<void()> painted;
    } hook{[&] {
        if (!drawn)
            return;
        const Clock::time_point now = Clock::now();
        drawnToShown.push_back(milliseconds(now - view.lastFrameDrawnTime()));
        toShown.push_back(milliseconds(now - delivered));
        drawn = false;
        waiting = false;
    }};
    GdkFrameClock* frameClock = gtk_widget_get_frame_clock(window);
    const gulong paintHandler = g_signal_connect_swapped(
        frameClock, "after-paint", G_CALLBACK(+[](Hook* hook) { hook->painted(); }), &hook);

    // One event a step, as a notch that moves `linesPerStep` lines.
    view.setScrollSensitivity(linesPerStep / MacTerminalView::linesPerWheelNotch);
    for (int step = 0; step < steps; ++step) {
        bool paused = true;
        g_timeout_add_once(
            2 + random() % 19, [](gpointer flag) { *static_cast<bool*>(flag) = false; }, &paused);
        runUntil([&] { return !paused; }, 1);
        // Up to the oldest line, then back down to the newest.
        const bool up = step < steps / 2;
        const int64_t before =
            view.withTerminal([](Terminal& t) { return int64_t(t.buffer().yDisp()); }, "bench");
        const int64_t newest = view.withTerminal(
            [](Terminal& t) { return int64_t(t.buffer().lines().count() - t.rows()); }, "bench");
        target = up ? std::max<int64_t>(before - linesPerStep, 0)
                    : std::min<int64_t>(before + linesPerStep, newest);
        if (target == before)
            continue;
        waiting = true;
        delivered = Clock::now();
        view.scrollWheel(platform::ScrollEvent{platform::Point{100, 100}, 0, up ? 1.0 : -1.0, false, {}, 0});
        handling.push_back(milliseconds(Clock::now() - delivered));
        if (!runUntil([&] { return !waiting; }, 5)) {
            std::fprintf(stderr, "step %d never shown\n", step);
            break;
        }
    }
    terminalFramePresentedHandler().replace(nullptr);
    g_signal_handler_disconnect(frameClock, paintHandler);

    WheelResult result;
    result.shown = toShown.size();
    result.toShown = percentiles(toShown);
    result.handling = percentiles(handling);
    result.toPrepared = percentiles(toPrepared);
    result.preparedToDrawn = percentiles(preparedToDrawn);
    result.drawnToShown = percentiles(drawnToShown);
    return result;
}

void printResult(const char* name, const WheelResult& result)
{
    std::printf("wheel step to frame shown, %s: median %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms "
                "(%zu steps of %d lines)\n",
                name, result.toShown.median, result.toShown.p90, result.toShown.p99, result.toShown.max,
                result.shown, linesPerStep);
    std::printf("  legs, median / p99: the wheel handled %.2f / %.2f ms, to frame prepared %.2f / %.2f ms,\n"
                "  prepared to drawn %.2f / %.2f ms, drawn to shown %.2f / %.2f ms\n",
                result.handling.median, result.handling.p99, result.toPrepared.median, result.toPrepared.p99,
                result.preparedToDrawn.median, result.preparedToDrawn.p99, result.drawnToShown.median,
                result.drawnToShown.p99);
    std::printf("  p99 within one 60 Hz frame interval (16.7 ms): %s\n",
                result.toShown.p99 <= 1000.0 / 60 ? "yes" : "NO");
}

} // namespace

int main()
{
    gtk_init();
    platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());

    bench::ScratchTextFile file(busyFileSize, 20240612);
    if (file.path().empty())
        return 1;
    const std::string path = file.path();

    const std::shared_ptr<LocalProcessTerminalView> wheelView = makeView(scrollbackLines + 100);
    const std::shared_ptr<LocalProcessTerminalView> busyView = makeView(1000);
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    for (const auto& view : {wheelView, busyView}) {
        GtkWidget* widget = platform::gtk::CoreViewWidget::create(view);
        gtk_widget_set_size_request(widget, 640, 360);
        gtk_box_append(GTK_BOX(box), widget);
    }
    gtk_window_set_child(window, box);
    gtk_window_present(window);

    // 10,000 lines of coloured program output, then the live screen.
    std::string text = bench::sgrColoured(size_t(scrollbackLines) * 300, "\r\n", 20240613);
    int lines = 0;
    size_t cut = 0;
    for (; cut < text.size() && lines < scrollbackLines + 40; ++cut)
        lines += text[cut] == '\n';
    text.resize(cut);
    wheelView->feed(std::string_view(text));
    if (!runUntil([&] { return wheelView->host() && busyView->host() && wheelView->canScroll(); }, 10)) {
        std::fprintf(stderr, "the views never came up\n");
        return 1;
    }
    runUntil([] { return false; }, 0.3);
    const int scrollback =
        wheelView->withTerminal([](Terminal& t) { return t.buffer().lines().count() - t.rows(); }, "bench");
    std::printf("scrollback of %d lines\n", scrollback);

    const WheelResult idle = measureWheel(*wheelView, GTK_WIDGET(window));
    printResult("idle", idle);

    busyView->startProcess("/bin/sh", {"-c", "while :; do cat '" + path + "'; done"}, std::nullopt,
                           std::nullopt, std::nullopt);
    runUntil([] { return false; }, 0.5);
    const WheelResult loaded = measureWheel(*wheelView, GTK_WIDGET(window));
    printResult("while a neighbour draws cat", loaded);

    file.remove();
    std::fflush(stdout);
    _exit(idle.shown > 0 && loaded.shown > 0 ? 0 : 1);
}
