// Kitty image animation: frame transmission, playback control, frame composition and frame
// deletion, the advancing of running animations against a monotonic clock, and the timer that
// drives it on the shared I/O timer queue.
//
// A still image counts as a one-frame animation whose frame is its payload, with gap 0; an action
// that leaves one frame stores a still image again. Frames are replaced, never written in place,
// because render snapshots may still hold the old bytes.
#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <chrono>
#include <cstring>

namespace kestrovan {

namespace {

using PlaybackState = KittyGraphicsAnimation::PlaybackState;

/// A frame with no gap of its own shows for this long.
constexpr uint32_t defaultFrameGapMilliseconds = 40;
constexpr uint64_t nanosecondsPerMillisecond = 1'000'000;

/// Sets a frame's gap, keeping the count of frames with one.
void setGap(KittyGraphicsAnimation& animation, size_t index, uint32_t gap)
{
    KittyGraphicsAnimationFrame& frame = animation.frames[index];
    animation.framesWithGap -= frame.gapMilliseconds != 0 ? 1 : 0;
    frame.gapMilliseconds = gap;
    animation.framesWithGap += gap != 0 ? 1 : 0;
}

uint32_t gapFromKey(int64_t z, uint32_t whenZero)
{
    if (z == 0)
        return whenZero;
    return z < 0 ? 0 : static_cast<uint32_t>(z);
}

/// One pixel of `source` onto `target`: copied, or blended with straight alpha.
void composePixel(const uint8_t* source, uint8_t* target, bool overwrite)
{
    const uint32_t a = source[3];
    const uint32_t b = target[3];
    if (overwrite || a == 255 || b == 0) {
        std::memcpy(target, source, 4);
        return;
    }
    if (a == 0)
        return;
    const uint32_t t = a * 255 + (255 - a) * b;
    for (int channel = 0; channel < 3; ++channel) {
        const uint32_t value = (t / 2 + a * 255 * source[channel] + (255 - a) * b * target[channel]) / t;
        target[channel] = static_cast<uint8_t>(std::min<uint32_t>(value, 255));
    }
    target[3] = static_cast<uint8_t>(std::min<uint32_t>((t + 127) / 255, 255));
}

/// Combines a width x height rectangle of one RGBA image into another.
void composeRect(const std::vector<uint8_t>& source, int64_t sourceStride, int64_t sourceX, int64_t sourceY,
                 std::vector<uint8_t>& target, int64_t targetStride, int64_t targetX, int64_t targetY,
                 int64_t width, int64_t height, bool overwrite)
{
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* from = source.data() + ((sourceY + row) * sourceStride + sourceX) * 4;
        uint8_t* to = target.data() + ((targetY + row) * targetStride + targetX) * 4;
        if (overwrite) {
            std::memcpy(to, from, static_cast<size_t>(width) * 4);
            continue;
        }
        for (int64_t col = 0; col < width; ++col)
            composePixel(from + col * 4, to + col * 4, false);
    }
}

bool rectanglesIntersect(int64_t ax, int64_t ay, int64_t bx, int64_t by, int64_t width, int64_t height)
{
    return ax < bx + width && bx < ax + width && ay < by + height && by < ay + height;
}

} // namespace

KittyAnimationClock KittyAnimationClock::system()
{
    KittyAnimationClock clock;
    clock.now = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         platform::TimerQueue::Clock::now().time_since_epoch())
                                         .count());
    };
    clock.schedule = [](uint64_t deadline, std::function<void()> work) {
        const platform::TimerQueue::Clock::time_point at{
            std::chrono::duration_cast<platform::TimerQueue::Clock::duration>(
                std::chrono::nanoseconds(deadline))};
        IOTimerQueue::shared().schedule(at, std::move(work));
    };
    return clock;
}

