// The implicit-link rule over 200-column lines, as link detection runs it under the terminal lock on
// hover and on every frame that underlines links. The peer is a bare ICU matcher reused across
// calls with no limits; main prints what the per-call matcher and the bounds cost against it. The
// hostile line shows what the default time limit lets one call spend.
#include "BenchRatio.h"

#include "Platform/Regex/Regex.h"
#include "Platform/Regex/RegexText.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <string>
#include <unicode/regex.h>
#include <unicode/utext.h>

namespace {

constexpr std::string_view implicitLinkRule =
    R"re((?:https?://|mailto:|ftp://|file:|ssh:|git://|ssh://|tel:|magnet:|ipfs://|ipns://|gemini://|gopher://|news:)(?:(?:\[[:0-9a-fA-F]+\](?::[0-9]+)?)|[\w\-.~:/?#@!$&*+,;=%](?:(?:[\(\[]\w*[\)\]]))?)+(?<![,.])|(?:\.\.\/|\.\/|(?<!\w)~\/|(?:[\w][\w\-.]*\/)*(?<!\w)\$[A-Za-z_]\w*\/|\.[\w][\w\-.]*\/|(?<![\w~\/])\/(?!\/))(?:(?=[\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?|(?![\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]+)*(?<!:)(?: +(?= *$))?)|(?=[\w\-.~:\/?#@!$&*+;=%]*\.)(?<!\w)[\w][\w\-.]*\/[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?)re";

const platform::Regex& linkRule()
{
    static const platform::Regex rule = *platform::Regex::compile(implicitLinkRule).regex;
    return rule;
}

// A compiler diagnostic padded with prose to 200 columns: a path, a URL and a relative file.
std::u16string typicalLine()
{
    std::string line = "/home/user/project/src/render/Frame.cpp:214:17: warning: unused variable 'scale' "
                       "[-Wunused-variable], see https://gcc.gnu.org/onlinedocs/gcc/Warning-Options.html and "
                       "build/log.txt";
    line.resize(200, ' ');
    return std::u16string(platform::RegexText::fromUtf8(line).units());
}

// A listing line with no link in it: the common case under the pointer.
std::u16string plainLine()
{
    std::string line;
    while (line.size() < 200)
        line += "drwxr-xr-x  5 user  staff   160 Jan  1 12:00 ";
    line.resize(200);
    return std::u16string(platform::RegexText::fromUtf8(line).units());
}

void linkFirstMatch(benchmark::State& state)
{
    const std::u16string line = typicalLine();
    for (auto _ : state)
        benchmark::DoNotOptimize(linkRule().firstMatch(line));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size() * sizeof(char16_t)));
}
BENCHMARK(linkFirstMatch);

void linkAllMatches(benchmark::State& state)
{
    const std::u16string line = typicalLine();
    for (auto _ : state)
        benchmark::DoNotOptimize(linkRule().allMatches(line));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size() * sizeof(char16_t)));
}
BENCHMARK(linkAllMatches);

void linkAllMatchesPlainLine(benchmark::State& state)
{
    const std::u16string line = plainLine();
    for (auto _ : state)
        benchmark::DoNotOptimize(linkRule().allMatches(line));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size() * sizeof(char16_t)));
}
BENCHMARK(linkAllMatchesPlainLine);

// The peer: one ICU matcher made once and reset onto the line for each call, no limits.
void linkAllMatchesBareIcu(benchmark::State& state)
{
    const std::u16string line = typicalLine();
    const std::u16string pattern(platform::RegexText::fromUtf8(implicitLinkRule).units());
    UErrorCode error = U_ZERO_ERROR;
    UParseError where;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString(pattern.data(), static_cast<int32_t>(pattern.size())), 0, where, error));
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(error));
    UText text = UTEXT_INITIALIZER;
    utext_openUChars(&text, line.data(), static_cast<int64_t>(line.size()), &error);
    for (auto _ : state) {
        matcher->reset(&text);
        int64_t ends = 0;
        while (matcher->find(error))
            ends += matcher->end64(error);
        benchmark::DoNotOptimize(ends);
    }
    matcher.reset();
    utext_close(&text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size() * sizeof(char16_t)));
}
BENCHMARK(linkAllMatchesBareIcu);

// A logical line of 4000 word characters ending in "/", on which the rule does quadratic work: every
// call ends at the default time limit, so its time is what that limit allows.
void linkTimedOutLine(benchmark::State& state)
{
    const std::u16string line = std::u16string(4000, u'a') + u"/";
    for (auto _ : state) {
        const auto result = linkRule().firstMatch(line);
        if (!result.outcome.timedOut())
            state.SkipWithError("the hostile line did not time out");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(linkTimedOutLine)->Unit(benchmark::kMillisecond);

// Converting a row of cell characters with an astral character in it.
void convertUtf32Row(benchmark::State& state)
{
    std::u32string row = U"😀 ";
    while (row.size() < 200)
        row += U"src/main.cpp:12 ";
    row.resize(200);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::RegexText::fromUtf32(row));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * row.size()));
}
BENCHMARK(convertUtf32Row);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("linkAllMatches") && times.count("linkAllMatchesBareIcu") &&
        times["linkAllMatchesBareIcu"] > 0)
        std::printf("all links of a typical line: %.2fx the time of a bare reused ICU matcher\n",
                    times["linkAllMatches"] / times["linkAllMatchesBareIcu"]);
    benchmark::Shutdown();
    return 0;
}
