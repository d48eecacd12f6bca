// Inline pictures a host shows in the text: the strips of one picture anchored on the rows below
// the cursor, one strip per row.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalImage.h"

namespace kestrovan {

void Terminal::insertImageRows(std::span<const std::shared_ptr<TerminalImage>> strips)
{
    Buffer& buffer = *_buffer;
    // Every strip starts in the column the picture starts in: a line feed in new-line mode (LNM)
    // would otherwise put the strips after the first at the left edge.
    const int column = buffer.x();
    for (const std::shared_ptr<TerminalImage>& strip : strips) {
        strip->setCol(column);
        buffer.attachImage(strip, buffer.y() + buffer.yBase());
        updateRange(buffer.y());
        cmdLineFeedBasic(buffer);
        buffer.setX(column);
    }
}

} // namespace kestrovan
