// The view's terminal, its cell and its grid: creating or reconfiguring the terminal from the
// options, measuring the cell from the font, and turning view sizes into terminal sizes, at once
// (`resize`, `processSizeChange`) or at the next frame (`queueSizeChange`).
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrovan {

namespace {

/// round(value), halves away from zero; the largest integer when that does not fit.
int roundedPixels(double value)
{
    const double rounded = std::round(value);
    if (!std::isfinite(rounded) || rounded >= double(std::numeric_limits<int>::max()) ||
        rounded <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(rounded);
}

/// trunc(extent / cell) for the grid fit; a quotient that is not a number stops the program.
int cellsThatFit(double extent, double cell)
{
    const double quotient = std::trunc(extent / cell);
    if (!std::isfinite(quotient))
        fatal("TerminalView: the grid fit of the view size is not a finite number");
    if (quotient >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return std::max(static_cast<int>(quotient), 0);
}

} // namespace

// --- The cell --------------------------------------------------------------------------------------

platform::Size TerminalView::computeFontDimensions()
{
    const platform::Font& font = *fontSet_.normal;
    const platform::FontMetrics& metrics = font.metrics();
    const double lineHeight = std::ceil((metrics.ascent + metrics.descent + metrics.leading) * lineSpacing_);

    // The advance of "W" stands for the width of every cell; a font without one in its character
    // map may still name the glyph.
    std::optional<platform::GlyphId> glyph = font.glyph(U'W');
    if (!glyph)
        glyph = font.glyphNamed("W");
    const double rawWidth = font.advance(glyph.value_or(0));

    const double scale = backingScale();
    cellDimensionBackingScale_ = scale;
    // Widths snap to whole device pixels so that columns line up; heights round up, so that a
    // line never loses a pixel row of its glyphs.
    const double width = std::max(1.0, std::round(rawWidth * scale) / scale);
    double height = std::ceil(lineHeight * scale) / scale;
    height = std::max(std::min(height, maximumCellHeight), 1.0);
    return platform::Size{width, height};
}

std::pair<int, int> TerminalView::cellPixelSize() const
{
    KESTROVAN_ASSERT(cellDimension_.has_value(), "TerminalView: the cell has not been measured");
    const double scale = backingScale();
    return {std::max(1, roundedPixels(scale * cellDimension_->width)),
            std::max(1, roundedPixels(scale * cellDimension_->height))};
}

std::pair<int, int> TerminalView::gridFit(platform::Size size) const
{
    KESTROVAN_ASSERT(cellDimension_.has_value(), "TerminalView: the cell has not been measured");
    // A view smaller than a cell (or than two columns) still gets a usable grid: the terminal's
    // own minimum of 2 columns and 1 row, rather than a 0- or 1-column terminal.
    const int cols = cellsThatFit(getEffectiveWidth(size), cellDimension_->width);
    const int rows = cellsThatFit(std::max(size.height, 0.0), cellDimension_->height);
    return {std::max(cols, Terminal::MINIMUM_COLS), std::max(rows, Terminal::MINIMUM_ROWS)};
}

double TerminalView::getEffectiveWidth(platform::Size size) const
{
    // The scroller overlays the cells, so the whole width is theirs.
    return std::max(size.width, 0.0);
}

void TerminalView::resetCaches()
{
    // The colour caches are filled under the terminal lock; they are emptied under it too.
    withTerminalLockHeld([this] { colorMapper_.resetCaches(); }, "resetCaches()");
}

void TerminalView::refreshCachedViewState()
{
    const double imageScale = host_ && host_->hasWindow() ? backingScale() : 1.0;
    std::optional<std::pair<int, int>> pixels;
    if (cellDimension_)
        pixels = cellPixelSize();
    const std::pair<Color, Color> native{getTerminalColor(nativeFg_), getTerminalColor(nativeBg_)};
    const std::optional<platform::Size> cell = cellDimension_;
    withTerminalLockHeld([this] { colorMapper_.setNativeColors(nativeFg_, nativeBg_); },
                         "refreshCachedViewState()");
    crossThreadState_.withLock([&](TerminalViewCrossThreadState& state) {
        state.cachedNativeColors = native;
        state.cachedCellPointSize = cell;
        state.cachedImageScale = imageScale;
        state.cachedCellPixelSize = pixels;
    });
}

// --- Terminal set-up ---------------------------------------------------------------------------------

void TerminalView::setupOptions(double width, double height)
{
    requireMainThread("TerminalView.setupOptions");
    resetCaches();
    cellDimension_ = computeFontDimensions();

    TerminalOptions options = terminal_ ? terminal_->options() : startupOptions_;
    const bool sized = !(width == 0 && height == 0);
    if (sized) {
        // The width given is already the width left to cells.
        options.cols =
            std::max(cellsThatFit(std::max(width, 0.0), cellDimension_->width), Terminal::MINIMUM_COLS);
        options.rows =
            std::max(cellsThatFit(std::max(height, 0.0), cellDimension_->height), Terminal::MINIMUM_ROWS);
    }

    if (!terminal_) {
        std::weak_ptr<TerminalView> weak = weak_from_this();
        std::shared_ptr<FrameDriverSignal> signal = frameSignal_;
        // Called on the parsing thread when a feed scrolled the viewport: only the locked state and
        // the signal are touched there; the scroller follows at the next frame.
        auto scrollHandler = [weak, signal](Terminal&) {
            if (const std::shared_ptr<TerminalView> view = weak.lock())
                view->crossThreadState_.withLock(
                    [](TerminalViewCrossThreadState& state) { state.scrolledDirty = true; });
            signal->publish(FrameDriverSignal::Events::needsFrame);
        };
        terminal_ = ViewTerminal::create(shared_from_this(), options,
                                         renderOwner_->synchronizedOutputWatchdogHandler(), scrollHandler);
    } else if (sized) {
        // Re-applying the options also returns the running program's modes to their power-on values.
        withTerminal(
            [&options](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                terminal.setOptions(options);
                terminal.setup(false);
            },
            "setupOptions(width:height:)");
    }

    const Color defaultForeground(0x8A3D, 0x8A3D, 0x8A3D);
    const Color defaultBackground(0, 0, 0);
    CursorStyle style = CursorStyle::blinkBlock;
    withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.setBackgroundColor(defaultBackground);
            terminal.setForegroundColor(defaultForeground);
            selection_ = SelectionService::create(terminal_, false);
            style = terminal.options().cursorStyle;
        },
        "setupOptions(width:height:)");
    // The terminal reports both colours back through its delegate, which applies them on a later
    // main-thread turn. Applying them now as well keeps the colours a program's OSC 10 and 11
    // queries read (the cached native colours) equal to what the view paints from the first
    // feed on, instead of answering the old colours until that turn comes.
    setNativeBackgroundColorFromTerminal(makeNativeColor(defaultBackground));
    setNativeForegroundColorFromTerminal(makeNativeColor(defaultForeground));

    const platform::Rect caretFrame{0, 0, cellDimension_->width, cellDimension_->height};
    if (!caretView_) {
        caretView_ = std::make_shared<CaretView>(weak_from_this(), caretFrame, style,
                                                 appearance_.selectedControlColor);
        if (host_)
            caretView_->setPresentation(host_->addSubview(caretView_));
    } else {
        caretView_->setFrame(caretFrame);
        caretView_->updateCursorStyle();
    }

    search_ = std::make_shared<SearchService>(terminal_);
    renderOwner_->attach(terminal_, selection_, search_);
    refreshCachedViewState();
    const auto [pixelWidth, pixelHeight] = cellPixelSize();
    withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.updatePixelGeometry(pixelWidth, pixelHeight);
        },
        "setupOptions(width:height:)");
    if (host_)
        host_->setNeedsDisplay();
}

