// What a double click selects: the URL, file path (with a line and column suffix), quoted string,
// bracketed expression, run of blanks or word under the pointer; and the word boundaries a
// word-mode selection grows by.
//
// URLs, paths and quotes are found on the logical line (a row and its soft-wrapped continuations),
// so one that wraps is selected whole. The fallback rules work on the clicked row alone. The
// character of a cell is the first character of its text; an empty cell reads as U+0000, and the
// right half of a wide character reads as the character itself, so that a run of wide letters is
// one word.
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Line.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalTextExtraction.h"
#include "Platform/Regex/UnicodeProperties.h"

#include <algorithm>

namespace kestrovan {

namespace {

constexpr char32_t nullScalar = 0;
/// How far a logical line is followed up and down from the clicked row.
constexpr int maximumLogicalLineSteps = 100;

bool is(const Character& c, char32_t scalar)
{
    return c.scalars.size() == 1 && c.scalars.front() == scalar;
}

bool isLetter(const Character& c)
{
    return !c.isEmpty() && platform::isLetter(c.firstScalar());
}

bool isNumber(const Character& c)
{
    return !c.isEmpty() && platform::isNumber(c.firstScalar());
}

bool isLetterOrNumber(const Character& c)
{
    return isLetter(c) || isNumber(c);
}

bool isWordCharacter(const Character& c)
{
    return isLetterOrNumber(c) || is(c, '.') || is(c, '_') || is(c, '-');
}

bool isBlank(const Character& c)
{
    return is(c, ' ');
}

bool isNull(const Character& c)
{
    return is(c, nullScalar);
}

bool isSingleAscii(const Character& c)
{
    return c.scalars.size() == 1 && c.scalars.front() < 0x80;
}

bool isUrlCharacter(const Character& c)
{
    if (isSingleAscii(c)) {
        const char32_t s = c.scalars.front();
        if (s < 0x21 || s > 0x7E)
            return false;
        return std::u32string_view(U"<>\"'`{}|\\^").find(s) == std::u32string_view::npos;
    }
    return isLetterOrNumber(c);
}

bool isSchemeCharacter(const Character& c)
{
    return isLetterOrNumber(c) || is(c, '+') || is(c, '.') || is(c, '-');
}

bool isPathCharacter(const Character& c)
{
    if (isLetterOrNumber(c))
        return true;
    return c.scalars.size() == 1 &&
           std::u32string_view(U"/._-~+@:").find(c.scalars.front()) != std::u32string_view::npos;
}

bool isTrailingUrlPunctuation(const Character& c)
{
    return c.scalars.size() == 1 &&
           std::u32string_view(U".,;:!?").find(c.scalars.front()) != std::u32string_view::npos;
}

bool isQuote(const Character& c)
{
    return is(c, '"') || is(c, '\'') || is(c, '`');
}

/// The character of a cell as the rules see it (see the file comment); U+0000 off the line.
Character characterAt(const Buffer& buffer, int64_t row, int64_t col)
{
    if (row < 0 || row >= buffer.lines().count() || col < 0)
        return Character(nullScalar);
    const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(row));
    if (col >= line.count())
        return Character(nullScalar);
    int index = static_cast<int>(col);
    if (index >= 1 && line.packed(index).width() == 0 && line.packed(index - 1).width() == 2)
        --index;
    return line.arena()->unpack(line.packed(index)).getCharacter();
}

/// The scalar of a cell that holds exactly one scalar, else 0: enough to spot brackets, which
/// are single ASCII scalars, without unpacking the cell.
char32_t singleScalarAt(const BufferLine& line, int col)
{
    if (col < 0 || col >= line.count())
        return 0;
    const PackedCell cell = line.packed(col);
    return cell.kind() == PackedCell::Kind::scalar ? static_cast<char32_t>(cell.content()) : 0;
}

char32_t closerOf(char32_t opener)
{
    switch (opener) {
    case '(':
        return ')';
    case '[':
        return ']';
    case '{':
        return '}';
    default:
        return 0;
    }
}

char32_t openerOf(char32_t closer)
{
    switch (closer) {
    case ')':
        return '(';
    case ']':
        return '[';
    case '}':
        return '{';
    default:
        return 0;
    }
}

} // namespace

