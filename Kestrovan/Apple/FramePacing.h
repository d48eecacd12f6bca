// When an owed frame is drawn at once and when it waits for the link's next tick: the frame
// driver's decision, apart from the link and the main loop that carry it out.
//
// Two rules. An echo (output parsed after the user's input, not yet drawn) is drawn at once, also
// while the link runs: typing is answered in the frame the display can show next, not after the
// rest of a refresh interval. Other content is drawn at once only when the link is not ticking
// and no immediate frame was drawn in the last 16 ms; otherwise it waits for the link's next tick,
// so a stream of output draws at most one frame per refresh, however many batches it parses in
// between. Immediate echo frames are bounded by the user: one per input that came back. Times are
// monotonic nanoseconds, passed in, so every rule can be checked without a clock.
#pragma once

#include <cstdint>

namespace kestrovan {

class FramePacing
{
public:
    /// The least time between two immediate frames drawn for anything but an echo.
    static constexpr uint64_t immediateIntervalNs = 16'000'000;

    enum class Decision
    {
        /// Draw the owed frame now.
        drawNow,
        /// Leave it to the link's next tick.
        awaitTick,
    };

    /// Output was parsed after the user's input: the next frame shows its echo.
    void echoArrived() { echoPending_ = true; }
    /// A frame is owed at `nowNs`; `linkTicking` tells whether the link's next tick is coming
    /// anyway. A `drawNow` answer is taken as the frame drawn at `nowNs`.
    Decision frameOwed(uint64_t nowNs, bool linkTicking);
    /// A frame was drawn (at once or at a tick): the echo is on screen.
    void frameDrawn() { echoPending_ = false; }

    /// Whether an echo waits to be drawn.
    bool isEchoPending() const { return echoPending_; }

private:
    bool echoPending_ = false;
    /// When the last immediate frame for other content was drawn; 0 means never.
    uint64_t lastImmediateNs_ = 0;
};

} // namespace kestrovan
