// A frame over an unchanged screen allocates nothing per row: the refresh of a 50-row screen
// allocates exactly as much as that of a 10-row one, and only a few blocks in all (the frame's
// render context and cursor). This file replaces the binary's global allocation functions (see
// CountingAllocator.h); they count only between `startCounting()` and `stopCounting()`.
#include "CountingAllocator.h"

#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/RecordingTerminalDelegate.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrovan {
namespace {

/// Allocations of one refresh of a warm snapshot of a `rows`-row screen of coloured text, with
/// `change` fed before it.
long refreshAllocations(int rows, std::string_view change)
{
    testing::TerminalFixture f(200, rows);
    for (int row = 0; row < rows; ++row) {
        std::string line = "\x1b[" + std::to_string(31 + row % 7) + "mline " + std::to_string(row) +
                           " \x1b[1;4mbold e\xcc\x81 \xe4\xb8\xad\x1b[0m";
        f.t().feed(std::string_view(line + (row + 1 < rows ? "\r\n" : "")));
    }
    TerminalSnapshot snapshot;
    const FrameViewState state = testing::viewState(200, rows);
    testing::refresh(snapshot, f.t(), state);
    testing::refresh(snapshot, f.t(), state);
    f.t().feed(change);
    TerminalLockGuard guard(f.t().terminalLock());
    counting::startCounting();
    snapshot.refresh(f.t(), state, SnapshotSelectionState(), false);
    return counting::stopCounting();
}

TEST(SnapshotAllocationTests, AnUnchangedRowCostsNoAllocation)
{
    const long small = refreshAllocations(10, "");
    const long large = refreshAllocations(50, "");
    EXPECT_EQ(small, large) << "allocations grow with the number of unchanged rows";
    EXPECT_LE(large, 8) << "per frame";
    // A changed line is copied into the row's own storage, which is reused: its cells cost
    // nothing; what it allocates is its cluster's resolved text and its bidi paragraph key.
    const long changed = refreshAllocations(50, "\x1b[1;1Hchanged");
    EXPECT_LE(changed - large, 6);
}

} // namespace
} // namespace kestrovan
