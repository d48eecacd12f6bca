// The view's counters, the bell and the progress report: what a host reads about the view's work,
// and the two signals a program gives the user besides its output.
#include "Kestrovan/Apple/AppleTerminalView.h"

#include <chrono>

namespace kestrovan {

// --- Diagnostics -----------------------------------------------------------------------------------

TerminalView::Diagnostics TerminalView::diagnostics()
{
    Diagnostics counters = diagnosticsState_->withLock([](const Diagnostics& stored) { return stored; });
    if (frameDriver_) {
        const FrameDriverCounters& driver = frameDriver_->counters();
        counters.ticks = driver.ticks;
        counters.frames = driver.frames;
        counters.idleTicks = driver.idleTicks;
        counters.pauses = driver.pauses;
        counters.immediateTicks = driver.immediateTicks;
    } else {
        counters.ticks = counters.frames = counters.idleTicks = counters.pauses = counters.immediateTicks = 0;
    }
    counters.renders = diagnosticsState_->withLock([](const Diagnostics& stored) { return stored.renders; }) +
                       renderOwner_->completedMetalRenders();
    // Without a render loop (or a GPU renderer) the stored values of its counters stand.
    if (const std::shared_ptr<RenderLoop> loop = renderLoop()) {
        const RenderLoopCounters loopCounters = loop->counters();
        counters.renderLoopFrames = loopCounters.frames;
        counters.renderLoopCoalesced = loopCounters.coalesced;
    }
    return counters;
}

void TerminalView::resetDiagnostics()
{
    diagnosticsState_->withLock([](Diagnostics& stored) { stored = Diagnostics{}; });
    if (frameDriver_)
        frameDriver_->resetCounters();
    if (const std::shared_ptr<RenderLoop> loop = renderLoop())
        loop->resetCounters();
}

// --- Bell ------------------------------------------------------------------------------------------

void TerminalView::setBellStyle(BellStyle style)
{
    bellStyle_ = style;
    // A new style lets the next bell through at once.
    bellPolicy_.setStyle(style);
}

void TerminalView::deliverBell()
{
    // Bells come merged from the event queue, one delivery per drain; the policy then keeps a
    // burst spread over several drains down to one bell per 100 ms.
    if (!bellPolicy_.shouldDeliver(timers_->uptimeNanoseconds()))
        return;
    const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate();
    if (playsSound(bellStyle_) && delegate)
        delegate->bell(*this);
    if (flashesView(bellStyle_))
        flashVisualBell();
}

void TerminalView::flashVisualBell()
{
    // The widget draws the flash over the view; the core only asks it to and counts.
    ++visualBellFlashes_;
    if (host_)
        host_->setNeedsDisplay();
}

// --- Progress report -------------------------------------------------------------------------------

double TerminalView::nowSeconds() const
{
    return std::chrono::duration<double>(timers_->now().time_since_epoch()).count();
}

void TerminalView::setProgressReportTimeout(std::optional<double> seconds)
{
    // A bar already shown gets the new time-out from now; with no bar there is nothing to time.
    progressReportTimeout_ = seconds;
    if (!progressBar_.isHidden())
        resetProgressReportTimer();
}

void TerminalView::setProgressBarColor(std::optional<platform::NativeColor> color)
{
    if (color == progressBar_.tint())
        return;
    progressBar_.setTint(color);
    if (host_)
        host_->setNeedsDisplay();
}

void TerminalView::resetProgressReportTimer()
{
    if (progressReportTimer_) {
        progressReportTimer_->invalidate();
        progressReportTimer_.reset();
    }
    // Without a time-out a report stays until the program sends the next one.
    if (!progressReportTimeout_)
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    progressReportTimer_ =
        timers_->schedule(std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(
                              std::chrono::duration<double>(std::max(*progressReportTimeout_, 0.0))),
                          false, [weak] {
                              if (const std::shared_ptr<TerminalView> view = weak.lock())
                                  view->clearProgressReport();
                          });
}

void TerminalView::clearProgressReport()
{
    // A stale report (the program died or forgot) must not leave a bar on screen for ever.
    if (progressReportTimer_) {
        progressReportTimer_->invalidate();
        progressReportTimer_.reset();
    }
    progressBar_.apply(ProgressReportState::remove, std::nullopt, nowSeconds());
    if (host_)
        host_->setNeedsDisplay();
}

bool TerminalView::progressReportTimerRunning() const
{
    return progressReportTimer_ && progressReportTimer_->isValid();
}

} // namespace kestrovan
