// The tests' one way into a terminal's inside, for states no sequence reaches: a buffer field
// written directly, or a guard against rows that cannot occur called with such rows. Every use says
// which state it sets up and why no sequence gets there; everything else a test does goes through
// the terminal's public members.
#pragma once

#include "Kestrovan/Terminal.h"

namespace kestrovan {

struct TerminalTestAccess
{
    /// The buffer in use (or either buffer), writable.
    static Buffer& buffer(Terminal& terminal, Terminal::BufferKind kind = Terminal::BufferKind::active)
    {
        const TerminalUnsharedScope unshared(terminal.terminalLock());
        if (kind == Terminal::BufferKind::normal)
            return *terminal.normalBuffer_;
        if (kind == Terminal::BufferKind::alt)
            return *terminal.altBuffer_;
        return *terminal._buffer;
    }
    /// The terminal as its parser sees it, for calls no byte sequence makes on its own: an 8-bit C1
    /// control reaches the execute action only from the parser's 8-bit state, never from UTF-8
    /// text, and an APC body handed over whole needs no escaping. The caller holds the lock.
    static ParserListener& parserListener(Terminal& terminal) { return terminal; }
    /// The in-place scroll of rows `topRow` ... `bottomRow` of the active buffer, which reports rows
    /// outside the ring instead of moving lines.
    static void scrollInPlaceRegionFast(Terminal& terminal, int scrollTop, int scrollBottom, int topRow,
                                        int bottomRow)
    {
        const TerminalUnsharedScope unshared(terminal.terminalLock());
        terminal.scrollInPlaceRegionFast(*terminal._buffer, scrollTop, scrollBottom, topRow, bottomRow,
                                         false);
    }
};

} // namespace kestrovan
