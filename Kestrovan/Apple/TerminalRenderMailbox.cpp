#include "Kestrovan/Apple/TerminalRenderMailbox.h"

#include <utility>

namespace kestrovan {

namespace {

/// The requests each taken exactly once per prepared frame.
FramePreparationRequest takeRequests(TerminalRenderMailbox::State& box, FrameViewState viewState)
{
    FramePreparationRequest request;
    request.viewState = std::move(viewState);
    request.pendingSize = std::exchange(box.pendingSize, std::nullopt);
    request.notifyAccessibility = !std::exchange(box.suppressAccessibility, false);
    request.updateScroller = std::exchange(box.updateScroller, false);
    return request;
}

} // namespace

std::optional<FramePreparationRequest> TerminalRenderMailbox::takeRequest()
{
    return state.withLock([](State& box) -> std::optional<FramePreparationRequest> {
        if (!box.latestViewState)
            return std::nullopt;
        return takeRequests(box, *box.latestViewState);
    });
}

FramePreparationRequest TerminalRenderMailbox::takeRequest(FrameViewState viewState)
{
    return state.withLock([&viewState](State& box) { return takeRequests(box, std::move(viewState)); });
}

} // namespace kestrovan
