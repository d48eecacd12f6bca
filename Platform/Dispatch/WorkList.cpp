#include "Platform/Dispatch/WorkList.h"

namespace platform {

void WorkList::push(std::function<void()> work)
{
    {
        MutexLock lock(mutex_);
        items_.push_back(std::move(work));
    }
    wakeUp_.notify_one();
}

void WorkList::stop()
{
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_all();
}

void WorkList::runUntilStopped()
{
    MutexLock lock(mutex_);
    for (;;) {
        while (!stopping_ && items_.empty())
            mutex_.wait(wakeUp_);
        if (items_.empty())
            break;
        {
            std::function<void()> item = std::move(items_.front());
            items_.pop_front();
            lock.unlock();
            item();
        }
        lock.lock();
    }
}

} // namespace platform
