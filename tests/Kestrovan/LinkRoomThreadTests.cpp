// Terminals fed on threads of their own take link codes from each other when the process-wide
// table is full: only by trying each other's locks, so none waits for another and none is left
// holding a code another terminal's cell still shows. A quiet terminal beside busy ones keeps
// linking what it prints, although their locks are nearly always taken.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace kestrovan::testing {
namespace {

/// `links` distinct one-word links, five to a line, each word in a column of 16, numbered from
/// `first`.
std::string distinctLinks(int terminal, int links, int first = 0)
{
    std::string output;
    for (int link = 0; link < links; ++link) {
        const std::string word = std::to_string(terminal) + "-" + std::to_string(first + link);
        output += osc8(";https://example.invalid/" + word) + word + osc8(";");
        output += std::string(16 - word.size(), ' ');
        if (link % 5 == 4)
            output += "\r\n";
    }
    return output;
}

/// Cells anywhere whose link is not the one their word was printed under.
int wrongTargets(Terminal& t)
{
    int wrong = 0;
    const Buffer& buffer = t.buffer();
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = buffer.lines().lineOrEmpty(row);
        const std::string text = lineText(line, line.count());
        for (int col = 0; col < int(text.size()); ++col) {
            const size_t start = size_t(col) / 16 * 16;
            const std::string word = text.substr(start, text.find(' ', start) - start);
            const std::optional<std::string> target = stringPayload(line.packed(col));
            wrong += target && *target != ";https://example.invalid/" + word;
        }
    }
    return wrong;
}

TEST(LinkRoomThreadTests, TerminalsOnTheirOwnThreadsTakeCodesFromEachOther)
{
    // Together they print more links than the table holds.
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

    int holdersTried = 0;
    for (int terminal = 0; terminal < terminals; ++terminal) {
        Terminal& t = fixtures[size_t(terminal)]->t();
        TerminalLockGuard guard(t.terminalLock());
        EXPECT_EQ(wrongTargets(t), 0) << "terminal " << terminal;
        EXPECT_LE(t.innerState().payloads->count, PayloadState::maximumHeldCodes);
        holdersTried += t.innerState().payloads->holdersTried;
    }
    EXPECT_GT(holdersTried, 0) << "the table filled, and terminals tried each other's locks";

    // Once they are idle, a new terminal gets every link it prints.
    TerminalFixture late(80, 25, 5000);
    Terminal& t = late.t();
    TerminalLockGuard guard(t.terminalLock());
    t.feed(distinctLinks(terminals, 20));
    for (int link = 0; link < 20; ++link)
        EXPECT_TRUE(stringPayload(t.buffer().lines().lineOrEmpty(link / 5).packed(link % 5 * 16)))
            << "link " << link;
    EXPECT_EQ(wrongTargets(t), 0);
}

TEST(LinkRoomThreadTests, AQuietTerminalKeepsLinkingBesideBusyOnes)
{
    // Five terminals on threads of their own print linked listings in 64 KB feeds, back to back
    // or letting others in between, and fill the table. A sixth prints 25 linked names each time
    // one of them has fed again, and links all of them.
    for (const bool backToBack : {true, false}) {
        SCOPED_TRACE(backToBack ? "back to back" : "letting others in");
        constexpr int busyTerminals = 5;
        std::vector<std::unique_ptr<TerminalFixture>> busy;
        std::atomic<int> feeds = 0;
        std::atomic<bool> done = false;
        for (int terminal = 0; terminal < busyTerminals; ++terminal)
            busy.push_back(std::make_unique<TerminalFixture>(80, 25, 5000));
        TerminalFixture quiet(80, 25, 5000);
        std::vector<std::thread> threads;
        for (int terminal = 0; terminal < busyTerminals; ++terminal) {
            threads.emplace_back([&, terminal] {
                Terminal& t = busy[size_t(terminal)]->t();
                for (int round = 0; !done; ++round) {
                    const std::string output = distinctLinks(terminal, 64 * 1024 / 64, round * 1024);
                    {
                        TerminalLockGuard guard(t.terminalLock());
                        t.feed(output);
                    }
                    feeds += 1;
                    if (!backToBack)
                        std::this_thread::yield();
                }
            });
        }
        // The listings start once the table is full.
        while (TinyAtom::freeCodeCount() > PayloadState::sharedReserve)
            std::this_thread::yield();

        Terminal& t = quiet.t();
        int fullListings = 0;
        for (int listing = 0; listing < 40; ++listing) {
            for (const int before = feeds; feeds == before;)
                std::this_thread::yield();
            TerminalLockGuard guard(t.terminalLock());
            t.feed(distinctLinks(busyTerminals, 25, listing * 25));
            // The listing is the five rows above the cursor.
            const Buffer& buffer = t.buffer();
            int linked = 0;
            for (int link = 0; link < 25; ++link) {
                const int row = buffer.yBase() + buffer.y() - 5 + link / 5;
                linked += stringPayload(buffer.lines().lineOrEmpty(row).packed(link % 5 * 16)).has_value();
            }
            fullListings += linked == 25;
        }
        done = true;
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_GE(fullListings, 39);

        for (Terminal* each :
             {&busy[0]->t(), &busy[1]->t(), &busy[2]->t(), &busy[3]->t(), &busy[4]->t(), &t}) {
            TerminalLockGuard guard(each->terminalLock());
            EXPECT_EQ(wrongTargets(*each), 0);
        }
    }
}

} // namespace
} // namespace kestrovan::testing
