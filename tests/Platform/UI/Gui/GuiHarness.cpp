#include "GuiHarness.h"

#include "Platform/Graphics/Canvas.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>
#include <thread>
#include <unistd.h>

namespace guitest {

namespace {

platform::NativeColor colorOf(uint32_t rgb)
{
    return platform::NativeColor::sRGB(((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                                       (rgb & 0xFF) / 255.0);
}

} // namespace

void RecordingCore::draw(const platform::DrawRequest& request)
{
    draws.push_back(request.dirtyRect);
    if (!request.canvas)
        return;
    request.canvas->setFillColor(colorOf(fill));
    request.canvas->fillRect(platform::Rect{0, 0, request.size.width, request.size.height});
    // The marker sits at the y-up origin: the bottom-left corner of the view.
    request.canvas->setFillColor(colorOf(marker));
    request.canvas->fillRect(platform::Rect{0, 0, 20, 10});
}

void RecordingCore::keyDown(const platform::KeyEvent& event)
{
    keys.push_back(event);
    if (interpretKeys && host)
        host->interpretKeyEvent(event);
}

bool startGtk()
{
    static const bool started = gtk_init_check();
    return started;
}

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    // Between two checks the loop runs everything it has ready, for up to `slice`. One iteration
    // a check runs only the ready sources of the highest priority: under load, with a check that
    // takes a second (a screenshot), a timer due at every check kept the idle sources that show a
    // finished frame from ever running.
    constexpr auto slice = std::chrono::milliseconds(20);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        const auto sliceEnd = std::chrono::steady_clock::now() + slice;
        bool ran = false;
        while (std::chrono::steady_clock::now() < sliceEnd && g_main_context_iteration(nullptr, false))
            ran = true;
        if (!ran)
            g_usleep(2000);
    }
    return true;
}

void spinFor(std::chrono::milliseconds duration)
{
    spinUntil([] { return false; }, duration);
}

TestWindow::TestWindow(std::shared_ptr<RecordingCore> core, int width, int height)
    : window_(GTK_WINDOW(gtk_window_new())), widget_(platform::gtk::CoreViewWidget::create(core))
{
    g_object_ref_sink(window_);
    gtk_window_set_default_size(window_, width, height);
    gtk_window_set_decorated(window_, false);
    gtk_window_set_child(window_, widget_);
    gtk_window_present(window_);
    spinUntil([&] { return gtk_widget_get_mapped(widget_) && !core->sizes.empty() && !core->draws.empty(); });
    // Let the server finish showing the window before anyone looks at it.
    spinFor(std::chrono::milliseconds(100));
}

TestWindow::~TestWindow()
{
    gtk_window_destroy(window_);
    g_object_unref(window_);
    spinFor(std::chrono::milliseconds(20));
}

unsigned long windowXid(GtkWindow* window)
{
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    return surface ? gdk_x11_surface_get_xid(surface) : 0;
}

unsigned long TestWindow::xid() const
{
    return windowXid(window_);
}

bool TestWindow::focus()
{
    xdotool("windowfocus --sync " + std::to_string(xid()));
    gtk_widget_grab_focus(widget_);
    return spinUntil([&] { return view().hasFocus() && view().isWindowActive(); });
}

bool mapKeysym(const std::string& name)
{
    GdkDisplay* display = gdk_display_get_default();
    const guint keyval = gdk_keyval_from_name(name.c_str());
    const auto gtkHasIt = [&] {
        GdkKeymapKey* keys = nullptr;
        int count = 0;
        const bool found = gdk_display_map_keyval(display, keyval, &keys, &count);
        g_free(keys);
        return found && count > 0;
    };
    if (keyval == GDK_KEY_VoidSymbol || !GDK_IS_X11_DISPLAY(display))
        return false;
    if (gtkHasIt())
        return true;
    Display* x = gdk_x11_display_get_xdisplay(display);
    int low = 0, high = 0, perKey = 0;
    XDisplayKeycodes(x, &low, &high);
    KeySym* map = XGetKeyboardMapping(x, KeyCode(low), high - low + 1, &perKey);
    int spare = 0;
    for (int code = high; code >= low && !spare; --code) {
        const KeySym* symbols = map + size_t(code - low) * size_t(perKey);
        if (std::all_of(symbols, symbols + perKey, [](KeySym symbol) { return symbol == NoSymbol; }))
            spare = code;
    }
    XFree(map);
    if (!spare)
        return false;
    KeySym symbols[2] = {XStringToKeysym(name.c_str()), XStringToKeysym(name.c_str())};
    XChangeKeyboardMapping(x, spare, 2, symbols, 1);
    XSync(x, False);
    return spinUntil(gtkHasIt);
}

bool xdotool(const std::string& arguments)
{
    // xdotool runs on a thread of its own while the main loop goes on: GTK must keep handling
    // events while xdotool waits for the server.
    const std::string command = "xdotool " + arguments;
    std::atomic<bool> finished{false};
    int status = -1;
    std::thread runner([&] {
        status = std::system(command.c_str());
        finished = true;
    });
    spinUntil([&] { return finished.load(); }, std::chrono::seconds(20));
    runner.join();
    // Give GTK the events the command caused.
    spinFor(std::chrono::milliseconds(50));
    return status == 0;
}

std::string outputOf(const std::string& command)
{
    std::atomic<bool> finished{false};
    std::string output;
    std::thread runner([&] {
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            size_t count = 0;
            while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
                output.append(buffer, count);
            pclose(pipe);
        }
        finished = true;
    });
    spinUntil([&] { return finished.load(); }, std::chrono::seconds(20));
    runner.join();
    return output;
}

