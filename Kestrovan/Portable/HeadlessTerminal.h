// A child program with a terminal emulator and no view: the portable, view-less use of the engine.
//
// A `HeadlessTerminal` is the delegate of both its `Terminal` and its `LocalProcess`. The child's
// output is parsed into the terminal under the terminal lock; the terminal's replies go straight
// back to the child through the process's writer; input sent through `send` is also scanned for
// the submission of a shell-integration command line. Hosts read the screen through content and
// input-state snapshots, which take the terminal lock too, so every byte received before a
// snapshot has been parsed when it is taken.
//
// None of the operations here may be called from inside a terminal callback that runs under the
// terminal lock: they take that lock themselves, and taking it twice stops the program.
#pragma once

#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/LocalProcess.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalOptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class DispatchQueue;
}

namespace kestrovan {

class HeadlessTerminal : public TerminalDelegate,
                         public LocalProcessDelegate,
                         public LocalProcessBorrowedDataDelegate,
                         public std::enable_shared_from_this<HeadlessTerminal>
{
    struct Passkey
    {};

public:
    using LaunchFailureHandler = std::function<void(const LocalProcessError&)>;
    using EndHandler = std::function<void(std::optional<int32_t>)>;

    /// A bitmap the terminal asked the host to make.
    struct Image
    {
        std::vector<uint8_t> bytes;
        int width = 0;
        int height = 0;
    };

    /// A terminal with `options` and a process that reports on `queue` (or on a new serial queue
    /// labelled as `LocalProcess` labels its own), delivering output on the reader's threads when
    /// `directDelivery` is on. A failed start goes to `onLaunchFailure`, or without one shows on
    /// the screen; the child's end goes to `onEnd`. Start the child with
    /// `process()->startProcess(...)`.
    static std::shared_ptr<HeadlessTerminal> create(std::shared_ptr<platform::DispatchQueue> queue,
                                                    const TerminalOptions& options, bool directDelivery,
                                                    LaunchFailureHandler onLaunchFailure, EndHandler onEnd);
    HeadlessTerminal(Passkey, std::shared_ptr<platform::DispatchQueue> queue, bool directDelivery,
                     LaunchFailureHandler onLaunchFailure, EndHandler onEnd);

    HeadlessTerminal(const HeadlessTerminal&) = delete;
    HeadlessTerminal& operator=(const HeadlessTerminal&) = delete;

    const std::shared_ptr<Terminal>& terminal() const { return terminal_; }
    std::shared_ptr<LocalProcess> process() const;
    /// Replaces the process; the new one should have this terminal as its delegate.
    void setProcess(std::shared_ptr<LocalProcess> process);
    EndHandler onEnd() const;
    void setOnEnd(EndHandler handler);
    /// The working directory the child last reported.
    std::optional<std::string> dir() const;
    void setDir(std::optional<std::string> directory);
    std::vector<Image> images() const;
    void setImages(std::vector<Image> images);

    /// User input for the child, scanned for a submitted command line.
    void send(std::span<const uint8_t> data);
    /// The UTF-8 bytes of `text` as user input.
    void send(std::string_view text);

    /// The snapshots and settings below take the terminal lock for their call.
    TerminalInputStateSnapshot terminalInputStateSnapshot();
    TerminalContentSnapshot terminalContentSnapshot(const TerminalContentRegion& region,
                                                    Terminal::BufferKind buffer);
    void changeScrollback(std::optional<int> lines);
    void setTerminalVisibility(TerminalVisibility visibility);
    void updatePixelGeometry(int cellWidth, int cellHeight);

    // LocalProcessDelegate
    void processFailedToStart(LocalProcess& source, const LocalProcessError& error) override;
    void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) override;
    void dataReceived(std::span<const uint8_t> slice) override;
    /// The same as `dataReceived`: the terminal parses the batch during the call and keeps none of
    /// it, so with direct delivery it is parsed straight out of the reader's ring, without a copy.
    void dataReceivedBorrowed(std::span<const uint8_t> bytes) override { dataReceived(bytes); }
    /// The terminal's rows and columns, with 16 for both pixel fields.
    winsize getWindowSize() override;

    // TerminalDelegate
    void send(Terminal& source, Bytes data) override;
    void sendReply(Terminal& source, Bytes data) override;
    void hostCurrentDirectoryUpdated(Terminal& source) override;
    void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width, int height) override;

private:
    void scanForSubmission(const std::shared_ptr<Terminal>& terminal, std::span<const uint8_t> bytes);

    std::shared_ptr<Terminal> terminal_;
    Locked<std::shared_ptr<LocalProcess>> process_;
    const LaunchFailureHandler onLaunchFailure_;
    const std::shared_ptr<platform::DispatchQueue> deliveryQueue_;
    const bool directDelivery_;
    // Serialises the process callbacks; recursive so that a launch failure may show its message
    // through `dataReceived`. Always taken before the terminal lock.
    mutable std::recursive_mutex callbackLock_;
    // Guarded by `callbackLock_`.
    EndHandler onEnd_;
    Locked<std::shared_ptr<Terminal>> inputRegistrationTerminal_;
    Locked<std::optional<std::string>> dir_;
    Locked<std::vector<Image>> images_;
};

} // namespace kestrovan
