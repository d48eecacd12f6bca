#include "Platform/Dispatch/ThreadRegistry.h"

#include <optional>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

thread_local std::optional<std::string> fullNameOfThisThread;

} // namespace

void setCurrentThreadName(std::string_view fullName)
{
    fullNameOfThisThread = std::string(fullName);
    // The kernel refuses names of 16 bytes or more; keep the leading part.
    std::string kernelName(fullName.substr(0, 15));
    pthread_setname_np(pthread_self(), kernelName.c_str());
}

std::string currentThreadName()
{
    if (fullNameOfThisThread)
        return *fullNameOfThisThread;
    char name[16] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0)
        return {};
    return name;
}

bool isMainThread()
{
    return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

} // namespace platform
