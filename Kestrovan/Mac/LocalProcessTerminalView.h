// A terminal view bound to one child process on a pseudo-terminal: the road on which a shell runs
// in a window from end to end.
//
// Output: the process's reader hands each batch to the view's adapter on its own threads, which
// feeds it through the view's feed sender (frame request, parse under the terminal lock, frame
// request); no main-thread hop is made. Input: typed bytes go from the input sender straight to
// the process's writer. The pseudo-terminal's window size follows the view's grid and pixel
// size. The view is its own `TerminalViewDelegate` and forwards what matters to an application
// to a narrower `LocalProcessTerminalViewDelegate`.
//
// The process holds only the adapter; the adapter holds the view's shared parts strongly and the
// view weakly, so the process never keeps the view alive.
#pragma once

#include "Kestrovan/LocalProcess.h"
#include "Kestrovan/LocalProcessDelegate.h"
#include "Kestrovan/LocalProcessError.h"
#include "Kestrovan/LockedVoidCallback.h"
#include "Kestrovan/Mac/MacTerminalView.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <vector>

namespace kestrovan {

class LocalProcessTerminalView;
class LocalProcessTerminalViewAdapter;

/// What an application hears of a local-process view. The last seven have defaults.
class LocalProcessTerminalViewDelegate
{
public:
    virtual ~LocalProcessTerminalViewDelegate() = default;

    virtual void sizeChanged(LocalProcessTerminalView& source, int newCols, int newRows) = 0;
    virtual void setTerminalTitle(LocalProcessTerminalView& source, const std::string& title) = 0;
    virtual void hostCurrentDirectoryUpdate(TerminalView& source,
                                            const std::optional<std::string>& directory) = 0;
    /// The child ended; the exit code is absent when a signal ended it.
    virtual void processTerminated(TerminalView& source, std::optional<int32_t> exitCode) = 0;
    virtual void processFailedToStart(TerminalView& /*source*/, const LocalProcessError& /*error*/) {}
    virtual void programStatusChanged(TerminalView& /*source*/,
                                      const std::vector<TerminalProgramStatus>& /*records*/)
    {}
    virtual KittyClipboardCapabilities kittyClipboardCapabilities(TerminalView& /*source*/) { return {}; }
    virtual std::optional<std::vector<std::string>> kittyClipboardAvailableMimeTypes(TerminalView& /*source*/,
                                                                                     KittyClipboardLocation)
    {
        return std::nullopt;
    }
    virtual std::optional<KittyClipboardReadResult>
    kittyClipboardRead(TerminalView& /*source*/, KittyClipboardLocation, const std::string& /*mimeType*/)
    {
        return std::nullopt;
    }
    virtual KittyClipboardWriteResult kittyClipboardWrite(TerminalView& /*source*/, KittyClipboardLocation,
                                                          const KittyClipboardWriteContent& /*content*/)
    {
        return KittyClipboardWriteResult::unsupported;
    }
    virtual KittyClipboardPermissionResult
    kittyClipboardRequestPermission(TerminalView& /*source*/,
                                    const KittyClipboardPermissionRequest& /*request*/)
    {
        return KittyClipboardPermissionResult::deny();
    }
};

class LocalProcessTerminalView : public MacTerminalView, public TerminalViewDelegate
{
public:
    LocalProcessTerminalView(Passkey key, platform::Size frameSize, Configuration configuration);
    ~LocalProcessTerminalView() override;

    /// A set-up view (or subclass) with its process (idle until `startProcess`). Main thread.
    template <typename View = LocalProcessTerminalView>
    static std::shared_ptr<View> create(platform::Size frameSize,
                                        Configuration configuration = Configuration{})
    {
        std::shared_ptr<View> view = TerminalView::create<View>(frameSize, std::move(configuration));
        static_cast<LocalProcessTerminalView&>(*view).setupProcess();
        return view;
    }

    const std::shared_ptr<LocalProcess>& process() const { return process_; }
    std::shared_ptr<LocalProcessTerminalViewDelegate> processDelegate() const
    {
        return processDelegate_.lock();
    }
    /// Held weakly; the kitty clipboard capabilities are read again from the new delegate.
    void setProcessDelegate(const std::shared_ptr<LocalProcessTerminalViewDelegate>& delegate);

    /// Starts the child with the view's grid as its window size; a failure shows in the view as
    /// "Process launch failed: " and the error, and reaches the delegate.
    void startProcess(const std::string& executable, const std::vector<std::string>& args,
                      const std::optional<std::vector<std::string>>& environment,
                      const std::optional<std::string>& execName,
                      const std::optional<std::string>& currentDirectory);
    /// SIGTERM to the child.
    void terminate();
    void setHostLogging(const std::optional<std::string>& directory);
    /// A callback run on the reader's thread after every parsed batch, outside the terminal lock.
    void setProcessOutputHandler(std::function<void()> handler);
    /// Feeds bytes a caller hands the view itself, through the ordinary feed path.
    void dataReceived(std::span<const uint8_t> slice);

