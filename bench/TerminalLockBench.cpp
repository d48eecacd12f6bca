// The cost of taking the terminal lock and of a profiling interval with profiling off.
//
// The terminal lock is taken for every parsed batch, every frame and nearly every view operation,
// so its uncontended round trip matters; std::mutex is the peer it is compared with. With the
// profiling switches off (the default), an interval must cost no more than a flag test.
#include "BenchRatio.h"

#include "Kestrovan/Locked.h"
#include "Kestrovan/Profiling.h"
#include "Kestrovan/TerminalLock.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace {

void terminalLockUncontended(benchmark::State& state)
{
    kestrovan::TerminalLock lock;
    int value = 0;
    for (auto _ : state) {
        lock.withLock([&] { ++value; });
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(terminalLockUncontended);

void stdMutexUncontended(benchmark::State& state)
{
    std::mutex mutex;
    int value = 0;
    for (auto _ : state) {
        {
            std::lock_guard guard(mutex);
            ++value;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(stdMutexUncontended);

void lockedWrapperUncontended(benchmark::State& state)
{
    kestrovan::Locked<int> value;
    for (auto _ : state)
        benchmark::DoNotOptimize(value.withLock([](int& current) { return ++current; }));
}
BENCHMARK(lockedWrapperUncontended);

void profilingIntervalSwitchedOff(benchmark::State& state)
{
    for (auto _ : state) {
        auto interval = kestrovan::ProfilingInterval::begin(kestrovan::ProfilingEvent::ioParse);
        benchmark::DoNotOptimize(interval);
        interval.end();
    }
}
BENCHMARK(profilingIntervalSwitchedOff);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("terminalLockUncontended") && times.count("stdMutexUncontended"))
        std::printf("TerminalLock / std::mutex, uncontended: %.2fx\n",
                    times["terminalLockUncontended"] / times["stdMutexUncontended"]);
    benchmark::Shutdown();
    return 0;
}
