#include "Regex.h"

#include "Platform/Log/Log.h"

#include <algorithm>
#include <cstdio>
#include <unicode/regex.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

namespace platform {

namespace {

const Logger& logger()
{
    static const Logger log("Platform", "Regex");
    return log;
}

// Closes a UText that ICU opened over our buffer; declared before the matcher so it outlives it.
struct ScopedUText
{
    UText text = UTEXT_INITIALIZER;
    ~ScopedUText() { utext_close(&text); }
};

RegexStatus statusOf(UErrorCode error)
{
    switch (error) {
    case U_REGEX_TIME_OUT:
    case U_REGEX_STOPPED_BY_CALLER:
        return RegexStatus::timedOut;
    case U_REGEX_STACK_OVERFLOW:
        return RegexStatus::stackLimitReached;
    default:
        return U_FAILURE(error) ? RegexStatus::failed : RegexStatus::completed;
    }
}

// The searched range: the caller's range clamped to the text, then cut to `maxInputLength` units.
// A cut never separates the two halves of a surrogate pair, so the last character searched is whole.
struct SearchedRange
{
    RegexRange range;
    bool cut = false;
};

SearchedRange searchedRange(std::u16string_view text, RegexRange requested, int32_t maxInputLength)
{
    // Offsets are 32-bit: a longer text is searched at most to its first 2^31 - 1 units, which the
    // input bound cuts far below anyway.
    const int32_t size = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    SearchedRange searched;
    searched.range.start = std::clamp(requested.start, 0, size);
    searched.range.end = std::clamp(requested.end, searched.range.start, size);
    const int32_t limit = std::max(maxInputLength, 0);
    if (searched.range.length() > limit) {
        int32_t end = searched.range.start + limit;
        if (end > searched.range.start && U16_IS_LEAD(text[end - 1]) && U16_IS_TRAIL(text[end]))
            --end;
        searched.range.end = end;
        searched.cut = true;
    }
    return searched;
}

} // namespace

// The compiled pattern. ICU's `RegexPattern` is immutable once built and may make matchers on many
// threads at once, which is what lets a `Regex` be shared.
struct Regex::Compiled
{
    std::unique_ptr<icu::RegexPattern> pattern;
    RegexOptions options;
};

std::string RegexError::message() const
{
    char position[64] = "";
    if (line > 1)
        std::snprintf(position, sizeof position, " at line %d, offset %d", static_cast<int>(line),
                      static_cast<int>(offset));
    else if (offset >= 0)
        std::snprintf(position, sizeof position, " at offset %d", static_cast<int>(offset));
    return name + position;
}

RegexCompileResult Regex::compile(std::string_view pattern, RegexOptions options)
{
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    return compile(std::u16string_view(text.getBuffer(), static_cast<size_t>(text.length())), options);
}

RegexCompileResult Regex::compile(std::u16string_view pattern, RegexOptions options)
{
    uint32_t flags = 0;
    if (options.caseInsensitive)
        flags |= UREGEX_CASE_INSENSITIVE;
    if (options.literal)
        flags |= UREGEX_LITERAL;

    UErrorCode error = U_ZERO_ERROR;
    UParseError where{};
    where.line = -1;
    where.offset = -1;
    const icu::UnicodeString text(pattern.data(), static_cast<int32_t>(pattern.size()));
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(text, flags, where, error));

    RegexCompileResult result;
    if (U_FAILURE(error) || !compiled) {
        result.error.name = u_errorName(error);
        result.error.line = where.line;
        result.error.offset = where.offset;
        return result;
    }
    auto shared = std::make_shared<Compiled>();
    shared->pattern = std::move(compiled);
    shared->options = options;
    result.regex = Regex(std::move(shared));
    return result;
}

const RegexOptions& Regex::options() const
{
    return compiled_->options;
}

RegexFirstMatch Regex::firstMatch(std::u16string_view text, const RegexLimits& limits) const
{
    return firstMatch(text, RegexRange{0, INT32_MAX}, limits);
}

