#include "Platform/Regex/Regex.h"
#include "Platform/Regex/RegexText.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using platform::Regex;
using platform::RegexLimits;
using platform::RegexOptions;
using platform::RegexRange;
using platform::RegexStatus;
using platform::RegexText;

namespace {

// The rule the terminal uses to find URLs and file paths in a line of text.
constexpr std::string_view implicitLinkRule =
    R"re((?:https?://|mailto:|ftp://|file:|ssh:|git://|ssh://|tel:|magnet:|ipfs://|ipns://|gemini://|gopher://|news:)(?:(?:\[[:0-9a-fA-F]+\](?::[0-9]+)?)|[\w\-.~:/?#@!$&*+,;=%](?:(?:[\(\[]\w*[\)\]]))?)+(?<![,.])|(?:\.\.\/|\.\/|(?<!\w)~\/|(?:[\w][\w\-.]*\/)*(?<!\w)\$[A-Za-z_]\w*\/|\.[\w][\w\-.]*\/|(?<![\w~\/])\/(?!\/))(?:(?=[\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?|(?![\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]+)*(?<!:)(?: +(?= *$))?)|(?=[\w\-.~:\/?#@!$&*+;=%]*\.)(?<!\w)[\w][\w\-.]*\/[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)(?!\.{0,2}\/)(?!~\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?)re";

Regex compiled(std::string_view pattern, RegexOptions options = {})
{
    auto result = Regex::compile(pattern, options);
    if (!result.regex) {
        ADD_FAILURE() << "\"" << pattern << "\" did not compile: " << result.error.message();
        return *Regex::compile(std::string_view("(?!)")).regex;
    }
    return *result.regex;
}

const Regex& linkRule()
{
    static const Regex rule = compiled(implicitLinkRule);
    return rule;
}

std::u16string utf16(std::string_view utf8)
{
    return std::u16string(RegexText::fromUtf8(utf8).units());
}

// The first match of `regex` in the UTF-8 `line`, as text; "<none>" when there is none and
// "<timed out>" when the search was stopped.
std::string firstMatchText(const Regex& regex, std::string_view line, const RegexLimits& limits = {})
{
    const RegexText text = RegexText::fromUtf8(line);
    const auto result = regex.firstMatch(text.units(), limits);
    if (result.outcome.timedOut())
        return "<timed out>";
    if (!result.match)
        return "<none>";
    const auto range = text.sourceRange(*result.match);
    return std::string(line.substr(range.start, range.end - range.start));
}

std::vector<RegexRange> ranges(std::initializer_list<RegexRange> list)
{
    return list;
}

} // namespace

TEST(Regex, CompileErrorsAreValues)
{
    auto unbalanced = Regex::compile(std::string_view("a(b"));
    EXPECT_FALSE(unbalanced.regex) << "an unclosed group must not compile";
    EXPECT_EQ(unbalanced.error.name, "U_REGEX_MISMATCHED_PAREN");
    EXPECT_EQ(unbalanced.error.offset, 3);
    EXPECT_EQ(unbalanced.error.message(), "U_REGEX_MISMATCHED_PAREN at offset 3");

    for (std::string_view bad : {"[a-", "*a", "(?<=a+)b", "a{2,1}", "\\"}) {
        auto result = Regex::compile(bad);
        EXPECT_FALSE(result.regex) << "\"" << bad << "\" compiled";
        EXPECT_FALSE(result.error.name.empty()) << "no error text for \"" << bad << "\"";
    }

    // A UTF-16 pattern reports the same way.
    EXPECT_FALSE(Regex::compile(std::u16string_view(u"(x")).regex);

    // The same text as a literal is just characters, and the empty pattern is valid.
    EXPECT_TRUE(Regex::compile(std::string_view("a(b"), {.literal = true}).regex);
    EXPECT_TRUE(Regex::compile(std::string_view("")).regex);
}

