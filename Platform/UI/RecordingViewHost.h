// A `ViewHost` without a display: the test twin of the GTK widget.
//
// It keeps what the core asked for (redraws, pointer shapes, input-method requests, subviews,
// labels, the find bar, scroller states, alerts, beeps, primary selections offered) where a test can
// read it, and lets the test play the toolkit's part: resize the view, change its scale, window,
// focus and appearance, hand it keys, which go through the same interpretation as in the widget (a
// stand-in input method, then the standard key bindings), and pointer events, move the pointer, use
// the find bar and answer alerts. Changes reach the core only when they change something, as in the
// widget. Draws go into a real backing store, so a test can read the pixels a core drew. The
// clipboards (the primary selection among them) are memory clipboards, whose reads are answered on
// the main queue as the display answers them later.
#pragma once

#include "Platform/Graphics/BackingStore.h"
#include "Platform/UI/MemoryClipboard.h"
#include "Platform/UI/ViewCore.h"
#include "Platform/UI/ViewHost.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// A subview of the recording host: its placement, as the core last set it.
class RecordingView : public View
{
public:
    void setFrame(const Rect& frame) override { frame_ = frame; }
    Rect frame() const override { return frame_; }
    void setHidden(bool hidden) override { hidden_ = hidden; }
    bool isHidden() const override { return hidden_; }
    void setOpacity(double opacity) override { opacity_ = opacity; }
    double opacity() const override { return opacity_; }
    void setNeedsDisplay() override { ++displayRequests; }
    void orderAbove(const View* sibling) override;
    void orderBelow(const View* sibling) override;
    void removeFromSuperview() override;

    /// The core shown (null for a scroller).
    std::shared_ptr<ViewCore> core;
    int displayRequests = 0;
    bool removed = false;

private:
    friend class RecordingViewHost;
    class RecordingViewHost* host_ = nullptr;
    Rect frame_;
    bool hidden_ = false;
    double opacity_ = 1;
};

/// A subview of another kind (scroller, label, find bar) standing in the host's order through its
/// `view`.
template <typename Base> class RecordingSubview : public Base
{
public:
    void setFrame(const Rect& frame) override { view.setFrame(frame); }
    Rect frame() const override { return view.frame(); }
    void setHidden(bool hidden) override { view.setHidden(hidden); }
    bool isHidden() const override { return view.isHidden(); }
    void setOpacity(double opacity) override { view.setOpacity(opacity); }
    double opacity() const override { return view.opacity(); }
    void setNeedsDisplay() override { view.setNeedsDisplay(); }
    void orderAbove(const View* sibling) override { view.orderAbove(sibling); }
    void orderBelow(const View* sibling) override { view.orderBelow(sibling); }
    void removeFromSuperview() override { view.removeFromSuperview(); }

    RecordingView view;
};

class RecordingScroller final : public RecordingSubview<Scroller>
{
public:
    void setState(const ScrollerState& state) override { state_ = state; }
    ScrollerState state() const override { return state_; }
    double preferredWidth() const override { return 12; }

    /// Plays a user's click or drag: calls `onAction` as the widget would.
    void userActs(ScrollerPart part, double doubleValue);

private:
    ScrollerState state_;
};

class RecordingLabel final : public RecordingSubview<Label>
{
public:
    void setText(const std::string& text) override { text_ = text; }
    std::string text() const override { return text_; }
    void setColors(NativeColor text, NativeColor background) override
    {
        textColor = text;
        backgroundColor = background;
    }
    void setFont(const std::string& family, double size) override
    {
        fontFamily = family;
        fontSize = size;
    }
    /// A stand-in measure: 0.6 of the font size per character, 1.25 of it high.
    Size fittingSize() const override;

    NativeColor textColor;
    NativeColor backgroundColor;
    std::string fontFamily;
    double fontSize = 0;

private:
    std::string text_;
};

class RecordingFindBar final : public RecordingSubview<FindBar>
{
public:
    explicit RecordingFindBar(FindBarLabels labels) : labels(std::move(labels)) {}

    void setSearchText(const std::string& text) override { text_ = text; }
    std::string searchText() const override { return text_; }
    FindBarOptions options() const override { return options_; }
    void focusSearchField() override { ++focusRequests; }
    void editSearchField(FindFieldEdit edit) override { fieldEdits.push_back(edit); }
    /// A stand-in measure: one row 30 high from 400 points on, two rows below, never narrower
    /// than 200.
    Size sizeForWidth(double width) const override
    {
        return Size{std::max(width, 200.0), width >= 400 ? 30.0 : 60.0};
    }

    // The user's part.
    /// Types into the field: the text changes and the change is reported.
    void userTypes(const std::string& text);
    /// Return (or Shift+Return) in the field.
    void userPressesReturn(bool shift);
    void userPressesEscape();
    /// Another key in the field: offered to `onShortcut` when it may be a shortcut; true when
    /// taken there, false when the field keeps it.
    bool userPressesKey(const KeyEvent& event);
    void userSetsOptions(FindBarOptions options);

    const FindBarLabels labels;
    int focusRequests = 0;
    std::vector<FindFieldEdit> fieldEdits;

private:
    std::string text_;
    FindBarOptions options_;
};