// --- Fonts -----------------------------------------------------------------------------------------

void TerminalView::resetFont()
{
    resetCaches();
    cellDimension_ = computeFontDimensions();
    refreshCachedViewState();
    const platform::Size size = frameSize();
    if (size.width > 0 && size.height > 0) {
        const auto [cols, rows] = gridFit(size);
        resize(cols, rows);
    }
    if (caretView_) {
        caretView_->setFrame(platform::Rect{caretView_->frame().x, caretView_->frame().y,
                                            cellDimension_->width, cellDimension_->height});
        caretView_->updateCursorStyle();
    }
    if (host_)
        host_->setNeedsDisplay();
}

void TerminalView::setFont(const platform::FontRef& font)
{
    if (!font)
        return;
    fontSet_ = platform::FontSet::fromNormal(font);
    resetFont();
    selectNone();
}

void TerminalView::resetFontSize()
{
    if (const platform::FontRef font = platform::Font::monospace(systemFontSize)) {
        fontSet_ = platform::FontSet::fromNormal(font);
        resetFont();
    }
}

void TerminalView::setLineSpacing(double value)
{
    lineSpacing_ = value;
    resetFont();
}

platform::Rect TerminalView::caretFrame() const
{
    return caretView_ ? caretView_->frame() : platform::Rect{};
}

