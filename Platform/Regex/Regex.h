// Compiled regular expressions in ICU syntax, matched with a bound on time, stack and input.
//
// A `Regex` is compiled once and may then be shared and used from any number of threads at the
// same time: the compiled pattern never changes, and every match call makes its own matcher. Every
// call is bounded. The time limit is counted in ICU matcher steps (10 000 engine operations each)
// over the whole call, so a call that runs too long ends as `timedOut` instead of holding its
// caller, and it ends at the same point on every run and every machine. The backtracking stack has
// a byte limit, and only the first `maxInputLength` UTF-16 units of the searched range are looked
// at. Offsets are UTF-16 code units; `RegexText` converts UTF-8 or UTF-32 text and maps back.
// The ICU types stay inside Regex.cpp, so callers need no ICU headers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// How a pattern is compiled.
struct RegexOptions
{
    /// Letters match regardless of case (Unicode case folding).
    bool caseInsensitive = false;
    /// The pattern is plain text to find, with no metacharacters; for plain-text search.
    bool literal = false;
};

/// Matcher steps shared by many match calls, so that work spread over many short texts (a search
/// over every line of a scrollback) is bounded as a whole, not only call by call.
struct RegexStepBudget
{
    /// Steps left; a call made with none left ends at once as `timedOut`.
    int64_t remaining = 0;

    bool exhausted() const { return remaining <= 0; }
};

/// Bounds on one match call. Every field is clamped to a sensible minimum, so no call runs unbounded.
struct RegexLimits
{
    /// About 2-3 ms of matching on a current desktop core (a step costs 0.12-0.15 ms there for
    /// backtracking-heavy patterns); a typical 200-column line needs well under one step.
    static constexpr int32_t defaultTimeLimit = 20;
    /// 64 Ki units: longer than almost any logical line a link or a search is looked for in.
    static constexpr int32_t defaultMaxInputLength = 1 << 16;
    /// 8 MiB: enough for a single match that spans `defaultMaxInputLength` units of an alternation.
    static constexpr int32_t defaultStackLimit = 8 << 20;

    /// The most matcher steps the whole call may take, at least 1.
    int32_t timeLimit = defaultTimeLimit;
    /// The most UTF-16 units searched, counted from the start of the searched range, at least 0.
    /// Beyond it the input is cut, and the search sees the cut as the end of the text.
    int32_t maxInputLength = defaultMaxInputLength;
    /// The most bytes the backtracking stack may take, at least 1.
    int32_t stackLimit = defaultStackLimit;
    /// When set, the call may take no more steps than the budget has left, and the steps it takes
    /// are charged to it. The caller keeps the budget alive and unshared for the call.
    RegexStepBudget* budget = nullptr;
};

/// A half-open range of UTF-16 code units.
struct RegexRange
{
    int32_t start = 0;
    int32_t end = 0;

    int32_t length() const { return end - start; }
    bool operator==(const RegexRange&) const = default;
};

/// How a match call ended.
enum class RegexStatus : uint8_t
{
    /// The whole searched input was looked at, or the caller stopped the enumeration.
    completed,
    /// The time limit stopped the search; matches reported before it stand.
    timedOut,
    /// The backtracking stack limit stopped the search; matches reported before it stand.
    stackLimitReached,
    /// ICU failed for another reason (memory); matches reported before it stand.
    failed
};

/// The end of a match call.
struct RegexOutcome
{
    RegexStatus status = RegexStatus::completed;
    /// The searched range was longer than `maxInputLength` and only its start was searched.
    bool inputCut = false;

    bool completed() const { return status == RegexStatus::completed; }
    bool timedOut() const { return status == RegexStatus::timedOut; }
};

/// The result of `firstMatch`: no match and a status other than `completed` means "not known".
struct RegexFirstMatch
{
    std::optional<RegexRange> match;
    RegexOutcome outcome;
};

/// The result of `allMatches`, in text order.
struct RegexAllMatches
{
    std::vector<RegexRange> matches;
    RegexOutcome outcome;
};

/// Why a pattern did not compile.
struct RegexError
{
    /// ICU's name for the error, such as "U_REGEX_MISMATCHED_PAREN".
    std::string name;
    /// The line (from 1) and the UTF-16 offset in that line where ICU found it; -1 when unknown.
    int32_t line = -1;
    int32_t offset = -1;

    /// The name and the position in one line, for logs: "U_REGEX_MISMATCHED_PAREN at offset 3".
    std::string message() const;
};

struct RegexCompileResult;

class Regex
{
public:
    /// Called for each match in text order; returning false ends the enumeration.
    using MatchHandler = std::function<bool(RegexRange)>;

    /// Compiles a UTF-8 pattern (ill-formed sequences become U+FFFD).
    static RegexCompileResult compile(std::string_view pattern, RegexOptions options = {});
    /// Compiles a UTF-16 pattern.
    static RegexCompileResult compile(std::u16string_view pattern, RegexOptions options = {});

    const RegexOptions& options() const;

    /// The first match in `text`.
    RegexFirstMatch firstMatch(std::u16string_view text, const RegexLimits& limits = {}) const;
    /// The first match inside `range` of `text`. The range is clamped to the text; the search sees
    /// nothing outside it (look-arounds stop at its ends, "^" and "$" match there).
    RegexFirstMatch firstMatch(std::u16string_view text, RegexRange range,
                               const RegexLimits& limits = {}) const;

    /// Every match in `text`, in order.
    RegexAllMatches allMatches(std::u16string_view text, const RegexLimits& limits = {}) const;
    /// Every match inside `range` of `text`, in order (see `firstMatch` for the range).
    RegexAllMatches allMatches(std::u16string_view text, RegexRange range,
                               const RegexLimits& limits = {}) const;

    /// Hands each match in `text` to `handler` until it returns false. The limits cover the whole
    /// enumeration; the handler may use this or any other `Regex`.
    RegexOutcome enumerateMatches(std::u16string_view text, const MatchHandler& handler,
                                  const RegexLimits& limits = {}) const;
    /// The same inside `range` of `text` (see `firstMatch` for the range).
    RegexOutcome enumerateMatches(std::u16string_view text, RegexRange range, const MatchHandler& handler,
                                  const RegexLimits& limits = {}) const;

private:
    struct Compiled;
    explicit Regex(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}

    // Copies share the compiled pattern, which is never changed after compilation.
    std::shared_ptr<const Compiled> compiled_;
};

/// A compiled pattern, or why there is none.
struct RegexCompileResult
{
    /// Absent when the pattern does not compile.
    std::optional<Regex> regex;
    /// Set when `regex` is absent.
    RegexError error;
};

} // namespace platform
