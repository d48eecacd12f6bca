// What hostile kitty graphics commands cost: floods of transmissions, placements and frames, and
// transmissions whose data could be made huge. Each case runs at two sizes, each in a child
// process of its own (an 80x24 terminal with 500 lines of scrollback and the default 10 MB quota
// per screen) fed in 64 KiB chunks. Counters:
// - usPerItemSmall, usPerItemLarge: CPU time per command at the two sizes; `perItemRatio` is their
//   ratio, near 1 when the whole flood runs in linear time;
// - peakGrowthMiB: how far the child's peak resident size rose over its size before the flood, at
//   the larger size;
// - readMiBPerItem: bytes the child read from files and shared memory per command (rchar of
//   /proc/self/io), at the larger size.
// A child that passes its 4 GiB address-space limit or its 120 s of CPU time is reported as
// failed.
//
// The cases:
// - TransmitByNumber: 1x1 images sent with distinct image numbers (I=, no i=), 10,000 and 40,000;
// - Placements: distinct placements (p=) of one image with huge c, r, z, X and Y, 25,000 and
//   100,000; each moves the cursor, so the screen scrolls and the scrollback's oldest lines go;
// - AnimationFrames: 8x8 frames added to one image, 50,000 and 200,000 (the quota runs out on the
//   way, after which frames are refused);
// - DistinctImageIds: 1x1 images under distinct ids, 625,000 and 2,500,000 (10 MB of pixels at the
//   larger size, the whole quota);
// - FileMedium, SharedMemoryMedium: 20 transmissions of a 1x1 image whose data names a sparse
//   file (raw pixels) or shared-memory object (compressed) of 100 MiB and 400 MiB;
// - FrameInflation: 5 animation frames for a 1x1 image, each a zlib stream inflating to 100 MB and
//   400 MB of pixels.
#include "BenchChild.h"
#include "BenchTerminal.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/Terminal.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using namespace kestrovan;

constexpr size_t chunkSize = 64u << 10;

struct Figures
{
    double baseMiB = 0;
    double peakMiB = 0;
    double cpuSeconds = 0;
    double readBytes = 0;
    int64_t items = 0;
};

/// Bytes this process has read through read-like system calls so far.
double bytesRead()
{
    double rchar = 0;
    if (FILE* file = std::fopen("/proc/self/io", "r")) {
        char key[64];
        double value = 0;
        while (std::fscanf(file, "%63s %lf", key, &value) == 2) {
            if (std::string(key) == "rchar:") {
                rchar = value;
                break;
            }
        }
        std::fclose(file);
    }
    return rchar;
}

std::string command(const std::string& keys, const std::string& payload = std::string())
{
    return "\x1b_G" + keys + (payload.empty() ? std::string() : ";" + payload) + "\x1b\\";
}

std::string base64Of(const std::vector<uint8_t>& bytes)
{
    return base64Encode(bytes);
}

std::string base64Of(const std::string& text)
{
    return base64Encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

/// A flood: how the terminal is set up, and command `i` of `count`.
struct Flood
{
    std::function<void(TerminalOptions&)> configure = [](TerminalOptions&) {};
    std::function<void(Terminal&, int64_t size)> prepare = [](Terminal&, int64_t) {};
    std::function<void(std::string& out, int64_t i, int64_t size)> item;
    /// How many commands a run at `size` sends.
    std::function<int64_t(int64_t size)> items = [](int64_t size) { return size; };
    /// Clean-up after the run (files it made).
    std::function<void()> finish = [] {};
};

Figures measure(const Flood& flood, int64_t size)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 80;
    options.rows = 24;
    flood.configure(options);
    std::shared_ptr<Terminal> terminal = Terminal::create(bench::quietDelegate(), options);
    flood.prepare(*terminal, size);
    Figures figures;
    figures.items = flood.items(size);
    figures.baseMiB = bench::peakResidentMiB();
    const double readBefore = bytesRead();
    const double cpuBefore = bench::cpuSeconds();
    std::string chunk;
    for (int64_t i = 0; i < figures.items; ++i) {
        flood.item(chunk, i, size);
        if (chunk.size() >= chunkSize || i + 1 == figures.items) {
            terminal->feed(chunk);
            chunk.clear();
        }
    }
    figures.cpuSeconds = bench::cpuSeconds() - cpuBefore;
    figures.readBytes = bytesRead() - readBefore;
    figures.peakMiB = bench::peakResidentMiB();
    flood.finish();
    return figures;
}

