// The local-process view: its adapter between the process and the view, the window size, and the
// forwarding of the view's callbacks to the application.

#include "Kestrovan/Mac/LocalProcessTerminalView.h"

#include "Platform/Dispatch/MainQueue.h"

#include <cmath>
#include <limits>

namespace kestrovan {

namespace {

/// A 16-bit window-size field: a value outside 0 ... 65535 saturates, a non-finite one is 0.
unsigned short windowField(double value)
{
    if (!std::isfinite(value) || value <= 0)
        return 0;
    if (value >= 65535.0)
        return 65535;
    return static_cast<unsigned short>(value);
}

bool sameSize(const winsize& a, const winsize& b)
{
    return a.ws_row == b.ws_row && a.ws_col == b.ws_col && a.ws_xpixel == b.ws_xpixel &&
           a.ws_ypixel == b.ws_ypixel;
}

} // namespace

winsize windowSizeFor(int cols, int rows, double cellWidth, double cellHeight, double scale)
{
    // The pseudo-terminal holds 16-bit fields: a huge grid or cell saturates instead of wrapping
    // (or trapping) in a narrowing conversion.
    winsize size{};
    size.ws_row = windowField(rows);
    size.ws_col = windowField(cols);
    size.ws_xpixel = windowField(std::trunc(scale * cellWidth * double(cols)));
    size.ws_ypixel = windowField(std::trunc(scale * cellHeight * double(rows)));
    return size;
}

// --- The adapter -----------------------------------------------------------------------------------

/// The process's delegate. It holds the view's feed sender and output callback strongly and the
/// view weakly; the process holds only it.
class LocalProcessTerminalViewAdapter final : public LocalProcessDelegate,
                                              public LocalProcessBorrowedDataDelegate
{
public:
    LocalProcessTerminalViewAdapter(std::weak_ptr<LocalProcessTerminalView> view,
                                    std::shared_ptr<TerminalFeedSender> feedSender,
                                    std::shared_ptr<LockedVoidCallback> outputHandler)
        : view_(std::move(view)), feedSender_(std::move(feedSender)), outputHandler_(std::move(outputHandler))
    {}

    Locked<winsize> windowSize{winsize{}};
    Locked<std::weak_ptr<LocalProcess>> inputProcess;

    void dataReceivedBorrowed(std::span<const uint8_t> bytes) override
    {
        // Parse thread: frame request, parse under the terminal lock, count, frame request.
        feedSender_->feed(bytes);
        outputHandler_->call();
    }
    void dataReceived(std::span<const uint8_t> slice) override { dataReceivedBorrowed(slice); }
    winsize getWindowSize() override
    {
        return windowSize.withLock([](const winsize& size) { return size; });
    }
    void processTerminated(LocalProcess&, std::optional<int32_t> exitCode) override
    {
        std::weak_ptr<LocalProcessTerminalView> weak = view_;
        platform::MainQueue::shared()->async([weak, exitCode] {
            if (const std::shared_ptr<LocalProcessTerminalView> view = weak.lock(); view && view->process())
                view->processTerminated(exitCode);
        });
    }
    void processFailedToStart(LocalProcess&, const LocalProcessError& error) override
    {
        std::weak_ptr<LocalProcessTerminalView> weak = view_;
        platform::MainQueue::shared()->async([weak, error] {
            if (const std::shared_ptr<LocalProcessTerminalView> view = weak.lock(); view && view->process())
                view->processFailedToStart(error);
        });
    }

private:
    std::weak_ptr<LocalProcessTerminalView> view_;
    std::shared_ptr<TerminalFeedSender> feedSender_;
    std::shared_ptr<LockedVoidCallback> outputHandler_;
};

// --- Construction ----------------------------------------------------------------------------------

LocalProcessTerminalView::LocalProcessTerminalView(Passkey key, platform::Size frameSize,
                                                   Configuration configuration)
    : MacTerminalView(key, frameSize, std::move(configuration))
{}

LocalProcessTerminalView::~LocalProcessTerminalView() = default;

void LocalProcessTerminalView::setupProcess()
{
    const auto self = std::static_pointer_cast<LocalProcessTerminalView>(shared_from_this());
    setTerminalDelegate(std::static_pointer_cast<TerminalViewDelegate>(self));
    adapter_ =
        std::make_shared<LocalProcessTerminalViewAdapter>(self, sharedFeedSender(), processOutputHandler_);
    process_ = LocalProcess::create(adapter_, platform::MainQueue::shared(), true);
    adapter_->inputProcess.withLock([this](std::weak_ptr<LocalProcess>& process) { process = process_; });
    // Typed bytes go straight to the child's writer; the closure holds the adapter, not the view.
    std::shared_ptr<LocalProcessTerminalViewAdapter> adapter = adapter_;
    inputSender().replaceDelivery([adapter](std::span<const uint8_t> bytes) {
        adapter->inputProcess.withLock([bytes](std::weak_ptr<LocalProcess>& weak) {
            if (const std::shared_ptr<LocalProcess> process = weak.lock())
                process->send(bytes);
        });
    });
    const winsize size = getWindowSize();
    adapter_->windowSize.withLock([size](winsize& stored) { stored = size; });
}

void LocalProcessTerminalView::setProcessDelegate(
    const std::shared_ptr<LocalProcessTerminalViewDelegate>& delegate)
{
    processDelegate_ = delegate;
    refreshKittyClipboardCapabilities();
}

// --- The process -----------------------------------------------------------------------------------

void LocalProcessTerminalView::startProcess(const std::string& executable,
                                            const std::vector<std::string>& args,
                                            const std::optional<std::vector<std::string>>& environment,
                                            const std::optional<std::string>& execName,
                                            const std::optional<std::string>& currentDirectory)
{
    // The child starts with the view's grid: the process asks the adapter while it forks.
    const winsize size = getWindowSize();
    adapter_->windowSize.withLock([size](winsize& stored) { stored = size; });
    process_->startProcess(executable, args, environment, execName, currentDirectory);
}

void LocalProcessTerminalView::terminate()
{
    process_->terminate();
}

void LocalProcessTerminalView::setHostLogging(const std::optional<std::string>& directory)
{
    process_->setHostLogging(directory);
}

void LocalProcessTerminalView::setProcessOutputHandler(std::function<void()> handler)
{
    processOutputHandler_->replace(std::move(handler));
}

void LocalProcessTerminalView::dataReceived(std::span<const uint8_t> slice)
{
    feed(slice);
}

void LocalProcessTerminalView::processTerminated(std::optional<int32_t> exitCode)
{
    programStatusProcessExited();
    if (const auto delegate = processDelegate())
        delegate->processTerminated(*this, exitCode);
}

void LocalProcessTerminalView::processFailedToStart(const LocalProcessError& error)
{
    // The failure shows in the terminal on a line of its own.
    feed(std::string_view(LocalProcessDelegate::launchFailureText(error)));
    if (const auto delegate = processDelegate())
        delegate->processFailedToStart(*this, error);
}

// --- Window size -----------------------------------------------------------------------------------

winsize LocalProcessTerminalView::getWindowSize()
{
    const TerminalDimensions grid = renderOwner().dimensions();
    const platform::Size cell = cellDimension().value_or(platform::Size{0, 0});
    return windowSizeFor(grid.cols, grid.rows, cell.width, cell.height, backingScale());
}

winsize LocalProcessTerminalView::storedWindowSize() const
{
    return adapter_->getWindowSize();
}

void LocalProcessTerminalView::syncProcessWindowSizeIfNeeded()
{
    if (!adapter_ || !process_)
        return;
    winsize size = getWindowSize();
    const bool changed = adapter_->windowSize.withLock([&size](winsize& stored) {
        if (sameSize(stored, size))
            return false;
        stored = size;
        return true;
    });
    // Only a change reaches the pseudo-terminal (and makes the child see SIGWINCH).
    if (changed)
        process_->updateWindowSize(size);
}

void LocalProcessTerminalView::windowChanged(bool hasWindow)
{
    MacTerminalView::windowChanged(hasWindow);
    if (hasWindow)
        syncProcessWindowSizeIfNeeded();
}

void LocalProcessTerminalView::scaleChanged(double newScale)
{
    MacTerminalView::scaleChanged(newScale);
    if (host() && host()->hasWindow())
        syncProcessWindowSizeIfNeeded();
}

// --- The view's own delegate -----------------------------------------------------------------------

void LocalProcessTerminalView::sizeChanged(TerminalView&, int newCols, int newRows)
{
    syncProcessWindowSizeIfNeeded();
    if (const auto delegate = processDelegate())
        delegate->sizeChanged(*this, newCols, newRows);
}

void LocalProcessTerminalView::setTerminalTitle(TerminalView&, const std::string& title)
{
    if (const auto delegate = processDelegate())
        delegate->setTerminalTitle(*this, title);
}

void LocalProcessTerminalView::hostCurrentDirectoryUpdate(TerminalView& source,
                                                          const std::optional<std::string>& directory)
{
    if (const auto delegate = processDelegate())
        delegate->hostCurrentDirectoryUpdate(source, directory);
}

void LocalProcessTerminalView::send(TerminalView&, std::span<const uint8_t> data)
{
    // The terminal's replies go to the child's writer like typed bytes.
    process_->send(data);
}

void LocalProcessTerminalView::requestOpenLink(TerminalView&, const std::string& link,
                                               const std::map<std::string, std::string>&)
{
    openLinkFromDelegate(link, {});
}

std::optional<std::string> LocalProcessTerminalView::linkWorkingDirectory() const
{
    return process_ ? LinkFileSystem::system().workingDirectory(process_->shellPid()) : std::nullopt;
}

void LocalProcessTerminalView::bell(TerminalView&)
{
    if (host())
        host()->beep();
}

KittyClipboardCapabilities LocalProcessTerminalView::kittyClipboardCapabilities(TerminalView& source)
{
    const auto delegate = processDelegate();
    return delegate ? delegate->kittyClipboardCapabilities(source) : KittyClipboardCapabilities{};
}

std::optional<std::vector<std::string>>
LocalProcessTerminalView::kittyClipboardAvailableMimeTypes(TerminalView& source,
                                                           KittyClipboardLocation location)
{
    const auto delegate = processDelegate();
    return delegate ? delegate->kittyClipboardAvailableMimeTypes(source, location) : std::nullopt;
}

std::optional<KittyClipboardReadResult>
LocalProcessTerminalView::kittyClipboardRead(TerminalView& source, KittyClipboardLocation location,
                                             const std::string& mimeType)
{
    const auto delegate = processDelegate();
    return delegate ? delegate->kittyClipboardRead(source, location, mimeType) : std::nullopt;
}

KittyClipboardWriteResult
LocalProcessTerminalView::kittyClipboardWrite(TerminalView& source, KittyClipboardLocation location,
                                              const KittyClipboardWriteContent& content)
{
    const auto delegate = processDelegate();
    return delegate ? delegate->kittyClipboardWrite(source, location, content)
                    : KittyClipboardWriteResult::unsupported;
}

KittyClipboardPermissionResult
LocalProcessTerminalView::kittyClipboardRequestPermission(TerminalView& source,
                                                          const KittyClipboardPermissionRequest& request)
{
    const auto delegate = processDelegate();
    return delegate ? delegate->kittyClipboardRequestPermission(source, request)
                    : KittyClipboardPermissionResult::deny();
}

void LocalProcessTerminalView::programStatusChanged(TerminalView& source,
                                                    const std::vector<TerminalProgramStatus>& records)
{
    if (const auto delegate = processDelegate())
        delegate->programStatusChanged(source, records);
}

} // namespace kestrovan