RegexFirstMatch Regex::firstMatch(std::u16string_view text, RegexRange range, const RegexLimits& limits) const
{
    RegexFirstMatch result;
    result.outcome = enumerateMatches(
        text, range,
        [&](RegexRange match) {
            result.match = match;
            return false;
        },
        limits);
    return result;
}

RegexAllMatches Regex::allMatches(std::u16string_view text, const RegexLimits& limits) const
{
    return allMatches(text, RegexRange{0, INT32_MAX}, limits);
}

RegexAllMatches Regex::allMatches(std::u16string_view text, RegexRange range, const RegexLimits& limits) const
{
    RegexAllMatches result;
    result.outcome = enumerateMatches(
        text, range,
        [&](RegexRange match) {
            result.matches.push_back(match);
            return true;
        },
        limits);
    return result;
}

RegexOutcome Regex::enumerateMatches(std::u16string_view text, const MatchHandler& handler,
                                     const RegexLimits& limits) const
{
    return enumerateMatches(text, RegexRange{0, INT32_MAX}, handler, limits);
}

RegexOutcome Regex::enumerateMatches(std::u16string_view text, RegexRange range, const MatchHandler& handler,
                                     const RegexLimits& limits) const
{
    const SearchedRange searched = searchedRange(text, range, limits.maxInputLength);
    RegexOutcome outcome;
    outcome.inputCut = searched.cut;
    if (limits.budget && limits.budget->exhausted()) {
        outcome.status = RegexStatus::timedOut;
        return outcome;
    }
    int32_t timeLimit = std::max(limits.timeLimit, 1);
    if (limits.budget)
        timeLimit = static_cast<int32_t>(std::min<int64_t>(timeLimit, limits.budget->remaining));
    // The matcher reports each step it counts to this callback; the last count is what the call
    // cost, charged to the budget at the end.
    int32_t stepsTaken = 0;
    URegexMatchCallback* countSteps = [](const void* context, int32_t steps) -> UBool {
        *static_cast<int32_t*>(const_cast<void*>(context)) = steps;
        return true;
    };

    // The matcher gets only the searched part of the text, so look-arounds and anchors see its ends
    // as the ends of the text. (An ICU region would not do: its look-behinds see before its start.)
    const std::u16string_view searchedText =
        text.substr(static_cast<size_t>(searched.range.start), static_cast<size_t>(searched.range.length()));
    static const char16_t empty[] = u"";
    UErrorCode error = U_ZERO_ERROR;
    ScopedUText input;
    utext_openUChars(&input.text, searchedText.empty() ? empty : searchedText.data(),
                     static_cast<int64_t>(searchedText.size()), &error);

    // A matcher per call: making one costs about as much as one allocation, far less than any
    // match, and it keeps calls on different threads (or nested in a handler) apart with no lock.
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(error));
    if (U_SUCCESS(error)) {
        // The stack limit resets the matcher, so it comes before the input. The time limit counts
        // steps from here over every find below: one budget for the whole call.
        matcher->setStackLimit(std::max(limits.stackLimit, 1), error);
        matcher->setTimeLimit(timeLimit, error);
        if (limits.budget)
            matcher->setMatchCallback(countSteps, &stepsTaken, error);
        matcher->reset(&input.text);
    }
    while (U_SUCCESS(error) && matcher->find(error)) {
        const RegexRange match{searched.range.start + static_cast<int32_t>(matcher->start64(error)),
                               searched.range.start + static_cast<int32_t>(matcher->end64(error))};
        if (U_FAILURE(error) || !handler(match))
            break;
    }
    outcome.status = statusOf(error);
    if (limits.budget)
        limits.budget->remaining -= stepsTaken;

    if (!outcome.completed() || outcome.inputCut) {
        if (logger().isDebugEnabled())
            logger().logf(LogLevel::debug, "search ended with %s after %d of %d units%s", u_errorName(error),
                          static_cast<int>(searched.range.length()), static_cast<int>(text.size()),
                          outcome.inputCut ? ", input cut" : "");
    }
    return outcome;
}

} // namespace platform