bool offerSelection(const std::string& selection, const std::string& text)
{
    char path[] = "/tmp/vesk-gui-offer-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    // xclip has read the file before it goes to the background.
    if (written)
        outputOf("xclip -selection " + selection + " -i '" + path + "' >/dev/null 2>&1");
    std::remove(path);
    return written &&
           spinUntil([&] { return outputOf("xclip -o -selection " + selection + " 2>/dev/null") == text; },
                     std::chrono::seconds(10));
}

uint32_t Screenshot::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    const size_t at = (size_t(y) * width + x) * 3;
    return (uint32_t(rgb[at]) << 16) | (uint32_t(rgb[at + 1]) << 8) | rgb[at + 2];
}

Screenshot screenshot(unsigned long xid)
{
    Screenshot shot;
    char path[] = "/tmp/vesk-gui-shot-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return shot;
    close(fd);
    // A PPM is trivial to read back: a header, then RGB bytes.
    const std::string command = "import -silent -window " + std::to_string(xid) + " ppm:" + path;
    const int status = std::system(command.c_str());
    if (status != 0)
        std::fprintf(stderr, "screenshot: '%s' failed with %d\n", command.c_str(), status);
    if (status == 0) {
        if (FILE* file = std::fopen(path, "rb")) {
            // ImageMagick writes 8 or 16 bits a sample; 16-bit samples are big-endian.
            int maxValue = 0;
            if (std::fscanf(file, "P6 %d %d %d", &shot.width, &shot.height, &maxValue) == 3 &&
                (maxValue == 255 || maxValue == 65535) && std::fgetc(file) != EOF) {
                const size_t samples = size_t(shot.width) * shot.height * 3;
                const size_t bytesPerSample = maxValue == 255 ? 1 : 2;
                std::vector<uint8_t> raw(samples * bytesPerSample);
                if (std::fread(raw.data(), 1, raw.size(), file) == raw.size()) {
                    shot.rgb.resize(samples);
                    for (size_t i = 0; i < samples; ++i)
                        shot.rgb[i] = raw[i * bytesPerSample];
                } else {
                    shot = Screenshot{};
                }
            } else {
                shot = Screenshot{};
            }
            std::fclose(file);
        }
    }
    std::remove(path);
    return shot;
}

Screenshot screenshotWhen(unsigned long xid, const std::function<bool(const Screenshot&)>& wanted,
                          std::chrono::milliseconds timeout)
{
    Screenshot shot;
    spinUntil(
        [&] {
            // What the main loop has ready (a frame among it) goes first.
            while (g_main_context_iteration(nullptr, false)) {
            }
            shot = screenshot(xid);
            return shot.width > 0 && wanted(shot);
        },
        timeout);
    return shot;
}

} // namespace guitest