std::optional<KittyGraphicsEngine::AnimatedImage>
KittyGraphicsEngine::findAnimatedKittyImage(const KittyGraphicsControl& control)
{
    const auto found = resolveExistingKittyImage(control);
    if (!found)
        return std::nullopt;
    AnimatedImage named{found->first, found->second, {}};
    // A still image counts as a one-frame animation whose frame is its payload, with gap 0.
    if (!named.image->animation)
        named.still.frames.push_back({named.image->payload.bytes, 0});
    return named;
}

std::optional<KittyGraphicsEngine::AnimatedImage>
KittyGraphicsEngine::resolveAnimatedKittyImage(const KittyGraphicsControl& control)
{
    auto found = findAnimatedKittyImage(control);
    if (!found)
        sendKittyError(control, !control.imageId && !control.imageNumber
                                    ? "EINVAL: image ID or number required"
                                    : "ENOENT: image not found");
    return found;
}

void KittyGraphicsEngine::appendKittyFrame(AnimatedImage& named, KittyGraphicsAnimationFrame frame)
{
    KittyGraphicsImage& image = *named.image;
    if (!image.animation)
        image.animation = std::move(named.still);
    const int64_t bytes = static_cast<int64_t>(frame.rgba->size());
    image.animation->framesWithGap += frame.gapMilliseconds != 0 ? 1 : 0;
    image.animation->frames.push_back(std::move(frame));
    screen().animationChanged(named.id, bytes, 1);
}

bool KittyGraphicsEngine::storeKittyAnimation(AnimatedImage& changed)
{
    KittyGraphicsImage& image = *changed.image;
    const KittyGraphicsAnimation& animation = changed.animation();
    const bool running = animation.playbackState != PlaybackState::stopped;
    // The payload always holds frame 1, and a single frame is a still image again.
    image.payload.bytes = animation.frames.front().rgba;
    if (animation.frames.size() == 1)
        image.animation.reset();
    screen().animationChanged(changed.id, 0, 0);
    nextKittyGeneration();
    return running;
}

void KittyGraphicsEngine::handleKittyAnimationFrame(const KittyGraphicsControl& control,
                                                    std::span<const uint8_t> base64Payload)
{
    auto named = resolveAnimatedKittyImage(control);
    if (!named)
        return;
    KittyGraphicsImage& image = *named->image;
    KittyGraphicsAnimation& animation = named->animation();
    const int64_t width = image.payload.width;
    const int64_t height = image.payload.height;
    // Data larger than the image is refused as soon as its size is known, before it takes memory.
    const KittyPayloadResult loaded =
        loadKittyPayload(control, base64Payload, terminal_.options().kittyGraphics, std::nullopt,
                         KittyImageSize{width, height});
    if (!loaded.payload) {
        sendKittyError(control, loaded.error.value_or("EINVAL: invalid data"));
        return;
    }
    const KittyGraphicsPayload& data = *loaded.payload;
    if (data.width > width || data.height > height) {
        sendKittyError(control, "EINVAL: frame dimensions exceed image");
        return;
    }

    const int64_t count = static_cast<int64_t>(animation.frames.size());
    const bool rewrite = control.rows >= 1 && control.rows <= count;
    const int64_t frameBytes = width * height * 4;
    std::vector<uint8_t> canvas;
    if (rewrite) {
        canvas = *animation.frames[control.rows - 1].rgba;
    } else if (control.columns >= 1) {
        if (control.columns > count) {
            sendKittyError(control, "EINVAL: base frame not found");
            return;
        }
        canvas = *animation.frames[control.columns - 1].rgba;
    } else {
        // A fresh canvas of the colour Y: red, green, blue, alpha from the most significant byte.
        const uint32_t color = static_cast<uint32_t>(control.pixelOffsetY);
        const uint8_t pixel[4] = {static_cast<uint8_t>(color >> 24), static_cast<uint8_t>(color >> 16),
                                  static_cast<uint8_t>(color >> 8), static_cast<uint8_t>(color)};
        canvas.resize(static_cast<size_t>(frameBytes));
        for (int64_t offset = 0; offset < frameBytes; offset += 4)
            std::memcpy(canvas.data() + offset, pixel, 4);
    }

    // The data lands at (x, y), clipped to the image; X = 1 overwrites, anything else blends.
    if (control.cropX < width && control.cropY < height) {
        const int64_t copyWidth = std::min(data.width, width - control.cropX);
        const int64_t copyHeight = std::min(data.height, height - control.cropY);
        composeRect(data.rgba(), data.width, 0, 0, canvas, width, control.cropX, control.cropY, copyWidth,
                    copyHeight, control.pixelOffsetX == 1);
    }

    uint32_t frameNumber = 0;
    auto pixels = std::make_shared<const std::vector<uint8_t>>(std::move(canvas));
    if (!rewrite) {
        // New frames count against the screen's quota like images do, with the cost of their own
        // record, and may evict other images.
        if (!reserveKittyStorageBytes(frameBytes, named->id, KittyGraphicsBookkeeping::frameBytes)) {
            sendKittyError(control, "ENOSPC: animation frame storage full");
            return;
        }
        appendKittyFrame(*named, {pixels, gapFromKey(control.zIndex, defaultFrameGapMilliseconds)});
        frameNumber = static_cast<uint32_t>(count + 1);
    } else {
        const int64_t index = control.rows - 1;
        KittyGraphicsAnimation& current = named->animation();
        current.frames[index].rgba = pixels;
        setGap(current, static_cast<size_t>(index),
               gapFromKey(control.zIndex, current.frames[index].gapMilliseconds));
        if (index == current.currentIndex) {
            image.contentGeneration = nextKittyGeneration();
            current.frameShownAtNanoseconds.reset();
        }
        frameNumber = static_cast<uint32_t>(control.rows);
    }
    if (storeKittyAnimation(*named))
        scheduleKittyAnimationTimer();
    sendKittyOk(control, control.imageId, control.imageNumber, std::nullopt, frameNumber);
}

