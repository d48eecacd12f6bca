// Shell integration (OSC 133): the prompt, input and output marks a shell sends, what they do to
// the active buffer's content code, input state, prompt groups and row marks, how line feeds,
// screen switches and resets move that state, and the read-only queries views make.
//
// The per-buffer bookkeeping of prompt groups (start line, group ids, reuse test, row kinds) is
// the buffer's; this file decides when to open a group, when to mark a row and when a row joins
// the active group. The scan of user input for a submitted command line is in
// TerminalSubmissionScan.cpp, click-to-move in TerminalPromptClick.cpp.
//
// OSC 133 comes from programs and is never trusted: a payload that is not valid UTF-8, has an
// unknown command or an invalid option value is dropped whole and nothing is reported.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace kestrovan {

namespace {

/// The options of one OSC 133 sequence after the command letter.
struct SemanticPromptOptions
{
    SemanticPromptKind kind = SemanticPromptKind::initial;
    /// `clickEventsAbsolute` or `clickEventsRelative`; `none` when the options give neither.
    SemanticPromptClickMode clickEventsMode;
    std::optional<SemanticPromptCursorClickMode> cursorClickMode;
    bool specialKey = false;
};

/// Splits at every ";", keeping empty pieces.
std::vector<std::string_view> splitPieces(std::string_view text)
{
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(';', start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

/// Parses the pieces after the command; absent when a known key has a value it does not know,
/// which makes the whole sequence a no-op. Unknown keys (such as "aid") are skipped.
std::optional<SemanticPromptOptions> parseSemanticPromptOptions(std::span<const std::string_view> pieces)
{
    SemanticPromptOptions options;
    for (std::string_view piece : pieces) {
        const size_t equals = piece.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = piece.substr(0, equals);
        const std::string_view value = piece.substr(equals + 1);
        if (key == "k") {
            if (value == "i")
                options.kind = SemanticPromptKind::initial;
            else if (value == "r")
                options.kind = SemanticPromptKind::right;
            else if (value == "c")
                options.kind = SemanticPromptKind::continuation;
            else if (value == "s")
                options.kind = SemanticPromptKind::secondary;
            else
                return std::nullopt;
        } else if (key == "cl") {
            if (value == "line")
                options.cursorClickMode = SemanticPromptCursorClickMode::line;
            else if (value == "m")
                options.cursorClickMode = SemanticPromptCursorClickMode::multiple;
            else if (value == "v")
                options.cursorClickMode = SemanticPromptCursorClickMode::conservativeVertical;
            else if (value == "w")
                options.cursorClickMode = SemanticPromptCursorClickMode::smartVertical;
            else
                return std::nullopt;
        } else if (key == "click_events") {
            if (value == "0")
                options.clickEventsMode = SemanticPromptClickMode::none();
            else if (value == "1")
                options.clickEventsMode = SemanticPromptClickMode::clickEventsAbsolute();
            else if (value == "2")
                options.clickEventsMode = SemanticPromptClickMode::clickEventsRelative();
            else
                return std::nullopt;
        } else if (key == "special_key") {
            if (value == "0")
                options.specialKey = false;
            else if (value == "1")
                options.specialKey = true;
            else
                return std::nullopt;
        }
    }
    return options;
}

/// The click-to-move settings a prompt announces for its group: click events win over cursor
/// keys, and a prompt that names neither turns click-to-move off.
void applySemanticClickSettings(Buffer& buffer, const SemanticPromptOptions& options)
{
    SemanticPromptClickMode mode = SemanticPromptClickMode::none();
    if (options.clickEventsMode != SemanticPromptClickMode::none())
        mode = options.clickEventsMode;
    else if (options.cursorClickMode)
        mode = SemanticPromptClickMode::cursorKeys(*options.cursorClickMode);
    buffer.semanticPrompt().setClickSettings(mode, options.specialKey);
}

/// Records a mark of `kind` at the cursor (continuation prompts carry none) and redraws its row.
void markCurrentSemanticPrompt(Terminal& terminal, Buffer& buffer, SemanticPromptKind kind)
    REQUIRES(terminal.terminalLock())
{
    if (kind == SemanticPromptKind::continuation)
        return;
    buffer.setSemanticMark(kind, buffer.yBase() + buffer.y(), buffer.x());
    terminal.updateRange(buffer.y());
}

bool isRowInRing(Buffer& buffer, int row)
{
    return row >= 0 && row < buffer.lines().count();
}

} // namespace

// The steps of OSC 133 that move the cursor or open prompt groups; nested in the terminal, so they
// reach its inside like its own members.
struct Terminal::SemanticPromptSteps
{
    /// Moves to the start of a fresh line unless the cursor already stands at the line start: a
    /// prompt never begins in the middle of the previous command's last line of output.
    static void freshSemanticPromptLine(Terminal& terminal, Buffer& buffer) REQUIRES(terminal.terminalLock())
    {
        const int lineStart = terminal.mode(TerminalMode::marginMode) ? buffer.marginLeft() : 0;
        if (buffer.x() == lineStart)
            return;
        // Left of the left margin the margin is not the line start; the screen edge is.
        buffer.setX(terminal.mode(TerminalMode::marginMode) && buffer.x() < buffer.marginLeft() ? 0
                                                                                                : lineStart);
        terminal.cmdLineFeedBasic(buffer);
    }

    /// OSC 133 A (`alwaysNewGroup` false) and N (true): the start of a prompt.
    static void startSemanticPrompt(Terminal& terminal, const SemanticPromptOptions& options,
                                    bool alwaysNewGroup) REQUIRES(terminal.terminalLock())
    {
        // Held, not borrowed: ending the program statuses calls the host, which may feed a full
        // reset that replaces the normal buffer while this still writes to it.
        const std::shared_ptr<Buffer> held = terminal.activeBufferPointer();
        Buffer& buffer = *held;
        // A right prompt is drawn on the row the prompt already occupies.
        if (options.kind == SemanticPromptKind::right) {
            markCurrentSemanticPrompt(terminal, buffer, SemanticPromptKind::right);
            return;
        }
        freshSemanticPromptLine(terminal, buffer);
        if (options.kind == SemanticPromptKind::continuation) {
            buffer.semanticPrompt().setContent(SemanticContent::prompt(SemanticPromptKind::continuation));
            buffer.semanticPrompt().setInput(SemanticInputState::prompt);
            return;
        }

        const int row = buffer.yBase() + buffer.y();
        bool opensGroup = alwaysNewGroup;
        bool setsClickMode = true;
        if (!alwaysNewGroup) {
            if (options.kind == SemanticPromptKind::secondary) {
                // A secondary prompt joins the running group and keeps its click settings; it only
                // opens one when there is nothing to join.
                opensGroup = !buffer.semanticPromptStartRow().has_value();
                setsClickMode = opensGroup;
            } else {
                // A shell redrawing its prompt in place (after a resize, say) keeps the group.
                opensGroup = !buffer.canReuseSemanticGroup(row);
            }
        }

        if (opensGroup) {
            // A new prompt from A means the previous command has finished.
            if (!alwaysNewGroup)
                terminal.programStatusProcessExited();
            buffer.beginSemanticPromptGroup(row);
            // The row may have joined the old group through a line feed on the way here; it now
            // opens the new one instead.
            if (isRowInRing(buffer, row))
                buffer.lines()[row]->setSemanticHardContinuationGroup(std::nullopt);
        }
        if (setsClickMode)
            applySemanticClickSettings(buffer, options);

        markCurrentSemanticPrompt(terminal, buffer, options.kind);
        buffer.semanticPrompt().setContent(SemanticContent::prompt(options.kind));
        buffer.semanticPrompt().setInput(SemanticInputState::prompt);
    }

    /// OSC 133 P: prompt text of a kind where the cursor is, without a fresh line or an input state
    /// change; an initial one may open a group.
    static void semanticPromptText(Terminal& terminal, const SemanticPromptOptions& options)
        REQUIRES(terminal.terminalLock())
    {
        Buffer& buffer = terminal.activeBuffer();
        if (options.kind == SemanticPromptKind::initial) {
            const int row = buffer.yBase() + buffer.y();
            if (!buffer.canReuseSemanticGroup(row))
                buffer.beginSemanticPromptGroup(row);
            applySemanticClickSettings(buffer, options);
        }
        markCurrentSemanticPrompt(terminal, buffer, options.kind);
        buffer.semanticPrompt().setContent(SemanticContent::prompt(options.kind));
    }
};

void Terminal::oscSemanticPrompt(Bytes data)
{
    // Full-screen programs own the alternate screen; their output is not a shell's prompt.
    if (isCurrentBufferAlternate())
        return;
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (text.empty() || !isValidUtf8(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())))
        return;
    const std::vector<std::string_view> pieces = splitPieces(text);
    if (pieces[0].size() != 1)
        return;
    const std::optional<SemanticPromptOptions> options =
        parseSemanticPromptOptions(std::span(pieces).subspan(1));
    if (!options)
        return;

    Buffer& active = *_buffer;
    switch (pieces[0][0]) {
    case 'A': // prompt start
        SemanticPromptSteps::startSemanticPrompt(*this, *options, false);
        break;
    case 'N': // prompt start that always opens a new group
        SemanticPromptSteps::startSemanticPrompt(*this, *options, true);
        break;
    case 'P': // prompt text
        SemanticPromptSteps::semanticPromptText(*this, *options);
        break;
    case 'B': // end of prompt, start of the command line
    case 'I':
        active.semanticPrompt().setContent(SemanticContent::input());
        active.semanticPrompt().setInput(SemanticInputState::armed);
        break;
    case 'C': // command running (C) or finished (D); an exit status after D changes nothing
    case 'D':
        active.semanticPrompt().setContent(SemanticContent::output());
        active.semanticPrompt().setInput(SemanticInputState::submitted);
        // The row the echoed Enter left the cursor on carries output, not the command line.
        clearEchoedEnterContinuationBeforeOutput();
        break;
    case 'L': // fresh line only
        SemanticPromptSteps::freshSemanticPromptLine(*this, active);
        break;
    default:
        break;
    }
}

void Terminal::finishSemanticLineAdvance(Buffer& buffer, bool movedToNextLine)
{
    if (!movedToNextLine)
        return;
    if (!buffer.semanticPrompt().isEditingCommandLine())
        return;
    const int row = buffer.yBase() + buffer.y();
    if (!isRowInRing(buffer, row))
        return;
    // While the command line is being edited, a line feed means the command goes on past a hard
    // line break (a continuation prompt after Enter inside an unfinished command): the new row
    // joins the active group.
    BufferLine& line = *buffer.lines()[row];
    const std::optional<uint64_t> group = line.semanticHardContinuationGroup();
    if (group == buffer.semanticPrompt().activeGroupID())
        return;
    // A row that belonged to an older group (the screen scrolled back onto it, or the cursor was
    // moved up) must not keep claiming that group's prompt and input cells.
    if (group)
        buffer.clearStaleSemanticCells(line);
    line.setSemanticHardContinuationGroup(buffer.semanticPrompt().activeGroupID());
}

void Terminal::semanticNoteAlternateScreenSwitch()
{
    // A full-screen program took over (or gave back) the screen, so whatever command line was
    // being edited has been submitted; cells printed from now on are its output.
    for (Buffer* buffer : {normalBuffer_.get(), altBuffer_.get()}) {
        if (buffer)
            buffer->semanticPrompt().submitCommandLine();
    }
}

void Terminal::resetSemanticPromptState()
{
    for (Buffer* buffer : {normalBuffer_.get(), altBuffer_.get()}) {
        if (!buffer)
            continue;
        buffer->semanticPrompt().endPrompt();
        // Only the screen rows: marks in the scrollback still tell where earlier prompts were.
        // Empty slots hold no marks and are not filled here.
        CircularBufferLineList& lines = buffer->lines();
        const int first = std::max(buffer->yBase(), 0);
        const int end = std::min(buffer->yBase() + buffer->rows(), lines.count());
        for (int row = first; row < end; ++row) {
            const std::shared_ptr<BufferLine>& line = lines.lineIfPresent(row);
            if (!line)
                continue;
            line->clearSemanticMarks();
            line->setSemanticHardContinuationGroup(std::nullopt);
        }
    }
    semanticInputScanner_.reset();
}

void Terminal::sendUserInput(Bytes data)
{
    registerUserInput(data);
    sendBytes(data);
}

bool Terminal::registerUserInput(Bytes data)
{
    if (!semanticInputScanner_.scan(data))
        return false;
    if (_buffer->semanticPrompt().input() == SemanticInputState::armed)
        _buffer->semanticPrompt().setInput(SemanticInputState::submitted);
    return true;
}

std::optional<SemanticContent> Terminal::semanticContent(Position at) const
{
    const Buffer& active = buffer();
    if (at.col < 0 || at.col >= _cols || at.row < 0 || at.row >= active.lines().count())
        return std::nullopt;
    const CircularBufferLineList::ConstLinePointer stored =
        active.lines().lineIfPresent(static_cast<int>(at.row));
    // A slot that holds no line reads as a blank line, whose cells carry no content code.
    if (!stored || stored->count() < 1)
        return SemanticContent::none();
    const BufferLine& line = *stored;
    // A column past a line that is narrower than the screen reads the line's last cell.
    const int column = std::min(static_cast<int>(at.col), line.count() - 1);
    return SemanticContent::fromCode(line.packed(column).semanticCode());
}

std::optional<int> Terminal::semanticRow(const BufferLine& forLineIdentity, uint64_t recycleGeneration) const
{
    // A recycled line object now holds another row's content; it is not the line asked about.
    if (forLineIdentity.recycleGeneration() != recycleGeneration)
        return std::nullopt;
    const Buffer& active = buffer();
    // Lines asked about are nearly always those of the active prompt group, so start there.
    return active.findRow(active.semanticPrompt().startRowHint(),
                          [&forLineIdentity](const BufferLine& line) { return &line == &forLineIdentity; });
}

} // namespace kestrovan
