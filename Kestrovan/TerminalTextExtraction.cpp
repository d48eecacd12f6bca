// Text extraction (TerminalTextExtraction.h). The selection and range forms join soft-wrapped rows
// into one logical line and put a line feed only where a line really ended; the whole-buffer dump
// writes every row on a line of its own.
#include "Kestrovan/TerminalTextExtraction.h"

#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/Line.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <climits>

namespace kestrovan {

namespace {

/// The fragment that ends the logical line whose last row is `row`.
LineFragment lineBreakFragment(int64_t row)
{
    return LineFragment{std::string("\n"), row, -1, 1};
}

LineFragment textFragment(std::string text, int64_t row, int64_t location)
{
    const auto length = static_cast<int64_t>(graphemeCount(decodeUtf8(text)));
    return LineFragment{std::move(text), row, location, length};
}

/// Adds the fragments of blank rows that turned out to lie inside the text. Each blank row
/// after the first opens a logical line of its own, so that it reads as an empty line.
void flushPending(std::vector<Line>& lines, std::vector<LineFragment>& pending)
{
    for (size_t index = 0; index < pending.size(); ++index) {
        if (index > 0 && pending[index].line != pending[index - 1].line)
            lines.emplace_back();
        lines.back().add(std::move(pending[index]));
    }
    pending.clear();
}

/// Adds row `row`'s text after the rows before it: on the same logical line when the row is a
/// soft-wrapped continuation, else on a new line after a line break.
void appendRow(std::vector<Line>& lines, const BufferLine& line, int64_t row, std::string text)
{
    if (!line.isWrapped()) {
        lines.back().add(lineBreakFragment(row - 1));
        lines.emplace_back();
    }
    lines.back().add(textFragment(std::move(text), row, 0));
}

/// A column of a `Position` as the row reader takes it; far-off columns clamp, they do not wrap.
int columnArgument(int64_t column)
{
    return static_cast<int>(std::clamp<int64_t>(column, INT_MIN, INT_MAX));
}

/// Appends `text` converted to `encoding`; false, appending nothing, when some character has no
/// form in that encoding.
bool appendEncoded(std::vector<uint8_t>& out, const std::string& text, Terminal::TextEncoding encoding)
{
    switch (encoding) {
    case Terminal::TextEncoding::utf8:
        // Row texts are built from valid scalars, so they are always well-formed UTF-8.
        out.insert(out.end(), text.begin(), text.end());
        return true;
    case Terminal::TextEncoding::ascii:
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            return false;
        out.insert(out.end(), text.begin(), text.end());
        return true;
    case Terminal::TextEncoding::isoLatin1: {
        const std::u32string scalars = decodeUtf8(text);
        if (std::any_of(scalars.begin(), scalars.end(), [](char32_t scalar) { return scalar > 0xFF; }))
            return false;
        for (char32_t scalar : scalars)
            out.push_back(static_cast<uint8_t>(scalar));
        return true;
    }
    }
    return false;
}

/// The line at a ring index inside the ring; a slot that holds no line reads as a line of no
/// cells, which has no text, as the blank line a writer would put there has none.
const BufferLine& lineAt(const Buffer& buffer, int64_t row)
{
    const BufferLine* line = buffer.lines().lineIfPresent(static_cast<int>(row)).get();
    return line ? *line : BufferLine::empty();
}

} // namespace

Character cellCharacter(const CharData& data)
{
    // An empty cell (code 0, no cluster) has no text: it reads as a space.
    if (data.code == 0 && !data.graphemeScalarValues)
        return Character(U' ');
    return data.getCharacter();
}

std::optional<Character> getCharacter(const Terminal& terminal, int col, int row)
{
    const std::optional<CharData> data = terminal.getCharData(col, row);
    if (!data)
        return std::nullopt;
    return cellCharacter(*data);
}

std::optional<std::string> getText(const Terminal& terminal, int col, int row)
{
    const std::optional<CharData> data = terminal.getCharData(col, row);
    if (!data)
        return std::nullopt;
    return data->getText();
}

std::string translateBufferLineToString(const Buffer& buffer, int line, int start, int end)
{
    if (line < 0 || line >= buffer.lines().count())
        return std::string();
    const BufferLine& row = lineAt(buffer, line);
    std::string text = row.translateToString(true, start, end, true, {}, [](const CharData& data) {
        return std::optional<std::string>(data.getText());
    });
    // Empty cells between characters read as U+0000; in text they are the blanks they look like.
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

std::vector<Line> getSelectedLines(Position start, Position end, const Buffer& buffer)
{
    std::vector<Line> lines(1);
    const int64_t firstRow = start.row;
    const int64_t lastRow = end.row;
    if (firstRow < 0 || lastRow >= buffer.lines().count() || firstRow > lastRow)
        return lines;
    const int firstColumn = columnArgument(start.col);
    const int lastColumn = columnArgument(end.col);

    // Blank rows are held back until a later row with content shows they lie inside the text;
    // blank rows at the end of the range are left out.
    std::vector<LineFragment> pending;

    // The first row: from the start column to the row's end, or to the end column when the
    // range is one row. A blank first row adds nothing, not even a line break.
    if (lineAt(buffer, firstRow).hasAnyContent()) {
        const int to = firstRow == lastRow ? lastColumn : -1;
        lines.back().add(
            textFragment(translateBufferLineToString(buffer, static_cast<int>(firstRow), firstColumn, to),
                         firstRow, start.col));
    }

    // The rows between: whole rows.
    for (int64_t row = firstRow + 1; row < lastRow; ++row) {
        const BufferLine& line = lineAt(buffer, row);
        std::string text = translateBufferLineToString(buffer, static_cast<int>(row), 0, -1);
        if (!line.hasAnyContent()) {
            if (!line.isWrapped())
                pending.push_back(lineBreakFragment(row - 1));
            pending.push_back(textFragment(std::move(text), row, 0));
            continue;
        }
        flushPending(lines, pending);
        appendRow(lines, line, row, std::move(text));
    }

    // The last row: from column 0 to the end column; when blank, the held-back rows go with it.
    if (lastRow != firstRow) {
        const BufferLine& last = lineAt(buffer, lastRow);
        if (!last.hasAnyContent())
            return lines;
        flushPending(lines, pending);
        appendRow(lines, last, lastRow,
                  translateBufferLineToString(buffer, static_cast<int>(lastRow), 0, lastColumn));
    }
    return lines;
}

std::string getText(const Terminal& terminal, Position start, Position end)
{
    if (start == end)
        return std::string();
    if (end < start)
        std::swap(start, end);
    const Buffer& active = terminal.buffer();
    const int count = active.lines().count();
    if (start.row < 0 || start.row >= count)
        return std::string();
    end.row = std::min<int64_t>(end.row, count - 1);

    // Line breaks are fragments of their own, so joining the texts is all there is to do.
    std::string text;
    for (const Line& line : getSelectedLines(start, end, active))
        text += line.toString();
    return text;
}

std::vector<uint8_t> getBufferAsData(const Terminal& terminal, Terminal::BufferKind kind,
                                     Terminal::TextEncoding encoding)
{
    // The alternate buffer has no lines until it is first used; its dump is then empty.
    const Buffer* source = &terminal.buffer(kind);
    std::vector<uint8_t> data;
    const int count = source->lines().count();
    for (int row = 0; row < count; ++row) {
        // A row the encoding cannot hold is dropped whole, line feed included, rather than
        // written with characters lost or replaced.
        if (appendEncoded(data, translateBufferLineToString(*source, row, 0, -1), encoding))
            data.push_back('\n');
    }
    return data;
}

} // namespace kestrovan