void KittyGraphicsEngine::handleKittyAnimationControl(const KittyGraphicsControl& control)
{
    auto named = resolveAnimatedKittyImage(control);
    if (!named)
        return;
    KittyGraphicsImage& image = *named->image;
    KittyGraphicsAnimation& animation = named->animation();
    const int64_t count = static_cast<int64_t>(animation.frames.size());

    if (control.rows >= 1 && control.rows <= count && control.zIndex != 0)
        setGap(animation, static_cast<size_t>(control.rows - 1), gapFromKey(control.zIndex, 0));
    if (control.columns >= 1 && control.columns <= count) {
        animation.currentIndex = control.columns - 1;
        animation.frameShownAtNanoseconds.reset();
        image.contentGeneration = nextKittyGeneration();
    }
    // v counts passes plus one: 1 plays forever.
    if (control.height >= 1)
        animation.maxLoops = static_cast<uint32_t>(control.height - 1);
    if (control.width >= 1 && control.width <= 3) {
        const PlaybackState old = animation.playbackState;
        animation.playbackState = control.width == 1   ? PlaybackState::stopped
                                  : control.width == 2 ? PlaybackState::runningWait
                                                       : PlaybackState::running;
        animation.currentLoop = 0;
        if (old == PlaybackState::stopped && animation.playbackState != PlaybackState::stopped)
            animation.frameShownAtNanoseconds.reset();
    }
    if (storeKittyAnimation(*named))
        scheduleKittyAnimationTimer();
}

