// What a program can make the clipboard protocol (OSC 5522) hold while the host does not answer:
// the user has not answered the permission prompt yet, so every read that needs one waits.
//
// Each flood runs in a child process of its own: a terminal with the clipboard policy `all`, a host
// offering both clipboards and holding every permission completion it is given (the prompt stays
// open), and the protocol's own completion queue thread. The output is fed in 64 KiB chunks with
// the terminal lock held, as the parse thread feeds it. Counters:
// - usPerItemSmall, usPerItemLarge, perItemRatio: CPU time per request at a tenth of the flood and
//   at the whole flood, and their ratio;
// - peakGrowthMiB: how far the child's peak resident size rose during the whole flood;
// - heldPrompts: permission completions the host holds at the end.
//
// The floods:
// - Reads: 1,000,000 read requests for text/plain, each with its own id;
// - PastesThenReads: 200,000 pastes delivered as paste events (mode 5522 on, each leaving a
//   token), then 1,000,000 read requests with random passwords and a name, none matching a token.
#include "BenchChild.h"
#include "BenchTerminal.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrovan;

constexpr size_t chunkSize = 64u << 10;

/// A host that offers both clipboards, holds text, and never answers a permission prompt.
class PromptOpenHost final : public TerminalDelegate
{
public:
    void send(Terminal&, Bytes) override {}
    KittyClipboardCapabilities kittyClipboardCapabilities(Terminal&) override
    {
        return KittyClipboardCapabilities::all;
    }
    bool kittyClipboardSendPasteEvent(Terminal&, Bytes) override { return true; }
    bool kittyClipboardAvailableMimeTypes(
        Terminal&, KittyClipboardLocation,
        std::function<void(std::optional<std::vector<std::string>>)> completion) override
    {
        completion(std::vector<std::string>{"text/plain"});
        return true;
    }
    bool kittyClipboardRead(Terminal&, KittyClipboardLocation, const std::string&,
                            std::function<void(KittyClipboardReadResult)> completion) override
    {
        completion(KittyClipboardReadResult::data({'h', 'i'}));
        return true;
    }
    bool
    kittyClipboardRequestPermission(Terminal&, const KittyClipboardPermissionRequest&,
                                    std::function<void(KittyClipboardPermissionResult)> completion) override
    {
        const std::lock_guard guard(mutex);
        prompts.push_back(std::move(completion));
        return true;
    }

    size_t heldPrompts()
    {
        const std::lock_guard guard(mutex);
        return prompts.size();
    }

private:
    std::mutex mutex;
    std::vector<std::function<void(KittyClipboardPermissionResult)>> prompts;
};

struct Figures
{
    double baseMiB = 0;
    double peakMiB = 0;
    double cpuSeconds[2] = {0, 0};
    int64_t items[2] = {0, 0};
    double heldPrompts = 0;
};

std::string base64Of(const std::string& text)
{
    return base64Encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

/// Feeds requests `begin` to `end` in chunks, with the lock held as the parse thread holds it.
void feedRequests(Terminal& terminal, int64_t begin, int64_t end,
                  const std::function<void(std::string&, int64_t)>& request)
{
    std::string chunk;
    for (int64_t i = begin; i < end; ++i) {
        request(chunk, i);
        if (chunk.size() >= chunkSize || i + 1 == end) {
            terminal.terminalLock().withLock([&] { terminal.feed(chunk); });
            chunk.clear();
        }
    }
}

/// `pastes` paste events, then `reads` requests made by `request`; the first tenth of the reads is
/// timed apart from the whole.
Figures measure(int64_t pastes, int64_t reads, const std::function<void(std::string&, int64_t)>& request)
{
    auto host = std::make_shared<PromptOpenHost>();
    TerminalOptions options = TerminalOptions::defaults();
    options.kittyClipboardPolicy = KittyClipboardPolicy::all;
    std::shared_ptr<Terminal> terminal = Terminal::create(host, options);
    terminal->terminalLock().withLock([&] { terminal->feed("\x1b[?5522h"); });
    Figures figures;
    figures.baseMiB = bench::peakResidentMiB();
    const double start = bench::cpuSeconds();
    for (int64_t i = 0; i < pastes; ++i) {
        TerminalClipboardSnapshot snapshot(
            KittyClipboardLocation::standard, {"text/plain"}, uint64_t(i), std::nullopt,
            [](const std::string&, std::function<void(KittyClipboardReadResult)> completion) {
                completion(KittyClipboardReadResult::data({'o', 'k'}));
                return true;
            });
        terminal->terminalLock().withLock(
            [&] { terminal->paste(TerminalPasteRequest(std::move(snapshot), std::nullopt), false); });
    }
    const int64_t tenth = reads / 10;
    feedRequests(*terminal, 0, tenth, request);
    figures.cpuSeconds[0] = bench::cpuSeconds() - start;
    figures.items[0] = pastes + tenth;
    feedRequests(*terminal, tenth, reads, request);
    figures.cpuSeconds[1] = bench::cpuSeconds() - start;
    figures.items[1] = pastes + reads;
    figures.peakMiB = bench::peakResidentMiB();
    figures.heldPrompts = double(host->heldPrompts());
    return figures;
}

void runFlood(benchmark::State& state, int64_t pastes, int64_t reads,
              const std::function<void(std::string&, int64_t)>& request)
{
    std::optional<Figures> figures;
    for (auto _ : state) {
        figures = bench::runInChild<Figures>([&] { return measure(pastes, reads, request); });
        state.SetIterationTime(figures ? figures->cpuSeconds[1] : 0);
    }
    if (!figures) {
        state.SkipWithError("the child ran out of its memory or CPU limit");
        return;
    }
    const double perSmall = figures->cpuSeconds[0] / double(figures->items[0]) * 1e6;
    const double perLarge = figures->cpuSeconds[1] / double(figures->items[1]) * 1e6;
    state.counters["usPerItemSmall"] = perSmall;
    state.counters["usPerItemLarge"] = perLarge;
    state.counters["perItemRatio"] = perSmall > 0 ? perLarge / perSmall : 0;
    state.counters["peakGrowthMiB"] = figures->peakMiB - figures->baseMiB;
    state.counters["heldPrompts"] = figures->heldPrompts;
}

void BM_Reads(benchmark::State& state)
{
    const std::string wanted = base64Of("text/plain");
    runFlood(state, 0, 1'000'000, [&](std::string& out, int64_t i) {
        out += "\x1b]5522;type=read:id=r" + std::to_string(i) + ";" + wanted + "\x1b\\";
    });
}

void BM_PastesThenReads(benchmark::State& state)
{
    const std::string wanted = base64Of("text/plain");
    const std::string name = base64Of("flood");
    std::mt19937_64 random(5522);
    runFlood(state, 200'000, 1'000'000, [&](std::string& out, int64_t i) {
        const std::string password = base64Of(std::to_string(random()) + std::to_string(random()));
        out += "\x1b]5522;type=read:id=p" + std::to_string(i) + ":pw=" + password + ":name=" + name + ";" +
               wanted + "\x1b\\";
    });
}

BENCHMARK(BM_Reads)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PastesThenReads)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
