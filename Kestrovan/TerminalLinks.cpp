// Link detection under a cell, for hover highlighting, command-click opening and the per-frame
// link underline.
//
// An explicit link is an OSC 8 hyperlink: its cells carry a payload code, and the link is the run
// of cells with the same code on the asked row. An implicit link is text the implicit-link rule
// (one fixed ICU regular expression) finds in the logical line around the cell. That line is
// joined across soft-wrapped rows and, by a heuristic, across rows a program broke with hard line
// ends: the upper row's text reaches the right edge, the characters on both sides of the break
// could continue a URL or a path, and the rule finds a link across the break.
//
// Everything here runs under the terminal lock, so every search is bounded:
//   - the logical line keeps at most `searchRadius` characters on each side of the asked cell
//     (it reads at most about that many cells of soft-wrapped rows each way), and a match that
//     reaches a cut edge of it is not reported, since the link may go on past the cut;
//   - the rule runs over that line with `lineTimeLimit` matcher steps;
//   - the heuristic runs the rule over at most `maxSeamChecksEachSide` seams up and as many down,
//     each over at most `seamReach` columns on each side of a row break with `seamTimeLimit` steps.
// So one lookup spends at most 20 + 2 x 3 x 5 = 50 matcher steps, about 6 ms on a screen built to
// make the rule backtrack; an ordinary screen needs a small fraction of one step. A search that
// runs out of time finds no link; nothing is reported.
#include "Kestrovan/TerminalLinks.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"
#include "Platform/Regex/Regex.h"

#include <algorithm>
#include <array>

namespace kestrovan {

namespace {

/// Characters of the logical line kept before and after the asked cell: far more than any link
/// a person points at, and few enough that the rule's worst case stays within its time limit.
constexpr int searchRadius = 2048;
/// Columns the seam check reads on each side of a hard line break.
constexpr int seamReach = 96;
/// Matcher steps of one seam check. Ordinary seam text needs a small fraction of one step; the
/// costliest 192 characters we know of, one unbroken word the rule retries from every position,
/// need 5, and a check that runs out of time keeps the rows apart, so this lets every seam finish.
constexpr int32_t seamTimeLimit = 5;
/// Seams the heuristic may run the rule over upwards, and as many downwards, in one lookup: a link
/// a program broke over up to seven rows is still joined whole.
constexpr int maxSeamChecksEachSide = 3;
/// Matcher steps of the search over the logical line.
constexpr int32_t lineTimeLimit = platform::RegexLimits::defaultTimeLimit;

/// The implicit-link rule: a URL with a known scheme, a path starting with ../, ./, ~/, a $VARIABLE/
/// (after optional directories), a .dir/ or a single /, or a relative word/path with a dot in it.
constexpr std::string_view implicitLinkRule =
    R"re((?:https?://|mailto:|ftp://|file:|ssh:|git://|ssh://|tel:|magnet:|ipfs://|ipns://|gemini://|gopher://|news:)(?:(?:\[[:0-9a-fA-F]+\](?::[0-9]+)?)|[\w\-.~:/?#@!$&*+,;=%](?:(?:[\(\[]\w*[\)\]]))?)+(?<![,.])|(?:\.\.\/|\.\/|(?<!\w)~\/|(?:[\w][\w\-.]*\/)*(?<!\w)\$[A-Za-z_]\w*\/|\.[\w][\w\-.]*\/|(?<![\w~\/])\/(?!\/))(?:(?=[\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?|(?![\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]+)*(?<!:)(?: +(?= *$))?)|(?=[\w\-.~:\/?#@!$&*+;=%]*\.)(?<!\w)[\w][\w\-.]*\/[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?)re";
static_assert(implicitLinkRule.size() == 764, "the implicit-link rule is used exactly as written");

/// The characters that may sit on either side of a hard break inside a URL or a path.
constexpr std::string_view implicitContinuationCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~:/?#[]@!$&*+,;=%()";
static_assert(implicitContinuationCharacters.size() == 84);

bool isContinuationScalar(char32_t scalar)
{
    // All 84 characters are ASCII, so one 128-entry table answers; built once for every terminal.
    static const std::array<bool, 128> table = [] {
        std::array<bool, 128> result{};
        for (const char c : implicitContinuationCharacters)
            result[static_cast<unsigned char>(c)] = true;
        return result;
    }();
    return scalar < 128 && table[scalar];
}

/// The Unicode White_Space property.
bool isWhiteSpace(char32_t scalar)
{
    return (scalar >= 0x09 && scalar <= 0x0D) || scalar == 0x20 || scalar == 0x85 || scalar == 0xA0 ||
           scalar == 0x1680 || (scalar >= 0x2000 && scalar <= 0x200A) || scalar == 0x2028 ||
           scalar == 0x2029 || scalar == 0x202F || scalar == 0x205F || scalar == 0x3000;
}

/// A character is white space when its first scalar is.
bool isWhiteSpace(std::u32string_view character)
{
    return !character.empty() && isWhiteSpace(character.front());
}

void appendUtf16(std::u16string& out, char32_t scalar)
{
    if (scalar < 0x10000) {
        out.push_back(static_cast<char16_t>(scalar));
        return;
    }
    scalar -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (scalar >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (scalar & 0x3FF)));
}

/// UTF-8 of text built by `appendUtf16` from valid scalars, so every surrogate is paired.
std::string utf8FromUtf16(std::u16string_view units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t scalar = units[i];
        if (scalar >= 0xD800 && scalar <= 0xDBFF && i + 1 < units.size())
            scalar = 0x10000 + ((scalar - 0xD800) << 10) + (units[++i] - 0xDC00);
        appendUtf8(out, scalar);
    }
    return out;
}