// The rule's own cases are the terminal's link tests; here it is a large real pattern.
TEST(Regex, ImplicitLinkRuleCompilesAndFindsEveryLinkOfALine)
{
    auto result = Regex::compile(implicitLinkRule);
    ASSERT_TRUE(result.regex) << result.error.message();
    EXPECT_EQ(firstMatchText(*result.regex, "see https://example.com/a."), "https://example.com/a");
    EXPECT_EQ(firstMatchText(*result.regex, "drwxr-xr-x 5 user staff 160 Jan 1 12:00"), "<none>");
    EXPECT_EQ(firstMatchText(*result.regex, "a // comment"), "<none>");

    const std::string line = "see https://a.org/x and ./b.txt or ~/c";
    const auto all = linkRule().allMatches(utf16(line));
    EXPECT_TRUE(all.outcome.completed());
    EXPECT_EQ(all.matches, ranges({{4, 19}, {24, 31}, {35, 38}}));
}

TEST(Regex, OffsetsAreUtf16UnitsAndMapBackToTheSource)
{
    // Two astral characters (two units each) and a BMP one before the link.
    const std::u32string scalars = U"😀😀é https://a.org/x";
    const RegexText fromScalars = RegexText::fromUtf32(scalars);
    const auto first = linkRule().firstMatch(fromScalars.units());
    ASSERT_TRUE(first.match);
    EXPECT_EQ(*first.match, (RegexRange{6, 21})) << "offsets must count UTF-16 units";
    EXPECT_EQ(fromScalars.sourceRange(*first.match), (platform::RegexSourceRange{4, 19}));

    const std::string bytes = "😀😀é https://a.org/x";
    const RegexText fromBytes = RegexText::fromUtf8(bytes);
    EXPECT_EQ(fromBytes.units(), fromScalars.units());
    EXPECT_EQ(fromBytes.sourceRange(*first.match), (platform::RegexSourceRange{11, 26}));

    // Back from the source: a byte inside a character gives that character's first unit.
    for (const auto& [byte, unit] :
         {std::pair<size_t, int>{0, 0}, {3, 0}, {4, 2}, {9, 4}, {10, 5}, {bytes.size(), 21}})
        EXPECT_EQ(fromBytes.utf16Offset(byte), unit) << "byte " << byte;
    EXPECT_EQ(fromBytes.sourceOffset(1), 0u) << "the second half of a pair maps to its character";
    EXPECT_EQ(fromBytes.sourceOffset(100), bytes.size());
    EXPECT_EQ(fromScalars.utf16Offset(2), 4);

    // A match made of an astral character is the whole pair.
    const auto emoji = compiled(".").allMatches(u"a😀b");
    EXPECT_EQ(emoji.matches, ranges({{0, 1}, {1, 3}, {3, 4}}));
}

