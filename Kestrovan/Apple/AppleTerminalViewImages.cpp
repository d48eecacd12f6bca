// Inline pictures the terminal hands to its view: OSC 1337 files and Sixel bitmaps.
//
// Both arrive on the parsing thread with the terminal lock held, as the terminal's delegate calls
// them. The picture is sized against the cell and the pixels per point the view last measured (the
// cross-thread copies, as the main thread's own values may be changing meanwhile), cut into strips
// one cell row high and attached to the lines under the cursor, which moves down a line per strip
// (`InlineImageInsertion.h`). Before the view has measured its font a picture is dropped. The feed
// that brought the picture asks for a frame when it ends, so the strips are drawn with their rows.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/InlineImageInsertion.h"

namespace kestrovan {

namespace {

/// The cell size and image scale pictures are sized by, once both are known.
std::optional<InlineImageMetrics> inlineImageMetrics(const TerminalViewCrossThreadState& state)
{
    if (!state.cachedCellPointSize || !state.cachedImageScale)
        return std::nullopt;
    return InlineImageMetrics{*state.cachedCellPointSize, *state.cachedImageScale};
}

} // namespace

void TerminalView::createImage(Terminal& source, Bytes data, ImageSizeRequest width, ImageSizeRequest height,
                               bool preserveAspectRatio)
{
    source.terminalLock().preconditionLocked();
    kestrovan::createImage(source, data, width, height, preserveAspectRatio,
                           inlineImageMetrics(crossThreadState()));
}

void TerminalView::createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width, int height)
{
    source.terminalLock().preconditionLocked();
    kestrovan::createImageFromBitmap(source, bytes, width, height, inlineImageMetrics(crossThreadState()));
}

} // namespace kestrovan
