// The mouse-reporting state packed for hosts.
#include "Kestrovan/MouseReportingState.h"

namespace kestrovan {

uint32_t MouseReportingState::hostBits() const
{
    uint32_t bits = static_cast<uint32_t>(mouseMode_) | static_cast<uint32_t>(mouseProtocol_) << 3;
    if (mouseShiftCapture_)
        bits |= 64;
    if (alternateScrollMode_)
        bits |= 128;
    return bits;
}

} // namespace kestrovan