// --- Entry ---------------------------------------------------------------------------------------

void SelectionService::selectWordOrExpression(Position at, const Buffer& buffer)
{
    const std::shared_ptr<Terminal> owner = terminal();
    const int64_t cols = owner ? owner->cols() : buffer.cols();
    at.col = std::clamp<int64_t>(at.col, 0, std::max<int64_t>(cols - 1, 0));
    at.row = std::clamp<int64_t>(at.row, 0, std::max<int64_t>(buffer.lines().count() - 1, 0));
    isBlock_ = false;
    if (const auto range = smartWordRange(at, buffer)) {
        start_ = range->first;
        end_ = range->second;
    } else {
        selectPlainWordOrExpression(at, buffer);
    }
    selectionMode_ = SelectionMode::word;
    wordSelectionAnchor_ = std::make_pair(start_, end_);
    rowSelectionAnchor_.reset();
    selectingRows_ = false;
    notify();
}

// The cells of a logical line, limited to 100 rows each way so a double click in a huge wrapped
// line (a minified file, a long base64 blob) stays quick.
std::vector<SelectionService::LineCell> SelectionService::logicalLineCells(int64_t row,
                                                                           const Buffer& buffer) const
{
    std::vector<LineCell> cells;
    const CircularBufferLineList& lines = buffer.lines();
    if (row < 0 || row >= lines.count())
        return cells;
    int64_t first = row;
    for (int step = 0; step < maximumLogicalLineSteps && first > 0 &&
                       lines.lineOrEmpty(static_cast<int>(first)).isWrapped();
         ++step)
        --first;
    int64_t last = row;
    for (int step = 0; step < maximumLogicalLineSteps && last + 1 < lines.count() &&
                       lines.lineOrEmpty(static_cast<int>(last + 1)).isWrapped();
         ++step)
        ++last;
    const int cols = columnCount();
    for (int64_t r = first; r <= last; ++r) {
        const BufferLine& line = lines.lineOrEmpty(static_cast<int>(r));
        const int limit = std::min(line.count(), cols);
        for (int c = 0; c < limit; ++c) {
            const int width = line.packed(c).width();
            if (width == 0)
                continue;
            Character character = line.arena()->unpack(line.packed(c)).getCharacter();
            // The empty last cell of a wrapped row is where a wide character did not fit, or
            // where the program wrote nothing before the wrap; it is no part of the text.
            if (c == limit - 1 && r != last && isNull(character))
                continue;
            cells.push_back(LineCell{std::move(character), r, c, width});
        }
    }
    return cells;
}

// URLs first, then paths, then quoted strings: a URL may hold a path and quotes may hold either,
// and the click means the most specific thing under it.
std::optional<std::pair<Position, Position>> SelectionService::smartWordRange(Position at,
                                                                              const Buffer& buffer) const
{
    const std::vector<LineCell> cells = logicalLineCells(at.row, buffer);
    const auto found = std::find_if(cells.begin(), cells.end(), [&](const LineCell& cell) {
        return cell.row == at.row && cell.col <= at.col && at.col < cell.col + cell.width;
    });
    if (found == cells.end())
        return std::nullopt;
    const auto index = static_cast<size_t>(found - cells.begin());
    std::vector<Character> chars;
    chars.reserve(cells.size());
    for (const LineCell& cell : cells)
        chars.push_back(cell.character);
    std::optional<IndexRange> range = urlRange(chars, index);
    if (!range)
        range = pathRange(chars, index);
    if (!range)
        range = quotedRange(chars, index);
    if (!range || range->upper <= range->lower)
        return std::nullopt;
    const LineCell& first = cells[range->lower];
    const LineCell& last = cells[range->upper - 1];
    return std::make_pair(Position(first.col, first.row), Position(last.col + last.width, last.row));
}

// --- URLs, paths and quotes ----------------------------------------------------------------------

