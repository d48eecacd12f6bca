// The buffer's record of the active prompt group (OSC 133) and the queries built on it, and the
// buffer's count of lines that carry images.
//
// A prompt group is the set of rows of one prompt and its command line. Its start is held as the
// line object where it began, so it survives scrolling and reflow; the row where that line was
// last found is only a hint. When the start line has left the ring (trimmed, or recycled and so
// stripped of its marks), the start is re-bound to the row nearest the cursor that still holds
// an opening mark of the active group, or forgotten.
//
// Re-binding changes the buffer, so only `semanticPromptStartRow`, which the terminal's writers
// call, does it. The queries a view or a renderer makes (`findSemanticPromptStartRow`,
// `activeSemanticPromptOrigin`, `semanticRowKind`) answer the same row without re-binding, so
// looking at the screen never changes what a later prompt does.
#include "Kestrovan/Buffer.h"

#include <algorithm>

namespace kestrovan {

namespace {

bool isOpeningKind(SemanticPromptKind kind)
{
    return kind == SemanticPromptKind::initial || kind == SemanticPromptKind::secondary;
}

bool isJoiningMark(const SemanticMark& mark)
{
    return mark.kind != SemanticPromptKind::initial && mark.group != 0;
}

bool hasOpeningMark(const BufferLine& line)
{
    const auto& marks = line.semanticMarks();
    return std::any_of(marks.begin(), marks.end(),
                       [](const SemanticMark& mark) { return isOpeningKind(mark.kind); });
}

bool hasOpeningMarkOfGroup(const BufferLine& line, uint64_t group)
{
    const auto& marks = line.semanticMarks();
    return std::any_of(marks.begin(), marks.end(), [group](const SemanticMark& mark) {
        return isOpeningKind(mark.kind) && mark.group == group;
    });
}

const SemanticMark* firstMark(const BufferLine& line, SemanticPromptKind kind)
{
    for (const SemanticMark& mark : line.semanticMarks()) {
        if (mark.kind == kind)
            return &mark;
    }
    return nullptr;
}

// The mark that opens the prompt on a line: its first `initial` mark, else its first `secondary`.
const SemanticMark* originMark(const BufferLine& line)
{
    if (const SemanticMark* mark = firstMark(line, SemanticPromptKind::initial))
        return mark;
    return firstMark(line, SemanticPromptKind::secondary);
}

std::optional<uint64_t> joiningGroup(const BufferLine& line)
{
    for (const SemanticMark& mark : line.semanticMarks()) {
        if (isJoiningMark(mark))
            return mark.group;
    }
    return std::nullopt;
}

int clampColumn(int column, const BufferLine& line)
{
    return std::min(std::max(column, 0), line.count() - 1);
}

} // namespace

void Buffer::beginSemanticPromptGroup(int originRow)
{
    if (!isRowInRing(originRow))
        return;
    semanticPrompt_.openGroup(lines_[originRow], originRow);
}

void Buffer::setSemanticMark(SemanticPromptKind kind, int row, int column)
{
    if (!isRowInRing(row))
        return;
    BufferLine& line = *lines_[row];
    if (line.count() < 1)
        return;
    line.setSemanticMark(kind, clampColumn(column, line), semanticPrompt_.activeGroupID());
}

Buffer::SemanticPromptStartLookup Buffer::lookUpSemanticPromptStart() const
{
    if (!semanticPrompt_.startLine())
        return {};
    const BufferLine* start = semanticPrompt_.startLine().get();

    // The common case: the start line has not moved since it was last found.
    const int cached = semanticPrompt_.startRowHint();
    if (isRowInRing(cached) && lines_.lineIfPresent(cached).get() == start && hasOpeningMark(*start))
        return {cached, SemanticPromptStartLookup::Outcome::found};

    semanticPrompt_.countStartRowScan();
    if (hasOpeningMark(*start)) {
        const std::optional<int> found =
            findRow(cached, [start](const BufferLine& line) { return &line == start; });
        if (found) {
            // Only the hint moves: the start line is the same object.
            semanticPrompt_.noteStartRow(*found);
            return {found, SemanticPromptStartLookup::Outcome::found};
        }
    }

    // The start line is gone or lost its marks: the row nearest the cursor, looking up from it
    // first, that still opens the active group.
    const int count = lines_.count();
    if (count > 0) {
        const auto opensActiveGroup = [this](int row) {
            const CircularBufferLineList::ConstLinePointer line = lines_.lineIfPresent(row);
            return line && hasOpeningMarkOfGroup(*line, semanticPrompt_.activeGroupID());
        };
        const int cursorRow = std::clamp(yBase_ + y_, 0, count - 1);
        for (int row = cursorRow; row >= 0; --row) {
            if (opensActiveGroup(row))
                return {row, SemanticPromptStartLookup::Outcome::rebind};
        }
        for (int row = cursorRow + 1; row < count; ++row) {
            if (opensActiveGroup(row))
                return {row, SemanticPromptStartLookup::Outcome::rebind};
        }
    }
    return {std::nullopt, SemanticPromptStartLookup::Outcome::forget};
}

std::optional<int> Buffer::semanticPromptStartRow()
{
    const SemanticPromptStartLookup lookup = lookUpSemanticPromptStart();
    switch (lookup.outcome) {
    case SemanticPromptStartLookup::Outcome::found:
        break;
    case SemanticPromptStartLookup::Outcome::rebind:
        semanticPrompt_.bindStartLine(lines_[*lookup.row], *lookup.row);
        break;
    case SemanticPromptStartLookup::Outcome::forget:
        semanticPrompt_.forgetStartLine();
        break;
    }
    return lookup.row;
}

std::optional<int> Buffer::findSemanticPromptStartRow() const
{
    return lookUpSemanticPromptStart().row;
}

bool Buffer::canReuseSemanticGroup(int atRow)
{
    if (!semanticPrompt_.isEditingCommandLine())
        return false;
    if (!isRowInRing(atRow))
        return false;
    const std::optional<int> start = semanticPromptStartRow();
    if (!start)
        return false;
    const BufferLine& line = *lines_[atRow];
    return lines_[*start].get() == &line && hasOpeningMarkOfGroup(line, semanticPrompt_.activeGroupID());
}

std::vector<SemanticPromptAnchor> Buffer::semanticPromptMarks(int at) const
{
    std::vector<SemanticPromptAnchor> anchors;
    const CircularBufferLineList::ConstLinePointer stored =
        isRowInRing(at) ? lines_.lineIfPresent(at) : nullptr;
    if (!stored)
        return anchors;
    const BufferLine& line = *stored;
    if (line.count() < 1)
        return anchors;
    for (const SemanticMark& mark : line.semanticMarks())
        anchors.emplace_back(Position(clampColumn(mark.column, line), at), mark.kind);
    return anchors;
}

std::optional<Position> Buffer::activeSemanticPromptOrigin() const
{
    const std::optional<int> start = findSemanticPromptStartRow();
    if (!start)
        return std::nullopt;
    const CircularBufferLineList::ConstLinePointer stored = lines_.lineIfPresent(*start);
    if (!stored)
        return std::nullopt;
    const BufferLine& line = *stored;
    if (line.count() < 1)
        return std::nullopt;
    const SemanticMark* mark = originMark(line);
    if (!mark)
        return std::nullopt;
    return Position(clampColumn(mark->column, line), *start);
}

std::optional<SemanticPromptKind> Buffer::semanticRowKind(int at) const
{
    if (!isRowInRing(at))
        return std::nullopt;
    const std::optional<int> start = findSemanticPromptStartRow();

    // Every row read below lies in the ring. A slot that holds no line reads as a blank line
    // would: no marks, no hard-continuation group, no wrap flag.
    const auto lineAt = [this](int row) { return lines_.lineIfPresent(row).get(); };

    // A row opens a group with an `initial` mark; a `secondary` mark opens one only on the
    // start row itself, elsewhere it joins.
    const auto originGroup = [&](int row) -> std::optional<uint64_t> {
        const BufferLine* line = lineAt(row);
        if (!line)
            return std::nullopt;
        if (const SemanticMark* mark = firstMark(*line, SemanticPromptKind::initial))
            return mark->group;
        if (start && row == *start) {
            if (const SemanticMark* mark = firstMark(*line, SemanticPromptKind::secondary))
                return mark->group;
        }
        return std::nullopt;
    };
    const auto joiningGroupAt = [&](int row) -> std::optional<uint64_t> {
        const BufferLine* line = lineAt(row);
        return line ? joiningGroup(*line) : std::nullopt;
    };

    if (originGroup(at))
        return SemanticPromptKind::initial;
    if (joiningGroupAt(at))
        return SemanticPromptKind::continuation;
    if (at == 0)
        return std::nullopt;

    // Walk up through soft wraps and hard-continuation groups to the prompt row the row hangs
    // from; every hard link on the way must name the same group as that prompt row.
    std::optional<uint64_t> expected;
    const auto continues = [&](uint64_t group) -> std::optional<SemanticPromptKind> {
        if (!expected || *expected == group)
            return SemanticPromptKind::continuation;
        return std::nullopt;
    };
    for (int row = at; row > 0;) {
        const BufferLine* line = lineAt(row);
        if (!line)
            return std::nullopt;
        if (!line->isWrapped()) {
            const std::optional<uint64_t> group = line->semanticHardContinuationGroup();
            if (!group || (expected && *expected != *group))
                return std::nullopt;
            expected = group;
        }
        row -= 1;
        if (const std::optional<uint64_t> group = originGroup(row))
            return continues(*group);
        if (const std::optional<uint64_t> group = joiningGroupAt(row))
            return continues(*group);
    }
    return std::nullopt;
}

bool Buffer::rowContinuesActiveGroupHard(int row) const
{
    if (!isRowInRing(row) || semanticPrompt_.activeGroupID() == 0)
        return false;
    const CircularBufferLineList::ConstLinePointer stored = lines_.lineIfPresent(row);
    if (!stored)
        return false;
    const BufferLine& line = *stored;
    if (line.semanticHardContinuationGroup() == semanticPrompt_.activeGroupID())
        return true;
    if (const std::optional<uint64_t> group = joiningGroup(line))
        return *group == semanticPrompt_.activeGroupID();
    return false;
}

void Buffer::clearStaleSemanticCells(BufferLine& line)
{
    // Codes 1-5 are the prompt kinds and input; a row taken over by a new group must not keep
    // claiming them. Output (6) stays, since the command's output is still output.
    PackedCell* cells = line.mutableCells();
    const int count = line.count();
    for (int column = 0; column < count; ++column) {
        const uint8_t code = cells[column].semanticCode();
        if (code >= 1 && code <= 5) {
            cells[column] = cells[column].withSemanticCode(0);
            line.raiseUsedLength(column + 1);
            line.markContentChanged();
        }
    }
}

std::optional<int> Buffer::findRow(int near, const std::function<bool(const BufferLine&)>& where) const
{
    const int count = lines_.count();
    if (count == 0)
        return std::nullopt;
    // A slot that holds no line has nothing to match.
    const auto matches = [&](int row) {
        const BufferLine* line = lines_.lineIfPresent(row).get();
        return line && where(*line);
    };
    const int hint = std::clamp(near, 0, count - 1);
    if (matches(hint))
        return hint;
    // Alternate below and above the hint until both directions leave the ring.
    for (int distance = 1; hint + distance < count || hint - distance >= 0; ++distance) {
        if (hint + distance < count && matches(hint + distance))
            return hint + distance;
        if (hint - distance >= 0 && matches(hint - distance))
            return hint - distance;
    }
    return std::nullopt;
}

bool Buffer::isActivePromptOrigin(const BufferLine& line, SemanticPromptKind kind, int column) const
{
    if (semanticPrompt_.startLine().get() != &line)
        return false;
    const SemanticMark* mark = originMark(line);
    return mark && mark->kind == kind && mark->column == column;
}

void Buffer::promptStartLineMoved(BufferLine& to)
{
    // A line not held by a shared pointer cannot be in the ring; nothing to follow then.
    if (std::shared_ptr<BufferLine> line = to.weak_from_this().lock())
        semanticPrompt_.followStartLine(std::move(line));
}

void Buffer::attachImage(std::shared_ptr<TerminalImage> image, int row)
{
    if (!isRowInRing(row))
        return;
    if (lines_[row]->attachImage(std::move(image)))
        linesWithImagesCount_ += 1;
}

void Buffer::clearImagesFromLine(int row)
{
    if (!isRowInRing(row))
        return;
    dropImages(*lines_[row]);
}

void Buffer::dropImages(BufferLine& line)
{
    if (line.clearImages())
        linesWithImagesCount_ -= 1;
}

void Buffer::recalculateLinesWithImagesCount()
{
    int count = 0;
    for (int row = 0; row < lines_.count(); ++row) {
        const std::shared_ptr<BufferLine>& line = lines_.lineIfPresent(row);
        if (line && line->hasImages())
            count += 1;
    }
    linesWithImagesCount_ = count;
}

} // namespace kestrovan
