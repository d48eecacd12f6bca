#include "Kestrovan/Apple/TerminalViewDiagnostics.h"

#include "Kestrovan/Fatal.h"

namespace kestrovan {

void TerminalViewDiagnostics::add(int64_t& counter, int64_t amount)
{
    if (__builtin_add_overflow(counter, amount, &counter))
        fatal("TerminalView.Diagnostics: counter overflow");
}

} // namespace kestrovan
