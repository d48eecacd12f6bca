// The scan for visible rows with blinking cells.
#include "Kestrovan/Apple/VisibleBlinkRows.h"

#include <algorithm>

namespace kestrovan {

std::vector<int64_t> visibleBlinkRowsLocked(const Terminal& terminal)
{
    terminal.terminalLock().preconditionLocked();
    std::vector<int64_t> found;
    const Buffer& buffer = terminal.buffer();
    const CircularBufferLineList& lines = buffer.lines();
    const int cols = terminal.cols();
    if (lines.count() == 0 || cols <= 0)
        return found;
    const int first = std::max(buffer.yDisp(), 0);
    const int end = std::min(first + terminal.rows(), lines.count());
    for (int index = first; index < end; ++index) {
        // An empty slot reads as a blank line, which never blinks.
        const CircularBufferLineList::ConstLinePointer line = lines.lineIfPresent(index);
        if (!line || line->count() == 0)
            continue;
        // A line shorter than the terminal reads its last cell for the columns it lacks, so only
        // its own columns need looking at.
        const int columns = std::min(cols, line->count());
        for (int column = 0; column < columns; ++column) {
            if ((*line)[column].attribute.style.contains(CharacterStyle::blink)) {
                found.push_back(index);
                break;
            }
        }
    }
    return found;
}

} // namespace kestrovan
