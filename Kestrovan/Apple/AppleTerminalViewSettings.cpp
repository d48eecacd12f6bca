// The settings a host changes at run time, and the frame that fits the grid.
//
// Frames read most settings through the frame capture, so a change only has to make the next frame
// draw everything anew. Two effects recur: "colours changed" (`colorsChanged`: the colour caches
// are emptied, reverse video copied across, the backing colour repainted, every row marked and a
// frame asked for), for settings that change which colour a cell shows; and a full redraw (every
// row marked, a frame asked for), for settings that change how a cell is drawn. A setting set to
// the value it has does nothing at all, so a host may apply all its settings whenever any of them
// changes.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

void TerminalView::fullRedraw(const char* caller)
{
    withTerminal([](Terminal& terminal) { markWholeScreenLocked(terminal); }, caller);
    requestRedraw();
}

// --- Colours -------------------------------------------------------------------------------------

void TerminalView::setUseBrightColors(bool value)
{
    if (value == useBrightColors_)
        return;
    useBrightColors_ = value;
    colorsChanged();
}

void TerminalView::setCollapseBrightColorsToBase(bool value)
{
    if (value == collapseBrightColorsToBase_)
        return;
    collapseBrightColorsToBase_ = value;
    colorsChanged();
}

void TerminalView::setMinimumContrastRatio(double value)
{
    // Not a number never equals the stored value, so setting it always counts as a change.
    if (value == minimumContrastRatio_)
        return;
    minimumContrastRatio_ = value;
    colorsChanged();
}

void TerminalView::setTranslucentCellBackgrounds(bool value)
{
    if (value == translucentCellBackgrounds_)
        return;
    translucentCellBackgrounds_ = value;
    // The backing colour follows this setting: colours changed repaints it.
    colorsChanged();
}

void TerminalView::setBackgroundOpacity(double value)
{
    const double alpha = std::isnan(value) ? 1.0 : std::clamp(value, 0.0, 1.0);
    if (alpha == nativeBg_.alpha)
        return;
    platform::NativeColor background = nativeBg_;
    background.alpha = alpha;
    setNativeBackgroundColor(background);
    colorsChanged();
}

// --- Drawing -------------------------------------------------------------------------------------

void TerminalView::setBidiHostPolicy(BidiHostPolicy policy)
{
    if (policy == bidiHostPolicy_)
        return;
    bidiHostPolicy_ = policy;
    fullRedraw("bidiHostPolicy");
    // The cursor's cell may sit elsewhere on a row laid out the other way.
    updateCursorPosition();
}

void TerminalView::setCustomBlockGlyphs(bool value)
{
    if (value == customBlockGlyphs_)
        return;
    customBlockGlyphs_ = value;
    fullRedraw("customBlockGlyphs");
}

void TerminalView::setAntiAliasCustomBlockGlyphs(bool value)
{
    if (value == antiAliasCustomBlockGlyphs_)
        return;
    antiAliasCustomBlockGlyphs_ = value;
    fullRedraw("antiAliasCustomBlockGlyphs");
}

void TerminalView::setGlyphFallbackProvider(std::shared_ptr<const TerminalGlyphFallbackProvider> provider)
{
    if (provider == glyphFallbackProvider_)
        return;
    glyphFallbackProvider_ = std::move(provider);
    fullRedraw("glyphFallbackProvider");
}

void TerminalView::setSelectedTextBackgroundColor(platform::NativeColor color)
{
    if (color == selectedTextBackgroundColor_)
        return;
    selectedTextBackgroundColor_ = color;
    fullRedraw("selectedTextBackgroundColor");
}

void TerminalView::setSelectedTextForegroundColor(platform::NativeColor color)
{
    if (color == selectedTextForegroundColor_)
        return;
    selectedTextForegroundColor_ = color;
    fullRedraw("selectedTextForegroundColor");
}

void TerminalView::setLinkColor(std::optional<platform::NativeColor> color)
{
    if (color == linkColor_)
        return;
    linkColor_ = color;
    fullRedraw("linkColor");
}

void TerminalView::setLinkUnderlineColor(std::optional<platform::NativeColor> color)
{
    if (color == linkUnderlineColor_)
        return;
    linkUnderlineColor_ = color;
    fullRedraw("linkUnderlineColor");
}

// --- Caret and rendering -------------------------------------------------------------------------

bool TerminalView::caretViewTracksFocus() const
{
    KESTROVAN_ASSERT(caretView_ != nullptr, "TerminalView.caretViewTracksFocus: no caret view");
    return caretView_->tracksFocus();
}

void TerminalView::setCaretViewTracksFocus(bool value)
{
    KESTROVAN_ASSERT(caretView_ != nullptr, "TerminalView.caretViewTracksFocus: no caret view");
    if (value == caretView_->tracksFocus())
        return;
    caretView_->setTracksFocus(value);
    // The caret restyles itself now (hollow or solid, blinking or not); the frame capture reads
    // the focus it draws with.
    caretView_->updateCursorStyle();
    requestRedraw();
}

bool TerminalView::suspendsRenderingWhenNotVisible() const
{
    return frameDriver_ ? frameDriver_->visibilitySuspensionEnabled() : true;
}

void TerminalView::setSuspendsRenderingWhenNotVisible(bool value)
{
    requireMainThread("TerminalView.suspendsRenderingWhenNotVisible");
    if (!frameDriver_ || value == frameDriver_->visibilitySuspensionEnabled())
        return;
    // The driver applies its policy at once: a hidden view starts ticking again when suspension is
    // switched off, and stops when it is switched back on.
    frameDriver_->setVisibilitySuspensionEnabled(value);
}

// --- The frame that fits the grid ----------------------------------------------------------------

platform::Rect TerminalView::getOptimalFrameSize()
{
    const auto [cols, rows] = withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return std::pair(terminal.cols(), terminal.rows());
        },
        "getOptimalFrameSize()");
    KESTROVAN_ASSERT(cellDimension_.has_value(),
                     "TerminalView.getOptimalFrameSize: the cell is not measured");
    return platform::Rect{0, 0, cellDimension_->width * cols + reservedScrollerWidth(),
                          cellDimension_->height * rows};
}

} // namespace kestrovan