TerminalDimensions TerminalView::terminalDimensions()
{
    return renderOwner_->dimensions();
}

// --- Resizing ----------------------------------------------------------------------------------------

void TerminalView::resize(int cols, int rows)
{
    const auto [pixelWidth, pixelHeight] = cellPixelSize();
    withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.resize(cols, rows, CellPixelSize{pixelWidth, pixelHeight});
            // A font change starts the program's screen state afresh (margins, modes), as DECSTR does.
            terminal.softReset();
        },
        "resize(cols:rows:)");
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
        delegate->sizeChanged(*this, cols, rows);
    setMailboxUpdateScroller();
    if (frameDriver_)
        requestRedraw();
}

void TerminalView::queueSizeChange(platform::Size newSize)
{
    if (newSize.width == 0 && newSize.height == 0)
        return;
    const auto [cols, rows] = gridFit(newSize);
    // A later size replaces one no frame has taken yet.
    storePendingSize(FrameTerminalSize{cols, rows});
    if (frameDriver_)
        requestRedraw();
}

bool TerminalView::processSizeChange(platform::Size newSize)
{
    if (newSize.width == 0 && newSize.height == 0)
        return false;
    const auto [cols, rows] = gridFit(newSize);
    const auto [pixelWidth, pixelHeight] = cellPixelSize();
    const bool changed = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.cols() == cols && terminal.rows() == rows) {
                terminal.updatePixelGeometry(pixelWidth, pixelHeight);
                return false;
            }
            if (selection_)
                selection_->setActive(false);
            terminal.resize(cols, rows, CellPixelSize{pixelWidth, pixelHeight});
            if (search_)
                search_->invalidate();
            return true;
        },
        "processSizeChange(newSize:)");
    if (!changed)
        return false;
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate())
        delegate->sizeChanged(*this, cols, rows);
    setMailboxUpdateScroller();
    if (frameDriver_)
        requestRedraw();
    return true;
}

bool TerminalView::remeasureCellDimensionIfBackingScaleChanged()
{
    if (!host_ || !host_->hasWindow() || !cellDimension_)
        return false;
    if (backingScale() == cellDimensionBackingScale_)
        return false;
    cellDimension_ = computeFontDimensions();
    refreshCachedViewState();
    const platform::Size size = frameSize();
    processSizeChange(size);
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            markWholeScreenLocked(terminal);
        },
        "remeasureCellDimensionIfBackingScaleChanged()");
    queueSizeChange(size);
    if (caretView_) {
        caretView_->setFrame(platform::Rect{caretView_->frame().x, caretView_->frame().y,
                                            cellDimension_->width, cellDimension_->height});
        caretView_->updateCursorStyle();
    }
    if (host_)
        host_->setNeedsDisplay();
    return true;
}

void TerminalView::markWholeScreenLocked(Terminal& terminal)
{
    terminal.terminalLock().preconditionLocked();
    terminal.updateFullScreen();
}

} // namespace kestrovan
