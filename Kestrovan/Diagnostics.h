// Misuse diagnostics printed on standard output.
//
// Recoverable misuse of the line and ring types is not an error for the caller: the operation
// clamps and goes on, and a fixed message is printed as one line on standard output so that a
// developer notices. Tests capture these lines through a replaceable sink.
#pragma once

#include <functional>
#include <string_view>

namespace kestrovan {

/// Prints one diagnostic line (a newline is added) on standard output, or hands it to the sink.
void printDiagnostic(std::string_view line);

/// Replaces where diagnostics go; an empty function restores standard output. Returns the old sink.
std::function<void(std::string_view)> setDiagnosticSink(std::function<void(std::string_view)> sink);

/// While one lives, `printDiagnostic` on this thread prints nothing when it was made with `silent`
/// true. A terminal holds one for the length of each feed and resize, so that no line printed by
/// the buffers and rings it drives (their misuse reports) reaches standard output when its
/// `silentLog` is on: a program must not be able to flood the host's output through them. The
/// previous setting comes back when it ends, so an inner terminal's own choice counts inside it.
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
