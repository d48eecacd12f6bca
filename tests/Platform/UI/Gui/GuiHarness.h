// What the tests that need a display share: GTK started once, a recording view core, a window
// showing it, a way to let the main loop run until something happens, xdotool to play the user,
// and screenshots of the window through ImageMagick's import.
#pragma once

#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/ViewCore.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace guitest {

/// A core that records everything its host tells it and fills its frame with one colour, with a
/// marker of another colour in its bottom-left corner (y-up: at the origin).
class RecordingCore : public platform::ViewCore
{
public:
    void attachHost(platform::ViewHost* newHost) override { host = newHost; }
    void sizeChanged(platform::Size size) override { sizes.push_back(size); }
    void scaleChanged(double scale) override { scales.push_back(scale); }
    void windowChanged(bool hasWindow) override { windows.push_back(hasWindow); }
    void visibilityChanged(bool visible) override { visibilities.push_back(visible); }
    void appearanceChanged(const platform::Appearance& appearance) override
    {
        appearances.push_back(appearance);
    }
    void focusChanged(bool focused) override { focus.push_back(focused); }
    void windowActiveChanged(bool active) override { activity.push_back(active); }
    void draw(const platform::DrawRequest& request) override;
    void keyDown(const platform::KeyEvent& event) override;
    void keyUp(const platform::KeyEvent& event) override { keys.push_back(event); }
    void flagsChanged(const platform::KeyEvent& event) override { keys.push_back(event); }
    void insertText(const std::string& text) override { inserted.push_back(text); }
    void setMarkedText(const platform::MarkedText& text) override { marked.push_back(text); }
    void unmarkText() override { ++unmarks; }
    void doCommand(platform::TextInputCommand command) override { commands.push_back(command); }
    void mouseEvent(const platform::MouseEvent& event) override { mice.push_back(event); }
    void scrollWheel(const platform::ScrollEvent& event) override { scrolls.push_back(event); }

    /// Key presses are handed to the input method and key bindings, as the terminal view does.
    bool interpretKeys = true;
    /// The frame's colour and the corner marker's, as 0xRRGGBB.
    uint32_t fill = 0xC02020;
    uint32_t marker = 0x20C020;

    platform::ViewHost* host = nullptr;
    std::vector<platform::Size> sizes;
    std::vector<double> scales;
    std::vector<bool> windows;
    std::vector<bool> visibilities;
    std::vector<platform::Appearance> appearances;
    std::vector<bool> focus;
    std::vector<bool> activity;
    std::vector<platform::Rect> draws;
    std::vector<platform::KeyEvent> keys;
    std::vector<std::string> inserted;
    std::vector<platform::MarkedText> marked;
    int unmarks = 0;
    std::vector<platform::TextInputCommand> commands;
    std::vector<platform::MouseEvent> mice;
    std::vector<platform::ScrollEvent> scrolls;
};

/// Starts GTK once for the test program; false when there is no display.
bool startGtk();

/// Runs the main loop until `done` answers true or `timeout` passes; returns `done()`.
bool spinUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
/// Runs the main loop for `duration`.
void spinFor(std::chrono::milliseconds duration);

/// Makes sure the X keyboard map has a key for the keysym `name` ("dead_acute") and that GTK has
/// seen it. Without one, xdotool maps a spare key for the one press and maps it back at once, and
/// a client that reads the map after that reads another key; false when no key is spare.
bool mapKeysym(const std::string& name);

/// A window of `width` x `height` points showing `core`, presented and focused.
class TestWindow
{
public:
    TestWindow(std::shared_ptr<RecordingCore> core, int width, int height);
    ~TestWindow();

    GtkWindow* window() const { return window_; }
    GtkWidget* widget() const { return widget_; }
    platform::gtk::CoreViewWidget& view() const { return *platform::gtk::CoreViewWidget::from(widget_); }
    /// The X window id, for xdotool and import.
    unsigned long xid() const;
    /// Gives the window the keyboard focus and waits until the view has it.
    bool focus();

private:
    GtkWindow* window_;
    GtkWidget* widget_;
};

/// The X window id of a realized window, for xdotool and import.
unsigned long windowXid(GtkWindow* window);

/// Runs xdotool with `arguments` and waits for it; true when it succeeded.
bool xdotool(const std::string& arguments);

/// Runs a shell command on a thread while the main loop goes on (GTK must answer the X server
/// meanwhile, for instance when it owns a clipboard xclip reads); its standard output.
std::string outputOf(const std::string& command);
/// Has xclip offer `text` on the X selection `selection` ("clipboard" or "primary") from the
/// background, and waits until the selection reads back as `text`: xclip takes the selection only
/// once it has gone to the background, after its command returned. False if it never does.
bool offerSelection(const std::string& selection, const std::string& text);

/// A screenshot of one X window as 8-bit RGB pixels, rows from the top.
struct Screenshot
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    /// The pixel at column x of row y (0 is the top row), as 0xRRGGBB; 0 outside.
    uint32_t pixel(int x, int y) const;
};

/// Takes a screenshot of the window `xid`; empty when it failed.
Screenshot screenshot(unsigned long xid);

/// Takes screenshots of the window `xid` while the main loop runs, until one satisfies `wanted`
/// or `timeout` passes; the last one. A frame reaches the screen some time after the change that
/// asked for it, later on a loaded machine: a test looks for the frame it expects.
Screenshot screenshotWhen(unsigned long xid, const std::function<bool(const Screenshot&)>& wanted,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace guitest