const char32_t spaceCharacter[] = U" ";

/// The character a cell holds, as a view valid until the line changes (or into `storage`); empty
/// when the cell holds none. A scalar that is not a Unicode scalar value reads as a space.
std::u32string_view cellCharacter(const BufferLine& line, PackedCell cell, char32_t& storage)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        storage = cell.content();
        if (storage == 0)
            return {};
        return isValidScalar(storage) ? std::u32string_view(&storage, 1)
                                      : std::u32string_view(spaceCharacter);
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = line.arena()->grapheme(cell.content());
        if (!scalars || scalars->empty() || scalars->front() == 0)
            return {};
        if (!std::all_of(scalars->begin(), scalars->end(), isValidScalar))
            return spaceCharacter;
        return *scalars;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        // Inline-background blanks look like content but hold no character.
        break;
    }
    return {};
}

bool holdsCharacter(const BufferLine& line, PackedCell cell)
{
    char32_t storage = 0;
    return !cellCharacter(line, cell, storage).empty();
}

/// The character a column shows: its own, or its wide lead's for an empty right half.
std::u32string_view characterAt(const BufferLine& line, int col, char32_t& storage)
{
    if (col < 0 || col >= line.count())
        return {};
    const std::u32string_view own = cellCharacter(line, line.packed(col), storage);
    if (!own.empty() || col == 0 || !line.packed(col - 1).isLead())
        return own;
    return cellCharacter(line, line.packed(col - 1), storage);
}

/// True for a match that must not be a link: one right after a "$" (the tail of "$/x").
bool suppressImplicitLikeMatch(std::u16string_view text, int32_t matchStart)
{
    // In "$/x" the path alternative finds "/x", which is the tail of a variable-like word, not a
    // path; "$HOME/x" is matched whole by the variable form and starts at the "$".
    return matchStart > 0 && static_cast<size_t>(matchStart) <= text.size() && text[matchStart - 1] == u'$';
}

