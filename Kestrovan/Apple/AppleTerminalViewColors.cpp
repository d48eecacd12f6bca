// The view's colours: its native default colours kept in step with the terminal's, the palette
// cache, the pass that redraws everything after a colour change, and the caret's colours.
//
// Colour state has three layers kept consistent here: the terminal's colours (under its lock), the
// view's main-thread caches, and the cross-thread state the parsing thread reads (reverse video and
// the native colours that OSC 10 and 11 queries report).
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Fatal.h"

namespace kestrovan {

// --- The redraw after a colour change ------------------------------------------------------------

void TerminalView::colorsChanged()
{
    withTerminal(
        [this](Terminal&) {
            // Every cached colour was resolved under the settings that just changed. (A program's
            // palette change drops only the entries it changed, before `colorsChangedLocked`.)
            colorMapper_.resetCaches();
            colorsChangedLocked();
        },
        "colorsChanged()");
}

void TerminalView::colorsChangedOnMain()
{
    if (!terminal_)
        return;
    withTerminal([this](Terminal&) { colorsChangedLocked(); }, "colorsChangedOnMain()");
}

void TerminalView::colorsChangedLocked()
{
    Terminal& terminal = requireTerminal("colorsChangedLocked()");
    terminal.terminalLock().preconditionLocked();
    const bool reverse = terminal.mode(TerminalMode::reverseColors);
    crossThreadState_.withLock(
        [reverse](TerminalViewCrossThreadState& state) { state.reverseColorsActive = reverse; });
    colorMapper_.setReverseColorsActive(reverse);
    colorMapper_.setCollapseBrightColorsToBase(collapseBrightColorsToBase_);
    updateBackingLayerBackground();
    markWholeScreenLocked(terminal);
    KESTROVAN_ASSERT(frameDriver_ != nullptr, "TerminalView.colorsChangedLocked: no frame driver");
    requestRedraw();
}

void TerminalView::installColors(const std::vector<Color>& colors)
{
    withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            // Only a full set of 16 base colours replaces the terminal's; the caches go either way.
            if (colors.size() == 16)
                terminal.installPalette(colors);
            colorMapper_.resetCaches();
            colorsChangedLocked();
        },
        "installColors(_:)");
}

platform::NativeColor TerminalView::mapColor(Attribute::Color color, bool isFg, bool isBold, bool useBright)
{
    return colorMapper_.mapColor(requireTerminal("mapColor(color:isFg:isBold:useBrightColors:)"), color, isFg,
                                 isBold, useBright);
}

// --- Native colours ------------------------------------------------------------------------------

// A native colour set by the host goes through the terminal (whose default colour changes with
// it) under the lock; without a terminal there is nothing to keep in step.

void TerminalView::setNativeForegroundColor(platform::NativeColor color)
{
    if (!terminal_) {
        setNativeForegroundColorFromTerminal(color);
        return;
    }
    withTerminal([this, color](Terminal&) { setNativeForegroundColorLocked(color); },
                 "nativeForegroundColor");
}

void TerminalView::setNativeBackgroundColor(platform::NativeColor color)
{
    if (!terminal_) {
        setNativeBackgroundColorFromTerminal(color);
        return;
    }
    withTerminal([this, color](Terminal&) { setNativeBackgroundColorLocked(color); },
                 "nativeBackgroundColor");
}

void TerminalView::setNativeForegroundColorLocked(platform::NativeColor color)
{
    Terminal& terminal = requireTerminal("setNativeForegroundColorLocked(_:)");
    terminal.terminalLock().preconditionLocked();
    // The terminal tells the view of its new colour; that echo must not be applied twice.
    if (settingFg_)
        return;
    settingFg_ = true;
    nativeFg_ = color;
    terminal.setForegroundColor(getTerminalColor(color));
    refreshCachedViewState();
    settingFg_ = false;
}

