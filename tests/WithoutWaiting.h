// Runs a call that must not wait on what a path names (a FIFO's other end, say), with a bounded
// wait, so that a call which does wait fails its test instead of hanging it.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

/// Runs `action` on another thread and waits for it at most ten seconds (a call that does not
/// wait takes microseconds). Past the deadline the test fails and both ends of the FIFO at `path`
/// are opened until the call returns, so that the thread can be joined; the answer is then none.
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
    // Whichever end a waiting open wants, the other one arrives. The writer goes at once, so that
    // a reader meets the end of the data; readers stay until the call is over, so that a writer's
    // few bytes find room in the pipe instead of a SIGPIPE. A call may open the path again (a
    // library's fallback), so this goes on until it returns.
    std::vector<int> readers;
    for (int attempt = 0; outcome.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready;
         ++attempt) {
        if (attempt == 500) {
            std::fprintf(stderr, "%s: the call still waits; giving up\n", path.c_str());
            std::abort();
        }
        readers.push_back(open(path.c_str(), O_RDONLY | O_NONBLOCK));
        const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            close(writer);
    }
    worker.join();
    for (int reader : readers)
        if (reader >= 0)
            close(reader);
    return std::nullopt;
}