/// The first column below `lineLimit` showing a character that is not white space, else
/// `lineLimit`.
int firstNonWhitespaceColumn(const BufferLine& line, int lineLimit)
{
    char32_t storage = 0;
    for (int col = 0; col < lineLimit; ++col) {
        const std::u32string_view character = characterAt(line, col, storage);
        if (!character.empty() && !isWhiteSpace(character))
            return col;
    }
    return lineLimit;
}

/// Calls `visit(col, cell, character)` for the columns `startCol` ..< `endCol` as the implicit text
/// reads them: the empty right half of a wide character is skipped, any other empty cell reads as
/// a space.
template <typename Visit>
void forEachSegmentCharacter(const BufferLine& line, int startCol, int endCol, Visit&& visit)
{
    const int end = std::min(endCol, line.count());
    for (int col = std::max(0, startCol); col < end; ++col) {
        const PackedCell cell = line.packed(col);
        char32_t storage = 0;
        std::u32string_view character = cellCharacter(line, cell, storage);
        if (character.empty()) {
            if (col > 0 && line.packed(col - 1).isLead())
                continue;
            character = spaceCharacter;
        }
        visit(col, cell, character);
    }
}

/// UTF-16 text built one character at a time, remembering where each character starts, so that
/// matches can be mapped back to characters.
struct CharacterText
{
    std::u16string units;
    /// The start of each character, then the end of the text once `finish` ran.
    std::vector<int32_t> offsets;

    void append(std::u32string_view character)
    {
        offsets.push_back(static_cast<int32_t>(units.size()));
        for (const char32_t scalar : character)
            appendUtf16(units, scalar);
    }
    void finish() { offsets.push_back(static_cast<int32_t>(units.size())); }
};

/// The character index at a UTF-16 offset, when a character starts there (or the text ends there).
/// A match that starts or ends inside a character does not convert and is skipped.
std::optional<size_t> characterIndex(const std::vector<int32_t>& offsets, int32_t unit)
{
    const auto found = std::lower_bound(offsets.begin(), offsets.end(), unit);
    if (found == offsets.end() || *found != unit)
        return std::nullopt;
    return static_cast<size_t>(found - offsets.begin());
}

/// The state of one lookup: the buffer, the terminal's width, and what the heuristic may still
/// spend on seam checks.
struct LinkSearch
{
    const Buffer& buffer;
    int columns = 0;
    int seamChecksLeft = 1;

    int lineCount() const { return buffer.lines().count(); }
    bool contains(int64_t row) const { return row >= 0 && row < lineCount(); }
    /// The line of a row inside the ring. A slot that holds no line reads as a line of no cells,
    /// which holds no text, as the blank line a writer would put there holds none.
    const BufferLine& line(int64_t row) const
    {
        const BufferLine* stored = buffer.lines().lineIfPresent(static_cast<int>(row)).get();
        return stored ? *stored : BufferLine::empty();
    }
    int width(const BufferLine& line) const { return std::min(line.count(), columns); }
};

/// The first and last characters of a row that are not white space; the joining heuristic looks
/// at nothing else of a row before it runs the rule over a seam.
std::optional<LinkRowEdgeInfo> edgeInfo(LinkSearch& search, int64_t row)
{
    if (!search.contains(row))
        return std::nullopt;
    const BufferLine& line = search.line(row);
    const int limit = std::min(line.getTrimmedLength(), search.width(line));
    if (limit <= 0)
        return std::nullopt;

    char32_t storage = 0;
    LinkRowEdgeInfo info;
    int col = 0;
    for (; col < limit; ++col) {
        const std::u32string_view character = characterAt(line, col, storage);
        if (!character.empty() && !isWhiteSpace(character)) {
            info.firstColumn = col;
            info.firstCharacter = character;
            break;
        }
    }
    if (col == limit)
        return std::nullopt;
    for (col = limit - 1; col >= info.firstColumn; --col) {
        const std::u32string_view character = characterAt(line, col, storage);
        if (!character.empty() && !isWhiteSpace(character)) {
            info.lastColumn = col;
            info.lastCharacter = character;
            break;
        }
    }
    return info;
}

