// The main queue: work posted from any thread to run on the application's main thread.
//
// One instance serves the whole process; the host installs it before anything posts (the
// application a GLib-backed queue on the default main context, tests and hosts without GLib a
// `ManualMainLoop`). Each backend is bound to the thread that created it, which is the main thread
// as far as the queue is concerned. Posting with no queue installed is a broken set-up and stops
// the program, since the work would otherwise vanish.
#pragma once

#include "Platform/Dispatch/DispatchQueue.h"

#include <functional>
#include <memory>
#include <thread>

namespace platform {

class MainQueue : public DispatchQueue
{
public:
    /// Installs `queue` as the process's main queue, replacing any earlier one; an empty pointer
    /// uninstalls it. Work already posted to a replaced queue stays with that queue.
    static void install(std::shared_ptr<MainQueue> queue);
    /// The installed main queue; stops the program when none is installed.
    static std::shared_ptr<MainQueue> shared();
    /// The installed main queue, or an empty pointer.
    static std::shared_ptr<MainQueue> installed();

    /// Posts `work` to the main queue; waits for it to run unless called on the main thread, where
    /// waiting would never end and the program stops instead.
    void sync(std::function<void()> work) override;
    /// True on the thread that created this queue.
    bool isCurrent() const override;

protected:
    MainQueue();

private:
    std::thread::id mainThread_;
};

} // namespace platform
