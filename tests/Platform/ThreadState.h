// What Linux tells of one of this process's threads, for tests that must know a thread is blocked.
#pragma once

#include "Patience.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

// The line of /proc/self/task/<thread>/status that starts with `key`, without the key.
inline std::string threadStatus(int thread, const std::string& key)
{
    std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0)
            return line.substr(key.size());
    }
    return {};
}

// Waits until `thread` sleeps, or until `orUntil` holds; false when neither comes.
inline bool waitUntilAsleep(int thread, const std::function<bool()>& orUntil = {})
{
    for (const auto giveUp = std::chrono::steady_clock::now() + patience;
         std::chrono::steady_clock::now() < giveUp;) {
        if ((orUntil && orUntil()) || threadStatus(thread, "State:").find('S') != std::string::npos)
            return true;
        std::this_thread::yield();
    }
    return false;
}
