// Output at a child's end, under load: `cat` of a 64 MiB file, then its exit, 200 times over, with a
// busy thread on every core. A terminal must show everything a program printed before it exited, so
// each run counts the bytes the process delivered before it reported the end and checks them
// against the file as the terminal passes it on: through the line discipline's output processing
// (every "\n" as "\r\n"), and raw (`stty raw` first, as full-screen programs set the terminal).
//
// Two deliveries run: the pipeline's parse thread handing its borrowed slots to the delegate
// (direct) and a copy handed over on the delivery queue (queued). The peer is a bare read loop on
// `forkpty`, which reads the master until EIO: what the kernel hands out when nothing is lost.
// Each benchmark reports the runs that lost bytes, the bytes lost in all, and how the drains after
// the exits ended (the pseudo-terminal's end, or the deadline). The number of runs can be changed
// with KESTROVAN_BENCH_RUNS for a quick look.
#include "BenchInputs.h"
#include "BenchPseudoTerminal.h"

#include "Kestrovan/LocalProcess.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrovan;
using Clock = std::chrono::steady_clock;

constexpr size_t fileSize = 64u << 20;
constexpr int defaultRuns = 200;

int runs()
{
    const char* value = std::getenv("KESTROVAN_BENCH_RUNS");
    const int count = value ? std::atoi(value) : 0;
    return count > 0 ? count : defaultRuns;
}

// FNV-1a over a byte stream, fed piece by piece.
struct Checksum
{
    uint64_t value = 1469598103934665603ull;
    void add(const uint8_t* bytes, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            value = (value ^ bytes[i]) * 1099511628211ull;
    }
};

// The file and what the terminal passes on of it, cooked and raw.
struct Input
{
    std::string path;
    uint64_t expectedBytes = 0;
    uint64_t expectedChecksum = 0;
    uint64_t rawBytes = 0;
    uint64_t rawChecksum = 0;

    bool make()
    {
        char pattern[] = "/tmp/kestrovan-child-end-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0)
            return false;
        path = pattern;
        std::string text = bench::asciiLines(fileSize, "\n", 20251208);
        text.resize(text.rfind('\n', fileSize - 1) + 1);
        const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
        close(fd);
        Checksum raw;
        raw.add(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        rawBytes = text.size();
        rawChecksum = raw.value;
        // The line discipline's output processing turns each "\n" into "\r\n".
        Checksum checksum;
        const uint8_t carriageReturn = '\r';
        for (char character : text) {
            if (character == '\n')
                checksum.add(&carriageReturn, 1);
            checksum.add(reinterpret_cast<const uint8_t*>(&character), 1);
            expectedBytes += character == '\n' ? 2 : 1;
        }
        expectedChecksum = checksum.value;
        return written;
    }
};

Input input;

// How the child prints the file: cooked, as `cat` in a shell does, or raw.
struct Workload
{
    const char* name;
    bool raw;

    std::vector<std::string> command() const
    {
        if (!raw)
            return {"/bin/cat", input.path};
        return {"/bin/sh", "-c", "stty raw -echo && exec /bin/cat '" + input.path + "'"};
    }
    uint64_t bytes() const { return raw ? input.rawBytes : input.expectedBytes; }
    uint64_t checksum() const { return raw ? input.rawChecksum : input.expectedChecksum; }
};

const Workload cooked{"Cooked", false};
const Workload raw{"Raw", true};

// A spinning thread on every core for as long as it lives.
class MachineLoad
{
public:
    MachineLoad()
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < cores; ++i)
            threads_.emplace_back([this] {
                volatile uint64_t sink = 0;
                while (!stop_.load(std::memory_order_relaxed))
                    sink = sink + 1;
            });
    }
    ~MachineLoad()
    {
        stop_ = true;
        for (auto& thread : threads_)
            thread.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Counts and sums the output, and keeps what it had when the end was reported.
class CountingDelegate : public LocalProcessDelegate, public LocalProcessBorrowedDataDelegate
{
public:
    void dataReceivedBorrowed(std::span<const uint8_t> bytes) override { add(bytes); }
    void dataReceived(std::span<const uint8_t> slice) override { add(slice); }
    void processTerminated(LocalProcess&, std::optional<int32_t>) override
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        bytesAtEnd = bytes_;
        checksumAtEnd = checksum_.value;
        changed_.notify_all();
    }
    winsize getWindowSize() override { return {24, 80, 0, 0}; }

    void waitForEnd()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ended_; });
    }

    uint64_t bytesAtEnd = 0;
    uint64_t checksumAtEnd = 0;

