// The display-free host: a core sees size, scale, window and focus changes once each, keys go
// through the stand-in input method and then the standard key bindings, subviews stack in the
// order asked; and the input method's pre-edit becomes marked text.
#include "Platform/Graphics/Canvas.h"
#include "Platform/UI/InputMethodBridge.h"
#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/RecordingViewHost.h"

#include <gtest/gtest.h>
#include <pango/pango.h>
#include <string>
#include <vector>

using namespace platform;

namespace {

class LoggingCore : public ViewCore
{
public:
    void attachHost(ViewHost* newHost) override { log.push_back(newHost ? "attach" : "detach"); }
    void sizeChanged(Size s) override
    {
        log.push_back("size " + std::to_string(int(s.width)) + "x" + std::to_string(int(s.height)));
    }
    void scaleChanged(double s) override { log.push_back("scale " + std::to_string(int(s))); }
    void windowChanged(bool w) override { log.push_back(w ? "window" : "no window"); }
    void focusChanged(bool f) override { log.push_back(f ? "focus" : "no focus"); }
    void draw(const DrawRequest& r) override
    {
        log.push_back("draw " + std::to_string(int(r.dirtyRect.width)));
        if (r.canvas) {
            r.canvas->setFillColor(NativeColor::sRGB(1, 0, 0));
            r.canvas->fillRect(Rect{0, 0, 10, 10});
        }
    }
    void keyDown(const KeyEvent& e) override { log.push_back("down " + std::to_string(e.keyCode)); }
    void insertText(const std::string& t) override { log.push_back("insert " + t); }
    void setMarkedText(const MarkedText& t) override { log.push_back("marked " + t.text); }
    void doCommand(TextInputCommand c) override { log.push_back(std::string("command ") + selectorName(c)); }

    std::vector<std::string> log;
};

KeyEvent key(uint16_t code, std::u32string characters)
{
    KeyEvent e;
    e.keyCode = code;
    e.characters = e.charactersIgnoringModifiers = characters;
    return e;
}

} // namespace

TEST(RecordingViewHost, TellsTheCoreOfEachChangeOnceAndInterpretsKeysAsTheWidgetDoes)
{
    auto core = std::make_shared<LoggingCore>();
    {
        RecordingViewHost host;
        host.attach(core);
        host.resize(Size{640, 480});
        host.resize(Size{300, 200});
        host.setScale(2);
        host.setScale(2);
        host.setFocus(true);
        host.setFocus(true);
        EXPECT_TRUE(host.drawIfNeeded());
        EXPECT_FALSE(host.drawIfNeeded()) << "nothing dirty";
        host.setNeedsDisplayInRect(Rect{0, 0, 50, 10});
        EXPECT_TRUE(host.drawIfNeeded());
        // The core drew a 10-point square at the y-up origin: 20x20 pixels at scale 2, at the bottom.
        ASSERT_NE(host.bitmap(), nullptr);
        EXPECT_EQ(host.bitmap()->width(), 600);
        EXPECT_EQ(host.bitmap()->pixel(19, 19), (PremultipliedPixel{255, 0, 0, 255}));
        EXPECT_EQ(host.bitmap()->pixel(20, 0).alpha, 0);

        // A stand-in input method that composes an accent for the dead key at the = position.
        host.inputMethod = [&](const KeyEvent& e) {
            if (e.keyCode != keycode::ansiEqual)
                return false;
            core->setMarkedText(MarkedText{"\u00b4", 1, {}});
            return true;
        };
        host.interpretKeyEvent(key(keycode::ansiEqual, U""));
        host.interpretKeyEvent(key(keycode::ansiA, U"a"));
        host.interpretKeyEvent(key(keycode::returnKey, U"\r"));
        host.interpretKeyEvent(key(keycode::f5, U"\uF708"));
        EXPECT_EQ(host.interpretedKeys.size(), 4u);
    }
    const std::vector<std::string> expected = {
        "attach",   "scale 1", "size 640x480",  "window",   "size 300x200",           "scale 2", "focus",
        "draw 300", "draw 50", "marked \u00b4", "insert a", "command insertNewline:", "detach"};
    EXPECT_EQ(core->log, expected);
}

TEST(RecordingViewHost, StacksSubviewsAsAsked)
{
    RecordingViewHost host;
    auto caret = host.addSubview(nullptr);
    auto bar = host.addSubview(nullptr);
    auto scroller = host.addScroller();
    EXPECT_TRUE(scroller->isHidden()) << "a new scroller is hidden";
    auto overlay = host.addSubview(nullptr);
    auto* caretView = static_cast<RecordingView*>(caret.get());
    auto* barView = static_cast<RecordingView*>(bar.get());
    auto* overlayView = static_cast<RecordingView*>(overlay.get());
    auto* scrollerView = &host.scrollers.front()->view;

    overlay->orderBelow(caret.get());
    EXPECT_EQ(host.order, (std::vector<RecordingView*>{overlayView, caretView, barView, scrollerView}));
    bar->orderAbove(nullptr);
    EXPECT_EQ(host.order, (std::vector<RecordingView*>{overlayView, caretView, scrollerView, barView}));
    caret->orderAbove(scroller.get());
    EXPECT_EQ(host.order, (std::vector<RecordingView*>{overlayView, scrollerView, caretView, barView}));
    overlay->removeFromSuperview();
    EXPECT_EQ(host.order, (std::vector<RecordingView*>{scrollerView, caretView, barView}));
    EXPECT_TRUE(overlayView->removed);

    std::vector<std::pair<ScrollerPart, double>> actions;
    scroller->onAction = [&](ScrollerPart part, double value) { actions.emplace_back(part, value); };
    host.scrollers.front()->userActs(ScrollerPart::incrementPage, 0.75);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].first, ScrollerPart::incrementPage);
    EXPECT_EQ(scroller->state().doubleValue, 0.75);
}

TEST(MarkedTextFromPreedit, KeepsTheTextCursorAndClausesInCharacters)
{
    // "かな漢字": the first two characters underlined, the last two the selected clause.
    const char* text = "\u304b\u306a\u6f22\u5b57";
    PangoAttrList* attributes = pango_attr_list_new();
    PangoAttribute* underline = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
    underline->start_index = 0;
    underline->end_index = 6;
    pango_attr_list_insert(attributes, underline);
    PangoAttribute* background = pango_attr_background_new(0, 0, 0xFFFF);
    background->start_index = 6;
    background->end_index = 12;
    pango_attr_list_insert(attributes, background);

    const MarkedText marked = markedTextFromPreedit(text, attributes, 3);
    pango_attr_list_unref(attributes);
    EXPECT_EQ(marked.text, text);
    EXPECT_EQ(marked.cursor, 3u);
    ASSERT_EQ(marked.segments.size(), 2u);
    EXPECT_EQ(marked.segments[0], (MarkedText::Segment{0, 2, MarkedText::Underline::single, false}));
    EXPECT_EQ(marked.segments[1], (MarkedText::Segment{2, 4, MarkedText::Underline::none, true}));

    // An input method's broken text and cursor are made safe.
    const MarkedText broken = markedTextFromPreedit("a\xFF"
                                                    "b",
                                                    nullptr, 99);
    EXPECT_EQ(broken.text, "a\uFFFDb");
    EXPECT_EQ(broken.cursor, 3u);
    EXPECT_TRUE(markedTextFromPreedit(nullptr, nullptr, 0).text.empty());
}
