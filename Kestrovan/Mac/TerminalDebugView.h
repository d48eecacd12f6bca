// A developer's overlay for one terminal view: the raw slots of the current buffer's line ring
// beside its logical lines, with the cursor, the display and base rows and the ring's start.
//
// The program never makes one; a host that does shows `overlay()` as a subview of the view and
// gives the view the debug view (`MacTerminalView::setDebugView`), which then refreshes it after
// every prepared frame.
#pragma once

#include "Kestrovan/Mac/MacOverlays.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrovan {

class TerminalView;

class TerminalDebugView
{
public:
    struct Row
    {
        int logicalIndex = 0;
        int cyclicIndex = 0;
        bool isDisplayRow = false;
        bool isBaseRow = false;
        std::string physicalText;
        std::string logicalText;
    };
    struct Snapshot
    {
        std::string status;
        std::vector<Row> rows;
    };

    /// A debug view of `terminal`, showing "WAITING" until its first update.
    explicit TerminalDebugView(std::shared_ptr<TerminalView> terminal);

    /// Takes a snapshot under the terminal lock and shows it.
    void update();
    /// The status line: "WAITING" before the first update.
    std::string status() const;
    const std::optional<Snapshot>& latestSnapshot() const { return latestSnapshot_; }
    const std::shared_ptr<DebugTextOverlay>& overlay() const { return overlay_; }
    /// The row's line as drawn: "[LLL:CCC]DB" physical text, then "[LLL]DB" logical text.
    static std::string format(const Row& row);

private:
    Snapshot takeSnapshot();

    std::shared_ptr<TerminalView> terminal_;
    std::shared_ptr<DebugTextOverlay> overlay_;
    std::optional<Snapshot> latestSnapshot_;
};

} // namespace kestrovan