enum class JoinResult : uint8_t
{
    joined,
    apart,
    /// The rows might join, but the lookup may not run the rule over another seam.
    budgetSpent,
};

JoinResult seamCheck(LinkSearch& search, int64_t upper, int64_t lower, int upperLastCol, int lowerFirstCol)
{
    const platform::Regex* rule = implicitLinkRegex();
    if (!rule || !search.contains(upper) || !search.contains(lower))
        return JoinResult::apart;

    // Only the text near the break matters: a link across it must touch both sides.
    CharacterText joined;
    const BufferLine& upperLine = search.line(upper);
    const int upperEnd = std::min(upperLastCol + 1, search.width(upperLine));
    forEachSegmentCharacter(
        upperLine, upperEnd - seamReach, upperEnd,
        [&](int, PackedCell, std::u32string_view character) { joined.append(character); });
    const auto seam = static_cast<int32_t>(joined.units.size());
    const BufferLine& lowerLine = search.line(lower);
    const int lowerEnd =
        std::min(lowerFirstCol + seamReach, std::min(search.width(lowerLine), lowerLine.getTrimmedLength()));
    forEachSegmentCharacter(
        lowerLine, lowerFirstCol, lowerEnd,
        [&](int, PackedCell, std::u32string_view character) { joined.append(character); });
    joined.finish();
    if (seam == 0 || static_cast<int32_t>(joined.units.size()) == seam)
        return JoinResult::apart;
    // Every match of the rule holds a "/" (the paths) or a ":" (the schemes). Prose that fills a
    // row holds neither, and is settled here without spending a seam check.
    if (joined.units.find_first_of(u"/:") == std::u16string::npos)
        return JoinResult::apart;
    if (search.seamChecksLeft <= 0)
        return JoinResult::budgetSpent;
    --search.seamChecksLeft;

    bool crosses = false;
    platform::RegexLimits limits;
    limits.timeLimit = seamTimeLimit;
    rule->enumerateMatches(
        joined.units,
        [&](platform::RegexRange match) {
            // Matches come in text order: once one starts past the seam, none can cross it.
            if (match.start >= seam)
                return false;
            if (match.end <= seam || !characterIndex(joined.offsets, match.start) ||
                !characterIndex(joined.offsets, match.end) ||
                suppressImplicitLikeMatch(joined.units, match.start))
                return true;
            crosses = true;
            return false;
        },
        limits);
    // A check that ran out of time found nothing it could vouch for: the rows stay apart.
    return crosses ? JoinResult::joined : JoinResult::apart;
}

JoinResult canJoin(LinkSearch& search, int64_t upper, int64_t lower)
{
    const std::optional<LinkRowEdgeInfo> upperEdge = edgeInfo(search, upper);
    const std::optional<LinkRowEdgeInfo> lowerEdge = edgeInfo(search, lower);
    if (!upperEdge || !lowerEdge)
        return JoinResult::apart;

    // The upper text must reach the right edge: a program that breaks a long line does so there.
    const int columns = search.columns;
    const int margin = columns >= 10 ? columns / 5 : 2;
    if (upperEdge->lastColumn < columns - margin)
        return JoinResult::apart;

    const auto continues = [](const std::u32string& character) {
        return !character.empty() && std::all_of(character.begin(), character.end(), isContinuationScalar);
    };
    if (!continues(upperEdge->lastCharacter) || !continues(lowerEdge->firstCharacter))
        return JoinResult::apart;

    // The cheap tests passed; only now is a regular-expression run worth its cost.
    return seamCheck(search, upper, lower, upperEdge->lastColumn, lowerEdge->firstColumn);
}

struct HeuristicGroup
{
    int64_t top = 0;
    int64_t bottom = 0;
    /// The walk stopped for lack of seam checks, not because the rows stayed apart.
    bool cutAbove = false;
    bool cutBelow = false;
};

