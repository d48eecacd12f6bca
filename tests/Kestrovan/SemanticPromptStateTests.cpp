#include "Kestrovan/BufferLine.h"
#include "Kestrovan/SemanticPromptState.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using kestrovan::BufferLine;
using kestrovan::SemanticContent;
using kestrovan::SemanticInputState;
using kestrovan::SemanticPromptClickMode;
using kestrovan::SemanticPromptCursorClickMode;
using kestrovan::SemanticPromptKind;
using kestrovan::SemanticPromptState;

namespace {

std::shared_ptr<BufferLine> someLine()
{
    return std::make_shared<BufferLine>(4);
}

} // namespace

// Submitting the command line (a full-screen program took the screen) turns prompt and input
// tagging into output and leaves other tagging alone, whatever the input state was.
TEST(SemanticPromptStateTests, SubmittingTagsWhatFollowsAsOutput)
{
    struct Case
    {
        std::string name;
        SemanticContent before;
        SemanticContent after;
    };
    const std::vector<Case> cases = {
        {"initial prompt", SemanticContent::prompt(SemanticPromptKind::initial), SemanticContent::output()},
        {"right prompt", SemanticContent::prompt(SemanticPromptKind::right), SemanticContent::output()},
        {"continuation prompt", SemanticContent::prompt(SemanticPromptKind::continuation),
         SemanticContent::output()},
        {"secondary prompt", SemanticContent::prompt(SemanticPromptKind::secondary),
         SemanticContent::output()},
        {"input", SemanticContent::input(), SemanticContent::output()},
        {"output", SemanticContent::output(), SemanticContent::output()},
        {"none", SemanticContent::none(), SemanticContent::none()},
    };
    for (const SemanticInputState input : {SemanticInputState::idle, SemanticInputState::prompt,
                                           SemanticInputState::armed, SemanticInputState::submitted}) {
        for (const Case& c : cases) {
            SemanticPromptState state;
            state.setContent(c.before);
            state.setInput(input);
            state.submitCommandLine();
            EXPECT_EQ(state.content(), c.after) << c.name << ", input " << int(input);
            EXPECT_EQ(state.input(), SemanticInputState::submitted) << c.name << ", input " << int(input);
            EXPECT_FALSE(state.isEditingCommandLine()) << c.name;
        }
    }
}

// A line feed joins rows to the group only while the command line is drawn or edited.
TEST(SemanticPromptStateTests, EditingTheCommandLineIsPromptOrArmed)
{
    const std::vector<std::pair<SemanticInputState, bool>> cases = {
        {SemanticInputState::idle, false},
        {SemanticInputState::prompt, true},
        {SemanticInputState::armed, true},
        {SemanticInputState::submitted, false},
    };
    for (const auto& [input, editing] : cases) {
        SemanticPromptState state;
        state.setInput(input);
        EXPECT_EQ(state.isEditingCommandLine(), editing) << int(input);
    }
}

// Group ids: each opened group gets the next id, the id after the largest is 1 (0 means none),
// and what a reset and a clear keep differs.
TEST(SemanticPromptStateTests, GroupsAndResets)
{
    struct Case
    {
        std::string name;
        uint64_t counterBefore;
        int groupsOpened;
        uint64_t activeAfter;
    };
    const std::vector<Case> cases = {
        {"first group", 0, 1, 1},
        {"third group", 0, 3, 3},
        {"after the largest id", std::numeric_limits<uint64_t>::max(), 1, 1},
        {"one before the largest", std::numeric_limits<uint64_t>::max() - 1, 1,
         std::numeric_limits<uint64_t>::max()},
    };
    for (const Case& c : cases) {
        SemanticPromptState state;
        state.setGroupCounterForTesting(c.counterBefore);
        std::shared_ptr<BufferLine> line;
        for (int group = 0; group < c.groupsOpened; ++group) {
            line = someLine();
            state.openGroup(line, 5 + group);
        }
        EXPECT_EQ(state.activeGroupID(), c.activeAfter) << c.name;
        EXPECT_EQ(state.groupCounter(), c.activeAfter) << c.name;
        EXPECT_EQ(state.startLine(), line) << c.name;
        EXPECT_EQ(state.startRowHint(), 4 + c.groupsOpened) << c.name;
    }

    // A reset ends the prompt but keeps the ids; a clear (the buffer emptied) drops them too.
    // Both keep the row hint, which only speeds up a search.
    for (const bool clear : {false, true}) {
        SemanticPromptState state;
        state.openGroup(someLine(), 3);
        state.openGroup(someLine(), 7);
        state.setContent(SemanticContent::input());
        state.setInput(SemanticInputState::armed);
        state.setClickSettings(SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::line),
                               true);
        if (clear)
            state.clear();
        else
            state.endPrompt();
        EXPECT_EQ(state.content(), SemanticContent::none()) << clear;
        EXPECT_EQ(state.input(), SemanticInputState::idle) << clear;
        EXPECT_EQ(state.clickMode(), SemanticPromptClickMode::none()) << clear;
        EXPECT_FALSE(state.usesSpecialCursorKeys()) << clear;
        EXPECT_EQ(state.startLine(), nullptr) << clear;
        EXPECT_EQ(state.startRowHint(), 7) << clear;
        EXPECT_EQ(state.activeGroupID(), clear ? 0u : 2u) << clear;
        EXPECT_EQ(state.groupCounter(), clear ? 0u : 2u) << clear;
    }
}
