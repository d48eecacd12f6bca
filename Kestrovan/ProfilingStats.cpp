#include "Kestrovan/ProfilingStats.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace kestrovan {

namespace {

constexpr double nanosecondsPerMillisecond = 1'000'000.0;

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        // The string's terminator slot takes the trailing NUL that vsnprintf always writes.
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

// The sample at index min(last, round(last × quantile)), halves rounding away from zero.
uint64_t percentile(const std::vector<uint64_t>& sorted, double quantile)
{
    size_t last = sorted.size() - 1;
    auto index = static_cast<size_t>(std::round(static_cast<double>(last) * quantile));
    return sorted[std::min(last, index)];
}

double milliseconds(uint64_t nanoseconds)
{
    return static_cast<double>(nanoseconds) / nanosecondsPerMillisecond;
}

} // namespace

ProfilingStats& ProfilingStats::shared()
{
    static ProfilingStats instance;
    return instance;
}

void ProfilingStats::record(ProfilingEvent event, std::optional<ProfilingOwner> owner, uint64_t nanoseconds)
{
    size_t slot = static_cast<size_t>(event) * 4 + static_cast<size_t>(owner.value_or(ProfilingOwner::main));
    state.withLock([&](State& current) {
        std::vector<uint64_t>& samples = current.samples[slot];
        // A run left on for hours must not grow without bound: past the cap only count.
        if (samples.size() >= maximumSamplesPerSlot)
            ++current.dropped[slot];
        else
            samples.push_back(nanoseconds);
    });
}

std::vector<IntervalSummary> ProfilingStats::summaries() const
{
    // Copy under the lock and sort outside it, so recording threads wait only for the copy.
    State copy = state.withLock([](const State& current) { return current; });

    std::vector<IntervalSummary> result;
    for (ProfilingEvent event : allProfilingEvents) {
        for (uint8_t ownerRaw = 0; ownerRaw < 4; ++ownerRaw) {
            size_t slot = static_cast<size_t>(event) * 4 + ownerRaw;
            std::vector<uint64_t>& samples = copy.samples[slot];
            if (samples.empty())
                continue;
            std::sort(samples.begin(), samples.end());

            // The total is summed in double: exact up to 2^53 ns (about 104 days), and it
            // cannot wrap as a 64-bit integer sum of extreme samples would.
            double totalNs = 0;
            for (uint64_t sample : samples)
                totalNs += static_cast<double>(sample);

            IntervalSummary summary;
            summary.event = std::string(name(event));
            if (isOwnerTagged(event))
                summary.owner = std::string(reportName(*profilingOwnerFromRaw(ownerRaw)));
            summary.count = static_cast<int64_t>(samples.size());
            summary.p50Ms = milliseconds(percentile(samples, 0.5));
            summary.p99Ms = milliseconds(percentile(samples, 0.99));
            summary.p999Ms = milliseconds(percentile(samples, 0.999));
            summary.maxMs = milliseconds(samples.back());
            summary.totalMs = totalNs / nanosecondsPerMillisecond;
            summary.dropped = copy.dropped[slot];
            result.push_back(std::move(summary));
        }
    }
    return result;
}

std::string ProfilingStats::report(const std::vector<IntervalSummary>& summaries)
{
    if (summaries.empty())
        return {};
    std::string text = "| Interval | n | p50 ms | p99 ms | p999 ms | max ms | total ms |\n"
                       "| --- | --- | --- | --- | --- | --- | --- |\n";
    for (size_t index = 0; index < summaries.size(); ++index) {
        const IntervalSummary& summary = summaries[index];
        std::string label = summary.event;
        if (summary.owner)
            label += " owner=" + *summary.owner;
        if (summary.dropped >= 1)
            label += " (+" + std::to_string(summary.dropped) + " dropped)";
        if (index > 0)
            text += '\n';
        text += formatted("| %s | %lld | %.3f | %.3f | %.3f | %.3f | %.1f |", label.c_str(),
                          static_cast<long long>(summary.count), summary.p50Ms, summary.p99Ms, summary.p999Ms,
                          summary.maxMs, summary.totalMs);
    }
    return text;
}

void ProfilingStats::reset()
{
    state.withLock([](State& current) {
        // clear() keeps each vector's capacity, so a second run does not reallocate.
        for (std::vector<uint64_t>& samples : current.samples)
            samples.clear();
        current.dropped.fill(0);
    });
}

void ProfilingCallSiteCounter::record(std::string_view callSite)
{
    counts.withLock([&](auto& map) {
        auto found = map.find(callSite);
        if (found == map.end())
            map.emplace(std::string(callSite), 1);
        else
            ++found->second;
    });
}

std::string ProfilingCallSiteCounter::report() const
{
    std::vector<std::pair<std::string, int64_t>> entries = counts.withLock(
        [](const auto& map) { return std::vector<std::pair<std::string, int64_t>>(map.begin(), map.end()); });
    if (entries.empty())
        return {};
    // Largest count first; equal counts keep the map's call-site order so the report is stable.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& left, const auto& right) { return left.second > right.second; });
    std::string text = header;
    for (const auto& [callSite, count] : entries)
        text += "| `" + callSite + "` | " + std::to_string(count) + " |\n";
    return text;
}

void ProfilingCallSiteCounter::reset()
{
    counts.withLock([](auto& map) { map.clear(); });
}

ProfilingHopCounter::ProfilingHopCounter()
    : ProfilingCallSiteCounter("| Callback | Main-queue hops |\n| --- | --- |\n")
{}

ProfilingHopCounter& ProfilingHopCounter::shared()
{
    static ProfilingHopCounter instance;
    return instance;
}

ProfilingLockCallers::ProfilingLockCallers()
    : ProfilingCallSiteCounter("| Call site | Main-thread lock acquisitions |\n| --- | --- |\n")
{}

ProfilingLockCallers& ProfilingLockCallers::shared()
{
    static ProfilingLockCallers instance;
    return instance;
}

} // namespace kestrovan
