#include "Kestrovan/Apple/FrameDriver.h"

#include <chrono>

namespace kestrovan {

namespace {

uint64_t monotonicNanoseconds()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

FrameDriver::FrameDriver(std::shared_ptr<FrameDriverSignal> signal, UptimeClock nowUptimeNs)
    : signal_(std::move(signal)),
      nowUptimeNs_(nowUptimeNs ? std::move(nowUptimeNs) : UptimeClock(monotonicNanoseconds))
{}

std::shared_ptr<FrameDriver> FrameDriver::create(std::shared_ptr<FrameDriverSignal> signal,
                                                 std::shared_ptr<platform::DisplayLink> link,
                                                 UptimeClock nowUptimeNs)
{
    std::shared_ptr<FrameDriver> driver(new FrameDriver(std::move(signal), std::move(nowUptimeNs)));
    // The sink holds the driver weakly: a delivery that finds it released does nothing.
    std::weak_ptr<FrameDriver> weakDriver = driver;
    driver->signal_->configure([weakDriver] {
        if (const std::shared_ptr<FrameDriver> alive = weakDriver.lock()) {
            ++alive->counters_.deliveries;
            alive->consumeSignalOnMain();
        }
    });
    if (link)
        driver->bind(std::move(link));
    return driver;
}

FrameDriver::~FrameDriver()
{
    // The link must not call into a driver that is gone, and the signal accepts nothing more.
    if (link_)
        link_->invalidate();
    signal_->requestShutdown();
}

void FrameDriver::installHandler()
{
    if (link_->ticksOnMainThread()) {
        // A main-thread tick takes whatever was published since, then ticks.
        std::weak_ptr<FrameDriver> weakDriver = weak_from_this();
        link_->setHandler([weakDriver] {
            if (const std::shared_ptr<FrameDriver> driver = weakDriver.lock()) {
                driver->consumeSignalOnMain();
                driver->sourceDidTick(false);
            }
        });
    } else {
        // A tick on the link's own thread touches only the signal; the driver ticks when the
        // signal's delivery reaches the main thread.
        std::weak_ptr<FrameDriverSignal> weakSignal = signal_;
        link_->setHandler([weakSignal] {
            if (const std::shared_ptr<FrameDriverSignal> signal = weakSignal.lock())
                signal->publish(FrameDriverSignal::Events::linkTick);
        });
    }
}

void FrameDriver::bind(std::shared_ptr<platform::DisplayLink> link)
{
    if (link_) {
        link_->invalidate();
        link_.reset();
        if (running_)
            stopRunning(false);
    }
    if (invalidated_ || !link)
        return;
    link_ = std::move(link);
    link_->pause();
    installHandler();
    if (resumeOnMainIfNeeded())
        tickNowIfDue(false);
}

void FrameDriver::stopRunning(bool pauseLink)
{
    running_ = false;
    signal_->setLinkRunning(false);
    if (pauseLink && link_)
        link_->pause();
}

// --- Consuming -------------------------------------------------------------------------------------

void FrameDriver::consumeSignalOnMain()
{
    const FrameDriverSignal::Events events = signal_->takePending();
    if (events.isEmpty())
        return;
    if (events.contains(FrameDriverSignal::Events::shutdown)) {
        shutdown();
        return;
    }
    if (invalidated_)
        return;
    if (events.contains(FrameDriverSignal::Events::outputParsed))
        pacing_.echoArrived();
    if (events.contains(FrameDriverSignal::Events::needsFrame)) {
        dirty_ = true;
        const bool wasRunning = running_;
        if (resumeOnMainIfNeeded())
            tickNowIfDue(false);
        else if (wasRunning)
            tickNowIfDue(true);
    }
    if (events.contains(FrameDriverSignal::Events::immediateTick))
        sourceDidTick(true);
    if (events.contains(FrameDriverSignal::Events::linkTick)) {
        // Bits that arrived since the delivery was scheduled belong to this tick.
        consumeSignalOnMain();
        sourceDidTick(false);
    }
}

bool FrameDriver::resumeOnMainIfNeeded()
{
    if (invalidated_ || !dirty_ || running_ || visibilitySuspended_ || !link_)
        return false;
    link_->start();
    if (invalidated_)
        return false;
    running_ = true;
    signal_->setLinkRunning(true);
    idleTickCount_ = 0;
    return true;
}

void FrameDriver::tickNowIfDue(bool linkTicking)
{
    const uint64_t now = nowUptimeNs_();
    if (invalidated_ || !dirty_ || visibilitySuspended_ || !running_)
        return;
    // A link that resumes on demand ticks right before its frame is shown, at the refresh
    // interval it keeps after each frame: a frame prepared here would only be older when shown. The
    // pacing sees it as a link whose tick is coming, so only an echo asks it to come sooner.
    const bool onDemand = link_ && link_->resumesOnDemand();
    if (pacing_.frameOwed(now, linkTicking || onDemand) != FramePacing::Decision::drawNow)
        return;
    if (onDemand) {
        ++counters_.expeditedTicks;
        link_->expediteTick();
        return;
    }
    sourceDidTick(true);
}

void FrameDriver::sourceDidTick(bool isImmediate)
{
    if (invalidated_)
        return;
    if (isImmediate)
        ++counters_.immediateTicks;
    ++counters_.ticks;
    if (dirty_) {
        dirty_ = false;
        idleTickCount_ = 0;
        ++counters_.frames;
        pacing_.frameDrawn();
        if (onTick)
            onTick();
        // A link that resumes on demand stops with the frame: the next content starts the next
        // frame when it arrives, not at the next tick of a clock that kept running meanwhile.
        if (!invalidated_ && running_ && link_ && link_->resumesOnDemand()) {
            ++counters_.pauses;
            stopRunning(true);
        }
        return;
    }
    if (!running_)
        return;
    ++idleTickCount_;
    ++counters_.idleTicks;
    if (idleTickCount_ < (link_ && link_->resumesOnDemand() ? 1 : idleTicksBeforePause))
        return;
    // Eight refreshes without work: the link sleeps until the next frame request.
    idleTickCount_ = 0;
    ++counters_.pauses;
    stopRunning(true);
}

// --- Shutdown and visibility -----------------------------------------------------------------------

void FrameDriver::shutdown()
{
    if (invalidated_)
        return;
    dirty_ = false;
    const bool wasRunning = running_;
    running_ = false;
    invalidated_ = true;
    if (wasRunning)
        signal_->setLinkRunning(false);
    if (link_) {
        link_->invalidate();
        link_.reset();
    }
    onTick = nullptr;
    signal_->clearAfterShutdown();
}

void FrameDriver::updateVisibility(bool windowAttached, bool windowVisible)
{
    windowAttached_ = windowAttached;
    lastReportedVisibility_ = windowVisible;
    applyVisibilityPolicy();
}

void FrameDriver::setVisibilitySuspensionEnabled(bool enabled)
{
    visibilitySuspensionEnabled_ = enabled;
    applyVisibilityPolicy();
}

void FrameDriver::applyVisibilityPolicy()
{
    const bool effective = lastReportedVisibility_ && windowAttached_;
    if (effective != effectivelyVisible_) {
        effectivelyVisible_ = effective;
        if (onVisibilityChanged)
            onVisibilityChanged(effective);
    }
    const bool suspended = visibilitySuspensionEnabled_ && !effective;
    const bool changed = suspended != visibilitySuspended_;
    visibilitySuspended_ = suspended;
    if (suspended) {
        if (running_) {
            running_ = false;
            signal_->setLinkRunning(false);
            if (changed && link_)
                link_->pause();
        }
        return;
    }
    // Visible again: a frame owed while hidden is drawn now.
    if (changed && resumeOnMainIfNeeded())
        tickNowIfDue(false);
}

} // namespace kestrovan
