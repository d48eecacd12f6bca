#include "Kestrovan/ContentSnapshot.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// A cell without a character: no text, or text that starts with U+0000.
bool isEmptyCell(const TerminalCellSnapshot& cell)
{
    return cell.text.empty() || cell.text.front() == '\0';
}

} // namespace

std::string TerminalContentRowSnapshot::text() const
{
    // The text covers the cells up to the last character; a wide last character keeps its
    // continuation cell so that nothing after it is cut, and nothing past the row is read.
    size_t end = 0;
    for (size_t i = cells.size(); i > 0; --i) {
        const TerminalCellSnapshot& cell = cells[i - 1];
        if (!isEmptyCell(cell)) {
            end = std::min(cells.size(), i - 1 + static_cast<size_t>(std::clamp(cell.width, 0, 2)));
            break;
        }
    }

    std::string out;
    for (size_t i = 0; i < end; ++i) {
        const TerminalCellSnapshot& cell = cells[i];
        // The empty cell after a wide character is its right half, which adds nothing.
        if (i > 0 && cells[i - 1].width == 2 && isEmptyCell(cell))
            continue;
        out += cell.text.empty() ? std::string(" ") : cell.text;
    }
    std::replace(out.begin(), out.end(), '\0', ' ');
    return out;
}

} // namespace kestrovan
