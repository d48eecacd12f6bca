#include "Kestrovan/Apple/FramePacing.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

constexpr uint64_t ms = 1'000'000;

/// One call on the pacing: an echo arriving, a frame owed (at a time, with the link ticking or
/// not) and the answer expected, or a frame drawn at a tick.
struct Call
{
    enum Kind
    {
        echo,
        owed,
        drawn
    } kind;
    uint64_t atNs = 0;
    bool linkTicking = false;
    FramePacing::Decision expected = FramePacing::Decision::awaitTick;
};

struct Case
{
    const char* name;
    std::vector<Call> calls;
};

constexpr auto now = FramePacing::Decision::drawNow;
constexpr auto tick = FramePacing::Decision::awaitTick;

TEST(FramePacingTests, EchoesAreDrawnAtOnceAndOtherOutputKeepsToTheRefresh)
{
    const std::vector<Case> cases = {
        {"the first frame after a pause is drawn at once", {{Call::owed, 1000 * ms, false, now}}},
        {"output while the link ticks waits for the tick", {{Call::owed, 1000 * ms, true, tick}}},
        {"an echo while the link ticks is drawn at once", {{Call::echo}, {Call::owed, 1000 * ms, true, now}}},
        {"an echo is drawn at once even right after another immediate frame",
         {{Call::owed, 1000 * ms, false, now}, {Call::echo}, {Call::owed, 1001 * ms, false, now}}},
        {"two resumes 10 ms apart: the second waits for the tick",
         {{Call::owed, 1000 * ms, false, now}, {Call::owed, 1010 * ms, false, tick}}},
        {"two resumes 16 ms apart: both at once",
         {{Call::owed, 1000 * ms, false, now}, {Call::owed, 1016 * ms, false, now}}},
        {"an echo is drawn once: the rest of its output waits for the tick",
         {{Call::echo},
          {Call::owed, 1000 * ms, true, now},
          {Call::drawn},
          {Call::owed, 1001 * ms, true, tick}}},
        {"an echo drawn by a tick leaves the next output to the tick",
         {{Call::echo}, {Call::drawn}, {Call::owed, 1000 * ms, true, tick}}},
        {"each echo of fast typing gets its own frame",
         {{Call::echo},
          {Call::owed, 1000 * ms, true, now},
          {Call::drawn},
          {Call::echo},
          {Call::owed, 1003 * ms, true, now},
          {Call::drawn},
          {Call::echo},
          {Call::owed, 1005 * ms, true, now}}},
    };
    for (const Case& test : cases) {
        FramePacing pacing;
        for (size_t index = 0; index < test.calls.size(); ++index) {
            const Call& call = test.calls[index];
            switch (call.kind) {
            case Call::echo:
                pacing.echoArrived();
                break;
            case Call::drawn:
                pacing.frameDrawn();
                break;
            case Call::owed: {
                const FramePacing::Decision decision = pacing.frameOwed(call.atNs, call.linkTicking);
                EXPECT_EQ(decision, call.expected) << test.name << ", call " << index;
                if (decision == now)
                    pacing.frameDrawn();
                break;
            }
            }
        }
    }
}

} // namespace
} // namespace kestrovan
