// The content snapshot: a text-level copy of a terminal's screen and scrollback for hosts, tests and
// automation, and the input-state snapshot that tells a host how to encode keys and pastes.
//
// Everything here is a plain value with field-by-field equality; a snapshot holds nothing of the
// terminal, so it may be handed to any thread. Rows carry absolute row numbers (the lines the
// buffer has trimmed from its scrollback so far plus the ring index), which keep their meaning
// while old scrollback goes: two snapshots taken at different times can be joined by row number.
// The terminal builds them (TerminalContentSnapshot.cpp); this file only defines them and the
// text rule of a row.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/KittyKeyboardFlags.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrovan {

struct TerminalDimensions
{
    int cols = 0;
    int rows = 0;

    constexpr TerminalDimensions() = default;
    constexpr TerminalDimensions(int cols, int rows) : cols(cols), rows(rows) {}

    friend constexpr bool operator==(const TerminalDimensions&, const TerminalDimensions&) = default;
};

/// The modes a host needs to turn keys, pastes and pointer events into what the program expects.
struct TerminalInputStateSnapshot
{
    TerminalDimensions dimensions;
    /// The alternate screen is the active one.
    bool isAlternateBuffer = false;
    /// DECCKM: cursor keys send ESC O letter.
    bool applicationCursor = false;
    /// DECKPAM: the keypad sends ESC O letter.
    bool applicationKeypad = false;
    bool bracketedPasteMode = false;
    Terminal::MouseMode mouseMode = Terminal::MouseMode::off;
    /// The kitty keyboard flags of the active screen (each screen keeps its own).
    KittyKeyboardFlags keyboardEnhancementFlags;
    /// DEC private mode 1004: focus changes are reported to the program.
    bool focusReportingEnabled = false;

    friend bool operator==(const TerminalInputStateSnapshot&, const TerminalInputStateSnapshot&) = default;
};

/// Which lines a content snapshot captures: the rows the view shows, or the live screen with up
/// to a number of scrollback lines above it.
class TerminalContentRegion
{
public:
    /// The last `maximumScrollbackRows` scrollback lines (all when there are fewer, none for 0 or
    /// less) followed by the whole live screen.
    static constexpr TerminalContentRegion history(int maximumScrollbackRows)
    {
        return TerminalContentRegion(Value(std::in_place_index<1>, maximumScrollbackRows));
    }
    /// The rows on screen, which are not the live rows while the view is scrolled back.
    static constexpr TerminalContentRegion viewport() { return TerminalContentRegion(); }

    constexpr bool isViewport() const { return value_.index() == 0; }
    /// The payload of a `history` region; absent for `viewport`.
    constexpr std::optional<int> maximumScrollbackRows() const
    {
        return value_.index() == 1 ? std::optional<int>(std::get<1>(value_)) : std::nullopt;
    }

    friend constexpr bool operator==(const TerminalContentRegion&, const TerminalContentRegion&) = default;

private:
    using Value = std::variant<std::monostate, int>;
    constexpr TerminalContentRegion() = default;
    constexpr explicit TerminalContentRegion(Value value) : value_(value) {}
    Value value_;
};

/// One cell as a host reads it.
struct TerminalCellSnapshot
{
    /// The cell's character or grapheme cluster as UTF-8; empty for a cell without a character.
    std::string text;
    /// 1 for a narrow character, 2 for the lead cell of a wide one, 0 for its continuation cell.
    int width = 1;
    Attribute attribute;

    TerminalCellSnapshot() = default;
    TerminalCellSnapshot(std::string text, int width, const Attribute& attribute)
        : text(std::move(text)), width(width), attribute(attribute)
    {}

    friend bool operator==(const TerminalCellSnapshot&, const TerminalCellSnapshot&) = default;
};

/// One captured line.
struct TerminalContentRowSnapshot
{
    /// Lines trimmed from the buffer's scrollback so far plus the line's ring index.
    int64_t absoluteRow = 0;
    /// The line continues the one above it (a soft wrap).
    bool isWrapped = false;
    /// One cell per column, continuation cells of wide characters included.
    std::vector<TerminalCellSnapshot> cells;

    TerminalContentRowSnapshot() = default;
    TerminalContentRowSnapshot(int64_t absoluteRow, std::vector<TerminalCellSnapshot> cells, bool isWrapped)
        : absoluteRow(absoluteRow), isWrapped(isWrapped), cells(std::move(cells))
    {}

    /// The row as text: up to its last character (a wide one whole), blanks between characters
    /// as spaces, continuation cells left out, U+0000 read as a space. Empty for a blank row.
    std::string text() const;

    friend bool operator==(const TerminalContentRowSnapshot&, const TerminalContentRowSnapshot&) = default;
};

/// A half-open range of absolute rows.
struct TerminalAbsoluteRowRange
{
    int64_t lowerBound = 0;
    int64_t upperBound = 0;

    constexpr bool isEmpty() const { return lowerBound >= upperBound; }
    constexpr int64_t count() const { return upperBound - lowerBound; }
    constexpr bool contains(int64_t row) const { return row >= lowerBound && row < upperBound; }

    friend constexpr bool operator==(const TerminalAbsoluteRowRange&,
                                     const TerminalAbsoluteRowRange&) = default;
};

struct TerminalContentSnapshot
{
    TerminalInputStateSnapshot inputState;
    /// The absolute rows of `rows`, first to one past the last.
    TerminalAbsoluteRowRange capturedRange;
    /// The absolute row of the first row of the live screen.
    int64_t liveTopRow = 0;
    std::vector<TerminalContentRowSnapshot> rows;
    /// The cursor as an absolute row and a column (the column may be one past the last while a
    /// wrap is pending).
    int64_t cursorRow = 0;
    int cursorColumn = 0;

    TerminalContentSnapshot() = default;
    TerminalContentSnapshot(const TerminalInputStateSnapshot& inputState,
                            TerminalAbsoluteRowRange capturedRange, int64_t liveTopRow,
                            std::vector<TerminalContentRowSnapshot> rows, int64_t cursorRow, int cursorColumn)
        : inputState(inputState), capturedRange(capturedRange), liveTopRow(liveTopRow), rows(std::move(rows)),
          cursorRow(cursorRow), cursorColumn(cursorColumn)
    {}

    friend bool operator==(const TerminalContentSnapshot&, const TerminalContentSnapshot&) = default;
};

/// The display text of ring line `line` of `buffer` over its first `columns` columns, by the rule of
/// a content snapshot row; empty outside the ring. The caller holds the terminal lock.
std::string displayText(const Buffer& buffer, int line, int columns);

} // namespace kestrovan
