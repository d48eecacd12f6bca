// Frames of whatever screen arbitrary output makes: the snapshot is refreshed and every row is
// built on the attributed path and, where it accepts the row, on the plain path.
//
// Input layout:
//   byte 0   columns: 2 + b % 79
//   byte 1   rows: 1 + b % 24
//   byte 2   frame switches: bit 0 blink phase shown, bit 1 bright colours, bit 2 collapse,
//            bit 3 custom block glyphs, bits 4-5 minimum contrast (1, 3, 4.5, 21), bit 6 a
//            selection over the screen, bit 7 translucent cell backgrounds
//   then     output bytes, fed to the terminal as they are
//
// Checked: the segments of a row cover its columns once (a wide character at the last column
// may reach one past it), every UTF-16 unit maps to a cell of its segment, a plain row has one
// byte per column and runs covering every column once with the same colours, font and
// decorations the attributed path gives, and a second refresh with nothing changed copies no row.
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalLock.h"
#include "Platform/Text/FontSet.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

using namespace kestrovan;

namespace {

class NullDelegate : public TerminalDelegate
{
public:
    void send(Terminal&, std::span<const uint8_t>) override {}
};

[[noreturn]] void broken(const char* what, long a, long b)
{
    std::fprintf(stderr, "invariant broken: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

void check(bool holds, const char* what, long a = 0, long b = 0)
{
    if (!holds)
        broken(what, a, b);
}

/// The system's monospaced faces, loaded before fuzzing: fontconfig keeps some of what it reads
/// for the process, which would look like a leak of the first input.
const FrameFontSet& fonts()
{
    static const FrameFontSet set(platform::FontSet::fromNormal(platform::Font::monospace(12)));
    return set;
}

FrameViewState viewState(uint8_t switches, int cols, int rows)
{
    FrameViewState state;
    state.fonts = fonts();
    state.cellDimension = platform::Size{8, 16};
    state.viewBounds = platform::Rect{0, 0, 8.0 * cols, 16.0 * rows};
    state.viewFrameHeight = 16.0 * rows;
    state.appearance.effectiveForegroundColor = FrameColor{0.7, 0.7, 0.7, 1};
    state.appearance.effectiveBackgroundColor = FrameColor{0, 0, 0, (switches & 0x80) ? 0.8 : 1.0};
    state.appearance.selectedTextBackgroundColor = FrameColor{0.2, 0.3, 0.9, 0.5};
    state.appearance.selectedTextForegroundColor = FrameColor{1, 1, 1, 1};
    state.appearance.linkUnderlineColor = FrameColor{1, 0, 1, 1};
    state.textBlinkVisible = switches & 0x01;
    state.useBrightColors = switches & 0x02;
    state.collapseBrightColorsToBase = switches & 0x04;
    state.customBlockGlyphs = switches & 0x08;
    state.minimumContrastRatio = std::array<double, 4>{1, 3, 4.5, 21}[(switches >> 4) & 3];
    state.translucentCellBackgrounds = switches & 0x80;
    state.linkHighlightMode = LinkHighlightMode::always;
    return state;
}

void checkRow(SnapshotTextBuilder& builder, const TerminalSnapshotRow& row, int64_t absolute,
              const SnapshotRenderContext& context)
{
    const ViewLineInfo info = builder.buildAttributedString(row, absolute, context);
    long covered = 0;
    for (const ViewLineSegment& segment : info.segments) {
        check(segment.column == covered, "segments follow each other", segment.column, covered);
        check(segment.utf16ToCellOrdinal.size() == segment.attributedString.text().size(),
              "one map entry per UTF-16 unit", long(segment.utf16ToCellOrdinal.size()),
              long(segment.attributedString.text().size()));
        const int cells = segment.utf16ToCellOrdinal.empty() ? 0 : segment.utf16ToCellOrdinal.back() + 1;
        covered += long(cells) * segment.columnWidth;
    }
    check(covered == context.cols || covered == context.cols + 1, "segments cover the row", covered,
          context.cols);

    const std::optional<PlainRow> plain = builder.plainRow(row, absolute, context);
    if (!plain)
        return;
    check(plain->bytes.size() == size_t(context.cols), "one byte per column", long(plain->bytes.size()));
    check(info.segments.size() == 1, "a plain row is one segment", long(info.segments.size()));
    const ViewLineSegment& segment = info.segments[0];
    int expectedStart = 0;
    size_t runIndex = 0;
    size_t runEnd = segment.attributedString.runs()[0].length;
    for (const PlainRun& run : plain->runs) {
        check(run.start == expectedStart && run.end > run.start, "runs cover each column once", run.start,
              expectedStart);
        expectedStart = run.end;
        for (int column = run.start; column < run.end; ++column) {
            while (size_t(column) >= runEnd)
                runEnd += segment.attributedString.runs()[++runIndex].length;
            const SnapshotTextAttributes& attributed = *segment.attributedString.runs()[runIndex].attributes;
            const PlainRunStyle& style = run.style;
            check(char16_t(plain->bytes[size_t(column)]) == segment.attributedString.text()[size_t(column)],
                  "same text", column);
            check(context.fonts.font(style.fontIndex) == attributed.font, "same font", column);
            check(builder.platformColor(style.foreground, context) == attributed.foregroundColor,
                  "same foreground", column);
            check(builder.platformColor(style.background, context) == attributed.backgroundColor,
                  "same background", column);
            check(style.underline.has_value() == attributed.underlineColor.has_value(), "same underline",
                  column);
            check(style.strikethrough.has_value() == attributed.strikethroughColor.has_value(),
                  "same strikethrough", column);
            check(style.selectionBackground == attributed.selectionBackgroundColor, "same selection", column);
        }
    }
    check(expectedStart == context.cols, "runs reach the last column", expectedStart, context.cols);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fonts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int cols = 2 + data[0] % 79;
    const int rows = 1 + data[1] % 24;
    const uint8_t switches = data[2];
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = cols;
    options.rows = rows;
    options.scrollback = 50;
    auto delegate = std::make_shared<NullDelegate>();
    std::shared_ptr<Terminal> terminal = Terminal::create(delegate, options);
    {
        const TerminalUnsharedScope unshared(terminal->terminalLock());
        terminal->feed(std::span<const uint8_t>(data + 3, size - 3));
    }

    const FrameViewState state = viewState(switches, cols, rows);
    SnapshotSelectionState selection;
    selection.active = switches & 0x40;
    selection.start = Position(1, 0);
    selection.end = Position(cols / 2, rows);
    TerminalSnapshot snapshot;
    {
        TerminalLockGuard guard(terminal->terminalLock());
        if (snapshot.refresh(*terminal, state, selection, false) !=
            TerminalSnapshot::RefreshResult::refreshed)
            return 0;
    }
    const uint64_t copied = snapshot.counters().rowsCopied;
    {
        TerminalLockGuard guard(terminal->terminalLock());
        snapshot.refresh(*terminal, state, selection, false);
    }
    check(snapshot.counters().rowsCopied == copied, "an unchanged screen is not copied again",
          long(snapshot.counters().rowsCopied), long(copied));
    check(snapshot.rows.size() <= size_t(rows), "no more rows than the screen", long(snapshot.rows.size()),
          rows);

    SnapshotTextBuilder builder;
    for (size_t row = 0; row < snapshot.rows.size(); ++row)
        checkRow(builder, *snapshot.rows[row], snapshot.firstRow + int64_t(row), *snapshot.renderContext);
    return 0;
}
