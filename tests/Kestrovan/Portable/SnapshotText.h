// The text a snapshot row shows, for comparisons in the snapshot tests.
#pragma once

#include "Kestrovan/Portable/RenderSnapshot.h"

#include <string>

namespace kestrovan::testing {

/// The row's text without the spacer cells of wide characters and without trailing blanks.
inline std::string snapshotRowText(const RenderSnapshotRow& row)
{
    std::string out;
    for (const RenderSnapshotCell& cell : row.cells)
        if (cell.widthState != RenderSnapshotWidthState::spacerTail)
            out += cell.text.empty() ? std::string(" ") : cell.text;
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

} // namespace kestrovan::testing
