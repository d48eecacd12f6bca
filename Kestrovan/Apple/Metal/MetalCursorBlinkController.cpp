// MetalCursorBlinkController: the blink timer's start, stop, restart and self-stop, and the redraw
// state's lock-guarded fields.
#include "Kestrovan/Apple/Metal/MetalCursorBlinkController.h"

#include "Kestrovan/Fatal.h"

#include <chrono>

namespace kestrovan {

bool MetalRedrawState::recordCursorBlinkWanted(bool shouldBlink)
{
    return state.withLock([&](Fields& fields) {
        if (fields.cursorBlinkWanted == shouldBlink)
            return false;
        fields.cursorBlinkWanted = shouldBlink;
        if (!shouldBlink)
            fields.cursorBlinkOn = true;
        return true;
    });
}

bool MetalRedrawState::cursorBlinkOn() const
{
    return state.withLock([](const Fields& fields) { return fields.cursorBlinkOn; });
}

bool MetalRedrawState::cursorBlinkWanted() const
{
    return state.withLock([](const Fields& fields) { return fields.cursorBlinkWanted; });
}

void MetalRedrawState::requestRedraw()
{
    const std::function<void()> callback =
        state.withLock([](const Fields& fields) { return fields.callback; });
    if (callback)
        callback();
}

MetalCursorBlinkController::MetalCursorBlinkController(std::shared_ptr<MetalRedrawState> redrawState,
                                                       double interval,
                                                       std::shared_ptr<platform::MainThreadTimers> timers)
    : redrawState_(std::move(redrawState)), interval_(interval), timers_(std::move(timers)),
      lifetime_(std::make_shared<MetalCursorBlinkLifetime>())
{
    KESTROVAN_ASSERT(interval > 0, "MetalCursorBlinkController: the blink interval must be positive");
}

MetalCursorBlinkController::~MetalCursorBlinkController()
{
    // The controller may go on any thread, and timers are the main thread's: the timer stops
    // itself when it next fires and finds the lifetime over.
    lifetime_->active.withLock([](bool& active) { active = false; });
}

void MetalCursorBlinkController::updateCursorBlinkTimer(
    const std::weak_ptr<MetalCursorBlinkController>& controller, MetalRedrawState& redrawState,
    bool shouldBlink, platform::MainQueue& mainQueue)
{
    if (!redrawState.recordCursorBlinkWanted(shouldBlink))
        return;
    mainQueue.async([controller, shouldBlink] {
        if (const std::shared_ptr<MetalCursorBlinkController> strong = controller.lock())
            strong->apply(shouldBlink);
    });
}

void MetalCursorBlinkController::apply(bool shouldBlink)
{
    // A wish that has since changed again is stale: the call for the newer one is on its way.
    if (redrawState_->cursorBlinkWanted() != shouldBlink)
        return;
    if (!shouldBlink) {
        shutdown();
        return;
    }
    if (timer_)
        return;
    redrawState_->state.withLock([](MetalRedrawState::Fields& fields) { fields.cursorBlinkOn = true; });
    // The tick holds what it touches itself, never the controller, and reaches its own timer
    // through `self` to stop it once the controller is gone.
    auto self = std::make_shared<std::shared_ptr<platform::MainThreadTimers::Timer>>();
    const std::shared_ptr<MetalCursorBlinkLifetime> lifetime = lifetime_;
    const std::shared_ptr<MetalRedrawState> redrawState = redrawState_;
    const auto period = std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(
        std::chrono::duration<double>(interval_));
    timer_ = timers_->schedule(period, true, [self, lifetime, redrawState] {
        if (!lifetime->isActive()) {
            if (*self)
                (*self)->invalidate();
            self->reset();
            return;
        }
        redrawState->state.withLock(
            [](MetalRedrawState::Fields& fields) { fields.cursorBlinkOn = !fields.cursorBlinkOn; });
        redrawState->requestRedraw();
    });
    *self = timer_;
}

void MetalCursorBlinkController::shutdown()
{
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    redrawState_->state.withLock([](MetalRedrawState::Fields& fields) { fields.cursorBlinkOn = true; });
}

void MetalCursorBlinkController::resetAfterInput()
{
    if (!redrawState_->cursorBlinkWanted())
        return;
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    redrawState_->state.withLock([](MetalRedrawState::Fields& fields) { fields.cursorBlinkOn = true; });
    redrawState_->requestRedraw();
    apply(true);
}

} // namespace kestrovan
