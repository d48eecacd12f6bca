// Runs a call that must not wait on what a path names (a FIFO's other end, say), with a bounded
// wait, so that a call which does wait fails its test instead of hanging it.
#pragma once

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

/// Runs `action` on another thread and waits for it at most ten seconds (a call that does not
/// wait takes microseconds). Past the deadline the test fails and both ends of the FIFO at `path`
/// are opened, so that an open waiting on it returns and the thread can be joined; the answer is
/// then none.
template <typename Result>
std::optional<Result> withoutWaitingOn(const std::string& path, const std::function<Result()>& action)
{
    std::packaged_task<Result()> task(action);
    std::future<Result> outcome = task.get_future();
    std::thread worker(std::move(task));
    if (outcome.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        worker.join();
        return outcome.get();
    }
    ADD_FAILURE() << path << ": the call waited on what the path names";
    // Whichever end the waiting open wants, the other one arrives.
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    worker.join();
    for (int descriptor : {reader, writer})
        if (descriptor >= 0)
            close(descriptor);
    return std::nullopt;
}
