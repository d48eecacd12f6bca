#include "Kestrovan/Apple/TerminalFeedSender.h"

namespace kestrovan {

void TerminalFeedSender::feed(std::span<const uint8_t> bytes)
{
    // The callback is copied out so that it runs without the lock: a feed parses for a while,
    // and another thread may want to swap the callbacks meanwhile.
    const FeedBytes callback = state_.withLock([](const State& state) { return state.feedBytes; });
    if (callback)
        callback(bytes);
}

void TerminalFeedSender::feed(std::string_view text)
{
    const FeedText callback = state_.withLock([](const State& state) { return state.feedText; });
    if (callback)
        callback(text);
}

void TerminalFeedSender::install(FeedBytes feedBytes, FeedText feedText)
{
    state_.withLock([&](State& state) {
        state.feedBytes = std::move(feedBytes);
        state.feedText = std::move(feedText);
    });
}

} // namespace kestrovan
