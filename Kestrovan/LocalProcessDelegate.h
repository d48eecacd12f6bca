// The interfaces through which a `LocalProcess` reports to its client: output, the child's end,
// a start that failed, and the window size a new child starts with.
//
// A client that can consume output in place also implements `LocalProcessBorrowedDataDelegate`;
// with direct delivery on, it then receives each batch straight from the reader's buffer.
#pragma once

#include "Kestrovan/LocalProcessError.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/ioctl.h>

namespace kestrovan {

class LocalProcess;

class LocalProcessDelegate
{
public:
    virtual ~LocalProcessDelegate() = default;

    /// The child has ended and its output has been delivered; `exitCode` is absent when a signal
    /// ended it.
    virtual void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) = 0;
    /// A start failed. By default the message of `launchFailureText` is handed to `dataReceived`,
    /// so it shows in the terminal as if the child had printed it.
    virtual void processFailedToStart(LocalProcess& source, const LocalProcessError& error);
    /// One batch of the child's output, valid during the call.
    virtual void dataReceived(std::span<const uint8_t> slice) = 0;
    /// The size a new child's terminal starts with.
    virtual winsize getWindowSize() = 0;

    /// "\r\nProcess launch failed: ", the error's description and "\r\n".
    static std::string launchFailureText(const LocalProcessError& error);
};

/// Receives output without a copy, on the reader's threads (its parse thread, or its gather thread
/// for a small batch), when direct delivery is on.
class LocalProcessBorrowedDataDelegate
{
public:
    virtual ~LocalProcessBorrowedDataDelegate() = default;

    /// One batch of output, borrowed from the reader's ring: valid only during the call.
    virtual void dataReceivedBorrowed(std::span<const uint8_t> bytes) = 0;
};

} // namespace kestrovan
