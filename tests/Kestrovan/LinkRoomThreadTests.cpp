// Terminals fed on threads of their own take link codes from each other when the process-wide
// table is full: only by trying each other's locks, so none waits for another and none is left
// holding a code another terminal's cell still shows.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"

#include <gtest/gtest.h>
#include <thread>

namespace kestrovan::testing {
namespace {

/// `links` distinct one-word links, each on a line of its own.
std::string distinctLinks(int terminal, int links)
{
    std::string output;
    for (int link = 0; link < links; ++link) {
        const std::string word = std::to_string(terminal) + "-" + std::to_string(link);
        output += osc8(";https://example.invalid/" + word) + word + osc8(";") + "\r\n";
    }
    return output;
}

/// Cells anywhere whose link is not the one their line's word was printed under.
int wrongTargets(Terminal& t)
{
    int wrong = 0;
    const Buffer& buffer = t.buffer();
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = buffer.lines().lineOrEmpty(row);
        const std::string word = lineText(line, line.count());
        for (int col = 0; col < int(word.size()); ++col) {
            const std::optional<std::string> target = stringPayload(line.packed(col));
            wrong += target && *target != ";https://example.invalid/" + word;
        }
    }
    return wrong;
}

TEST(LinkRoomThreadTests, TerminalsOnTheirOwnThreadsTakeCodesFromEachOther)
{
    constexpr int terminals = 5;
    std::vector<std::unique_ptr<TerminalFixture>> fixtures;
    for (int terminal = 0; terminal < terminals; ++terminal)
        fixtures.push_back(std::make_unique<TerminalFixture>(80, 25, 5000));
    std::vector<std::thread> threads;
    for (int terminal = 0; terminal < terminals; ++terminal) {
        threads.emplace_back([&, terminal] {
            Terminal& t = fixtures[size_t(terminal)]->t();
            const std::string output = distinctLinks(terminal, 20000);
            for (size_t at = 0; at < output.size(); at += 4096) {
                TerminalLockGuard guard(t.terminalLock());
                t.feed(std::string_view(output).substr(at, 4096));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int terminal = 0; terminal < terminals; ++terminal) {
        Terminal& t = fixtures[size_t(terminal)]->t();
        TerminalLockGuard guard(t.terminalLock());
        EXPECT_EQ(wrongTargets(t), 0) << "terminal " << terminal;
        EXPECT_LE(t.innerState().payloads->count, PayloadState::maximumHeldCodes);
    }

    // Once they are idle, a new terminal gets every link it prints.
    TerminalFixture late(80, 25, 5000);
    Terminal& t = late.t();
    TerminalLockGuard guard(t.terminalLock());
    t.feed(distinctLinks(terminals, 20));
    for (int row = 0; row < 20; ++row)
        EXPECT_TRUE(stringPayload(t.buffer().lines().lineOrEmpty(row).packed(0))) << "row " << row;
    EXPECT_EQ(wrongTargets(t), 0);
}

} // namespace
} // namespace kestrovan::testing
