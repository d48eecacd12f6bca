// The window title and the icon title (OSC 0, 1 and 2), their two stacks (window operations
// CSI 22 t and CSI 23 t), and the xterm title modes (CSI > Ps t and CSI > Ps T).
//
// Titles are shared immutably (see TitleStack.h): setting, pushing and popping copy a pointer,
// and the stacks are capped. A pop makes the popped title current and hands the same title back,
// so a caller can pass the host text that stays alive whatever the host does meanwhile. The title
// modes only say how a program would like titles set and reported; this terminal never reports
// titles, so they are remembered for the settings report and nothing else. Telling the host about
// a new title is the terminal's part.
#pragma once

#include "Kestrovan/TitleStack.h"

#include <cstdint>
#include <optional>
#include <utility>

namespace kestrovan {

class TerminalTitles
{
public:
    const TitleText& terminalTitle() const { return terminalTitle_; }
    const TitleText& iconTitle() const { return iconTitle_; }
    void setTerminalTitle(TitleText title) { terminalTitle_ = std::move(title); }
    void setIconTitle(TitleText title) { iconTitle_ = std::move(title); }

    const TitleStack& terminalTitleStack() const { return terminalTitleStack_; }
    const TitleStack& terminalIconStack() const { return terminalIconStack_; }
    /// Pushes the current title onto its stack; true when this push began dropping the stack's
    /// oldest entry (once per overflow, for a single warning).
    bool pushTerminalTitle() { return terminalTitleStack_.push(terminalTitle_); }
    bool pushIconTitle() { return terminalIconStack_.push(iconTitle_); }
    /// Pops the newest title of the stack and makes it current; absent, changing nothing, when
    /// the stack is empty.
    std::optional<TitleText> popTerminalTitle();
    std::optional<TitleText> popIconTitle();

    // The title modes: set and query, in hexadecimal and in UTF-8.
    bool xtermTitleSetHex() const { return xtermTitleSetHex_; }
    bool xtermTitleQueryHex() const { return xtermTitleQueryHex_; }
    bool xtermTitleSetUtf() const { return xtermTitleSetUtf_; }
    bool xtermTitleQueryUtf() const { return xtermTitleQueryUtf_; }
    /// One parameter of CSI > Ps t (set) or CSI > Ps T (reset): 0 set in hexadecimal, 1 query in
    /// hexadecimal, 2 set in UTF-8, 3 query in UTF-8; any other value is ignored.
    void setXtermTitleMode(int64_t mode, bool value);
    /// All four off, as after a reset. The titles and stacks stay.
    void resetXtermTitleModes();

private:
    TitleText terminalTitle_;
    TitleText iconTitle_;
    TitleStack terminalTitleStack_;
    TitleStack terminalIconStack_;
    bool xtermTitleSetHex_ = false;
    bool xtermTitleQueryHex_ = false;
    bool xtermTitleSetUtf_ = false;
    bool xtermTitleQueryUtf_ = false;
};

} // namespace kestrovan
