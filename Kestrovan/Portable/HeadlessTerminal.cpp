#include "Kestrovan/Portable/HeadlessTerminal.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/SemanticContent.h"
#include "Platform/Dispatch/SerialQueue.h"

namespace kestrovan {

std::shared_ptr<HeadlessTerminal>
HeadlessTerminal::create(std::shared_ptr<platform::DispatchQueue> queue, const TerminalOptions& options,
                         bool directDelivery, LaunchFailureHandler onLaunchFailure, EndHandler onEnd)
{
    auto headless = std::make_shared<HeadlessTerminal>(Passkey{}, std::move(queue), directDelivery,
                                                       std::move(onLaunchFailure), std::move(onEnd));
    // Both hold their delegate weakly, so neither keeps this object alive.
    headless->terminal_ = Terminal::create(headless, options);
    headless->inputRegistrationTerminal_.withLock(
        [&](std::shared_ptr<Terminal>& value) { value = headless->terminal_; });
    auto process = LocalProcess::create(headless, headless->deliveryQueue_, directDelivery);
    headless->process_.withLock([&](std::shared_ptr<LocalProcess>& value) { value = std::move(process); });
    return headless;
}

HeadlessTerminal::HeadlessTerminal(Passkey, std::shared_ptr<platform::DispatchQueue> queue,
                                   bool directDelivery, LaunchFailureHandler onLaunchFailure,
                                   EndHandler onEnd)
    : onLaunchFailure_(std::move(onLaunchFailure)),
      deliveryQueue_(queue
                         ? std::move(queue)
                         : std::make_shared<platform::SerialQueue>(LocalProcess::defaultDeliveryQueueLabel)),
      directDelivery_(directDelivery), onEnd_(std::move(onEnd))
{}

// --- Properties ----------------------------------------------------------------------------------

std::shared_ptr<LocalProcess> HeadlessTerminal::process() const
{
    return process_.withLock([](const std::shared_ptr<LocalProcess>& value) { return value; });
}

void HeadlessTerminal::setProcess(std::shared_ptr<LocalProcess> process)
{
    // The old process is released outside the lock: its teardown may take a while to start.
    process_.withLock([&](std::shared_ptr<LocalProcess>& value) { value.swap(process); });
}

HeadlessTerminal::EndHandler HeadlessTerminal::onEnd() const
{
    std::lock_guard guard(callbackLock_);
    return onEnd_;
}

void HeadlessTerminal::setOnEnd(EndHandler handler)
{
    std::lock_guard guard(callbackLock_);
    onEnd_ = std::move(handler);
}

std::optional<std::string> HeadlessTerminal::dir() const
{
    return dir_.withLock([](const std::optional<std::string>& value) { return value; });
}

void HeadlessTerminal::setDir(std::optional<std::string> directory)
{
    dir_.withLock([&](std::optional<std::string>& value) { value = std::move(directory); });
}

std::vector<HeadlessTerminal::Image> HeadlessTerminal::images() const
{
    return images_.withLock([](const std::vector<Image>& value) { return value; });
}

void HeadlessTerminal::setImages(std::vector<Image> images)
{
    images_.withLock([&](std::vector<Image>& value) { value = std::move(images); });
}

// --- Input ---------------------------------------------------------------------------------------

void HeadlessTerminal::send(std::span<const uint8_t> data)
{
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data.begin(), data.end());
    // With queued delivery the scan keeps its place among the output the terminal parses on the
    // delivery queue. A queue with nothing to do lends its turn, and the scan runs here at once:
    // queued instead, every keystroke would wake the queue's thread, which on a busy machine
    // competes for a processor with the kernel's echo of that very key.
    std::optional<platform::SerialQueue::InlineTurn> turn;
    if (!directDelivery_ && !deliveryQueue_->isCurrent()) {
        if (auto* serial = dynamic_cast<platform::SerialQueue*>(deliveryQueue_.get()))
            turn = serial->inlineTurn();
    }
    if (directDelivery_ || turn || deliveryQueue_->isCurrent()) {
        auto terminal =
            inputRegistrationTerminal_.withLock([](const std::shared_ptr<Terminal>& value) { return value; });
        scanForSubmission(terminal, *bytes);
        turn.reset();
    } else {
        // The bytes may reach the writer before the scan has run.
        deliveryQueue_->async([weakSelf = weak_from_this(), bytes] {
            auto self = weakSelf.lock();
            if (!self)
                return;
            auto terminal = self->inputRegistrationTerminal_.withLock(
                [](const std::shared_ptr<Terminal>& value) { return value; });
            self->scanForSubmission(terminal, *bytes);
        });
    }
    auto child = process();
    KESTROVAN_ASSERT(child != nullptr, "HeadlessTerminal::send needs a process");
    child->send(*bytes);
}

