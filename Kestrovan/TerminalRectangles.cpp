// Rectangular area operations: copy (DECCRA), fill (DECFRA), erase (DECERA), selective erase
// (DECSERA), change and reverse attributes (DECCARA, DECRARA), the checksum report (DECRQCRA),
// the attribute-change extent (DECSACE), and the routers of the final bytes x, z, { and } that
// tell these apart from other sequences.
//
// Coordinates are 1-based in the sequences and follow origin mode, in which they count from the
// scroll region and the left margin and are clipped to them. Every operation here works on whole
// packed cells of the active screen and keeps wide characters whole: a wide character cut by the
// edge of a rectangle that is written is blanked on both halves, so no half of one is ever left
// standing alone.
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

namespace {

using WidthState = PackedCell::WidthState;

/// A rectangle of screen cells: 0-based screen rows and columns, all inclusive.
struct CellRectangle
{
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
};

/// How DECCARA and DECRARA read their corners (DECSACE): as a rectangle, or as the stream of
/// cells from the first corner to the second in reading order.
enum class AttributeExtent
{
    stream,
    rectangle,
};

bool collectIs(std::span<const uint8_t> collect, char expected)
{
    return collect.size() == 1 && collect[0] == uint8_t(expected);
}

/// Parameter `index`, or `fallback` when the sequence does not carry it.
int64_t parameterOr(const CsiParameters& pars, int index, int64_t fallback)
{
    return index < pars.count ? pars[index] : fallback;
}

/// Parameter `index`, with 0 and absent both meaning `fallback`.
int64_t parameterOrDefault(const CsiParameters& pars, int index, int64_t fallback)
{
    const int64_t value = parameterOr(pars, index, 0);
    return value == 0 ? fallback : value;
}

/// The rectangle of four 1-based corners (top, left, bottom, right), already defaulted, or
/// nothing when it is empty. Bottom and right are first clamped to the screen; in origin mode all
/// four then move by the region's top and the left margin and are clipped to the region and the
/// margins, since a program in origin mode cannot mean a cell outside them.
std::optional<CellRectangle> rectangleFromCorners(const Terminal& t, int64_t top, int64_t left,
                                                  int64_t bottom, int64_t right,
                                                  AttributeExtent extent = AttributeExtent::rectangle)
    REQUIRES(t.terminalLock())
{
    const int rows = t.rows();
    const int cols = t.cols();
    bottom = std::min<int64_t>(rows, bottom);
    right = std::min<int64_t>(cols, right);
    if (t.mode(TerminalMode::originMode)) {
        const Buffer& active = t.buffer();
        top += active.scrollTop();
        bottom = std::min<int64_t>(bottom + active.scrollTop(), active.scrollBottom() + 1);
        if (t.mode(TerminalMode::marginMode)) {
            left += active.marginLeft();
            right = std::min<int64_t>(right + active.marginLeft(), active.marginRight() + 1);
        }
    }
    // A stream may end left of where it starts, as long as it ends on a later row.
    const bool backwards =
        extent == AttributeExtent::rectangle ? right < left : (bottom == top && right < left);
    if (bottom < top || backwards)
        return std::nullopt;
    return CellRectangle{static_cast<int>(std::min<int64_t>(top - 1, rows - 1)),
                         static_cast<int>(std::min<int64_t>(left - 1, cols - 1)),
                         static_cast<int>(std::min<int64_t>(bottom - 1, rows - 1)),
                         static_cast<int>(std::min<int64_t>(right - 1, cols - 1))};
}

/// The rectangle named by the four parameters from position `from` on (Pt ; Pl ; Pb ; Pr). Top
/// and left count from 1; an absent bottom or right reaches the screen's edge, while an explicit
/// 0 there makes the rectangle empty.
std::optional<CellRectangle> getRectangleFromRequest(const Terminal& t, const CsiParameters& pars, int from,
                                                     AttributeExtent extent = AttributeExtent::rectangle)
    REQUIRES(t.terminalLock())
{
    const int64_t top = std::max<int64_t>(1, parameterOr(pars, from, 1));
    const int64_t left = std::max<int64_t>(1, parameterOr(pars, from + 1, 1));
    const int64_t bottom = parameterOr(pars, from + 2, t.rows());
    const int64_t right = parameterOr(pars, from + 3, t.cols());
    return rectangleFromCorners(t, top, left, bottom, right, extent);
}

/// The line of screen row `row` of the active buffer, made when its slot is empty; null past the
/// ring's end.
BufferLine* screenLine(Buffer& active, int row)
{
    const int index = active.yBase() + row;
    if (row < 0 || index < 0 || index >= active.lines().count())
        return nullptr;
    return active.lines()[index].get();
}

/// Writes one cell: the column is clamped to the line's last cell, the used length covers it (and
/// a write of the last column ends a wide gap there), and the line's generation advances.
void writeCell(BufferLine& line, int col, PackedCell cell)
{
    const int count = line.count();
    if (count == 0)
        return;
    col = std::min(col, count - 1);
    line.mutableCells()[col] = cell;
    line.raiseUsedLength(col + 1);
    line.noteWrittenTo(col + 1);
    line.markContentChanged();
}

/// Reads one cell the way the writers address it; a line without cells reads as an empty cell.
PackedCell readCell(const BufferLine& line, int col)
{
    const int count = line.count();
    return count == 0 ? PackedCell() : line.packed(std::min(col, count - 1));
}

/// Before columns `left`...`right` of a line are overwritten: a wide character straddling either
/// edge loses both halves, so neither half survives alone outside the rectangle.
void repairEdges(BufferLine& line, int left, int right)
{
    line.repairWideSeam(left);
    line.repairWideSeam(right + 1);
}

/// Writes `cell` into every cell of the rectangle of the active buffer `active`.
void fillRectangle(Terminal& t, Buffer& active, const CellRectangle& area, PackedCell cell)
    REQUIRES(t.terminalLock())
{
    for (int row = area.top; row <= area.bottom; ++row) {
        BufferLine* line = screenLine(active, row);
        if (!line)
            continue;
        repairEdges(*line, area.left, area.right);
        for (int col = area.left; col <= area.right; ++col)
            writeCell(*line, col, cell);
    }
    t.updateRange(area.top);
    t.updateRange(area.bottom);
}

/// What DECRQCRA adds for one cell: the sum of its scalars, with every cell that shows no
/// character (empty, inline blank, unknown cluster, right half of a wide character) counting as a
/// space.
uint32_t cellChecksum(const CellArena& arena, PackedCell cell)
{
    constexpr uint32_t space = 0x20;
    switch (cell.kind()) {
    case PackedCell::Kind::scalar: {
        const uint32_t scalar = cell.scalar();
        const bool valid = scalar != 0 && scalar <= 0x10FFFF && (scalar < 0xD800 || scalar > 0xDFFF);
        return valid ? scalar : space;
    }
    case PackedCell::Kind::grapheme: {
        const std::u32string* cluster = arena.grapheme(cell.content());
        if (!cluster || cluster->empty())
            return space;
        uint32_t sum = 0;
        for (const char32_t scalar : *cluster)
            sum += uint32_t(scalar);
        return sum;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        return space;
    }
    return space;
}

/// The character DECFRA fills with, or nothing when the sequence names none (Pc 0 or absent).
/// What cannot stand in a cell as a printed character (a surrogate, a value past Unicode, a C0 or
/// C1 control or DEL) becomes a space: control codes in cells would come back out of copied text.
std::optional<char32_t> fillCharacter(int64_t pc)
{
    if (pc <= 0)
        return std::nullopt;
    const bool control = pc < 0x20 || (pc >= 0x7F && pc <= 0x9F);
    const bool scalar = pc <= 0x10FFFF && (pc < 0xD800 || pc > 0xDFFF);
    return control || !scalar ? U' ' : char32_t(pc);
}

/// The four visual attributes of the rectangle attribute commands.
constexpr CharacterStyle visualStyles =
    CharacterStyle::bold | CharacterStyle::underline | CharacterStyle::blink | CharacterStyle::inverse;

/// The visual attributes DECCARA sets or clears and DECRARA reverses.
struct AttributeEdit
{
    CharacterStyle set;
    CharacterStyle clear;
    CharacterStyle toggle;

    bool isEmpty() const { return set.isEmpty() && clear.isEmpty() && toggle.isEmpty(); }

    Attribute applied(Attribute attribute) const
    {
        const bool hadUnderline = attribute.style.contains(CharacterStyle::underline);
        attribute.style.remove(clear);
        attribute.style.insert(set);
        attribute.style = attribute.style.symmetricDifference(toggle);
        // The underline bit and the underline style travel together, as SGR 4 and 24 keep them.
        const bool hasUnderline = attribute.style.contains(CharacterStyle::underline);
        if (hasUnderline && !hadUnderline)
            attribute.underlineStyle = UnderlineStyle::single;
        else if (!hasUnderline)
            attribute.underlineStyle = UnderlineStyle::none;
        return attribute;
    }
};

/// DECCARA's attribute parameters (from position 4; none means 0): 0 clears the four visual
/// attributes, 1 4 5 7 set bold, underline, blink, inverse, and 22 24 25 27 clear them (22 also
/// clears dim, as SGR 22 does). Later parameters win over earlier ones. Others are ignored.
AttributeEdit changeEdit(const CsiParameters& pars)
{
    AttributeEdit edit;
    const auto turn = [&](CharacterStyle style, bool on) {
        edit.set.set(style, on);
        edit.clear.set(style, !on);
    };
    for (int index = 4; index < std::max(pars.count, 5); ++index) {
        switch (parameterOr(pars, index, 0)) {
        case 0:
            turn(visualStyles, false);
            break;
        case 1:
            turn(CharacterStyle::bold, true);
            break;
        case 4:
            turn(CharacterStyle::underline, true);
            break;
        case 5:
            turn(CharacterStyle::blink, true);
            break;
        case 7:
            turn(CharacterStyle::inverse, true);
            break;
        case 22:
            turn(CharacterStyle::bold | CharacterStyle::dim, false);
            break;
        case 24:
            turn(CharacterStyle::underline, false);
            break;
        case 25:
            turn(CharacterStyle::blink, false);
            break;
        case 27:
            turn(CharacterStyle::inverse, false);
            break;
        default:
            break;
        }
    }
    return edit;
}

/// DECRARA's parameters (from position 4; none means 0): 1 4 5 7 reverse bold, underline, blink,
/// inverse, and 0 reverses all four. A style named twice is reversed twice. Others are ignored.
AttributeEdit reverseEdit(const CsiParameters& pars)
{
    AttributeEdit edit;
    for (int index = 4; index < std::max(pars.count, 5); ++index) {
        switch (parameterOr(pars, index, 0)) {
        case 0:
            edit.toggle = edit.toggle.symmetricDifference(visualStyles);
            break;
        case 1:
            edit.toggle = edit.toggle.symmetricDifference(CharacterStyle::bold);
            break;
        case 4:
            edit.toggle = edit.toggle.symmetricDifference(CharacterStyle::underline);
            break;
        case 5:
            edit.toggle = edit.toggle.symmetricDifference(CharacterStyle::blink);
            break;
        case 7:
            edit.toggle = edit.toggle.symmetricDifference(CharacterStyle::inverse);
            break;
        default:
            break;
        }
    }
    return edit;
}

/// The area DECCARA and DECRARA change, as DECSACE set it: 2 a rectangle, anything else a stream.
AttributeExtent extentOf(int attributeChangeExtent)
{
    return attributeChangeExtent == 2 ? AttributeExtent::rectangle : AttributeExtent::stream;
}

/// Applies `edit` to the cells of the active buffer `active` that DECSACE's `extent` selects
/// between the corners of `pars`. Characters and colours stay; only the style bits change, each
/// distinct attribute being interned once.
void editAttributes(Terminal& t, Buffer& active, AttributeExtent extent, const CsiParameters& pars,
                    const AttributeEdit& edit) REQUIRES(t.terminalLock())
{
    const std::optional<CellRectangle> area = getRectangleFromRequest(t, pars, 0, extent);
    if (!area || edit.isEmpty())
        return;
    CellArena& arena = *active.cellArena();

    // The new attribute id of each attribute met, keyed by the id (kinds 0 and 1) or by the inline
    // colour of a blank (kinds 2 and 3, with bit 32 set to keep the two key spaces apart).
    std::unordered_map<uint64_t, std::optional<uint16_t>> newIDs;
    const auto edited = [&](PackedCell cell) REQUIRES(t.terminalLock()) -> std::optional<PackedCell> {
        const uint64_t key =
            cell.isBlankKind()
                ? (uint64_t(1) << 32) | (cell.rawValue & (PackedCell::kindMask | PackedCell::contentMask))
                : cell.attributeID();
        auto found = newIDs.find(key);
        if (found == newIDs.end())
            found = newIDs.emplace(key, arena.intern(edit.applied(arena.attribute(cell)))).first;
        // A full attribute table leaves the cell as it was.
        if (!found->second)
            return std::nullopt;
        const uint16_t id = *found->second;
        if (cell.isBlankKind()) {
            // An inline blank has no attribute id; it becomes an empty cell carrying one.
            return PackedCell::makeScalar(0, id, cell.widthState(), cell.isProtected(), cell.payloadCode(),
                                          cell.semanticCode());
        }
        return PackedCell((cell.rawValue & ~PackedCell::attributeMask) |
                          (uint64_t(id) << PackedCell::attributeShift));
    };

    for (int row = area->top; row <= area->bottom; ++row) {
        BufferLine* line = screenLine(active, row);
        if (!line)
            continue;
        // A stream runs from the first corner to the end of its row, over whole rows, and ends
        // at the second corner; a rectangle takes the same columns on every row.
        int first = area->left;
        int last = area->right;
        if (extent == AttributeExtent::stream) {
            first = row == area->top ? area->left : 0;
            last = row == area->bottom ? area->right : t.cols() - 1;
        }
        for (int col = first; col <= last; ++col) {
            const PackedCell cell = readCell(*line, col);
            const std::optional<PackedCell> changed = edited(cell);
            if (changed && *changed != cell)
                writeCell(*line, col, *changed);
        }
    }
    t.updateRange(area->top);
    t.updateRange(area->bottom);
}

} // namespace

// --- Routers -------------------------------------------------------------------------------------

void Terminal::csiX(const CsiParameters& pars, Collect collect)
{
    if (collectIs(collect, '$')) {
        // DECFRA: CSI Pc ; Pt ; Pl ; Pb ; Pr $ x
        const std::optional<char32_t> character = fillCharacter(parameterOr(pars, 0, 0));
        if (!character)
            return;
        if (const std::optional<CellRectangle> area = getRectangleFromRequest(*this, pars, 1))
            fillRectangle(*this, *_buffer, *area,
                          PackedCell::makeScalar(*character, curStyleID_, WidthState::single, false, 0, 0));
        return;
    }
    if (collectIs(collect, '*')) {
        // DECSACE: 0 and 1 (stream) and 2 (rectangle) are kept; larger values are ignored.
        const int64_t extent = parameterOr(pars, 0, 0);
        if (extent <= 2)
            reportedOnly_.attributeChangeExtent = static_cast<int>(extent);
        return;
    }
    logInfo("Not implemented CSI x with collect: collect=" + describeBytes(collect) +
            " and pars=" + describeParameters(pars));
}

void Terminal::csiZ(const CsiParameters& pars, Collect collect)
{
    if (collectIs(collect, '$')) {
        cmdDECERA(pars);
    } else if (collectIs(collect, '\'')) {
        // Locator reporting is not supported: reported like any other unknown sequence.
        logInfo("Kestrovan: Locator reporting (DECELR) is not supported");
    }
}

void Terminal::csiOpenBrace(const CsiParameters& pars, Collect collect)
{
    if (collectIs(collect, '$'))
        cmdSelectiveEraseRectangularArea(pars);
    else
        logInfo("CSI # { not implemented - XTPUSHSGR with " + describeParameters(pars));
}

void Terminal::csiCloseBrace(const CsiParameters& pars, Collect collect)
{
    if (collectIs(collect, '\''))
        cmdInsertColumns(pars, collect);
    else
        logInfo("CSI # } not implemented- XTPOPSGR with " + describeParameters(pars));
}

// --- Erase and fill ------------------------------------------------------------------------------

void Terminal::cmdDECERA(const CsiParameters& pars)
{
    // Spaces in the current SGR attribute, not the erase attribute, whatever the protection.
    if (const std::optional<CellRectangle> area = getRectangleFromRequest(*this, pars, 0))
        fillRectangle(*this, *_buffer, *area,
                      PackedCell::makeScalar(' ', curStyleID_, WidthState::single, false, 0, 0));
}

void Terminal::cmdSelectiveEraseRectangularArea(const CsiParameters& pars)
{
    // DECSERA: unprotected cells become spaces keeping their look. Only DECSCA protects here; SPA
    // protection (mode `iso`) does not stop this erase.
    const std::optional<CellRectangle> area = getRectangleFromRequest(*this, pars, 0);
    if (!area)
        return;
    const bool ignoreProtection = characterProtectionMode_ == CharacterProtectionMode::iso;
    const auto erasable = [&](PackedCell cell) { return ignoreProtection || !cell.isProtected(); };
    CellArena& arena = *_buffer->cellArena();
    for (int row = area->top; row <= area->bottom; ++row) {
        BufferLine* line = screenLine(*_buffer, row);
        if (!line || line->count() == 0)
            continue;
        // A wide character cut by an edge goes whole when its half inside is erased; a protected
        // one stays whole.
        const int left = std::min(area->left, line->count() - 1);
        const int right = std::min(area->right, line->count() - 1);
        if (line->packed(left).isContinuation() && erasable(line->packed(left)))
            line->repairWideSeam(left);
        if (line->packed(right).isLead() && erasable(line->packed(right)))
            line->repairWideSeam(right + 1);
        for (int col = left; col <= right; ++col) {
            const PackedCell cell = line->packed(col);
            if (!erasable(cell))
                continue;
            if (const std::optional<PackedCell> erased =
                    arena.replacingContent(cell, U" ", WidthState::single))
                writeCell(*line, col, *erased);
        }
    }
    refresh(area->top, area->bottom);
}

// --- Copy ----------------------------------------------------------------------------------------

void Terminal::csiCopyRectangularArea(const CsiParameters& pars, Collect collect)
{
    // DECCRA: CSI Pts ; Pls ; Pbs ; Prs ; Pps ; Ptd ; Pld ; Ppd $ v
    if (!collectIs(collect, '$'))
        return;
    // There is one page: a copy from or to any other does nothing.
    if (parameterOrDefault(pars, 4, 1) != 1 || parameterOrDefault(pars, 7, 1) != 1)
        return;
    const std::optional<CellRectangle> source =
        rectangleFromCorners(*this, parameterOrDefault(pars, 0, 1), parameterOrDefault(pars, 1, 1),
                             parameterOrDefault(pars, 2, _rows), parameterOrDefault(pars, 3, _cols));
    if (!source)
        return;
    // The destination is a screen position: origin mode does not move it.
    const int row0 = static_cast<int>(std::min<int64_t>(parameterOrDefault(pars, 5, 1) - 1, _rows - 1));
    const int col0 = static_cast<int>(std::min<int64_t>(parameterOrDefault(pars, 6, 1) - 1, _cols - 1));
    const int width = std::min(_cols - col0, source->right - source->left + 1);
    if (width < 1)
        return;

    // Every source row is read before anything is written, so a copy onto an overlapping area
    // reads the cells as they were, whichever way it moves them.
    std::vector<std::vector<PackedCell>> copied;
    copied.reserve(static_cast<size_t>(source->bottom - source->top + 1));
    for (int row = source->top; row <= source->bottom; ++row) {
        std::vector<PackedCell>& cells = copied.emplace_back(static_cast<size_t>(width), PackedCell());
        if (const BufferLine* line = screenLine(*_buffer, row)) {
            for (int k = 0; k < width; ++k)
                cells[size_t(k)] = readCell(*line, source->left + k);
        }
        // A wide character cut by the source's edges arrives as half a character: blank it.
        if (cells.front().isContinuation())
            cells.front() = cells.front().blanked();
        if (cells.back().isLead())
            cells.back() = cells.back().blanked();
    }

    int lastRow = row0;
    for (size_t i = 0; i < copied.size(); ++i) {
        const int row = row0 + static_cast<int>(i);
        if (row > _rows - 1)
            break;
        BufferLine* line = screenLine(*_buffer, row);
        if (!line)
            continue;
        repairEdges(*line, col0, col0 + width - 1);
        for (int k = 0; k < width; ++k)
            writeCell(*line, col0 + k, copied[i][size_t(k)]);
        lastRow = row;
    }
    refresh(row0, lastRow);
}

// --- Attributes ----------------------------------------------------------------------------------

void Terminal::cmdDECCARA(const CsiParameters& pars)
{
    editAttributes(*this, *_buffer, extentOf(reportedOnly_.attributeChangeExtent), pars, changeEdit(pars));
}

void Terminal::cmdDECRARA(const CsiParameters& pars)
{
    editAttributes(*this, *_buffer, extentOf(reportedOnly_.attributeChangeExtent), pars, reverseEdit(pars));
}

// --- Checksum ------------------------------------------------------------------------------------

void Terminal::cmdDECRQCRA(const CsiParameters& pars, Collect collect)
{
    // DECRQCRA: CSI Pid ; Pp ; Pt ; Pl ; Pb ; Pr * y. Without the "*" this is another control
    // function (DECTST) and must not be answered with a checksum.
    if (!collectIs(collect, '*'))
        return;
    const std::shared_ptr<TerminalDelegate> host = delegate();
    const int64_t pid = parameterOr(pars, 0, 1);

    // The checksum reveals screen contents, so only a trusted program gets a real one.
    uint32_t sum = 0;
    if (host && host->isProcessTrusted(*this) && pars.count >= 3) {
        if (const std::optional<CellRectangle> area = getRectangleFromRequest(*this, pars, 2)) {
            const Buffer& active = *_buffer;
            for (int row = area->top; row <= area->bottom; ++row) {
                const int index = active.yBase() + row;
                const BufferLine* line =
                    index < active.lines().count() ? active.lines().lineIfPresent(index).get() : nullptr;
                for (int col = area->left; col <= area->right; ++col) {
                    // Missing lines and cells read as blanks. The sum wraps at 2^32.
                    if (!line || col >= line->count())
                        sum += 0x20;
                    else
                        sum += cellChecksum(*line->arena(), line->packed(col));
                }
            }
        }
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%04X", unsigned(sum));
    sendResponse(cc_.DCS(), std::to_string(pid) + "!~" + checksum, cc_.ST());
}

} // namespace kestrovan