private:
    void add(std::span<const uint8_t> bytes)
    {
        std::lock_guard lock(mutex_);
        bytes_ += bytes.size();
        checksum_.add(bytes.data(), bytes.size());
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    uint64_t bytes_ = 0;
    Checksum checksum_;
};

void BM_LocalProcess(benchmark::State& state, const Workload& workload, bool directDelivery)
{
    const std::vector<std::string> command = workload.command();
    MachineLoad load;
    uint64_t lossyRuns = 0;
    uint64_t lostBytes = 0;
    uint64_t endedByDeadline = 0;
    uint64_t droppedCounted = 0;
    for (auto _ : state) {
        auto delegate = std::make_shared<CountingDelegate>();
        auto process = LocalProcess::create(delegate, nullptr, directDelivery);
        const auto start = Clock::now();
        if (process->startProcessChecked(command[0], {command.begin() + 1, command.end()})) {
            state.SkipWithError("cat could not be started");
            return;
        }
        delegate->waitForEnd();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        const LocalProcessDrain drain = process->lastDrain();
        endedByDeadline += drain.end == TerminalIOPipelineWorker::ReadingEnd::deadline;
        droppedCounted += drain.droppedBytes;
        if (delegate->bytesAtEnd != workload.bytes() || delegate->checksumAtEnd != workload.checksum()) {
            ++lossyRuns;
            lostBytes += workload.bytes() - std::min(workload.bytes(), delegate->bytesAtEnd);
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workload.bytes()));
    state.counters["lossy_runs"] = double(lossyRuns);
    state.counters["lost_bytes"] = double(lostBytes);
    state.counters["drains_ended_by_deadline"] = double(endedByDeadline);
    state.counters["dropped_bytes_counted"] = double(droppedCounted);
}

void BM_LocalProcessDirect(benchmark::State& state, const Workload& workload)
{
    BM_LocalProcess(state, workload, true);
}

void BM_LocalProcessQueued(benchmark::State& state, const Workload& workload)
{
    BM_LocalProcess(state, workload, false);
}

// The peer: read the master until the kernel says the child's side is gone and empty.
void BM_BareReadLoop(benchmark::State& state, const Workload& workload)
{
    const std::vector<std::string> command = workload.command();
    MachineLoad load;
    std::vector<uint8_t> buffer(64u << 10);
    uint64_t lossyRuns = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        int master = -1;
        const pid_t pid = bench::startOnTerminal(command, 24, 80, master);
        if (pid < 0) {
            state.SkipWithError("forkpty failed");
            return;
        }
        uint64_t received = 0;
        Checksum checksum;
        for (;;) {
            const ssize_t count = read(master, buffer.data(), buffer.size());
            if (count > 0) {
                received += uint64_t(count);
                checksum.add(buffer.data(), size_t(count));
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            break;
        }
        close(master);
        waitpid(pid, nullptr, 0);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        lossyRuns += received != workload.bytes() || checksum.value != workload.checksum();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workload.bytes()));
    state.counters["lossy_runs"] = double(lossyRuns);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!input.make()) {
        std::fprintf(stderr, "could not write the input file\n");
        return 1;
    }
    const int count = runs();
    for (const Workload* workload : {&cooked, &raw}) {
        for (auto [name, function] : {std::pair{"BM_LocalProcessDirect_", &BM_LocalProcessDirect},
                                      std::pair{"BM_LocalProcessQueued_", &BM_LocalProcessQueued},
                                      std::pair{"BM_BareReadLoop_", &BM_BareReadLoop}}) {
            benchmark::RegisterBenchmark((name + std::string(workload->name)).c_str(), function, *workload)
                ->Iterations(count)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    unlink(input.path.c_str());
    benchmark::Shutdown();
    return 0;
}
