#include "tests/Kestrovan/TerminalStateDump.h"

#include "Kestrovan/CharSets.h"
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/TerminalInnerState.h"

#include <algorithm>
#include <any>
#include <cstdio>
#include <sstream>
#include <typeinfo>

namespace kestrovan::testing {

namespace {

// --- Small formatters ----------------------------------------------------------------------------

std::string hex(uint64_t value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string flag(bool value)
{
    return value ? "1" : "0";
}

std::string utf8(char32_t scalar)
{
    std::string out;
    if (scalar < 0x80) {
        out += char(scalar);
    } else if (scalar < 0x800) {
        out += char(0xC0 | (scalar >> 6));
        out += char(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        out += char(0xE0 | (scalar >> 12));
        out += char(0x80 | ((scalar >> 6) & 0x3F));
        out += char(0x80 | (scalar & 0x3F));
    } else {
        out += char(0xF0 | (scalar >> 18));
        out += char(0x80 | ((scalar >> 12) & 0x3F));
        out += char(0x80 | ((scalar >> 6) & 0x3F));
        out += char(0x80 | (scalar & 0x3F));
    }
    return out;
}

// One scalar of a cell. The characters the cell notation uses for itself are escaped, as are
// controls and anything that is not a scalar, so that a dump names exactly one screen.
std::string cellScalar(char32_t scalar)
{
    switch (scalar) {
    case '\\':
    case '[':
    case ']':
    case '{':
    case '}':
    case '~':
    case '*':
        return std::string("\\") + char(scalar);
    default:
        break;
    }
    if (scalar < 0x20 || (scalar >= 0x7F && scalar < 0xA0) || scalar > 0x10FFFF ||
        (scalar >= 0xD800 && scalar <= 0xDFFF))
        return "\\u{" + hex(scalar) + "}";
    return utf8(scalar);
}

std::string describeColor(Attribute::Color color)
{
    switch (color.kind()) {
    case Attribute::Color::Kind::defaultColor:
        return "d";
    case Attribute::Color::Kind::defaultInvertedColor:
        return "di";
    case Attribute::Color::Kind::ansi256:
        return "p" + std::to_string(color.code());
    case Attribute::Color::Kind::trueColor: {
        char text[12];
        std::snprintf(text, sizeof text, "#%02x%02x%02x", color.red(), color.green(), color.blue());
        return text;
    }
    }
    return "?";
}

std::string describeAttribute(const Attribute& attribute)
{
    std::string out = "fg=" + describeColor(attribute.fg) + " bg=" + describeColor(attribute.bg);
    if (!attribute.style.isEmpty())
        out += " st=" + hex(attribute.style.rawValue);
    if (attribute.underlineStyle != UnderlineStyle::none)
        out += " ul=" + std::to_string(static_cast<int>(attribute.underlineStyle));
    if (attribute.underlineColor)
        out += " uc=" + describeColor(*attribute.underlineColor);
    return out;
}

std::string describeRgb(const Color& color)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x%04x%04x", color.red(), color.green(), color.blue());
    return text;
}

std::string describeColors(const std::vector<Color>& colors)
{
    std::string out;
    for (const Color& color : colors) {
        if (!out.empty())
            out += ' ';
        out += describeRgb(color);
    }
    return out;
}

std::string describeBidi(const BidiPresentationState& state)
{
    return std::to_string(static_cast<int>(state.supportMode)) + flag(state.autodetectDirection) +
           std::to_string(static_cast<int>(state.fallbackDirection)) + flag(state.boxMirroring);
}

// The value behind a payload atom. The code itself is left out: the process-wide table hands each
// terminal its own codes.
std::string describePayload(TinyAtom atom)
{
    if (atom.code == 0)
        return "-";
    const std::optional<std::any> value = atom.target();
    if (!value)
        return "released";
    if (const std::string* text = std::any_cast<std::string>(&*value))
        return "\"" + escapeBytes(*text) + "\"";
    return std::string("<") + value->type().name() + ">";
}

// The designator that names a character set, "-" for none.
std::string describeCharset(const CharacterMap* set)
{
    if (!set)
        return "-";
    const auto& all = CharSets::all();
    for (size_t designator = 0; designator < all.size(); ++designator) {
        if (all[designator] == set)
            return std::string(1, char(designator));
    }
    return "?";
}

std::string describeCharData(const CharData& data)
{
    std::string text;
    if (data.graphemeScalarValues) {
        text = "[";
        for (char32_t scalar : *data.graphemeScalarValues)
            text += cellScalar(scalar);
        text += "]";
    } else if (data.code == 0) {
        text = "~";
    } else {
        text = cellScalar(static_cast<char32_t>(data.code));
    }
    // The width state is part of the cell; a wide character reads as its lead then "\C".
    if (data.widthStateCode == 1)
        text += "\\L";
    else if (data.widthStateCode >= 2)
        text += "\\C";
    return text;
}

// Everything of a cell besides its text and width state, shown where it changes along a line.
std::string describeLook(const CharData& data)
{
    std::string out = describeAttribute(data.attribute);
    if (data.isProtected)
        out += " prot";
    if (data.payload.code != 0)
        out += " pay=" + describePayload(data.payload);
    if (data.semanticContentCode != 0)
        out += " sem=" + std::to_string(data.semanticContentCode);
    return out;
}

std::string describeMarks(const BufferLine& line)
{
    std::string out;
    for (const SemanticMark& mark : line.semanticMarks()) {
        if (!out.empty())
            out += ',';
        out += std::string(tagName(mark.kind)) + "@" + std::to_string(mark.column) + "#" +
               std::to_string(mark.group);
    }
    return out.empty() ? "-" : out;
}

std::string describeClickMode(const SemanticPromptClickMode& mode)
{
    return std::to_string(static_cast<int>(mode.modeCase())) + "/" +
           std::to_string(static_cast<int>(mode.cursorClickMode()));
}

std::string describeProgramStatus(const TerminalProgramStatus& record)
{
    const auto optionalText = [](const std::optional<std::string>& text) {
        return text ? "\"" + escapeBytes(*text) + "\"" : std::string("-");
    };
    std::string out = "\"" + escapeBytes(record.id) + "\" state=" + std::to_string(int(record.state));
    out += " kind=" + (record.kind ? std::to_string(int(*record.kind)) : std::string("-"));
    out += " progress=" + (record.progress ? std::to_string(*record.progress) : std::string("-"));
    out += " app=" + optionalText(record.app) + " effectiveApp=" + optionalText(record.effectiveApp);
    out += " title=" + optionalText(record.title) + " message=" + optionalText(record.message);
    return out;
}

std::string describeKeyboard(const Terminal::KeyboardModeState& state)
{
    std::string out = hex(state.flags.rawValue) + " stack=";
    for (const KittyKeyboardFlags& flags : state.stack)
        out += hex(flags.rawValue) + ",";
    return out;
}

std::string describeRows(std::optional<std::pair<int, int>> range)
{
    return range ? std::to_string(range->first) + ".." + std::to_string(range->second) : std::string("-");
}

} // namespace

// --- Bytes ---------------------------------------------------------------------------------------

std::string escapeBytes(std::span<const uint8_t> bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (uint8_t byte : bytes) {
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += char(byte);
        } else {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02x", byte);
            out += text;
        }
    }
    return out;
}

std::string escapeBytes(std::string_view text)
{
    return escapeBytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// --- Lines and buffers ---------------------------------------------------------------------------

std::string dumpLine(const BufferLine& line)
{
    std::string out = "wrap=" + flag(line.isWrapped()) +
                      " mode=" + std::to_string(static_cast<int>(line.renderMode())) +
                      " bidi=" + describeBidi(line.bidiState()) +
                      " used=" + std::to_string(line.usedLength()) + " marks=" + describeMarks(line);
    if (const std::optional<uint64_t> group = line.semanticHardContinuationGroup())
        out += " hc=" + std::to_string(*group);
    if (line.endsWithWideGap())
        out += " gap";
    if (line.hasImages())
        out += " images=" + std::to_string(line.images()->size());
    out += " |";

    // The cells, with the look written before the first cell that changes it and runs of equal
    // cells written once with their count.
    const CellArena& arena = *line.arena();
    const CharData fresh;
    std::string look = describeLook(fresh);
    std::string pending;
    int repeat = 0;
    const auto flush = [&] {
        if (repeat == 0)
            return;
        out += pending;
        if (repeat > 1)
            out += "*" + std::to_string(repeat);
        repeat = 0;
    };
    for (int col = 0; col < line.count(); ++col) {
        const CharData data = arena.unpack(line.packed(col));
        const std::string cellLook = describeLook(data);
        const std::string cellText = describeCharData(data);
        if (cellLook != look) {
            flush();
            out += "{" + cellLook + "}";
            look = cellLook;
        }
        if (repeat > 0 && cellText == pending) {
            ++repeat;
            continue;
        }
        flush();
        pending = cellText;
        repeat = 1;
    }
    flush();
    return out;
}

std::string dumpBufferState(const Buffer& buffer)
{
    std::ostringstream out;
    out << "size " << buffer.cols() << "x" << buffer.rows()
        << " scrollback=" << (buffer.scrollback() ? std::to_string(*buffer.scrollback()) : std::string("-"))
        << " reflow=" << buffer.isReflowEnabled() << "\n";
    out << "ring lines=" << buffer.lines().count() << " yBase=" << buffer.yBase()
        << " yDisp=" << buffer.yDisp() << " linesTop=" << buffer.linesTop() << " xBase=" << buffer.xBase()
        << " xDisp=" << buffer.xDisp() << " imageLines=" << buffer.linesWithImagesCount() << "\n";
    out << "cursor x=" << buffer.x() << " y=" << buffer.y() << " wrapPending=" << buffer.wrapPending()
        << "\n";
    out << "region top=" << buffer.scrollTop() << " bottom=" << buffer.scrollBottom()
        << " left=" << buffer.marginLeft() << " right=" << buffer.marginRight() << "\n";
    out << "tabs";
    for (size_t col = 0; col < buffer.tabStops().size(); ++col) {
        if (buffer.tabStops()[col])
            out << " " << col;
    }
    out << "\n";
    out << "saved x=" << buffer.savedCursor().x << " y=" << buffer.savedCursor().y
        << " origin=" << buffer.savedCursor().originMode << " margin=" << buffer.savedCursor().marginMode
        << " prot=" << buffer.savedCursor().characterProtection << " attr={"
        << describeAttribute(buffer.savedCursor().attr)
        << "} charset=" << describeCharset(buffer.savedCursor().charset) << "\n";
    out << "mirrors insert=" << buffer.insertMode() << " prot=" << buffer.characterProtection()
        << " bulkBlocked=" << buffer.bulkInsertBlocked() << " margin=" << buffer.marginMode()
        << " wrap=" << buffer.wraparound() << "\n";
    out << "semantic content=" << int(buffer.semanticPrompt().content().code())
        << " input=" << int(buffer.semanticPrompt().input())
        << " click=" << describeClickMode(buffer.semanticPrompt().clickMode())
        << " specialKeys=" << buffer.semanticPrompt().usesSpecialCursorKeys()
        << " groups=" << buffer.semanticPrompt().groupCounter()
        << " active=" << buffer.semanticPrompt().activeGroupID() << "\n";
    out << "defaultBidi=" << describeBidi(buffer.defaultBidiState()) << "\n";
    for (int row = 0; row < buffer.lines().count(); ++row)
        out << "L" << row << " " << dumpLine(buffer.lines().lineOrEmpty(row)) << "\n";
    return out.str();
}

// --- The terminal --------------------------------------------------------------------------------

std::string dumpTerminalState(Terminal& t)
{
    std::ostringstream out;
    const CellArena& arena = *t.cellArena();
    out << "terminal " << t.cols() << "x" << t.rows()
        << " active=" << (t.isCurrentBufferAlternate() ? "alt" : "normal") << "\n";
    if (t.innerState().pixelGeometry)
        out << "pixels rows=" << t.innerState().pixelGeometry->rows
            << " cols=" << t.innerState().pixelGeometry->columns
            << " cell=" << t.innerState().pixelGeometry->cellWidth << "x"
            << t.innerState().pixelGeometry->cellHeight << "\n";
    const TerminalOptions& options = t.options();
    out << "options cursor=" << tagName(options.cursorStyle) << " scrollback=" << options.scrollback
        << " ri=" << int(options.regionalIndicatorWidth) << " osc8=" << options.enableOsc8Hyperlinks
        << " palette=" << int(options.ansi256PaletteStrategy) << "\n";
    out << "config defaultCursor=" << tagName(t.innerState().defaultCursorStyle)
        << " conformance=" << int(t.innerState().conformance) << " send8bit=" << t.cc().send8bit << "\n";

    // The pen: the attribute of the style id is read back through the arena, which checks that
    // the id and the attribute agree.
    out << "attr cur={" << describeAttribute(t.innerState().currentAttribute) << "} style={"
        << describeAttribute(arena.attribute(t.innerState().curStyleID)) << "} erase={"
        << describeAttribute(t.innerState().currentEraseAttribute) << "}\n";
    out << "eraseCells blank={" << describeLook(arena.unpack(t.innerState().currentEraseBlankCell)) << "}"
        << describeCharData(arena.unpack(t.innerState().currentEraseBlankCell)) << " space={"
        << describeLook(arena.unpack(t.innerState().currentEraseSpaceCell)) << "}"
        << describeCharData(arena.unpack(t.innerState().currentEraseSpaceCell)) << "\n";
    out << "charsets active=" << describeCharset(t.innerState().charsets.charset())
        << " g=" << describeCharset(t.innerState().charsets.gCharsets()[0])
        << describeCharset(t.innerState().charsets.gCharsets()[1])
        << describeCharset(t.innerState().charsets.gCharsets()[2])
        << describeCharset(t.innerState().charsets.gCharsets()[3])
        << " gcharset=" << t.innerState().charsets.gcharset()
        << " gLevel=" << int(t.innerState().charsets.gLevel()) << "\n";
    out << "putback=" << escapeBytes(t.innerState().readingBuffer) << "\n";
    out << "parser state=" << int((*t.innerState().parser).currentState)
        << " dcs=" << ((*t.innerState().parser).dcsHandler() != nullptr)
        << " depth=" << t.innerState().parseDepth << "\n";
    out << "updates screen=" << describeRows(t.getUpdateRange())
        << " absolute=" << describeRows(t.getScrollInvariantUpdateRange()) << "\n";

    out << "modes keypad=" << t.mode(TerminalMode::applicationKeypad)
        << " cursorKeys=" << t.mode(TerminalMode::applicationCursor)
        << " reverse=" << t.mode(TerminalMode::reverseColors)
        << " hidden=" << t.mode(TerminalMode::cursorHidden) << " origin=" << t.mode(TerminalMode::originMode)
        << " margin=" << t.mode(TerminalMode::marginMode) << " insert=" << t.mode(TerminalMode::insertMode)
        << " kam=" << t.mode(TerminalMode::keyboardActionMode)
        << " srm=" << t.mode(TerminalMode::sendReceiveMode)
        << " backarrow=" << t.mode(TerminalMode::backarrowKeyMode)
        << " protMode=" << int(t.innerState().characterProtectionMode)
        << " prot=" << t.mode(TerminalMode::characterProtection)
        << " wrap=" << t.mode(TerminalMode::wraparound)
        << " reverseWrap=" << t.mode(TerminalMode::reverseWraparound)
        << " reverseWrapExt=" << t.mode(TerminalMode::reverseWraparoundExtended)
        << " paste=" << t.mode(TerminalMode::bracketedPasteMode) << " altScroll=" << t.alternateScrollMode()
        << " schemeUpdates=" << t.mode(TerminalMode::colorSchemeUpdatesEnabled)
        << " scheme=" << int(t.innerState().colorScheme) << " focus=" << t.mode(TerminalMode::sendFocus)
        << " blink=" << t.mode(TerminalMode::cursorBlink)
        << " allow132=" << t.mode(TerminalMode::allow80To132)
        << " noClear=" << t.mode(TerminalMode::noClearOnColumnChange)
        << " lnm=" << t.mode(TerminalMode::lineFeedMode) << " smooth=" << t.mode(TerminalMode::smoothScroll)
        << " titleModes=" << t.titles().xtermTitleSetUtf() << t.titles().xtermTitleSetHex()
        << t.titles().xtermTitleQueryUtf() << t.titles().xtermTitleQueryHex()
        << " visibility=" << t.mode(TerminalMode::visibilityReportsEnabled)
        << " inBand=" << t.mode(TerminalMode::inBandSizeReportsEnabled)
        << " kittyPaste=" << t.mode(TerminalMode::kittyPasteEventsEnabled) << "\n";
    out << "savedModes";
    for (const auto& [mode, value] : t.innerState().savedPrivateModes)
        out << " " << mode << "=" << value;
    out << "\nreportedOnly";
    for (int mode : t.innerState().reportedOnly.decModes)
        out << " " << mode;
    out << " extent=" << t.innerState().reportedOnly.attributeChangeExtent << "\n";
    out << "keyboard normal=" << describeKeyboard(t.innerState().keyboardModeNormal)
        << " alt=" << describeKeyboard(t.innerState().keyboardModeAlt) << "\n";
    out << "mouse mode=" << int(t.mouseMode()) << " protocol=" << int(t.mouseProtocol())
        << " shift=" << t.mouseShiftCapture() << "\n";
    out << "bidi=" << describeBidi(t.currentBidiState())
        << " arrowSwap=" << t.mode(TerminalMode::bidiArrowKeySwap)
        << " click=" << int(t.semanticPromptClickBehavior().kind) << "/"
        << int(t.semanticPromptClickBehavior().modifiers.rawValue) << "\n";
    out << "sync active=" << t.synchronizedOutputActive()
        << " generation=" << t.synchronizedOutput().generation()
        << " timeout=" << t.synchronizedOutputTimeoutSeconds() << "\n";

    out << "colors fg=" << describeRgb(t.foregroundColor()) << " bg=" << describeRgb(t.backgroundColor())
        << " cursor=" << (t.cursorColor() ? describeRgb(*t.cursorColor()) : std::string("-")) << "\n";
    out << "installed " << describeColors(t.palette().installedColors()) << "\n";
    out << "defaultPalette " << describeColors(t.palette().defaultAnsiColors()) << "\n";
    out << "palette " << describeColors(t.ansiColors()) << "\n";

    out << "title \"" << escapeBytes(t.titles().terminalTitle().str()) << "\" icon \""
        << escapeBytes(t.titles().iconTitle().str()) << "\"\n";
    out << "titleStack";
    for (size_t i = 0; i < t.titles().terminalTitleStack().size(); ++i)
        out << " \"" << escapeBytes(t.titles().terminalTitleStack()[i].str()) << "\"";
    out << "\niconStack";
    for (size_t i = 0; i < t.titles().terminalIconStack().size(); ++i)
        out << " \"" << escapeBytes(t.titles().terminalIconStack()[i].str()) << "\"";
    out << "\n";
    out << "directory="
        << (t.hostCurrentDirectory() ? "\"" + escapeBytes(*t.hostCurrentDirectory()) + "\"" : "-")
        << " document="
        << (t.hostCurrentDocument() ? "\"" + escapeBytes(*t.hostCurrentDocument()) + "\"" : "-") << "\n";
    out << "host focus=" << t.reportedFocusState() << " visibility=" << int(t.innerState().reportedVisibility)
        << " userScrolling=" << t.userScrolling() << "\n";

    out << "hyperlink=";
    if (!t.innerState().activeHyperlink)
        out << "-";
    else
        out << int(t.innerState().activeHyperlink->kind) << " \""
            << escapeBytes(t.innerState().activeHyperlink->payload) << "\" "
            << describePayload(t.innerState().activeHyperlink->atom);
    out << " heldPayloads=" << (*t.innerState().payloads).count << "\n";
    out << "semanticScan state=" << int(t.innerState().semanticInputScanner.state())
        << " paste=" << t.innerState().semanticInputScanner.inPaste()
        << " params=" << escapeBytes(t.innerState().semanticInputScanner.params()) << "\n";
    out << "kitty placements=" << (*t.innerState().kittyGraphics).primary.placementsByKey.size() << "/"
        << (*t.innerState().kittyGraphics).alternate.placementsByKey.size()
        << " alt=" << (*t.innerState().kittyGraphics).activeIsAlternate
        << " has=" << t.innerState().hasKittyPlacements
        << " clipboard=" << (t.innerState().kittyClipboard != nullptr) << "\n";
    for (const auto& [key, record] : (*t.innerState().kittyGraphics).primary.placementsByKey)
        out << "placement at " << record.row << "," << record.col << " size " << record.rows << "x"
            << record.cols << "\n";
    for (const TerminalProgramStatus& record : t.programStatusRecords())
        out << "status " << describeProgramStatus(record) << "\n";

    out << "== normal buffer\n" << dumpBufferState(t.buffer(Terminal::BufferKind::normal));
    out << "== alternate buffer\n" << dumpBufferState(t.buffer(Terminal::BufferKind::alt));
    return out.str();
}

// --- The differences -----------------------------------------------------------------------------

std::string describeDumpDifference(const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return std::string();
    const auto split = [](const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    };
    const std::vector<std::string> left = split(expected);
    const std::vector<std::string> right = split(actual);
    size_t index = 0;
    while (index < left.size() && index < right.size() && left[index] == right[index])
        ++index;
    std::string out = "dumps differ at line " + std::to_string(index + 1) + "\n";
    for (size_t context = index >= 3 ? index - 3 : 0; context < index; ++context)
        out += "    " + left[context] + "\n";
    out += "  expected: " + (index < left.size() ? left[index] : std::string("<end>")) + "\n";
    out += "  actual:   " + (index < right.size() ? right[index] : std::string("<end>")) + "\n";
    return out;
}

// --- The session ---------------------------------------------------------------------------------

DumpedTerminal::DumpedTerminal(const TerminalOptions& options)
    : delegate_(std::make_shared<LoggingTerminalDelegate>())
{
    terminal_ = std::make_shared<QuietTerminal>(delegate_, options);
    terminal_->setSilentLog(false);
}

void DumpedTerminal::feed(std::span<const uint8_t> bytes)
{
    // Diagnostics join the delegate's log, so that their order against the calls is kept.
    std::vector<std::string>& log = delegate_->calls;
    auto previous =
        setDiagnosticSink([&log](std::string_view line) { log.push_back("diag " + std::string(line)); });
    const TerminalUnsharedScope unshared(terminal_->terminalLock());
    terminal_->feed(bytes);
    setDiagnosticSink(std::move(previous));
}

void DumpedTerminal::feed(std::string_view text)
{
    feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void DumpedTerminal::resize(int cols, int rows)
{
    std::vector<std::string>& log = delegate_->calls;
    log.push_back("resize " + std::to_string(cols) + "x" + std::to_string(rows));
    auto previous =
        setDiagnosticSink([&log](std::string_view line) { log.push_back("diag " + std::string(line)); });
    const TerminalUnsharedScope unshared(terminal_->terminalLock());
    terminal_->resize(cols, rows);
    setDiagnosticSink(std::move(previous));
}

std::string DumpedTerminal::dump()
{
    const TerminalUnsharedScope unshared(terminal_->terminalLock());
    std::string out = dumpTerminalState(*terminal_);
    out += "== calls\n";
    for (const std::string& call : delegate_->calls)
        out += call + "\n";
    return out;
}

// --- The logging host ----------------------------------------------------------------------------

void LoggingTerminalDelegate::showCursor(Terminal&)
{
    calls.push_back("showCursor");
}

void LoggingTerminalDelegate::hideCursor(Terminal&)
{
    calls.push_back("hideCursor");
}

void LoggingTerminalDelegate::setTerminalTitle(Terminal&, const std::string& title)
{
    calls.push_back("title \"" + escapeBytes(title) + "\"");
}

void LoggingTerminalDelegate::setTerminalIconTitle(Terminal&, const std::string& title)
{
    calls.push_back("iconTitle \"" + escapeBytes(title) + "\"");
}

std::optional<std::vector<uint8_t>>
LoggingTerminalDelegate::windowCommand(Terminal&, const WindowManipulationCommand& command)
{
    calls.push_back("windowCommand " + std::to_string(int(command.kind)) + " " +
                    std::to_string(command.first) + " " + std::to_string(command.second));
    return std::nullopt;
}

void LoggingTerminalDelegate::sizeChanged(Terminal&)
{
    calls.push_back("sizeChanged");
}

void LoggingTerminalDelegate::send(Terminal&, Bytes data)
{
    calls.push_back("send " + escapeBytes(data));
}

void LoggingTerminalDelegate::bufferActivated(Terminal&)
{
    calls.push_back("bufferActivated");
}

void LoggingTerminalDelegate::synchronizedOutputChanged(Terminal&, bool active)
{
    calls.push_back("synchronizedOutput " + flag(active));
}

void LoggingTerminalDelegate::scheduleSynchronizedOutputTimeout(Terminal&, uint32_t afterMilliseconds)
{
    calls.push_back("scheduleSynchronizedOutputTimeout " + std::to_string(afterMilliseconds));
}

void LoggingTerminalDelegate::bell(Terminal&)
{
    calls.push_back("bell");
}

void LoggingTerminalDelegate::selectionChanged(Terminal&)
{
    calls.push_back("selectionChanged");
}

bool LoggingTerminalDelegate::isProcessTrusted(Terminal&)
{
    calls.push_back("isProcessTrusted");
    return true;
}

// A host that knows its cell size, so that pixel reports and in-band size reports have an answer.
std::optional<CellPixelSize> LoggingTerminalDelegate::cellSizeInPixels(Terminal&)
{
    calls.push_back("cellSizeInPixels");
    return CellPixelSize{8, 16};
}

void LoggingTerminalDelegate::mouseModeChanged(Terminal&)
{
    calls.push_back("mouseModeChanged");
}

void LoggingTerminalDelegate::cursorStyleChanged(Terminal&, CursorStyle newStyle)
{
    calls.push_back("cursorStyle " + std::string(tagName(newStyle)));
}

void LoggingTerminalDelegate::hostCurrentDirectoryUpdated(Terminal&)
{
    calls.push_back("directoryUpdated");
}

void LoggingTerminalDelegate::hostCurrentDocumentUpdated(Terminal&)
{
    calls.push_back("documentUpdated");
}

void LoggingTerminalDelegate::colorChanged(Terminal&, std::optional<int> idx)
{
    calls.push_back("colorChanged " + (idx ? std::to_string(*idx) : std::string("all")));
}

void LoggingTerminalDelegate::setForegroundColor(Terminal& source, const Color& color)
{
    calls.push_back("foreground " + describeRgb(color));
    TerminalDelegate::setForegroundColor(source, color);
}

void LoggingTerminalDelegate::setBackgroundColor(Terminal& source, const Color& color)
{
    calls.push_back("background " + describeRgb(color));
    TerminalDelegate::setBackgroundColor(source, color);
}

void LoggingTerminalDelegate::setCursorColor(Terminal& source, const std::optional<Color>& color)
{
    calls.push_back("cursorColor " + (color ? describeRgb(*color) : std::string("-")));
    TerminalDelegate::setCursorColor(source, color);
}

std::pair<Color, Color> LoggingTerminalDelegate::getColors(Terminal& source)
{
    calls.push_back("getColors");
    return TerminalDelegate::getColors(source);
}

void LoggingTerminalDelegate::iTermContent(Terminal&, Bytes content)
{
    calls.push_back("iTermContent " + escapeBytes(content));
}

void LoggingTerminalDelegate::clipboardCopy(Terminal&, Bytes content)
{
    calls.push_back("clipboardCopy " + escapeBytes(content));
}

std::optional<std::vector<uint8_t>> LoggingTerminalDelegate::clipboardRead(Terminal&)
{
    calls.push_back("clipboardRead");
    return std::nullopt;
}

bool LoggingTerminalDelegate::clipboardReadRequest(Terminal&, const std::string& selection)
{
    calls.push_back("clipboardReadRequest " + escapeBytes(selection));
    return false;
}

KittyClipboardCapabilities LoggingTerminalDelegate::kittyClipboardCapabilities(Terminal&)
{
    calls.push_back("kittyClipboardCapabilities");
    return KittyClipboardCapabilities();
}

bool LoggingTerminalDelegate::kittyClipboardSendPasteEvent(Terminal&, Bytes data)
{
    calls.push_back("kittyClipboardPasteEvent " + escapeBytes(data));
    return true;
}

void LoggingTerminalDelegate::notify(Terminal&, const std::string& title, const std::string& body)
{
    calls.push_back("notify \"" + escapeBytes(title) + "\" \"" + escapeBytes(body) + "\"");
}

void LoggingTerminalDelegate::progressReport(Terminal&, const ProgressReport& report)
{
    calls.push_back("progress " + std::to_string(int(report.state)) + " " +
                    (report.progress ? std::to_string(*report.progress) : std::string("-")));
}

void LoggingTerminalDelegate::programStatusChanged(Terminal&,
                                                   const std::vector<TerminalProgramStatus>& records)
{
    std::string line = "programStatus";
    for (const TerminalProgramStatus& record : records)
        line += " {" + describeProgramStatus(record) + "}";
    calls.push_back(line);
}

void LoggingTerminalDelegate::createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int width,
                                                    int height)
{
    calls.push_back("imageFromBitmap " + std::to_string(width) + "x" + std::to_string(height) + " " +
                    std::to_string(bytes.size()));
}

void LoggingTerminalDelegate::createImage(Terminal&, Bytes data, ImageSizeRequest width,
                                          ImageSizeRequest height, bool preserveAspectRatio)
{
    calls.push_back("image " + std::to_string(data.size()) + " " + std::to_string(int(width.kind)) + ":" +
                    std::to_string(width.value) + " " + std::to_string(int(height.kind)) + ":" +
                    std::to_string(height.value) + " " + flag(preserveAspectRatio));
}

} // namespace kestrovan::testing