void TerminalView::setNativeBackgroundColorLocked(platform::NativeColor color)
{
    Terminal& terminal = requireTerminal("setNativeBackgroundColorLocked(_:)");
    terminal.terminalLock().preconditionLocked();
    if (settingBg_)
        return;
    settingBg_ = true;
    nativeBg_ = color;
    terminal.setBackgroundColor(getTerminalColor(color));
    updateBackingLayerBackground();
    refreshCachedViewState();
    settingBg_ = false;
}

void TerminalView::setNativeForegroundColorFromTerminal(platform::NativeColor color)
{
    if (settingFg_)
        return;
    if (terminal_) {
        // A report the terminal has since overtaken is dropped: the later report follows.
        const Color current = withTerminal(
            [](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                return terminal.foregroundColor();
            },
            "setNativeForegroundColorFromTerminal(_:)");
        if (!(current == getTerminalColor(color)))
            return;
    }
    settingFg_ = true;
    nativeFg_ = color;
    refreshCachedViewState();
    settingFg_ = false;
}

void TerminalView::setNativeBackgroundColorFromTerminal(platform::NativeColor color)
{
    if (settingBg_)
        return;
    if (terminal_) {
        const Color current = withTerminal(
            [](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                return terminal.backgroundColor();
            },
            "setNativeBackgroundColorFromTerminal(_:)");
        if (!(current == getTerminalColor(color)))
            return;
    }
    settingBg_ = true;
    // A colour from a program never changes how opaque the view is.
    color.alpha = nativeBg_.alpha;
    nativeBg_ = color;
    refreshCachedViewState();
    settingBg_ = false;
}

void TerminalView::configureNativeColors()
{
    // The theme's text colours, as the host's appearance gives them now.
    setNativeForegroundColor(appearance_.textColor);
    setNativeBackgroundColor(appearance_.textBackgroundColor);
}

void TerminalView::updateBackingLayerBackground()
{
    const bool reverse = crossThreadState().reverseColorsActive;
    const platform::NativeColor color = reverse ? nativeFg_ : nativeBg_;
    // A translucent background shows through translucent cells only when they are asked for; an
    // opaque one is always painted.
    const bool paint = color.alpha >= 1.0 || !translucentCellBackgrounds_;
    backingLayerColor_ = paint ? color : platform::NativeColor::sRGB(0, 0, 0, 0);
    if (host_)
        host_->setNeedsDisplay();
}

// --- Caret colours -------------------------------------------------------------------------------

platform::NativeColor TerminalView::caretColor() const
{
    return caretView_ ? caretView_->caretColor() : appearance_.selectedControlColor;
}

void TerminalView::setCaretColor(platform::NativeColor color)
{
    cursorColorIsDefault_ = false;
    if (caretView_)
        caretView_->setCaretColor(color);
}

std::optional<platform::NativeColor> TerminalView::caretTextColor() const
{
    return caretView_ ? caretView_->caretTextColor() : std::nullopt;
}

void TerminalView::setCaretTextColor(std::optional<platform::NativeColor> color)
{
    cursorTextColorIsDefault_ = !color.has_value();
    if (caretView_)
        caretView_->setCaretTextColor(color);
}

platform::NativeColor TerminalView::effectiveCaretColor() const
{
    // A caret without a colour of its own takes the text colour, which reverse video swaps.
    const bool reverse = crossThreadState().reverseColorsActive;
    if (!cursorColorIsDefault_) {
        KESTROVAN_ASSERT(caretView_ != nullptr, "TerminalView.effectiveCaretColor: no caret view");
        return caretView_->caretColor();
    }
    return reverse ? nativeBg_ : nativeFg_;
}

platform::NativeColor TerminalView::effectiveCaretTextColor() const
{
    const bool reverse = crossThreadState().reverseColorsActive;
    // Under a block caret the character takes the effective background colour.
    if (cursorTextColorIsDefault_)
        return reverse ? nativeFg_ : nativeBg_;
    if (caretView_ && caretView_->caretTextColor())
        return *caretView_->caretTextColor();
    return reverse ? nativeBg_ : nativeFg_;
}

} // namespace kestrovan
