// The door through which program output enters a terminal view, from any thread.
//
// The sender holds nothing but two replaceable callbacks behind a leaf lock: one for bytes, one
// for text. The view installs them when it is set up (they parse into the terminal and ask for a
// frame); until then, and after they are removed, whatever is fed is dropped. The lock is held
// only to read or replace a callback, never while one runs, so a callback may replace callbacks.
#pragma once

#include "Kestrovan/Locked.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrovan {

class TerminalFeedSender
{
public:
    /// Receives one batch of bytes; the span is valid during the call.
    using FeedBytes = std::function<void(std::span<const uint8_t>)>;
    using FeedText = std::function<void(std::string_view)>;

    struct State
    {
        FeedBytes feedBytes;
        FeedText feedText;
    };

    /// Hands bytes to the installed callback; dropped when there is none.
    void feed(std::span<const uint8_t> bytes);
    /// Hands text to the installed text callback; dropped when there is none.
    void feed(std::string_view text);

    /// Replaces both callbacks (empty ones remove them).
    void install(FeedBytes feedBytes, FeedText feedText);

private:
    Locked<State> state_;
};

} // namespace kestrovan
