// The DEC private modes (CSI ? Pm h and CSI ? Pm l), one table row per mode.
//
// A row says what setting or resetting the mode does, where its value is kept (read back for
// DECRQM and XTSAVE), how DECRQM answers for it, and whether XTSAVE saves it and XTRESTORE
// restores it (and to what when nothing was saved). Set, reset, save, restore and report all
// look the mode up here, so a mode is described in one place. The rows act on the terminal's
// inside, so this type is a friend of `Terminal`; the terminal's mode handlers
// (TerminalModes.cpp) are its only callers.
#pragma once

#include "Kestrovan/Terminal.h"

#include <optional>
#include <span>

namespace kestrovan {

class DecPrivateModeTable
{
public:
    using ReportState = Terminal::DECModeReportState;

    /// How DECRQM answers for a mode.
    enum class Report : uint8_t
    {
        /// Set or reset, from the mode's value.
        fromValue,
        set,
        reset,
        permanentlySet,
        permanentlyReset,
        /// A mode that is an action rather than a state (a screen switch, the cursor save).
        notRecognized,
        /// Worked out by the row's `reportState`.
        custom,
    };

    /// What XTSAVE and XTRESTORE do with a mode.
    enum class Saving : uint8_t
    {
        /// Neither: the classic modes and those that hold no value.
        none,
        /// Saved and restored; nothing saved, XTRESTORE turns it off.
        offWhenUnsaved,
        /// Saved and restored; nothing saved, XTRESTORE turns it on.
        onWhenUnsaved,
        /// Saved and restored; nothing saved, XTRESTORE puts back the value the options start with.
        initialWhenUnsaved,
    };

    struct Row
    {
        int number = 0;
        /// What setting (`value` true) or resetting does; false when that direction is not offered,
        /// which SM and RM report as unhandled. Null: neither direction is.
        bool (*apply)(Terminal& terminal, int mode, bool value) = nullptr;
        /// The mode's value; null for a mode that holds none.
        bool (*read)(const Terminal& terminal, int mode) = nullptr;
        Report report = Report::fromValue;
        /// DECRQM's answer for `Report::custom`.
        ReportState (*reportState)(Terminal& terminal) = nullptr;
        Saving saving = Saving::none;
        /// The value the options start the mode with, for `Saving::initialWhenUnsaved`.
        bool (*initialValue)(const TerminalOptions& options) = nullptr;
    };

    /// Every row, by rising mode number.
    static std::span<const Row> rows();
    /// The row of `mode`, null for a mode the terminal does not know.
    static const Row* find(int mode);

    /// DECSET (`value` true) or DECRST of one mode; false when the mode is unknown or that direction
    /// is not offered.
    static bool apply(Terminal& terminal, int mode, bool value) REQUIRES(terminal.terminalLock());
    /// XTSAVE of one mode: its value is remembered when the mode is saved at all.
    static void save(Terminal& terminal, int mode) REQUIRES(terminal.terminalLock());
    /// XTRESTORE of one mode: the saved value (kept for a later restore), or the value the mode
    /// has when nothing was saved.
    static void restore(Terminal& terminal, int mode) REQUIRES(terminal.terminalLock());
    /// DECRQM's answer for one mode.
    static ReportState report(Terminal& terminal, int mode) REQUIRES(terminal.terminalLock());
};

} // namespace kestrovan
