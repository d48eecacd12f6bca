#include "Platform/Dispatch/ThreadRegistry.h"

#include <gtest/gtest.h>
#include <thread>

TEST(ThreadRegistry, KeepsFullNamesAndKnowsTheMainThread)
{
    EXPECT_TRUE(platform::isMainThread());
    std::string seenName;
    bool seenMain = true;
    std::thread worker([&] {
        platform::setCurrentThreadName("kestrovan-io-timers-long-suffix");
        seenName = platform::currentThreadName();
        seenMain = platform::isMainThread();
    });
    worker.join();
    EXPECT_EQ(seenName, "kestrovan-io-timers-long-suffix");
    EXPECT_FALSE(seenMain);
}
