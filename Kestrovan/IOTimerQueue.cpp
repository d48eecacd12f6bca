#include "Kestrovan/IOTimerQueue.h"

#include <string>

namespace kestrovan {

platform::TimerQueue& IOTimerQueue::shared()
{
    // Never destroyed: a timer that fires while the process exits must not find its queue gone,
    // and a static's destructor would have to join a thread that might be the one calling exit.
    static platform::TimerQueue* const queue = new platform::TimerQueue(std::string(label));
    return *queue;
}

} // namespace kestrovan
