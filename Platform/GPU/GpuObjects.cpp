#include "Platform/GPU/GpuObjects.h"

namespace platform::gpu {

void ReleaseQueue::push(ObjectKind kind, uint64_t name)
{
    MutexLock guard(mutex_);
    names_.emplace_back(kind, name);
}

std::vector<std::pair<ObjectKind, uint64_t>> ReleaseQueue::take()
{
    MutexLock guard(mutex_);
    return std::exchange(names_, {});
}

Object::~Object()
{
    if (name_ != 0)
        queue_->push(kind_, name_);
}

} // namespace platform::gpu