/// Walks up and down from a row that is not soft-wrapped while neighbouring rows join; each
/// direction has its own seam budget, so a long run of joinable rows above cannot leave the rows
/// below unexamined.
std::optional<HeuristicGroup> heuristicGroup(LinkSearch& search, int64_t row)
{
    HeuristicGroup group{row, row, false, false};
    search.seamChecksLeft = maxSeamChecksEachSide;
    while (group.top > 0) {
        const JoinResult result = canJoin(search, group.top - 1, group.top);
        group.cutAbove = result == JoinResult::budgetSpent;
        if (result != JoinResult::joined)
            break;
        --group.top;
    }
    search.seamChecksLeft = maxSeamChecksEachSide;
    while (group.bottom + 1 < search.lineCount()) {
        const JoinResult result = canJoin(search, group.bottom, group.bottom + 1);
        group.cutBelow = result == JoinResult::budgetSpent;
        if (result != JoinResult::joined)
            break;
        ++group.bottom;
    }
    if (group.top == row && group.bottom == row)
        return std::nullopt;
    return group;
}

/// The first and last map entries that cover the asked cell (normally one and the same).
std::optional<std::pair<size_t, size_t>> askedCharacterRange(const ImplicitLineMap& map)
{
    std::optional<std::pair<size_t, size_t>> range;
    for (size_t index = 0; index < map.cells.size(); ++index) {
        const ImplicitCellRef& cell = map.cells[index];
        if (cell.row != map.row || map.col < cell.col || map.col >= cell.col + std::max(cell.width, 1))
            continue;
        if (!range)
            range = std::pair{index, index};
        range->second = index;
    }
    return range;
}