void runFlood(benchmark::State& state, const Flood& flood, int64_t small, int64_t large)
{
    std::optional<Figures> atSmall;
    std::optional<Figures> atLarge;
    for (auto _ : state) {
        atSmall = bench::runInChild<Figures>([&] { return measure(flood, small); });
        atLarge = bench::runInChild<Figures>([&] { return measure(flood, large); });
        state.SetIterationTime(atSmall && atLarge ? atSmall->cpuSeconds + atLarge->cpuSeconds : 0);
    }
    if (!atSmall || !atLarge) {
        state.SkipWithError("a child ran out of its memory or CPU limit");
        return;
    }
    const double perSmall = atSmall->cpuSeconds / double(atSmall->items) * 1e6;
    const double perLarge = atLarge->cpuSeconds / double(atLarge->items) * 1e6;
    state.counters["usPerItemSmall"] = perSmall;
    state.counters["usPerItemLarge"] = perLarge;
    state.counters["perItemRatio"] = perSmall > 0 ? perLarge / perSmall : 0;
    state.counters["peakGrowthMiB"] = atLarge->peakMiB - atLarge->baseMiB;
    state.counters["readMiBPerItem"] = atLarge->readBytes / double(atLarge->items) / (1 << 20);
}

/// Four bytes of RGBA that differ from one item to the next.
std::vector<uint8_t> pixelFor(int64_t i)
{
    return {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 255};
}

void storeImage(Terminal& terminal, int width, int height)
{
    terminal.feed(command("a=t,q=2,i=1,f=32,s=" + std::to_string(width) + ",v=" + std::to_string(height),
                          base64Of(std::vector<uint8_t>(size_t(width) * height * 4, 200))));
}

