// Click-to-move: a plain click on the command line the user is editing moves the shell's cursor
// to the clicked cell.
//
// The terminal cannot move the shell's cursor itself. It lays the input cells of the active
// prompt group out as one flat sequence (soft-wrapped rows continue a logical line; a hard line
// break inside a multi-line command counts as one cell), measures the distance from the cursor to
// the clicked cell in that sequence, and sends the shell that many cursor-key presses, or, when
// the prompt asked for it, one SGR mouse press report. Every condition that does not hold makes
// the click fall through to the view as an ordinary click; nothing is reported.
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kestrovan {

namespace {

// The cursor keys in their normal and application-cursor forms. The same bytes as the legacy key
// sequences the keyboard sends, spelled out here until those land in the engine.
constexpr std::string_view rightNormal = "\x1b[C";
constexpr std::string_view rightApp = "\x1bOC";
constexpr std::string_view leftNormal = "\x1b[D";
constexpr std::string_view leftApp = "\x1bOD";
constexpr std::string_view downNormal = "\x1b[B";
constexpr std::string_view downApp = "\x1bOB";
constexpr std::string_view upNormal = "\x1b[A";
constexpr std::string_view upApp = "\x1bOA";
// What a prompt that asked for special keys (special_key=1) reads as one step right or left.
constexpr std::string_view rightSpecial = "\x1b[1u";
constexpr std::string_view leftSpecial = "\x1b[1;1u";

/// The input cells of the active prompt group as one flat sequence: one entry per row of the
/// group, in row order, in four parallel lists.
struct SemanticGroupGeometry
{
    /// Absolute rows.
    std::vector<int> rows;
    /// Input cells before the row.
    std::vector<int> rowStartOffsets;
    /// The logical line of the row, 0 = the first.
    std::vector<int> rowLineIndexes;
    /// Input cells before the logical line of the row.
    std::vector<int> lineStartOffsets;
    int totalCells = 0;
    bool hasInput = false;

    std::optional<size_t> entry(int64_t row) const
    {
        const auto found = std::find(rows.begin(), rows.end(), row);
        if (found == rows.end())
            return std::nullopt;
        return static_cast<size_t>(found - rows.begin());
    }
};

/// A position in the flat sequence, with its logical line and its offset inside that line.
struct SemanticOffset
{
    int offset = 0;
    int line = 0;
    int offsetInLine = 0;
};

bool isRightHalf(PackedCell cell)
{
    const PackedCell::WidthState state = cell.widthState();
    return state == PackedCell::WidthState::continuation || state == PackedCell::WidthState::spacerHead;
}

constexpr uint8_t inputCode = SemanticContent::input().code();

/// The input cells of an absolute row left of column `before`; a wide character counts once.
int semanticInputCellCount(Buffer& buffer, int cols, int row, int64_t before)
{
    const BufferLine& line = *buffer.lines()[row];
    const int limit = static_cast<int>(std::min<int64_t>({line.count(), cols, before}));
    int count = 0;
    for (int column = 0; column < limit; ++column) {
        const PackedCell cell = line.packed(column);
        if (cell.semanticCode() == inputCode && !isRightHalf(cell))
            count += 1;
    }
    return count;
}

/// Lays out the active prompt group from its start row down: soft-wrapped rows continue the
/// logical line, rows joined through a hard line break start the next one. Absent when the
/// buffer no longer knows where the group starts.
std::optional<SemanticGroupGeometry> semanticGroupGeometry(Buffer& buffer, int cols)
{
    const std::optional<int> start = buffer.semanticPromptStartRow();
    if (!start)
        return std::nullopt;
    SemanticGroupGeometry geometry;
    const int lineCount = buffer.lines().count();
    int offset = 0;
    int lineIndex = 0;
    int lineStart = 0;
    for (int row = *start;;) {
        geometry.rows.push_back(row);
        geometry.rowStartOffsets.push_back(offset);
        geometry.rowLineIndexes.push_back(lineIndex);
        geometry.lineStartOffsets.push_back(lineStart);
        const int cells = semanticInputCellCount(buffer, cols, row, cols);
        offset += cells;
        if (cells > 0)
            geometry.hasInput = true;

        const int next = row + 1;
        if (next >= lineCount)
            break;
        if (buffer.lines()[next]->isWrapped()) {
            row = next;
            continue;
        }
        if (!buffer.rowContinuesActiveGroupHard(next))
            break;
        // The hard line break between two logical lines is one cell for the shell's cursor.
        offset += 1;
        lineIndex += 1;
        lineStart = offset;
        row = next;
    }
    geometry.totalCells = offset;
    return geometry;
}

std::optional<SemanticOffset> semanticOffset(Buffer& buffer, int cols, Position position,
                                             const SemanticGroupGeometry& geometry)
{
    const std::optional<size_t> entry = geometry.entry(position.row);
    if (!entry)
        return std::nullopt;
    SemanticOffset result;
    result.offset = geometry.rowStartOffsets[*entry] +
                    semanticInputCellCount(buffer, cols, static_cast<int>(position.row), position.col);
    result.line = geometry.rowLineIndexes[*entry];
    result.offsetInLine = result.offset - geometry.lineStartOffsets[*entry];
    return result;
}

/// A click on the right half of a wide input character means the character itself.
Position normalizeSemanticClickTarget(Buffer& buffer, Position position)
{
    const BufferLine& line = *buffer.lines()[static_cast<int>(position.row)];
    int64_t column = position.col;
    while (column >= 1 && column < line.count()) {
        const PackedCell cell = line.packed(static_cast<int>(column));
        if (!isRightHalf(cell) || cell.semanticCode() != inputCode)
            break;
        column -= 1;
    }
    return Position(column, position.row);
}

void appendRepeated(std::string& out, std::string_view sequence, int count)
{
    for (int i = 0; i < count; ++i)
        out.append(sequence);
}

bool passesSnapshotGate(const SemanticPromptPointerSnapshot& snapshot)
{
    // Double clicks select words, drags select ranges, and a click that ends with a selection
    // belongs to the selection; only a plain single click moves the cursor.
    return snapshot.pressWasSemanticEligible && snapshot.clickCount == 1 &&
           !snapshot.selectionIsActiveAtRelease && !snapshot.didDrag;
}

bool passesModifierGate(const SemanticPromptClickBehavior& behavior, SemanticPromptClickModifiers modifiers)
{
    switch (behavior.kind) {
    case SemanticPromptClickBehavior::Case::disabled:
        return false;
    case SemanticPromptClickBehavior::Case::enabled:
        return modifiers.isEmpty();
    case SemanticPromptClickBehavior::Case::requireModifier:
        // Exactly the required set: a chord with more keys means something else to the view.
        return modifiers == behavior.modifiers;
    }
    return false;
}

} // namespace

bool Terminal::mightRouteSemanticPromptClick(SemanticPromptClickModifiers modifiers,
                                             const SemanticPromptPointerSnapshot& snapshot) const
{
    if (!passesSnapshotGate(snapshot) || !passesModifierGate(semanticPromptClickBehavior_, modifiers))
        return false;
    if (isCurrentBufferAlternate() || _buffer->semanticPrompt().input() != SemanticInputState::armed)
        return false;
    return _buffer->semanticPrompt().clickMode().modeCase() != SemanticPromptClickMode::Case::none;
}

bool Terminal::handleSemanticPromptClick(Position at, SemanticPromptClickModifiers modifiers,
                                         const SemanticPromptPointerSnapshot& snapshot)
{
    if (!passesSnapshotGate(snapshot))
        return false;
    return handleSemanticPromptClick(at, modifiers);
}

bool Terminal::handleSemanticPromptClick(Position at, SemanticPromptClickModifiers modifiers)
{
    if (!passesModifierGate(semanticPromptClickBehavior_, modifiers))
        return false;
    // Only while the user edits a command line of the shell on the normal screen.
    if (isCurrentBufferAlternate() || _buffer->semanticPrompt().input() != SemanticInputState::armed)
        return false;
    Buffer& active = *_buffer;
    if (at.col < 0 || at.col >= _cols || at.row < 0 || at.row >= active.lines().count())
        return false;

    const std::optional<SemanticGroupGeometry> geometry = semanticGroupGeometry(active, _cols);
    if (!geometry || !geometry->entry(at.row) || !geometry->hasInput)
        return false;

    const SemanticPromptClickMode mode = active.semanticPrompt().clickMode();
    std::string bytes;
    switch (mode.modeCase()) {
    case SemanticPromptClickMode::Case::none:
        return false;

    case SemanticPromptClickMode::Case::clickEventsAbsolute:
    case SemanticPromptClickMode::Case::clickEventsRelative: {
        // One SGR press of button 0, no release: the shell places its cursor itself.
        int64_t y = 0;
        if (mode.modeCase() == SemanticPromptClickMode::Case::clickEventsAbsolute) {
            y = std::clamp<int64_t>(at.row - active.yBase() + 1, 1, _rows);
        } else {
            // Relative to the prompt row the clicked row hangs from: the group's origin, or the
            // latest secondary prompt of the group at or above the click.
            const std::optional<Position> origin = active.activeSemanticPromptOrigin();
            if (!origin || at.row < origin->row)
                return false;
            int64_t base = origin->row;
            const int64_t last = std::min<int64_t>(at.row, active.lines().count() - 1);
            for (int64_t row = origin->row; row <= last; ++row) {
                for (const SemanticMark& mark : active.lines()[static_cast<int>(row)]->semanticMarks()) {
                    if (mark.kind != SemanticPromptKind::secondary ||
                        mark.group != active.semanticPrompt().activeGroupID())
                        continue;
                    if (row < at.row || mark.column <= at.col)
                        base = row;
                }
            }
            y = at.row - base;
        }
        char report[64];
        std::snprintf(report, sizeof report, "\x1b[<0;%lld;%lldM", static_cast<long long>(at.col + 1),
                      static_cast<long long>(y));
        bytes = report;
        break;
    }

    case SemanticPromptClickMode::Case::cursorKeys: {
        const SemanticPromptCursorClickMode cursorMode = mode.cursorClickMode();
        const Position cursor(active.x(), active.yBase() + active.y());
        if (!geometry->entry(cursor.row))
            return false;
        const Position target = normalizeSemanticClickTarget(active, at);
        const std::optional<SemanticOffset> from = semanticOffset(active, _cols, cursor, *geometry);
        const std::optional<SemanticOffset> to = semanticOffset(active, _cols, target, *geometry);
        if (!from || !to)
            return false;
        if (cursorMode == SemanticPromptCursorClickMode::line && from->line != to->line)
            return false;
        const int delta = to->offset - from->offset;
        if (delta == 0)
            return false;

        const bool special = active.semanticPrompt().usesSpecialCursorKeys();
        const std::string_view right = special                                   ? rightSpecial
                                       : modes_[TerminalMode::applicationCursor] ? rightApp
                                                                                 : rightNormal;
        const std::string_view left = special                                   ? leftSpecial
                                      : modes_[TerminalMode::applicationCursor] ? leftApp
                                                                                : leftNormal;
        const bool vertical = cursorMode == SemanticPromptCursorClickMode::conservativeVertical ||
                              cursorMode == SemanticPromptCursorClickMode::smartVertical;
        if (from->line != to->line && vertical && !special) {
            // To the start of the cursor's line, up or down line by line, then along the
            // target's line: what a line editor that moves vertically by columns expects.
            const bool down = to->line > from->line;
            appendRepeated(bytes, left, from->offsetInLine);
            appendRepeated(bytes,
                           down ? (modes_[TerminalMode::applicationCursor] ? downApp : downNormal)
                                : (modes_[TerminalMode::applicationCursor] ? upApp : upNormal),
                           std::abs(to->line - from->line));
            appendRepeated(bytes, right, to->offsetInLine);
        } else {
            // Across line breaks too (mode multiple): each break is one step.
            appendRepeated(bytes, delta > 0 ? right : left, std::abs(delta));
        }
        break;
    }
    }

    // Without a host the bytes go nowhere, but the click was still this terminal's to take.
    sendBytes(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    return true;
}

} // namespace kestrovan
