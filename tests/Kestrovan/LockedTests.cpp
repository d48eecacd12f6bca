#include "Kestrovan/Locked.h"
#include "Kestrovan/LockedVoidCallback.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace kestrovan;

TEST(Locked, GivesExclusiveAccessAndPassesResultsThrough)
{
    Locked<std::vector<int>> numbers({1, 2});
    EXPECT_EQ(numbers.withLock([](std::vector<int>& value) {
        value.push_back(3);
        return value.size();
    }),
              3u);

    const Locked<std::vector<int>>& readOnly = numbers;
    EXPECT_EQ(readOnly.withLock([](const std::vector<int>& value) { return value.back(); }), 3);

    Locked<long> counter;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&] {
            for (int index = 0; index < 5000; ++index)
                counter.withLock([](long& value) { ++value; });
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter.withLock([](long value) { return value; }), 20000) << "an increment was lost";
}

TEST(Locked, ReleasesTheLockWhenTheBodyThrows)
{
    Locked<std::string> text(std::string("before"));
    EXPECT_THROW(text.withLock([](std::string& value) {
        value = "changed";
        throw std::runtime_error("body failed");
    }),
                 std::runtime_error);
    // A lock left held would hang here.
    EXPECT_EQ(text.withLock([](const std::string& value) { return value; }), "changed")
        << "the change made before the throw stays";
}

TEST(LockedVoidCallback, CallsTheCurrentCallbackOutsideTheLock)
{
    LockedVoidCallback empty;
    empty.call(); // nothing to call: no effect
    EXPECT_FALSE(empty.current());

    int calls = 0;
    LockedVoidCallback callback([&] { ++calls; });
    callback.call();
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(callback.current());
    callback.current()();
    EXPECT_EQ(calls, 2);

    callback.replace(nullptr);
    callback.call();
    EXPECT_EQ(calls, 2) << "a removed callback is not called";
    EXPECT_FALSE(callback.current());

    // A callback that replaces itself while running: the lock is not held during the call, and the
    // running closure stays alive until it returns even though the wrapper dropped it.
    std::string trace;
    LockedVoidCallback selfReplacing;
    selfReplacing.replace([&, marker = std::string("first")] {
        selfReplacing.replace([&] { trace += "second;"; });
        trace += marker + ";";
        EXPECT_TRUE(selfReplacing.current()) << "the wrapper can be read from inside the callback";
    });
    selfReplacing.call();
    selfReplacing.call();
    EXPECT_EQ(trace, "first;second;");
}

TEST(LockedVoidCallback, CanBeCalledAndReplacedFromManyThreads)
{
    std::atomic<int> calls{0};
    LockedVoidCallback callback([&] { calls.fetch_add(1, std::memory_order_relaxed); });
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 3; ++thread) {
        threads.emplace_back([&] {
            for (int index = 0; index < 2000; ++index)
                callback.call();
        });
    }
    threads.emplace_back([&] {
        for (int index = 0; index < 2000; ++index)
            callback.replace([&] { calls.fetch_add(1, std::memory_order_relaxed); });
    });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(calls.load(), 6000) << "every call found a callback";
}
