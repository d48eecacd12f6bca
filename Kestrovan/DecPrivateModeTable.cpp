// The DEC private modes, one row each (DecPrivateModeTable.h).
//
// The rows are in rising order of their numbers. A mode that only answers DECRQM has no `apply`; a
// mode that holds no value has no `read`. The screen switches (47, 1047, 1049) and the cursor save
// (1048) are actions: DECRQM does not recognise them and XTSAVE skips them, as it skips every
// classic mode; only the newer modes with a value of their own are saved and restored.
#include "Kestrovan/DecPrivateModeTable.h"

#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>

namespace kestrovan {

namespace {

using ReportState = DecPrivateModeTable::ReportState;
using Report = DecPrivateModeTable::Report;
using Saving = DecPrivateModeTable::Saving;
using Row = DecPrivateModeTable::Row;
using MouseMode = Terminal::MouseMode;
using Encoding = Terminal::MouseProtocolEncoding;

ReportState setOrReset(bool value)
{
    return value ? ReportState::set : ReportState::reset;
}

} // namespace

std::span<const Row> DecPrivateModeTable::rows()
{
    // Rows that store an on/off mode and nothing more share these two.
#define KESTROVAN_STORED_MODE(which)                                                                         \
    [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {                                            \
        t.modes_.set(which, value);                                                                          \
        return true;                                                                                         \
    },                                                                                                       \
        [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.modes_[which]; }
    // Steps several rows share. A local type rather than closures: the lock analysis follows a
    // call to a static function's parameter, not to a stored closure's.
    struct Steps
    {
        static bool mouse(Terminal& t, MouseMode on, bool value) REQUIRES(t.terminalLock())
        {
            t.setMouseMode(value ? on : MouseMode::off);
            return true;
        }
        static bool encoding(Terminal& t, Encoding on, bool value) REQUIRES(t.terminalLock())
        {
            t.mouse_.setMouseProtocol(value ? on : Encoding::x10);
            return true;
        }
        // After either screen became active (modes 47, 1047, 1049): redraw it all, show the cursor,
        // and tell the host.
        static void finishBufferActivation(Terminal& t) REQUIRES(t.terminalLock())
        {
            t.updateFullScreen();
            // A program that hid the cursor on one screen must not leave it hidden on the other.
            t.showCursor();
            if (auto host = t.delegate())
                host->bufferActivated(t);
        }
    };
    // The modes that only remember whether they are set, for DECRQM; they change nothing else.
    const auto rememberOnly = [](Terminal& t, int mode, bool value) REQUIRES(t.terminalLock()) {
        if (value)
            t.reportedOnly_.decModes.insert(mode);
        else
            t.reportedOnly_.decModes.erase(mode);
        return true;
    };
    const auto remembered = [](const Terminal& t, int mode) REQUIRES(t.terminalLock()) {
        return t.reportedOnly_.decModes.count(mode) != 0;
    };
    // Accepted so that programs probing them get no "unhandled" noise; they hold nothing.
    const auto accepted = [](Terminal&, int, bool) { return true; };
    // The bidi modes: new lines of the buffers take the state; the paragraph under the cursor
    // takes it only if nothing has been written into it yet.
    const auto bidiMode = [](Terminal& t, int mode, bool value) REQUIRES(t.terminalLock()) {
        const Terminal::BidiStateProperty property = mode == 2500
                                                         ? Terminal::BidiStateProperty::boxMirroring
                                                         : Terminal::BidiStateProperty::autodetectDirection;
        BidiPresentationState state = t.modes_.bidiState();
        if (mode == 2500)
            state.boxMirroring = value;
        else
            state.autodetectDirection = value;
        t.modes_.setBidiState(state);
        t.applyCurrentBidiStateAtParagraphStart(property);
        t.updateFullScreen();
        return true;
    };

    static const Row table[] = {
        {1, KESTROVAN_STORED_MODE(TerminalMode::applicationCursor)}, // DECCKM
        // DECANM: set puts the default sets back in every slot; VT52 mode is not offered.
        {2,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             if (!value)
                 return false;
             for (uint8_t slot = 0; slot < 4; ++slot)
                 t.setgCharset(slot, nullptr);
             return true;
         },
         nullptr, Report::set},
        // DECCOLM; the grid's width tells, whoever resized it last.
        {3,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             t.changeColumnMode(value ? 132 : 80);
             return true;
         },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.buffer().cols() == 132; }},
        {4, KESTROVAN_STORED_MODE(TerminalMode::smoothScroll)}, // DECSCLM
        // DECSCNM
        {5,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             t.setReverseColors(value);
             return true;
         },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.modes_[TerminalMode::reverseColors]; }},
        {6, KESTROVAN_STORED_MODE(TerminalMode::originMode)}, // DECOM
        // DECAWM
        {7, KESTROVAN_STORED_MODE(TerminalMode::wraparound), Report::fromValue, nullptr,
         Saving::onWhenUnsaved},
        // Auto-repeat belongs to the host's keyboard.
        {8, nullptr, nullptr, Report::set},
        // X10 mouse
        {9,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::mouse(t, MouseMode::x10, value); },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.mouseMode() == MouseMode::x10; }},
        {10, nullptr, nullptr, Report::permanentlyReset}, // rxvt toolbar
        {12, KESTROVAN_STORED_MODE(TerminalMode::cursorBlink)},
        {13, nullptr, nullptr, Report::reset}, // blinking cursor (the att610 form)
        {14, nullptr, nullptr, Report::reset}, // XOR of the blink modes
        {18, rememberOnly, remembered, Report::fromValue, nullptr, Saving::offWhenUnsaved}, // DECPFF
        {19, rememberOnly, remembered, Report::fromValue, nullptr, Saving::offWhenUnsaved}, // DECPEX
        // DECTCEM
        {25,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             if (value)
                 t.showCursor();
             else
                 t.hideCursor();
             return true;
         },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return !t.modes_[TerminalMode::cursorHidden]; }},
        {30, nullptr, nullptr, Report::reset},                                              // scroll bar
        {35, rememberOnly, remembered, Report::fromValue, nullptr, Saving::offWhenUnsaved}, // font shifting
        {40, KESTROVAN_STORED_MODE(TerminalMode::allow80To132)},                            // allow DECCOLM
        // more(1) fix: not offered, but turning it off is no news.
        {41, [](Terminal&, int, bool value) { return !value; }, nullptr, Report::reset},
        {42, rememberOnly, remembered, Report::fromValue, nullptr, Saving::offWhenUnsaved}, // DECNRCM
        {44, nullptr, nullptr, Report::permanentlyReset},                                   // margin bell
        {45, KESTROVAN_STORED_MODE(TerminalMode::reverseWraparound)},
        {46, nullptr, nullptr, Report::permanentlyReset}, // logging
        // Alternate screen; leaving it keeps what was drawn there.
        {47,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             if (value)
                 t.activateAltBuffer();
             else
                 t.activateNormalBuffer(false);
             Steps::finishBufferActivation(t);
             return true;
         },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.isCurrentBufferAlternate(); }},
        {60, accepted, nullptr, Report::permanentlyReset}, // DECHCCM, horizontal cursor coupling: always off
        // DECRLM: ignored on, reported when turned off.
        {63, [](Terminal&, int, bool value) { return value; }, nullptr, Report::notRecognized},
        {66, KESTROVAN_STORED_MODE(TerminalMode::applicationKeypad)}, // DECNKM
        // DECBKM
        {67, KESTROVAN_STORED_MODE(TerminalMode::backarrowKeyMode), Report::fromValue, nullptr,
         Saving::offWhenUnsaved},
        // DECLRMM, a VT400 feature
        {69,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             if (!value) {
                 t.modes_.set(TerminalMode::marginMode, false);
                 t.activeBuffer().setMarginLeft(0);
                 t.activeBuffer().setMarginRight(t.cols() - 1);
             } else if (t.conformance_ >= Terminal::TerminalConformance::vt400) {
                 t.modes_.set(TerminalMode::marginMode, true);
             }
             return true;
         },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.modes_[TerminalMode::marginMode]; }},
        {80, nullptr, nullptr, Report::permanentlyReset},                 // sixel scrolling
        {95, KESTROVAN_STORED_MODE(TerminalMode::noClearOnColumnChange)}, // DECNCSM
        {117, accepted, nullptr, Report::permanentlyReset},               // DECECM, erase colour: always off
        {1000,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::mouse(t, MouseMode::vt200, value); },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.mouseMode() == MouseMode::vt200; }},
        {1001, nullptr, nullptr, Report::reset}, // highlight mouse tracking
        {1002,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::mouse(t, MouseMode::buttonEventTracking, value); },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.mouseMode() == MouseMode::buttonEventTracking; }},
        {1003,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::mouse(t, MouseMode::anyEvent, value); },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.mouseMode() == MouseMode::anyEvent; }},
        // Focus events; the program learns the current focus at once.
        {1004,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             t.modes_.set(TerminalMode::sendFocus, value);
             if (value)
                 t.sendFocusReport();
             return true;
         },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.modes_[TerminalMode::sendFocus]; }},
        {1005,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::encoding(t, Encoding::utf8, value); },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.mouseProtocol() == Encoding::utf8; }},
        {1006,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::encoding(t, Encoding::sgr, value); },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.mouseProtocol() == Encoding::sgr; }},
        // Alternate scroll
        {1007,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             t.mouse_.setAlternateScrollMode(value);
             return true;
         },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.alternateScrollMode(); }},
        {1015,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::encoding(t, Encoding::urxvt, value); },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.mouseProtocol() == Encoding::urxvt; }},
        {1016,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) { return Steps::encoding(t, Encoding::sgrPixel, value); },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.mouseProtocol() == Encoding::sgrPixel; }},
        {1034, accepted, nullptr, Report::permanentlyReset}, // eight-bit input: ignored both ways
        {1045, KESTROVAN_STORED_MODE(TerminalMode::reverseWraparoundExtended)},
        // Alternate screen, cleared on leaving.
        {1047,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) {
                 if (value)
                     t.activateAltBuffer();
                 else
                     t.activateNormalBuffer(true);
                 Steps::finishBufferActivation(t);
                 return true;
             },
         nullptr, Report::notRecognized},
        // Save or restore the cursor.
        {1048,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) {
                 if (value)
                     t.cmdSaveCursor(CsiParameters::empty, {});
                 else
                     t.cmdRestoreCursor(CsiParameters::empty, {});
                 return true;
             },
         nullptr, Report::notRecognized},
        // The cursor is saved in the normal buffer's slot and restored from it after the switch
        // back; the alternate screen is cleared on leaving.
        {1049,
         [](Terminal& t, int, bool value)
             REQUIRES(t.terminalLock()) {
                 if (value) {
                     t.cmdSaveCursor(CsiParameters::empty, {});
                     t.activateAltBuffer();
                     Steps::finishBufferActivation(t);
                 } else {
                     t.activateNormalBuffer(true);
                     Steps::finishBufferActivation(t);
                     t.cmdRestoreCursor(CsiParameters::empty, {});
                 }
                 return true;
             },
         nullptr, Report::notRecognized},
        // Arrow keys follow the visual order in right-to-left paragraphs.
        {1243, KESTROVAN_STORED_MODE(TerminalMode::bidiArrowKeySwap), Report::fromValue, nullptr,
         Saving::initialWhenUnsaved,
         [](const TerminalOptions& options) { return options.initialBidiArrowKeySwap; }},
        // Bracketed paste
        {2004, KESTROVAN_STORED_MODE(TerminalMode::bracketedPasteMode), Report::fromValue, nullptr,
         Saving::offWhenUnsaved},
        // Synchronized output
        {2026,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             if (value)
                 t.beginSynchronizedOutput();
             else
                 t.endSynchronizedOutput();
             return true;
         },
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.synchronizedOutput_.active(); },
         Report::fromValue, nullptr, Saving::offWhenUnsaved},
        {2027, accepted, nullptr, Report::permanentlySet}, // grapheme clustering: always on
        // Colour-scheme change notifications
        {2031, KESTROVAN_STORED_MODE(TerminalMode::colorSchemeUpdatesEnabled), Report::fromValue, nullptr,
         Saving::offWhenUnsaved},
        // Visibility reports; the program starts from the current state.
        {2033,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             t.modes_.set(TerminalMode::visibilityReportsEnabled, value);
             if (value)
                 t.reportTerminalVisibility();
             return true;
         },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.modes_[TerminalMode::visibilityReportsEnabled]; },
         Report::fromValue, nullptr, Saving::offWhenUnsaved},
        // In-band size reports; the first one goes out at once.
        {2048,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             t.modes_.set(TerminalMode::inBandSizeReportsEnabled, value);
             if (value)
                 t.reportInBandSizeIfAvailable();
             return true;
         },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.modes_[TerminalMode::inBandSizeReportsEnabled]; },
         Report::fromValue, nullptr, Saving::offWhenUnsaved},
        // Bidi box mirroring
        {2500, bidiMode,
         [](const Terminal& t, int) REQUIRES(t.terminalLock()) { return t.modes_.bidiState().boxMirroring; },
         Report::fromValue, nullptr, Saving::initialWhenUnsaved,
         [](const TerminalOptions& options) { return options.initialBidiState.boxMirroring; }},
        // Bidi direction autodetection
        {2501, bidiMode,
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.modes_.bidiState().autodetectDirection; },
         Report::fromValue, nullptr, Saving::initialWhenUnsaved,
         [](const TerminalOptions& options) { return options.initialBidiState.autodetectDirection; }},
        // Kitty clipboard paste events; the host's clipboards may have changed meanwhile.
        {5522,
         [](Terminal& t, int, bool value) REQUIRES(t.terminalLock()) {
             // Refreshed first: a change of the host's clipboards switches the events off, and the
             // program's request made now must outlast that.
             if (value)
                 t.kittyClipboard().refreshCapabilities();
             t.modes_.set(TerminalMode::kittyPasteEventsEnabled, value);
             return true;
         },
         [](const Terminal& t, int)
             REQUIRES(t.terminalLock()) { return t.modes_[TerminalMode::kittyPasteEventsEnabled]; },
         Report::custom,
         // The paste events are only offered when both the policy and the host allow the clipboard.
         [](Terminal& t) REQUIRES(t.terminalLock()) {
             if (!t._options.kittyClipboardPolicy.contains(KittyClipboardPolicy::read |
                                                           KittyClipboardPolicy::write))
                 return ReportState::notRecognized;
             t.refreshKittyClipboardCapabilities();
             if (!t.kittyClipboard().capabilities().contains(KittyClipboardCapabilities::standard))
                 return ReportState::notRecognized;
             return setOrReset(t.modes_[TerminalMode::kittyPasteEventsEnabled]);
         },
         Saving::offWhenUnsaved},
    };