void KittyGraphicsEngine::handleKittyAnimationComposition(const KittyGraphicsControl& control)
{
    auto named = resolveAnimatedKittyImage(control);
    if (!named)
        return;
    KittyGraphicsImage& image = *named->image;
    KittyGraphicsAnimation& animation = named->animation();
    const int64_t count = static_cast<int64_t>(animation.frames.size());
    if (control.rows < 1 || control.rows > count) {
        sendKittyError(control, "ENOENT: source frame not found");
        return;
    }
    if (control.columns < 1 || control.columns > count) {
        sendKittyError(control, "ENOENT: destination frame not found");
        return;
    }
    const int64_t imageWidth = image.payload.width;
    const int64_t imageHeight = image.payload.height;
    const int64_t width = control.cropWidth > 0 ? control.cropWidth : imageWidth;
    const int64_t height = control.cropHeight > 0 ? control.cropHeight : imageHeight;
    const int64_t targetX = control.cropX;
    const int64_t targetY = control.cropY;
    const int64_t sourceX = control.pixelOffsetX;
    const int64_t sourceY = control.pixelOffsetY;
    if (targetX < 0 || targetX > imageWidth - width || targetY < 0 || targetY > imageHeight - height) {
        sendKittyError(control, "EINVAL: destination rectangle out of bounds");
        return;
    }
    if (sourceX < 0 || sourceX > imageWidth - width || sourceY < 0 || sourceY > imageHeight - height) {
        sendKittyError(control, "EINVAL: source rectangle out of bounds");
        return;
    }
    const int64_t sourceIndex = control.rows - 1;
    const int64_t targetIndex = control.columns - 1;
    if (sourceIndex == targetIndex &&
        rectanglesIntersect(sourceX, sourceY, targetX, targetY, width, height)) {
        sendKittyError(control, "EINVAL: source and destination rectangles overlap");
        return;
    }

    std::vector<uint8_t> target = *animation.frames[targetIndex].rgba;
    composeRect(*animation.frames[sourceIndex].rgba, imageWidth, sourceX, sourceY, target, imageWidth,
                targetX, targetY, width, height, control.cursorPolicy != 0);
    animation.frames[targetIndex].rgba = std::make_shared<const std::vector<uint8_t>>(std::move(target));
    if (targetIndex == animation.currentIndex)
        image.contentGeneration = nextKittyGeneration();
    storeKittyAnimation(*named);
    sendKittyOk(control, control.imageId, control.imageNumber, std::nullopt);
}

void KittyGraphicsEngine::deleteKittyAnimationFrame(const KittyGraphicsControl& control, bool freesData)
{
    auto named = findAnimatedKittyImage(control);
    if (!named)
        return;
    KittyGraphicsImage& image = *named->image;
    KittyGraphicsAnimation& animation = named->animation();
    const int64_t count = static_cast<int64_t>(animation.frames.size());
    if (count < 2) {
        if (freesData)
            removeKittyImage(named->id);
        return;
    }
    // Frame 1 below the range, the last frame above it.
    const int64_t index = control.rows < 1 ? 0 : control.rows > count ? count - 1 : control.rows - 1;
    const int64_t frameBytes = static_cast<int64_t>(animation.frames[index].rgba->size());
    animation.framesWithGap -= animation.frames[index].gapMilliseconds != 0 ? 1 : 0;
    animation.frames.erase(animation.frames.begin() + index);
    screen().animationChanged(named->id, -frameBytes, -1);
    if (index < animation.currentIndex)
        animation.currentIndex -= 1;
    else
        animation.currentIndex = std::min<int64_t>(animation.currentIndex, animation.frames.size() - 1);
    animation.frameShownAtNanoseconds.reset();
    image.contentGeneration = nextKittyGeneration();
    storeKittyAnimation(*named);
    terminal_.updateFullScreen();
}

