#include "Kestrovan/Apple/CaretView.h"

#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/UnicodeUtil.h"

#include <string>

namespace kestrovan {

CaretView::CaretView(std::weak_ptr<TerminalView> terminal, platform::Rect frame, CursorStyle style,
                     platform::NativeColor defaultColor)
    : terminal_(std::move(terminal)), frame_(frame), style_(style), defaultCaretColor_(defaultColor),
      caretColor_(defaultColor), bgColor_(defaultColor)
{
    drawState_.renderCursorColor = defaultColor;
    drawState_.renderTextColor = platform::NativeColor::sRGB(0, 0, 0);
}

namespace {

std::u16string utf16(const std::u32string& scalars)
{
    std::u16string text;
    for (char32_t scalar : scalars) {
        if (scalar < 0x10000) {
            text.push_back(char16_t(scalar));
        } else {
            scalar -= 0x10000;
            text.push_back(char16_t(0xD800 + (scalar >> 10)));
            text.push_back(char16_t(0xDC00 + (scalar & 0x3FF)));
        }
    }
    return text;
}

} // namespace

bool CaretView::showsCharacter(const CaretRenderData& data)
{
    return data.textBlinkVisible || !data.cellAttribute.style.contains(CharacterStyle::blink);
}

std::u16string CaretView::characterText(const CaretRenderData& data)
{
    // Blinking text in its hidden phase hides under the caret too.
    std::u32string scalars = U" ";
    if (showsCharacter(data))
        scalars = data.character.scalars.empty() ? std::u32string(U" ") : data.character.scalars;
    // Without a placement policy, a character that prefers text presentation is asked for it, as
    // the row's text does.
    if (!data.attributes.glyphPolicy && UnicodeUtil::prefersTextPresentation(Character(scalars).utf8()))
        scalars.push_back(U'\uFE0E');
    return utf16(scalars);
}

void CaretView::setText(const CaretRenderData& data)
{
    drawState_.glyphColumnWidth = data.width >= 2 ? data.width : 1;
    drawState_.renderCursorColor = data.cursorColor;
    drawState_.renderTextColor = data.textColor;
    drawState_.renderCustomBlockGlyphs = data.customBlockGlyphs;
    drawState_.renderNormalFont = data.normalFont;
    drawState_.powerlineCodePoint.reset();
    if (showsCharacter(data) && PowerlineRenderer::glyph(data.code))
        drawState_.powerlineCodePoint = data.code;
    const platform::FontRef font = data.attributes.font ? data.attributes.font : data.normalFont;
    if (font) {
        // Every frame sets the caret's text; it is shaped again only when the text or the font
        // changed (shaping was a quarter of the work of a frame that echoes a key).
        std::u16string text = characterText(data);
        if (!drawState_.character || text != shapedText_ || font != shapedFont_) {
            const platform::FontRun run{uint32_t(text.size()), font};
            drawState_.character = CaretCharacter{platform::ShapedLine::shape(text, std::span(&run, 1)), {}};
            shapedText_ = std::move(text);
            shapedFont_ = font;
        }
        drawState_.character->runPolicies = {data.attributes.glyphPolicy};
    } else {
        drawState_.character.reset();
        shapedFont_.reset();
    }
    setNeedsDisplay();
}

void CaretView::draw(const platform::DrawRequest& request)
{
    const std::shared_ptr<TerminalView> terminal = terminal_.lock();
    if (!request.canvas || !terminal)
        return;
    CaretDrawState state = drawState_;
    state.bounds = platform::Rect{0, 0, frame_.width, frame_.height};
    state.style = style_;
    state.powerlineRenderMode = powerlineRenderMode_;
    // A caret that follows the view's focus draws the hollow box while the view is not focused.
    const bool focus = !tracksFocus_ || terminal->hasFocus();
    drawCursor(*request.canvas, state, GlyphSlotFitter(terminal->fontSet(), terminal->cellDimension()),
               focus);
}

void CaretView::setPresentation(std::shared_ptr<platform::View> view)
{
    // A new host's subview starts from the caret's current state.
    view_ = std::move(view);
    if (!view_)
        return;
    view_->setFrame(frame_);
    view_->setHidden(!isShown());
    view_->setNeedsDisplay();
}

void CaretView::setFrame(const platform::Rect& frame)
{
    if (frame == frame_)
        return;
    frame_ = frame;
    if (view_)
        view_->setFrame(frame);
}

void CaretView::addToSuperview()
{
    if (inSuperview_)
        return;
    inSuperview_ = true;
    if (view_)
        view_->setHidden(!isShown());
}

void CaretView::removeFromSuperview()
{
    // Taken away means hidden: the same subview shows the caret again when the cursor returns.
    if (!inSuperview_)
        return;
    inSuperview_ = false;
    if (view_)
        view_->setHidden(true);
}

void CaretView::setHiddenByRenderer(bool hidden)
{
    if (hidden == hiddenByRenderer_)
        return;
    hiddenByRenderer_ = hidden;
    if (view_)
        view_->setHidden(!isShown());
}

void CaretView::updateCursorStyle()
{
    // The drawing reads the style, focus and colours at each draw, so a redraw applies them.
    ++styleUpdates_;
    setNeedsDisplay();
}

void CaretView::resetBlinkAfterInput()
{
    // The blink phase is the caret drawing's; restarting it is counted here for the widget.
    ++blinkResets_;
}

void CaretView::setCaretColor(platform::NativeColor color)
{
    // The background the caret paints follows its colour, as the two are one setting.
    caretColor_ = color;
    bgColor_ = color;
    setNeedsDisplay();
}

void CaretView::setCaretTextColor(std::optional<platform::NativeColor> color)
{
    caretTextColor_ = color;
    setNeedsDisplay();
}

void CaretView::setNeedsDisplay()
{
    ++displayRequests_;
    if (view_)
        view_->setNeedsDisplay();
}

} // namespace kestrovan
