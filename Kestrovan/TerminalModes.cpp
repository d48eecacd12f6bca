// The terminal's modes: SM/RM, the DEC private modes, their save and restore, DECRQM, soft reset
// and the column-mode switch; and synchronized output (mode 2026) with cursor visibility.
//
// The DEC private modes come in two groups. The newer ones (`applyDECPrivateMode`) each have a
// readable value, so they can be saved with CSI ? s, restored with CSI ? r and reported from that
// value. The classic ones are switched in `setMode` / `resetMode` only; their reports come from a
// table of their own, and CSI ? s skips them. Every on/off mode is stored in the terminal's mode set
// (TerminalModeSet.h), which also keeps the screen buffers' copies of the modes they read.
#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <limits>
#include <string>

namespace kestrovan {

namespace {

using ReportState = Terminal::DECModeReportState;

ReportState setOrReset(bool value)
{
    return value ? ReportState::set : ReportState::reset;
}

/// The modes that only remember whether they are set, for DECRQM; they change nothing else.
constexpr std::array<int, 4> reportedOnlyDECModes{18, 19, 35, 42};

bool isReportedOnly(int mode)
{
    return std::find(reportedOnlyDECModes.begin(), reportedOnlyDECModes.end(), mode) !=
           reportedOnlyDECModes.end();
}

/// The modes CSI ? r restores: those of `applyDECPrivateMode` that carry a value.
constexpr std::array<int, 15> restorableDECModes{7,    67,   18,   19,   35,   42,   1243, 2004,
                                                 2026, 2031, 2033, 2048, 2500, 2501, 5522};

bool isRestorable(int mode)
{
    return std::find(restorableDECModes.begin(), restorableDECModes.end(), mode) != restorableDECModes.end();
}

/// After either screen became active (modes 47, 1047, 1049): redraw it all, show the cursor, and
/// tell the host.
void finishBufferActivation(Terminal& t)
{
    t.updateFullScreen();
    // A program that hid the cursor on one screen must not leave it hidden on the other.
    t.showCursor();
    if (auto host = t.delegate())
        host->bufferActivated(t);
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

/// What DECSET and DECRST do for the classic DEC modes; false when the mode is to be reported as
/// unhandled (some modes are handled one way only).
bool Terminal::applyClassicDECMode(int mode, bool value)
{
    using MouseMode = Terminal::MouseMode;
    using Encoding = Terminal::MouseProtocolEncoding;
    const auto mouse = [&](MouseMode on) { setMouseMode(value ? on : MouseMode::off); };
    const auto encoding = [&](Encoding on) { mouse_.setMouseProtocol(value ? on : Encoding::x10); };

    switch (mode) {
    case 1: // DECCKM
        modes_.set(TerminalMode::applicationCursor, value);
        return true;
    case 2: // DECANM: set puts the default sets back in every slot; VT52 mode is not offered
        if (!value)
            return false;
        for (uint8_t slot = 0; slot < 4; ++slot)
            setgCharset(slot, nullptr);
        return true;
    case 3: // DECCOLM
        changeColumnMode(value ? 132 : 80);
        return true;
    case 4: // DECSCLM
        modes_.set(TerminalMode::smoothScroll, value);
        return true;
    case 5: // DECSCNM
        setReverseColors(value);
        return true;
    case 6: // DECOM
        modes_.set(TerminalMode::originMode, value);
        return true;
    case 9: // X10 mouse
        mouse(MouseMode::x10);
        return true;
    case 12: // cursor blink
        modes_.set(TerminalMode::cursorBlink, value);
        return true;
    case 25: // DECTCEM
        if (value)
            showCursor();
        else
            hideCursor();
        return true;
    case 40: // allow DECCOLM
        modes_.set(TerminalMode::allow80To132, value);
        return true;
    case 41: // more(1) fix: not offered, but turning it off is no news
        return !value;
    case 45: // reverse wraparound
        modes_.set(TerminalMode::reverseWraparound, value);
        return true;
    case 47: // alternate screen; leaving it keeps what was drawn there
        if (value)
            activateAltBuffer(std::nullopt);
        else
            activateNormalBuffer(false);
        finishBufferActivation(*this);
        return true;
    case 63: // DECRLM: ignored on, reported when turned off
        return value;
    case 66: // DECNKM
        modes_.set(TerminalMode::applicationKeypad, value);
        return true;
    case 69: // DECLRMM, a VT400 feature
        if (!value) {
            modes_.set(TerminalMode::marginMode, false);
            buffer().setMarginLeft(0);
            buffer().setMarginRight(cols() - 1);
        } else if (conformance_ >= Terminal::TerminalConformance::vt400) {
            modes_.set(TerminalMode::marginMode, true);
        }
        return true;
    case 95: // DECNCSM
        modes_.set(TerminalMode::noClearOnColumnChange, value);
        return true;
    case 1000:
        mouse(MouseMode::vt200);
        return true;
    case 1002:
        mouse(MouseMode::buttonEventTracking);
        return true;
    case 1003:
        mouse(MouseMode::anyEvent);
        return true;
    case 1004: // focus events; the program learns the current focus at once
        modes_.set(TerminalMode::sendFocus, value);
        if (value)
            sendFocusReport();
        return true;
    case 1005:
        encoding(Encoding::utf8);
        return true;
    case 1006:
        encoding(Encoding::sgr);
        return true;
    case 1007: // alternate scroll
        mouse_.setAlternateScrollMode(value);
        return true;
    case 1015:
        encoding(Encoding::urxvt);
        return true;
    case 1016:
        encoding(Encoding::sgrPixel);
        return true;
    case 1034: // eight-bit input: ignored both ways
        return true;
    case 1045: // extended reverse wraparound
        modes_.set(TerminalMode::reverseWraparoundExtended, value);
        return true;
    case 1047: // alternate screen, cleared on leaving
        if (value)
            activateAltBuffer(std::nullopt);
        else
            activateNormalBuffer(true);
        finishBufferActivation(*this);
        return true;
    case 1048: // save or restore the cursor
        if (value)
            cmdSaveCursor(CsiParameters::empty, {});
        else
            cmdRestoreCursor(CsiParameters::empty, {});
        return true;
    case 1049:
        // The cursor is saved in the normal buffer's slot and restored from it after the switch
        // back; the alternate screen is cleared on leaving.
        if (value) {
            cmdSaveCursor(CsiParameters::empty, {});
            activateAltBuffer(std::nullopt);
            finishBufferActivation(*this);
        } else {
            activateNormalBuffer(true);
            finishBufferActivation(*this);
            cmdRestoreCursor(CsiParameters::empty, {});
        }
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
    if (!applyDECPrivateMode(mode, true) && !applyClassicDECMode(mode, true))
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
    if (!applyDECPrivateMode(mode, false) && !applyClassicDECMode(mode, false))
        logInfo("Unhandled DEC Private Mode Reset (DECRST) with " + std::to_string(mode));
}

// --- The DEC private modes with a value ---------------------------------------------------------

bool Terminal::applyDECPrivateMode(int mode, bool value)
{
    if (isReportedOnly(mode)) {
        if (value)
            reportedOnly_.decModes.insert(mode);
        else
            reportedOnly_.decModes.erase(mode);
        return true;
    }
    switch (mode) {
    case 7: // DECAWM
        modes_.set(TerminalMode::wraparound, value);
        return true;
    case 60:   // DECHCCM, horizontal cursor coupling: always off here
    case 117:  // DECECM, erase colour: always off here
    case 2027: // grapheme clustering: always on here
        // Accepted so that programs probing them get no "unhandled" noise; they hold nothing.
        return true;
    case 67: // DECBKM
        modes_.set(TerminalMode::backarrowKeyMode, value);
        return true;
    case 1243: // arrow keys follow the visual order in right-to-left paragraphs
        modes_.set(TerminalMode::bidiArrowKeySwap, value);
        return true;
    case 2004: // bracketed paste
        modes_.set(TerminalMode::bracketedPasteMode, value);
        return true;
    case 2026: // synchronized output
        if (value)
            beginSynchronizedOutput();
        else
            endSynchronizedOutput();
        return true;
    case 2031: // colour-scheme change notifications
        modes_.set(TerminalMode::colorSchemeUpdatesEnabled, value);
        return true;
    case 2033: // visibility reports; the program starts from the current state
        modes_.set(TerminalMode::visibilityReportsEnabled, value);
        if (value)
            reportTerminalVisibility();
        return true;
    case 2048: // in-band size reports; the first one goes out at once
        modes_.set(TerminalMode::inBandSizeReportsEnabled, value);
        if (value)
            reportInBandSizeIfAvailable();
        return true;
    case 2500:   // bidi box mirroring
    case 2501: { // bidi direction autodetection
        // New lines take the buffers' defaults; the paragraph under the cursor takes the state
        // only if nothing has been written into it yet.
        const BidiStateProperty property =
            mode == 2500 ? BidiStateProperty::boxMirroring : BidiStateProperty::autodetectDirection;
        BidiPresentationState state = modes_.bidiState();
        if (mode == 2500)
            state.boxMirroring = value;
        else
            state.autodetectDirection = value;
        modes_.setBidiState(state);
        applyCurrentBidiStateAtParagraphStart(property);
        updateFullScreen();
        return true;
    }
    case 5522: // kitty clipboard paste events; the host's clipboards may have changed meanwhile
        // Refreshed first: a change of the host's clipboards switches the events off, and the
        // program's request made now must outlast that.
        if (value)
            kittyClipboard().refreshCapabilities();
        modes_.set(TerminalMode::kittyPasteEventsEnabled, value);
        return true;
    default:
        return false;
    }
}

std::optional<bool> Terminal::readDECPrivateMode(int mode) const
{
    if (isReportedOnly(mode))
        return reportedOnly_.decModes.count(mode) != 0;
    switch (mode) {
    case 7:
        return modes_[TerminalMode::wraparound];
    case 67:
        return modes_[TerminalMode::backarrowKeyMode];
    case 1243:
        return modes_[TerminalMode::bidiArrowKeySwap];
    case 2004:
        return modes_[TerminalMode::bracketedPasteMode];
    case 2026:
        return synchronizedOutputActive_;
    case 2031:
        return modes_[TerminalMode::colorSchemeUpdatesEnabled];
    case 2033:
        return modes_[TerminalMode::visibilityReportsEnabled];
    case 2048:
        return modes_[TerminalMode::inBandSizeReportsEnabled];
    case 2500:
        return modes_.bidiState().boxMirroring;
    case 2501:
        return modes_.bidiState().autodetectDirection;
    case 5522:
        return modes_[TerminalMode::kittyPasteEventsEnabled];
    default:
        // 60, 117 and 2027 are accepted but hold nothing.
        return std::nullopt;
    }
}

std::optional<Terminal::DECModeReportState> Terminal::decPrivateModeReportState(int mode)
{
    switch (mode) {
    case 2027:
        return ReportState::permanentlySet;
    case 60:
    case 117:
        return ReportState::permanentlyReset;
    case 5522: {
        // The paste events are only offered when both the policy and the host allow the clipboard.
        if (!_options.kittyClipboardPolicy.contains(KittyClipboardPolicy::read | KittyClipboardPolicy::write))
            return ReportState::notRecognized;
        refreshKittyClipboardCapabilities();
        if (!kittyClipboard().capabilities().contains(KittyClipboardCapabilities::standard))
            return ReportState::notRecognized;
        return setOrReset(modes_[TerminalMode::kittyPasteEventsEnabled]);
    }
    default:
        if (const std::optional<bool> value = readDECPrivateMode(mode))
            return setOrReset(*value);
        return std::nullopt;
    }
}

// --- Save and restore (XTSAVE, XTRESTORE) ------------------------------------------------------

void Terminal::cmdSavePrivateModes(const CsiParameters& pars)
{
    for (int64_t mode : pars) {
        if (const std::optional<bool> value = readDECPrivateMode(static_cast<int>(mode)))
            savedPrivateModes_[static_cast<int>(mode)] = *value;
    }
}

void Terminal::cmdRestorePrivateModes(const CsiParameters& pars)
{
    for (int64_t raw : pars) {
        const int mode = static_cast<int>(raw);
        if (!isRestorable(mode))
            continue;
        // A saved entry is not consumed: a program may restore the same state again.
        bool value = false;
        if (const auto saved = savedPrivateModes_.find(mode); saved != savedPrivateModes_.end()) {
            value = saved->second;
        } else {
            // Nothing saved: the mode goes back to its power-on value.
            switch (mode) {
            case 7:
                value = true;
                break;
            case 1243:
                value = _options.initialBidiArrowKeySwap;
                break;
            case 2500:
                value = _options.initialBidiState.boxMirroring;
                break;
            case 2501:
                value = _options.initialBidiState.autodetectDirection;
                break;
            default:
                value = false;
                break;
            }
        }
        applyDECPrivateMode(mode, value);
    }
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
ReportState ansiModeReport(const Terminal& t, int mode)
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

/// The report of a classic DEC mode, or nothing when the mode is not one of them.
std::optional<ReportState> classicDECModeReport(Terminal& t, int mode)
{
    using MouseMode = Terminal::MouseMode;
    using Encoding = Terminal::MouseProtocolEncoding;
    switch (mode) {
    case 1:
        return setOrReset(t.mode(TerminalMode::applicationCursor));
    case 2: // ANSI mode, never VT52
    case 8: // auto-repeat belongs to the host's keyboard
        return ReportState::set;
    case 3: // the grid's width tells, whoever resized it last
        return setOrReset(t.buffer().cols() == 132);
    case 4:
        return setOrReset(t.mode(TerminalMode::smoothScroll));
    case 5:
        return setOrReset(t.mode(TerminalMode::reverseColors));
    case 6:
        return setOrReset(t.mode(TerminalMode::originMode));
    case 9:
        return setOrReset(t.mouseMode() == MouseMode::x10);
    case 10:   // rxvt toolbar
    case 44:   // margin bell
    case 46:   // logging
    case 80:   // sixel scrolling
    case 1034: // eight-bit meta
        return ReportState::permanentlyReset;
    case 12:
        return setOrReset(t.mode(TerminalMode::cursorBlink));
    case 13:   // blinking cursor (the att610 form)
    case 14:   // XOR of the blink modes
    case 30:   // scroll bar
    case 41:   // more(1) fix
    case 1001: // highlight mouse tracking
        return ReportState::reset;
    case 25:
        return setOrReset(!t.mode(TerminalMode::cursorHidden));
    case 40:
        return setOrReset(t.mode(TerminalMode::allow80To132));
    case 45:
        return setOrReset(t.mode(TerminalMode::reverseWraparound));
    case 47:
        return setOrReset(t.isCurrentBufferAlternate());
    case 63: // DECRLM
    case 1047:
    case 1048:
    case 1049:
        // The screen switches and the cursor save are actions rather than states to report.
        return ReportState::notRecognized;
    case 66:
        return setOrReset(t.mode(TerminalMode::applicationKeypad));
    case 69:
        return setOrReset(t.mode(TerminalMode::marginMode));
    case 95:
        return setOrReset(t.mode(TerminalMode::noClearOnColumnChange));
    case 1000:
        return setOrReset(t.mouseMode() == MouseMode::vt200);
    case 1002:
        return setOrReset(t.mouseMode() == MouseMode::buttonEventTracking);
    case 1003:
        return setOrReset(t.mouseMode() == MouseMode::anyEvent);
    case 1004:
        return setOrReset(t.mode(TerminalMode::sendFocus));
    case 1005:
        return setOrReset(t.mouseProtocol() == Encoding::utf8);
    case 1006:
        return setOrReset(t.mouseProtocol() == Encoding::sgr);
    case 1007:
        return setOrReset(t.alternateScrollMode());
    case 1015:
        return setOrReset(t.mouseProtocol() == Encoding::urxvt);
    case 1016:
        return setOrReset(t.mouseProtocol() == Encoding::sgrPixel);
    case 1045:
        return setOrReset(t.mode(TerminalMode::reverseWraparoundExtended));
    default:
        return std::nullopt;
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
    if (decMode) {
        // The classic modes have their own table; the rest answer from their values.
        std::optional<ReportState> known = classicDECModeReport(*this, mode);
        if (!known)
            known = decPrivateModeReportState(mode);
        answer = known.value_or(ReportState::notRecognized);
    } else {
        answer = ansiModeReport(*this, mode);
    }
    const std::string body = std::string(decMode ? "?" : "") + std::to_string(mode) + ";" +
                             std::to_string(static_cast<int>(answer)) + "$y";
    sendResponse(cc_.CSI(), body);
}

// --- Soft reset (DECSTR) -------------------------------------------------------------------------

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
    resetSemanticPromptState(true);

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

// --- Column mode (DECCOLM) -----------------------------------------------------------------------

void Terminal::changeColumnMode(int columns)
{
    // Programs switch to 132 columns freely; only a host that allowed it (mode 40) follows.
    if (!modes_[TerminalMode::allow80To132])
        return;
    // The normal buffer's scrollback may wait for its reflow (see `ColumnSwitchRun`) when the
    // screen, blanked or kept (DECNCSM), takes no part in the reflow. A switch to the width the
    // grid has already resizes nothing and keeps any run going, and one made on the alternate
    // screen leaves the normal buffer as it is until it returns.
    const bool keepsScreen =
        modes_[TerminalMode::noClearOnColumnChange] && conformance_ == TerminalConformance::vt500;
    Buffer& normal = *normalBuffer_;
    const int target = std::max(columns, MINIMUM_COLS);
    const bool deferScrollback = target != _cols && _buffer == normalBuffer_ && normal.cols() == _cols &&
                                 normal.rows() == _rows && normal.canDeferColumnSwitch(target);
    keepNormalBufferInResize_ = deferScrollback || target == _cols || _buffer != normalBuffer_;
    resize(columns, _rows);
    keepNormalBufferInResize_ = false;
    if (deferScrollback && normal.cols() != _cols)
        resizeNormalBufferDeferringScrollback(_cols);

    // The grid's own width from here on: the resize may have clamped or refused the request.
    const int width = _cols;
    modes_.set(TerminalMode::marginMode, false);
    Buffer& alternate = *altBuffer_;
    alternate.setScrollTop(0);
    alternate.setScrollBottom(alternate.rows() - 1);
    alternate.setMarginLeft(0);
    alternate.setMarginRight(alternate.cols() - 1);
    switchNormalBufferColumns();
    if (_buffer == altBuffer_) {
        _buffer->setX(0);
        _buffer->setY(0);
        // DECNCSM keeps the screen, but only on a terminal that claims to know it.
        if (!keepsScreen) {
            for (int row = 0; row < _rows; ++row) {
                const int index = alternate.yBase() + row;
                if (index >= alternate.lines().count())
                    break;
                // Indexing the ring creates a missing line.
                alternate.lines()[index]->resize(width, currentEraseBlankCell());
                resetBufferLine(row, true, modes_.bidiState());
            }
        }
    }
    if (!keepsScreen)
        clearKittyImagesOnScreen();

    updateFullScreen();
    if (auto host = delegate())
        host->sizeChanged(*this);
}

void Terminal::switchNormalBufferColumns()
{
    Buffer& normal = *normalBuffer_;
    // A normal buffer waiting behind the alternate screen keeps its old size until it returns,
    // and is resized (region and margins included) only if that differs.
    if (_buffer == normalBuffer_ && (normal.cols() != _cols || normal.rows() != _rows))
        resizeNormalBufferKeepingSavedRow(_cols, _rows);
    normal.setScrollTop(0);
    normal.setScrollBottom(normal.rows() - 1);
    normal.setMarginLeft(0);
    normal.setMarginRight(normal.cols() - 1);
    if (_buffer != normalBuffer_)
        return;
    normal.setX(0);
    normal.setY(0);
    if (modes_[TerminalMode::noClearOnColumnChange] && conformance_ == TerminalConformance::vt500)
        return;
    for (int row = 0; row < _rows; ++row) {
        const int index = normal.yBase() + row;
        if (index >= normal.lines().count())
            break;
        // Indexing the ring creates a missing line.
        normal.lines()[index]->resize(_cols, currentEraseBlankCell());
        resetBufferLine(row, true, modes_.bidiState());
    }
}

void Terminal::finishColumnSwitchRun()
{
    // The screen stays as it is, and the rows marked changed during the run were marked by the
    // rows the reflow leaves (`Buffer::settledYDisp`), as switches made one by one mark them.
    columnSwitchRun_ = ColumnSwitchRun::none;
    normalBuffer_->reflowPendingScrollback();
}

bool Terminal::keepsColumnSwitchRun(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect)
{
    // SGR, and the cursor moves that stay on the screen: CUU, CUD, CUF, CUB, CHA, HPA, VPA,
    // CUP and HVP.
    switch (code) {
    case 'm':
    case 'A':
    case 'B':
    case 'C':
    case 'D':
    case 'G':
    case '`':
    case 'd':
    case 'H':
    case 'f':
        return collect.empty();
    default:
        break;
    }
    if ((code != 'h' && code != 'l') || collect.size() != 1 || collect[0] != '?')
        return false;
    for (int index = 0; index < pars.count; ++index) {
        if (pars.base[index] != 3)
            return false;
    }
    return true;
}

bool Terminal::printMayScroll(size_t bytes) const
{
    // Every cell takes at least one byte, so the bytes bound the rows the text can wrap over.
    const Buffer& active = *_buffer;
    if (_buffer != normalBuffer_)
        return true;
    if (!active.wraparound())
        return false;
    const int64_t columns = int64_t(active.columnAfterPrinted()) +
                            int64_t(std::min<size_t>(bytes, size_t(std::numeric_limits<int32_t>::max())));
    return active.y() + columns / active.cols() >= active.scrollBottom();
}

bool Terminal::executeKeepsColumnSwitchRun(uint8_t code) const
{
    const Buffer& active = *_buffer;
    switch (code) {
    case 0x08: // BS: a reverse wrap may step onto the row above
        return !modes_[TerminalMode::reverseWraparound] && !modes_[TerminalMode::reverseWraparoundExtended];
    case 0x09: // HT
    case 0x0D: // CR
    case 0x0E: // SO
    case 0x0F: // SI
    case 0x88: // HTS
        return true;
    case 0x0A: // LF, VT, FF, IND and NEL scroll only on the region's last row.
    case 0x0B:
    case 0x0C:
    case 0x84:
    case 0x85:
        return _buffer == normalBuffer_ && active.y() < active.scrollBottom();
    default:
        return false;
    }
}

// --- Synchronized output -------------------------------------------------------------------------

void Terminal::beginSynchronizedOutput()
{
    const bool wasActive = synchronizedOutputActive_;
    synchronizedOutputActive_ = true;
    // A begin while active starts a new update: the watchdog is re-armed for a full time-out.
    ++synchronizedOutputGeneration_;
    synchronizedOutputWatchdogDirty_ = true;
    if (!wasActive) {
        if (auto host = delegate())
            host->synchronizedOutputChanged(*this, true);
    }
    // Inside a feed the watchdog is armed once, when the outermost feed ends.
    if (parseDepth_ == 0 && synchronizedOutputWatchdogDirty_) {
        synchronizedOutputWatchdogDirty_ = false;
        applySynchronizedOutputWatchdog(synchronizedOutputActive_, synchronizedOutputGeneration_);
    }
}

void Terminal::endSynchronizedOutput()
{
    if (!synchronizedOutputActive_)
        return;
    synchronizedOutputActive_ = false;
    synchronizedOutputWatchdogDirty_ = true;
    // The frame held back is repainted whole.
    refresh(0, _rows - 1);
    if (auto host = delegate())
        host->synchronizedOutputChanged(*this, false);
    if (parseDepth_ == 0 && synchronizedOutputWatchdogDirty_) {
        synchronizedOutputWatchdogDirty_ = false;
        applySynchronizedOutputWatchdog(false, synchronizedOutputGeneration_);
    }
}

void Terminal::applySynchronizedOutputWatchdog(bool active, uint64_t generation)
{
    if (!active) {
        if (synchronizedOutputTimeoutItem_) {
            synchronizedOutputTimeoutItem_->cancel();
            synchronizedOutputTimeoutItem_.reset();
            ++synchronizedOutputWatchdogCounters_.cancelled;
        }
        return;
    }
    if (synchronizedOutputTimeoutItem_) {
        synchronizedOutputTimeoutItem_->cancel();
        ++synchronizedOutputWatchdogCounters_.rearmed;
    } else {
        ++synchronizedOutputWatchdogCounters_.armed;
    }
    // A time-out that is not positive (or not a number) fires at once; a huge one waits a day.
    const double seconds =
        synchronizedOutputTimeoutSeconds_ > 0 ? std::min(synchronizedOutputTimeoutSeconds_, 86400.0) : 0.0;
    const auto delay = std::chrono::duration_cast<platform::TimerQueue::Clock::duration>(
        std::chrono::duration<double>(seconds));
    // The item holds the terminal weakly: a terminal that has gone is not woken.
    std::weak_ptr<Terminal> weakSelf = weak_from_this();
    synchronizedOutputTimeoutItem_ =
        IOTimerQueue::shared().schedule(platform::TimerQueue::Clock::now() + delay, [weakSelf, generation] {
            const std::shared_ptr<Terminal> self = weakSelf.lock();
            if (!self)
                return;
            self->terminalLock().withLock([&] { self->synchronizedOutputWatchdogFired(generation); });
        });
}

void Terminal::synchronizedOutputWatchdogFired(uint64_t generation)
{
    // A late firing for an update that ended, or that a later begin re-armed, is harmless.
    if (!synchronizedOutputActive_ || generation != synchronizedOutputGeneration_)
        return;
    ++synchronizedOutputWatchdogCounters_.fired;
    synchronizedOutputTimeoutItem_.reset();
    endSynchronizedOutput();
}

// --- Cursor visibility ---------------------------------------------------------------------------

void Terminal::showCursor()
{
    if (!modes_[TerminalMode::cursorHidden])
        return;
    modes_.set(TerminalMode::cursorHidden, false);
    if (auto host = delegate())
        host->showCursor(*this);
}

void Terminal::hideCursor()
{
    if (modes_[TerminalMode::cursorHidden])
        return;
    modes_.set(TerminalMode::cursorHidden, true);
    if (auto host = delegate())
        host->hideCursor(*this);
}

} // namespace kestrovan
