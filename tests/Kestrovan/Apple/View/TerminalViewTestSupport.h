// A terminal view on the fake platform: the view layer's recording host, a manual main loop, a
// manual tick source and manual main-thread timers, with a host delegate that records what the
// view tells it.
#pragma once

#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Platform/Dispatch/ManualMainLoop.h"
#include "Platform/UI/RecordingViewHost.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrovan::testing {

/// Records every call a view makes to its host, as short lines ("size 80x24", "scrolled 0.5").
class RecordingViewDelegate : public TerminalViewDelegate
{
public:
    void sizeChanged(TerminalView&, int cols, int rows) override
    {
        log("size " + std::to_string(cols) + "x" + std::to_string(rows));
    }
    void setTerminalTitle(TerminalView&, const std::string& title) override
    {
        onMainThread.push_back(platform::MainQueue::shared()->isCurrent());
        log("title " + title);
    }
    void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>& directory) override
    {
        log("directory " + directory.value_or("<none>"));
    }
    void send(TerminalView&, std::span<const uint8_t> data) override
    {
        std::lock_guard<std::mutex> guard(sentMutex);
        sent.emplace_back(data.begin(), data.end());
    }
    void scrolled(TerminalView&, double position) override { log("scrolled " + std::to_string(position)); }
    void requestOpenLink(TerminalView&, const std::string& link,
                         const std::map<std::string, std::string>&) override
    {
        log("open " + link);
    }
    void bell(TerminalView&) override { ++bells; }
    void clipboardCopy(TerminalView&, std::span<const uint8_t> content) override
    {
        log("copy " + std::string(content.begin(), content.end()));
    }
    std::optional<std::vector<uint8_t>> clipboardRead(TerminalView&) override { return clipboard; }
    KittyClipboardCapabilities kittyClipboardCapabilities(TerminalView&) override { return capabilities; }
    KittyClipboardPermissionResult
    kittyClipboardRequestPermission(TerminalView&, const KittyClipboardPermissionRequest&) override
    {
        return permission;
    }
    void rangeChanged(TerminalView&, int startY, int endY) override
    {
        log("range " + std::to_string(startY) + "-" + std::to_string(endY));
    }
    void programStatusChanged(TerminalView&, const std::vector<TerminalProgramStatus>& records) override
    {
        log("status " + std::to_string(records.size()));
    }

    void log(const std::string& line) { events.push_back(line); }
    /// Everything sent, joined.
    std::string sentText()
    {
        std::lock_guard<std::mutex> guard(sentMutex);
        std::string text;
        for (const auto& batch : sent)
            text.append(batch.begin(), batch.end());
        return text;
    }
    size_t sentCount()
    {
        std::lock_guard<std::mutex> guard(sentMutex);
        return sent.size();
    }
    void clearSent()
    {
        std::lock_guard<std::mutex> guard(sentMutex);
        sent.clear();
    }

    std::vector<std::string> events;
    std::vector<bool> onMainThread;
    std::mutex sentMutex;
    std::vector<std::vector<uint8_t>> sent;
    int bells = 0;
    std::optional<std::vector<uint8_t>> clipboard;
    KittyClipboardCapabilities capabilities;
    KittyClipboardPermissionResult permission = KittyClipboardPermissionResult::deny();
};

/// A view of 640 x 480 points shown by a recording host in an active window.
struct ViewFixture
{
    std::shared_ptr<platform::ManualMainLoop> loop = std::make_shared<platform::ManualMainLoop>();
    std::shared_ptr<platform::ManualMainThreadTimers> timers =
        std::make_shared<platform::ManualMainThreadTimers>();
    /// Every tick source the view asked for; the last is the live one.
    std::vector<std::shared_ptr<platform::ManualDisplayLink>> links;
    std::shared_ptr<RecordingViewDelegate> delegate = std::make_shared<RecordingViewDelegate>();
    std::shared_ptr<TerminalView> view;
    std::unique_ptr<platform::RecordingViewHost> host;

    using Factory = std::function<std::shared_ptr<TerminalView>(platform::Size, TerminalView::Configuration)>;

    explicit ViewFixture(TerminalOptions options = TerminalOptions::defaults(),
                         platform::Size size = {640, 480}, Factory make = nullptr)
    {
        platform::MainQueue::install(loop);
        TerminalView::Configuration configuration;
        configuration.options = options;
        configuration.timers = timers;
        configuration.makeDisplayLink = [this] {
            links.push_back(std::make_shared<platform::ManualDisplayLink>());
            return links.back();
        };
        view = make ? make(size, configuration) : TerminalView::create(size, configuration);
        view->setTerminalDelegate(delegate);
        host = std::make_unique<platform::RecordingViewHost>();
        host->resize(size);
        host->attach(view);
        settle();
    }
    ~ViewFixture()
    {
        host.reset();
        view.reset();
        loop->runUntilIdle();
        platform::MainQueue::install(nullptr);
    }

    void settle() { loop->runUntilIdle(); }
    platform::ManualDisplayLink& link() { return *links.back(); }
    Terminal& terminal() { return *view->terminal(); }
    /// Feeds and runs the main thread's follow-up work.
    void feed(std::string_view text)
    {
        view->feed(text);
        settle();
    }
    /// The text of screen row `row`.
    std::string row(int row)
    {
        const std::vector<std::string> rows = view->visibleRowsText(row, row + 1);
        return rows.empty() ? std::string() : rows.front();
    }
    /// Ticks the link until it pauses; how many ticks ran.
    int tickUntilPaused()
    {
        int ticks = 0;
        while (link().tick() && ticks < 100)
            ++ticks;
        return ticks;
    }
    /// Runs `body` with the terminal under its lock.
    template <typename F> auto locked(F&& body)
    {
        TerminalLockGuard guard(terminal().terminalLock());
        return body(terminal());
    }
};

} // namespace kestrovan::testing
