// Moving a child's output through the pipeline: bytes per second from the child's side of a
// pseudo-terminal to the delegate, and the batch sizes the gather thread hands on.
//
// The writer is a thread of this process writing to the terminal's child side, so the numbers
// hold the kernel's pseudo-terminal and the two pipeline threads, and nothing of a real child.
// The peer is the plainest reader there is: one thread in blocking 64 KiB reads. Bulk output
// shows the cost of the hand-over between the threads; small writes show the coalescing.
#include "BenchRatio.h"

#include "Kestrovan/TerminalIOPipeline.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A raw pseudo-terminal: no newline translation or echo, so bytes pass as written.
struct RawTerminal
{
    int master = -1;
    int child = -1;

    RawTerminal()
    {
        openpty(&master, &child, nullptr, nullptr, nullptr);
        termios attributes{};
        tcgetattr(child, &attributes);
        cfmakeraw(&attributes);
        tcsetattr(child, TCSANOW, &attributes);
    }
};

void writeAll(int fd, size_t total, size_t chunkSize)
{
    std::vector<uint8_t> chunk(chunkSize, 'x');
    size_t left = total;
    while (left > 0) {
        const size_t size = std::min(left, chunkSize);
        size_t done = 0;
        while (done < size) {
            const ssize_t written = write(fd, chunk.data() + done, size - done);
            if (written <= 0)
                return;
            done += size_t(written);
        }
        left -= size;
    }
}

class CountingDelegate : public kestrovan::TerminalIOPipelineDelegate
{
public:
    explicit CountingDelegate(size_t expected) : expected_(expected) {}

    void pipeline(kestrovan::TerminalIOPipeline&, std::span<const uint8_t> bytes) override
    {
        std::lock_guard lock(mutex_);
        received_ += bytes.size();
        ++batches_;
        if (received_ >= expected_)
            done_.notify_all();
    }
    void pipelineReachedEOF(kestrovan::TerminalIOPipeline&) override {}

    size_t waitForAll()
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return received_ >= expected_; });
        return batches_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    const size_t expected_;
    size_t received_ = 0;
    size_t batches_ = 0;
};

void throughputThroughPipeline(benchmark::State& state, size_t total, size_t chunkSize)
{
    size_t batches = 0;
    for (auto _ : state) {
        RawTerminal terminal;
        auto delegate = std::make_shared<CountingDelegate>(total);
        auto pipeline = kestrovan::TerminalIOPipeline::create(terminal.master, delegate);
        pipeline->start();
        std::thread writer(writeAll, terminal.child, total, chunkSize);
        batches += delegate->waitForAll();
        writer.join();
        pipeline.reset();
        close(terminal.child);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * total));
    state.counters["bytes_per_batch"] = double(state.iterations() * total) / double(batches);
}

void throughputThroughBlockingReads(benchmark::State& state, size_t total, size_t chunkSize)
{
    size_t batches = 0;
    for (auto _ : state) {
        RawTerminal terminal;
        std::thread writer(writeAll, terminal.child, total, chunkSize);
        std::vector<uint8_t> buffer(65536);
        size_t received = 0;
        while (received < total) {
            const ssize_t count = read(terminal.master, buffer.data(), buffer.size());
            if (count <= 0)
                break;
            received += size_t(count);
            ++batches;
        }
        writer.join();
        close(terminal.child);
        close(terminal.master);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * total));
    state.counters["bytes_per_batch"] = double(state.iterations() * total) / double(batches);
}

constexpr size_t bulkTotal = 16u << 20;
constexpr size_t smallTotal = 2u << 20;

void pipelineBulk(benchmark::State& state)
{
    throughputThroughPipeline(state, bulkTotal, 65536);
}
BENCHMARK(pipelineBulk)->Unit(benchmark::kMillisecond)->UseRealTime();

void blockingReadsBulk(benchmark::State& state)
{
    throughputThroughBlockingReads(state, bulkTotal, 65536);
}
BENCHMARK(blockingReadsBulk)->Unit(benchmark::kMillisecond)->UseRealTime();

void pipelineSmallWrites(benchmark::State& state)
{
    throughputThroughPipeline(state, smallTotal, 80);
}
BENCHMARK(pipelineSmallWrites)->Unit(benchmark::kMillisecond)->UseRealTime();

void blockingReadsSmallWrites(benchmark::State& state)
{
    throughputThroughBlockingReads(state, smallTotal, 80);
}
BENCHMARK(blockingReadsSmallWrites)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& rates = reporter.bytesPerSecond;
    for (const char* workload : {"Bulk", "SmallWrites"}) {
        const std::string ours = std::string("pipeline") + workload;
        const std::string peer = std::string("blockingReads") + workload;
        if (rates.count(ours + "/real_time") && rates.count(peer + "/real_time"))
            std::printf("pipeline / blocking reads, %s: %.2fx the bytes per second\n", workload,
                        rates[ours + "/real_time"] / rates[peer + "/real_time"]);
    }
    benchmark::Shutdown();
    return 0;
}
