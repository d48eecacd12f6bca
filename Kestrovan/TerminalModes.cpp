// The terminal's modes: SM/RM, the DEC private modes, their save and restore, DECRQM and soft
// reset. The column-mode switch is in TerminalColumnSwitch.cpp, synchronized output and cursor
// visibility in TerminalSynchronizedOutput.cpp.
//
// Each DEC private mode is one row of DecPrivateModeTable.h, which set, reset, save, restore and
// DECRQM all go through. Every on/off mode is stored in the terminal's mode set (TerminalModeSet.h),
// which also keeps the screen buffers' copies of the modes they read.
#include "Kestrovan/DecPrivateModeTable.h"
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <string>

namespace kestrovan {

namespace {

using ReportState = Terminal::DECModeReportState;

ReportState setOrReset(bool value)
{
    return value ? ReportState::set : ReportState::reset;
}

} // namespace

// --- Mode switches with effects beyond the table --------------------------------------------------

/// DECSCNM: the whole screen changes colour, so only a real change is announced.
void Terminal::setReverseColors(bool value)
{
    if (modes_[TerminalMode::reverseColors] == value)
        return;
    modes_.set(TerminalMode::reverseColors, value);
    updateFullScreen();
    if (auto host = delegate())
        host->colorChanged(*this, std::nullopt);
}

/// BDSM (ANSI mode 8): whether the terminal runs the implicit bidi algorithm.
void Terminal::setBidiSupportMode(BidiSupportMode mode)
{
    BidiPresentationState state = modes_.bidiState();
    state.supportMode = mode;
    modes_.setBidiState(state);
    applyCurrentBidiStateAtParagraphStart(BidiStateProperty::supportMode);
    updateFullScreen();
}

/// What SM and RM share for one ANSI mode; false when the mode is not one of ours.
bool Terminal::applyAnsiMode(int mode, bool value)
{
    switch (mode) {
    case 2: // KAM
        modes_.set(TerminalMode::keyboardActionMode, value);
        return true;
    case 4: // IRM
        modes_.set(TerminalMode::insertMode, value);
        return true;
    case 8: // BDSM: implicit bidi when set; reset leaves the ordering to the program
        setBidiSupportMode(value ? BidiSupportMode::implicit : BidiSupportMode::explicit_);
        return true;
    case 12: // SRM
        modes_.set(TerminalMode::sendReceiveMode, value);
        return true;
    case 20: // LNM
        modes_.set(TerminalMode::lineFeedMode, value);
        return true;
    default:
        return false;
    }
}

// --- Set and reset ---------------------------------------------------------------------------------

void Terminal::cmdSetMode(const CsiParameters& pars, Collect collect)
{
    for (int64_t mode : pars)
        setMode(static_cast<int>(mode), collect);
}

void Terminal::cmdResetMode(const CsiParameters& pars, Collect collect)
{
    for (int64_t mode : pars)
        resetMode(static_cast<int>(mode), collect);
}

void Terminal::setMode(int mode, Collect collect)
{
    if (collect.empty()) {
        if (!applyAnsiMode(mode, true))
            logInfo("Unhandled verbatim setMode with " + std::to_string(mode) + " and " +
                    describeBytes(collect));
        return;
    }
    if (!collectIs(collect, "?")) {
        logInfo("Unhandled setMode (SM) with " + std::to_string(mode) + " and " + describeBytes(collect));
        return;
    }
    if (!DecPrivateModeTable::apply(*this, mode, true))
        logInfo("Unhandled DEC Private Mode Set (DECSET) with " + std::to_string(mode));
}

void Terminal::resetMode(int mode, Collect collect)
{
    // Unlike SM, RM passes over what it does not know in silence.
    if (collect.empty()) {
        applyAnsiMode(mode, false);
        return;
    }
    if (!collectIs(collect, "?"))
        return;
    if (!DecPrivateModeTable::apply(*this, mode, false))
        logInfo("Unhandled DEC Private Mode Reset (DECRST) with " + std::to_string(mode));
}

// --- Save and restore (XTSAVE, XTRESTORE) ------------------------------------------------------

void Terminal::cmdSavePrivateModes(const CsiParameters& pars)
{
    for (int64_t mode : pars)
        DecPrivateModeTable::save(*this, static_cast<int>(mode));
}

void Terminal::cmdRestorePrivateModes(const CsiParameters& pars)
{
    for (int64_t mode : pars)
        DecPrivateModeTable::restore(*this, static_cast<int>(mode));
}

// --- Final p: DECSTR, DECSCL, DECRQM -------------------------------------------------------------

void Terminal::csiPHandler(const CsiParameters& pars, Collect collect)
{
    if (collectIs(collect, "!"))
        cmdSoftReset();
    else if (collectIs(collect, "\""))
        cmdSetConformanceLevel(pars, collect);
    else if (collectIs(collect, "?$"))
        cmdDecRqm(pars, true);
    else if (collectIs(collect, "$"))
        cmdDecRqm(pars, false);
    else
        logInfo("Unhandled CSI " + describeBytes(collect) + " with pars=" + describeParameters(pars));
}

namespace {

/// The DECRQM answer for an ANSI mode. The modes this terminal cannot change (guarded area
/// transfer, vertical editing and the like) answer "permanently reset".
ReportState ansiModeReport(const Terminal& t, int mode) REQUIRES(t.terminalLock())
{
    switch (mode) {
    case 2:
        return setOrReset(t.mode(TerminalMode::keyboardActionMode));
    case 3: // CRM: control characters are acted on, never shown
        return ReportState::reset;
    case 4:
        return setOrReset(t.mode(TerminalMode::insertMode));
    case 8:
        return setOrReset(t.currentBidiState().supportMode == BidiSupportMode::implicit);
    case 12:
        return setOrReset(t.mode(TerminalMode::sendReceiveMode));
    case 20:
        return setOrReset(t.mode(TerminalMode::lineFeedMode));
    case 1:
    case 5:
    case 7:
    case 10:
    case 11:
        return ReportState::permanentlyReset;
    default:
        if (mode >= 13 && mode <= 19)
            return ReportState::permanentlyReset;
        return ReportState::notRecognized;
    }
}

} // namespace

void Terminal::cmdDecRqm(const CsiParameters& pars, bool decMode)
{
    // DECRQM arrived with the VT300 series.
    if (conformance_ < TerminalConformance::vt300)
        return;
    if (pars.count == 0) {
        sendResponse(cc_.CSI(), ";0$y");
        return;
    }
    const int mode = static_cast<int>(pars[0]);
    ReportState answer;
    if (decMode)
        answer = DecPrivateModeTable::report(*this, mode);
    else
        answer = ansiModeReport(*this, mode);
    const std::string body = std::string(decMode ? "?" : "") + std::to_string(mode) + ";" +
                             std::to_string(static_cast<int>(answer)) + "$y";
    sendResponse(cc_.CSI(), body);
}

// --- Soft reset (DECSTR) -------------------------------------------------------------------------

void Terminal::softReset()
{
    cmdSoftReset();
}

void Terminal::cmdSoftReset()
{
    // DECSTR puts back the modes a program may have left behind, but keeps the screen, the
    // scrollback, the tab stops and the size: unlike RIS it is safe to send at any time.
    modes_.setBidiState(_options.initialBidiState);
    applyCurrentBidiStateAtParagraphStart(BidiStateProperty::allBidiStateProperties);
    updateFullScreen();

    modes_.set(TerminalMode::bidiArrowKeySwap, _options.initialBidiArrowKeySwap);
    // Saved bidi modes would undo the reset on the next CSI ? r.
    for (int mode : {1243, 2500, 2501})
        savedPrivateModes_.erase(mode);

    // The cursor is shown again below, with one delegate call whatever its state was.
    modes_.set(TerminalMode::cursorHidden, false);
    modes_.set(TerminalMode::insertMode, false);
    modes_.set(TerminalMode::keyboardActionMode, false);
    modes_.set(TerminalMode::sendReceiveMode, true);
    modes_.set(TerminalMode::backarrowKeyMode, false);
    modes_.set(TerminalMode::originMode, false);
    modes_.set(TerminalMode::reverseWraparound, false);
    modes_.set(TerminalMode::reverseWraparoundExtended, false);
    modes_.set(TerminalMode::marginMode, false);
    modes_.set(TerminalMode::wraparound, true);
    modes_.set(TerminalMode::applicationKeypad, false);
    modes_.set(TerminalMode::applicationCursor, false);

    _buffer->setScrollTop(0);
    _buffer->setScrollBottom(_rows - 1);

    // Exactly SGR 0, erase attribute included, so the two can never disagree.
    static constexpr int64_t sgrReset = 0;
    cmdCsiM(CsiParameters(&sgrReset, 1), {});

    // With insert mode already off, this also unblocks the buffers' fast print paths.
    characterProtectionMode_ = CharacterProtectionMode::off;
    modes_.set(TerminalMode::characterProtection, false);

    _buffer->softReset();
    resetSemanticPromptState();

    // GL prints untranslated again; the designations stay for a later shift.
    charsets_.resetInvocation();
    conformance_ = TerminalConformance::vt500;
    activeHyperlink_.reset();
    modes_.set(TerminalMode::lineFeedMode, _options.convertEol);
    // Palette entries and default colours the program changed through OSC go back too.
    resetAllColors();

    if (auto host = delegate())
        host->showCursor(*this);
}

} // namespace kestrovan