class RecordingViewHost final : public ViewHost
{
public:
    RecordingViewHost() = default;
    /// Detaches the core.
    ~RecordingViewHost() override;

    /// Shows `core` in this host: attaches it and tells it the current size, scale and window.
    void attach(std::shared_ptr<ViewCore> core);

    // The toolkit's part.
    void resize(Size size);
    void setScale(double scale);
    void setWindow(bool hasWindow);
    void setWindowVisible(bool visible);
    void setFocus(bool focused);
    void setWindowActive(bool active);
    void setAppearance(const Appearance& appearance);
    /// Delivers a key event as the widget does (keyDown, keyUp or flagsChanged by its type).
    void deliverKey(const KeyEvent& event);
    /// Delivers a pointer or scroll event as the widget does.
    void deliverMouse(const MouseEvent& event);
    void deliverScroll(const ScrollEvent& event);
    /// Asks the core to draw the dirty part into the host's backing store, as a frame of the
    /// widget would; true when it drew.
    bool drawIfNeeded();
    /// The pixels the core drew, as the widget would show them.
    const Bitmap* bitmap() const { return backing_.bitmap(); }
    /// Where the pointer is over the view, or none when it is outside.
    std::optional<Point> pointer;
    /// Which window the view is in while it has one (`windowIdentity`); a test changes it to move
    /// the view to another window.
    uintptr_t window = 1;
    /// Answers the oldest alert still open with `button`; false when none is open.
    bool answerAlert(int button);
    /// The alerts still waiting for an answer, oldest first.
    std::vector<Alert> openAlerts() const;

    /// The stand-in input method: it sees each key the core hands to `interpretKeyEvent` and
    /// answers true when it took the key (it may call the core's text members meanwhile).
    std::function<bool(const KeyEvent&)> inputMethod;

    // What the core asked for.
    int fullRedraws = 0;
    std::vector<Rect> redrawRects;
    std::vector<CursorShape> cursors;
    std::vector<KeyEvent> interpretedKeys;
    std::vector<Rect> inputMethodCursorRects;
    int inputMethodResets = 0;
    int focusRequests = 0;
    std::vector<FindFieldEdit> fieldEdits;
    int beeps = 0;
    /// The texts the core offered as the primary selection, in order.
    std::vector<std::string> primaryOffers;
    /// The desktop's middle-click paste setting.
    bool primaryPaste = true;
    std::vector<std::shared_ptr<RecordingView>> subviews;
    std::vector<std::shared_ptr<RecordingScroller>> scrollers;
    std::vector<std::shared_ptr<RecordingLabel>> labels;
    std::vector<std::shared_ptr<RecordingFindBar>> findBars;
    /// Every alert presented, answered or not.
    std::vector<Alert> alerts;
    MemoryClipboard standardClipboard;
    MemoryClipboard primaryClipboard;
    /// Every subview and scroller view, bottom first, as the widget would stack them.
    std::vector<RecordingView*> order;
    /// The draws the core made, with the dirty rectangles.
    std::vector<Rect> drawnRects;

    Size size() const override { return size_; }
    double scaleFactor() const override { return scale_; }
    bool hasWindow() const override { return hasWindow_; }
    uintptr_t windowIdentity() const override { return hasWindow_ ? window : 0; }
    bool isWindowActive() const override { return windowActive_; }
    bool isWindowVisible() const override { return windowVisible_; }
    bool hasFocus() const override { return focused_; }
    void grabFocus() override;
    Appearance appearance() const override { return appearance_; }
    void setNeedsDisplay() override;
    void setNeedsDisplayInRect(const Rect& rect) override;
    void setCursor(CursorShape shape) override { cursors.push_back(shape); }
    std::optional<Point> pointerLocation() const override { return pointer; }
    void interpretKeyEvent(const KeyEvent& event) override;
    void setInputMethodCursorRect(const Rect& rect) override { inputMethodCursorRects.push_back(rect); }
    void resetInputMethod() override { ++inputMethodResets; }
    std::shared_ptr<View> addSubview(std::shared_ptr<ViewCore> core) override;
    std::shared_ptr<Scroller> addScroller() override;
    std::shared_ptr<Label> addLabel() override;
    std::shared_ptr<FindBar> addFindBar(const FindBarLabels& labels) override;
    void presentAlert(const Alert& alert, AlertCompletion completion) override;
    Clipboard* clipboard(ClipboardKind kind) override
    {
        return kind == ClipboardKind::primary ? &primaryClipboard : &standardClipboard;
    }
    void beep() override { ++beeps; }
    void setPrimarySelectionText(const std::string& text) override;
    bool primaryPasteEnabled() const override { return primaryPaste; }

private:
    friend class RecordingView;
    void reorder(RecordingView* view, const View* sibling, bool above);
    void remove(RecordingView* view);

    void adopt(RecordingView& view);

    std::shared_ptr<ViewCore> core_;
    std::vector<std::pair<Alert, AlertCompletion>> openAlerts_;
    Size size_{640, 480};
    double scale_ = 1;
    bool hasWindow_ = true;
    bool windowVisible_ = true;
    bool windowActive_ = true;
    bool focused_ = false;
    Appearance appearance_;
    BackingStore backing_;
};

} // namespace platform
