// A buffer's shell-integration (OSC 133) state: what printed cells are tagged with, how far the
// command line has got, the click-to-move settings of the active prompt group, and that group's
// id and start line.
//
// Each buffer owns one. The terminal changes it through its buffer while handling OSC 133 and
// user input; every other reader reaches it through a `const Buffer&` and can only read it.
#pragma once

#include "Kestrovan/SemanticContent.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

namespace kestrovan {

class BufferLine;

class SemanticPromptState
{
public:
    /// The content code stamped into every printed cell.
    SemanticContent content() const { return content_; }
    void setContent(SemanticContent content) { content_ = content; }

    SemanticInputState input() const { return input_; }
    void setInput(SemanticInputState input) { input_ = input; }
    /// Whether the command line is being drawn or edited: a line feed then continues the active
    /// prompt group instead of ending it.
    bool isEditingCommandLine() const
    {
        return input_ == SemanticInputState::prompt || input_ == SemanticInputState::armed;
    }
    /// The command line was submitted (a full-screen program took the screen): the input state
    /// says so, and cells printed from now on are output, not prompt or input.
    void submitCommandLine()
    {
        input_ = SemanticInputState::submitted;
        if (content_.isPrompt() || content_.contentCase() == SemanticContent::Case::input)
            content_ = SemanticContent::output();
    }

    /// How a click on the active group's command line moves the cursor.
    const SemanticPromptClickMode& clickMode() const { return clickMode_; }
    /// Whether cursor-key clicks send the keys an application-cursor-mode shell expects.
    bool usesSpecialCursorKeys() const { return usesSpecialCursorKeys_; }
    void setClickSettings(SemanticPromptClickMode mode, bool usesSpecialCursorKeys)
    {
        clickMode_ = mode;
        usesSpecialCursorKeys_ = usesSpecialCursorKeys;
    }

    /// The id of the active prompt group; 0 is none.
    uint64_t activeGroupID() const { return activeGroupID_; }
    /// The last group id handed out.
    uint64_t groupCounter() const { return groupCounter_; }
    /// Opens a new group whose start line is `line`, found at ring row `row`: a fresh id, never 0
    /// (the counter wraps past the largest id to 1).
    void openGroup(std::shared_ptr<BufferLine> line, int row)
    {
        groupCounter_ = std::max<uint64_t>(groupCounter_ + 1, 1);
        activeGroupID_ = groupCounter_;
        startLine_ = std::move(line);
        startRowHint_ = row;
    }

    /// The line object on which the active prompt group began; null when none is known.
    const std::shared_ptr<BufferLine>& startLine() const { return startLine_; }
    /// The start line is now `line`, found at ring row `row`.
    void bindStartLine(std::shared_ptr<BufferLine> line, int row)
    {
        startLine_ = std::move(line);
        startRowHint_ = row;
    }
    /// The start line's content moved to the line object `line` (a reflow rebuilt it); its row
    /// is unknown, so the hint stays.
    void followStartLine(std::shared_ptr<BufferLine> line) { startLine_ = std::move(line); }
    void forgetStartLine() { startLine_.reset(); }

    /// The row where the start line was last found: only a hint, which the read-only lookups
    /// keep up to date too (it never changes an answer, only how fast one is found).
    int startRowHint() const { return startRowHint_; }
    void noteStartRow(int row) const { startRowHint_ = row; }
    /// How often the start row had to be searched for, beyond the hint: a diagnostic counter.
    int64_t startRowScanCount() const { return startRowScanCount_; }
    void countStartRowScan() const { startRowScanCount_ += 1; }

    /// The prompt is over (a reset): no content code, no command line, no click settings and no
    /// start line. The group ids and the row hint are kept.
    void endPrompt()
    {
        content_ = SemanticContent::none();
        input_ = SemanticInputState::idle;
        clickMode_ = SemanticPromptClickMode::none();
        usesSpecialCursorKeys_ = false;
        startLine_.reset();
    }
    /// `endPrompt`, and group ids start again from 1 (the buffer was emptied).
    void clear()
    {
        endPrompt();
        groupCounter_ = 0;
        activeGroupID_ = 0;
    }

    /// For tests that need the counter at a value only billions of prompts would reach.
    void setGroupCounterForTesting(uint64_t counter) { groupCounter_ = counter; }

private:
    // The order keeps the small fields together at the front, where the print paths read
    // `content_`.
    SemanticContent content_;
    SemanticInputState input_ = SemanticInputState::idle;
    SemanticPromptClickMode clickMode_;
    bool usesSpecialCursorKeys_ = false;
    /// Held as the object, not as a row, because rows move as the scrollback scrolls and the
    /// buffer reflows; holding it strongly keeps at most one stray line alive once it leaves the
    /// ring, and lines do not own their buffer, so no cycle forms.
    std::shared_ptr<BufferLine> startLine_;
    mutable int startRowHint_ = 0;
    mutable int64_t startRowScanCount_ = 0;
    uint64_t groupCounter_ = 0;
    uint64_t activeGroupID_ = 0;
};

} // namespace kestrovan
