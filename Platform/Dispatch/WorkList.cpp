#include "Platform/Dispatch/WorkList.h"

namespace platform {

void WorkList::push(std::function<void()> work)
{
    {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(work));
    }
    wakeUp_.notify_one();
}

void WorkList::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_all();
}

void WorkList::runUntilStopped()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wakeUp_.wait(lock, [&] { return stopping_ || !items_.empty(); });
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
