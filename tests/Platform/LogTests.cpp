#include "Patience.h"
#include "ThreadState.h"

#include "Platform/Log/Log.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

// A test sets a sink that refers to its own locals and unsets it at its end, while worker threads
// may still be logging: the sink must not be running once it has been replaced.
TEST(Log, ReplacingTheSinkWaitsForTheCallsStillInIt)
{
    const platform::Logger logger("Tests", "Log");
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    std::atomic<bool> replaced{false};
    std::atomic<bool> replacedWhileRunning{false};
    platform::setLogSink([&](const platform::LogRecord&) {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        replacedWhileRunning = replaced.load();
    });
    std::thread logging([&] { logger.error("held in the sink"); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, patience, [&] { return entered; }));
    }
    std::atomic<pid_t> replacerId{0};
    std::thread replacer([&] {
        replacerId = static_cast<pid_t>(syscall(SYS_gettid));
        platform::setLogSink({});
        replaced = true;
    });
    // The replacer waits for the call in the sink, or (the fault) returned at once.
    while (replacerId == 0)
        std::this_thread::yield();
    waitUntilAsleep(replacerId, [&] { return replaced.load(); });
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    logging.join();
    replacer.join();
    EXPECT_TRUE(replaced);
    EXPECT_FALSE(replacedWhileRunning) << "the sink was replaced while a thread was still in it";
}

// A sink that throws passes its exception to the caller that logged, and the call still counts
// as over: replacing that sink afterwards returns instead of waiting for ever.
TEST(Log, ASinkThatThrowsCanStillBeReplaced)
{
    const platform::Logger logger("Tests", "Log");
    platform::setLogSink([](const platform::LogRecord&) { throw std::runtime_error("the sink failed"); });
    EXPECT_THROW(logger.error("thrown from the sink"), std::runtime_error);
    EXPECT_THROW(logger.info("thrown again"), std::runtime_error);

    // On its own thread, so that the failure is a failed wait rather than a test that hangs.
    auto replaced = std::make_shared<std::promise<void>>();
    std::future<void> done = replaced->get_future();
    std::thread([replaced] {
        platform::setLogSink({});
        replaced->set_value();
    }).detach();
    EXPECT_EQ(done.wait_for(patience), std::future_status::ready)
        << "replacing a sink that threw waits for calls that have ended";
}

// Worker threads outlive `main` when the process exits with work queued; one that logs then must
// not read a logger or a sink that the exit has destroyed (the thread sanitizer stage sees it).
TEST(LogDeathTest, AThreadMayLogWhileTheProcessExits)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform::setLogSink([](const platform::LogRecord& record) {
                volatile size_t seen = record.subsystem.size() + record.category.size();
                for (char c : record.subsystem)
                    seen = seen + static_cast<unsigned char>(c);
                (void)seen;
            });
            static std::atomic<int> lines{0};
            std::thread([] {
                static const platform::Logger logger("org.example.LoggingTests", "AThreadThatLogsAtExit");
                for (;;) {
                    logger.info("still working");
                    ++lines;
                }
            }).detach();
            while (lines < 100)
                std::this_thread::yield();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