    /// The window size the view's grid needs: rows, columns and the text area in device pixels,
    /// each saturated to the 16 bits the pseudo-terminal holds.
    winsize getWindowSize();
    /// The window size last given to the process.
    winsize storedWindowSize() const;

    /// The view's reactions to the child's end and to a failed start (main thread).
    virtual void processTerminated(std::optional<int32_t> exitCode);
    virtual void processFailedToStart(const LocalProcessError& error);

    /// Relative paths in the output name files in the shell's working directory.
    std::optional<std::string> linkWorkingDirectory() const override;

    // The toolkit's side: a new window or scale may change the pixel size.
    void windowChanged(bool hasWindow) override;
    void scaleChanged(double newScale) override;

    // TerminalViewDelegate: the view is its own.
    void sizeChanged(TerminalView& source, int newCols, int newRows) override;
    void setTerminalTitle(TerminalView& source, const std::string& title) override;
    void hostCurrentDirectoryUpdate(TerminalView& source,
                                    const std::optional<std::string>& directory) override;
    void send(TerminalView& source, std::span<const uint8_t> data) override;
    void scrolled(TerminalView&, double) override {}
    void rangeChanged(TerminalView&, int, int) override {}
    void requestOpenLink(TerminalView& source, const std::string& link,
                         const std::map<std::string, std::string>& params) override;
    void bell(TerminalView& source) override;
    void iTermContent(TerminalView&, std::span<const uint8_t>) override {}
    /// OSC 52 copy: the text goes on the display's clipboard.
    void clipboardCopy(TerminalView& source, std::span<const uint8_t> content) override;
    KittyClipboardCapabilities kittyClipboardCapabilities(TerminalView& source) override;
    std::optional<std::vector<std::string>>
    kittyClipboardAvailableMimeTypes(TerminalView& source, KittyClipboardLocation location) override;
    std::optional<KittyClipboardReadResult> kittyClipboardRead(TerminalView& source,
                                                               KittyClipboardLocation location,
                                                               const std::string& mimeType) override;
    KittyClipboardWriteResult kittyClipboardWrite(TerminalView& source, KittyClipboardLocation location,
                                                  const KittyClipboardWriteContent& content) override;
    KittyClipboardPermissionResult
    kittyClipboardRequestPermission(TerminalView& source,
                                    const KittyClipboardPermissionRequest& request) override;
    void programStatusChanged(TerminalView& source,
                              const std::vector<TerminalProgramStatus>& records) override;

    /// OSC 52 read (parse thread, terminal locked): always taken. The user is asked first, in a
    /// prompt whose safe answer "Deny" is the default; only after "Allow" is the display's clipboard
    /// (the primary selection for "p") read and the answer sent (empty when it holds no text).
    /// Reads that come while the prompt is open, and denied reads, get no answer.
    bool clipboardReadRequest(Terminal& source, const std::string& selection) override;
    /// The prompt an OSC 52 read brings up; "Allow" is button 1.
    static platform::Alert clipboardReadAlert();
    /// True while the prompt of an OSC 52 read waits for the user.
    bool clipboardReadPromptOpen() const { return clipboardReadPromptOpen_; }

    // The terminal delegate's calls of the same names stay visible beside the view delegate's.
    using TerminalView::bell;
    using TerminalView::clipboardCopy;
    using TerminalView::iTermContent;
    using TerminalView::kittyClipboardAvailableMimeTypes;
    using TerminalView::kittyClipboardCapabilities;
    using TerminalView::kittyClipboardRead;
    using TerminalView::kittyClipboardRequestPermission;
    using TerminalView::kittyClipboardWrite;
    using TerminalView::programStatusChanged;
    using TerminalView::send;
    using TerminalView::setTerminalTitle;
    using TerminalView::sizeChanged;

private:
    void setupProcess();
    /// Gives the process the view's window size when it changed.
    void syncProcessWindowSizeIfNeeded();
    /// Main thread: asks whether the program may read the clipboard, then answers the read.
    void askToReadClipboard(const std::string& selection);

    std::shared_ptr<LocalProcessTerminalViewAdapter> adapter_;
    std::shared_ptr<LocalProcess> process_;
    std::shared_ptr<LockedVoidCallback> processOutputHandler_ = std::make_shared<LockedVoidCallback>();
    std::weak_ptr<LocalProcessTerminalViewDelegate> processDelegate_;
    bool clipboardReadPromptOpen_ = false;
};

/// The window size of a grid of `cols` × `rows` cells of `cellWidth` × `cellHeight` points at
/// `scale` device pixels per point: each field saturated to 0 ... 65535, a non-finite or negative
/// product giving 0.
winsize windowSizeFor(int cols, int rows, double cellWidth, double cellHeight, double scale);

} // namespace kestrovan
