// What keeps a run of column-mode switches going (ColumnSwitchRun.h).
#include "Kestrovan/ColumnSwitchRun.h"

#include "Kestrovan/Buffer.h"

#include <algorithm>
#include <limits>

namespace kestrovan {

bool ColumnSwitchRun::keptByCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect)
{
    // SGR, and the cursor moves that stay on the screen: CUU, CUD, CUF, CUB, CHA, HPA, VPA,
    // CUP and HVP.
    switch (code) {
    case 'm':
    case 'A':
    case 'B':
    case 'C':
    case 'D':
    case 'G':
    case '`':
    case 'd':
    case 'H':
    case 'f':
        return collect.empty();
    default:
        break;
    }
    if ((code != 'h' && code != 'l') || collect.size() != 1 || collect[0] != '?')
        return false;
    for (int index = 0; index < pars.count; ++index) {
        if (pars.base[index] != 3)
            return false;
    }
    return true;
}

bool ColumnSwitchRun::keptByPrint(const Buffer& active, bool activeIsNormal, size_t bytes)
{
    // Every cell takes at least one byte, so the bytes bound the rows the text can wrap over.
    if (!activeIsNormal)
        return false;
    if (!active.wraparound())
        return true;
    const int64_t columns = int64_t(active.columnAfterPrinted()) +
                            int64_t(std::min<size_t>(bytes, size_t(std::numeric_limits<int32_t>::max())));
    return active.y() + columns / active.cols() < active.scrollBottom();
}

bool ColumnSwitchRun::keptByExecute(uint8_t code, const Buffer& active, bool activeIsNormal,
                                    bool reverseWraps)
{
    switch (code) {
    case 0x08: // BS: a reverse wrap may step onto the row above
        return !reverseWraps;
    case 0x09: // HT
    case 0x0D: // CR
    case 0x0E: // SO
    case 0x0F: // SI
    case 0x88: // HTS
        return true;
    case 0x0A: // LF, VT, FF, IND and NEL scroll only on the region's last row.
    case 0x0B:
    case 0x0C:
    case 0x84:
    case 0x85:
        return activeIsNormal && active.y() < active.scrollBottom();
    default:
        return false;
    }
}

} // namespace kestrovan
