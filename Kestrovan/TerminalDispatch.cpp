// Routing of complete control functions to the terminal's handlers.
//
// The parser hands over C0/C1 controls, ESC, CSI, OSC and APC sequences and asks for DCS handlers;
// each is a direct switch on the final byte, the control code, the OSC number or the command byte.
// Unknown sequences are reported as one "Info: ..." line on standard output unless `silentLog` is
// set, and otherwise ignored. The handlers live in the family files named in Terminal.h; the OSC
// titles, being two lines each, are here.
#include "Kestrovan/BufferAsciiRun.h"
#include "Kestrovan/CharSets.h"
#include "Kestrovan/EscapeSequenceParserLoop.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/SequenceDescription.h"
#include "Kestrovan/SixelDcsHandler.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <type_traits>

namespace kestrovan {

namespace {

/// The first parameter, or `fallback` when the sequence carries none.
int64_t firstParameter(const CsiParameters& pars, int64_t fallback)
{
    return pars.count > 0 ? pars[0] : fallback;
}

std::string printableCharacter(uint8_t byte)
{
    if (byte >= 0x20 && byte < 0x7F)
        return std::string(1, static_cast<char>(byte));
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    return hex;
}

/// The length of the UTF-8 sequence a lead byte starts, or 0 for a byte no sequence starts with.
size_t utf8SequenceLength(uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

std::string titleText(std::span<const uint8_t> data)
{
    // A title must not carry a control to the window system. The parser drops the C0 controls from
    // the payload already; DEL and the C1 controls go here, both as characters (U+0080 to U+009F)
    // and as raw bytes 0x80 to 0x9F that no UTF-8 sequence takes in. What is left must be valid
    // UTF-8, else the title is the empty text.
    std::string text;
    text.reserve(data.size());
    size_t index = 0;
    while (index < data.size()) {
        const uint8_t lead = data[index];
        const size_t length = utf8SequenceLength(lead);
        if (length == 0) {
            if (lead >= 0x80 && lead <= 0x9F) {
                ++index;
                continue;
            }
            return std::string();
        }
        if (data.size() - index < length || !isValidUtf8(data.subspan(index, length)))
            return std::string();
        // U+0080 to U+009F are the two-byte sequences C2 80 to C2 9F.
        const bool control = lead == 0x7F || (lead == 0xC2 && data[index + 1] <= 0x9F);
        if (!control)
            text.append(reinterpret_cast<const char*>(data.data() + index), length);
        index += length;
    }
    return text;
}

} // namespace

// The terminal's own parse loop: the handlers below are called from it directly.
template void EscapeSequenceParser::parseBorrowedDirect<Terminal>(std::span<const uint8_t>, Terminal&);

// --- Print ---------------------------------------------------------------------------------------

// Every handler below first ends a watched run of column-mode switches (`ColumnSwitchRun`), so
// that a deferred reflow of the normal buffer's scrollback is made before a line scrolls into it;
// printing, the cursor controls and SGR end it only when they could scroll. A run nobody watches
// goes on through any output: what reaches the scrollback rows ends it itself.

void Terminal::handlePrintBorrowed(std::span<const uint8_t> bytes)
{
    endColumnSwitchRunBeforePrint(bytes.size());
    handlePrintBorrowed(bytes, *_buffer);
}

// Most runs fit on the cursor's row with nothing in the way: written there, they mark only that
// row changed, without a call into the buffer. (Inlined into the parse loop itself, this would
// crowd the loop's registers and slow every other road.)
void Terminal::handlePrintableAsciiBorrowed(std::span<const uint8_t> bytes)
{
    Buffer& buffer = *_buffer;
    if (asciiRunsMayTakeCursorRow() && buffer.placeAsciiRunOnCursorRow(bytes, curStyleID_, 0)) [[likely]] {
        updateRange(buffer.y());
        return;
    }
    printAsciiRunAnyRoad(bytes);
}

// A field a full-screen program draws: the cursor moved, the text, and mostly the rest of the
// line erased. The move marks the row it reaches changed; when the text fits on that row, neither
// the text nor the erase leaves it, so they need no marks of their own.
void Terminal::placeAsciiAtCursorPosition(const CsiParameters& pars, std::span<const uint8_t> text,
                                          TextThen then)
{
    Buffer& buffer = *_buffer;
    // Outside origin mode the position is the parameters clamped to the screen, and the buffer
    // takes the three in one step when nothing on the row is in the way. The step is made in two
    // forms, with and without the erase, so that neither tests whether to erase at each stage: a
    // redraw erases after nearly every field, a pager's text inside a region after none.
    const auto placeInOneStep = [&](auto eraseTag) __attribute__((always_inline))->bool
    {
        // Called right here, under the lock this function holds.
        terminalLock_.assumeHeldByCaller();
        constexpr bool erase = decltype(eraseTag)::value;
        if (!asciiRunsMayTakeCursorRow() || modes_[TerminalMode::originMode] ||
            (erase && characterProtectionMode_ == CharacterProtectionMode::iso) ||
            !buffer.asciiFieldsMayBeStored()) [[unlikely]]
            return false;
        const int64_t rowParameter = pars.count > 0 ? pars.base[0] : 1;
        const int64_t colParameter = pars.count > 1 ? pars.base[1] : 1;
        const int row = static_cast<int>(std::min<int64_t>(std::max<int64_t>(rowParameter, 1), _rows) - 1);
        const int col = static_cast<int>(std::min<int64_t>(std::max<int64_t>(colParameter, 1), _cols) - 1);
        const int oldY = buffer.y();
        if (!buffer.storeAsciiField(col, row, text, buffer.asciiCellTemplate(curStyleID_, 0), erase,
                                    erase ? currentEraseBlankCell() : PackedCell())) [[unlikely]]
            return false;
        buffer.placeCursorAfterField(row, col + static_cast<int>(text.size()));
        updateRanges(oldY, row);
        return true;
    };
    if (then == TextThen::eraseToEndOfLine ? placeInOneStep(std::true_type())
                                           : placeInOneStep(std::false_type())) [[likely]]
        return;
    placeAsciiAtCursorPositionAnyRoad(pars, text, then);
}

// Fields a full-screen program draws: each the cursor moved, the text, and mostly the rest of
// the line erased. A redraw sends them one after another, and nothing a field does changes the
// modes, the look or the scrollback, so a run of them is checked once: outside origin mode the
// position is the parameters clamped to the screen, and the buffer stores each field's cells
// when nothing on its row is in the way. The cursor is moved once, after the run's last field;
// every move marks the row it leaves and the row it reaches, so the run marks the range from the
// cursor's first row over every field's row, which is the same when the view is not above the
// screen's top (rows marked are counted from it).
inline Terminal::AsciiFieldRun Terminal::beginAsciiFieldRun()
{
    Buffer& buffer = *_buffer;
    AsciiFieldRun run;
    run.oneStep = asciiRunsMayTakeCursorRow() && !modes_[TerminalMode::originMode] &&
                  characterProtectionMode_ != CharacterProtectionMode::iso &&
                  buffer.asciiFieldsMayBeStored() && buffer.settledYDisp() >= 0;
    run.cellTemplate = buffer.asciiCellTemplate(curStyleID_, 0);
    run.lowRow = buffer.y();
    run.highRow = buffer.y();
    return run;
}

[[gnu::always_inline]] inline void Terminal::placeAsciiFieldInRun(AsciiFieldRun& run, int64_t rowParameter,
                                                                  int64_t colParameter, int count,
                                                                  std::span<const uint8_t> text,
                                                                  TextThen then)
{
    const bool erase = then == TextThen::eraseToEndOfLine;
    const int row = static_cast<int>(std::min<int64_t>(std::max<int64_t>(rowParameter, 1), _rows) - 1);
    const int col =
        count > 1 ? static_cast<int>(std::min<int64_t>(std::max<int64_t>(colParameter, 1), _cols) - 1) : 0;
    if (run.oneStep && _buffer->storeAsciiField(col, row, text, run.cellTemplate, erase,
                                                erase ? currentEraseBlankCell() : PackedCell())) [[likely]] {
        run.lowRow = std::min(run.lowRow, row);
        run.highRow = std::max(run.highRow, row);
        run.cursorRow = row;
        run.cursorEnd = col + static_cast<int>(text.size());
        return;
    }
    run = placeAsciiFieldAnyRoad(run, rowParameter, colParameter, count, text, then);
}

inline void Terminal::endAsciiFieldRun(const AsciiFieldRun& run)
{
    if (run.cursorRow < 0)
        return;
    _buffer->placeCursorAfterField(run.cursorRow, run.cursorEnd);
    updateRanges(run.lowRow, run.highRow);
}

Terminal::AsciiFieldRun Terminal::placeAsciiFieldAnyRoad(const AsciiFieldRun& run, int64_t row, int64_t col,
                                                         int count, std::span<const uint8_t> text,
                                                         TextThen then)
{
    endAsciiFieldRun(run);
    const int64_t values[2] = {row, col};
    placeAsciiAtCursorPositionAnyRoad(CsiParameters(values, count), text, then);
    return beginAsciiFieldRun();
}

void Terminal::placeAsciiAtCursorPositionAnyRoad(const CsiParameters& pars, std::span<const uint8_t> text,
                                                 TextThen then)
{
    dispatchCursorPosition(pars);
    Buffer& buffer = *_buffer;
    if (!asciiRunsMayTakeCursorRow() || !buffer.placeAsciiRunOnCursorRow(text, curStyleID_, 0)) [[unlikely]] {
        printAsciiRunAnyRoad(text);
        if (then == TextThen::eraseToEndOfLine)
            eraseToEndOfLine();
        return;
    }
    if (then != TextThen::eraseToEndOfLine)
        return;
    BufferLine& line = *buffer.lines()[buffer.yBase() + buffer.y()];
    // The run left the cursor after its last cell, which is no wide character's half, and did
    // not stop before one (the run's road refuses that), so the erase cuts no wide character.
    // A pending wrap (the run reached the right edge) keeps the cursor on the run's last cell,
    // and a protected or overlong line needs the erase's own checks: those take its whole road.
    if (buffer.wrapPending() || characterProtectionMode_ == CharacterProtectionMode::iso ||
        line.count() > _cols) [[unlikely]] {
        eraseToEndOfLine();
        return;
    }
    line.eraseToEnd(buffer.x(), currentEraseBlankCell());
}

void Terminal::printAsciiRunAnyRoad(std::span<const uint8_t> bytes)
{
    endColumnSwitchRunBeforePrint(bytes.size());
    // A translating set or a pending sequence needs every byte looked at all the same.
    if (charsets_.charset() || !readingBuffer_.putbackBuffer.empty()) [[unlikely]] {
        handlePrintBorrowed(bytes, *_buffer);
        return;
    }
    printAsciiRun(bytes, bytes.size(), *_buffer);
}

// --- Execute -------------------------------------------------------------------------------------

void Terminal::dispatchExecute(uint8_t code)
{
    endColumnSwitchRunBeforeExecute(code);
    Buffer& active = *_buffer;
    switch (code) {
    case 0x07: // BEL
        if (auto host = delegate())
            host->bell(*this);
        return;
    case 0x08: // BS
        cmdBackspace();
        return;
    case 0x09: { // HT: like CHT and CBT it keeps a pending wrap, as xterm does
        const int stop = active.nextTabStop(modes_[TerminalMode::marginMode]);
        const bool wrapPending = active.wrapPending();
        if (stop >= 0)
            active.setX(stop);
        active.setWrapPending(wrapPending);
        return;
    }
    case 0x0A: // LF
    case 0x0B: // VT
    case 0x0C: // FF
        cmdLineFeedBasic(active);
        return;
    case 0x0D: // CR
        cmdCarriageReturn();
        return;
    case 0x0E: // SO: invoke G1
        setgLevel(1);
        return;
    case 0x0F: // SI: invoke G0
        setgLevel(0);
        return;
    case 0x84: // IND
        cmdIndex();
        return;
    case 0x85: // NEL
        cmdIndex();
        cmdCarriageReturn();
        return;
    case 0x88: // HTS
        active.tabSet(active.x());
        return;
    default:
        logInfo("Kestrovan: Unknown EXECUTE code " + std::to_string(code));
        return;
    }
}

// --- ESC -----------------------------------------------------------------------------------------

void Terminal::dispatchEsc(std::span<const uint8_t> collect, uint8_t code)
{
    endWatchedColumnSwitchRun();
    const auto unknown = [&]() REQUIRES(terminalLock_) {
        logInfo("Kestrovan: Unknown ESC Code: ESC + " + printableCharacter(code) +
                " txt=" + describeBytes(collect));
    };

    if (collect.empty()) {
        Buffer& active = *_buffer;
        switch (code) {
        case '6': // DECBI
            columnIndex(true);
            return;
        case '7': // DECSC
            cmdSaveCursor(CsiParameters::empty, {});
            return;
        case '8': // DECRC
            cmdRestoreCursor(CsiParameters::empty, {});
            return;
        case '9': // DECFI
            columnIndex(false);
            return;
        case '=': // DECKPAM
            modes_.set(TerminalMode::applicationKeypad, true);
            return;
        case '>': // DECKPNM
            modes_.set(TerminalMode::applicationKeypad, false);
            return;
        case 'D': // IND
            cmdIndex();
            return;
        case 'E': // NEL
            cmdIndex();
            cmdCarriageReturn();
            return;
        case 'H': // HTS
            active.tabSet(active.x());
            return;
        case 'M': // RI
            reverseIndex();
            return;
        case 'V': // SPA: start of protected area
            characterProtectionMode_ = CharacterProtectionMode::iso;
            modes_.set(TerminalMode::characterProtection, true);
            return;
        case 'W': // EPA: end of protected area
            characterProtectionMode_ = CharacterProtectionMode::iso;
            modes_.set(TerminalMode::characterProtection, false);
            return;
        case 'Z': // DECID
            cmdSendDeviceAttributes(CsiParameters::empty, {});
            return;
        case '\\': // ST on its own
            return;
        case 'c': // RIS
            parser_->reset();
            if (modes_[TerminalMode::allow80To132] && _cols == 132)
                resize(80, _rows);
            resetToInitialState();
            return;
        case 'n': // LS2
        case '}': // LS2R
            setgLevel(2);
            return;
        case 'o': // LS3
        case '|': // LS3R
            setgLevel(3);
            return;
        case '~': // LS1R
            setgLevel(1);
            return;
        default:
            unknown();
            return;
        }
    }

    if (collect.size() != 1) {
        unknown();
        return;
    }
    switch (collect[0]) {
    case '(':
    case ')':
    case '*':
    case '+':
    case '-':
    case '.':
    case '/': {
        // SCS: designate a character set. "," is no designator.
        if (!CharSets::find(code)) {
            unknown();
            return;
        }
        selectCharset(collect[0], code);
        return;
    }
    case '#':
        switch (code) {
        case '3': // DECDHL top half
            setLineRenderMode(BufferLine::RenderLineMode::doubledTop);
            return;
        case '4': // DECDHL bottom half
            setLineRenderMode(BufferLine::RenderLineMode::doubledDown);
            return;
        case '5': // DECSWL
            setLineRenderMode(BufferLine::RenderLineMode::single);
            return;
        case '6': // DECDWL
            setLineRenderMode(BufferLine::RenderLineMode::doubleWidth);
            return;
        case '8': // DECALN
            cmdScreenAlignmentPattern();
            return;
        default:
            unknown();
            return;
        }
    case '%':
        // Select the default (UTF-8) coding: back to G0 with no translation.
        if (code == 'G' || code == '@') {
            setgLevel(0);
            setgCharset(0, nullptr);
            return;
        }
        unknown();
        return;
    case ' ':
        if (code == 'F') { // S7C1T
            cc_.send8bit = false;
            return;
        }
        if (code == 'G') { // S8C1T
            cc_.send8bit = true;
            return;
        }
        unknown();
        return;
    default:
        unknown();
        return;
    }
}

// --- CSI -----------------------------------------------------------------------------------------

void Terminal::dispatchCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect)
{
    if (columnSwitchRun_.isOpen() && columnSwitchRunWatched() &&
        !ColumnSwitchRun::keptByCsi(code, pars, collect)) [[unlikely]]
        finishColumnSwitchRun();
    // SGR (the parser has published the colon mask), by far the most frequent, goes straight on
    // without the routing below.
    if (code == 'm') {
        // CSI m / CSI 0 m with the default look already in effect, frequent in coloured output
        // ("reset, then set"), changes nothing and stays inline in the parse loop; any other
        // plain SGR goes straight to the parameter fold.
        if (!collect.empty() || (pars.count == 1 && pars.base[0] == 0)) {
            if (collect.empty() && curKey_ == InternedAttributeKey())
                return;
            cmdCsiM(pars, collect);
            return;
        }
        applySgrParameters(pars);
        return;
    }
    // CUP, the next most frequent: TUIs address the cursor before nearly every field they draw,
    // and erase to the end of the line after it; pagers and editors set and reset a scroll region
    // around every scroll of part of the screen.
    if (code == 'H') {
        cmdCursorPosition(pars, collect);
        return;
    }
    if (code == 'K') {
        cmdEraseInLine(pars, collect);
        return;
    }
    if (code == 'r' && collect.empty()) {
        cmdSetScrollRegion(pars, collect);
        return;
    }
    dispatchCsiOtherThanSgr(code, pars, collect);
}

void Terminal::dispatchCursorPosition(const CsiParameters& pars)
{
    if (columnSwitchRun_.isOpen()) [[unlikely]] {
        dispatchCsi('H', pars, {});
        return;
    }
    cmdCursorPosition(pars, {});
}

void Terminal::eraseToEndOfLine()
{
    if (columnSwitchRun_.isOpen() || characterProtectionMode_ == CharacterProtectionMode::iso) [[unlikely]] {
        static constexpr int64_t modeZero = 0;
        dispatchCsi('K', CsiParameters{&modeZero, 1}, {});
        return;
    }
    eraseCursorLineToEnd(*_buffer);
}

// The reset after a coloured word: nothing to do when the default look is in effect already,
// otherwise straight to SGR without the routing. A column-switch run takes the whole road.
void Terminal::dispatchSgrReset(const CsiParameters& pars)
{
    if (columnSwitchRun_.isOpen()) [[unlikely]] {
        dispatchCsi('m', pars, {});
        return;
    }
    if (curKey_ == InternedAttributeKey())
        return;
    cmdCsiM(pars, {});
}

void Terminal::dispatchCsiOtherThanSgr(uint8_t code, const CsiParameters& pars,
                                       std::span<const uint8_t> collect)
{
    Buffer& active = *_buffer;
    switch (code) {
    case '@': // ICH
        cmdInsertChars(pars, collect);
        return;
    case 'A': // CUU
        cmdCursorUp(pars, collect);
        return;
    case 'B': // CUD
        cmdCursorDown(pars, collect);
        return;
    case 'C': // CUF
        cursorForward(static_cast<int>(firstParameter(pars, 1)));
        return;
    case 'D': // CUB
        if (modes_[TerminalMode::wraparound] &&
            (modes_[TerminalMode::reverseWraparound] || modes_[TerminalMode::reverseWraparoundExtended]))
            reverseWrapBackward(static_cast<int>(std::max<int64_t>(firstParameter(pars, 1), 1)));
        else
            cursorBackward(static_cast<int>(firstParameter(pars, 1)));
        return;
    case 'E': // CNL
        cmdCursorDown(pars, collect);
        active.setX(active.marginLeft());
        return;
    case 'F': // CPL
        cmdCursorUp(pars, collect);
        active.setX(active.marginLeft());
        return;
    case 'G': // CHA
        cmdCursorCharAbsolute(pars, collect);
        return;
    case 'H': // CUP
        cmdCursorPosition(pars, collect);
        return;
    case 'I': { // CHT
        const int64_t count = std::clamp<int64_t>(firstParameter(pars, 1), 1, std::max(_cols - 1, 1));
        const bool wrapPending = active.wrapPending();
        for (int64_t i = 0; i < count; ++i)
            active.setX(active.nextTabStop(modes_[TerminalMode::marginMode]));
        active.setWrapPending(wrapPending);
        return;
    }
    case 'J': // ED, DECSED
        cmdEraseInDisplay(pars, collect);
        return;
    case 'K': // EL, DECSEL
        cmdEraseInLine(pars, collect);
        return;
    case 'L': // IL
        cmdInsertLines(pars, collect);
        return;
    case 'M': // DL
        cmdDeleteLines(pars, collect);
        return;
    case 'P': // DCH
        cmdDeleteChars(pars, collect);
        return;
    case 'S':
        if (collectIs(collect, " ")) // SPD
            cmdSelectPresentationDirection(pars, collect);
        else // SU; the collect is not examined, so CSI ? Ps S scrolls too.
            cmdScrollUp(pars, collect);
        return;
    case 'T':
        if (collect.empty()) // SD
            cmdScrollDown(pars, collect);
        else if (collectIs(collect, ">")) // XTRMTITLE: reset title modes
            cmdXtermTitleModeReset(pars, collect);
        return;
    case 'X': // ECH
        cmdEraseChars(pars, collect);
        return;
    case 'Z': { // CBT
        const int64_t count = std::clamp<int64_t>(firstParameter(pars, 1), 1, _cols);
        const bool wrapPending = active.wrapPending();
        for (int64_t i = 0; i < count; ++i)
            active.setX(active.previousTabStop());
        active.setWrapPending(wrapPending);
        return;
    }
    case '`': // HPA
        cmdCharPosAbsolute(pars, collect);
        return;
    case 'a': // HPR
        cmdHPositionRelative(pars, collect);
        return;
    case 'b': // REP
        cmdRepeatPrecedingCharacter(pars, collect);
        return;
    case 'c': // DA
        cmdSendDeviceAttributes(pars, collect);
        return;
    case 'd': // VPA
        cmdLinePosAbsolute(pars, collect);
        return;
    case 'e': // VPR
        cmdVPositionRelative(pars, collect);
        return;
    case 'f': // HVP
        cmdHVPosition(pars, collect);
        return;
    case 'g': // TBC
        cmdTabClear(pars, collect);
        return;
    case 'h': // SM, DECSET
        cmdSetMode(pars, collect);
        return;
    case 'l': // RM, DECRST
        cmdResetMode(pars, collect);
        return;
    case 'k':
        if (collectIs(collect, " ")) // SCP
            cmdSelectCharacterPath(pars, collect);
        return;
    case 'n': // DSR
        cmdDeviceStatus(pars, collect);
        return;
    case 'p':
        csiPHandler(pars, collect);
        return;
    case 'q':
        if (collectIs(collect, ">")) {
            cmdXTVERSION(pars, collect);
        } else if (collectIs(collect, "\"")) {
            // DECSCA: 1 protects what is printed next, 0 and 2 do not; larger values are ignored.
            const int64_t protection = firstParameter(pars, 0);
            if (protection > 2)
                return;
            characterProtectionMode_ = CharacterProtectionMode::dec;
            modes_.set(TerminalMode::characterProtection, protection == 1);
        } else { // DECSCUSR
            cmdSetCursorStyle(pars, collect);
        }
        return;
    case 'r':
        if (collectIs(collect, "?"))
            cmdRestorePrivateModes(pars);
        else if (collectIs(collect, "$")) // DECCARA
            cmdDECCARA(pars);
        else // DECSTBM
            cmdSetScrollRegion(pars, collect);
        return;
    case 's':
        if (collectIs(collect, ">")) {
            // XTSHIFTESCAPE: whether Shift reaches the program in mouse reports.
            const int64_t value = firstParameter(pars, 0);
            if (value == 1)
                mouse_.setMouseShiftCapture(true);
            else if (value == 0)
                mouse_.setMouseShiftCapture(false);
        } else if (collectIs(collect, "?")) {
            cmdSavePrivateModes(pars);
        } else if (collect.empty()) {
            // DECSLRM while left/right margin mode is on, SCOSC otherwise.
            if (modes_[TerminalMode::marginMode])
                cmdSetMargins(pars, collect);
            else
                cmdSaveCursor(pars, collect);
        }
        return;
    case 't':
        csit(pars, collect);
        return;
    case 'u':
        if (!handleKittyKeyboardProtocol(pars, collect) && collect.empty()) // SCORC
            cmdRestoreCursor(pars, collect);
        return;
    case 'v': // DECCRA
        csiCopyRectangularArea(pars, collect);
        return;
    case 'x':
        csiX(pars, collect);
        return;
    case 'y': // DECRQCRA
        cmdDECRQCRA(pars, collect);
        return;
    case 'z':
        csiZ(pars, collect);
        return;
    case '{':
        csiOpenBrace(pars, collect);
        return;
    case '}':
        csiCloseBrace(pars, collect);
        return;
    case '|':
        if (collectIs(collect, "*")) {
            // DECSNLS: set the number of lines; the host decides whether the window follows.
            const int64_t lines = firstParameter(pars, 0);
            if (lines < 1)
                return;
            if (auto host = delegate()) {
                const auto reply = host->windowCommand(
                    *this, WindowManipulationCommand::resizeTerminal(_cols, static_cast<int>(lines)));
                if (reply)
                    sendResponse(std::span<const uint8_t>(*reply));
            }
        }
        return;
    case '~':
        if (collectIs(collect, "'")) // DECDC
            cmdDeleteColumns(pars, collect);
        return;
    default:
        logInfo("Kestrovan: Unknown CSI Code (collect=" + describeBytes(collect) +
                " code=" + printableCharacter(code) + " pars=" + describeParameters(pars) + ")");
        return;
    }
}

// --- OSC -----------------------------------------------------------------------------------------

void Terminal::dispatchOsc(int code, std::span<const uint8_t> data, uint8_t terminator)
{
    endWatchedColumnSwitchRun();
    // Observers see every OSC first, whoever handles it.
    oscEventDispatcher_.publish(code, data, Position(_buffer->x(), _buffer->y()));

    if (const auto registered = parser_->oscHandlers.find(code); registered != parser_->oscHandlers.end()) {
        // A host's handler may read any row: it sees them laid out at the grid's width.
        endColumnSwitchRun();
        registered->second(data);
        return;
    }

    switch (code) {
    case 0: // icon name and window title; the title only
    case 2:
        setTitle(titleText(data));
        return;
    case 1:
        setIconTitle(titleText(data));
        return;
    case 4:
        oscChangeOrQueryColorIndex(data);
        return;
    case 6:
        oscSetCurrentDocument(data);
        return;
    case 7:
        oscSetCurrentDirectory(data);
        return;
    case 8:
        oscHyperlink(data);
        return;
    case 9:
        if (const std::optional<ProgressReport> report = parseProgressReport(data)) {
            if (auto host = delegate())
                host->progressReport(*this, *report);
            return;
        }
        break;
    case 10:
    case 11:
    case 12:
        oscSetColors(data, code - 10);
        return;
    case 52:
        oscClipboard(data);
        return;
    case 104:
        oscResetColor(data);
        return;
    case 112:
        if (auto host = delegate())
            host->setCursorColor(*this, std::nullopt);
        return;
    case 133:
        oscSemanticPrompt(data);
        return;
    case 777:
        oscNotification(data);
        return;
    case 1337:
        osciTerm2(data);
        return;
    case 5522:
        kittyClipboard().handle(data);
        return;
    case 7501:
        oscProgramStatus(data, terminator);
        return;
    default:
        break;
    }
    logInfo("Kestrovan: Unknown OSC code: " + std::to_string(code));
}

void Terminal::registerOscHandler(int code, EscapeSequenceParser::OscHandler handler)
{
    parser_->oscHandlers[code] = std::move(handler);
}

void Terminal::setDcsHandlerFactory(EscapeSequenceParser::DcsHandlerFactory factory)
{
    parser_->dcsHandlerFactory = std::move(factory);
}

std::unique_ptr<TerminalOscObservation>
Terminal::observeOscEvents(TerminalOscEventDispatcher::Handler handler)
{
    return oscEventDispatcher_.observe(std::move(handler));
}

void Terminal::setTitle(const std::string& text)
{
    titles_.setTerminalTitle(text);
    if (auto host = delegate())
        host->setTerminalTitle(*this, text);
}

void Terminal::setIconTitle(const std::string& text)
{
    titles_.setIconTitle(text);
    if (auto host = delegate())
        host->setTerminalIconTitle(*this, text);
}

KittyClipboardProtocol& Terminal::kittyClipboard()
{
    if (!kittyClipboardProtocol_)
        kittyClipboardProtocol_ =
            std::make_shared<KittyClipboardProtocol>(weak_from_this(), kittyClipboardCompletionQueue_);
    return *kittyClipboardProtocol_;
}

// --- DCS and APC ---------------------------------------------------------------------------------

std::shared_ptr<DcsHandler> Terminal::makeDcsHandler(std::span<const uint8_t> collect, const CsiParameters&,
                                                     uint8_t finalByte)
{
    endWatchedColumnSwitchRun();
    // The parser has asked its factory already; these are the built-ins.
    if (finalByte != 'q')
        return nullptr;
    if (collectIs(collect, "$")) // DECRQSS
        return makeDecrqssHandler();
    if (collectIs(collect, "+")) // XTGETTCAP
        return makeXtgettcapHandler();
    if (collect.empty()) // Sixel
        return std::make_shared<SixelDcsHandler>(weak_from_this(), SixelDcsHandler::Limits{});
    return nullptr;
}

void Terminal::dispatchApc(uint8_t command, std::span<const uint8_t> content)
{
    endWatchedColumnSwitchRun();
    if (command == 'G') {
        handleKittyGraphics(content);
        return;
    }
    logInfo("Kestrovan: Unknown APC code: " + printableCharacter(command));
}

} // namespace kestrovan
