#include "Kestrovan/TerminalIOGatherPacing.h"

#include <gtest/gtest.h>

using kestrovan::TerminalIOGatherPacing;
using Action = TerminalIOGatherPacing::Action;

namespace {

constexpr uint64_t us = 1000;
constexpr uint64_t ms = 1000 * us;

// A pacing in the middle of sustained output: the burst began long ago, the last wait was short.
TerminalIOGatherPacing streaming(uint64_t now)
{
    TerminalIOGatherPacing pacing;
    pacing.beginSlot(now - 100 * ms); // the burst starts here
    pacing.gap = 50 * us;
    pacing.beginSlot(now);
    return pacing;
}

} // namespace

TEST(TerminalIOGatherPacing, InteractiveOutputIsHandedOnWithoutANap)
{
    // A keystroke echo after an idle gap of 5 ms or more starts a burst and goes out at once.
    TerminalIOGatherPacing pacing = streaming(1000 * ms);
    pacing.gap = 5 * ms;
    pacing.beginSlot(2000 * ms);
    EXPECT_EQ(pacing.burstStart, 2000 * ms);
    EXPECT_EQ(pacing.afterEmptyRead(3, 2000 * ms + 10 * us), Action::publish);

    // The first output after the thread starts counts as a burst too.
    TerminalIOGatherPacing fresh;
    fresh.beginSlot(5 * ms);
    EXPECT_EQ(fresh.afterEmptyRead(1, 5 * ms + 1 * us), Action::publish);

    // Still within the first 2 ms of the burst: no naps yet.
    EXPECT_EQ(fresh.afterEmptyRead(1, 5 * ms + 1999 * us), Action::publish);

    // Nothing gathered: wait for the descriptor without handing anything on.
    EXPECT_EQ(fresh.afterEmptyRead(0, 5 * ms + 1 * us), Action::idleWait);
}

TEST(TerminalIOGatherPacing, SustainedSmallOutputIsGatheredWithNapsWhileTheSlotIsYoung)
{
    const uint64_t start = 1000 * ms;
    TerminalIOGatherPacing pacing = streaming(start);
    EXPECT_EQ(pacing.afterEmptyRead(100, start + 10 * us), Action::nap);
    pacing.noteNap(100);
    // More came during the nap: nap again.
    EXPECT_EQ(pacing.afterEmptyRead(300, start + 40 * us), Action::nap);
    pacing.noteNap(300);
    // A nap that brought nothing hands the slot on.
    EXPECT_EQ(pacing.afterEmptyRead(300, start + 70 * us), Action::publish);

    // A slot 1 ms old is handed on even while output keeps trickling in.
    pacing = streaming(start);
    EXPECT_EQ(pacing.afterEmptyRead(100, start + 10 * us), Action::nap);
    pacing.noteNap(100);
    EXPECT_EQ(pacing.afterEmptyRead(200, start + 1 * ms), Action::publish);

    // A small slot right after a bulk slot goes out without a nap.
    pacing = streaming(start);
    pacing.notePublished(65536);
    EXPECT_TRUE(pacing.previousSlotWasBulk);
    pacing.beginSlot(start + 1 * ms);
    EXPECT_EQ(pacing.afterEmptyRead(100, start + 1 * ms + 10 * us), Action::publish);
    pacing.notePublished(100);
    EXPECT_FALSE(pacing.previousSlotWasBulk);
}

TEST(TerminalIOGatherPacing, LargeSlotsRetryThenBridgeAndBulkAfterNapsHoldsNapsOff)
{
    const uint64_t start = 1000 * ms;
    TerminalIOGatherPacing pacing = streaming(start);
    // Sixteen immediate retries, then the bridging poll.
    for (int retry = 0; retry < TerminalIOGatherPacing::immediateRetries; ++retry)
        ASSERT_EQ(pacing.afterEmptyRead(4096, start), Action::retry) << "retry " << retry;
    EXPECT_EQ(pacing.afterEmptyRead(4096, start), Action::bridge);
    // A successful read starts the count again.
    pacing.noteBytesRead();
    EXPECT_EQ(pacing.afterEmptyRead(8192, start), Action::retry);

    // The bridging polls of one slot last at most 3 ms from the first of them.
    EXPECT_FALSE(pacing.bridgeExpired(start + 10 * us));
    pacing.noteBridgeRead();
    EXPECT_FALSE(pacing.bridgeExpired(start + 10 * us + 2999 * us));
    EXPECT_TRUE(pacing.bridgeExpired(start + 10 * us + 3 * ms));

    // After a nap, a large read publishes; two such slots in a row stop naps for 10 ms.
    uint64_t now = start;
    for (int slot = 0; slot < 2; ++slot) {
        pacing.beginSlot(now);
        pacing.gap = 50 * us;
        ASSERT_EQ(pacing.afterEmptyRead(100, now + 10 * us), Action::nap) << "slot " << slot;
        pacing.noteNap(100);
        EXPECT_EQ(pacing.afterEmptyRead(100 + 2048, now + 40 * us), Action::publish);
        pacing.notePublished(100 + 2048);
        now += 100 * us;
    }
    EXPECT_EQ(pacing.largeReadStreak, 0);
    EXPECT_EQ(pacing.holdOffUntil, start + 100 * us + 40 * us + TerminalIOGatherPacing::holdOffNs);
    pacing.beginSlot(now);
    EXPECT_EQ(pacing.afterEmptyRead(100, now + 10 * us), Action::publish) << "napped during the hold-off";
    now = pacing.holdOffUntil;
    pacing.beginSlot(now);
    EXPECT_EQ(pacing.afterEmptyRead(100, now + 10 * us), Action::nap) << "naps did not come back";

    // After a nap, fewer than 1024 new bytes in a large slot end the streak.
    pacing.noteNap(2000);
    EXPECT_EQ(pacing.afterEmptyRead(2500, now + 40 * us), Action::publish);
    EXPECT_EQ(pacing.largeReadStreak, 0);
}

TEST(TerminalIOGatherPacing, OnlyALongGapStartsANewBurst)
{
    TerminalIOGatherPacing pacing = streaming(1000 * ms);
    const uint64_t burst = pacing.burstStart;
    pacing.gap = 0; // after a full slot
    pacing.beginSlot(1001 * ms);
    EXPECT_EQ(pacing.burstStart, burst);
    pacing.gap = 4999 * us;
    pacing.beginSlot(1002 * ms);
    EXPECT_EQ(pacing.burstStart, burst);
    pacing.holdOffUntil = 2000 * ms;
    pacing.gap = 5 * ms;
    pacing.beginSlot(1010 * ms);
    EXPECT_EQ(pacing.burstStart, 1010 * ms);
    EXPECT_EQ(pacing.holdOffUntil, 0u) << "a new burst keeps an old hold-off";
}
