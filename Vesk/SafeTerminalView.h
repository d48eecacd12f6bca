// The application's terminal view: the local-process view with the application's safety rules
// between the user, the shell and the desktop.
//
// Every paste the user starts goes through one review rule (`SafetyPolicy::pasteNeedsConfirmation`)
// on the exact text that will be sent: the clipboard's (Paste, Ctrl+Shift+V), the primary
// selection's (middle click, Shift+Insert) and a file drop's. Dropped files become their quoted
// paths; a name the paste path would alter (a control byte, an ill-formed UTF-8 sequence) is
// refused with the beep, since the shell would read another file's name. Links open only when the
// safety policy allows them (http and https with a host), after the user confirms; other links
// only beep. Screen checksums are blanked in every reply to the shell, and programs can change
// no title, report no directory and write no clipboard.
//
// Alerts do not block: each answer comes later, when the shell may have ended or the view been
// replaced. Every answer holds the view weakly and the shell it was asked for by its process id:
// a paste, drop or link confirmed after the view or that shell is gone is dropped, never sent to a
// shell started since. Main thread only, except `send`, which only filters and forwards.
#pragma once

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/UI/Alert.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

class SafeTerminalView final : public kestrovan::LocalProcessTerminalView
{
public:
    /// The size a new view starts at, before its pane lays it out.
    static constexpr double initialWidth = 920;
    static constexpr double initialHeight = 550;
    /// Lines of scrollback every view keeps.
    static constexpr int scrollbackLines = 5000;

    /// The alert buttons the view's questions answer with.
    static constexpr int cancelButton = 0;
    static constexpr int confirmButton = 1;

    /// A new view in the terminal font at `fontSize` points, with its process not yet started.
    static std::shared_ptr<SafeTerminalView> create(double fontSize);
    /// The view's configuration: the terminal font at `fontSize` and 5,000 lines of scrollback.
    static Configuration configuration(double fontSize);

    SafeTerminalView(Passkey key, platform::Size frameSize, Configuration configuration);
    ~SafeTerminalView() override;

    /// Shows a question modally over the view's window and reports the button chosen; set by the
    /// pane. Without one the view's host asks, and without a host every answer is Cancel.
    std::function<void(const platform::Alert&, platform::AlertCompletion)> presentAlert;
    /// Plays the beep; set by the pane. Without one the view's host beeps.
    std::function<void()> beep;
    /// Opens a link the user confirmed; set by the application (by default the desktop opens it).
    std::function<void(const std::string& url)> openConfirmedLink;
    /// Opens `url` with the desktop's default application; when none can be started, the failure
    /// is logged and the view beeps.
    void openWithDesktop(const std::string& url);
    /// Called whenever the view enters or leaves a window, until `closeRendering`.
    std::function<void()> onWindowChanged;
    /// Called whenever the toolkit lays the view out at a new size, once its grid fits that size,
    /// until `closeRendering`.
    std::function<void()> onLaidOut;

    /// The question a paste of `text` asks before it is sent, or none when it goes at once.
    static std::optional<platform::Alert> reviewFor(const std::string& text);
    /// The question asked before a link opens.
    static platform::Alert linkAlert(const std::string& url);

    /// Pastes `text` as the user's paste: at once when the review rule lets it go, otherwise after
    /// the review, and only into the shell that was running when the paste started.
    void pasteReviewed(const std::string& text);
    /// A clipboard's text (the standard clipboard or the primary selection) for a paste.
    void insertPastedText(const std::string& text) override;

    /// True while a drop can be taken: the shell runs.
    bool acceptsDrops() const;
    /// Files dropped on the view, as local paths; false when the drop is refused (no shell, no
    /// paths, or a name the paste path would alter, which beeps).
    bool acceptDrop(const std::vector<std::string>& paths);

    /// Stops the view's rendering before it is discarded, trying again on the main queue until
    /// the teardown is complete; the retries hold the view.
    void closeRendering();

    // The view's own delegate, narrowed by the application's rules.
    void send(kestrovan::TerminalView& source, std::span<const uint8_t> data) override;
    void setTerminalTitle(kestrovan::TerminalView& source, const std::string& title) override;
    void hostCurrentDirectoryUpdate(kestrovan::TerminalView& source,
                                    const std::optional<std::string>& directory) override;
    void bell(kestrovan::TerminalView& source) override;
    void clipboardCopy(kestrovan::TerminalView& source, std::span<const uint8_t> content) override;
    bool clipboardReadRequest(kestrovan::Terminal& source, const std::string& selection) override;
    void requestOpenLink(kestrovan::TerminalView& source, const std::string& link,
                         const std::map<std::string, std::string>& params) override;
    void windowChanged(bool hasWindow) override;
    void sizeChanged(platform::Size newSize) override;
    /// A clicked link goes to the application's own policy (`requestOpenLink`), not the view's.
    void activateLink(const std::string& link, const std::map<std::string, std::string>& params,
                      bool isExplicit,
                      kestrovan::TerminalLinkOpening::PresentAlert presentAlert = nullptr) override;

    using kestrovan::LocalProcessTerminalView::send;
    using kestrovan::LocalProcessTerminalView::sizeChanged;

private:
    /// Which shell a deferred answer belongs to: its process id while it runs; none without one.
    std::optional<int32_t> runningShell() const;
    /// Sends `text` as a paste when `shell` still runs in this view.
    void pasteIntoShell(const std::string& text, std::optional<int32_t> shell);
    void ask(const platform::Alert& alert, platform::AlertCompletion completion);
    void playBeep();
};

} // namespace vesk