std::optional<SelectionService::IndexRange> SelectionService::urlRange(std::span<const Character> chars,
                                                                       size_t containing)
{
    if (containing >= chars.size() || !isUrlCharacter(chars[containing]))
        return std::nullopt;
    size_t lo = containing;
    while (lo > 0 && isUrlCharacter(chars[lo - 1]))
        --lo;
    size_t hi = containing + 1;
    while (hi < chars.size() && isUrlCharacter(chars[hi]))
        ++hi;

    // The run of URL characters around the click bounds every candidate; a URL starts at a scheme
    // ("https://") or at "www." that does not continue a word, host or path.
    // Candidate starts, each with the least end a URL from it must reach: past "://" for a
    // scheme, past "www." for the three-w form.
    std::vector<std::pair<size_t, size_t>> candidates;
    for (size_t k = lo; k < hi;) {
        if (is(chars[k], ':') && k + 2 < hi && is(chars[k + 1], '/') && is(chars[k + 2], '/')) {
            size_t s = k;
            while (s > lo && isSchemeCharacter(chars[s - 1]))
                --s;
            // A scheme begins with a letter.
            while (s < k && !isLetter(chars[s]))
                ++s;
            if (s < k && k != lo)
                candidates.emplace_back(s, k + 3);
            k += 3;
            continue;
        }
        const Character& w = chars[k];
        if (k + 4 <= hi && (is(w, 'w') || is(w, 'W')) && chars[k + 1] == w && chars[k + 2] == w &&
            is(chars[k + 3], '.')) {
            bool boundary = k == lo;
            if (!boundary) {
                const Character& previous = chars[k - 1];
                const bool joins = isSingleAscii(previous) &&
                                   (std::isalnum(static_cast<int>(previous.scalars.front())) ||
                                    std::u32string_view(U"+.-/@").find(previous.scalars.front()) !=
                                        std::u32string_view::npos);
                boundary = !joins;
            }
            if (boundary) {
                candidates.emplace_back(k, k + 4);
                k += 4;
                continue;
            }
        }
        ++k;
    }
    // The first candidate whose trimmed URL reaches past its marker and covers the click wins.
    for (const auto& [s, minimumEnd] : candidates) {
        const size_t e = trimURLEnd(chars, s, hi);
        if (s <= containing && containing < e && minimumEnd < e)
            return IndexRange{s, e};
    }
    return std::nullopt;
}

size_t SelectionService::trimURLEnd(std::span<const Character> chars, size_t from, size_t to)
{
    size_t e = std::min(to, chars.size());
    while (from < e) {
        const Character& last = chars[e - 1];
        if (isTrailingUrlPunctuation(last)) {
            --e;
            continue;
        }
        if (is(last, ')') || is(last, ']')) {
            // A closer stays only when the URL opened it.
            const char32_t closer = last.scalars.front();
            const char32_t opener = openerOf(closer);
            size_t openers = 0;
            size_t closers = 0;
            for (size_t k = from; k < e; ++k) {
                openers += is(chars[k], opener) ? 1 : 0;
                closers += is(chars[k], closer) ? 1 : 0;
            }
            if (openers >= closers)
                return e;
            --e;
            continue;
        }
        return e;
    }
    return from;
}