std::optional<ImplicitLineMap> lineMap(LinkSearch& search, Position at)
{
    if (!search.contains(at.row))
        return std::nullopt;
    const int64_t row = at.row;
    const BufferLine& askedLine = search.line(row);
    const int askedWidth = search.width(askedLine);
    if (askedWidth <= 0)
        return std::nullopt;
    int col = static_cast<int>(std::clamp<int64_t>(at.col, 0, askedWidth - 1));
    // The right half of a wide character stands for the character.
    if (col > 0 && !holdsCharacter(askedLine, askedLine.packed(col)) && askedLine.packed(col - 1).isLead())
        --col;

    // The soft-wrapped rows of the logical line, read only as far as the search radius can reach.
    const int64_t rowsEachSide = searchRadius / askedWidth + 1;
    ImplicitLineMap map;
    map.row = row;
    map.col = col;
    // A row marked wrapped continues the row above, so the line starts at the nearest row at or
    // above the asked one that is not marked, and ends before the next such row below.
    int64_t start = row;
    while (start > 0 && search.line(start).isWrapped()) {
        if (row - start >= rowsEachSide) {
            map.cutBefore = true;
            break;
        }
        --start;
    }
    int64_t end = row;
    while (end + 1 < search.lineCount() && search.line(end + 1).isWrapped()) {
        if (end - row >= rowsEachSide) {
            map.cutAfter = true;
            break;
        }
        ++end;
    }
    // Only a row that is a line of its own may have been broken by a program; the heuristic's
    // seam checks are spent on nothing else.
    if (start == row && end == row) {
        if (const std::optional<HeuristicGroup> group = heuristicGroup(search, row)) {
            start = group->top;
            end = group->bottom;
            map.cutBefore = group->cutAbove;
            map.cutAfter = group->cutBelow;
        }
    }

    // Each row contributes its cells up to its last character: empty cells past it are not text
    // (they would put spaces between a link's rows), empty cells before it read as spaces.
    CharacterText text;
    bool askedInside = false;
    for (int64_t current = start; current <= end; ++current) {
        const BufferLine& line = search.line(current);
        const int width = search.width(line);
        int contentEnd = 0;
        for (int c = width - 1; c >= 0; --c) {
            const PackedCell cell = line.packed(c);
            if (holdsCharacter(line, cell)) {
                contentEnd = std::min(width, c + (cell.isLead() ? 2 : 1));
                break;
            }
        }
        if (contentEnd == 0)
            continue;
        // Every row below the group's start continues the line: soft-wrapped rows by their flag,
        // the heuristic's rows because the walk joined each one to the row above. Knowing that
        // here saves repeating the walk's seam checks. The indent of a row a program broke off is
        // not part of the text, so an indented path continues without it. A soft-wrapped row
        // keeps its leading spaces: they are text of the line, and dropping them would glue a
        // link at the end of the row above to the word after the spaces.
        const bool continuation = current > start || (current == start && map.cutBefore);
        const bool skipsIndent = continuation && !line.isWrapped();
        const int begin = skipsIndent ? firstNonWhitespaceColumn(line, contentEnd) : 0;
        if (begin >= contentEnd)
            continue;
        forEachSegmentCharacter(line, begin, contentEnd,
                                [&](int c, PackedCell cell, std::u32string_view character) {
                                    text.append(character);
                                    map.cells.push_back(ImplicitCellRef{current, c, cell.isLead() ? 2 : 1});
                                });
        if (current == row && col >= begin && col < contentEnd)
            askedInside = true;
    }
    text.finish();
    if (text.units.empty() || !askedInside)
        return std::nullopt;

    // Keep the search radius around the asked cell, and note which ends were cut. The rows were
    // already bounded; this bounds the characters when rows are wider than the radius.
    const std::optional<std::pair<size_t, size_t>> asked = askedCharacterRange(map);
    if (!asked)
        return std::nullopt;
    const size_t keepFrom = asked->first > size_t(searchRadius) ? asked->first - searchRadius : 0;
    const size_t keepTo = std::min(map.cells.size(), asked->second + 1 + searchRadius);
    map.cutBefore = map.cutBefore || keepFrom > 0;
    map.cutAfter = map.cutAfter || keepTo < map.cells.size();
    const int32_t unitFrom = text.offsets[keepFrom];
    map.text = text.units.substr(static_cast<size_t>(unitFrom),
                                 static_cast<size_t>(text.offsets[keepTo] - unitFrom));
    map.cells.erase(map.cells.begin() + static_cast<std::ptrdiff_t>(keepTo), map.cells.end());
    map.cells.erase(map.cells.begin(), map.cells.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    map.characterOffsets.reserve(keepTo - keepFrom + 1);
    for (size_t index = keepFrom; index <= keepTo; ++index)
        map.characterOffsets.push_back(text.offsets[index] - unitFrom);
    return map;
}

} // namespace

std::optional<std::string> link(const Terminal& terminal, const LinkLookupLocation& at, LinkLookupMode mode)
{
    const Buffer& active = terminal.buffer();
    const std::optional<Position> position = resolveLinkLocation(terminal, at, active);
    if (!position)
        return std::nullopt;
    // An OSC 8 link is what the program said the text links to, so it wins over whatever the
    // text itself looks like.
    if (std::optional<LinkMatch> match = explicitLinkMatch(terminal, *position, active))
        return std::move(match->text);
    if (mode == LinkLookupMode::explicitAndImplicit) {
        if (std::optional<LinkMatch> match = implicitLinkMatch(terminal, *position, active))
            return std::move(match->text);
    }
    return std::nullopt;
}

std::optional<Position> resolveLinkLocation(const Terminal& terminal, const LinkLookupLocation& location,
                                            const Buffer& buffer)
{
    const int count = buffer.lines().count();
    if (count == 0)
        return std::nullopt;
    // Clamped before the display offset is added, so no far-off row can overflow.
    int64_t row = std::clamp<int64_t>(location.position.row, -int64_t(count), int64_t(count));
    if (location.kind == LinkLookupLocation::Case::screen)
        row += buffer.yDisp();
    row = std::clamp<int64_t>(row, 0, count - 1);
    const int64_t col = std::clamp<int64_t>(location.position.col, 0, std::max(terminal.cols() - 1, 0));
    return Position(col, row);
}

