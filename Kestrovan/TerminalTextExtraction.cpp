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

/// One piece of selected text as the walk below finds it: a row's text, or the line break that
/// ends the logical line whose last row is `row`.
struct SelectedPiece
{
    std::string text;
    int64_t row = 0;
    int64_t location = 0;
    bool isBreak = false;

    static SelectedPiece lineBreak(int64_t row) { return {std::string("\n"), row, -1, true}; }
};

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

namespace {

/// Walks the logical lines from `start` to `end` (start first, end row within the buffer) and
/// hands each piece to `sink` in order: `sink.piece(piece)` for text and line breaks, and
/// `sink.startLine()` where a new logical line begins. Soft-wrapped rows join; blank rows are held
/// back until a later row with content shows they lie inside the text, and blank rows at the
/// end of the range are left out. The rows are read one at a time, so a reader that only wants
/// the text holds no more than the text itself.
template <typename Sink>
void walkSelectedLines(Position start, Position end, const Buffer& buffer, Sink& sink)
{
    const int64_t firstRow = start.row;
    const int64_t lastRow = end.row;
    if (firstRow < 0 || lastRow >= buffer.lines().count() || firstRow > lastRow)
        return;
    const int firstColumn = columnArgument(start.col);
    const int lastColumn = columnArgument(end.col);

    // The blank rows held back: always the run of rows just before the current one, so two
    // numbers stand for them however many there are. Their texts are read when they are let go.
    int64_t pendingFrom = -1;
    int64_t pendingTo = -1;
    // Each held-back blank row after the first opens a logical line of its own, so that it reads
    // as an empty line.
    auto flushPending = [&] {
        for (int64_t row = pendingFrom; pendingFrom >= 0 && row <= pendingTo; ++row) {
            const bool wrapped = lineAt(buffer, row).isWrapped();
            if (!wrapped)
                sink.piece(SelectedPiece::lineBreak(row - 1));
            if (row > pendingFrom || !wrapped)
                sink.startLine();
            sink.piece(SelectedPiece{translateBufferLineToString(buffer, static_cast<int>(row), 0, -1), row,
                                     0, false});
        }
        pendingFrom = pendingTo = -1;
    };
    // A row with content after the rows before it: on the same logical line when it is a
    // soft-wrapped continuation, else on a new line after a line break.
    auto appendRow = [&](const BufferLine& line, int64_t row, std::string text) {
        if (!line.isWrapped()) {
            sink.piece(SelectedPiece::lineBreak(row - 1));
            sink.startLine();
        }
        sink.piece(SelectedPiece{std::move(text), row, 0, false});
    };

    // The first row: from the start column to the row's end, or to the end column when the
    // range is one row. A blank first row adds nothing, not even a line break.
    if (lineAt(buffer, firstRow).hasAnyContent()) {
        const int to = firstRow == lastRow ? lastColumn : -1;
        sink.piece(
            SelectedPiece{translateBufferLineToString(buffer, static_cast<int>(firstRow), firstColumn, to),
                          firstRow, start.col, false});
    }

    // The rows between: whole rows.
    for (int64_t row = firstRow + 1; row < lastRow; ++row) {
        const BufferLine& line = lineAt(buffer, row);
        if (!line.hasAnyContent()) {
            if (pendingFrom < 0)
                pendingFrom = row;
            pendingTo = row;
            continue;
        }
        flushPending();
        appendRow(line, row, translateBufferLineToString(buffer, static_cast<int>(row), 0, -1));
    }

    // The last row: from column 0 to the end column; when blank, the held-back rows go with it.
    if (lastRow != firstRow) {
        const BufferLine& last = lineAt(buffer, lastRow);
        if (!last.hasAnyContent())
            return;
        flushPending();
        appendRow(last, lastRow,
                  translateBufferLineToString(buffer, static_cast<int>(lastRow), 0, lastColumn));
    }
}

/// Builds the `Line`s of the walk, each piece a fragment with its length in characters.
struct LinesSink
{
    std::vector<Line> lines = std::vector<Line>(1);

    void startLine() { lines.emplace_back(); }
    void piece(SelectedPiece piece)
    {
        if (piece.isBreak) {
            lines.back().add(LineFragment{std::move(piece.text), piece.row, -1, 1});
            return;
        }
        const auto length = static_cast<int64_t>(graphemeCount(decodeUtf8(piece.text)));
        lines.back().add(LineFragment{std::move(piece.text), piece.row, piece.location, length});
    }
};

/// Counts the bytes of the walk's text.
struct TextSizeSink
{
    size_t bytes = 0;

    void startLine() {}
    void piece(const SelectedPiece& piece) { bytes += piece.text.size(); }
};

/// Appends the walk's text to a string made large enough beforehand.
struct TextSink
{
    std::string& text;

    void startLine() {}
    void piece(const SelectedPiece& piece) { text += piece.text; }
};

} // namespace

std::vector<Line> getSelectedLines(Position start, Position end, const Buffer& buffer)
{
    LinesSink sink;
    walkSelectedLines(start, end, buffer, sink);
    return std::move(sink.lines);
}

std::string getSelectedText(Position start, Position end, const Buffer& buffer)
{
    // Two walks, the first only counting, so that the text is made once at its final size: a
    // string grown as it goes would hold its old and new storage at once on every doubling, up
    // to two and a half times a large selection's text.
    TextSizeSink size;
    walkSelectedLines(start, end, buffer, size);
    std::string text;
    text.reserve(size.bytes);
    TextSink sink{text};
    walkSelectedLines(start, end, buffer, sink);
    return text;
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

    return getSelectedText(start, end, active);
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