void HeadlessTerminal::send(std::string_view text)
{
    send(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void HeadlessTerminal::scanForSubmission(const std::shared_ptr<Terminal>& terminal,
                                         std::span<const uint8_t> bytes)
{
    if (!terminal)
        return;
    // The registration's own lock is a leaf lock, so the terminal is taken out of it before the
    // terminal lock is taken.
    {
        TerminalLockGuard guard(terminal->terminalLock());
        terminal->registerUserInput(bytes);
    }
}

// --- Snapshots and settings ----------------------------------------------------------------------

TerminalInputStateSnapshot HeadlessTerminal::terminalInputStateSnapshot()
{
    TerminalLockGuard guard(terminal_->terminalLock());
    return terminal_->inputStateSnapshotLocked();
}

TerminalContentSnapshot HeadlessTerminal::terminalContentSnapshot(const TerminalContentRegion& region,
                                                                  Terminal::BufferKind buffer)
{
    TerminalLockGuard guard(terminal_->terminalLock());
    return terminal_->contentSnapshotLocked(region, buffer);
}

void HeadlessTerminal::changeScrollback(std::optional<int> lines)
{
    {
        TerminalLockGuard guard(terminal_->terminalLock());
        terminal_->changeScrollback(lines);
    }
}

void HeadlessTerminal::setTerminalVisibility(TerminalVisibility visibility)
{
    // Records the visibility and reports a change when the program asked for such reports.
    {
        TerminalLockGuard guard(terminal_->terminalLock());
        terminal_->setTerminalVisibility(visibility);
    }
}

void HeadlessTerminal::updatePixelGeometry(int cellWidth, int cellHeight)
{
    {
        TerminalLockGuard guard(terminal_->terminalLock());
        terminal_->updatePixelGeometry(cellWidth, cellHeight);
    }
}

// --- As the process's delegate -------------------------------------------------------------------

void HeadlessTerminal::dataReceived(std::span<const uint8_t> slice)
{
    std::lock_guard guard(callbackLock_);
    {
        TerminalLockGuard guard(terminal_->terminalLock());
        terminal_->feed(slice);
    }
}

void HeadlessTerminal::processFailedToStart(LocalProcess& /*source*/, const LocalProcessError& error)
{
    std::lock_guard guard(callbackLock_);
    if (onLaunchFailure_) {
        onLaunchFailure_(error);
        return;
    }
    const std::string text = launchFailureText(error);
    dataReceived(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void HeadlessTerminal::processTerminated(LocalProcess& /*source*/, std::optional<int32_t> exitCode)
{
    std::lock_guard guard(callbackLock_);
    {
        TerminalLockGuard guard(terminal_->terminalLock());
        terminal_->programStatusProcessExited();
    }
    if (onEnd_)
        onEnd_(exitCode);
}

winsize HeadlessTerminal::getWindowSize()
{
    std::pair<int, int> dimensions;
    {
        TerminalLockGuard guard(terminal_->terminalLock());
        dimensions = terminal_->getDims();
    }
    const auto [cols, rows] = dimensions;
    KESTROVAN_ASSERT(cols < 65536 && rows < 65536,
                     "HeadlessTerminal::getWindowSize: the terminal is too large");
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    size.ws_xpixel = 16;
    size.ws_ypixel = 16;
    return size;
}

// --- As the terminal's delegate ------------------------------------------------------------------

void HeadlessTerminal::send(Terminal& /*source*/, Bytes data)
{
    // Input the terminal encoded (mouse reports, prompt clicks, pastes); scanned where it was made.
    auto child = process();
    KESTROVAN_ASSERT(child != nullptr, "HeadlessTerminal: terminal input needs a process");
    child->send(data);
}

void HeadlessTerminal::sendReply(Terminal& /*source*/, Bytes data)
{
    // Replies of the terminal are not user input: they go out without a scan, and within the
    // process's bound on replies waiting for a child that does not read.
    auto child = process();
    KESTROVAN_ASSERT(child != nullptr, "HeadlessTerminal: a terminal reply needs a process");
    child->sendReply(data);
}

void HeadlessTerminal::hostCurrentDirectoryUpdated(Terminal& source)
{
    setDir(source.hostCurrentDirectory());
}

void HeadlessTerminal::createImageFromBitmap(Terminal& /*source*/, std::vector<uint8_t>& bytes, int width,
                                             int height)
{
    images_.withLock([&](std::vector<Image>& value) {
        value.push_back(Image{std::move(bytes), width, height});
    });
}

} // namespace kestrovan
