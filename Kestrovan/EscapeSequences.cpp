#include "Kestrovan/EscapeSequences.h"

#include <string_view>

namespace kestrovan {

namespace {

using Sequence = EscapeSequences::Sequence;

/// The bytes of a literal. (ESC is written "\x1b", or "\033" where a hex digit follows it.)
Sequence bytes(std::string_view text)
{
    return Sequence(text.begin(), text.end());
}

} // namespace

// Each accessor keeps its sequence in a function-local static: built on first use (the language
// makes that thread-safe) and shared afterwards.
#define KESTROVAN_SEQUENCE(name, text)                                                                       \
    const Sequence& EscapeSequences::name()                                                                  \
    {                                                                                                        \
        static const Sequence value = bytes(text);                                                           \
        return value;                                                                                        \
    }

KESTROVAN_SEQUENCE(cmdNewLine, "\n")
KESTROVAN_SEQUENCE(cmdRet, "\r")
KESTROVAN_SEQUENCE(cmdEsc, "\x1b")
KESTROVAN_SEQUENCE(cmdDel, "\x7f")
KESTROVAN_SEQUENCE(cmdDelKey, "\x1b[3~")
KESTROVAN_SEQUENCE(cmdTab, "\t")
KESTROVAN_SEQUENCE(cmdBackTab, "\x1b[Z")
KESTROVAN_SEQUENCE(cmdPageUp, "\x1b[5~")
KESTROVAN_SEQUENCE(cmdPageDown, "\x1b[6~")
KESTROVAN_SEQUENCE(cmdInsert, "\x1b[2~")
KESTROVAN_SEQUENCE(moveUpNormal, "\x1b[A")
KESTROVAN_SEQUENCE(moveUpApp, "\x1bOA")
KESTROVAN_SEQUENCE(moveDownNormal, "\x1b[B")
KESTROVAN_SEQUENCE(moveDownApp, "\x1bOB")
KESTROVAN_SEQUENCE(moveRightNormal, "\x1b[C")
KESTROVAN_SEQUENCE(moveRightApp, "\x1bOC")
KESTROVAN_SEQUENCE(moveLeftNormal, "\x1b[D")
KESTROVAN_SEQUENCE(moveLeftApp, "\x1bOD")
KESTROVAN_SEQUENCE(moveHomeNormal, "\x1b[H")
KESTROVAN_SEQUENCE(moveHomeApp, "\x1bOH")
KESTROVAN_SEQUENCE(moveEndNormal, "\x1b[F")
KESTROVAN_SEQUENCE(moveEndApp, "\x1bOF")
KESTROVAN_SEQUENCE(emacsBack, "\033b")
KESTROVAN_SEQUENCE(emacsForward, "\033f")
KESTROVAN_SEQUENCE(controlLeft, "\x1b[1;5D")
KESTROVAN_SEQUENCE(controlRight, "\x1b[1;5C")
KESTROVAN_SEQUENCE(bracketedPasteStart, "\x1b[200~")
KESTROVAN_SEQUENCE(bracketedPasteEnd, "\x1b[201~")

#undef KESTROVAN_SEQUENCE

const std::array<Sequence, 12>& EscapeSequences::cmdF()
{
    // F1-F4 are the VT100 PF keys (SS3 P-S); F5 onwards skip 16 and 22, as the VT220 numbering does.
    static const std::array<Sequence, 12> value{
        bytes("\x1bOP"),   bytes("\x1bOQ"),   bytes("\x1bOR"),   bytes("\x1bOS"),
        bytes("\x1b[15~"), bytes("\x1b[17~"), bytes("\x1b[18~"), bytes("\x1b[19~"),
        bytes("\x1b[20~"), bytes("\x1b[21~"), bytes("\x1b[23~"), bytes("\x1b[24~"),
    };
    return value;
}

} // namespace kestrovan
