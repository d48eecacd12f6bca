// The selected text, as copy, the find bar and hosts receive it.
//
// A stream selection goes through the terminal's selected-lines reader, which joins soft-wrapped
// rows and breaks lines only where the program ended them. A rectangle is read row by row here,
// widened so that a wide character cut by either edge is taken whole.
#include "Kestrovan/Buffer.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalTextExtraction.h"

#include <algorithm>
#include <string_view>

namespace kestrovan {

std::string SelectionService::getSelectedText() const
{
    if (isBlock_)
        return blockText();
    const std::shared_ptr<Terminal> owner = terminal();
    if (!owner)
        return std::string();
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    Buffer& buffer = owner->activeBuffer();
    Position first = std::min(start_, end_);
    Position last = std::max(start_, end_);
    // A row selection takes its last row whole, whatever column the gesture ended in.
    if (selectionMode_ == SelectionMode::row)
        last.col = owner->cols();
    if (first == last)
        return std::string();
    const int64_t count = buffer.lines().count();
    if (first.row < 0 || first.row >= count || last.row < 0)
        return std::string();
    last.row = std::min(last.row, count - 1);
    return kestrovan::getSelectedText(first, last, buffer);
}

std::string SelectionService::blockText() const
{
    const std::shared_ptr<Terminal> owner = terminal();
    if (!owner)
        return std::string();
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    Buffer& buffer = owner->activeBuffer();
    auto& lines = buffer.lines();
    const int64_t top = std::min(start_.row, end_.row);
    const int64_t bottom = std::max(start_.row, end_.row);
    // Hands each row's text, and the line feeds between rows, to `emit` in order.
    auto walk = [&](auto&& emit) {
        for (int64_t row = top; row <= bottom; ++row) {
            if (row > top)
                emit(std::string_view("\n"));
            if (row < 0 || row >= lines.count())
                continue;
            const BufferLine& line = *lines[static_cast<int>(row)];
            const std::optional<ColumnRange> range = selectedColumnsRange(row, line.count());
            if (!range)
                continue;
            int lo = range->lower;
            int hi = range->upper;
            // A wide character cut by the left edge, or by the right edge after its first half, is
            // taken whole.
            if (lo >= 1 && lo < line.count() && line.packed(lo).width() == 0 &&
                line.packed(lo - 1).width() == 2)
                --lo;
            if (hi >= 1 && hi < line.count() && line.packed(hi - 1).width() == 2)
                ++hi;
            if (lo >= hi)
                continue;
            std::string rowText = translateBufferLineToString(buffer, static_cast<int>(row), lo, hi);
            rowText.erase(rowText.find_last_not_of(' ') + 1);
            emit(std::string_view(rowText));
        }
    };
    // Two walks, the first only counting, so that the text is made once at its final size.
    size_t size = 0;
    walk([&](std::string_view piece) { size += piece.size(); });
    std::string text;
    text.reserve(size);
    walk([&](std::string_view piece) { text += piece; });
    return text;
}

} // namespace kestrovan
