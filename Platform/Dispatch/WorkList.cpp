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
        while (claimed_ || (!stopping_ && items_.empty()))
            mutex_.wait(wakeUp_);
        if (items_.empty())
            break;
        ++running_;
        {
            std::function<void()> item = std::move(items_.front());
            items_.pop_front();
            lock.unlock();
            item();
        }
        lock.lock();
        --running_;
    }
}

bool WorkList::claimIfIdle()
{
    MutexLock lock(mutex_);
    if (claimed_ || running_ != 0 || !items_.empty())
        return false;
    claimed_ = true;
    return true;
}

void WorkList::releaseClaim()
{
    bool held;
    {
        MutexLock lock(mutex_);
        claimed_ = false;
        held = !items_.empty() || stopping_;
    }
    // Every thread may have been held back by the claim, but only from items pushed or a stop
    // asked for during it. A claim that left nothing behind (a keystroke written by an idle
    // writer) wakes no thread: the wake-up would only find the list empty again, and on a busy
    // machine it takes a processor from whoever needs one.
    if (held)
        wakeUp_.notify_all();
}

} // namespace platform
