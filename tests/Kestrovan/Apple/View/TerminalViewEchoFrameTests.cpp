// When the view's frames are drawn, on the recording host with a manual link and a manual clock:
// an echo of the user's input is drawn at once, after an idle pause and while the link ticks; other
// output keeps to one frame per tick, however fast it comes.
#include "TerminalViewTestSupport.h"

#include <chrono>
#include <sstream>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;
using testing::ViewFixture;

/// Runs a script of space-separated steps and returns it with "+N" after each step that drew N
/// frames:
///   idle     the link ticks until it pauses (a refresh of 16 ms each)
///   waitN    the clock moves on N ms
///   key      the user types a key (sent to the program)
///   out      the program's output (an echo when a key came before) is parsed
///   tick     the clock moves on 16 ms and the link ticks
///   floodN   N ms of output, one batch a millisecond, with the link ticking every 16 ms
std::string run(ViewFixture& f, const std::string& script)
{
    std::istringstream steps(script);
    std::string step, trace;
    auto frames = [&f] { return f.view->frameDriver()->counters().frames; };
    auto refresh = [&f] {
        f.timers->advance(16ms);
        f.link().tick();
        f.settle();
    };
    while (steps >> step) {
        const int before = frames();
        if (step == "idle") {
            for (int ticks = 0; f.view->frameDriver()->isRunning() && ticks < 100; ++ticks)
                refresh();
        } else if (step.rfind("wait", 0) == 0) {
            f.timers->advance(std::chrono::milliseconds(std::stoi(step.substr(4))));
            f.settle();
        } else if (step == "key") {
            f.view->send(std::string_view("a"));
            f.settle();
        } else if (step == "out") {
            f.feed("a");
        } else if (step == "tick") {
            refresh();
        } else if (step.rfind("flood", 0) == 0) {
            const int length = std::stoi(step.substr(5));
            for (int millisecond = 1; millisecond <= length; ++millisecond) {
                f.timers->advance(1ms);
                f.feed("some output\r\n");
                if (millisecond % 16 == 0)
                    f.link().tick();
                f.settle();
            }
        } else {
            ADD_FAILURE() << "unknown step " << step;
        }
        trace += (trace.empty() ? "" : " ") + step;
        if (frames() != before)
            trace += "+" + std::to_string(frames() - before);
    }
    return trace;
}

TEST(TerminalViewEchoFrameTests, EchoesAreDrawnAtOnceAndAFloodKeepsToOneFramePerTick)
{
    struct Case
    {
        const char* name;
        const char* script;
        const char* expected;
    };
    const Case cases[] = {
        {"an echo after an idle pause", "idle wait500 key out tick", "idle wait500 key out+1 tick"},
        {"an echo while the link ticks", "idle wait500 out wait4 key out tick",
         "idle wait500 out+1 wait4 key out+1 tick"},
        {"an echo right after a frame drawn on resuming", "idle wait500 out wait1 tick wait1 key out",
         "idle wait500 out+1 wait1 tick wait1 key out+1"},
        {"output while the link ticks waits for the tick", "idle wait500 out wait4 out tick",
         "idle wait500 out+1 wait4 out tick+1"},
        {"output after the echo waits for the tick", "idle wait500 out wait4 key out out tick",
         "idle wait500 out+1 wait4 key out+1 out tick+1"},
        {"fast typing while the link ticks: a frame per echo",
         "idle wait500 out key out wait3 key out wait5 key out tick",
         "idle wait500 out+1 key out+1 wait3 key out+1 wait5 key out+1 tick"},
        // 160 batches in 160 ms: the first drawn at once, then one frame at each of the 10 ticks.
        {"a flood", "idle wait500 flood160", "idle wait500 flood160+11"},
    };
    for (const Case& test : cases) {
        ViewFixture f;
        EXPECT_EQ(run(f, test.script), test.expected) << test.name;
    }
}

} // namespace
} // namespace kestrovan
