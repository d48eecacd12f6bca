#include "Kestrovan/Apple/TerminalRenderMailbox.h"

#include <utility>

namespace kestrovan {

std::optional<FramePreparationRequest> TerminalRenderMailbox::takeRequest()
{
    return state.withLock([](State& box) -> std::optional<FramePreparationRequest> {
        if (!box.latestViewState)
            return std::nullopt;
        FramePreparationRequest request;
        request.viewState = *box.latestViewState;
        request.pendingSize = std::exchange(box.pendingSize, std::nullopt);
        request.notifyAccessibility = !std::exchange(box.suppressAccessibility, false);
        request.updateScroller = std::exchange(box.updateScroller, false);
        return request;
    });
}

} // namespace kestrovan