std::optional<uint16_t> payloadCode(const Terminal& terminal, Position at, const Buffer& buffer)
{
    const LinkSearch search{buffer, terminal.cols()};
    if (!search.contains(at.row))
        return std::nullopt;
    const BufferLine& line = search.line(at.row);
    const int width = std::min(line.count(), terminal.cols());
    if (width <= 0)
        return std::nullopt;
    const int col = static_cast<int>(std::clamp<int64_t>(at.col, 0, width - 1));
    const PackedCell cell = line.packed(col);
    if (cell.payloadCode() != 0)
        return cell.payloadCode();
    // The empty right half of a wide character belongs to its lead's link.
    if (!holdsCharacter(line, cell) && col > 0) {
        const PackedCell lead = line.packed(col - 1);
        if (lead.isLead() && lead.payloadCode() != 0)
            return lead.payloadCode();
    }
    return std::nullopt;
}

std::optional<LinkMatch> explicitLinkMatch(const Terminal& terminal, Position at, const Buffer& buffer)
{
    // Cells keep their codes when the option goes off; they just stop being links.
    if (!terminal.enableOsc8Hyperlinks())
        return std::nullopt;
    const std::optional<uint16_t> code = payloadCode(terminal, at, buffer);
    if (!code)
        return std::nullopt;
    const BufferLine& line = LinkSearch{buffer, terminal.cols()}.line(at.row);
    const int width = std::min(line.count(), terminal.cols());
    const int col = static_cast<int>(std::clamp<int64_t>(at.col, 0, width - 1));

    // The run of cells with the same code on this row; an OSC 8 link never continues onto
    // another row, even a soft-wrapped one.
    int start = col;
    while (start > 0 && line.packed(start - 1).payloadCode() == *code)
        --start;
    int end = col + 1;
    while (end < width && line.packed(end).payloadCode() == *code)
        ++end;

    // The text comes from the cell that carries the code: the asked cell, or the wide lead cell to
    // its left when the asked cell is the lead's empty right half. Reading the left cell in any
    // other case could name the neighbouring link.
    const PackedCell carrier =
        line.packed(col).payloadCode() == *code ? line.packed(col) : line.packed(col - 1);
    const std::optional<std::string> payload = stringPayload(carrier);
    if (!payload)
        return std::nullopt;
    // An OSC 8 with an empty URI marks its text as a link that names nothing: never a target.
    std::optional<std::string> uri = parseHyperlinkPayload(*payload);
    if (!uri || uri->empty())
        return std::nullopt;

    LinkMatch match;
    match.text = std::move(*uri);
    match.row = at.row;
    match.range = {start, end};
    match.isExplicit = true;
    match.rowRanges.push_back({at.row, match.range});
    return match;
}

