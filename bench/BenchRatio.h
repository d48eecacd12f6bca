// Benchmark reporting with ratios to a peer measured in the same run.
//
// `RatioReporter` keeps each run's time per iteration and bytes per second beside the console
// output, so that a benchmark's own `main` can print how our code compares with its peer.
// `secondsPerIteration` and `timeAgainstPeer` serve benchmarks that compare two of their own runs
// in a counter.
#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace bench {

/// Wall-clock seconds per iteration of `state` since `start`, taken after its timed loop.
inline double secondsPerIteration(std::chrono::steady_clock::time_point start, const benchmark::State& state)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
           double(std::max<int64_t>(state.iterations(), 1));
}

/// Runs `iteration` as the timed loop of `state` and, once the peer has run, sets `counter` to
/// this loop's time as a multiple of the peer's `peerSeconds` per iteration.
template <typename Iteration>
void timeAgainstPeer(benchmark::State& state, double peerSeconds, const char* counter, Iteration&& iteration)
{
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        iteration();
    if (peerSeconds > 0)
        state.counters[counter] = secondsPerIteration(start, state) / peerSeconds;
}

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    /// Time per iteration (in the benchmark's unit) and bytes per second, by benchmark name.
    std::map<std::string, double> timePerIteration;
    std::map<std::string, double> bytesPerSecond;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            // Repeated runs also report aggregates, under names such as "name_median".
            if (run.iterations <= 0 ||
                (run.run_type != Run::RT_Iteration && run.run_type != Run::RT_Aggregate))
                continue;
            timePerIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
            auto counter = run.counters.find("bytes_per_second");
            if (counter != run.counters.end())
                bytesPerSecond[run.benchmark_name()] = counter->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace bench
