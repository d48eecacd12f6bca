// A window showing what the view layer delivers, for looking at by eye: the last key, text and
// pointer events drawn into the frame, a blinking caret subview at a y-up frame driven by the
// display link, and a scroller. Run it on a display (or under tools/gui/with-xvfb with a
// screenshot taken meanwhile): platform_ui_demo [seconds-to-run]
#include "Platform/Graphics/Canvas.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/Utf8.h"

#include <cairo.h>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <gtk/gtk.h>
#include <string>

using namespace platform;

namespace {

std::string describe(const KeyEvent& key)
{
    char line[200];
    std::string text;
    for (char32_t c : key.charactersIgnoringModifiers)
        text += c >= 0x20 && c < 0x7F ? std::string(1, char(c)) : "U+" + std::to_string(unsigned(c));
    std::snprintf(line, sizeof line, "%s code %u chars '%s' flags %06x%s",
                  key.type == KeyEventType::keyDown ? "down"
                  : key.type == KeyEventType::keyUp ? "up"
                                                    : "flags",
                  key.keyCode, text.c_str(), key.modifierFlags.raw, key.isARepeat ? " repeat" : "");
    return line;
}

class CaretCore : public ViewCore
{
public:
    void draw(const DrawRequest& request) override
    {
        request.canvas->setFillColor(NativeColor::sRGB(0.2, 0.5, 1.0));
        request.canvas->fillRect(Rect{0, 0, request.size.width, request.size.height});
    }
};

class DemoCore : public ViewCore
{
public:
    void attachHost(ViewHost* newHost) override
    {
        host_ = newHost;
        if (!host_)
            return;
        caret_ = host_->addSubview(std::make_shared<CaretCore>());
        scroller_ = host_->addScroller();
        scroller_->setState(ScrollerState{true, 0.3, 0.2});
        scroller_->setHidden(false);
        scroller_->onAction = [this](ScrollerPart, double value) {
            note("scroller at " + std::to_string(value));
        };
    }

    void sizeChanged(Size size) override
    {
        size_ = size;
        // The caret sits one line above the bottom-left corner; the scroller along the right edge.
        caret_->setFrame(Rect{10, 10, 9, 18});
        scroller_->setFrame(Rect{size.width - 14, 0, 14, size.height});
        note("size " + std::to_string(int(size.width)) + "x" + std::to_string(int(size.height)));
    }
    void scaleChanged(double scale) override { note("scale " + std::to_string(scale)); }
    void focusChanged(bool focused) override { note(focused ? "focus in" : "focus out"); }
    void windowActiveChanged(bool active) override { note(active ? "window active" : "window inactive"); }
    void keyDown(const KeyEvent& key) override
    {
        note(describe(key));
        host_->interpretKeyEvent(key);
    }
    void keyUp(const KeyEvent& key) override { note(describe(key)); }
    void flagsChanged(const KeyEvent& key) override { note(describe(key)); }
    void insertText(const std::string& text) override { note("insert '" + text + "'"); }
    void setMarkedText(const MarkedText& text) override { note("marked '" + text.text + "'"); }
    void doCommand(TextInputCommand command) override
    {
        note(std::string("command ") + selectorName(command));
    }
    void mouseEvent(const MouseEvent& event) override
    {
        if (event.type == MouseEventType::down)
            note("click " + std::to_string(event.clickCount) + " at " +
                 std::to_string(int(event.location.x)) + "," + std::to_string(int(event.location.y)));
    }
    void scrollWheel(const ScrollEvent& event) override
    {
        note("scroll " + std::to_string(event.scrollingDeltaY));
    }

    void draw(const DrawRequest& request) override
    {
        // The demo writes its lines with cairo's own text, straight into the store's pixels (y-down,
        // in pixels); the canvas's glyph drawing needs the text layer's fonts.
        cairo_surface_t* surface = request.canvas->bitmap().cairoSurface();
        cairo_surface_flush(surface);
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, request.scale, request.scale);
        const Appearance appearance = host_->appearance();
        cairo_set_source_rgb(cr, appearance.textBackgroundColor.red, appearance.textBackgroundColor.green,
                             appearance.textBackgroundColor.blue);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, appearance.textColor.red, appearance.textColor.green,
                             appearance.textColor.blue);
        cairo_select_font_face(cr, "monospace", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 12);
        double y = 18;
        for (const std::string& line : lines_) {
            cairo_move_to(cr, 10, y);
            cairo_show_text(cr, line.c_str());
            y += 16;
        }
        cairo_destroy(cr);
        cairo_surface_mark_dirty(surface);
    }

    /// Blinks the caret from the display link: half a second on, half off.
    void tick(int64_t frameTimeUs) { caret_->setOpacity((frameTimeUs / 500000) % 2 ? 0.2 : 1.0); }

private:
    void note(const std::string& line)
    {
        std::fprintf(stderr, "%s\n", line.c_str());
        lines_.push_back(line);
        while (lines_.size() > 14)
            lines_.pop_front();
        if (host_)
            host_->setNeedsDisplay();
    }

    ViewHost* host_ = nullptr;
    Size size_;
    std::shared_ptr<View> caret_;
    std::shared_ptr<Scroller> scroller_;
    std::deque<std::string> lines_;
};

} // namespace

int main(int argc, char** argv)
{
    gtk_init();
    auto core = std::make_shared<DemoCore>();
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window, "Platform/UI demo");
    gtk_window_set_default_size(window, 560, 300);
    GtkWidget* view = gtk::CoreViewWidget::create(core);
    gtk_window_set_child(window, view);
    auto* widget = gtk::CoreViewWidget::from(view);
    widget->displayLink()->setHandler(
        [core, widget] { core->tick(widget->displayLink()->lastFrameTimeUs()); });
    widget->displayLink()->start();
    gtk_window_present(window);
    gtk_widget_grab_focus(view);

    GMainLoop* loop = g_main_loop_new(nullptr, false);
    g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_main_loop_quit), loop);
    if (argc > 1)
        g_timeout_add_seconds(
            guint(std::atoi(argv[1])),
            [](gpointer l) {
                g_main_loop_quit(static_cast<GMainLoop*>(l));
                return G_SOURCE_REMOVE;
            },
            loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return 0;
}