std::optional<LinkMatch> implicitLinkMatch(const Terminal& terminal, Position at, const Buffer& buffer)
{
    const platform::Regex* rule = implicitLinkRegex();
    if (!rule)
        return std::nullopt;
    LinkSearch search{buffer, terminal.cols()};
    const std::optional<ImplicitLineMap> map = lineMap(search, at);
    if (!map)
        return std::nullopt;
    // Usually one entry; the lead and the stray character of a malformed wide cell may both
    // cover the asked column.
    const std::optional<std::pair<size_t, size_t>> asked = askedCharacterRange(*map);
    if (!asked)
        return std::nullopt;

    const size_t count = map->cells.size();
    std::optional<std::pair<size_t, size_t>> accepted;
    platform::RegexLimits limits;
    limits.timeLimit = lineTimeLimit;
    rule->enumerateMatches(
        map->text,
        [&](platform::RegexRange match) {
            if (match.length() <= 0)
                return true;
            // Every character of the text has its map entry, so a match that converts to character
            // indexes lies within the map.
            const std::optional<size_t> first = characterIndex(map->characterOffsets, match.start);
            const std::optional<size_t> last = characterIndex(map->characterOffsets, match.end);
            if (!first || !last)
                return true;
            // Matches come in text order: once one starts past the asked cell, none can cover it.
            if (*first > asked->second)
                return false;
            if (*last <= asked->first || suppressImplicitLikeMatch(map->text, match.start))
                return true;
            const bool coversAsked = std::any_of(map->cells.begin() + static_cast<std::ptrdiff_t>(*first),
                                                 map->cells.begin() + static_cast<std::ptrdiff_t>(*last),
                                                 [&](const ImplicitCellRef& cell) {
                                                     return cell.row == map->row && map->col >= cell.col &&
                                                            map->col < cell.col + std::max(cell.width, 1);
                                                 });
            if (!coversAsked)
                return true;
            // A match that runs into a cut edge may be the visible part of a longer link.
            if ((*first == 0 && map->cutBefore) || (*last == count && map->cutAfter))
                return true;
            accepted = std::pair{*first, *last};
            return false;
        },
        limits);
    if (!accepted)
        return std::nullopt;

    // The target is the matched text itself: cells' characters, with a space for each empty cell.
    LinkMatch result;
    const int32_t unitStart = map->characterOffsets[accepted->first];
    const int32_t unitEnd = map->characterOffsets[accepted->second];
    result.text = utf8FromUtf16(std::u16string_view(map->text).substr(
        static_cast<size_t>(unitStart), static_cast<size_t>(unitEnd - unitStart)));
    result.row = map->row;
    result.isExplicit = false;
    // Map entries run row by row, top to bottom, so each row's entries are adjacent.
    for (size_t index = accepted->first; index < accepted->second; ++index) {
        const ImplicitCellRef& cell = map->cells[index];
        const int cellEnd = cell.col + std::max(cell.width, 1);
        if (result.rowRanges.empty() || result.rowRanges.back().row != cell.row) {
            result.rowRanges.push_back({cell.row, {cell.col, cellEnd}});
            continue;
        }
        LinkMatch::ColumnRange& range = result.rowRanges.back().range;
        range.start = std::min(range.start, cell.col);
        range.end = std::max(range.end, cellEnd);
    }
    for (const LinkMatch::RowRange& rowRange : result.rowRanges) {
        if (rowRange.row == result.row)
            result.range = rowRange.range;
    }
    return result;
}

std::optional<ImplicitLineMap> buildImplicitLineMap(const Terminal& terminal, Position at,
                                                    const Buffer& buffer)
{
    LinkSearch search{buffer, terminal.cols()};
    return lineMap(search, at);
}

std::optional<std::pair<int64_t, int64_t>> heuristicImplicitGroup(const Terminal& terminal, int64_t around,
                                                                  const Buffer& buffer)
{
    LinkSearch search{buffer, terminal.cols()};
    if (!search.contains(around))
        return std::nullopt;
    const std::optional<HeuristicGroup> group = heuristicGroup(search, around);
    if (!group)
        return std::nullopt;
    return std::pair{group->top, group->bottom};
}

bool canJoinImplicitRows(const Terminal& terminal, int64_t upper, int64_t lower, const Buffer& buffer)
{
    LinkSearch search{buffer, terminal.cols()};
    return canJoin(search, upper, lower) == JoinResult::joined;
}

std::optional<LinkRowEdgeInfo> linkRowEdgeInfo(const Terminal& terminal, int64_t row, const Buffer& buffer)
{
    LinkSearch search{buffer, terminal.cols()};
    return edgeInfo(search, row);
}

const platform::Regex* implicitLinkRegex()
{
    // Compiled once for every terminal; a rule that does not compile turns implicit links off.
    static const std::optional<platform::Regex> rule = platform::Regex::compile(implicitLinkRule).regex;
    return rule ? &*rule : nullptr;
}

} // namespace kestrovan