std::optional<SelectionService::IndexRange> SelectionService::pathRange(std::span<const Character> chars,
                                                                        size_t containing)
{
    if (containing >= chars.size() || !isPathCharacter(chars[containing]))
        return std::nullopt;
    size_t lo = containing;
    while (lo > 0 && isPathCharacter(chars[lo - 1]))
        --lo;
    size_t hi = containing + 1;
    while (hi < chars.size() && isPathCharacter(chars[hi]))
        ++hi;
    // A sentence's full stop after a path is not part of it.
    while (hi - lo >= 2 && is(chars[hi - 1], '.') && isLetterOrNumber(chars[hi - 2]))
        --hi;

    // "src/x.c:12:5" and "/usr/lib:/opt/lib" both have colons: the segments between them are
    // paths of their own, and only number-only segments join the path before them.
    // Segments between colons; a path segment takes in up to two numeric segments after it (a
    // line number, then a column).
    std::vector<IndexRange> segments;
    size_t segmentStart = lo;
    for (size_t k = lo; k < hi; ++k) {
        if (is(chars[k], ':')) {
            segments.push_back(IndexRange{segmentStart, k});
            segmentStart = k + 1;
        }
    }
    segments.push_back(IndexRange{segmentStart, hi});

    const auto isNumeric = [&](IndexRange segment) {
        if (segment.upper <= segment.lower)
            return false;
        for (size_t k = segment.lower; k < segment.upper; ++k) {
            if (!isNumber(chars[k]))
                return false;
        }
        return true;
    };
    for (size_t index = 0; index < segments.size(); ++index) {
        const IndexRange segment = segments[index];
        bool hasSlash = false;
        bool hasOther = false;
        for (size_t k = segment.lower; k < segment.upper; ++k) {
            if (is(chars[k], '/'))
                hasSlash = true;
            else
                hasOther = true;
        }
        if (!hasSlash || !hasOther)
            continue;
        size_t segmentEnd = segment.upper;
        for (size_t next = index + 1; next < segments.size() && next <= index + 2; ++next) {
            if (!isNumeric(segments[next]))
                break;
            segmentEnd = segments[next].upper;
        }
        if (segment.lower <= containing && containing < segmentEnd)
            return IndexRange{segment.lower, segmentEnd};
    }
    return std::nullopt;
}

// Whether a quote character opens or closes a string: not when escaped by an odd number of
// backslashes, and an apostrophe not when it sits inside a word.
bool SelectionService::isDelimitingQuote(std::span<const Character> chars, size_t at, char32_t quote)
{
    if (at >= chars.size() || !is(chars[at], quote))
        return false;
    size_t backslashes = 0;
    while (backslashes < at && is(chars[at - 1 - backslashes], '\\'))
        ++backslashes;
    if (backslashes % 2 == 1)
        return false;
    // An apostrophe between two letters belongs to a word ("don't").
    if (quote == '\'' && at > 0 && at + 1 < chars.size() && isLetter(chars[at - 1]) &&
        isLetter(chars[at + 1]))
        return false;
    return true;
}

std::optional<SelectionService::IndexRange> SelectionService::quotedRange(std::span<const Character> chars,
                                                                          size_t at)
{
    if (at >= chars.size() || !isQuote(chars[at]))
        return std::nullopt;
    const char32_t quote = chars[at].scalars.front();
    if (!isDelimitingQuote(chars, at, quote))
        return std::nullopt;
    // Quotes pair up from the start of the line: an odd count before this one means it closes.
    size_t before = 0;
    for (size_t k = 0; k < at; ++k)
        before += isDelimitingQuote(chars, k, quote) ? 1 : 0;
    if (before % 2 == 1) {
        // This quote closes a string: find the one that opened it.
        for (size_t j = at; j-- > 0;) {
            if (isDelimitingQuote(chars, j, quote))
                return IndexRange{j, at + 1};
        }
        return std::nullopt;
    }
    for (size_t j = at + 1; j < chars.size(); ++j) {
        if (isDelimitingQuote(chars, j, quote))
            return IndexRange{at, j + 1};
    }
    return std::nullopt;
}

// --- The fallback on the clicked row -------------------------------------------------------------

void SelectionService::selectPlainWordOrExpression(Position at, const Buffer& buffer)
{
    const Character c = characterAt(buffer, at.row, at.col);
    if (isNull(c)) {
        simpleScanSelection(at, buffer, isNull);
    } else if (isBlank(c)) {
        simpleScanSelection(at, buffer, isBlank);
    } else if (isLetterOrNumber(c)) {
        simpleScanSelection(at, buffer, isWordCharacter);
    } else if (is(c, '(') || is(c, '[') || is(c, '{')) {
        balancedSearchForward(at, buffer);
    } else if (is(c, ')') || is(c, ']') || is(c, '}')) {
        balancedSearchBackward(at, buffer);
    } else {
        start_ = at;
        end_ = at;
    }
}

template <typename Include>
void SelectionService::simpleScanSelection(Position from, const Buffer& buffer, Include include)
{
    const int64_t cols = columnCount();
    int64_t left = from.col;
    while (left > 0 && include(characterAt(buffer, from.row, left - 1)))
        --left;
    int64_t right = from.col;
    while (right < cols && include(characterAt(buffer, from.row, right)))
        ++right;
    start_ = Position(left, from.row);
    end_ = Position(right, from.row);
}