std::optional<uint64_t> KittyGraphicsEngine::kittyGraphicsAdvanceAnimations(uint64_t now)
{
    terminal_.terminalLock().assumeHeldByCaller();
    syncActiveScreen();
    KittyGraphicsScreenState& current = screen();

    std::optional<uint64_t> deadline;
    auto earliest = [&](uint64_t candidate) {
        deadline = deadline ? std::min(*deadline, candidate) : candidate;
    };
    bool stepped = false;
    // Only animated images are visited, and whether one is shown and has a frame with a gap is
    // known without a pass over placements or frames.
    for (const uint32_t id : current.animatedImageIds()) {
        KittyGraphicsImage& image = current.imagesById.at(id);
        if (!image.animation || !current.hasPlacements(id))
            continue;
        KittyGraphicsAnimation& animation = *image.animation;
        const size_t count = animation.frames.size();
        if (animation.playbackState == PlaybackState::stopped || count < 2)
            continue;
        if (animation.framesWithGap == 0)
            continue;
        if (animation.maxLoops != 0 && animation.currentLoop >= animation.maxLoops)
            continue;
        if (animation.currentIndex < 0 || static_cast<size_t>(animation.currentIndex) >= count)
            animation.currentIndex = 0;

        const uint64_t start =
            animation.frameShownAtNanoseconds ? std::min(*animation.frameShownAtNanoseconds, now) : now;
        const uint64_t due = start + uint64_t{animation.frames[animation.currentIndex].gapMilliseconds} *
                                         nanosecondsPerMillisecond;
        if (now < due) {
            animation.frameShownAtNanoseconds = start;
            earliest(due);
            continue;
        }
        // One step, past frames with no gap; a wait pass ends on its last frame, and a counted
        // loop ends when its passes are done. A late timer does not catch up on missed frames.
        // One lap round the frames comes back to the frame on show, so a frame with a gap is met
        // within `count` moves; the bound keeps a stale count of such frames from spinning here.
        size_t index = static_cast<size_t>(animation.currentIndex);
        bool reached = false;
        for (size_t moves = 0; moves < count; ++moves) {
            index = (index + 1) % count;
            if (index == 0) {
                if (animation.playbackState == PlaybackState::runningWait)
                    break;
                animation.currentLoop += 1;
                if (animation.maxLoops != 0 && animation.currentLoop >= animation.maxLoops)
                    break;
            }
            if (animation.frames[index].gapMilliseconds != 0) {
                reached = true;
                break;
            }
        }
        if (!reached)
            continue;
        animation.currentIndex = static_cast<int64_t>(index);
        animation.frameShownAtNanoseconds = now;
        image.contentGeneration = nextKittyGeneration();
        earliest(now + uint64_t{animation.frames[index].gapMilliseconds} * nanosecondsPerMillisecond);
        stepped = true;
    }
    if (stepped)
        terminal_.updateFullScreen();
    return deadline;
}

void KittyGraphicsEngine::scheduleKittyAnimationTimer()
{
    terminal_.terminalLock().assumeHeldByCaller();
    const uint64_t serial = ++terminal_.kittyAnimationTimerSerial_;
    const std::optional<uint64_t> deadline = kittyGraphicsAdvanceAnimations(state_.animationClock.now());
    if (!deadline)
        return;
    // An armed timer due no later than this deadline is kept and stands for this serial from now
    // on: it runs early at worst, and a stream of commands does not fill the queue with items.
    if (state_.armedAnimationTimer && state_.armedAnimationTimer->deadlineNanoseconds <= *deadline) {
        *state_.armedAnimationTimer->ticket = serial;
        return;
    }
    auto ticket = std::make_shared<uint64_t>(serial);
    state_.armedAnimationTimer = KittyArmedAnimationTimer{*deadline, ticket};
    // The item holds the terminal weakly and takes its lock before it touches anything.
    std::weak_ptr<Terminal> weakTerminal = terminal_.weak_from_this();
    state_.animationClock.schedule(*deadline, [weakTerminal, ticket] {
        const std::shared_ptr<Terminal> terminal = weakTerminal.lock();
        if (!terminal)
            return;
        TerminalLockGuard guard(terminal->terminalLock());
        KittyGraphicsState& state = terminal->kittyGraphicsState_;
        if (state.armedAnimationTimer && state.armedAnimationTimer->ticket == ticket)
            state.armedAnimationTimer.reset();
        // A newer schedule has taken over: this item is stale.
        if (*ticket != terminal->kittyAnimationTimerSerial_)
            return;
        KittyGraphicsEngine engine(*terminal);
        engine.kittyGraphicsAdvanceAnimations(state.animationClock.now());
        engine.scheduleKittyAnimationTimer();
    });
}

} // namespace kestrovan
