// Misuse diagnostics, printed on standard error through the log.
//
// Recoverable misuse of the line and ring types, and output the terminal does not understand, is
// not an error for the caller: the operation clamps and goes on, and a fixed message is printed as
// one line so that a developer notices. The lines go to the log (`platform::Logger`, standard
// error, tagged "org.morvane.Kestrovan[Diagnostics]"), never to standard output, which belongs to
// the program that embeds the engine; a flood of them is rate-limited (`DiagnosticsRateLimiter`).
// Tests capture the lines through a replaceable sink, which sees every line unlimited.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace kestrovan {

/// Prints one diagnostic line through the log, within the rate limit, or hands it to the sink.
void printDiagnostic(std::string_view line);

/// Replaces where diagnostics go; an empty function restores the log. Returns the old sink.
std::function<void(std::string_view)> setDiagnosticSink(std::function<void(std::string_view)> sink);

/// Replaces the clock (monotonic nanoseconds) the rate limit reads, for tests; an empty function
/// restores the system's monotonic clock. The limit starts afresh. Returns the old clock.
std::function<uint64_t()> setDiagnosticClock(std::function<uint64_t()> clock);

/// While one lives, `printDiagnostic` on this thread prints nothing when it was made with `silent`
/// true. A terminal holds one for the length of each feed and resize, so that no line printed by
/// the buffers and rings it drives (their misuse reports) reaches the log when its `silentLog` is
/// on: a program must not be able to flood the host's output through them. The previous setting
/// comes back when it ends, so an inner terminal's own choice counts inside it.
class DiagnosticSilence
{
public:
    explicit DiagnosticSilence(bool silent);
    ~DiagnosticSilence();
    DiagnosticSilence(const DiagnosticSilence&) = delete;
    DiagnosticSilence& operator=(const DiagnosticSilence&) = delete;

private:
    bool previous_;
};

} // namespace kestrovan
