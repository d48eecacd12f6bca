// The clipboard protocol on its own completion queue, with a host that answers from another thread,
// as a view does from its main thread: replies arrive, and resets and the terminal's end racing
// with completions neither crash nor race (this file also runs under ThreadSanitizer).
#include "KittyClipboardFakeHost.h"

#include "Platform/Dispatch/SerialQueue.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace kestrovan::testing {
namespace {

/// Answers every clipboard call on a queue of its own: reads give "hi", permission and writes
/// succeed.
class ThreadedHost : public TerminalDelegate
{
public:
    platform::SerialQueue answers{"clipboard-host"};

    void send(Terminal&, Bytes data) override
    {
        std::lock_guard guard(mutex);
        received.append(data.begin(), data.end());
        arrived.notify_all();
    }
    /// Waits until the program has received `expected` in all, then forgets it.
    bool waitFor(const std::string& expected)
    {
        std::unique_lock guard(mutex);
        const bool seen =
            arrived.wait_for(guard, std::chrono::seconds(10), [&] { return received == expected; });
        received.clear();
        return seen;
    }

    KittyClipboardCapabilities kittyClipboardCapabilities(Terminal&) override
    {
        return KittyClipboardCapabilities::all;
    }
    bool kittyClipboardAvailableMimeTypes(
        Terminal&, KittyClipboardLocation,
        std::function<void(std::optional<std::vector<std::string>>)> done) override
    {
        answers.async([done] { done(std::vector<std::string>{"text/plain"}); });
        return true;
    }
    bool kittyClipboardRead(Terminal&, KittyClipboardLocation, const std::string&,
                            std::function<void(KittyClipboardReadResult)> done) override
    {
        answers.async([done] { done(KittyClipboardReadResult::data({'h', 'i'})); });
        return true;
    }
    bool kittyClipboardWrite(Terminal&, KittyClipboardLocation, const KittyClipboardWriteContent&,
                             std::function<void(KittyClipboardWriteResult)> done) override
    {
        answers.async([done] { done(KittyClipboardWriteResult::success); });
        return true;
    }
    bool kittyClipboardRequestPermission(Terminal&, const KittyClipboardPermissionRequest&,
                                         std::function<void(KittyClipboardPermissionResult)> done) override
    {
        answers.async([done] { done(KittyClipboardPermissionResult::allow(false)); });
        return true;
    }

private:
    std::mutex mutex;
    std::condition_variable arrived;
    std::string received;
};

TEST(KittyClipboardThreadTests, CompletionsFromAnotherThread)
{
    auto host = std::make_shared<ThreadedHost>();
    TerminalOptions options = TerminalOptions::defaults();
    options.kittyClipboardPolicy = KittyClipboardPolicy::all;
    std::shared_ptr<Terminal> terminal = Terminal::create(host, options);
    // Output is parsed under the terminal lock, as the parse thread does.
    auto feed = [&](const std::string& body) {
        terminal->terminalLock().withLock([&] { terminal->feed("\x1b]5522;" + body + "\x1b\\"); });
    };

    feed("type=read:id=1;" + b64("text/plain"));
    EXPECT_TRUE(host->waitFor(readAnswer("1", {{"text/plain", "hi"}})));
    feed("type=write:id=2");
    feed("type=wdata:mime=" + b64("text/plain") + ";aGk=");
    feed("type=wdata");
    EXPECT_TRUE(host->waitFor(packet("write", "DONE", ":id=2")));

    // Requests in flight while the terminal is reset and then goes away.
    for (int i = 0; i < 40; ++i) {
        feed("type=read:id=" + std::to_string(i) + ";" + b64(i % 2 ? "text/plain" : "."));
        if (i == 20)
            terminal->terminalLock().withLock([&] {
                terminal->feed("\x1b"
                               "c");
            });
    }
    terminal.reset();
    host->answers.sync([] {});
}

} // namespace
} // namespace kestrovan::testing