#undef KESTROVAN_STORED_MODE
    return table;
}

const DecPrivateModeTable::Row* DecPrivateModeTable::find(int mode)
{
    const std::span<const Row> all = rows();
    const auto found = std::lower_bound(all.begin(), all.end(), mode,
                                        [](const Row& row, int number) { return row.number < number; });
    return found != all.end() && found->number == mode ? &*found : nullptr;
}

bool DecPrivateModeTable::apply(Terminal& terminal, int mode, bool value)
{
    const Row* row = find(mode);
    return row && row->apply && row->apply(terminal, mode, value);
}

void DecPrivateModeTable::save(Terminal& terminal, int mode)
{
    const Row* row = find(mode);
    if (row && row->saving != Saving::none)
        terminal.savedPrivateModes_[mode] = row->read(terminal, mode);
}

void DecPrivateModeTable::restore(Terminal& terminal, int mode)
{
    const Row* row = find(mode);
    if (!row || row->saving == Saving::none)
        return;
    // A saved entry is not consumed: a program may restore the same state again.
    bool value = false;
    if (const auto saved = terminal.savedPrivateModes_.find(mode); saved != terminal.savedPrivateModes_.end())
        value = saved->second;
    else if (row->saving == Saving::onWhenUnsaved)
        value = true;
    else if (row->saving == Saving::initialWhenUnsaved)
        value = row->initialValue(terminal._options);
    row->apply(terminal, mode, value);
}

DecPrivateModeTable::ReportState DecPrivateModeTable::report(Terminal& terminal, int mode)
{
    const Row* row = find(mode);
    if (!row)
        return ReportState::notRecognized;
    switch (row->report) {
    case Report::fromValue:
        return setOrReset(row->read(terminal, mode));
    case Report::set:
        return ReportState::set;
    case Report::reset:
        return ReportState::reset;
    case Report::permanentlySet:
        return ReportState::permanentlySet;
    case Report::permanentlyReset:
        return ReportState::permanentlyReset;
    case Report::notRecognized:
        return ReportState::notRecognized;
    case Report::custom:
        return row->reportState(terminal);
    }
    return ReportState::notRecognized;
}

} // namespace kestrovan