// From an opening bracket to its own closer, nested pairs skipped, as far as the bottom of the
// screen. Only single-scalar cells can be brackets, so the scan reads scalars without unpacking.
void SelectionService::balancedSearchForward(Position from, const Buffer& buffer)
{
    start_ = from;
    const int64_t bottom = std::min<int64_t>(buffer.yDisp() + buffer.rows(), buffer.lines().count());
    if (from.row >= bottom)
        return;
    std::vector<char32_t> expected;
    for (int64_t row = from.row; row < bottom; ++row) {
        const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(row));
        for (int64_t col = row == from.row ? from.col : 0; col < line.count(); ++col) {
            const char32_t scalar = singleScalarAt(line, static_cast<int>(col));
            if (!expected.empty() && scalar == expected.back()) {
                expected.pop_back();
                if (expected.empty()) {
                    end_ = Position(col + 1, row);
                    return;
                }
            } else if (const char32_t closer = closerOf(scalar)) {
                expected.push_back(closer);
            }
        }
    }
    start_ = from;
    end_ = from;
}

// From a closing bracket back to its own opener, up through the scrollback if need be.
void SelectionService::balancedSearchBackward(Position from, const Buffer& buffer)
{
    end_ = from;
    std::vector<char32_t> expected;
    for (int64_t row = std::min<int64_t>(from.row, buffer.lines().count() - 1); row >= 0; --row) {
        const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(row));
        const int64_t startCol =
            row == from.row ? std::min<int64_t>(from.col, line.count() - 1) : line.count() - 1;
        for (int64_t col = startCol; col >= 0; --col) {
            const char32_t scalar = singleScalarAt(line, static_cast<int>(col));
            if (!expected.empty() && scalar == expected.back()) {
                expected.pop_back();
                if (expected.empty()) {
                    start_ = Position(col, row);
                    end_ = Position(from.col + 1, from.row);
                    return;
                }
            } else if (const char32_t opener = openerOf(scalar)) {
                expected.push_back(opener);
            }
        }
    }
    start_ = from;
    end_ = from;
}

// --- Word boundaries -----------------------------------------------------------------------------

Position SelectionService::extendToWordBoundary(Position position, const Buffer& buffer, int direction) const
{
    const Character c = characterAt(buffer, position.row, position.col);
    bool (*inClass)(const Character&) = nullptr;
    if (isNull(c))
        inClass = isNull;
    else if (isBlank(c))
        inClass = isBlank;
    else if (isLetterOrNumber(c))
        inClass = isWordCharacter;
    else
        return position;
    int64_t col = position.col;
    if (direction < 0) {
        while (col > 0 && inClass(characterAt(buffer, position.row, col - 1)))
            --col;
    } else {
        const int64_t cols = columnCount();
        while (col < cols && inClass(characterAt(buffer, position.row, col)))
            ++col;
    }
    return Position(col, position.row);
}

// The word the view looks up in a dictionary: word characters only, on the row under the pointer,
// with its text as copying it would give.
std::optional<std::pair<std::string, Position>> SelectionService::word(Position at,
                                                                       const Buffer& buffer) const
{
    const std::shared_ptr<Terminal> owner = terminal();
    if (!owner || at.col < 0 || at.col >= owner->cols() || at.row < 0 || at.row >= buffer.lines().count())
        return std::nullopt;
    if (!isWordCharacter(characterAt(buffer, at.row, at.col)))
        return std::nullopt;
    int64_t left = at.col;
    while (left > 0 && isWordCharacter(characterAt(buffer, at.row, left - 1)))
        --left;
    int64_t right = at.col;
    while (right < owner->cols() && isWordCharacter(characterAt(buffer, at.row, right)))
        ++right;
    std::string text;
    for (const Line& line : getSelectedLines(Position(left, at.row), Position(right, at.row), buffer))
        text += line.toString();
    if (text.empty())
        return std::nullopt;
    return std::make_pair(std::move(text), Position(left, at.row));
}

} // namespace kestrovan
