#include "Kestrovan/Apple/WheelReportBudget.h"

#include <algorithm>

namespace kestrovan {

int WheelReportBudget::grant(int requested, uint64_t nowNanoseconds)
{
    if (requested < 1)
        return 0;
    // A clock reading earlier than the stamp refills nothing and keeps the stamp, so the time in
    // between is not counted twice once the clock catches up.
    double elapsedSeconds = 0;
    if (nowNanoseconds >= stampNanoseconds) {
        elapsedSeconds = double(nowNanoseconds - stampNanoseconds) / 1e9;
        stampNanoseconds = nowNanoseconds;
    }
    allowance = std::min(allowance + elapsedSeconds * refillPerSecond, capacity);
    const int granted = std::min(requested, static_cast<int>(allowance));
    allowance -= granted;
    return granted;
}

} // namespace kestrovan
