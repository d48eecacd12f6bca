// The caret of a terminal view as the view's shared half sees it: where it is, whether it is
// shown, its style, colours and focus, and the character drawn inside a block caret.
//
// The caret is a subview one cell high over the cursor cell. This object is its state and the
// core the host's subview shows (`platform::ViewCore`); the terminal view places it after every
// frame and sets its colours when programs change them. Hiding the caret hides the subview (a
// subview of the view layer cannot be taken out and put back). Its drawing is `drawCursor`
// (CaretDrawing.h), with the owning view's fonts, cell size and focus.
#pragma once

#include "Kestrovan/Apple/CaretDrawing.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/CursorStyle.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewCore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestrovan {

class TerminalView;

class CaretView : public platform::ViewCore
{
public:
    /// A caret of `terminal` (held weakly) at `frame`, in the caret colour `defaultColor`.
    CaretView(std::weak_ptr<TerminalView> terminal, platform::Rect frame, CursorStyle style,
              platform::NativeColor defaultColor);

    /// Draws the caret over its own bounds.
    void draw(const platform::DrawRequest& request) override;
    /// What the next draw shows (the character under a block caret, its colours and font); the
    /// bounds and the style are the caret's own.
    const CaretDrawState& drawState() const { return drawState_; }
    /// Takes the cursor's character, colours and font from a frame, and redraws.
    void setText(const CaretRenderData& data);
    /// The text drawn inside a block caret for the cursor's cell: its character (a space for an
    /// empty cell, and for blinking text in its hidden phase), asked for text presentation when it
    /// prefers it and has no placement policy. Shared with the GPU renderer's cursor.
    static std::u16string characterText(const CaretRenderData& data);
    /// Whether the cell's text is shown under the caret (not blinking text in its hidden phase).
    static bool showsCharacter(const CaretRenderData& data);

    /// The host's subview showing this caret; the caret's frame and visibility go to it from now on.
    void setPresentation(std::shared_ptr<platform::View> view);
    const std::shared_ptr<platform::View>& presentation() const { return view_; }

    platform::Rect frame() const { return frame_; }
    void setFrame(const platform::Rect& frame);
    /// Shown over the terminal (true) or taken away (false).
    bool isInSuperview() const { return inSuperview_; }
    void addToSuperview();
    void removeFromSuperview();

    CursorStyle style() const { return style_; }
    void setStyle(CursorStyle style) { style_ = style; }
    /// Re-applies style and blink after a change of style, focus or cell size.
    void updateCursorStyle();
    /// Restarts the blink so the caret is fully shown right after typing.
    void resetBlinkAfterInput();

    bool tracksFocus() const { return tracksFocus_; }
    void setTracksFocus(bool tracks) { tracksFocus_ = tracks; }
    bool focused() const { return focused_; }
    void setFocused(bool focused) { focused_ = focused; }

    platform::NativeColor caretColor() const { return caretColor_; }
    /// Sets the colour and the background it paints with, and redraws.
    void setCaretColor(platform::NativeColor color);
    const std::optional<platform::NativeColor>& caretTextColor() const { return caretTextColor_; }
    void setCaretTextColor(std::optional<platform::NativeColor> color);
    platform::NativeColor defaultCaretColor() const { return defaultCaretColor_; }
    const std::optional<platform::NativeColor>& defaultCaretTextColor() const
    {
        return defaultCaretTextColor_;
    }
    platform::NativeColor bgColor() const { return bgColor_; }
    void setBgColor(platform::NativeColor color) { bgColor_ = color; }

    BufferLine::RenderLineMode powerlineRenderMode() const { return powerlineRenderMode_; }
    void setPowerlineRenderMode(BufferLine::RenderLineMode mode) { powerlineRenderMode_ = mode; }

    /// Redraws the whole caret.
    void setNeedsDisplay();
    /// Hides the caret whatever the cursor does, while a GPU renderer draws the cursor itself.
    void setHiddenByRenderer(bool hidden);
    bool isHiddenByRenderer() const { return hiddenByRenderer_; }
    /// Whether the caret's subview is shown.
    bool isShown() const { return inSuperview_ && !hiddenByRenderer_; }

    /// Counts, for tests and diagnostics.
    uint64_t styleUpdates() const { return styleUpdates_; }
    uint64_t blinkResets() const { return blinkResets_; }
    uint64_t displayRequests() const { return displayRequests_; }

private:
    std::weak_ptr<TerminalView> terminal_;
    CaretDrawState drawState_;
    /// What `drawState_.character` was shaped from.
    std::u16string shapedText_;
    platform::FontRef shapedFont_;
    std::shared_ptr<platform::View> view_;
    platform::Rect frame_;
    bool inSuperview_ = true;
    bool hiddenByRenderer_ = false;
    CursorStyle style_;
    bool tracksFocus_ = true;
    bool focused_ = false;
    platform::NativeColor defaultCaretColor_;
    platform::NativeColor caretColor_;
    std::optional<platform::NativeColor> defaultCaretTextColor_;
    std::optional<platform::NativeColor> caretTextColor_;
    platform::NativeColor bgColor_;
    BufferLine::RenderLineMode powerlineRenderMode_ = BufferLine::RenderLineMode::single;
    uint64_t styleUpdates_ = 0;
    uint64_t blinkResets_ = 0;
    uint64_t displayRequests_ = 0;
};

} // namespace kestrovan