TEST(Regex, IllFormedTextBecomesReplacementCharacters)
{
    struct Case
    {
        std::string_view bytes;
        std::u16string_view units;
    };
    const Case cases[] = {
        {"a\xC3(b", u"a\uFFFD(b"},
        {"\xF0\x9F\x98", u"\uFFFD"},                       // a truncated four-byte sequence is one subpart
        {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"},         // an encoded surrogate is not a subpart
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
        {"\xE2\x82\xAC\xFF", u"\u20AC\uFFFD"},
    };
    for (const Case& c : cases) {
        const RegexText text = RegexText::fromUtf8(c.bytes);
        EXPECT_TRUE(text.units() == c.units)
            << "for the " << c.bytes.size() << " bytes starting 0x" << std::hex
            << static_cast<int>(static_cast<uint8_t>(c.bytes[0]));
    }
    const RegexText mixed = RegexText::fromUtf8("a\xC3(b");
    EXPECT_EQ(mixed.sourceOffset(2), 2u) << "the character after a bad byte keeps its own offset";

    const std::u32string scalars = {U'a', 0xD800, 0x110000, U'b'};
    EXPECT_TRUE(RegexText::fromUtf32(scalars).units() == u"a\uFFFD\uFFFDb");
}

TEST(Regex, InputBoundAndRangeLimitWhatIsSearched)
{
    const Regex bees = compiled("b+");
    const std::u16string text = u"aaabbbbb";

    const auto cut = bees.firstMatch(text, {.maxInputLength = 5});
    EXPECT_TRUE(cut.outcome.completed());
    EXPECT_TRUE(cut.outcome.inputCut);
    EXPECT_EQ(cut.match, (RegexRange{3, 5})) << "the cut is the end of the searched text";

    const auto nothing = bees.firstMatch(text, {.maxInputLength = 3});
    EXPECT_FALSE(nothing.match);
    EXPECT_TRUE(nothing.outcome.inputCut);

    const auto whole = bees.firstMatch(text, {.maxInputLength = 8});
    EXPECT_FALSE(whole.outcome.inputCut) << "a text exactly as long as the bound is not cut";
    EXPECT_EQ(whole.match, (RegexRange{3, 8}));

    // A path beyond the bound is not found, and the link rule stops at the cut.
    const std::u16string line = utf16("xxxxxxxx /usr/bin/env");
    EXPECT_FALSE(linkRule().firstMatch(line, {.maxInputLength = 9}).match);
    EXPECT_EQ(linkRule().firstMatch(line, {.maxInputLength = 13}).match, (RegexRange{9, 13}));

    // A cut never splits a surrogate pair.
    const auto anyCharacter = compiled(".");
    EXPECT_EQ(anyCharacter.allMatches(u"ab😀c", {.maxInputLength = 3}).matches, ranges({{0, 1}, {1, 2}}));
    EXPECT_EQ(anyCharacter.allMatches(u"ab😀c", {.maxInputLength = 0}).matches, ranges({}));

    // A range: matches only inside it; the bound counts from its start; it is clamped to the text.
    const Regex numbered = compiled("a\\d");
    const std::u16string list = u"a1 a2 a3";
    EXPECT_EQ(numbered.allMatches(list, RegexRange{3, 8}).matches, ranges({{3, 5}, {6, 8}}));
    EXPECT_EQ(numbered.allMatches(list, RegexRange{3, 8}, {.maxInputLength = 2}).matches, ranges({{3, 5}}));
    EXPECT_EQ(numbered.allMatches(list, RegexRange{-5, 100}).matches, ranges({{0, 2}, {3, 5}, {6, 8}}));
    EXPECT_EQ(numbered.allMatches(list, RegexRange{6, 2}).matches, ranges({}));

    // Look-arounds and word boundaries do not see past the range, and "^" and "$" match at its ends.
    EXPECT_FALSE(compiled("(?<=x)a").firstMatch(u"xay", RegexRange{1, 2}).match);
    EXPECT_FALSE(compiled("a(?=y)").firstMatch(u"xay", RegexRange{1, 2}).match);
    EXPECT_EQ(compiled("\\ba\\b").firstMatch(u"xay", RegexRange{1, 2}).match, (RegexRange{1, 2}));
    EXPECT_EQ(compiled("^a$").firstMatch(u"bab", RegexRange{1, 2}).match, (RegexRange{1, 2}));
}

TEST(Regex, HostileInputTimesOutInsteadOfHanging)
{
    const Regex nested = compiled("(a+)+$");
    const std::u16string hostile = std::u16string(40, u'a') + u"b";

    const auto first = nested.firstMatch(hostile);
    EXPECT_EQ(first.outcome.status, RegexStatus::timedOut);
    EXPECT_FALSE(first.match);
    EXPECT_EQ(nested.allMatches(hostile).outcome.status, RegexStatus::timedOut);

    // A plain miss is not a time-out.
    const auto miss = nested.firstMatch(u"ab");
    EXPECT_EQ(miss.outcome.status, RegexStatus::completed);
    EXPECT_FALSE(miss.match);

    // Matches found before the limit stand.
    const auto partial = compiled("x|(a+)+$").allMatches(u"x x " + hostile);
    EXPECT_EQ(partial.outcome.status, RegexStatus::timedOut);
    EXPECT_EQ(partial.matches, ranges({{0, 1}, {2, 3}}));

    // The limit covers the whole enumeration, not each match alone.
    const auto cheapButMany = compiled("a").allMatches(std::u16string(60000, u'a'), {.timeLimit = 1});
    EXPECT_EQ(cheapButMany.outcome.status, RegexStatus::timedOut);
    EXPECT_GT(cheapButMany.matches.size(), 0u);
    EXPECT_LT(cheapButMany.matches.size(), 60000u);

    // The link rule does quadratic work on a long run of word characters; the limit ends it.
    const std::u16string word = std::u16string(4000, u'a') + u"/";
    EXPECT_EQ(linkRule().firstMatch(word).outcome.status, RegexStatus::timedOut);

    // The caller's limit is honoured both ways: a shorter run needs a few steps.
    const std::u16string shortWord = std::u16string(200, u'a') + u"/";
    EXPECT_EQ(linkRule().firstMatch(shortWord, {.timeLimit = 1}).outcome.status, RegexStatus::timedOut);
    const auto finished = linkRule().firstMatch(shortWord, {.timeLimit = 1000});
    EXPECT_EQ(finished.outcome.status, RegexStatus::completed);
    EXPECT_FALSE(finished.match);

    // Long lines of path-like text of several shapes, as long as the input bound allows: each call
    // returns, either with its result or timed out.
    for (std::u16string_view unit : {u"a/a ", u"/a ", u"a.", u"https://a(", u"/x a"}) {
        std::u16string line;
        while (line.size() <= static_cast<size_t>(RegexLimits::defaultMaxInputLength))
            line += unit;
        const auto all = linkRule().allMatches(line);
        EXPECT_TRUE(all.outcome.status == RegexStatus::completed ||
                    all.outcome.status == RegexStatus::timedOut)
            << "status " << static_cast<int>(all.outcome.status) << " on a line of \""
            << std::string(unit.begin(), unit.end()) << "\"";
        EXPECT_TRUE(all.outcome.inputCut);
    }
}

TEST(Regex, AStepBudgetBoundsManyCallsTogether)
{
    // Each call alone stays within its own limit; the shared budget ends the series.
    const Regex nested = compiled("(a+)+$");
    const std::u16string hostile = std::u16string(40, u'a') + u"b";
    platform::RegexStepBudget budget{50};
    int calls = 0;
    while (calls < 1000) {
        const auto result = nested.firstMatch(hostile, {.budget = &budget});
        ++calls;
        if (budget.exhausted()) {
            EXPECT_EQ(result.outcome.status, RegexStatus::timedOut);
            break;
        }
    }
    EXPECT_LE(calls, 3) << "a 20-step limit per call spends 50 steps in three calls";
    EXPECT_EQ(nested.firstMatch(u"ab", {.budget = &budget}).outcome.status, RegexStatus::timedOut)
        << "a spent budget stops even a cheap call";

    // Cheap calls charge nothing measurable and leave the budget alone.
    platform::RegexStepBudget plenty{5};
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(compiled("b").firstMatch(u"ab", {.budget = &plenty}).match);
    EXPECT_EQ(plenty.remaining, 5);
}

TEST(Regex, StackLimitStopsDeepBacktracking)
{
    const Regex alternation = compiled("(a|b)*");
    const std::u16string text(65536, u'a');

    const auto bounded = alternation.firstMatch(text, {.timeLimit = 10000, .stackLimit = 64 << 10});
    EXPECT_EQ(bounded.outcome.status, RegexStatus::stackLimitReached);
    EXPECT_FALSE(bounded.match);

    const auto enough = alternation.firstMatch(text, {.timeLimit = 10000});
    EXPECT_EQ(enough.outcome.status, RegexStatus::completed)
        << "the default stack holds one match over the bound";
    EXPECT_EQ(enough.match, (RegexRange{0, 65536}));
}

TEST(Regex, CaseInsensitiveAndLiteralMatching)
{
    const Regex scheme = compiled("https://");
    const Regex anyCase = compiled("https://", {.caseInsensitive = true});
    EXPECT_FALSE(scheme.firstMatch(u"HTTPS://X").match);
    EXPECT_EQ(anyCase.firstMatch(u"HTTPS://X").match, (RegexRange{0, 8}));
    EXPECT_TRUE(anyCase.options().caseInsensitive);
    EXPECT_FALSE(scheme.options().caseInsensitive);

    EXPECT_EQ(compiled("été", {.caseInsensitive = true}).firstMatch(u"L'ÉTÉ").match, (RegexRange{2, 5}));

    // Plain-text search: metacharacters are characters, optionally without case.
    const Regex plain = compiled("a.(b", {.caseInsensitive = true, .literal = true});
    EXPECT_EQ(plain.allMatches(u"xA.(Bx a.(b axxb").matches, ranges({{1, 5}, {7, 11}}));
    EXPECT_FALSE(compiled("a.b", {.literal = true}).firstMatch(u"axb").match);
}

TEST(Regex, EnumerationStopsOnRequestAndStepsOverEmptyMatches)
{
    EXPECT_EQ(compiled("x*").allMatches(u"ab").matches, ranges({{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_EQ(compiled("").allMatches(u"").matches, ranges({{0, 0}}));

    const Regex word = compiled("\\w+");
    std::vector<RegexRange> seen;
    const auto outcome = word.enumerateMatches(u"one two three", [&](RegexRange match) {
        seen.push_back(match);
        return seen.size() < 2;
    });
    EXPECT_TRUE(outcome.completed()) << "a handler that stops is not a failure";
    EXPECT_EQ(seen, ranges({{0, 3}, {4, 7}}));

    // A handler may match again with the same pattern.
    std::vector<RegexRange> inner;
    word.enumerateMatches(u"ab cd", [&](RegexRange match) {
        const auto nested = word.firstMatch(u"xy zw", RegexRange{match.start, match.end});
        if (nested.match)
            inner.push_back(*nested.match);
        return true;
    });
    EXPECT_EQ(inner, ranges({{0, 2}, {3, 5}}));
}

TEST(Regex, OneCompiledPatternServesManyThreads)
{
    const std::vector<std::u16string> lines = {
        utf16("open https://example.com/a?b=c now and ./build/out.txt"),
        utf16("😀 ~/x/y /usr/bin/env file:/tmp/a"),
        utf16("nothing to see here at all"),
        std::u16string(300, u'a') + u"/",
    };
    // Each line's answer from this thread, with a time limit none of them reaches.
    const RegexLimits roomy{.timeLimit = 100000};
    std::vector<std::vector<RegexRange>> expected;
    for (const auto& line : lines)
        expected.push_back(linkRule().allMatches(line, roomy).matches);

    const Regex shared = linkRule();
    const Regex nested = compiled("(a+)+$");
    const std::u16string hostile = std::u16string(40, u'a') + u"b";
    std::atomic<int> mismatches{0};
    std::atomic<int> timeouts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const Regex copy = shared;
            for (int round = 0; round < 50; ++round) {
                const size_t index = static_cast<size_t>(t + round) % lines.size();
                const auto result = copy.allMatches(lines[index], roomy);
                if (!result.outcome.completed())
                    ++timeouts;
                else if (result.matches != expected[index])
                    ++mismatches;
                // Time-outs on the other threads must not disturb this one's matches.
                if (!nested.firstMatch(hostile, {.timeLimit = 1}).outcome.timedOut())
                    ++mismatches;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(timeouts.load(), 0);
}