/// A zlib stream of `bytes` zero bytes, made without holding them.
std::vector<uint8_t> zlibOfZeros(int64_t bytes)
{
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    const std::vector<uint8_t> zeros(1 << 20, 0);
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(1 << 16);
    int64_t left = bytes;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const int64_t take = std::min<int64_t>(left, int64_t(zeros.size()));
        stream.next_in = const_cast<Bytef*>(zeros.data());
        stream.avail_in = uInt(take);
        left -= take;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = buffer.data();
            stream.avail_out = uInt(buffer.size());
            status = deflate(&stream, flush);
            out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

void BM_TransmitByNumber(benchmark::State& state)
{
    Flood flood;
    flood.item = [](std::string& out, int64_t i, int64_t) {
        out += command("a=t,I=" + std::to_string(i + 1) + ",f=32,s=1,v=1", base64Of(pixelFor(i)));
    };
    runFlood(state, flood, 10'000, 40'000);
}

void BM_Placements(benchmark::State& state)
{
    Flood flood;
    flood.prepare = [](Terminal& terminal, int64_t) { storeImage(terminal, 1, 1); };
    flood.item = [](std::string& out, int64_t i, int64_t) {
        out += command("a=p,i=1,p=" + std::to_string(i + 1) + ",c=" + std::to_string(4'000'000'000 + i) +
                       ",r=" + std::to_string(4'100'000'000 + i) + ",z=" + std::to_string(2'000'000'000 - i) +
                       ",X=" + std::to_string(3'000'000'000 + i) + ",Y=" + std::to_string(3'500'000'000 - i));
    };
    runFlood(state, flood, 25'000, 100'000);
}

void BM_AnimationFrames(benchmark::State& state)
{
    Flood flood;
    flood.prepare = [](Terminal& terminal, int64_t) { storeImage(terminal, 8, 8); };
    flood.item = [](std::string& out, int64_t i, int64_t) {
        std::vector<uint8_t> frame(8 * 8 * 4);
        for (size_t at = 0; at < frame.size(); ++at)
            frame[at] = uint8_t(i + int64_t(at) * 7);
        out += command("a=f,i=1,f=32,s=8,v=8", base64Of(frame));
    };
    runFlood(state, flood, 50'000, 200'000);
}

void BM_DistinctImageIds(benchmark::State& state)
{
    Flood flood;
    flood.item = [](std::string& out, int64_t i, int64_t) {
        out += command("a=t,q=2,i=" + std::to_string(i + 1) + ",f=32,s=1,v=1", base64Of(pixelFor(i)));
    };
    runFlood(state, flood, 625'000, 2'500'000);
}

/// A sparse file of `bytes` bytes in the temporary directory.
std::string sparseFile(int64_t bytes)
{
    char path[] = "/tmp/kestrovan-kitty-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || ftruncate(fd, bytes) != 0)
        return std::string();
    close(fd);
    return path;
}

void BM_FileMedium(benchmark::State& state)
{
    static std::string path;
    Flood flood;
    flood.configure = [](TerminalOptions& options) {
        options.kittyGraphics.localMediaPolicy = KittyGraphicsConfiguration::LocalMediaPolicy::all;
    };
    flood.prepare = [](Terminal&, int64_t size) { path = sparseFile(size << 20); };
    flood.items = [](int64_t) { return int64_t{20}; };
    flood.item = [](std::string& out, int64_t i, int64_t) {
        out += command("a=t,t=f,i=" + std::to_string(i + 1) + ",f=32,s=1,v=1", base64Of(path));
    };
    flood.finish = [] { unlink(path.c_str()); };
    runFlood(state, flood, 100, 400);
}

void BM_SharedMemoryMedium(benchmark::State& state)
{
    Flood flood;
    flood.configure = [](TerminalOptions& options) {
        options.kittyGraphics.localMediaPolicy = KittyGraphicsConfiguration::LocalMediaPolicy::all;
    };
    flood.items = [](int64_t) { return int64_t{20}; };
    flood.item = [](std::string& out, int64_t i, int64_t size) {
        // The object is unlinked by the read, so each command names a fresh one.
        const std::string name = "/kvbench-" + std::to_string(getpid()) + "-" + std::to_string(i);
        const int fd = shm_open(name.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
        if (fd >= 0) {
            if (ftruncate(fd, size << 20) != 0)
                shm_unlink(name.c_str());
            close(fd);
        }
        out += command("a=t,t=s,o=z,i=" + std::to_string(i + 1) + ",f=32,s=1,v=1", base64Of(name));
    };
    flood.finish = [] {
        for (int64_t i = 0; i < 20; ++i)
            shm_unlink(("/kvbench-" + std::to_string(getpid()) + "-" + std::to_string(i)).c_str());
    };
    runFlood(state, flood, 100, 400);
}

void BM_FrameInflation(benchmark::State& state)
{
    static std::string payloads[2];
    payloads[0] = base64Of(zlibOfZeros(100'000'000));
    payloads[1] = base64Of(zlibOfZeros(400'000'000));
    Flood flood;
    flood.prepare = [](Terminal& terminal, int64_t) { storeImage(terminal, 1, 1); };
    flood.items = [](int64_t) { return int64_t{5}; };
    flood.item = [](std::string& out, int64_t, int64_t size) {
        // Keys that make the inflated size exactly the frame's pixels: 5000 x 5000 or 10000 x 10000.
        const std::string side = size == 100 ? "5000" : "10000";
        out += command("a=f,i=1,o=z,f=32,s=" + side + ",v=" + side, payloads[size == 100 ? 0 : 1]);
    };
    runFlood(state, flood, 100, 400);
}

BENCHMARK(BM_TransmitByNumber)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Placements)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimationFrames)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistinctImageIds)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileMedium)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharedMemoryMedium)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameInflation)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
