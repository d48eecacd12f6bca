// Text extraction: a terminal's cells, rows, ranges and whole buffers as text, for copying a
// selection, for accessibility and services, and for saving a buffer.
//
// These only read, through the terminal's and the buffer's const readers, so they are free
// functions beside the terminal rather than members of it. Like every reader they run under the
// terminal lock the caller holds.
#pragma once

#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

class Buffer;
class Line;

/// The first character of a cell, a space when the cell is empty.
Character cellCharacter(const CharData& data);

/// The first character of the cell at a screen column and row (counted from `yDisp`), a space
/// when it is empty; absent outside the grid.
std::optional<Character> getCharacter(const Terminal& terminal, int col, int row)
    REQUIRES(terminal.terminalLock());
/// All scalars of that cell as UTF-8; absent outside the grid.
std::optional<std::string> getText(const Terminal& terminal, int col, int row)
    REQUIRES(terminal.terminalLock());

/// The text of columns `start` ..< `end` (-1: the whole row) of absolute row `line`: right-trimmed,
/// wide characters' right halves skipped, empty cells between characters read as spaces.
std::string translateBufferLineToString(const Buffer& buffer, int line, int start, int end);
/// The logical lines from `start` to `end` (start first, end row within the buffer): soft-wrapped
/// rows join, a line-break fragment ends each hard line, trailing blank rows are dropped.
std::vector<Line> getSelectedLines(Position start, Position end, const Buffer& buffer);
/// The text of those lines joined, as `getSelectedLines` would give it, made at its final size.
std::string getSelectedText(Position start, Position end, const Buffer& buffer);
/// The text between two positions of the active buffer, in either order.
std::string getText(const Terminal& terminal, Position start, Position end) REQUIRES(terminal.terminalLock());
/// Every line of a buffer, scrollback included, one line feed after each; rows the encoding cannot
/// represent are left out.
std::vector<uint8_t> getBufferAsData(const Terminal& terminal, Terminal::BufferKind kind,
                                     Terminal::TextEncoding encoding) REQUIRES(terminal.terminalLock());

} // namespace kestrovan
